#ifndef PLANFILE_H
#define PLANFILE_H

#include "fleetplan.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// A stored plan is JSON (PLAN) beside a key file (PLAN.key, readable by its owner only). The
// plan keeps what each unit held when it was read; a password or token is kept only as an
// HMAC-SHA256 under the key, which gives nothing back without the key file (a plain hash of a
// ten-digit token would be reversed by trying them all) and still lets the holder of both tell
// whether a unit holds what the plan saw.

QString newPlanId();
QByteArray newSealKey();
QString planKeyPath(const QString &planPath);

// "hmac-sha256:HEX", bound to the plan, the unit and the key, so that two units with one token
// do not show it by equal texts.
QString sealedValue(const QByteArray &sealKey, const QString &planId, const QString &unitName, const QString &key,
                    const QString &value);

// {"path", "sha256"}.
QJsonObject sourceJson(const PlanSource &source);

// Stores the key file first, owner-only, then the plan. False with the reason.
bool savePlan(const QString &path, const QJsonObject &plan, const QByteArray &sealKey, QString &error);

#endif // PLANFILE_H
