#ifndef PLANFILE_H
#define PLANFILE_H

#include "fleetplan.h"

#include <QByteArray>
#include <QHash>
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

// A stored plan as apply takes it up again.
struct StoredUnit {
    QString state;          // as plan found the unit
    QJsonObject held;       // per group, per key: what it held then (secrets sealed)
};
struct StoredPlan {
    QString id;
    QByteArray sealKey;
    PlanSource profile;     // an empty path when the plan had no PROFILE
    PlanSource inventory;
    QList<PlanSource> rowProfiles;
    QList<WriteGroup> only;
    QHash<QString, StoredUnit> units;   // by name
};

// Reads PLAN and PLAN.key. False with the reason when either cannot be read or is not a plan.
bool loadPlan(const QString &path, StoredPlan &plan, QString &error);

#endif // PLANFILE_H
