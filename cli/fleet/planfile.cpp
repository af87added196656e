#include "planfile.h"

#include <QFile>
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
