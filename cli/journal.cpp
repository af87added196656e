#include "journal.h"

#include "filelock.h"

#include <QFile>
#include <QJsonDocument>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#endif

namespace {

// What QFile::flush() handed to the system, on the disk: a reservation line is the record of
// where an address went, and the profile moves past the address right after it.
bool syncToDisk(QFile &file)
{
#if defined(Q_OS_UNIX)
    return ::fsync(file.handle()) == 0;
#elif defined(Q_OS_WIN)
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    Q_UNUSED(file)
    return true;
#endif
}

} // namespace

bool Journal::check(QString &error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = QStringLiteral("cannot write the journal %1: %2").arg(path, file.errorString());
        return false;
    }
    // A lock another station holds now says its folder takes one.
    FileLock lock(path);
    if (lock.acquire(0, nullptr) || lock.isHeldElsewhere())
        return true;
    error = QStringLiteral("cannot write the journal %1: %2").arg(path, lock.failure());
    return false;
}

bool Journal::append(const QJsonObject &entry, QString &error) const
{
    FileLock lock(path);
    if (!lock.acquire(lockWaitMs, waiting)) {
        error = QStringLiteral("cannot lock the journal %1: %2").arg(path, lock.failure());
        return false;
    }
    return appendHeld(entry, false, error);
}

bool Journal::appendHeld(const QJsonObject &entry, bool durable, QString &error) const
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    // Unbuffered: a line the disk took only in part is cut off again below, which a write
    // buffer still holding its rest would refuse.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("cannot write the journal %1: %2").arg(path, file.errorString());
        return false;
    }
    const qint64 before = file.size();
    if (file.write(line) == line.size() && (!durable || syncToDisk(file)))
        return true;
    error = QStringLiteral("cannot write the journal %1: %2")
                .arg(path, file.error() != QFileDevice::NoError ? file.errorString()
                                                                : QStringLiteral("the disk took only part of the line"));
    // A part of a line would run into the next line written once there is room again.
    file.resize(before);
    return false;
}
