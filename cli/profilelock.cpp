#include "profilelock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QThread>

ProfileLock::ProfileLock(const QString &profilePath)
    : lockPath(profilePath + QStringLiteral(".lock")), lock(lockPath)
{
    lock.setStaleLockTime(StaleMs);
}

bool ProfileLock::acquire(int waitMs, const std::function<void(const QString &)> &waiting)
{
    timeoutMs = waitMs;
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    // Qt's own wait sleeps 100 ms and longer between tries; a hold is a few milliseconds.
    for (;;) {
        if (tryLockNow(lock))
            return true;
        const qint64 waited = clock.elapsed();
        if (lock.error() != QLockFile::LockFailedError || waited >= timeoutMs)
            return false;
        if (!told && waited >= NoticeMs && waiting) {
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
    QString text = QStringLiteral("%1 is still held by %2 after %3 s").arg(lockPath, who).arg(timeoutMs / 1000);
    if (elsewhere)
        text += QStringLiteral(" (another computer's lock counts as left over after %1 minutes; if no "
                               "station runs there, delete the file)").arg(StaleMs / 60000);
    return text;
}

bool ProfileLock::isThisHost(const QString &host)
{
    // Host names know no case; and on Windows a lock names the computer as Windows does (its
    // NetBIOS name, in capitals), which the DNS host name need not match.
    if (host.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) == 0)
        return true;
#ifdef Q_OS_WIN
    return host.compare(QString::fromLocal8Bit(qgetenv("COMPUTERNAME")), Qt::CaseInsensitive) == 0;
#else
    return false;
#endif
}

bool ProfileLock::tryLockNow(QLockFile &lock)
{
    if (lock.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program) || pid != QCoreApplication::applicationPid()
        || !isThisHost(host))
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

QString ProfileLock::holder(bool *elsewhere) const
{
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program))
        return QStringLiteral("another program");
    *elsewhere = !host.isEmpty() && !isThisHost(host);
    return QStringLiteral("%1 (pid %2) on %3").arg(program.isEmpty() ? QStringLiteral("a program") : program)
        .arg(pid)
        .arg(host.isEmpty() ? QStringLiteral("an unnamed host") : host);
}
