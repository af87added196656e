#ifndef TALLYCTL_H
#define TALLYCTL_H

#include "commandline.h"
#include "devicelink.h"
#include "exchangelog.h"
#include "journal.h"
#include "profile.h"
#include "valuerules.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class ProfileLock;

// One run of the command-line configurator: the command asked for, against one unit (or, with
// write --series, one unit after another), each unit's outcome reported on stdout/stderr and
// in the journal. The link is opened per unit and closed whatever happens.
class Tallyctl
{
public:
    Tallyctl(const Invocation &invocation, const QElapsedTimer &clock);

    int run();

private:
    // What became of one unit.
    struct Outcome {
        int exitCode = ExitOk;
        QString message;        // the window's text for the failure; a line per key for --verify
        QString cause;          // what the line showed, when the unit failed
        QStringList groups;     // the groups written (or read) before any failure
        QString mac;            // read; of a write, the MAC sent (its frame went out), or empty
        QString cashDeskId;
        bool isWrite = false;       // a write: what became of its MAC is part of the record
        bool macReserved = false;   // the MAC came from the profile, which holds the next one now
        bool macConfirmed = false;  // the unit confirmed the MAC frame
        bool macVerifying = false;  // --verify: the unit is read back
        bool macVerified = false;   // the unit was seen to hold the MAC sent
        bool macNotStored = false;  // the next MAC could not be stored, so this one was not sent
        bool rangeUsedUp = false;   // the unit took the profile's LastMAC, the range's end
        bool journalFailed = false; // a journal line of the unit could not be written

        // exit, message (one line), groups, mac and cashDeskId (null when none); for a write
        // also macConfirmed and macVerified (null when no MAC was sent, macVerified too
        // without --verify).
        QJsonObject toJson() const;
        // "confirmed", "sent, not confirmed", "confirmed, verified", ...
        QString macState() const;
    };

    int listPorts();
    int read();
    int write();
    int test();
    int reset();

    // `unit` counts the units of a series from 1; 0 for a write of one unit.
    Outcome writeUnit(int unit);
    struct HeldLocks;
    // The journal's lock (with --journal), then the profile's: the one order in which a station
    // takes them, so that none waits for a lock while it holds the profile's. Each is waited for
    // as --lock-timeout allows; on failure `outcome` says why. Held while `locks` lasts.
    bool takeLocks(HeldLocks &locks, Outcome &outcome);
    bool takeLock(ProfileLock &lock, Outcome &outcome);
    // Takes the MAC for the unit from the profile as it is now, right before its frame goes
    // out: under the journal's lock and then the profile's, the file's EthMAC is checked again,
    // put on record in the journal and the next address stored. False, with the unit failed,
    // when it cannot be.
    bool reserveMac(int unit, WriteRecords &records, Outcome &outcome);
    void verifyUnit(const Profile &sent, Outcome &outcome);
    bool openChannel(Outcome &outcome);
    // The unit is done: link closed, its journal line written. A line that cannot be written
    // fails the unit (exit 1, unless it failed otherwise already): the journal is the record of
    // which MAC went to which unit.
    void recordUnit(Outcome &outcome);
    // The unit's failure on stderr. Returns its exit code.
    int reportUnit(const Outcome &outcome);
    void printSummary(int unit, const Outcome &outcome);

    const Invocation &invocation;
    ExchangeLog exchangeLog;
    Journal journal;
    DeviceLink link;
    // The profile of a write as the system finds it whatever name reached it (links resolved),
    // read, locked and saved by that path; and the profile's name as the engineer knows it.
    QString profilePath;
    QString profileShown;
};

#endif // TALLYCTL_H
