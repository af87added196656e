// tallyctl as a whole program against the simulated unit: what it prints, what it sends (the
// same frames as the window for the same file), its exit codes, the trace, the journal and the
// profile it moves on to the next MAC.

#include "forgedlock.h"
#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "programrun.h"
#include "settingsfile.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "testplatform.h"
#include "windowtesting.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace WindowTest;

namespace {

const QString Address = testAddress(10);
const QString Host = Address + QStringLiteral(":20107");
const QString ProfileFile = QStringLiteral("tallyconf.ini");

using Run = ProgramRun;

Run tallyctl(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    return runProgram(QStringLiteral(TALLYCTL_PATH), arguments, input, 30000);
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

QString profileMac()
{
    return QSettings(ProfileFile, QSettings::IniFormat).value(QStringLiteral("EthMAC")).toString();
}

// The addresses of the MAC frames a unit got (02 07 69, six bytes, checksum), in order.
QStringList macsSent(const QList<QByteArray> &frames)
{
    QStringList macs;
    for (const QByteArray &frame : frames) {
        if (frame.size() == 10 && frame.at(2) == '\x69')
            macs << QString::fromLatin1(frame.mid(3, 6).toHex('-'));
    }
    return macs;
}

// The address `steps` after `mac`.
QString macPlus(const QString &mac, int steps)
{
    const quint64 number = QString(mac).remove(QLatin1Char('-')).toULongLong(nullptr, 16) + quint64(steps);
    return QString::fromLatin1(QByteArray::fromHex(QByteArray::number(number, 16).rightJustified(12, '0')).toHex('-'));
}

QList<QJsonObject> journalLines()
{
    QList<QJsonObject> lines;
    for (const QByteArray &line : fileBytes(QStringLiteral("journal.jsonl")).split('\n')) {
        if (!line.isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    }
    return lines;
}

QStringList reservedMacs(const QList<QJsonObject> &lines)
{
    QStringList macs;
    for (const QJsonObject &line : lines) {
        if (line.value(QStringLiteral("event")).toString() == QLatin1String("reserved"))
            macs << line.value(QStringLiteral("mac")).toString();
    }
    return macs;
}

// What the engineer looks for, as the manual says: reserved addresses that no unit line
// confirms, which a unit may hold although its run never finished.
QStringList unconfirmedMacs(const QList<QJsonObject> &lines)
{
    QStringList macs = reservedMacs(lines);
    for (const QJsonObject &line : lines) {
        if (line.value(QStringLiteral("macConfirmed")).toBool())
            macs.removeAll(line.value(QStringLiteral("mac")).toString());
    }
    return macs;
}

// The pid of a process that has ended.
qint64 deadPid()
{
    QProcess process;
    process.start(QStringLiteral(TALLYCTL_PATH), {QStringLiteral("--version")});
    const qint64 pid = process.waitForStarted(5000) ? process.processId() : 0;
    process.waitForFinished(5000);
    return pid;
}

// The text in UTF-16, as Notepad's "Unicode" saves it, with its byte order mark or without.
QByteArray utf16(const QByteArray &utf8, bool bigEndian, bool mark)
{
    QByteArray bytes;
    const QString text = (mark ? QStringLiteral("\uFEFF") : QString()) + QString::fromUtf8(utf8);
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? QByteArray(1, high) + low : QByteArray(1, low) + high;
    }
    return bytes;
}

const QString NothingSent = QStringLiteral("tallyctl: nothing was sent");

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
    void stationsShareAProfile_data();
    void stationsShareAProfile();
    void profileLock_data();
    void profileLock();
    void cutOffMidWrite_data();
    void cutOffMidWrite();
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
    // A tallyctl of the test before may still be the simulator's caller.
    sim.hangUp();
    sim.restart();
    QFile::setPermissions(ProfileFile, QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(ProfileFile);
    for (const QString &lock : {ProfileFile + QStringLiteral(".lock"), QStringLiteral("journal.jsonl.lock")}) {
        QFile::remove(lock);
        QDir().rmdir(lock);
    }
    QFile::remove(QStringLiteral("journal.jsonl"));
    QDir(QStringLiteral("linked")).removeRecursively();
}

void TestTallyctl::sendsWhatTheWindowSends_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("only");
    QTest::addColumn<QString>("rejected");
    QTest::addColumn<QByteArray>("carried");    // bytes the unit must receive

    QTest::newRow("every group, Cyrillic login and password") << profileWith("") << QString() << QString()
                                                             << QByteArray("логин");
    // The window sends what Qt reads (DHCP on, priority 0); tallyctl, which nobody watches,
    // refuses a value the file does not say in so many words, and its advice sends what it says.
    // The end of the Ethernet frame: gateway, DNS, the DHCP byte, the checksum.
    const QByteArray dhcpOn("\xC0\xA8\x01\x01\xC0\xA8\x01\x01\x01\xD3");
    const QByteArray dhcpOff("\xC0\xA8\x01\x01\xC0\xA8\x01\x01\x00\xD2", 10);
    const QString dhcpAdvice = QStringLiteral("; write UseDHCP=true or UseDHCP=false");
    const QString priorityAdvice = QStringLiteral("; write Priority=0 (GPRS), 1 (Ethernet), 2 (GPRS+Ethernet) or 3 "
                                                  "(Ethernet+GPRS)");
    QTest::newRow("edited by hand: Priority text, DHCP yes, 40000 ms")
        << profileWith("Priority=abc\nUseDHCP=yes\nFullTimeout=40000") << QString()
        << QStringLiteral("UseDHCP: \"yes\" is neither true nor false") + dhcpAdvice
        << dhcpOn;
    QTest::newRow("edited by hand: Priority text") << profileWith("Priority=abc") << QString()
        << QStringLiteral("Priority: \"abc\" is not a channel priority") + priorityAdvice
        << QByteArray("\x02\x02\x67\x00\x65");
    QTest::newRow("advice followed: UseDHCP=true") << profileWith("UseDHCP=true") << QString() << QString()
                                                   << dhcpOn;
    QTest::newRow("advice followed: UseDHCP=false") << profileWith("UseDHCP=false") << QString() << QString()
                                                    << dhcpOff;
    QTest::newRow("UseDHCP=1") << profileWith("UseDHCP=1") << QString() << QString()
                               << dhcpOn;
    QTest::newRow("UseDHCP=0") << profileWith("UseDHCP=0") << QString() << QString()
                               << dhcpOff;
    for (int priority = 0; priority <= 3; ++priority)
        QTest::newRow(qPrintable(QStringLiteral("advice followed: Priority=%1").arg(priority)))
            << profileWith("Priority=" + QByteArray::number(priority)) << QString() << QString()
            << (QByteArray("\x02\x02\x67") + char(priority) + char(0x65 ^ priority));
    QTest::newRow("APN in quotes: the text within them goes") << profileWith("APN=\"inet.example\"") << QString()
                                                                << QString() << QByteArray("\x0cinet.example");
    QTest::newRow("advice followed: APN=\"internet ; operator\"") << profileWith("APN=\"internet ; operator\"")
        << QString() << QString() << QByteArray("\x13internet ; operator");
    QTest::newRow("advice followed: Password=\"@@abc\"") << profileWith("Password=\"@@abc\"") << QString()
                                                         << QString() << QByteArray("\x04@abc");
    QTest::newRow("raw UTF-8, as an editor saves it") << profileWith("APN=интернет") << QString() << QString()
                                                      << QByteArray("\x10интернет");
    QTest::newRow("password quoted as Qt writes it") << profileWith("Password=\"a=b;c\\\"d\"") << QString()
                                                     << QString() << QByteArray("\x07" "a=b;c\"d");
    QByteArray windowsEditor = "\xEF\xBB\xBF; shop 7\n" + profileWith("Login=оператор");
    windowsEditor.replace("\n", "\r\n");
    QTest::newRow("byte order mark, CR LF, a comment") << windowsEditor << QString() << QString()
                                                       << QByteArray("\x10оператор");
    QTest::newRow("token and MAC only") << profileWith("") << QStringLiteral("mac,token") << QString()
                                        << QByteArray();
    QTest::newRow("token only: no other key needed") << QByteArray("[General]\nServerToken=42\n")
                                                     << QStringLiteral("token") << QString() << QByteArray();
    QTest::newRow("GPRS and priority only") << profileWith("") << QStringLiteral("priority,gprs")
                                            << QString() << QByteArray();
    QTest::newRow("time-out -1") << profileWith("RetryTimeout=-1") << QString()
                                 << QStringLiteral("RetryTimeout: Некорректное значение периода повторной попытки")
                                 << QByteArray();
    QTest::newRow("token with a letter") << profileWith("ServerToken=12a4") << QString()
                                         << QStringLiteral("ServerToken: Некорректное значение токен") << QByteArray();
    QTest::newRow("APN of 17 Cyrillic letters is 34 bytes")
        << profileWith("APN=" + QByteArray("\\x430").repeated(17)) << QString()
        << QStringLiteral("APN: Cлишком длинный APN") << QByteArray();
    QTest::newRow("priority past the list") << profileWith("Priority=4") << QString()
                                            << QStringLiteral("Priority: Не выбран приоритет каналов") << QByteArray();
    QTest::newRow("DNS with five parts") << profileWith("DNSaddr=1.2.3.4.5") << QString()
                                         << QStringLiteral("DNSaddr: Некорректное значение DNS") << QByteArray();
}

// The window loads the file as its defaults and writes (all, or group by group); tallyctl
// writes the same file: the same frames reach the unit, the same message names the same bad
// value, and the profile ends up saying the same.
void TestTallyctl::sendsWhatTheWindowSends()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, only);
    QFETCH(QString, rejected);
    QFETCH(QByteArray, carried);

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
    QVERIFY(windowFrames.join().contains(carried));

    writeFile(ProfileFile, profile);
    sim.restart();
    QStringList arguments = {QStringLiteral("write"), ProfileFile, QStringLiteral("--host"), Host};
    if (!only.isEmpty())
        arguments << QStringLiteral("--only") << only;
    const Run run = tallyctl(arguments);

    if (!rejected.isEmpty() && !windowFrames.isEmpty()) {
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err, rejected + QLatin1Char('\n'));
        QVERIFY(sim.requests().isEmpty());
        QCOMPARE(fileBytes(ProfileFile), profile);
        return;
    }
    QCOMPARE(hexList(sim.requests()), hexList(windowFrames));
    // The window saves the whole file anew, tallyctl changes the EthMAC line alone.
    writeFile(QStringLiteral("window.ini"), windowProfile);
    const SettingsFile windowSaved(QStringLiteral("window.ini"));
    const SettingsFile tallyctlSaved(ProfileFile);
    QCOMPARE(tallyctlSaved.settings().allKeys(), windowSaved.settings().allKeys());
    for (const QString &key : windowSaved.settings().allKeys())
        QCOMPARE(tallyctlSaved.settings().value(key), windowSaved.settings().value(key));
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
    QTest::addColumn<QByteArray>("gprs");       // the unit's group 8
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected");      // stdout
    QTest::addColumn<QString>("err");

    const QByteArray gprs = QByteArray::fromHex("0000") + "\x08internet" + char(16) + QByteArray("оператор")
        + "\x05guest\x05*100#";
    QTest::newRow("KEY=value") << gprs << QStringList() << 0 << QStringLiteral(
        "FullTimeout=1000\nCommandTimeout=500\nRetryTimeout=60\nServerToken=1234567890\n"
        "IPsrv=192.0.2.10\nURLaddr=reports.example.net\nPort=7777\nAPN=internet\n"
        "Login=оператор\nPassword=guest\nBalanceCode=*100#\nEthMAC=00-1a-2b-3c-4d-5e\n"
        "EthIP=192.168.0.100\nEthMask=255.255.255.0\nGateway=192.168.0.1\nDNSaddr=8.8.8.8\n"
        "UseDHCP=false\nPriority=2\nCashDeskID=0000123456\n") << QString();
    QTest::newRow("--json") << gprs << QStringList{QStringLiteral("--json")} << 0 << QStringLiteral(
        "{\"APN\":\"internet\",\"BalanceCode\":\"*100#\",\"CashDeskID\":\"0000123456\","
        "\"CommandTimeout\":\"500\",\"DNSaddr\":\"8.8.8.8\",\"EthIP\":\"192.168.0.100\","
        "\"EthMAC\":\"00-1a-2b-3c-4d-5e\",\"EthMask\":\"255.255.255.0\",\"FullTimeout\":\"1000\","
        "\"Gateway\":\"192.168.0.1\",\"IPsrv\":\"192.0.2.10\",\"Login\":\"оператор\","
        "\"Password\":\"guest\",\"Port\":\"7777\",\"Priority\":2,\"RetryTimeout\":\"60\","
        "\"ServerToken\":\"1234567890\",\"URLaddr\":\"reports.example.net\",\"UseDHCP\":false}")
        << QString();

    // Values the KEY=value lines or a settings file cannot carry as the unit holds them.
    const QByteArray lineBreak = QByteArray::fromHex("0000") + "\x08internet\x03" "a\nb\x05guest\x05*100#";
    const QByteArray latin1 = QByteArray::fromHex("0000") + "\x08internet\x05guest\x04" "caf\xe9\x05*100#";
    QTest::newRow("line break in the login") << lineBreak << QStringList() << 6 << QString()
        << QStringLiteral("Login: the unit's value holds a line break or another control character, which "
                          "KEY=value lines cannot show; --json shows it\n");
    QTest::newRow("not UTF-8 in the password") << latin1 << QStringList() << 6 << QString()
        << QStringLiteral("Password: the unit holds bytes that are not UTF-8 text, which KEY=value lines "
                          "cannot carry; --json shows them\n");
    QTest::newRow("not UTF-8 in the password, -o") << latin1 << QStringList{"-o", "out.ini"} << 6 << QString()
        << QStringLiteral("Password: the unit holds bytes that are not UTF-8 text, which a settings file "
                          "cannot carry; --json shows them\n");
    QTest::newRow("line break in the login, -o") << lineBreak << QStringList{"-o", "out.ini"} << 0 << QString()
                                                 << QString();
    QTest::newRow("not UTF-8 in the password, --json") << latin1 << QStringList{QStringLiteral("--json")} << 0
        << QStringLiteral(
        "{\"APN\":\"internet\",\"BalanceCode\":\"*100#\",\"CashDeskID\":\"0000123456\","
        "\"CommandTimeout\":\"500\",\"DNSaddr\":\"8.8.8.8\",\"EthIP\":\"192.168.0.100\","
        "\"EthMAC\":\"00-1a-2b-3c-4d-5e\",\"EthMask\":\"255.255.255.0\",\"FullTimeout\":\"1000\","
        "\"Gateway\":\"192.168.0.1\",\"IPsrv\":\"192.0.2.10\",\"Login\":\"guest\","
        "\"Password\":\"caf\uFFFD\",\"Port\":\"7777\",\"Priority\":2,\"RetryTimeout\":\"60\","
        "\"ServerToken\":\"1234567890\",\"URLaddr\":\"reports.example.net\",\"UseDHCP\":false,"
        "\"notUtf8\":{\"Password\":\"63 61 66 E9\"}}")
        << QString();
}

void TestTallyctl::readPrintsTheWindowsTexts()
{
    QFETCH(QByteArray, gprs);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    QFETCH(QString, err);
    sim.setGroup(8, gprs);
    QFile::remove(QStringLiteral("out.ini"));

    const Run run = tallyctl(QStringList{QStringLiteral("read"), QStringLiteral("--host"), Host} + options);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.err, err);
    if (options.contains(QStringLiteral("--json")))
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).toJson(QJsonDocument::Compact),
                 expected.toUtf8());
    else
        QCOMPARE(run.out, expected);
    QCOMPARE(hexList(sim.requests()),
             QStringList({"02 02 07 06 03", "02 02 07 07 02", "02 02 07 09 0c", "02 02 07 04 01",
                          "02 02 07 0a 0f", "02 02 07 08 0d"}));
    if (!options.contains(QStringLiteral("-o")))
        return;

    // What -o stores goes back to a unit as the unit held it; a file it refused is not written.
    QCOMPARE(QFile::exists(QStringLiteral("out.ini")), exitCode == 0);
    if (exitCode != 0)
        return;
    sim.restart();
    const Run write = tallyctl({"write", "out.ini", "--host", Host, "--only", "gprs"});
    QCOMPARE(write.exitCode, 0);
    QCOMPARE(sim.requests().size(), 1);
    QVERIFY(sim.requests().first().contains(gprs.mid(2)));
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
    QTest::addColumn<QByteArray>("profile");     // written as PROFILE first, when not empty

    const QStringList host = {QStringLiteral("--host"), Host};
    QTest::newRow("test server") << QStringList{"test", "server"} + host << 0
                                 << QStringLiteral("Время ответа: 120мс\n") << QString()
                                 << QStringList{"02 02 58 02 58"} << QByteArray();
    QTest::newRow("test signal --json") << QStringList{"test", "signal", "--json"} + host << 0
        << QStringLiteral("{\"test\":\"signal\",\"text\":\"Уровень сигнала: 75%\",\"value\":75}\n")
        << QString() << QStringList{"02 02 58 01 5b"} << QByteArray();
    QTest::newRow("reset z-reports") << QStringList{"reset", "z-reports", "--yes"} + host << 0
                                     << QStringLiteral("Сброс выполнен\n") << QString()
                                     << QStringList{"02 02 26 02 26"} << QByteArray();
    QTest::newRow("reset without --yes") << QStringList{"reset", "full"} + host << 1 << QString()
        << QStringLiteral("tallyctl: reset erases data on the unit: add --yes to go ahead")
        << QStringList() << QByteArray();
    QTest::newRow("no channel") << QStringList{"read"} << 1 << QString()
        << QStringLiteral("tallyctl: read talks to a unit: give --host ADDR[:PORT] or --serial NAME")
        << QStringList() << QByteArray();
    QTest::newRow("unknown command") << QStringList{"flash"} + host << 1 << QString()
                                     << QStringLiteral("tallyctl: unknown command \"flash\"")
                                     << QStringList() << QByteArray();
    QTest::newRow("unknown option") << QStringList{"read", "--fast"} + host << 1 << QString()
                                    << QStringLiteral("tallyctl: Unknown option 'fast'.") << QStringList() << QByteArray();
    QTest::newRow("profile that is not there") << QStringList{"write", "absent.ini"} + host << 2
        << QString() << QStringLiteral("tallyctl: cannot read the profile absent.ini") << QStringList() << QByteArray();
    QTest::newRow("nobody listening") << QStringList{"read", "--host", "127.0.0.10:1"} << 3
        << QString() << QStringLiteral("Не могу установить соединение 127.0.0.10:1") << QStringList() << QByteArray();
    QTest::newRow("--version") << QStringList{"-V"} << 0 << QStringLiteral("tallyctl 1.0.0\n")
                               << QString() << QStringList() << QByteArray();
    QTest::newRow("list-ports --help") << QStringList{"list-ports", "--help"} << 0 << QStringLiteral(
        "Usage: tallyctl [options] list-ports\n\nthe serial ports of this machine, one per line\n\nOptions:\n"
        "  --json                      machine-readable output; read, test and write print an\n"
        "                              object with exit and message when they fail\n"
        "  -h, --help                  this text\n"
        "  -V, --version               the version\n") << QString() << QStringList() << QByteArray();
    const QString unitAddress = Address.section(QLatin1Char('.'), 0, 2);
    QTest::newRow("leading-zero octet is decimal") << QStringList{"test", "server", "--host", unitAddress + ".010"}
        << 0 << QStringLiteral("Время ответа: 120мс\n") << QString() << QStringList{"02 02 58 02 58"} << QByteArray();
    const QString nobody = Address + QStringLiteral(":1");
    const QString notConnected = QStringLiteral("Не могу установить соединение ") + nobody;
    QTest::newRow("read --json, nobody listening") << QStringList{"read", "--json", "--host", nobody} << 3
        << QStringLiteral("{\"cashDeskId\":null,\"exit\":3,\"groups\":[],\"mac\":null,\"message\":\"%1\"}\n")
               .arg(notConnected)
        << notConnected << QStringList() << QByteArray();
    QTest::newRow("test --json, nobody listening") << QStringList{"test", "unit", "--json", "--host", nobody} << 3
        << QStringLiteral("{\"exit\":3,\"message\":\"%1\",\"test\":\"unit\"}\n").arg(notConnected)
        << notConnected << QStringList() << QByteArray();

    // What tallyctl refuses in a profile where the window shows a cut or garbled text in its
    // field: nothing is sent and the file stays as it is.
    const QStringList write = QStringList{"write", ProfileFile} + host;
    const QString refused = QStringLiteral("%1: %2 characters, more than the %3 of its field; nothing is cut "
                                           "on the command line");
    const QString noUnitsMac = QStringLiteral("EthMAC: %1, which no unit may have");
    QTest::newRow("saved as Windows-1251") << write << 2 << QString()
        << QStringLiteral("APN: line 9 is not UTF-8 text; save the profile as UTF-8") << QStringList()
        << profileWith("APN=\xE8\xED\xF2\xE5\xF0\xED\xE5\xF2");
    for (const bool bigEndian : {false, true}) {
        for (const bool mark : {true, false}) {
            const QString form = QStringLiteral("UTF-16 (%1-endian) text%2")
                                     .arg(bigEndian ? "big" : "little", mark ? "" : " without a byte order mark");
            QTest::newRow(qPrintable(QStringLiteral("saved as ") + form)) << write << 2 << QString()
                << QStringLiteral("tallyctl: the profile is %1; save it as UTF-8").arg(form) << QStringList()
                << utf16(ValidProfile, bigEndian, mark);
        }
    }
    QTest::newRow("a key given twice") << write << 2 << QString()
        << QStringLiteral("Priority: given twice, on lines 19 and 24; keep one") << QStringList()
        << QByteArray(ValidProfile).replace("[Shop]", "Priority=1\n[Shop]");
    // Qt reads any text as a boolean, and a priority that is no number as 0 (GPRS).
    const QStringList badValues = {"UseDHCP=no", "UseDHCP=off", "UseDHCP=нет", "UseDHCP=\"false\"", "UseDHCP=",
                                   "Priority=-1", "Priority=2abc", "Priority=", "Priority=1.5", "Priority=true",
                                   "Priority=99999999999"};
    for (const QString &line : badValues) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1).trimmed();
        const QString shown = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).mid(1))
                                  .chopped(1);
        QTest::newRow(qPrintable(line)) << write << 2 << QString()
            << (key == QLatin1String("UseDHCP")
                    ? QStringLiteral("UseDHCP: %1 is neither true nor false; write UseDHCP=true or UseDHCP=false")
                    : QStringLiteral("Priority: %1 is not a channel priority; write Priority=0 (GPRS), 1 (Ethernet), "
                                     "2 (GPRS+Ethernet) or 3 (Ethernet+GPRS)")).arg(shown)
            << QStringList() << profileWith(line.toUtf8());
    }
    QTest::newRow("key in another letter case") << write << 2 << QString()
        << QStringLiteral("Apn: no such key; the profile's key is APN (keys are case-sensitive)") << QStringList()
        << QByteArray(ValidProfile).replace("\nAPN=", "\nApn=");
    QTest::newRow("no Login, Password, URLaddr") << write << 2 << QString()
        << QStringLiteral("URLaddr: missing from the profile (an empty value is written URLaddr=)") << QStringList()
        << QByteArray(ValidProfile).replace("URLaddr=kassa.example\n", "").replace("\nLogin=", "\nX=")
               .replace("\nPassword=", "\nY=");
    QTest::newRow("no UseDHCP: an empty value would not do") << write << 2 << QString()
        << QStringLiteral("UseDHCP: missing from the profile; write UseDHCP=true or UseDHCP=false") << QStringList()
        << QByteArray(ValidProfile).replace("UseDHCP=false\n", "");
    QTest::newRow("no DNSaddr, no UseDHCP: UseDHCP is checked first") << write << 2 << QString()
        << QStringLiteral("UseDHCP: missing from the profile; write UseDHCP=true or UseDHCP=false") << QStringList()
        << QByteArray(ValidProfile).replace("UseDHCP=false\n", "").replace("DNSaddr=192.168.1.1\n", "");
    QTest::newRow("no keys at all") << write << 2 << QString()
        << QStringLiteral("FullTimeout: missing from the profile (an empty value is written FullTimeout=)")
        << QStringList() << QByteArray("[General]\n");
    QTest::newRow("token of 11 digits") << write << 2 << QString() << refused.arg("ServerToken").arg(11).arg(10)
                                        << QStringList() << profileWith("ServerToken=12345678901");
    QTest::newRow("cash-desk ID of 11 digits") << write << 2 << QString() << refused.arg("CashDeskID").arg(11).arg(10)
                                               << QStringList() << profileWith("CashDeskID=12345678901");
    QTest::newRow("MAC with a seventh part") << write << 2 << QString() << refused.arg("EthMAC").arg(20).arg(17)
                                             << QStringList() << profileWith("EthMAC=00-1a-2b-3c-4d-5e-77");
    QTest::newRow("URL of 129 bytes, as a unit may hold") << write << 2 << QString()
        << refused.arg("URLaddr").arg(129).arg(128) << QStringList() << profileWith("URLaddr=" + QByteArray(129, 'u'));
    QTest::newRow("; in the password") << write << 2 << QString()
        << QStringLiteral("Password: the INI format reads this line otherwise than it is written (; , \" \\ and a "
                          "leading @ are INI syntax); write the value in double quotes, with \\\" for a quote, "
                          "\\\\ for a backslash and @@ for a leading @")
        << QStringList() << profileWith("Password=a=b;c\"d");
    QTest::newRow("; in the login: the quoted form") << write << 2 << QString()
        << QStringLiteral("Login: the INI format reads this line as \"a=b\", not as it is written; to send the "
                          "text as written, write Login=\"a=b;c\\\"d\"")
        << QStringList() << profileWith("Login=a=b;c\"d");
    QTest::newRow("comment after the APN") << write << 2 << QString()
        << QStringLiteral("APN: the INI format reads this line as \"internet\", not as it is written; to send "
                          "the text as written, write APN=\"internet ; operator\"")
        << QStringList() << profileWith("APN=internet ; operator");
    QTest::newRow("broadcast MAC") << write << 2 << QString()
        << noUnitsMac.arg("ff-ff-ff-ff-ff-ff is the broadcast address") << QStringList()
        << profileWith("EthMAC=ff-ff-ff-ff-ff-ff\nIncrementMac=false");
    QTest::newRow("multicast MAC") << write << 2 << QString()
        << noUnitsMac.arg("01-00-5e-00-00-fb is a multicast address (the lowest bit of its first byte is set)")
        << QStringList() << profileWith("EthMAC=01-00-5e-00-00-fb");
    QTest::newRow("all-zero MAC") << write << 2 << QString()
        << noUnitsMac.arg("00-00-00-00-00-00 is the all-zero address") << QStringList()
        << profileWith("EthMAC=00-00-00-00-00-00");
    QTest::newRow("last MAC of the maker's block") << write << 2 << QString()
        << QStringLiteral("EthMAC: 00-1a-2b-ff-ff-ff is the last address of the block 00-1a-2b; the next one "
                          "would leave it. To go on past it, set LastMAC in the profile to the last address the "
                          "series may give")
        << QStringList() << profileWith("EthMAC=00-1a-2b-ff-ff-ff");
    QTest::newRow("past LastMAC") << write << 2 << QString()
        << QStringLiteral("EthMAC: 00-1a-2b-3c-4d-ff is past LastMAC 00-1a-2b-3c-4d-fe: the range up to "
                          "LastMAC is used up")
        << QStringList() << profileWith("LastMAC=00-1a-2b-3c-4d-fe");
    QTest::newRow("LastMAC no unit's") << write << 2 << QString()
        << QStringLiteral("LastMAC: 01-1a-2b-3c-4d-fe is a multicast address (the lowest bit of its first byte is "
                          "set), which no unit may have")
        << QStringList() << profileWith("LastMAC=01-1a-2b-3c-4d-fe");
}

void TestTallyctl::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, frames);
    QFETCH(QByteArray, profile);

    if (!profile.isEmpty())
        writeFile(ProfileFile, profile);
    const Run run = tallyctl(arguments);
    QVERIFY2(run.exitCode >= 0, qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(firstLine(run.err), err);
    QCOMPARE(hexList(sim.requests()), frames);
    if (!profile.isEmpty())
        QCOMPARE(fileBytes(ProfileFile), profile);
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
    QTest::newRow("test short of its value") << "short@58/02" << QStringList{"test", "server"} << 4
                                             << QStringLiteral("Ошибка тестирования связи с сервером")
                                             << QStringLiteral("< 02 01 00 01");
    QTest::newRow("write answer without its result byte") << "short@61" << write << 4
                                                          << QStringLiteral("Не удается записать токен")
                                                          << QStringLiteral("< 02 00 00");
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
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");      // the last line on stderr, when it is not the unit's failure

    const QByteArray on = profileWith("");
    const QByteArray off = profileWith("IncrementMac=false");
    QTest::newRow("IncrementMac in the profile") << on << QStringList() << QString()
                                                 << QStringLiteral("00-1a-2b-3c-4e-00") << 0 << QString();
    QTest::newRow("--increment-mac") << off << QStringList{"--increment-mac"} << QString()
                                     << QStringLiteral("00-1a-2b-3c-4e-00") << 0 << QString();
    QTest::newRow("--no-increment-mac") << on << QStringList{"--no-increment-mac"} << QString()
                                        << QStringLiteral("00-1a-2b-3c-4d-ff") << 0 << QString();
    QTest::newRow("--no-increment-mac wins") << off << QStringList{"--increment-mac", "--no-increment-mac"}
                                             << QString() << QStringLiteral("00-1a-2b-3c-4d-ff") << 0 << QString();
    QTest::newRow("off in the profile") << off << QStringList() << QString()
                                        << QStringLiteral("00-1a-2b-3c-4d-ff") << 0 << QString();
    // A MAC frame that went out is used up, whatever the unit answered: it may have stored it.
    QTest::newRow("MAC refused: used up all the same") << on << QStringList() << QStringLiteral("nak@69")
                                                       << QStringLiteral("00-1a-2b-3c-4e-00") << 4
                                                       << QStringLiteral("tallyctl: MAC 00-1a-2b-3c-4d-ff (sent, not "
                                                                         "confirmed) is used up: this unit may hold it, "
                                                                         "so no other unit gets it");
    QTest::newRow("a group before the MAC refused") << on << QStringList() << QStringLiteral("nak@65")
                                                    << QStringLiteral("00-1a-2b-3c-4d-ff") << 4 << QString();
    QTest::newRow("MAC taken, a later group refused") << on << QStringList()
                                                      << QStringLiteral("result=02@67")
                                                      << QStringLiteral("00-1a-2b-3c-4e-00") << 4 << QString();
    QTest::newRow("verified") << on << QStringList{"--verify"} << QString()
                              << QStringLiteral("00-1a-2b-3c-4e-00") << 0 << QString();
    QTest::newRow("confirmed but not held: used up") << on << QStringList{"--verify"}
                                                     << QStringLiteral("forget@69")
                                                     << QStringLiteral("00-1a-2b-3c-4e-00") << 5
                                                     << QStringLiteral("tallyctl: MAC 00-1a-2b-3c-4d-ff (confirmed, not "
                                                                       "verified) is used up: this unit may hold it, so "
                                                                       "no other unit gets it");
    QTest::newRow("held, another group not") << on << QStringList{"--verify"}
                                             << QStringLiteral("forget@61")
                                             << QStringLiteral("00-1a-2b-3c-4e-00") << 5
                                             << QStringLiteral("ServerToken: the unit holds another value than "
                                                               "the one sent (not shown: a secret)");
    QTest::newRow("password not held: named, not shown") << on
        << QStringList{"--verify", "--journal", "journal.jsonl"} << QStringLiteral("forget@63")
        << QStringLiteral("00-1a-2b-3c-4e-00") << 5
        << QStringLiteral("BalanceCode: sent \"*102#\", the unit holds \"*100#\"");
    QTest::newRow("IncrementMac=0") << profileWith("IncrementMac=0") << QStringList() << QString()
                                    << QStringLiteral("00-1a-2b-3c-4d-ff") << 0 << QString();
    QTest::newRow("IncrementMac=no: refused, not taken as on") << profileWith("IncrementMac=no") << QStringList()
        << QString() << QStringLiteral("00-1a-2b-3c-4d-ff") << 2
        << QStringLiteral("IncrementMac: \"no\" is neither true nor false; write IncrementMac=true or "
                          "IncrementMac=false");

    // Both series would give the second unit the next MAC if they went on.
    QTest::newRow("LastMAC used: the series ends") << profileWith("LastMAC=00-1a-2b-3c-4d-ff")
        << QStringList{"--series"} << QString() << QStringLiteral("00-1a-2b-3c-4e-00") << 0
        << QStringLiteral("tallyctl: the series ends here.");
#ifdef Q_OS_LINUX
    // The address goes on record before the file moves past it: without its line it stays.
    QTest::newRow("journal line not written: nothing reserved, the series ends") << on
        << QStringList{"--series", "--journal", "/dev/full"} << QString() << QStringLiteral("00-1a-2b-3c-4d-ff")
        << 1 << QStringLiteral("tallyctl: the series ends here.");
#endif
}

// Only the value of EthMAC changes; every other byte of the file stays as it was, and so do its
// mode and its owner (the line's, not root's when root's station stores the next MAC).
void TestTallyctl::nextMacInTheProfile()
{
    QFETCH(QByteArray, profile);
    QFETCH(QStringList, options);
    QFETCH(QString, fault);
    QFETCH(QString, mac);
    QFETCH(int, exitCode);
    QFETCH(QString, said);

    writeFile(ProfileFile, profile);
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(ProfileFile, mode));
#ifdef Q_OS_UNIX
    const bool root = ::geteuid() == 0;
    const uint owner = root ? 65534 : ::geteuid();
    const uint group = root ? 65534 : ::getegid();
    QCOMPARE(::chown(qPrintable(ProfileFile), owner, group), 0);
#endif
    if (!fault.isEmpty())
        QVERIFY(sim.addFault(fault));
    const Run run = tallyctl(QStringList{"write", ProfileFile, "--host", Host} + options, "\n\n");
    QCOMPARE(run.exitCode, exitCode);
    if (!said.isEmpty())
        QCOMPARE(run.err.trimmed().section(QLatin1Char('\n'), -1), said);
    // The password and the token never show, on stderr or in the journal.
    for (const QByteArray &secret : {QByteArray("0000000042"), QByteArray("пароль")}) {
        QVERIFY2(!run.err.toUtf8().contains(secret), qPrintable(run.err));
        QVERIFY(!fileBytes(QStringLiteral("journal.jsonl")).contains(secret));
    }

    QByteArray expected = profile;
    const int from = expected.indexOf("\nEthMAC=") + 8;
    int to = from;
    while (expected.at(to) != '\r' && expected.at(to) != '\n')
        ++to;
    expected.replace(from, to - from, mac.toLatin1());
    QCOMPARE(fileBytes(ProfileFile), expected);
#ifdef Q_OS_UNIX
    const QFile::Permissions userBits = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
    QCOMPARE(QFileInfo(ProfileFile).permissions() & ~userBits, mode);
    QCOMPARE(QFileInfo(ProfileFile).ownerId(), owner);
    QCOMPARE(QFileInfo(ProfileFile).groupId(), group);
#endif
}

void TestTallyctl::seriesGoesOnUntilEndOfInput()
{
    writeFile(ProfileFile, profileWith(""));
    // The first unit refuses its MAC: the address is used up all the same (the unit may have
    // stored it), and the second gets the next one. The second refuses its cash-desk ID, which
    // leaves its MAC its own.
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
             QStringLiteral("unit 1: failed (exit 4: Не удается записать MAC-адрес); "
                            "MAC 00-1a-2b-3c-4d-ff (sent, not confirmed); cash-desk ID -\n"
                            "unit 2: failed (exit 4: Не удается записать ID ККМ); "
                            "MAC 00-1a-2b-3c-4e-00 (confirmed); cash-desk ID -\n"
                            "unit 3: ok; MAC 00-1a-2b-3c-4e-01 (confirmed); cash-desk ID 0000000017\n"));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("Connect the next unit and press Enter")), 3);
    QCOMPARE(QSettings(ProfileFile, QSettings::IniFormat).value(QStringLiteral("EthMAC")).toString(),
             QStringLiteral("00-1a-2b-3c-4e-02"));

    // A reservation line before each MAC frame, a line per unit after it.
    const QList<QByteArray> lines = fileBytes(QStringLiteral("journal.jsonl")).split('\n');
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.last(), QByteArray());
    const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                .match(first.value(QStringLiteral("time")).toString()).hasMatch());
    QCOMPARE(QJsonDocument::fromJson(lines.at(1)).object().size(), 10);
    // The profile as the system names it (C:\...\tallyconf.ini on Windows), in JSON.
    const QString profilePath = QDir::toNativeSeparators(QFileInfo(ProfileFile).canonicalFilePath())
                                    .replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    const auto entry = [&lines](int i) {
        QJsonObject object = QJsonDocument::fromJson(lines.at(i)).object();
        object.remove(QStringLiteral("time"));
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    const auto reserved = [&profilePath](int unit, const char *mac) {
        return QStringLiteral("{\"channel\":\"tcp:%1\",\"event\":\"reserved\",\"mac\":\"%2\","
                              "\"profile\":\"%3\",\"unit\":%4}")
            .arg(Host, QLatin1String(mac), profilePath).arg(unit);
    };
    QCOMPARE(entry(0), reserved(1, "00-1a-2b-3c-4d-ff"));
    QCOMPARE(entry(1), QStringLiteral("{\"cashDeskId\":null,\"channel\":\"tcp:") + Host + QStringLiteral("\","
                                      "\"command\":\"write\",\"exit\":4,\"groups\":[],\"mac\":\"00-1a-2b-3c-4d-ff\","
                                      "\"macConfirmed\":false,\"macVerified\":null,"
                                      "\"message\":\"Не удается записать MAC-адрес\"}"));
    QCOMPARE(entry(2), reserved(2, "00-1a-2b-3c-4e-00"));
    QCOMPARE(entry(3), QStringLiteral("{\"cashDeskId\":null,\"channel\":\"tcp:") + Host + QStringLiteral("\","
                                      "\"command\":\"write\",\"exit\":4,\"groups\":[\"mac\"],"
                                      "\"mac\":\"00-1a-2b-3c-4e-00\",\"macConfirmed\":true,\"macVerified\":null,"
                                      "\"message\":\"Не удается записать ID ККМ\"}"));
    QCOMPARE(entry(4), reserved(3, "00-1a-2b-3c-4e-01"));
    QCOMPARE(entry(5), QStringLiteral("{\"cashDeskId\":\"0000000017\",\"channel\":\"tcp:") + Host + QStringLiteral("\","
                                      "\"command\":\"write\",\"exit\":0,\"groups\":[\"mac\",\"cashdesk\"],"
                                      "\"mac\":\"00-1a-2b-3c-4e-01\",\"macConfirmed\":true,\"macVerified\":null,"
                                      "\"message\":\"\"}"));
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

#ifdef Q_OS_LINUX
    // A disk that takes only part of a line (here the journal reaches a size limit of 2048 bytes
    // amid it, the signal for that ignored): the part is cut off again, so that the next line
    // written, once there is room, starts a line of its own.
    const QByteArray before = "{\"note\":\"" + QByteArray(2000, 'x') + "\"}\n";
    writeFile(QStringLiteral("journal.jsonl"), before);
    QProcess limited;
    limited.start(QStringLiteral("sh"), {"-c", "ulimit -f 4; trap '' XFSZ; exec \"$0\" \"$@\"", TALLYCTL_PATH, "write",
                                        ProfileFile, "--host", "127.0.0.10:1", "--journal", "journal.jsonl"});
    QVERIFY(limited.waitForFinished(20000));
    QCOMPARE(limited.exitCode(), 3);
    QCOMPARE(fileBytes(QStringLiteral("journal.jsonl")), before);
    const QString err = QString::fromUtf8(limited.readAllStandardError());
    QVERIFY2(err.split(QLatin1Char('\n')).contains(QStringLiteral("tallyctl: cannot write the journal journal.jsonl: "
                                                                  "the disk took only part of the line")),
             qPrintable(err));
#endif
}

void TestTallyctl::stationsShareAProfile_data()
{
    QTest::addColumn<int>("stations");
    QTest::addColumn<int>("units");     // each

    QTest::newRow("two stations") << 2 << 10;
    QTest::newRow("four stations") << 4 << 10;
}

// Stations on several ports write a series each from one profile at the same time: every unit
// gets an address of its own, the addresses follow one another from the profile's first, each
// is on record in the journal, and the file ends one past the last.
void TestTallyctl::stationsShareAProfile()
{
    QFETCH(int, stations);
    QFETCH(int, units);
    writeFile(ProfileFile, profileWith(""));
    const QString first = QStringLiteral("00-1a-2b-3c-4d-ff");

    std::vector<std::unique_ptr<SimulatorFixture>> unitsOnPorts;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < stations; ++i) {
        const QString address = testAddress(11 + i);
        unitsOnPorts.emplace_back(new SimulatorFixture(address));
        QVERIFY(unitsOnPorts.back()->isListening());
        processes.emplace_back(new QProcess);
        processes.back()->start(QStringLiteral(TALLYCTL_PATH),
                                {"write", ProfileFile, "--host", address + QStringLiteral(":20107"), "--series",
                                 "--increment-mac", "--journal", "journal.jsonl"});
    }
    for (const auto &process : processes) {
        QVERIFY(process->waitForStarted(5000));
        process->write(QByteArray(units - 1, '\n'));
        process->closeWriteChannel();
    }
    for (const auto &process : processes) {
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitCode(), 0);
    }

    QStringList sent;
    for (const auto &unit : unitsOnPorts) {
        QCOMPARE(macsSent(unit->requests()).size(), units);
        sent += macsSent(unit->requests());
    }
    QStringList expected;
    for (int i = 0; i < stations * units; ++i)
        expected << macPlus(first, i);
    sent.sort();
    QCOMPARE(sent, expected);
    QCOMPARE(profileMac(), macPlus(first, stations * units));
    const QList<QJsonObject> lines = journalLines();
    QCOMPARE(lines.size(), 2 * stations * units);
    QStringList reserved = reservedMacs(lines);
    reserved.sort();
    QCOMPARE(reserved, expected);
    QCOMPARE(unconfirmedMacs(lines), QStringList());
}

void TestTallyctl::profileLock_data()
{
    QTest::addColumn<QString>("holder");        // of PROFILE.lock (or of the journal's) as tallyctl starts
    QTest::addColumn<int>("lockTimeout");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("said");      // stderr; PID and HOST stand for this process's,
                                                // RESOLVED for the profile's path, links resolved

    // How the lock itself takes what it finds (another computer's, empty, a folder) is
    // tst_macseries'; here, what two processes show.
    QTest::newRow("left by a station that was killed") << "killed" << 1 << 0 << QStringList();
    QTest::newRow("a live program here, named after 2 s") << "here" << 3 << 2 << QStringList{
        "tallyctl: tallyconf.ini.lock is held by tst_tallyctl (pid PID) on HOST; waiting up to 3 s",
        "tallyctl: tallyconf.ini.lock is still held by tst_tallyctl (pid PID) on HOST after 3 s", NothingSent};
#ifdef Q_OS_UNIX
    // Every name of the profile leads to one lock.
    QTest::newRow("a live program here, the profile reached by a symbolic link") << "here, symbolic link" << 1
        << 2 << QStringList{"tallyctl: RESOLVED.lock is still held by tst_tallyctl (pid PID) on HOST after 1 s",
                            NothingSent};
#endif
    // The journal's lock is waited for as the profile's, before anything goes to the unit, and
    // again for the unit's line.
    QTest::newRow("the journal's, a live program here") << "journal, here" << 3 << 2 << QStringList{
        "tallyctl: journal.jsonl.lock is held by tst_tallyctl (pid PID) on HOST; waiting up to 3 s",
        "tallyctl: journal.jsonl.lock is held by tst_tallyctl (pid PID) on HOST; waiting up to 3 s",
        "tallyctl: journal.jsonl.lock is still held by tst_tallyctl (pid PID) on HOST after 3 s", NothingSent,
        "tallyctl: cannot lock the journal journal.jsonl: journal.jsonl.lock is still held by tst_tallyctl "
        "(pid PID) on HOST after 3 s"};
    // Checked before the unit is touched, as a lock file its folder does not take would be.
    QTest::newRow("the journal's, a folder") << "journal, folder" << 1 << 1 << QStringList{
        "tallyctl: cannot write the journal journal.jsonl: journal.jsonl.lock is a folder, not a lock file: "
        "remove or rename it"};
}

// A lock whose holder is gone is taken over; one that is held, or cannot be, stops the write
// before anything reaches the unit, the profile and the lock left as they were.
void TestTallyctl::profileLock()
{
    QFETCH(QString, holder);
    QFETCH(int, lockTimeout);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    const QByteArray profile = profileWith("");
    writeFile(ProfileFile, profile);
    const QString journalLockPath = QStringLiteral("journal.jsonl.lock");
    const bool ofJournal = holder.startsWith(QLatin1String("journal"));
    const QString lockPath = ofJournal ? journalLockPath : ProfileFile + QStringLiteral(".lock");
    QString profileName = ProfileFile;
    QLockFile held(lockPath);
    const bool live = holder == QLatin1String("here") || holder.startsWith(QLatin1String("here,"))
        || holder.endsWith(QLatin1String(", here"));
    if (live) {
        QVERIFY(held.tryLock(0));
    } else if (holder.endsWith(QLatin1String("folder"))) {
        QVERIFY(QDir().mkdir(lockPath));
    } else if (holder == QLatin1String("killed")) {
        const QByteArray forged = lockFileOf(deadPid(), QByteArray());
        QVERIFY(!forged.isEmpty());
        writeFile(lockPath, forged);
    }
#ifdef Q_OS_UNIX
    if (holder.endsWith(QLatin1String("symbolic link"))) {
        profileName = QStringLiteral("linked/") + ProfileFile;
        QVERIFY(QDir().mkdir(QStringLiteral("linked")));
        QVERIFY(QFile::link(QFileInfo(ProfileFile).absoluteFilePath(), profileName));
    }
#endif

    // The host as the lock names it: Windows gives its computer name there, in capitals.
    qint64 pid = 0;
    QString host;
    QString program;
    if (live)
        QVERIFY(held.getLockInfo(&pid, &host, &program));

    QStringList arguments{"write", profileName, "--host", Host, "--increment-mac", "--lock-timeout",
                          QString::number(lockTimeout)};
    if (ofJournal)
        arguments << QStringLiteral("--journal") << QStringLiteral("journal.jsonl");
    const Run run = tallyctl(arguments);
    for (QString &line : said)
        line.replace(QLatin1String("PID"), QString::number(QCoreApplication::applicationPid()))
            .replace(QLatin1String("HOST"), host)
            .replace(QLatin1String("RESOLVED"), QFileInfo(ProfileFile).canonicalFilePath());
    QCOMPARE(run.err.isEmpty() ? QStringList() : run.err.trimmed().split(QLatin1Char('\n')), said);
    QCOMPARE(run.exitCode, exitCode);
    const bool taken = exitCode == 0;
    QCOMPARE(macsSent(sim.requests()), taken ? QStringList{"00-1a-2b-3c-4d-ff"} : QStringList());
    QCOMPARE(sim.requests().size(), taken ? 8 : 0);
    QCOMPARE(fileBytes(ProfileFile), taken ? profileWith("EthMAC=00-1a-2b-3c-4e-00") : profile);
    QCOMPARE(QFileInfo(profileName).isSymLink(), profileName != ProfileFile);
    if (taken)
        QVERIFY(!QFile::exists(lockPath));
    held.unlock();
}

void TestTallyctl::cutOffMidWrite_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("trigger");           // the command whose frame reaching the unit is the
                                                // moment; 0: the station telling who holds the
                                                // journal's lock
    QTest::addColumn<QString>("edit");          // the EthMAC another station stores then; empty: kill
    QTest::addColumn<int>("exitCode");          // of the write, unless killed
    QTest::addColumn<QString>("macAfter");      // EthMAC in the profile after it
    QTest::addColumn<int>("laterExit");         // of a series of two units after it
    QTest::addColumn<QStringList>("sent");      // the MACs the unit got over both, in order
    QTest::addColumn<QString>("macEnd");        // EthMAC in the profile at the end
    QTest::addColumn<QStringList>("unconfirmed");   // reserved in the journal, confirmed by no unit

    const QByteArray on = profileWith("");
    // Kept from the journal, the station waits for its lock holding no other, before the unit
    // hears anything: killed there, it leaves no lock and the address is still the next one's.
    QTest::newRow("killed while it waits for the journal's lock")
        << on << QString() << 0 << QString() << 0 << "00-1a-2b-3c-4d-ff" << 0
        << QStringList{"00-1a-2b-3c-4d-ff", "00-1a-2b-3c-4e-00"} << "00-1a-2b-3c-4e-01" << QStringList();
    QTest::newRow("killed waiting for the MAC's answer") << on << "silent@69" << 0x69 << QString() << 0
        << "00-1a-2b-3c-4e-00" << 0 << QStringList{"00-1a-2b-3c-4d-ff", "00-1a-2b-3c-4e-00", "00-1a-2b-3c-4e-01"}
        << "00-1a-2b-3c-4e-02" << QStringList{"00-1a-2b-3c-4d-ff"};
    // The address is the file's when the MAC frame is due, not the one loaded at the start.
    QTest::newRow("another station moved EthMAC on meanwhile") << on << "delay=500@65" << 0x65
        << "00-1a-2b-3c-4e-10" << 0 << "00-1a-2b-3c-4e-11" << 0
        << QStringList{"00-1a-2b-3c-4e-10", "00-1a-2b-3c-4e-11", "00-1a-2b-3c-4e-12"} << "00-1a-2b-3c-4e-13"
        << QStringList();
    QTest::newRow("another station went past LastMAC meanwhile") << profileWith("LastMAC=00-1a-2b-3c-4e-05")
        << "delay=500@65" << 0x65 << "00-1a-2b-3c-4e-06" << 2 << "00-1a-2b-3c-4e-06" << 2 << QStringList()
        << "00-1a-2b-3c-4e-06" << QStringList();
}

// A write cut off anywhere (killed, or the profile changed under it) never leads a second unit
// to an address a unit got, and what may have reached a unit unconfirmed is in the journal.
void TestTallyctl::cutOffMidWrite()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, fault);
    QFETCH(int, trigger);
    QFETCH(QString, edit);
    QFETCH(int, exitCode);
    QFETCH(QString, macAfter);
    QFETCH(int, laterExit);
    QFETCH(QStringList, sent);
    QFETCH(QString, macEnd);
    QFETCH(QStringList, unconfirmed);
    writeFile(ProfileFile, profile);
    if (!fault.isEmpty())
        QVERIFY(sim.addFault(fault));
    const QString lockPath = ProfileFile + QStringLiteral(".lock");
    QLockFile journalLock(QStringLiteral("journal.jsonl.lock"));
    if (trigger == 0)
        QVERIFY(journalLock.tryLock(0));

    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(TALLYCTL_PATH),
                  {"write", ProfileFile, "--host", Host, "--increment-mac", "--journal", "journal.jsonl"});
    QVERIFY(process.waitForStarted(5000));
    process.closeWriteChannel();
    const auto unitGot = [&](int command) {
        for (const QByteArray &frame : sim.requests()) {
            if (frame.size() > 2 && uchar(frame.at(2)) == command)
                return true;
        }
        return false;
    };
    const auto reached = [&] {
        if (trigger != 0)
            return unitGot(trigger);
        process.waitForReadyRead(10);
        return process.peek(1 << 16).contains("journal.jsonl.lock is held by");
    };
    QElapsedTimer clock;
    clock.start();
    // Far beyond the moment's own time: under Wine on a loaded machine a start takes seconds.
    while (!reached() && clock.elapsed() < 30000)
        QThread::msleep(2);
    QVERIFY(reached());
    if (edit.isEmpty())
        process.kill();
    else
        writeFile(ProfileFile, QByteArray(profile).replace("EthMAC=00-1a-2b-3c-4d-ff", "EthMAC=" + edit.toLatin1()));
    QVERIFY(process.waitForFinished(30000));
    // The killed station's line is gone for the simulator once the network tells it; the next
    // station must not wait behind it.
    sim.hangUp();
    if (edit.isEmpty())
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    else
        QCOMPARE(process.exitCode(), exitCode);
    journalLock.unlock();
    // Waiting for the journal's lock, the station had not opened the channel yet.
    QVERIFY(trigger != 0 || sim.requests().isEmpty());
    QCOMPARE(profileMac(), macAfter);
    // No station leaves the profile's lock behind: it holds it only while it waits for nothing.
    QVERIFY(!QFile::exists(lockPath));

    sim.clearFaults();
    const Run later = tallyctl({"write", ProfileFile, "--host", Host, "--increment-mac", "--series", "--journal",
                                "journal.jsonl"}, "\n");
    QCOMPARE(later.exitCode, laterExit);
    QCOMPARE(macsSent(sim.requests()), sent);
    QCOMPARE(profileMac(), macEnd);
    QVERIFY(!QFile::exists(lockPath));
    const QList<QJsonObject> lines = journalLines();
    for (const QString &mac : sent)
        QVERIFY2(reservedMacs(lines).contains(mac), qPrintable(mac));
    QCOMPARE(unconfirmedMacs(lines), unconfirmed);
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
