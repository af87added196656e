#ifndef JOURNAL_H
#define JOURNAL_H

#include "filelock.h"

#include <QJsonObject>
#include <QString>

// The provisioning record: one JSON object per line and unit, appended. Several tallyctl
// processes (units on several ports at once) may share one file: each line goes in whole under
// a lock file beside it, in a single write to a file opened for appending, or not at all.
class Journal
{
public:
    // The journal's lock is waited for up to `lockWaitMs`, `waiting` told after a while as for
    // the profile's lock.
    explicit Journal(const QString &path = QString(), int lockWaitMs = 0, const FileLock::Notice &waiting = nullptr)
        : path(path), lockWaitMs(lockWaitMs), waiting(waiting)
    {
    }

    bool isEnabled() const { return !path.isEmpty(); }
    const QString &filePath() const { return path; }
    // Whether a line can be appended, checked before any unit is touched: the file opens for
    // appending and its lock file can be created beside it.
    bool check(QString &error) const;
    // Appends under the journal's lock.
    bool append(const QJsonObject &entry, QString &error) const;
    // Appends for a caller that holds the journal's lock (a FileLock of filePath()).
    // `durable`: on the disk itself before it returns, not only handed to the system.
    bool appendHeld(const QJsonObject &entry, bool durable, QString &error) const;

private:
    QString path;
    int lockWaitMs = 0;
    FileLock::Notice waiting;
};

#endif // JOURNAL_H
