// tallyctl's fleet commands: the inventory as read from its bytes.

#include "fleet/inventory.h"
#include "testmain.h"

#include <QtTest>

namespace {

// The inventory as lines: the delimiter and the ignored columns, then a line per row with its
// line, name, channel, own profile and the keys it gives; or "error: " and the reason.
QString shown(const QByteArray &bytes)
{
    Inventory inventory;
    QString error;
    if (!readInventory(bytes, inventory, error))
        return QStringLiteral("error: ") + error;
    QStringList lines{QStringLiteral("%1 ignored:%2").arg(inventory.delimiter)
                          .arg(inventory.ignoredColumns.join(QLatin1Char('|')))};
    for (const InventoryRow &row : inventory.rows) {
        QStringList keys = row.values.keys();
        keys.sort();
        QStringList values;
        for (const QString &key : keys)
            values << key + QLatin1Char('=') + row.values.value(key);
        lines << QStringLiteral("%1 %2 %3 %4 %5").arg(row.line).arg(row.name, row.channelName(), row.profile,
                                                    values.join(QLatin1Char('|')));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class FleetTest : public QObject
{
    Q_OBJECT

private slots:
    void inventory_data();
    void inventory();
};

void FleetTest::inventory_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("comma, host, default port and name")
        << QByteArray("host,CashDeskID\n10.0.0.1,0000000001\n10.0.0.2:20200,0000000002\n")
        << QStringLiteral(", ignored:\n"
                          "2 10.0.0.1 tcp:10.0.0.1:20107  CashDeskID=0000000001\n"
                          "3 10.0.0.2:20200 tcp:10.0.0.2:20200  CashDeskID=0000000002");
    QTest::newRow("semicolon, BOM, CR LF, Cyrillic")
        << QByteArray("\xef\xbb\xbfname;host;APN\r\nМагазин 1;010.000.000.001;internet\r\n")
        << QStringLiteral("; ignored:\n2 Магазин 1 tcp:10.0.0.1:20107  APN=internet");
    QTest::newRow("comments, blank lines, a spreadsheet's empty row")
        << QByteArray("# units of shop 5\n\nserial;name\n\n;\n# the second desk\nttyUSB0;desk-1\n  \n")
        << QStringLiteral("; ignored:\n7 desk-1 serial:ttyUSB0  ");
    QTest::newRow("quoting: delimiter, doubled quote, line break, spaces kept")
        << QByteArray("host,Password,URLaddr,note\n"
                      "10.0.0.1,\"a,\"\"b\"\";c\", plain ,\"two\r\nlines\"\n"
                      "10.0.0.2,,\" x \",\n")
        << QStringLiteral(", ignored:note\n2 10.0.0.1 tcp:10.0.0.1:20107  Password=a,\"b\";c|URLaddr=plain\n"
                          "4 10.0.0.2 tcp:10.0.0.2:20107  URLaddr= x ");
    QTest::newRow("host or serial per row; profile; empty cells give nothing")
        << QByteArray("host,serial,profile,EthIP,UseDHCP\n10.0.0.1,,a.ini,,true\n,COM3,sub/b.ini,192.168.1.5,false\n")
        << QStringLiteral(", ignored:\n2 10.0.0.1 tcp:10.0.0.1:20107 a.ini UseDHCP=true\n"
                          "3 COM3 serial:COM3 sub/b.ini EthIP=192.168.1.5|UseDHCP=false");
    QTest::newRow("other columns ignored")
        << QByteArray("Адрес магазина;host;client;IncrementMac\nул. Ленина, 1;10.0.0.1;ООО \"Ромашка\";1\n")
        << QStringLiteral("; ignored:Адрес магазина|client|IncrementMac\n2 10.0.0.1 tcp:10.0.0.1:20107  ");

    QTest::newRow("Windows-1251")
        << QByteArray("host;name\n10.0.0.1;\xcc\xe0\xe3\xe0\xe7\xe8\xed\n")
        << QStringLiteral("error: line 2: the file is not UTF-8; save it from the spreadsheet as \"CSV UTF-8\"");
    QTest::newRow("UTF-16")
        << QByteArray("\xff\xfeh\0o\0s\0t\0", 10)
        << QStringLiteral("error: line 1: the file is not UTF-8; save it from the spreadsheet as \"CSV UTF-8\"");
    QTest::newRow("empty")
        << QByteArray("# nothing yet\n\n")
        << QStringLiteral("error: no header row (host or serial, name, profile, profile keys)");
    QTest::newRow("a key in another letter case")
        << QByteArray("host,CashDeskId\n10.0.0.1,1\n")
        << QStringLiteral("error: line 1: the column \"CashDeskId\" differs from CashDeskID only in letter "
                          "case; name it CashDeskID");
    QTest::newRow("a column of the inventory in another letter case")
        << QByteArray("Host,name\n10.0.0.1,a\n")
        << QStringLiteral("error: line 1: the column \"Host\" differs from host only in letter case; name it host");
    QTest::newRow("a column twice")
        << QByteArray("host,EthIP,EthIP\n10.0.0.1,1.1.1.1,1.1.1.2\n")
        << QStringLiteral("error: line 1: the column EthIP stands twice");
    QTest::newRow("neither host nor serial column")
        << QByteArray("name,CashDeskID\na,1\n")
        << QStringLiteral("error: line 1: the header names neither a host nor a serial column");
    QTest::newRow("a row with neither")
        << QByteArray("host,serial,name\n,,a\n")
        << QStringLiteral("error: line 2: neither host nor serial is given; give one");
    QTest::newRow("a row with both")
        << QByteArray("host;serial\n10.0.0.1;COM1\n")
        << QStringLiteral("error: line 2: both host and serial are given; give one");
    QTest::newRow("a host --host refuses")
        << QByteArray("host\n10.0.0.1:70000\n")
        << QStringLiteral("error: line 2: host expects ADDR or ADDR:PORT, got \"10.0.0.1:70000\"");
    QTest::newRow("a cell too many")
        << QByteArray("host,name\n10.0.0.1,a,b\n")
        << QStringLiteral("error: line 2: 3 cells, the header has 2");
    QTest::newRow("a quote never closed")
        << QByteArray("host,name\n10.0.0.1,\"a\n\n")
        << QStringLiteral("error: line 2: a quote opened on this line is never closed");
    QTest::newRow("text after a closing quote")
        << QByteArray("host,name\n\n10.0.0.1,\"a\"b\n")
        << QStringLiteral("error: line 3: text after a closing quote; a quote inside a quoted cell is "
                          "written twice (\"\")");
    QTest::newRow("one name twice, in other letter cases")
        << QByteArray("host,name\n10.0.0.1,Desk\n10.0.0.2,x\n10.0.0.3,desk\n")
        << QStringLiteral("error: line 2 (Desk) and line 4 (desk) have one name; names must differ (in more "
                          "than letter case)");
    QTest::newRow("one unit twice: the default port written out")
        << QByteArray("host,name\n10.0.0.1,a\n10.0.0.01:20107,b\n")
        << QStringLiteral("error: line 2 (a) and line 3 (b) reach the same unit (tcp:10.0.0.1:20107)");
    QTest::newRow("one serial port twice")
        << QByteArray("serial,name\nCOM3,a\ncom3,b\n")
        << QStringLiteral("error: line 2 (a) and line 3 (b) reach the same unit (serial:com3)");
}

void FleetTest::inventory()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(shown(bytes), expected);
}

TALLY_TEST_MAIN(FleetTest)
#include "tst_fleet.moc"
