#include "filelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

bool isThisHost(const QString &host)
{
    // Host names know no case; and on Windows a lock names the computer as Windows does (its
    // NetBIOS name, in capitals), which the DNS host name need not match.
    if (host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return true;
#ifdef Q_OS_WIN
    return host.compare(QString::fromLocal8Bit(qgetenv("COMPUTERNAME")), Qt::CaseInsensitive) == 0;
#else
    return false;
#endif
}

} // namespace

FileLock::FileLock(const QString &filePath, const QString &shownPath, int staleMs)
    : lockPath(filePath + QStringLiteral(".lock")),
      shownLockPath((shownPath.isEmpty() ? filePath : shownPath) + QStringLiteral(".lock")),
      lock(lockPath)
{
    lock.setStaleLockTime(staleMs);
}

bool FileLock::acquire(int waitMs, const Notice &waiting)
{
    timeoutMs = waitMs;
    emptyFor.invalidate();
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    // Qt's own wait sleeps 100 ms and longer between tries; a hold is a few milliseconds.
    for (;;) {
        if (tryLockNow())
            return true;
        if (lock.error() != QLockFile::LockFailedError)
            return false;
        const Found what = found();
        // A folder of the lock's name stays what it is however long one waits.
        if (what == Found::Folder)
            return false;
        if (what == Found::Holder)
            emptyFor.invalidate();
        else if (!emptyFor.isValid())
            emptyFor.start();
        else if (emptyFor.elapsed() >= EmptyMs && lock.removeStaleLockFile() && tryLockNow())
            return true;
        const qint64 waited = clock.elapsed();
        if (timeoutMs != Forever && waited >= timeoutMs)
            return false;
        if (!told && waited >= NoticeMs && waiting) {
            told = true;
            if (what == Found::Holder) {
                bool elsewhere = false;
                const QString who = holder(&elsewhere);
                waiting(QStringLiteral("%1 is held by %2; waiting up to %3 s").arg(shownLockPath, who).arg(timeoutMs / 1000));
            } else {
                waiting(leftOverText(what) + QStringLiteral("it is taken over once it has stayed so for %1 s; "
                                                            "waiting up to %2 s")
                                                 .arg(EmptyMs / 1000)
                                                 .arg(timeoutMs / 1000));
            }
        }
        QThread::msleep(PollMs);
    }
}

QString FileLock::failure() const
{
    switch (lock.error()) {
    case QLockFile::NoError:
        return QString();
    case QLockFile::PermissionError:
        return QStringLiteral("cannot create the lock file %1: no permission in its folder").arg(shownLockPath);
    case QLockFile::UnknownError:
        return QStringLiteral("cannot create the lock file %1").arg(shownLockPath);
    case QLockFile::LockFailedError:
        break;
    }
    const Found what = found();
    if (what == Found::Folder)
        return QStringLiteral("%1 is a folder, not a lock file: remove or rename it").arg(shownLockPath);
    if (what != Found::Holder) {
        const QString text = leftOverText(what);
        if (timeoutMs < EmptyMs)
            return text + QStringLiteral("it is taken over once it has stayed so for %1 s, longer than the wait "
                                         "of %2 s").arg(EmptyMs / 1000).arg(timeoutMs / 1000);
        return text + QStringLiteral("it cannot be removed: delete it by hand");
    }
    bool elsewhere = false;
    const QString who = holder(&elsewhere);
    QString text = QStringLiteral("%1 is still held by %2 after %3 s").arg(shownLockPath, who).arg(timeoutMs / 1000);
    if (elsewhere)
        text += QStringLiteral(" (another computer's lock counts as left over after %1 minutes; if no "
                               "station runs there, delete the file)").arg(lock.staleLockTime() / 60000);
    return text;
}

QString FileLock::leftOverText(Found what) const
{
    return QStringLiteral("%1 %2, as a program that stops while creating it leaves it; ")
        .arg(shownLockPath, what == Found::Empty ? QStringLiteral("is empty") : QStringLiteral("cannot be read"));
}

bool FileLock::isHeldElsewhere() const
{
    return lock.error() == QLockFile::LockFailedError && found() != Found::Folder;
}

int FileLock::nameCount(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        return int(status.st_nlink);
#elif defined(Q_OS_WIN)
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information;
        const bool known = GetFileInformationByHandle(file, &information);
        CloseHandle(file);
        if (known)
            return int(information.nNumberOfLinks);
    }
#else
    Q_UNUSED(path)
#endif
    return 1;
}

bool FileLock::tryLockNow()
{
    if (lock.tryLock(0))
        return true;
    // A lock naming this process that none of its objects holds (the system's lock on a held
    // lock file keeps that from being removed) was left by a process that died and whose id this
    // one got since (Windows, and Wine above all, give ids again soon); QLockFile would take its
    // holder for alive.
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program) || pid != QCoreApplication::applicationPid()
        || !isThisHost(host))
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

FileLock::Found FileLock::found() const
{
    qint64 pid = 0;
    QString host;
    QString program;
    if (lock.getLockInfo(&pid, &host, &program))
        return Found::Holder;
    const QFileInfo file(lockPath);
    if (file.isDir())
        return Found::Folder;
    // Gone meanwhile: the next try takes it.
    if (!file.exists())
        return Found::Holder;
    return file.size() == 0 ? Found::Empty : Found::Unreadable;
}

QString FileLock::holder(bool *elsewhere) const
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
