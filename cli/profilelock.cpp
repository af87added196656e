#include "profilelock.h"

#include <QElapsedTimer>
#include <QSysInfo>
#include <QThread>

ProfileLock::ProfileLock(const QString &profilePath)
    : lockPath(profilePath + QStringLiteral(".lock")), lock(lockPath)
{
    lock.setStaleLockTime(StaleMs);
}

bool ProfileLock::acquire(int timeoutMs, const std::function<void(const QString &)> &waiting)
{
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    // Qt's own wait sleeps 100 ms and longer between tries; a hold is a few milliseconds.
    for (;;) {
        if (lock.tryLock(0))
            return true;
        waitedMs = int(clock.elapsed());
        if (lock.error() != QLockFile::LockFailedError || waitedMs >= timeoutMs)
            return false;
        if (!told && waitedMs >= NoticeMs && waiting) {
            told = true;
            bool elsewhere = false;
            const QString who = holder(&elsewhere);
            waiting(QStringLiteral("%1 is held by %2; waiting up to %3 s").arg(lockPath, who).arg(timeoutMs / 1000));
        }
        QThread::msleep(PollMs);
    }
}

QString ProfileLock::failure() const
{
    switch (lock.error()) {
    case QLockFile::NoError:
        return QString();
    case QLockFile::PermissionError:
        return QStringLiteral("cannot create the lock file %1: no permission in its folder").arg(lockPath);
    case QLockFile::UnknownError:
        return QStringLiteral("cannot create the lock file %1").arg(lockPath);
    case QLockFile::LockFailedError:
        break;
    }
    bool elsewhere = false;
    const QString who = holder(&elsewhere);
    QString text = QStringLiteral("%1 stayed held by %2 for %3 s").arg(lockPath, who).arg(waitedMs / 1000.0, 0, 'f', 1);
    if (elsewhere)
        text += QStringLiteral(" (another computer's lock counts as left over after %1 minutes; if no "
                               "station runs there, delete the file)").arg(StaleMs / 60000);
    return text;
}

QString ProfileLock::holder(bool *elsewhere) const
{
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program))
        return QStringLiteral("another program");
    *elsewhere = !host.isEmpty() && host != QSysInfo::machineHostName();
    return QStringLiteral("%1 (pid %2) on %3").arg(program.isEmpty() ? QStringLiteral("a program") : program)
        .arg(pid)
        .arg(host.isEmpty() ? QStringLiteral("an unnamed host") : host);
}
