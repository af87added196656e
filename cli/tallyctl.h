#ifndef TALLYCTL_H
#define TALLYCTL_H

#include "commandline.h"
#include "devicelink.h"
#include "exchangelog.h"
#include "journal.h"
#include "outcome.h"
#include "profile.h"
#include "valuerules.h"

#include <QElapsedTimer>
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
