#ifndef UNITSESSION_H
#define UNITSESSION_H

#include "profile.h"
#include "valuerules.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DeviceLink;

// The exchanges both front ends run over an open link, with the window's message for the step
// that fails. Each stops at its first failure; what went before stays done.

// The parameter groups a read fetches. Read-all takes them in the unit's order: time-outs,
// server address, Ethernet, cash desk state, channel priority, GPRS.
enum class ReadGroup { Timeouts, ServerAddress, Ethernet, CashDeskState, ChannelPriority, Gprs };

const QList<ReadGroup> &readAllOrder();
// The group's name on the command line (timeouts, server, ethernet, cashdesk, priority, gprs).
QString readGroupName(ReadGroup group);
// The profile keys a read of the group fills.
QStringList readGroupKeys(ReadGroup group);
// The group a read shows a written group's values in.
ReadGroup readGroupOf(WriteGroup group);

// Reads the groups in the order given into the profile. `arrived` runs as soon as a group's
// values are in, so a front end can show them before the next group is asked for. Returns the
// message of the group that failed, or an empty text.
QString readGroups(DeviceLink &link, const QList<ReadGroup> &groups, Profile &profile,
                   const std::function<void(ReadGroup)> &arrived = nullptr);

// Runs right before a group goes out and may still fill its record (the command line takes the
// MAC from the shared profile only then). An empty text lets the group go; any other text
// stops the write there, the group unsent.
using GroupPreparation = std::function<QString(WriteGroup, WriteRecords &)>;

// Sends the encoded groups in the order given. `confirmed` runs right after each group the
// unit confirms (the window's MAC moves on there). Returns the message of the group the unit
// did not confirm, the text with which `prepare` stopped the write, or an empty text.
QString sendGroups(DeviceLink &link, const QList<WriteGroup> &groups, WriteRecords &records,
                   const std::function<void(WriteGroup)> &confirmed = nullptr,
                   const GroupPreparation &prepare = nullptr);

// What both front ends say when the channel cannot be opened: the serial port by the name the
// engineer chose, the unit's address as typed.
QString portOpenFailureMessage(const QString &port);
QString connectFailureMessage(const QString &host);

// The unit's four tests. Each gives a text as the window shows it in its "Сообщение" box.
enum class UnitTest { UnitStatus, ModemStatus, ServerResponse, SignalLevel };

// The tests by their names on the command line, in its order: unit, modem, server, signal.
QStringList unitTestNames();
// The test of that name, if there is one.
std::optional<UnitTest> findUnitTest(const QString &name);

// Runs the test; on success `text` is the result ("Время ответа: 120мс", "Уровень сигнала:
// ошибка", or the status text, a line per part) and `value` the measured number (-1 when the
// unit could not measure; -1 too for the status texts).
bool runUnitTest(DeviceLink &link, UnitTest test, QString &text, int &value);
// The window's message when the exchange itself fails.
QString unitTestFailureMessage(UnitTest test);

// A data area a reset erases: its name on the command line, its entry in the window's list and
// the kind the unit is sent.
struct ResetKind {
    const char *name;
    const char *title;
    quint8 code;
};

// The reset kinds in the window's order, and their names on the command line.
const QList<ResetKind> &resetKinds();
QStringList resetKindNames();
// The reset kind of that name on the command line; null when there is none.
const ResetKind *findResetKind(const QString &name);

// What the window says after a reset of a data area, and when the reset fails.
QString resetDoneMessage();
QString resetFailureMessage();

#endif // UNITSESSION_H
