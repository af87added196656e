#include "journal.h"

#include "profilelock.h"

#include <QFile>
#include <QJsonDocument>
#include <QLockFile>

bool Journal::check(QString &error) const
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    error = QStringLiteral("cannot write the journal %1: %2").arg(path, file.errorString());
    return false;
}

bool Journal::append(const QJsonObject &entry, QString &error) const
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!ProfileLock::tryLockNow(lock) && !lock.lock()) {
        error = QStringLiteral("cannot lock the journal %1").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size()
        || !file.flush()) {
        error = QStringLiteral("cannot write the journal %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
