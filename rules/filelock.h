#ifndef FILELOCK_H
#define FILELOCK_H

#include <QElapsedTimer>
#include <QLockFile>
#include <QString>

#include <functional>

// The lock a program holds on a file it changes: FILE.lock, the name QSettings locks too. It
// serves a station taking the next MAC from a profile (so the window's save and tallyctl read -o
// wait for it as well), a station appending a line to its journal, and the save of a settings
// file. Stations that share a profile hold it for the milliseconds of reading, recording and
// storing an address, never while a unit answers, so they write their units side by side. A
// station that needs both a journal's and a profile's takes the journal's first, and never waits
// for a lock while it holds the profile's. How long a caller waits, and after how long another
// computer's lock counts as left over, are the caller's; everything else is the one way.
class FileLock
{
public:
    // A lock whose process is gone is taken over at once when it names this computer. Another
    // computer's process cannot be asked: a station's counts as left over only once it is this
    // old, far beyond any real hold (and beyond the clocks of two PCs drifting apart).
    static constexpr int StaleMs = 5 * 60 * 1000;
    // QSettings's own: a save shares its lock with QSettings's write of the same file.
    static constexpr int SettingsStaleMs = 30 * 1000;
    // A lock file is created empty and gets its holder's line the next moment; one that stays
    // empty (or unreadable) this long was left by a program that stopped in between. Counted
    // from the moment this program first sees it so, not from the file's time, which another
    // computer's clock may have set.
    static constexpr int EmptyMs = 3000;
    // How long a station waits for another one's lock unless --lock-timeout says otherwise.
    static constexpr int DefaultTimeoutSeconds = 30;
    // Past a day a wait is no other station taking an address but a line that has stopped.
    static constexpr int MaxTimeoutSeconds = 24 * 60 * 60;
    // A hold longer than this is no station taking an address: the waiting one says who it is.
    static constexpr int NoticeMs = 2000;
    // Holds last milliseconds; a waiting program looks again this often.
    static constexpr int PollMs = 5;
    // A wait with no end, as a save of the settings waits.
    static constexpr int Forever = -1;

    using Notice = std::function<void(const QString &notice)>;

    // The lock of `filePath` (filePath + ".lock"), named `shownPath` + ".lock" in what is said,
    // when given.
    explicit FileLock(const QString &filePath, const QString &shownPath = QString(), int staleMs = StaleMs);

    // Takes the lock within `waitMs` (0: one try; Forever). A caller still waiting after NoticeMs
    // hears once through `waiting` who holds the lock. The lock goes with this object.
    bool acquire(int waitMs, const Notice &waiting = nullptr);
    // Why acquire() failed, in a sentence that names the holder.
    QString failure() const;
    // After a failed acquire(): whether another program holds the lock (rather than the lock
    // file being impossible to create, or a folder of its name being in the way).
    bool isHeldElsewhere() const;

    // How many names (hard links) the file has; 1 where the system does not tell. Two stations
    // that reach one file by two such names would lock two different lock files.
    static int nameCount(const QString &path);

private:
    enum class Found { Holder, Empty, Unreadable, Folder };
    // One try, as QLockFile::tryLock(0), that also takes over a lock naming this very process.
    bool tryLockNow();
    Found found() const;
    // The start of what is said of a lock found empty or unreadable.
    QString leftOverText(Found what) const;
    QString holder(bool *elsewhere) const;

    QString lockPath;
    QString shownLockPath;
    QLockFile lock;
    int timeoutMs = 0;
    QElapsedTimer emptyFor;    // since this program first saw the lock without a holder
};

#endif // FILELOCK_H
