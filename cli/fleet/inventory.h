#ifndef INVENTORY_H
#define INVENTORY_H

#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

struct Invocation;

// The units of a fleet as a service centre keeps them: a CSV file with a header row, one row
// per unit, saved by a spreadsheet (`,` or, in a Russian locale, `;`; with or without a byte
// order mark; CR LF or LF) or written by hand.

struct InventoryRow {
    int line = 0;           // where the row begins in the file, from 1
    QString name;           // the `name` cell, or the host or serial text
    // The channel: host and port as --host reads them (hostText as given), or a serial port.
    QString hostText;
    QString host;
    quint16 port = 0;
    QString serial;
    QString profile;        // the row's own profile as given, relative to the inventory's folder
    QHash<QString, QString> values; // profile keys given by a non-empty cell
    QStringList cells;      // every cell as given, for an inventory of the units still to do

    // "tcp:HOST:PORT" or "serial:NAME", as the journal names a channel.
    QString channelName() const;
    // "line 4 (shop-12)", as a refusal names the row.
    QString label() const;
    // The invocation with this row's channel in place of its own.
    Invocation withChannel(const Invocation &invocation) const;
};

struct Inventory {
    QChar delimiter = QLatin1Char(',');
    QStringList columns;        // the header's names as given
    QStringList ignoredColumns; // neither a column of the inventory nor a profile key
    QList<InventoryRow> rows;
};

// Reads the file's bytes. False, with the reason ("line 3: ..."), when the file is not UTF-8,
// its quoting is broken, a row's cell count differs from the header's, a column name differs
// from a known one only in letter case or stands twice, a row gives both or neither of host
// and serial or a host --host would refuse, or two rows share a name or reach one unit.
bool readInventory(const QByteArray &bytes, Inventory &inventory, QString &error);

// One record as readInventory() reads it back: the cells joined by the delimiter, each in quotes
// when it holds the delimiter, a quote, a line break or surrounding spaces, or starts with '#';
// CR LF at the end, as a spreadsheet saves it.
QByteArray inventoryRecord(const QStringList &cells, QChar delimiter);

#endif // INVENTORY_H
