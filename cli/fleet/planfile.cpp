#include "planfile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSaveFile>

namespace {

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    QRandomGenerator *random = QRandomGenerator::system();
    for (char &byte : bytes)
        byte = char(random->bounded(256));
    return bytes;
}

} // namespace

QString newPlanId()
{
    return QString::fromLatin1(randomBytes(16).toHex());
}

QByteArray newSealKey()
{
    return randomBytes(32);
}

QString planKeyPath(const QString &planPath)
{
    return planPath + QStringLiteral(".key");
}

QString sealedValue(const QByteArray &sealKey, const QString &planId, const QString &unitName, const QString &key,
                    const QString &value)
{
    QMessageAuthenticationCode code(QCryptographicHash::Sha256, sealKey);
    for (const QString &part : {planId, unitName, key, value}) {
        const QByteArray bytes = part.toUtf8();
        // Each part with its length, so that no two lists of parts read as one.
        code.addData(QByteArray::number(bytes.size()) + ':' + bytes);
    }
    return QStringLiteral("hmac-sha256:") + QString::fromLatin1(code.result().toHex());
}

QJsonObject sourceJson(const PlanSource &source)
{
    return QJsonObject{{QStringLiteral("path"), source.path},
                       {QStringLiteral("sha256"), QString::fromLatin1(source.sha256.toHex())}};
}

bool savePlan(const QString &path, const QJsonObject &plan, const QByteArray &sealKey, QString &error)
{
    const QString keyPath = planKeyPath(path);
    QFile key(keyPath);
    // Owner-only before the key is in it.
    if (!key.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !key.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || key.write(sealKey.toHex() + '\n') != sealKey.size() * 2 + 1 || !key.flush()) {
        error = QStringLiteral("cannot write %1").arg(keyPath);
        return false;
    }
    key.close();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(plan).toJson()) < 0 || !file.commit()) {
        error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

namespace {

bool sourceFrom(const QJsonValue &value, PlanSource &source)
{
    const QJsonObject object = value.toObject();
    source.path = object.value(QStringLiteral("path")).toString();
    source.sha256 = QByteArray::fromHex(object.value(QStringLiteral("sha256")).toString().toLatin1());
    return !source.path.isEmpty() && source.sha256.size() == 32;
}

} // namespace

bool loadPlan(const QString &path, StoredPlan &plan, QString &error)
{
    plan = StoredPlan();
    QFile file(path);
    QFile key(planKeyPath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the plan %1").arg(path);
        return false;
    }
    if (!key.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the plan's key %1").arg(planKeyPath(path));
        return false;
    }
    plan.sealKey = QByteArray::fromHex(key.readAll().trimmed());
    QJsonParseError parsed;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll(), &parsed).object();
    plan.id = object.value(QStringLiteral("plan")).toString();
    bool ok = parsed.error == QJsonParseError::NoError && !plan.id.isEmpty() && plan.sealKey.size() == 32
        && sourceFrom(object.value(QStringLiteral("inventory")), plan.inventory)
        && (object.value(QStringLiteral("profile")).isNull()
            || sourceFrom(object.value(QStringLiteral("profile")), plan.profile));
    for (const QJsonValue &value : object.value(QStringLiteral("rowProfiles")).toArray()) {
        PlanSource source;
        ok = ok && sourceFrom(value, source);
        plan.rowProfiles << source;
    }
    const QJsonArray only = object.value(QStringLiteral("only")).toArray();
    for (WriteGroup group : writeAllOrder()) {
        if (only.contains(writeGroupName(group)))
            plan.only << group;
    }
    for (const QJsonValue &value : object.value(QStringLiteral("units")).toArray()) {
        const QJsonObject unit = value.toObject();
        const QString name = unit.value(QStringLiteral("name")).toString();
        ok = ok && !name.isEmpty();
        plan.units.insert(name, {unit.value(QStringLiteral("state")).toString(),
                                 unit.value(QStringLiteral("held")).toObject()});
    }
    if (!ok || plan.only.isEmpty()) {
        error = QStringLiteral("%1 is not a plan made by tallyctl plan -o").arg(path);
        return false;
    }
    return true;
}
