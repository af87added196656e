#ifndef TALLYCTL_H
#define TALLYCTL_H

#include "commandline.h"
#include "devicelink.h"
#include "exchangelog.h"
#include "journal.h"
#include "profile.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>

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
        QString mac;            // written or read, when there was one
        QString cashDeskId;
        bool macNotStored = false;  // the unit took the MAC, but the next one is not in PROFILE
        bool rangeUsedUp = false;   // the unit took the profile's LastMAC, the range's end
        bool journalFailed = false; // the unit's journal line could not be written

        // exit, message (one line), groups, mac and cashDeskId (null when none).
        QJsonObject toJson() const;
    };

    int listPorts();
    int read();
    int write();
    int test();
    int reset();

    Outcome writeUnit();
    void verifyUnit(const Profile &sent, Outcome &outcome, bool &macVerified);
    bool openChannel(Outcome &outcome);
    // The unit is done: link closed, its journal line written. A line that cannot be written
    // fails the unit (exit 1, unless it failed otherwise already): the journal is the record of
    // which MAC went to which unit.
    void recordUnit(Outcome &outcome);
    // The unit's failure on stderr. Returns its exit code.
    int reportUnit(const Outcome &outcome);
    void storeNextMac(const QString &written, Outcome &outcome);
    void printSummary(int unit, const Outcome &outcome);

    const Invocation &invocation;
    ExchangeLog exchangeLog;
    Journal journal;
    DeviceLink link;
};

#endif // TALLYCTL_H
