#ifndef FLEETPLAN_H
#define FLEETPLAN_H

#include "inventory.h"
#include "profile.h"
#include "unitsession.h"
#include "valuerules.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A file a fleet's plan is made from, as it was read.
struct PlanSource {
    QString path;           // absolute
    QByteArray sha256;      // of its bytes
};

// One unit of the fleet and what it is to hold.
struct PlannedUnit {
    InventoryRow row;
    QList<WriteGroup> groups;   // its planned groups, in write-all order
    Profile planned;            // their values as a read shows them
    WriteRecords records;       // and as they go out
};

struct FleetPlan {
    PlanSource inventoryFile;
    PlanSource profileFile;     // PROFILE; an empty path when none is given
    QList<PlanSource> rowProfiles; // the rows' own profiles, each once
    Inventory inventory;
    QList<WriteGroup> groups;   // every group any unit has planned, in write-all order
    QList<PlannedUnit> units;   // in inventory order
};

// What is planned before any unit is contacted: the inventory and the profiles read, the
// groups chosen (those any key of PROFILE, of a row's profile or of a non-empty cell belongs to,
// narrowed by `only`; the MAC only for the rows whose cell gives EthMAC), every unit's values
// checked as write checks them, and no two units given one EthMAC, one CashDeskID or one static
// EthIP. False with the reason (exit 2). `notices` get what the engineer should know once: the
// columns ignored, a profile's EthMAC and IncrementMac left aside.
bool makeFleetPlan(const QString &profilePath, const QString &inventoryPath, const QList<WriteGroup> &only,
                   FleetPlan &plan, QStringList &notices, QString &error);

// The read groups that show these groups' values, in the unit's read order.
QList<ReadGroup> readsOf(const QList<WriteGroup> &groups);

// The keys of the planned groups whose values a unit holds (`held`) other than planned, in
// write-all order and each group's key order, with their group.
struct PlannedChange {
    WriteGroup group;
    QString key;
};
QList<PlannedChange> plannedChanges(const PlannedUnit &unit, const Profile &held);

// Why a unit reached over TCP at its own EthIP must be left alone: the plan changes its
// EthIP, EthMask, Gateway or UseDHCP and it may drop off the address it is reached at. Empty
// when it may be changed over the network.
QString blockedReason(const PlannedUnit &unit, const Profile &held);

#endif // FLEETPLAN_H
