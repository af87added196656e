// tallyctl's fleet commands: the inventory as read from its bytes, and plan run as a program
// against the simulator's fleet.

#include "fleet/inventory.h"
#include "programrun.h"
#include "testaddress.h"
#include "testmain.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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


// The fleet: units 1 to 6 from host 200 of this run's loopback network on a port of their own;
// unit 4 is offline, unit 5 refuses to show its Ethernet settings, unit 6 answers no read.
const QString FleetFirst = testAddress(200);
const quint16 FleetPort = 20177;
const int FleetUnits = 6;

QString fleetIp(int unit)
{
    return QHostAddress(QHostAddress(FleetFirst).toIPv4Address() + quint32(unit - 1)).toString();
}

// "I3" stands for unit 3's address, "H3" for it with the fleet's port.
QByteArray withFleet(QByteArray text)
{
    for (int unit = 1; unit <= FleetUnits; ++unit) {
        text.replace("H" + QByteArray::number(unit), (fleetIp(unit) + QLatin1Char(':') + QString::number(FleetPort)).toUtf8());
        text.replace("I" + QByteArray::number(unit), fleetIp(unit).toUtf8());
    }
    return text;
}

using Run = ProgramRun;

Run tallyctl(const QStringList &arguments)
{
    return runProgram(QStringLiteral(TALLYCTL_PATH), arguments, QByteArray(), 60000);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The tokens of the profile and of the units: no output of plan may hold them.
const QStringList Secrets{QStringLiteral("5555555555"), QStringLiteral("1234567890")};

// Gives the token, the server's address and the Ethernet settings but EthIP, which the
// inventory gives per unit.
const QByteArray FleetProfile = "[General]\nServerToken=5555555555\nIPsrv=10.0.0.2\nURLaddr=reports.example.net\n"
                                "Port=7777\nEthMask=255.255.255.0\nGateway=192.168.0.1\nDNSaddr=8.8.8.8\nUseDHCP=false\n";
// Unit 1 gets a new token and server, unit 2 is given what it holds, unit 3's mask would move it.
const QByteArray FleetInventory = "name;host;EthIP;IPsrv;ServerToken;EthMask;shop\n"
                                  "u1;H1;I1;;;;ул. Ленина, 1\n"
                                  "u2;H2;I2;192.0.2.10;1234567890;;\n"
                                  "u3;H3;I3;;;255.255.0.0;\n"
                                  "u4;H4;I4;;;;\n"
                                  "u5;H5;I5;;;;\n"
                                  "u6;H6;I6;;;;\n";
// What the window saves: every key, one unit's CashDeskID and EthIP.
const QByteArray WindowProfile = "[General]\nFullTimeout=1000\nCommandTimeout=500\nRetryTimeout=60\nServerToken=5555555555\n"
                                 "IPsrv=10.0.0.2\nURLaddr=reports.example.net\nPort=7777\nAPN=internet\nLogin=guest\n"
                                 "Password=guest\nBalanceCode=*100#\nEthMAC=00-1a-2b-3c-4d-5e\nEthIP=192.168.0.100\n"
                                 "EthMask=255.255.255.0\nGateway=192.168.0.1\nDNSaddr=8.8.8.8\nUseDHCP=false\n"
                                 "Priority=2\nCashDeskID=0000123456\nIncrementMac=false\n";

} // namespace

class FleetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void inventory_data();
    void inventory();
    void plan_data();
    void plan();
    void planFile();
    void apply_data();
    void apply();
    void applyEveryState();
    void applyAgainAfterKill();
    void backupAndTheWayBack();

private:
    // The fleet as it starts, every unit with the simulator's own state.
    void startFleet(const QStringList &options = QStringList());

    QProcess fleet;
    QString logPath;
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

void FleetTest::initTestCase()
{
    logPath = QDir::current().absoluteFilePath(QStringLiteral("fleet.log"));
    startFleet();
}

void FleetTest::cleanupTestCase()
{
    fleet.kill();
    fleet.waitForFinished(10000);
}

void FleetTest::startFleet(const QStringList &options)
{
    if (fleet.state() != QProcess::NotRunning) {
        fleet.kill();
        QVERIFY(fleet.waitForFinished(10000));
    }
    fleet.start(QStringLiteral(UNIT_SIMULATOR_PATH),
                QStringList{"--units", QString::number(FleetUnits), "--listen",
                            FleetFirst + QLatin1Char(':') + QString::number(FleetPort), "--offline", "4", "--fault",
                            "nak@07/09#5", "--fault", "silent@07#6", "--log", logPath} + options);
    QVERIFY(fleet.waitForStarted(10000));
    const QByteArray banner = QStringLiteral("listening on %1:%2").arg(FleetFirst).arg(FleetPort).toUtf8();
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains(banner) && fleet.state() == QProcess::Running && clock.elapsed() < 10000) {
        fleet.waitForReadyRead(200);
        said += fleet.readAllStandardOutput();
    }
    QVERIFY2(said.contains(banner), said.constData());
}

void FleetTest::plan_data()
{
    QTest::addColumn<QByteArray>("profile");    // none when empty
    QTest::addColumn<QByteArray>("inventory");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");       // the lines of stdout, each by its start
    QTest::addColumn<QString>("err");           // in stderr
    QTest::addColumn<QString>("progress");      // a line in stderr too

    const auto unit = [&](int number) {
        return QStringLiteral("u%1 (tcp:%2:%3): ").arg(number).arg(fleetIp(number)).arg(FleetPort);
    };
    QTest::newRow("every state") << FleetProfile << FleetInventory << QStringList() << 7
        << QStringList{unit(1) + "token: ServerToken changed; server: IPsrv 192.0.2.10 -> 10.0.0.2",
                       unit(3) + "blocked: reached at its own EthIP, which the plan's EthMask may take it off; "
                                 "change it on site or over serial",
                       unit(4) + "unreachable: Не могу установить соединение " + fleetIp(4),
                       unit(5) + "failed: ethernet: Не удается прочитать настройки Ethernet (the unit refused the request (15))",
                       unit(6) + "unreachable: ",
                       "6 units: 1 changes, 1 unchanged, 2 unreachable, 1 failed, 1 blocked"}
        << "tallyctl: units.csv: columns ignored: shop\n" << unit(2) + "unchanged\n";
    QTest::newRow("--trace: each unit's exchange in one piece, named") << FleetProfile << FleetInventory
        << QStringList{"--trace"} << 7
        << QStringList{unit(1), unit(3), unit(4), unit(5), unit(6), "6 units: 1 changes, 1 unchanged, 2 unreachable"}
        << QString() << unit(2) + "unchanged\n";
    QTest::newRow("--quiet: progress only for the units that did not end well") << FleetProfile << FleetInventory
        << QStringList{"--quiet"} << 7
        << QStringList{unit(1), unit(3), unit(4), unit(5), unit(6), "6 units: 1 changes, 1 unchanged, 2 unreachable"}
        << unit(3) + "blocked: " << unit(4) + "unreachable: ";
    QTest::newRow("no profile, cells only, --only, --jobs 1")
        << QByteArray()
        << QByteArray("host,IPsrv,URLaddr,Port\nH1,192.0.2.10,reports.example.net,7777\nH2,10.0.0.9,x.example.net,7777\n")
        << QStringList{"--only", "server,cashdesk", "--jobs", "1"} << 0
        << QStringList{QStringLiteral("%1 (tcp:%1): server: IPsrv 192.0.2.10 -> 10.0.0.9, URLaddr reports.example.net -> x.example.net")
                           .arg(fleetIp(2) + QLatin1Char(':') + QString::number(FleetPort)),
                       "2 units: 1 changes, 1 unchanged, 0 unreachable, 0 failed, 0 blocked"}
        << QString() << QString();

    // Refused before any unit hears a thing.
    QTest::newRow("the window's profile for every unit") << WindowProfile
        << QByteArray("name,host\nu1,H1\nu2,H2\n") << QStringList() << 2 << QStringList()
        << "tallyctl: a profile's EthMAC and IncrementMac are ignored: a unit's MAC comes from the inventory's "
           "EthMAC column\ntallyctl: units.csv: line 2 (u1) and line 3 (u2) would both get EthIP 192.168.0.100; "
           "give EthIP per unit in the inventory, or leave its group (ethernet) out with --only\n" << QString();
    QTest::newRow("one static EthIP twice") << FleetProfile
        << QByteArray("name,host,EthIP\nu1,H1,10.0.0.5\nu2,H2,10.0.0.6\nu3,H3,10.0.0.5\n") << QStringList() << 2
        << QStringList() << "line 2 (u1) and line 4 (u3) would both get EthIP 10.0.0.5" << QString();
    QTest::newRow("one MAC twice, in other letter cases") << QByteArray()
        << QByteArray("name,host,EthMAC\nu1,H1,00-1a-2b-3c-4d-01\nu2,H2,00-1A-2B-3C-4D-01\n") << QStringList() << 2
        << QStringList() << "line 2 (u1) and line 3 (u2) would both get EthMAC" << QString();
    QTest::newRow("a cell the value rules refuse") << FleetProfile
        << QByteArray("name;host;EthIP\nu1;H1;I1\nu2;H2;192.168.0.300\n") << QStringList() << 2 << QStringList()
        << "tallyctl: units.csv line 3 (u2): EthIP: " << QString();
    QTest::newRow("a multicast MAC") << QByteArray()
        << QByteArray("name,host,EthMAC\nu1,H1,01-1a-2b-3c-4d-01\n") << QStringList() << 2 << QStringList()
        << "tallyctl: units.csv line 2 (u1): EthMAC: " << QString();
    QTest::newRow("a key of a planned group missing") << QByteArray(FleetProfile).replace("Gateway=192.168.0.1\n", "")
        << FleetInventory << QStringList() << 2 << QStringList()
        << "tallyctl: units.csv line 2 (u1): Gateway: missing from the profile" << QString();
    QTest::newRow("a row's own profile not UTF-8") << FleetProfile
        << QByteArray("name,host,profile\nu1,H1,\nu2,H2,bad.ini\n") << QStringList() << 2 << QStringList()
        << "tallyctl: units.csv line 3 (u2): the profile bad.ini: APN: line 2 is not UTF-8 text" << QString();
    QTest::newRow("an inventory in Windows-1251") << FleetProfile
        << QByteArray("name;host\n\xcc\xe0\xe3\xe0\xe7\xe8\xed;H1\n") << QStringList() << 2 << QStringList()
        << "tallyctl: units.csv line 2: the file is not UTF-8; save it from the spreadsheet as \"CSV UTF-8\"\n" << QString();
    QTest::newRow("a key column in another letter case") << FleetProfile
        << QByteArray("name,host,EthIp\nu1,H1,I1\n") << QStringList() << 2 << QStringList()
        << "the column \"EthIp\" differs from EthIP only in letter case" << QString();
    QTest::newRow("nothing to plan") << QByteArray() << QByteArray("host,shop\nH1,a\n") << QStringList() << 2
        << QStringList() << "tallyctl: nothing to plan" << QString();
}

void FleetTest::plan()
{
    QFETCH(QByteArray, profile);
    QFETCH(QByteArray, inventory);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    QFETCH(QString, progress);

    QStringList arguments{"plan", "--inventory", "units.csv"};
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet(inventory)));
    QVERIFY(writeFile(QStringLiteral("bad.ini"), "[General]\nAPN=\xe8\xed\xf2\n"));
    if (!profile.isEmpty()) {
        QVERIFY(writeFile(QStringLiteral("profile.ini"), profile));
        arguments.insert(1, QStringLiteral("profile.ini"));
    }
    const int logged = fileBytes(logPath).size();
    const Run run = tallyctl(arguments + options);
    QVERIFY2(run.err.contains(err) && run.err.contains(progress), qPrintable(run.err));
    // Without a terminal, plain lines.
    QVERIFY(!run.err.contains(QLatin1Char('\r')) && !run.err.contains(QLatin1Char('\x1b')));
    if (options.contains("--trace")) {
        // Every unit that answered has its lines, one block each, before its own progress line.
        for (int number : {1, 2, 3, 5, 6}) {
            const QString name = QStringLiteral("u%1 ").arg(number);
            const QStringList errLines = run.err.split(QLatin1Char('\n'));
            QList<int> traced;
            for (int i = 0; i < errLines.size(); ++i) {
                if (errLines.at(i).startsWith(name) && errLines.at(i).contains(QRegularExpression("^u\\d \\s*\\d+ [<>!] ")))
                    traced << i;
            }
            QVERIFY2(!traced.isEmpty() && errLines.at(traced.first()).contains(" > 02 02 07 "), qPrintable(run.err));
            QCOMPARE(traced.last() - traced.first() + 1, traced.size());
            QVERIFY2(errLines.value(traced.last() + 1).startsWith(name + "(tcp:"), qPrintable(run.err));
        }
    }
    if (options.contains("--quiet"))
        QVERIFY2(!run.err.contains("): unchanged") && !run.err.contains("): token:"), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), out.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(out.at(i)), qPrintable(lines.at(i)));
    for (const QString &secret : Secrets)
        QVERIFY(!run.out.contains(secret) && !run.err.contains(secret));
    if (exitCode == 2)
        QCOMPARE(fileBytes(logPath).size(), logged);
}

void FleetTest::planFile()
{
    QVERIFY(writeFile(QStringLiteral("profile.ini"), FleetProfile));
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet(FleetInventory)));
    const Run run = tallyctl({"plan", "profile.ini", "--inventory", "units.csv", "-o", "plan.json", "--json"});
    QCOMPARE(run.exitCode, 7);
    const QJsonObject shown = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(shown.value("counts").toObject(),
             (QJsonObject{{"changes", 1}, {"unchanged", 1}, {"unreachable", 2}, {"failed", 1}, {"blocked", 1}}));
    const QJsonArray units = shown.value("units").toArray();
    QCOMPARE(units.size(), FleetUnits);
    QCOMPARE(units.at(0).toObject().value("changes").toObject(),
             (QJsonObject{{"token", QJsonObject{{"ServerToken", "changed"}}},
                          {"server", QJsonObject{{"IPsrv", QJsonObject{{"from", "192.0.2.10"}, {"to", "10.0.0.2"}}}}}}));
    QCOMPARE(units.at(3).toObject().value("state").toString(), QStringLiteral("unreachable"));

    // The plan: its sources by hash, and what each unit held with the tokens sealed.
    const QByteArray planBytes = fileBytes(QStringLiteral("plan.json"));
    const QJsonObject plan = QJsonDocument::fromJson(planBytes).object();
    QCOMPARE(plan.value("plan").toString(), shown.value("plan").toString());
    QCOMPARE(plan.value("inventory").toObject().value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash(fileBytes(QStringLiteral("units.csv")),
                                                          QCryptographicHash::Sha256).toHex()));
    const QJsonObject held = plan.value("units").toArray().at(1).toObject().value("held").toObject();
    QCOMPARE(held.value("server").toObject().value("IPsrv").toString(), QStringLiteral("192.0.2.10"));
    QVERIFY(held.value("token").toObject().value("ServerToken").toString().startsWith("hmac-sha256:"));
    QVERIFY(plan.value("units").toArray().at(3).toObject().value("held").toObject().isEmpty());
    for (const QString &secret : Secrets)
        QVERIFY(!planBytes.contains(secret.toUtf8()) && !run.out.contains(secret) && !run.err.contains(secret));
#ifdef Q_OS_UNIX
    QCOMPARE(QFile::permissions(QStringLiteral("plan.json.key")),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
#endif
}

// "u1 changed, u2 unchanged, ...", from apply's --json.
static QString applied(const QString &json)
{
    QStringList units;
    for (const QJsonValue &unit : QJsonDocument::fromJson(json.toUtf8()).object().value("units").toArray())
        units << unit.toObject().value("name").toString() + QLatin1Char(' ') + unit.toObject().value("state").toString();
    return units.join(QStringLiteral(", "));
}

static const QByteArray ServerProfile = "[General]\nServerToken=5555555555\nIPsrv=10.0.0.2\n"
                                        "URLaddr=reports.example.net\nPort=7777\n";

void FleetTest::apply_data()
{
    QTest::addColumn<QStringList>("between");   // run between plan and apply; "touch": the inventory edited
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("states");

    const QString everyState = "u1 changed, u2 unchanged, u3 blocked, u4 unreachable, u5 failed, u6 unreachable";
    QTest::newRow("--max-fail 0: the first failure stops the run") << QStringList()
        << QStringList{"--jobs", "1", "--max-fail", "0"} << 8
        << "u1 changed, u2 unchanged, u3 blocked, u4 unreachable, u5 failed, u6 skipped";
    QTest::newRow("--max-fail 50%: one of four") << QStringList() << QStringList{"--max-fail", "50%"} << 7 << everyState;
    QTest::newRow("--canary 1 ends well") << QStringList() << QStringList{"--canary", "1"} << 7 << everyState;
    QTest::newRow("--canary 2: one unreachable") << QStringList() << QStringList{"--canary", "2"} << 8
        << "u1 changed, u2 unchanged, u3 blocked, u4 unreachable, u5 skipped, u6 skipped";
    QTest::newRow("drifted: the server moved since the plan")
        << QStringList{"write", "drift.ini", "--only", "server", "--host", "H1"} << QStringList() << 7
        << "u1 drifted, u2 unchanged, u3 blocked, u4 unreachable, u5 failed, u6 unreachable";
    QTest::newRow("the inventory changed since the plan") << QStringList{"touch"} << QStringList() << 2 << QString();
}

void FleetTest::apply()
{
    QFETCH(QStringList, between);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, states);

    startFleet();
    QVERIFY(writeFile(QStringLiteral("profile.ini"), FleetProfile));
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet(FleetInventory)));
    QVERIFY(writeFile(QStringLiteral("drift.ini"), "[General]\nIPsrv=10.9.9.9\nURLaddr=x\nPort=1\n"));
    QCOMPARE(tallyctl({"plan", "profile.ini", "--inventory", "units.csv", "-o", "plan.json"}).exitCode, 7);
    if (between == QStringList{"touch"}) {
        // A row that reaches unit 1 again: the edit is named, not what planning it would find.
        QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet(FleetInventory + "u7;H1;I1;;;;\n")));
    } else if (!between.isEmpty()) {
        between.last() = QString::fromUtf8(withFleet(between.last().toUtf8()));
        QCOMPARE(tallyctl(between).exitCode, 0);
    }
    const int logged = fileBytes(logPath).size();
    const Run run = tallyctl(QStringList{"apply", "plan.json", "--json"} + options);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(applied(run.out), states);
    if (exitCode == 2) {
        QVERIFY2(run.err.contains("changed since the plan; nothing was sent: plan again"), qPrintable(run.err));
        QCOMPARE(fileBytes(logPath).size(), logged);
    }
    if (states.contains("drifted"))
        QVERIFY(run.out.contains("the unit holds neither what the plan saw nor the planned value: IPsrv"));
}

void FleetTest::applyEveryState()
{
    startFleet();
    QVERIFY(writeFile(QStringLiteral("profile.ini"), FleetProfile));
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet(FleetInventory)));
    QCOMPARE(tallyctl({"plan", "profile.ini", "--inventory", "units.csv", "-o", "plan.json"}).exitCode, 7);
    const Run run = tallyctl({"apply", "plan.json", "--json", "--journal", "j.jsonl", "--report", "report.csv",
                              "--remaining", "remaining.csv", "--rounds", "2", "--round-wait", "0"});
    QCOMPARE(run.exitCode, 7);
    QCOMPARE(applied(run.out), QStringLiteral("u1 changed, u2 unchanged, u3 blocked, u4 unreachable, u5 failed, "
                                              "u6 unreachable"));

    // A line per unit and round: the unreachable ones tried twice.
    QStringList rounds;
    const QByteArray journal = fileBytes(QStringLiteral("j.jsonl"));
    for (const QByteArray &line : journal.split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (!entry.isEmpty())
            rounds << entry.value("name").toString() + QLatin1Char('/') + QString::number(entry.value("round").toInt());
    }
    rounds.sort();
    QCOMPARE(rounds, (QStringList{"u1/1", "u4/1", "u4/2", "u5/1", "u6/1", "u6/2"}));

    // The report for people, with the inventory's delimiter; the rest as an inventory again.
    const QByteArray report = fileBytes(QStringLiteral("report.csv"));
    QVERIFY(report.startsWith("\xEF\xBB\xBFname;channel;state;groups;message\r\n"));
    QVERIFY(report.contains(withFleet("\r\nu1;tcp:H1;changed;token server;\r\n")));
    QVERIFY(report.contains(withFleet("\r\nu3;tcp:H3;blocked;;blocked in the plan\r\n")));
    const Run again = tallyctl({"plan", "profile.ini", "--inventory", "remaining.csv"});
    QCOMPARE(again.exitCode, 7);
    QVERIFY2(again.out.endsWith("4 units: 0 changes, 0 unchanged, 2 unreachable, 1 failed, 1 blocked\n"),
             qPrintable(again.out));
    for (const QString &secret : Secrets) {
        QVERIFY(!run.out.contains(secret) && !run.err.contains(secret));
        QVERIFY(!journal.contains(secret.toUtf8()) && !report.contains(secret.toUtf8()));
    }
}

void FleetTest::applyAgainAfterKill()
{
    startFleet({"--baud", "9600"});
    QVERIFY(writeFile(QStringLiteral("profile.ini"), ServerProfile));
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet("name,host\nu1,H1\nu2,H2\nu3,H3\n")));
    QCOMPARE(tallyctl({"plan", "profile.ini", "--inventory", "units.csv", "-o", "plan.json"}).exitCode, 0);

    // Cut off once the first unit is done.
    QFile::remove(QStringLiteral("j.jsonl"));
    QProcess cut;
    cut.start(QStringLiteral(TALLYCTL_PATH), {"apply", "plan.json", "--jobs", "1", "--journal", "j.jsonl"});
    QVERIFY(cut.waitForStarted(30000));
    QElapsedTimer clock;
    clock.start();
    while (!fileBytes(QStringLiteral("j.jsonl")).contains('\n') && clock.elapsed() < 30000)
        cut.waitForFinished(20);
    cut.kill();
    cut.waitForFinished(10000);

    const Run run = tallyctl({"apply", "plan.json", "--json"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(applied(run.out).startsWith("u1 unchanged, "), qPrintable(run.out));
}

void FleetTest::backupAndTheWayBack()
{
    startFleet();
    QVERIFY(writeFile(QStringLiteral("profile.ini"), ServerProfile));
    QVERIFY(writeFile(QStringLiteral("units.csv"), withFleet("name,host\nu1,H1\nu2,H2\n")));
    QCOMPARE(tallyctl({"plan", "profile.ini", "--inventory", "units.csv", "-o", "plan.json"}).exitCode, 0);
    QDir(QStringLiteral("bk")).removeRecursively();
    Run run = tallyctl({"apply", "plan.json", "--backup", "bk", "--json"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(applied(run.out), QStringLiteral("u1 changed, u2 changed"));
    QVERIFY(fileBytes(QStringLiteral("bk/u1.ini")).contains("ServerToken=1234567890"));
#ifdef Q_OS_UNIX
    QCOMPARE(QFile::permissions(QStringLiteral("bk/u1.ini")),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
        | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    QCOMPARE(QFile::permissions(QStringLiteral("bk")), ownerOnly);
    // A folder that was there keeps its permissions.
    QDir(QStringLiteral("shared")).removeRecursively();
    QVERIFY(QDir().mkdir(QStringLiteral("shared")));
    const QFileDevice::Permissions open = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(QStringLiteral("shared"), open));
#endif

    // The way back: planned from the backup, applied, and the unit holds what it held.
    run = tallyctl({"plan", "--inventory", "bk/inventory.csv", "-o", "back.json"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(withFleet("u1 (tcp:H1): token: ServerToken changed; server: IPsrv 10.0.0.2 -> 192.0.2.10\n")),
             qPrintable(run.out));
    QCOMPARE(tallyctl({"apply", "back.json", "--backup", "shared"}).exitCode, 0);
#ifdef Q_OS_UNIX
    QCOMPARE(QFile::permissions(QStringLiteral("shared")), open);
#endif
    run = tallyctl({"read", "--host", QString::fromUtf8(withFleet("H2"))});
    QVERIFY2(run.out.contains("ServerToken=1234567890\nIPsrv=192.0.2.10\n"), qPrintable(run.out));
}

TALLY_TEST_MAIN(FleetTest)
#include "tst_fleet.moc"
