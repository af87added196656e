#ifndef PROFILELOCK_H
#define PROFILELOCK_H

#include <QElapsedTimer>
#include <QLockFile>
#include <QString>

#include <functional>

// The lock a station holds on a file it changes: PROFILE.lock while it takes the next MAC from a
// profile (the file QSettings locks too, so the window's save and tallyctl read -o wait for it as
// well), JOURNAL.lock while it appends a line. Stations that share a profile hold it for the
// milliseconds of reading, recording and storing an address, never while a unit answers, so they
// write their units side by side. A station that needs both takes the journal's first, and never
// waits for a lock while it holds the profile's.
class ProfileLock
{
public:
    // A lock whose process is gone is taken over at once when it names this computer. Another
    // computer's process cannot be asked: its lock counts as left over only once it is this
    // old, far beyond any real hold (and beyond the clocks of two PCs drifting apart).
    static constexpr int StaleMs = 5 * 60 * 1000;
    // A lock file is created empty and gets its holder's line the next moment; one that stays
    // empty (or unreadable) this long was left by a program that stopped in between. Counted
    // from the moment this station first sees it so, not from the file's time, which another
    // computer's clock may have set.
    static constexpr int EmptyMs = 3000;
    // How long a station waits for another one's lock unless --lock-timeout says otherwise.
    static constexpr int DefaultTimeoutSeconds = 30;
    // Past a day a wait is no other station taking an address but a line that has stopped.
    static constexpr int MaxTimeoutSeconds = 24 * 60 * 60;
    // A hold longer than this is no station taking an address: the waiting one says who it is.
    static constexpr int NoticeMs = 2000;
    // Holds last milliseconds; a waiting station looks again this often.
    static constexpr int PollMs = 5;

    // The lock of `filePath` (filePath + ".lock"), named `shownPath` + ".lock" in what the
    // station says, when given.
    explicit ProfileLock(const QString &filePath, const QString &shownPath = QString());

    // Takes the lock within `waitMs` (0: one try). A station still waiting after NoticeMs
    // hears once through `waiting` who holds the lock. The lock goes with this object.
    bool acquire(int waitMs, const std::function<void(const QString &notice)> &waiting);
    // Why acquire() failed, in a sentence that names the holder.
    QString failure() const;
    // After a failed acquire(): whether another program holds the lock (rather than the lock
    // file being impossible to create, or a folder of its name being in the way).
    bool isHeldElsewhere() const;

    // How many names (hard links) the file has; 1 where the system does not tell. Two stations
    // that reach one file by two such names would lock two different lock files.
    static int nameCount(const QString &path);

    // One try at `lock`, as QLockFile::tryLock(0), that also takes over a lock naming this very
    // process: it holds none while it waits for one, so that lock was left by a process that died
    // and whose id this one got since (Windows, and Wine above all, give ids again soon), and
    // QLockFile would take the holder for alive.
    static bool tryLockNow(QLockFile &lock);
    static bool isThisHost(const QString &host);

private:
    enum class Found { Holder, Empty, Unreadable, Folder };
    Found found() const;
    // The start of what is said of a lock found empty or unreadable.
    QString leftOverText(Found what) const;
    QString holder(bool *elsewhere) const;

    QString lockPath;
    QString shownLockPath;
    QLockFile lock;
    int timeoutMs = 0;
    QElapsedTimer emptyFor;    // since this station first saw the lock without a holder
};

#endif // PROFILELOCK_H
