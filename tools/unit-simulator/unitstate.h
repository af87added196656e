#ifndef UNITSTATE_H
#define UNITSTATE_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

// Everything the simulated unit remembers: the data block it answers each parameter group with,
// the parts of its two status texts (Windows-1251 bytes, one frame each) and what the two
// measuring tests report. Writes change the group blocks in place, so they read back.
struct UnitState
{
    QMap<quint8, QByteArray> groups;           // group number -> response data
    QList<QByteArray> unitStatus;              // parts of the 0x55 text
    QList<QByteArray> modemStatus;             // parts of the 0x56 text
    QMap<quint8, QByteArray> testResponses;    // test number -> response data (result, value)

    // A unit fresh from the bench: time-outs 1000/500/60, a server, APN "internet",
    // Ethernet 192.168.0.100/24 without DHCP, MAC 00-1a-2b-3c-4d-5e, priority "GPRS, Ethernet".
    static UnitState builtIn();

    // Reads a state description on top of the built-in state: a JSON object whose optional
    // fields "timeouts", "server", "gprs", "ethernet", "cashDesk", "priority", "unitStatus",
    // "modemStatus" and "tests" name the settings in the engineer's terms (dotted IPs, MAC
    // text, ten-digit IDs, UTF-8 strings), and "groups" gives raw hex blocks that win over
    // them; jsonFormatHelp() shows every field. Unknown fields are refused. On failure returns
    // false and says why in error, naming the offending field.
    static bool fromJson(const QByteArray &json, UnitState *out, QString *error);
    static bool loadFile(const QString &path, UnitState *out, QString *error);
    static QString jsonFormatHelp();
    // The state as fromJson() reads it back: every group as "groups" hex, every status part as
    // {"hex": ...}, the tests as hex; bytes exactly, whatever they hold.
    QJsonObject toJson() const;

    bool operator==(const UnitState &other) const;
    bool operator!=(const UnitState &other) const { return !(*this == other); }
};

// Helpers shared with the command line and the tests' diagnostics.
QByteArray unitsimFromHex(const QString &text, bool *ok);   // "02 02 07", "020207", "02-02-07"

#endif // UNITSTATE_H
