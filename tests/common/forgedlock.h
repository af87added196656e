#ifndef FORGEDLOCK_H
#define FORGEDLOCK_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QLockFile>
#include <QString>

// A lock file as QLockFile writes one (pid, program, host, then the machine's and its boot's
// ids, a line each), of `pid`, of tallyctl unless `ownName`, and, when `host` is given, of
// another computer. Made in the working folder, as genuine.lock, then read back; empty when it
// could not be.
inline QByteArray lockFileOf(qint64 pid, const QByteArray &host, bool ownName = false)
{
    const QString path = QStringLiteral("genuine.lock");
    QLockFile genuine(path);
    if (!genuine.tryLock(0))
        return QByteArray();
    QFile file(path);
    QList<QByteArray> lines = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    file.close();
    genuine.unlock();
    if (lines.size() < 3)
        return QByteArray();
    lines[0] = QByteArray::number(pid);
    if (!ownName)
        lines[1] = "tallyctl";
    if (!host.isEmpty()) {
        lines[2] = host;
        for (int i = 3; i < lines.size(); ++i)
            lines[i].fill('0');
    }
    return lines.join('\n');
}

#endif // FORGEDLOCK_H
