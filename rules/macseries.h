#ifndef MACSERIES_H
#define MACSERIES_H

#include "filelock.h"
#include "valuerules.h"

#include <QString>

#include <functional>
#include <optional>

class QSettings;

// What is said of a profile that cannot be read.
QString unreadableProfileText(const QString &name);

// The series of MAC addresses a profile hands out, one unit at a time, to every station that
// shares the file: its EthMAC is the next unit's, its LastMAC (when there) the last the series
// may give. A station takes the address right before its frame goes out, under the profile's lock:
// reads the file again, checks the address, puts it on record and stores the next one, so that
// no address goes to two units however many stations write at once. The messages are English,
// as tallyctl's own are.
class MacSeries
{
public:
    // What became of a handout.
    enum class Result {
        Taken,          // the address is this unit's; the profile holds the next one
        Refused,        // a lock, the file or its address stopped it; the profile is as it was
        NotRecorded,    // the record could not be written; the profile is as it was
        NotStored,      // the next address could not be stored; the record names this one
    };

    struct Handout {
        Result result = Result::Refused;
        Rejection rejection;        // why, unless taken
        QString mac;                // the address handed out, or the one it would have been
        MacRecord record = {};      // its frame's record
        bool last = false;          // it was LastMAC: the range is used up
    };

    // Puts an address on record before the profile moves past it (tallyctl's journal line).
    // Called under the locks; false, with `error`, when it could not.
    using Record = std::function<bool(const QString &mac, QString &error)>;

    // The profile by the name the engineer gave (`name`, used in the messages), whose locks are
    // waited for up to `lockWaitMs`, `waiting` told who holds one after a while.
    MacSeries(const QString &name, int lockWaitMs, const FileLock::Notice &waiting = nullptr);

    // The profile as the system finds it whatever name reached it (links resolved): every name
    // of the file leads to one lock and one file read and saved, and saving by the resolved
    // path leaves a link a link. Empty when there is no such file.
    const QString &path() const { return resolved; }

    // `lockedFile`'s lock is taken before the profile's (tallyctl's journal, whose lines
    // `record` writes); with none, nothing is put on record.
    void setRecord(const QString &lockedFile, const Record &record);

    // Whether the profile can take the next address: one name (no hard link beside it), and
    // writable. Checked before any unit is touched.
    bool checkStorable(Rejection &rejection) const;
    // Waits for the locks a handout takes, and lets them go: another station's hold longer
    // than a handout is waited out before the unit hears anything.
    bool awaitLocks(Rejection &rejection);
    // Hands out the profile's address as the file holds it now.
    Handout take();

    // Where `mac` stands in the series of the profile `settings` (its LastMAC): macPlace().
    static MacPlace place(const QSettings &settings, const QString &mac, bool movesOn, Rejection &rejection);

private:
    // Let go in the reverse order, the profile's first.
    struct Locks {
        std::optional<FileLock> record;
        std::optional<FileLock> profile;
    };
    // The record's lock, then the profile's: the one order in which a station takes them, so
    // that none waits for a lock while it holds the profile's.
    bool lock(Locks &locks, Rejection &rejection);

    QString name;
    QString resolved;
    QString lockShown;      // the profile's name in what the lock says
    int lockWaitMs = 0;
    FileLock::Notice waiting;
    QString recordFile;
    Record record;
};

#endif // MACSERIES_H
