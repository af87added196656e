#include "inventory.h"

#include "commandline.h"
#include "fieldtext.h"
#include "profile.h"

namespace {

const QString hostColumn = QStringLiteral("host");
const QString serialColumn = QStringLiteral("serial");
const QString nameColumn = QStringLiteral("name");
const QString profileColumn = QStringLiteral("profile");

struct Record {
    int line = 0;
    QStringList cells;
};

bool fail(QString &error, int line, const QString &why)
{
    error = QStringLiteral("line %1: %2").arg(line).arg(why);
    return false;
}

// The header's delimiter: the first `,` or `;` of its line outside quotes; `,` when it has
// neither (a header of one column).
QChar headerDelimiter(const QString &text)
{
    int at = 0;
    // Past blank and comment lines.
    while (at < text.size()) {
        const int end = text.indexOf(QLatin1Char('\n'), at);
        const QString line = text.mid(at, end < 0 ? -1 : end - at).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            break;
        at = end < 0 ? text.size() : end + 1;
    }
    bool quoted = false;
    for (; at < text.size() && (quoted || text.at(at) != QLatin1Char('\n')); ++at) {
        const QChar c = text.at(at);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char(',') || c == QLatin1Char(';')))
            return c;
    }
    return QLatin1Char(',');
}

// The records of RFC 4180 text, each with the line it begins on. Blank lines, lines of
// delimiters only (a spreadsheet's empty row) and lines starting with '#' are left out. Cells
// outside quotes lose their surrounding spaces; quoted ones are kept as written.
bool splitRecords(const QString &text, QChar delimiter, QList<Record> &records, QString &error)
{
    const QChar quote = QLatin1Char('"');
    const QChar newline = QLatin1Char('\n');
    const QChar cr = QLatin1Char('\r');
    const int size = text.size();
    int at = 0;
    int line = 1;
    while (at < size) {
        Record record;
        record.line = line;
        if (text.at(at) == QLatin1Char('#')) {
            const int end = text.indexOf(newline, at);
            at = end < 0 ? size : end + 1;
            ++line;
            continue;
        }
        for (;;) {
            QString cell;
            if (at < size && text.at(at) == quote) {
                const int opened = line;
                for (++at;; ++at) {
                    if (at >= size)
                        return fail(error, opened, QStringLiteral("a quote opened on this line is never closed"));
                    const QChar c = text.at(at);
                    if (c == quote && at + 1 < size && text.at(at + 1) == quote) {
                        cell += quote;
                        ++at;
                    } else if (c == quote) {
                        ++at;
                        break;
                    } else {
                        if (c == newline)
                            ++line;
                        cell += c;
                    }
                }
                const bool crlf = at + 1 < size && text.at(at) == cr && text.at(at + 1) == newline;
                if (at < size && text.at(at) != delimiter && text.at(at) != newline && !crlf)
                    return fail(error, line, QStringLiteral("text after a closing quote; a quote inside a "
                                                            "quoted cell is written twice (\"\")"));
            } else {
                const int start = at;
                while (at < size && text.at(at) != delimiter && text.at(at) != newline)
                    ++at;
                cell = text.mid(start, at - start).trimmed();
            }
            record.cells << cell;
            if (at < size && text.at(at) == delimiter) {
                ++at;
                continue;
            }
            if (at < size && text.at(at) == cr)
                ++at;
            if (at < size && text.at(at) == newline) {
                ++at;
                ++line;
            }
            break;
        }
        bool blank = true;
        for (const QString &cell : record.cells)
            blank = blank && cell.isEmpty();
        if (!blank)
            records << record;
    }
    return true;
}

// The inventory's own columns and the profile keys: the names a column may have.
const QStringList &knownColumns()
{
    static const QStringList columns = QStringList{hostColumn, serialColumn, nameColumn, profileColumn}
        + Profile::keys();
    return columns;
}

// One unit is reached by one host and port, or by one serial port, however the row spells it.
QString unitKey(const InventoryRow &row)
{
    return row.channelName().toLower();
}

} // namespace

QString InventoryRow::channelName() const
{
    Invocation channel;
    channel.host = host;
    channel.port = port;
    channel.serial = serial;
    return channel.channelName();
}

Invocation InventoryRow::withChannel(const Invocation &invocation) const
{
    Invocation channel = invocation;
    channel.host = host;
    channel.port = port;
    channel.hostText = hostText;
    channel.serial = serial;
    return channel;
}

QByteArray inventoryRecord(const QStringList &cells, QChar delimiter)
{
    QStringList quoted;
    for (const QString &cell : cells) {
        const bool plain = !cell.contains(delimiter) && !cell.contains(QLatin1Char('"'))
            && !cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')) && cell.trimmed() == cell
            && !cell.startsWith(QLatin1Char('#'));
        quoted << (plain ? cell : QLatin1Char('"') + QString(cell).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'));
    }
    return quoted.join(delimiter).toUtf8() + "\r\n";
}

QString InventoryRow::label() const
{
    return QStringLiteral("line %1 (%2)").arg(line).arg(name);
}

bool readInventory(const QByteArray &bytes, Inventory &inventory, QString &error)
{
    inventory = Inventory();
    const int bad = firstNonUtf8Byte(bytes);
    if (bad >= 0)
        return fail(error, bytes.left(bad).count('\n') + 1,
                    QStringLiteral("the file is not UTF-8; save it from the spreadsheet as \"CSV UTF-8\""));
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    inventory.delimiter = headerDelimiter(text);
    QList<Record> records;
    if (!splitRecords(text, inventory.delimiter, records, error))
        return false;
    if (records.isEmpty()) {
        error = QStringLiteral("no header row (host or serial, name, profile, profile keys)");
        return false;
    }

    const Record header = records.takeFirst();
    inventory.columns = header.cells;
    QHash<QString, int> columnOf;
    for (int column = 0; column < header.cells.size(); ++column) {
        const QString &name = header.cells.at(column);
        QString known;
        for (const QString &candidate : knownColumns()) {
            if (candidate.compare(name, Qt::CaseInsensitive) == 0)
                known = candidate;
        }
        if (known.isEmpty()) {
            inventory.ignoredColumns << name;
        } else if (known != name) {
            return fail(error, header.line, QStringLiteral("the column \"%1\" differs from %2 only in letter "
                                                           "case; name it %2").arg(name, known));
        } else if (columnOf.contains(name)) {
            return fail(error, header.line, QStringLiteral("the column %1 stands twice").arg(name));
        } else {
            columnOf.insert(name, column);
        }
    }
    if (!columnOf.contains(hostColumn) && !columnOf.contains(serialColumn))
        return fail(error, header.line, QStringLiteral("the header names neither a host nor a serial column"));

    QHash<QString, int> rowOfName;
    QHash<QString, int> rowOfUnit;
    for (const Record &record : records) {
        if (record.cells.size() != header.cells.size())
            return fail(error, record.line, QStringLiteral("%1 cells, the header has %2")
                                                .arg(record.cells.size()).arg(header.cells.size()));
        InventoryRow row;
        row.line = record.line;
        row.cells = record.cells;
        const auto cell = [&](const QString &column) {
            return columnOf.contains(column) ? record.cells.at(columnOf.value(column)) : QString();
        };
        row.hostText = cell(hostColumn);
        row.serial = cell(serialColumn);
        row.profile = cell(profileColumn);
        row.name = cell(nameColumn);
        if (row.name.isEmpty())
            row.name = row.hostText.isEmpty() ? row.serial : row.hostText;
        if (row.hostText.isEmpty() == row.serial.isEmpty())
            return fail(error, record.line, row.serial.isEmpty()
                                                ? QStringLiteral("neither host nor serial is given; give one")
                                                : QStringLiteral("both host and serial are given; give one"));
        if (!row.hostText.isEmpty() && !parseHostAddress(row.hostText, row.host, row.port))
            return fail(error, record.line, QStringLiteral("host expects ADDR or ADDR:PORT, got \"%1\"")
                                                .arg(row.hostText));
        for (const QString &key : Profile::keys()) {
            const QString value = cell(key);
            if (!value.isEmpty())
                row.values.insert(key, value);
        }

        // Backup files are named after the units, and Windows does not tell letter cases apart.
        const QString nameKey = row.name.toLower();
        if (rowOfName.contains(nameKey)) {
            const InventoryRow &first = inventory.rows.at(rowOfName.value(nameKey));
            error = QStringLiteral("%1 and %2 have one name; names must differ (in more than letter case)")
                        .arg(first.label(), row.label());
            return false;
        }
        if (rowOfUnit.contains(unitKey(row))) {
            const InventoryRow &first = inventory.rows.at(rowOfUnit.value(unitKey(row)));
            error = QStringLiteral("%1 and %2 reach the same unit (%3)")
                        .arg(first.label(), row.label(), row.channelName());
            return false;
        }
        rowOfName.insert(nameKey, inventory.rows.size());
        rowOfUnit.insert(unitKey(row), inventory.rows.size());
        inventory.rows << row;
    }
    return true;
}
