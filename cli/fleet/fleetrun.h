#ifndef FLEETRUN_H
#define FLEETRUN_H

#include "fleetplan.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>

struct Invocation;
class UnitContext;

// Runs `work` for each unit 0 .. count-1, at most `jobs` of them at once, each on a worker
// thread (a unit's link is made, used and closed on that thread: it blocks it while the unit
// answers), and returns when every one has ended. A unit that does not answer holds one worker
// for the protocol's waits only; the others go on.
void runUnits(int count, int jobs, const std::function<void(int unit)> &work);

// Gives `work` a context for the row's unit, made on this thread, whose trace (with --trace)
// waits for the unit's end: units exchanged at once would mix their lines. Returns that trace.
QString onUnit(const Invocation &invocation, const QElapsedTimer &clock, const InventoryRow &row,
               const std::function<void(UnitContext &)> &work);

// How the first look at a unit went: its channel opened and the groups showing the planned ones
// read; or the channel did not open; or the unit answered nothing (neither is reached); or it
// answered, but a read was refused or broke off.
enum class PlannedRead { Read, NotOpened, Silent, Failed };

// Opens the unit's channel and reads what its planned groups hold into `held`, the groups in the
// order they came into `arrived`. The link stays open. Unless Read, `message` says why (the group
// a failed read was for, and what the line showed).
PlannedRead readPlanned(UnitContext &context, const PlannedUnit &unit, Profile &held, QList<ReadGroup> &arrived,
                        QString &message);

// "message (cause)", or the message alone.
QString withCause(const QString &message, const QString &cause);

#endif // FLEETRUN_H
