// tallyctl as a whole program against the simulated unit: what it prints, what it sends (the
// same frames as the window for the same file), its exit codes, the trace, the journal and the
// profile it moves on to the next MAC.

#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testmain.h"
#include "testplatform.h"
#include "windowtesting.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

using namespace WindowTest;

namespace {

const QString Address = QStringLiteral("127.0.0.10");
const QString Host = Address + QStringLiteral(":20107");
const QString ProfileFile = QStringLiteral("tallyconf.ini");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run tallyctl(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(QStringLiteral(TALLYCTL_PATH), arguments);
    Run run;
    if (!process.waitForStarted(5000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString firstLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

// A profile the unit takes in full, with Cyrillic GPRS credentials within their byte limits.
const char ValidProfile[] =
    "[General]\n"
    "FullTimeout=2000\nCommandTimeout=300\nRetryTimeout=120\nServerToken=0000000042\n"
    "IPsrv=10.0.0.1\nURLaddr=kassa.example\nPort=8080\nAPN=internet\n"
    "Login=\\x43b\\x43e\\x433\\x438\\x43d\nPassword=\\x43f\\x430\\x440\\x43e\\x43b\\x44c\n"
    "BalanceCode=*102#\nEthMAC=00-1a-2b-3c-4d-ff\nEthIP=192.168.1.50\nEthMask=255.255.255.0\n"
    "Gateway=192.168.1.1\nDNSaddr=192.168.1.1\nUseDHCP=false\nPriority=3\nCashDeskID=17\n"
    "IncrementMac=true\nportNumber=0\ndeviceAddress=10.1.1.1\n"
    "[Shop]\nname=keep me\n";

QByteArray profileWith(const QByteArray &changes)
{
    QByteArray profile(ValidProfile);
    for (const QByteArray &change : changes.split('\n')) {
        if (change.isEmpty())
            continue;
        const QByteArray key = change.left(change.indexOf('=') + 1);
        const int at = profile.indexOf('\n' + key);
        if (at >= 0)
            profile.replace(at + 1, profile.indexOf('\n', at + 1) - at - 1, change);
        else
            profile.insert(profile.indexOf("[Shop]"), change + '\n');
    }
    return profile;
}

const char *windowSlot(const QString &group)
{
    static const QHash<QString, const char *> slotNames = {
        {QStringLiteral("timeouts"), "WriteTimeouts"}, {QStringLiteral("token"), "WriteToken"},
        {QStringLiteral("server"), "WriteServerAddr"}, {QStringLiteral("gprs"), "WriteGPRSSettings"},
        {QStringLiteral("ethernet"), "WriteEthernetSettingsSet"}, {QStringLiteral("mac"), "WriteMAC"},
        {QStringLiteral("priority"), "WriteChannelPriority"},
        {QStringLiteral("cashdesk"), "WriteCashDeskId"}};
    return slotNames.value(group);
}

} // namespace

class TestTallyctl : public QObject
{
    Q_OBJECT

public:
    TestTallyctl() : sim(Address) {}

private slots:
    void initTestCase();
    void init();

    void sendsWhatTheWindowSends_data();
    void sendsWhatTheWindowSends();
    void readPrintsTheWindowsTexts_data();
    void readPrintsTheWindowsTexts();
    void readIntoProfileKeepsOtherKeys();
    void commands_data();
    void commands();
    void failures_data();
    void failures();
    void nextMacInTheProfile_data();
    void nextMacInTheProfile();
    void seriesGoesOnUntilEndOfInput();
    void journalLinesStayWhole();
    void serialThroughPseudoTerminal();

private:
    SimulatorFixture sim;
};

void TestTallyctl::initTestCase()
{
    QVERIFY(sim.isListening());
}

void TestTallyctl::init()
{
    sim.restart();
    QFile::remove(ProfileFile);
    QFile::remove(QStringLiteral("journal.jsonl"));
}

void TestTallyctl::sendsWhatTheWindowSends_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("only");
    QTest::addColumn<QString>("rejected");

    QTest::newRow("every group, Cyrillic login and password") << profileWith("") << QString() << QString();
    QTest::newRow("edited by hand: Priority text, DHCP yes, 40000 ms")
        << profileWith("Priority=abc\nUseDHCP=yes\nFullTimeout=40000") << QString() << QString();
    QTest::newRow("over-long texts cut as the fields cut them")
        << profileWith("URLaddr=" + QByteArray(140, 'u') + "\nServerToken=123456789012\n"
                       "EthMAC=00-1a-2b-3c-4d-5e-77")
        << QString() << QString();
    QTest::newRow("byte that is not UTF-8 in the login") << profileWith("Login=caf\xe9") << QString()
                                                        << QString();
    QTest::newRow("token and MAC only") << profileWith("") << QStringLiteral("mac,token") << QString();
    QTest::newRow("GPRS and priority only") << profileWith("") << QStringLiteral("priority,gprs")
                                            << QString();
    QTest::newRow("no keys at all") << QByteArray("[General]\n") << QString()
                                    << QStringLiteral("FullTimeout: Некорректное значение полного тайм-аута");
    QTest::newRow("time-out -1") << profileWith("RetryTimeout=-1") << QString()
                                 << QStringLiteral("RetryTimeout: Некорректное значение периода повторной попытки");
    QTest::newRow("token with a letter") << profileWith("ServerToken=12a4") << QString()
                                         << QStringLiteral("ServerToken: Некорректное значение токен");
    QTest::newRow("APN of 17 Cyrillic letters is 34 bytes")
        << profileWith("APN=" + QByteArray("\\x430").repeated(17)) << QString()
        << QStringLiteral("APN: Cлишком длинный APN");
    QTest::newRow("priority past the list") << profileWith("Priority=4") << QString()
                                            << QStringLiteral("Priority: Не выбран приоритет каналов");
    QTest::newRow("DNS with five parts") << profileWith("DNSaddr=1.2.3.4.5") << QString()
                                         << QStringLiteral("DNSaddr: Некорректное значение DNS");
}

// The window loads the file as its defaults and writes (all, or group by group); tallyctl
// writes the same file: the same frames reach the unit, the same message names the same bad
// value, and the profile ends up the same.
void TestTallyctl::sendsWhatTheWindowSends()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, only);
    QFETCH(QString, rejected);

    writeFile(ProfileFile, profile);
    QList<QByteArray> windowFrames;
    QStringList windowBoxes;
    QByteArray windowProfile;
    {
        MainWindow window;
        selectNetwork(window, Address);
        MessageBoxCatcher catcher;
        if (only.isEmpty()) {
            QVERIFY(QMetaObject::invokeMethod(&window, "WriteData"));
        } else {
            for (const QString &group : QStringList{"timeouts", "token", "server", "gprs", "ethernet",
                                                    "mac", "priority", "cashdesk"}) {
                if (only.split(QLatin1Char(',')).contains(group))
                    QVERIFY(QMetaObject::invokeMethod(&window, windowSlot(group)));
            }
        }
        windowFrames = sim.requests();
        windowBoxes = catcher.texts();
        windowProfile = fileBytes(ProfileFile);
    }

    writeFile(ProfileFile, profile);
    sim.restart();
    QStringList arguments = {QStringLiteral("write"), ProfileFile, QStringLiteral("--host"), Host};
    if (!only.isEmpty())
        arguments << QStringLiteral("--only") << only;
    const Run run = tallyctl(arguments);

    QCOMPARE(hexList(sim.requests()), hexList(windowFrames));
    QCOMPARE(fileBytes(ProfileFile), windowProfile);
    if (rejected.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QVERIFY(!windowFrames.isEmpty());
        QCOMPARE(run.out, QStringLiteral("Параметры успешно записаны\n"));
    } else {
        QCOMPARE(run.exitCode, 2);
        QVERIFY(windowFrames.isEmpty());
        QCOMPARE(run.err, rejected + QLatin1Char('\n'));
        QCOMPARE(windowBoxes, QStringList{rejected.section(QStringLiteral(": "), 1)});
    }
}

void TestTallyctl::readPrintsTheWindowsTexts_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("expected");

    QTest::newRow("KEY=value") << QStringList() << QStringLiteral(
        "FullTimeout=1000\nCommandTimeout=500\nRetryTimeout=60\nServerToken=1234567890\n"
        "IPsrv=192.0.2.10\nURLaddr=reports.example.net\nPort=7777\nAPN=internet\n"
        "Login=оператор\nPassword=guest\nBalanceCode=*100#\nEthMAC=00-1a-2b-3c-4d-5e\n"
        "EthIP=192.168.0.100\nEthMask=255.255.255.0\nGateway=192.168.0.1\nDNSaddr=8.8.8.8\n"
        "UseDHCP=false\nPriority=2\nCashDeskID=0000123456\n");
    QTest::newRow("--json") << QStringList{QStringLiteral("--json")} << QStringLiteral(
        "{\"APN\":\"internet\",\"BalanceCode\":\"*100#\",\"CashDeskID\":\"0000123456\","
        "\"CommandTimeout\":\"500\",\"DNSaddr\":\"8.8.8.8\",\"EthIP\":\"192.168.0.100\","
        "\"EthMAC\":\"00-1a-2b-3c-4d-5e\",\"EthMask\":\"255.255.255.0\",\"FullTimeout\":\"1000\","
        "\"Gateway\":\"192.168.0.1\",\"IPsrv\":\"192.0.2.10\",\"Login\":\"оператор\","
        "\"Password\":\"guest\",\"Port\":\"7777\",\"Priority\":2,\"RetryTimeout\":\"60\","
        "\"ServerToken\":\"1234567890\",\"URLaddr\":\"reports.example.net\",\"UseDHCP\":false}");
}

void TestTallyctl::readPrintsTheWindowsTexts()
{
    QFETCH(QStringList, options);
    QFETCH(QString, expected);
    sim.setGroup(8, QByteArray::fromHex("0000") + "\x08internet" + char(16) + QByteArray("оператор")
                        + "\x05guest\x05*100#");

    const Run run = tallyctl(QStringList{QStringLiteral("read"), QStringLiteral("--host"), Host} + options);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    if (options.contains(QStringLiteral("--json")))
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).toJson(QJsonDocument::Compact),
                 expected.toUtf8());
    else
        QCOMPARE(run.out, expected);
    QCOMPARE(hexList(sim.requests()),
             QStringList({"02 02 07 06 03", "02 02 07 07 02", "02 02 07 09 0c", "02 02 07 04 01",
                          "02 02 07 0a 0f", "02 02 07 08 0d"}));
}

// The unit's values land in a defaults file the window then opens; its channel keys and
// anything else in it stay.
void TestTallyctl::readIntoProfileKeepsOtherKeys()
{
    sim.setGroup(8, QByteArray::fromHex("0000") + "\x08internet" + char(16) + QByteArray("оператор")
                        + "\x05guest\x05*100#");
    writeFile(ProfileFile, profileWith("Priority=0\nLogin=old"));
    const Run run = tallyctl({QStringLiteral("read"), QStringLiteral("--host"), Host,
                              QStringLiteral("-o"), ProfileFile});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString());

    QSettings file(ProfileFile, QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Priority")).toString(), QStringLiteral("2"));
    QCOMPARE(file.value(QStringLiteral("Login")).toString(), QStringLiteral("оператор"));
    // Written the way a Qt 5 reader understands it, whichever Qt this was built with.
    QVERIFY(fileBytes(ProfileFile).contains(iniLines("\nLogin=\\x43e\\x43f\\x435\\x440\\x430\\x442\\x43e\\x440\n")));
    QCOMPARE(file.value(QStringLiteral("portNumber")).toString(), QStringLiteral("0"));
    QCOMPARE(file.value(QStringLiteral("deviceAddress")).toString(), QStringLiteral("10.1.1.1"));
    QCOMPARE(file.value(QStringLiteral("Shop/name")).toString(), QStringLiteral("keep me"));

    MainWindow window;
    QCOMPARE(text(window, QStringLiteral("EthMACEdit")), QStringLiteral("00-1a-2b-3c-4d-5e"));
    QCOMPARE(text(window, QStringLiteral("CashDeskIDEdit")), QStringLiteral("0000123456"));
}

void TestTallyctl::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");       // first line
    QTest::addColumn<QStringList>("frames");

    const QStringList host = {QStringLiteral("--host"), Host};
    QTest::newRow("test server") << QStringList{"test", "server"} + host << 0
                                 << QStringLiteral("Время ответа: 120мс\n") << QString()
                                 << QStringList{"02 02 58 02 58"};
    QTest::newRow("test signal --json") << QStringList{"test", "signal", "--json"} + host << 0
        << QStringLiteral("{\"test\":\"signal\",\"text\":\"Уровень сигнала: 75%\",\"value\":75}\n")
        << QString() << QStringList{"02 02 58 01 5b"};
    QTest::newRow("reset z-reports") << QStringList{"reset", "z-reports", "--yes"} + host << 0
                                     << QStringLiteral("Сброс выполнен\n") << QString()
                                     << QStringList{"02 02 26 02 26"};
    QTest::newRow("reset without --yes") << QStringList{"reset", "full"} + host << 1 << QString()
        << QStringLiteral("tallyctl: reset erases data on the unit: add --yes to go ahead")
        << QStringList();
    QTest::newRow("no channel") << QStringList{"read"} << 1 << QString()
        << QStringLiteral("tallyctl: read talks to a unit: give --host ADDR[:PORT] or --serial NAME")
        << QStringList();
    QTest::newRow("both channels") << QStringList{"read", "--serial", "ttyS0"} + host << 1 << QString()
        << QStringLiteral("tallyctl: give either --host or --serial, not both") << QStringList();
    QTest::newRow("unknown command") << QStringList{"flash"} + host << 1 << QString()
                                     << QStringLiteral("tallyctl: unknown command \"flash\"")
                                     << QStringList();
    QTest::newRow("unknown option") << QStringList{"read", "--fast"} + host << 1 << QString()
                                    << QStringLiteral("tallyctl: Unknown option 'fast'.") << QStringList();
    QTest::newRow("option of another command") << QStringList{"read", "--verify"} + host << 1
        << QString() << QStringLiteral("tallyctl: --verify does not go with read") << QStringList();
    QTest::newRow("unknown group") << QStringList{"write", "p.ini", "--only", "token,dns"} + host << 1
        << QString() << QStringLiteral("tallyctl: unknown group \"dns\" for --only") << QStringList();
    QTest::newRow("port out of range") << QStringList{"read", "--host", "127.0.0.10:70000"} << 1
        << QString() << QStringLiteral("tallyctl: --host expects ADDR or ADDR:PORT, got \"127.0.0.10:70000\"")
        << QStringList();
    QTest::newRow("profile that is not there") << QStringList{"write", "absent.ini"} + host << 2
        << QString() << QStringLiteral("tallyctl: cannot read the profile absent.ini") << QStringList();
    QTest::newRow("nobody listening") << QStringList{"read", "--host", "127.0.0.10:1"} << 3
        << QString() << QStringLiteral("Не могу установить соединение 127.0.0.10:1") << QStringList();
    QTest::newRow("--version") << QStringList{"-V"} << 0 << QStringLiteral("tallyctl 1.0.0\n")
                               << QString() << QStringList();
}

void TestTallyctl::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, frames);

    const Run run = tallyctl(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(firstLine(run.err), err);
    QCOMPARE(hexList(sim.requests()), frames);
}

void TestTallyctl::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("traced");    // the trace's last line, past its time

    const QStringList write = {"write", ProfileFile, "--no-increment-mac", "--only", "timeouts,token,mac"};
    QTest::newRow("refused") << "nak@61" << write << 4 << QStringLiteral("Не удается записать токен")
                             << QStringLiteral("< 15");
    QTest::newRow("no acknowledgement") << "noack@61" << write << 4
                                        << QStringLiteral("Не удается записать токен")
                                        << QStringLiteral("! no acknowledgement within 1000 ms");
    QTest::newRow("acknowledged, never answered") << "silent@61" << write << 4
                                                  << QStringLiteral("Не удается записать токен")
                                                  << QStringLiteral("! no response within 1000 ms");
    QTest::newRow("answer too late") << "delay=1200@69" << write << 4
                                     << QStringLiteral("Не удается записать MAC-адрес")
                                     << QStringLiteral("! no response within 1000 ms");
    QTest::newRow("answer stops after STX") << "gap=1200@60" << write << 4
        << QStringLiteral("Не удается записать значения тайм-аутов")
        << QStringLiteral("! no next byte of the response within 1000 ms");
    QTest::newRow("wrong checksum") << "badsum@61" << write << 4
                                    << QStringLiteral("Не удается записать токен")
                                    << QStringLiteral("< 02 01 00 FE");
    QTest::newRow("wrong first byte") << "badstx@69" << write << 4
                                      << QStringLiteral("Не удается записать MAC-адрес")
                                      << QStringLiteral("< FD");
    QTest::newRow("result 01") << "result=01@60" << write << 4
                               << QStringLiteral("Не удается записать значения тайм-аутов")
                               << QStringLiteral("< 02 01 01 00");
    QTest::newRow("one data byte too many") << "badlen@61" << write << 0 << QString()
                                            << QStringLiteral("< 02 02 00 00 02");
    QTest::newRow("confirmed, kept the old MAC") << "forget@69" << write + QStringList{"--verify"} << 5
        << QStringLiteral("EthMAC: sent \"00-1a-2b-3c-4d-ff\", the unit holds \"00-1a-2b-3c-4d-5e\"")
        << QStringLiteral("< 02 19 00 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 00 00 1A 2B 3C 4D 5E 9D");
    QTest::newRow("read stops at the cash desk") << "noack@07/04" << QStringList{"read"} << 4
        << QStringLiteral("Не удается прочитать состояние ККМ")
        << QStringLiteral("! no acknowledgement within 1000 ms");
    QTest::newRow("priority the form does not know") << "priority=7" << QStringList{"read"} << 4
        << QStringLiteral("Не удается прочитать приоритет каналов") << QStringLiteral("< 02 02 00 07 05");
    QTest::newRow("endless status text is cut off at part 256") << "endless@55"
        << QStringList{"test", "unit"} << 0 << QString()
        << QStringLiteral("< 02 09 00 70 61 72 74 20 32 35 36 0F");
    QTest::newRow("test short of its value") << "short@58/02" << QStringList{"test", "server"} << 0
                                             << QString() << QStringLiteral("< 02 01 00 01");
}

void TestTallyctl::failures()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, traced);

    writeFile(ProfileFile, profileWith(""));
    QVERIFY(sim.addFault(fault));
    const Run run = tallyctl(arguments + QStringList{"--host", Host, "--trace"});
    QCOMPARE(run.exitCode, exitCode);

    static const QRegularExpression traceLine(QStringLiteral("^ *\\d+ [<>!] "));
    QStringList trace;
    QString rest;
    for (const QString &line : run.err.split(QLatin1Char('\n'))) {
        if (line.isEmpty())
            continue;
        if (traceLine.match(line).hasMatch())
            trace << line.trimmed().section(QLatin1Char(' '), 1);
        else
            rest += line + QLatin1Char('\n');
    }
    QVERIFY(!trace.isEmpty());
    QVERIFY(trace.first().startsWith(QLatin1String("> 02 ")));
    QVERIFY2(trace.contains(traced), qPrintable(trace.join(QLatin1Char('\n'))));
    if (exitCode == 0) {
        QCOMPARE(rest, QString());
    } else {
        QCOMPARE(firstLine(rest), message);
        // The cause follows the message: what the trace showed, in words.
        QVERIFY2(exitCode == 5 || rest.section(QLatin1Char('\n'), 1, 1).startsWith(QLatin1String("tallyctl: ")),
                 qPrintable(rest));
    }
}

void TestTallyctl::nextMacInTheProfile_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("mac");       // EthMAC in the profile afterwards

    const QByteArray on = profileWith("");
    const QByteArray off = profileWith("IncrementMac=false");
    QTest::newRow("IncrementMac in the profile") << on << QStringList() << QString()
                                                 << QStringLiteral("00-1a-2b-3c-4e-00");
    QTest::newRow("--increment-mac") << off << QStringList{"--increment-mac"} << QString()
                                     << QStringLiteral("00-1a-2b-3c-4e-00");
    QTest::newRow("--no-increment-mac") << on << QStringList{"--no-increment-mac"} << QString()
                                        << QStringLiteral("00-1a-2b-3c-4d-ff");
    QTest::newRow("--no-increment-mac wins") << off << QStringList{"--increment-mac", "--no-increment-mac"}
                                             << QString() << QStringLiteral("00-1a-2b-3c-4d-ff");
    QTest::newRow("off in the profile") << off << QStringList() << QString()
                                        << QStringLiteral("00-1a-2b-3c-4d-ff");
    QTest::newRow("last address wraps") << profileWith("EthMAC=FF-FF-FF-FF-FF-FF") << QStringList()
                                        << QString() << QStringLiteral("00-00-00-00-00-00");
    QTest::newRow("MAC refused") << on << QStringList() << QStringLiteral("nak@69")
                                 << QStringLiteral("00-1a-2b-3c-4d-ff");
    QTest::newRow("MAC taken, a later group refused") << on << QStringList()
                                                      << QStringLiteral("result=02@67")
                                                      << QStringLiteral("00-1a-2b-3c-4e-00");
    QTest::newRow("verified") << on << QStringList{"--verify"} << QString()
                              << QStringLiteral("00-1a-2b-3c-4e-00");
    QTest::newRow("confirmed but not held") << on << QStringList{"--verify"}
                                            << QStringLiteral("forget@69")
                                            << QStringLiteral("00-1a-2b-3c-4d-ff");
    QTest::newRow("held, another group not") << on << QStringList{"--verify"}
                                             << QStringLiteral("forget@61")
                                             << QStringLiteral("00-1a-2b-3c-4e-00");
}

// Only EthMAC changes; every other key and section of the file stays as it was.
void TestTallyctl::nextMacInTheProfile()
{
    QFETCH(QByteArray, profile);
    QFETCH(QStringList, options);
    QFETCH(QString, fault);
    QFETCH(QString, mac);

    writeFile(ProfileFile, profile);
    if (!fault.isEmpty())
        QVERIFY(sim.addFault(fault));
    tallyctl(QStringList{"write", ProfileFile, "--host", Host} + options);

    writeFile(QStringLiteral("before.ini"), profile);
    QSettings before(QStringLiteral("before.ini"), QSettings::IniFormat);
    QSettings after(ProfileFile, QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("EthMAC")).toString(), mac);
    QCOMPARE(after.allKeys(), before.allKeys());
    for (const QString &key : before.allKeys()) {
        if (key != QLatin1String("EthMAC"))
            QCOMPARE(after.value(key), before.value(key));
    }
}

void TestTallyctl::seriesGoesOnUntilEndOfInput()
{
    writeFile(ProfileFile, profileWith(""));
    // The second unit refuses its MAC: it is reported, and the third gets the same address.
    QVERIFY(sim.addFault(QStringLiteral("nak@69")));
    QProcess process;
    process.start(QStringLiteral(TALLYCTL_PATH),
                  {"write", ProfileFile, "--host", Host, "--series", "--only", "mac,cashdesk",
                   "--journal", "journal.jsonl"});
    QVERIFY(process.waitForStarted());
    // A unit is done once its line is on stdout (on Windows waitForReadyRead also returns for
    // what comes on stderr first).
    const auto unitsDone = [&process](int units) {
        for (int wait = 0; wait < 100 && process.peek(1 << 16).count('\n') < units; ++wait)
            process.waitForReadyRead(100);
        return process.peek(1 << 16).count('\n') >= units;
    };
    QVERIFY(unitsDone(1));
    sim.clearFaults();
    QVERIFY(sim.addFault(QStringLiteral("nak@64")));
    process.write("\n");
    QVERIFY(unitsDone(2));
    sim.clearFaults();
    process.write("\n");
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(10000));

    QCOMPARE(process.exitCode(), 4);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
             QStringLiteral("unit 1: failed (exit 4: Не удается записать MAC-адрес); MAC -; cash-desk ID -\n"
                            "unit 2: failed (exit 4: Не удается записать ID ККМ); MAC 00-1a-2b-3c-4d-ff; cash-desk ID -\n"
                            "unit 3: ok; MAC 00-1a-2b-3c-4e-00; cash-desk ID 0000000017\n"));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("Connect the next unit and press Enter")), 3);
    QCOMPARE(QSettings(ProfileFile, QSettings::IniFormat).value(QStringLiteral("EthMAC")).toString(),
             QStringLiteral("00-1a-2b-3c-4e-01"));

    const QList<QByteArray> lines = fileBytes(QStringLiteral("journal.jsonl")).split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.last(), QByteArray());
    const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                .match(first.value(QStringLiteral("time")).toString()).hasMatch());
    QCOMPARE(QJsonDocument::fromJson(lines.at(0)).object().size(), 8);
    const auto entry = [&lines](int i) {
        QJsonObject object = QJsonDocument::fromJson(lines.at(i)).object();
        object.remove(QStringLiteral("time"));
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    QCOMPARE(entry(0), QStringLiteral("{\"cashDeskId\":null,\"channel\":\"tcp:127.0.0.10:20107\","
                                      "\"command\":\"write\",\"exit\":4,\"groups\":[],\"mac\":null,"
                                      "\"message\":\"Не удается записать MAC-адрес\"}"));
    QCOMPARE(entry(1), QStringLiteral("{\"cashDeskId\":null,\"channel\":\"tcp:127.0.0.10:20107\","
                                      "\"command\":\"write\",\"exit\":4,\"groups\":[\"mac\"],"
                                      "\"mac\":\"00-1a-2b-3c-4d-ff\",\"message\":\"Не удается записать ID ККМ\"}"));
    QCOMPARE(entry(2), QStringLiteral("{\"cashDeskId\":\"0000000017\",\"channel\":\"tcp:127.0.0.10:20107\","
                                      "\"command\":\"write\",\"exit\":0,\"groups\":[\"mac\",\"cashdesk\"],"
                                      "\"mac\":\"00-1a-2b-3c-4e-00\",\"message\":\"\"}"));
}

// Units on several ports at once share one journal: every line arrives whole.
void TestTallyctl::journalLinesStayWhole()
{
    writeFile(ProfileFile, profileWith(""));
    QList<QProcess *> processes;
    for (int i = 0; i < 6; ++i) {
        auto *process = new QProcess(this);
        process->start(QStringLiteral(TALLYCTL_PATH),
                       {"write", ProfileFile, "--host", "127.0.0.10:1", "--series", "--journal",
                        "journal.jsonl"});
        processes << process;
    }
    for (QProcess *process : processes) {
        QVERIFY(process->waitForStarted());
        process->write(QByteArray(19, '\n'));
        process->closeWriteChannel();
    }
    for (QProcess *process : processes) {
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitCode(), 3);
        delete process;
    }
    const QList<QByteArray> lines = fileBytes(QStringLiteral("journal.jsonl")).trimmed().split('\n');
    QCOMPARE(lines.size(), 6 * 20);
    for (const QByteArray &line : lines)
        QCOMPARE(QJsonDocument::fromJson(line).object().value(QStringLiteral("exit")).toInt(), 3);
}

void TestTallyctl::serialThroughPseudoTerminal()
{
#ifndef Q_OS_LINUX
    QSKIP("the simulator offers a pseudo-terminal on Linux only");
#endif
    QProcess unit;
    unit.start(QStringLiteral(UNIT_SIMULATOR_PATH), {"--listen", "127.0.0.10:0", "--pty"});
    QVERIFY(unit.waitForStarted());
    QString pty;
    while (pty.isEmpty() && unit.waitForReadyRead(5000)) {
        while (unit.canReadLine()) {
            const QString line = QString::fromUtf8(unit.readLine()).trimmed();
            if (line.startsWith(QLatin1String("pty: ")))
                pty = line.mid(5);
        }
    }
    QVERIFY(!pty.isEmpty());

    const Run read = tallyctl({"read", "--serial", pty});
    QCOMPARE(read.exitCode, 0);
    QVERIFY(read.out.startsWith(QLatin1String("FullTimeout=1000\nCommandTimeout=500\n")));
    QVERIFY(read.out.endsWith(QLatin1String("Priority=2\nCashDeskID=0000123456\n")));

    writeFile(ProfileFile, profileWith(""));
    const Run write = tallyctl({"write", ProfileFile, "--serial", pty, "--verify", "--no-increment-mac"});
    QCOMPARE(write.exitCode, 0);
    QCOMPARE(write.err, QString());

    unit.terminate();
    QVERIFY(unit.waitForFinished(5000));
}

TALLY_TEST_MAIN(TestTallyctl)

#include "tst_tallyctl.moc"
