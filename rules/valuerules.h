#ifndef VALUERULES_H
#define VALUERULES_H

#include "profile.h"
#include "records.h"

#include <QList>
#include <QString>
#include <QStringList>

// The rules that turn a profile's texts into the unit's records and the records back into
// texts. Both front ends call these and only decide how to tell the engineer: the window with
// a box and the focus on the field, the command line with a line naming the key.

const QList<WriteGroup> &writeAllOrder();
// The group's name on the command line (timeouts, token, server, gprs, ethernet, mac,
// priority, cashdesk).
QString writeGroupName(WriteGroup group);
// The profile keys a write of the group sends, in the order they are checked.
QStringList writeGroupKeys(WriteGroup group);
// The window's message when the unit does not confirm the group, and when it confirmed all.
QString writeFailureMessage(WriteGroup group);
QString writeDoneMessage();

// Everything one write sends, filled by the checks and sent unchanged.
struct WriteRecords {
    TimeoutSettings timeouts = {};
    TokenRecord token = {};
    ServerAddress serverAddress = {};
    GprsSettings gprs = {};
    EthernetSettings ethernet = {};
    MacRecord mac = {};
    ChannelPriority priority = {};
    CashDeskIdRecord cashDeskId = {};
};

// The first value that may not go to the unit: its key and the window's message for it.
struct Rejection {
    QString key;
    QString message;
};

// Checks and encodes the groups in the order given, each field in the window's order, and
// stops at the first rejected value. Nothing is sent: that is the caller's next step.
bool encodeGroups(const Profile &profile, const QList<WriteGroup> &groups, WriteRecords &records,
                  Rejection &rejection);

// The texts of what the records of these groups carry, formatted as a read shows them, so that
// what was sent can be compared with what a unit holds.
Profile sentValues(const WriteRecords &records, const QList<WriteGroup> &groups);

// Read side: the fields of each record as the window shows them (IP addresses dotted, the MAC
// as dash-separated hex, BCD numbers as ten digits, strings as UTF-8 up to their end).
void putTimeouts(const TimeoutSettings &record, Profile &profile);
void putServerAddress(const ServerAddress &record, Profile &profile);
void putEthernetSettings(const EthernetSettings &record, Profile &profile);
void putCashDeskState(const CashDeskState &record, Profile &profile);
void putChannelPriority(const ChannelPriority &record, Profile &profile);
void putGprsSettings(const GprsSettings &record, Profile &profile);

// The MAC address after this one (00-1a-2b-3c-4d-ff is followed by 00-1a-2b-3c-4e-00,
// ff-ff-ff-ff-ff-ff by 00-00-00-00-00-00), or false when the text is no MAC address.
bool nextMac(const QString &mac, QString &next);

// Where a MAC address about to be written stands in what a series of units may be given.
enum class MacPlace { Inside, Last, Outside };

// The command line's check of the MAC it writes (the window shows it and writes what it shows).
// A multicast address (lowest bit of the first byte set), 00-00-00-00-00-00 and
// ff-ff-ff-ff-ff-ff are no unit's: Outside. When the series moves on after this address
// (`movesOn`), it stays in the maker's block (the first three bytes): the block's last address
// is Outside, since the address after it would leave the block, unless the profile's LastMAC
// (`hasLastMac`, `lastMac`: the last address the series may give, itself a unit's address)
// allows more; with LastMAC the series is Inside up to it, at its Last there, Outside beyond.
// Outside comes with the rejection (English, for tallyctl). `mac` is one the value rules take.
MacPlace macPlace(const QString &mac, bool movesOn, bool hasLastMac, const QString &lastMac,
                  Rejection &rejection);

#endif // VALUERULES_H
