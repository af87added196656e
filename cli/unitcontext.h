#ifndef UNITCONTEXT_H
#define UNITCONTEXT_H

#include "commandline.h"
#include "devicelink.h"
#include "exchangelog.h"
#include "journal.h"
#include "outcome.h"
#include "valuerules.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

// What every command that talks to a unit shares: the channel as the command line names it,
// the trace, the journal, and the way a unit's outcome is put on record and told. The link is
// opened per unit and closed whatever happens.
class UnitContext
{
public:
    UnitContext(const Invocation &invocation, const QElapsedTimer &clock);

    bool openChannel(Outcome &outcome);
    // The unit did not do what was asked: `message` is the window's text for it, and what the
    // line showed goes with it.
    void failUnit(Outcome &outcome, const QString &message) const;
    // The unit is done: link closed, its journal line written. A line that cannot be written
    // fails the unit (exit 1, unless it failed otherwise already): the journal is the record of
    // which MAC went to which unit.
    void recordUnit(Outcome &outcome);
    // The unit's failure on stderr. Returns its exit code.
    int reportUnit(const Outcome &outcome) const;

    // What a station waiting for another one's lock is told.
    static void lockNotice(const QString &notice);
    // The time of a journal line.
    static QString journalTime();

    const Invocation &invocation;
    ExchangeLog exchangeLog;
    Journal journal;
    DeviceLink link;
};

// A rejected value as tallyctl names it: the key and the window's message.
QString rejectionLine(const Rejection &rejection);
QString withLineEnd(const QString &text);

#endif // UNITCONTEXT_H
