// The link against the unit simulator over loopback TCP: what goes on the wire, what comes back
// into the records, and how each kind of misbehaving unit ends an operation.
#include "devicelink.h"
#include "records.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testbytes.h"
#include "testmain.h"

#include <QElapsedTimer>

#include <cstring>
#include <memory>

namespace {

const QString unitAddress = testAddress(3);

enum Operation {
    ReadCashDeskState, ReadTimeouts, ReadServerAddress, ReadGprs, ReadEthernet, ReadPriority,
    WriteTimeouts, WriteToken, WriteServerAddress, WriteGprs, WriteCashDeskId, WriteEthernet,
    WritePriority, WriteMac, ResetFull, UnitStatus, ModemStatus, ServerTest, SignalTest
};

// What an operation left behind: its flag, the record it read or wrote, the text or value.
struct Outcome {
    bool ok = false;
    QByteArray record;
    QString text;
    int value = -2;
};

// A read into a record filled with 0xCC first, so bytes the read did not touch stand out.
template <typename Record>
Outcome readInto(DeviceLink &link, bool (DeviceLink::*read)(Record &))
{
    Record record;
    std::memset(&record, 0xCC, sizeof record);
    Outcome out;
    out.ok = (link.*read)(record);
    out.record = bytesOf(record);
    return out;
}

// The records every write sends: the values of the documented byte examples.
Outcome perform(DeviceLink &link, Operation operation)
{
    Outcome out;
    switch (operation) {
    case ReadCashDeskState:
        return readInto(link, &DeviceLink::readCashDeskState);
    case ReadTimeouts:
        return readInto(link, &DeviceLink::readTimeouts);
    case ReadServerAddress:
        return readInto(link, &DeviceLink::readServerAddress);
    case ReadGprs:
        return readInto(link, &DeviceLink::readGprsSettings);
    case ReadEthernet:
        return readInto(link, &DeviceLink::readEthernetSettings);
    case ReadPriority:
        return readInto(link, &DeviceLink::readChannelPriority);
    case WriteTimeouts: {
        TimeoutSettings r = {};
        setLe16(r.fullTimeout, 1000);
        setLe16(r.commandTimeout, 500);
        setLe16(r.retryPeriod, 60);
        out.ok = link.writeTimeouts(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteToken: {
        TokenRecord r = {0, {0x21, 0x43, 0x65, 0x87, 0x09}};
        out.ok = link.writeToken(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteServerAddress: {
        ServerAddress r = {};
        const quint8 ip[4] = {192, 168, 1, 10};
        std::memcpy(r.ip, ip, 4);
        setLe16(r.port, 8080);
        std::memcpy(r.url, "a.ru", 4);
        out.ok = link.writeServerAddress(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteGprs: {
        GprsSettings r = {};
        out.ok = link.writeGprsSettings(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteCashDeskId: {
        CashDeskIdRecord r = {0, {0x21, 0x43, 0x65, 0x87, 0x09}};
        out.ok = link.writeCashDeskId(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteEthernet: {
        EthernetSettings r = {};
        const quint8 ip[4] = {192, 168, 1, 10}, mask[4] = {255, 255, 255, 0},
                     gateway[4] = {192, 168, 1, 1}, dns[4] = {8, 8, 8, 8};
        std::memcpy(r.ip, ip, 4);
        std::memcpy(r.mask, mask, 4);
        std::memcpy(r.gateway, gateway, 4);
        std::memcpy(r.dns, dns, 4);
        r.dhcp = 1;
        std::memset(r.mac, 0xEE, 6);     // not the Ethernet write's business
        out.ok = link.writeEthernetSettings(r);
        out.record = bytesOf(r);
        break;
    }
    case WritePriority: {
        ChannelPriority r = {0, 2};
        out.ok = link.writeChannelPriority(r);
        out.record = bytesOf(r);
        break;
    }
    case WriteMac: {
        MacRecord r = {0, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
        out.ok = link.writeMac(r);
        out.record = bytesOf(r);
        break;
    }
    case ResetFull:
        out.ok = link.resetData(0);
        break;
    case UnitStatus:
        out.text = QStringLiteral("untouched");
        out.ok = link.readUnitStatus(out.text);
        break;
    case ModemStatus:
        out.text = QStringLiteral("untouched");
        out.ok = link.readModemStatus(out.text);
        break;
    case ServerTest:
        out.ok = link.measureServerResponse(out.value);
        break;
    case SignalTest:
        out.ok = link.measureSignalLevel(out.value);
        break;
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestDeviceLink : public QObject
{
    Q_OBJECT

private slots:
    void openTcpWithNothingListening();
    void init();
    void cleanup();

    void requestOnWire_data();
    void requestOnWire();
    void readsFillRecords_data();
    void readsFillRecords();
    void responseLength_data();
    void responseLength();
    void roundTrip_data();
    void roundTrip();
    void faults_data();
    void faults();
    void refusedReadKeepsRecord_data();
    void refusedReadKeepsRecord();

    void statusDialogue_data();
    void statusDialogue();
    void endlessStatusStopsAt256Parts();
    void testValues_data();
    void testValues();
    void answerBound_data();
    void answerBound();

    void emptyResponseFrame();
    void readBytesTakesBufferedBytes();
    void readBytesStopsAtGap();
    void closeTwiceAndReopen();

private:
    std::unique_ptr<SimulatorFixture> unit;
    DeviceLink link;
};

void TestDeviceLink::openTcpWithNothingListening()
{
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link.openTcp(unitAddress));
    QVERIFY(clock.elapsed() < 1500);
    QVERIFY(!link.isOpen());
    link.close();
    QVERIFY(!link.isOpen());
}

void TestDeviceLink::init()
{
    // The first test needs the address with nobody listening; the unit starts after it.
    if (qstrcmp(QTest::currentTestFunction(), "openTcpWithNothingListening") == 0)
        return;
    if (!unit) {
        unit.reset(new SimulatorFixture(unitAddress));
        QVERIFY(unit->isListening());
    }
    // The link of the test before may still be the simulator's caller (a bounded one drops its
    // line while the unit is still talking).
    unit->hangUp();
    unit->restart();
    QVERIFY(link.openTcp(unitAddress));
    QVERIFY(link.isOpen());
}

void TestDeviceLink::cleanup()
{
    link.close();
}

void TestDeviceLink::requestOnWire_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("read group 4") << ReadCashDeskState << hex("02 02 07 04 01");
    QTest::newRow("read group 6") << ReadTimeouts << hex("02 02 07 06 03");
    QTest::newRow("read group 7") << ReadServerAddress << hex("02 02 07 07 02");
    QTest::newRow("read group 8") << ReadGprs << hex("02 02 07 08 0D");
    QTest::newRow("read group 9") << ReadEthernet << hex("02 02 07 09 0C");
    QTest::newRow("read group 10") << ReadPriority << hex("02 02 07 0A 0F");
    QTest::newRow("write timeouts") << WriteTimeouts << hex("02 07 60 E8 03 F4 01 3C 00 45");
    QTest::newRow("write token") << WriteToken << hex("02 06 61 21 43 65 87 09 EE");
    QTest::newRow("write server") << WriteServerAddress
                                  << hex("02 0C 62 C0 A8 01 0A 90 1F 04 61 2E 72 75 CE");
    QTest::newRow("write gprs") << WriteGprs << hex("02 06 63 00 00 00 00 00 65");
    QTest::newRow("write cash desk id") << WriteCashDeskId << hex("02 06 64 21 43 65 87 09 EB");
    QTest::newRow("write ethernet")
        << WriteEthernet << hex("02 13 65 00 C0 A8 01 0A FF FF FF 00 C0 A8 01 01 08 08 08 08 01 83");
    QTest::newRow("write priority") << WritePriority << hex("02 02 67 02 67");
    QTest::newRow("write mac") << WriteMac << hex("02 07 69 00 11 22 33 44 55 7F");
    QTest::newRow("reset") << ResetFull << hex("02 02 26 00 24");
    QTest::newRow("server test") << ServerTest << hex("02 02 58 02 58");
    QTest::newRow("signal test") << SignalTest << hex("02 02 58 01 5B");
}

void TestDeviceLink::requestOnWire()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, request);

    QVERIFY(perform(link, operation).ok);
    const QList<QByteArray> log = unit->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().toHex(), request.toHex());
}

void TestDeviceLink::readsFillRecords_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("record");

    const QByteArray cashDesk = QByteArray(15, char(0x5A)) + hex("21 43 65 87 09 90 78 56 34 12");
    QTest::newRow("cash desk state") << ReadCashDeskState << 4 << cashDesk << cashDesk;
    QTest::newRow("timeouts") << ReadTimeouts << 6 << hex("00 E8 03 F4 01 3C 00")
                              << hex("00 E8 03 F4 01 3C 00");
    const QByteArray ethernet =
        hex("00 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 02 00 1A 2B 3C 4D 5E");
    QTest::newRow("ethernet, dhcp 02") << ReadEthernet << 9 << ethernet << ethernet;
    QTest::newRow("priority 3") << ReadPriority << 10 << hex("00 03") << hex("00 03");
    QTest::newRow("priority 4 is still read") << ReadPriority << 10 << hex("00 04")
                                              << hex("00 04");
    // Ten bytes: IP, port, a URL length and two URL bytes; everything after them is zero.
    QTest::newRow("server address of 10")
        << ReadServerAddress << 7 << hex("00 0A 00 00 01 50 00 02 61 62")
        << (hex("00 0A 00 00 01 50 00 02 61 62") + QByteArray(127, '\0'));
    QTest::newRow("server address empty") << ReadServerAddress << 7 << QByteArray()
                                          << QByteArray(137, '\0');
    QTest::newRow("gprs four empty strings") << ReadGprs << 8 << hex("00 00 00 00 00 00")
                                             << QByteArray(114, '\0');

    QByteArray gprs(114, '\0');
    gprs[2] = 2;
    gprs.replace(3, 2, "ap");
    gprs[36] = 1;
    gprs[37] = 'l';
    gprs[104] = 3;
    gprs.replace(105, 3, "*1#");
    QTest::newRow("gprs strings into slots") << ReadGprs << 8
                                             << hex("00 00 02 61 70 01 6C 00 03 2A 31 23") << gprs;
}

void TestDeviceLink::readsFillRecords()
{
    QFETCH(Operation, operation);
    QFETCH(int, group);
    QFETCH(QByteArray, response);
    QFETCH(QByteArray, record);

    unit->setGroup(quint8(group), response);
    const Outcome out = perform(link, operation);
    QVERIFY(out.ok);
    QCOMPARE(out.record.toHex(), record.toHex());
}

void TestDeviceLink::responseLength_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("group 6 of 6") << ReadTimeouts << 6 << QByteArray(6, '\1') << false;
    QTest::newRow("group 6 of 8") << ReadTimeouts << 6 << QByteArray(8, '\1') << false;
    QTest::newRow("group 4 of 24") << ReadCashDeskState << 4 << QByteArray(24, '\1') << false;
    QTest::newRow("group 4 of 26") << ReadCashDeskState << 4 << QByteArray(26, '\1') << false;
    QTest::newRow("group 9 of 19") << ReadEthernet << 9 << QByteArray(19, '\1') << false;
    QTest::newRow("group 10 of 1") << ReadPriority << 10 << QByteArray(1, '\1') << false;
    QTest::newRow("group 10 of 3") << ReadPriority << 10 << QByteArray(3, '\1') << false;
    QTest::newRow("group 7 of 137") << ReadServerAddress << 7 << QByteArray(137, '\1') << true;
    QTest::newRow("group 7 of 138") << ReadServerAddress << 7 << QByteArray(138, '\1') << false;
    QTest::newRow("group 8 one byte extra") << ReadGprs << 8 << hex("00 00 00 00 00 00 00")
                                            << false;
    QTest::newRow("group 8 login of 33") << ReadGprs << 8
                                         << (hex("00 00 00 21") + QByteArray(33, 'l') + hex("00 00"))
                                         << false;
    QTest::newRow("group 8 string past the end") << ReadGprs << 8 << hex("00 00 05 61 62")
                                                 << false;
}

void TestDeviceLink::responseLength()
{
    QFETCH(Operation, operation);
    QFETCH(int, group);
    QFETCH(QByteArray, response);
    QFETCH(bool, accepted);

    unit->setGroup(quint8(group), response);
    QCOMPARE(perform(link, operation).ok, accepted);
}

void TestDeviceLink::roundTrip_data()
{
    QTest::addColumn<Operation>("write");
    QTest::addColumn<Operation>("read");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("blank");
    QTest::addColumn<int>("writtenFrom");
    QTest::addColumn<int>("readFrom");
    QTest::addColumn<int>("length");

    QTest::newRow("timeouts") << WriteTimeouts << ReadTimeouts << 6 << QByteArray(7, '\0')
                              << 1 << 1 << 6;
    QTest::newRow("token") << WriteToken << ReadCashDeskState << 4 << QByteArray(25, '\0')
                           << 1 << 20 << 5;
    QTest::newRow("cash desk id") << WriteCashDeskId << ReadCashDeskState << 4
                                  << QByteArray(25, '\0') << 1 << 15 << 5;
    QTest::newRow("server address") << WriteServerAddress << ReadServerAddress << 7
                                    << QByteArray(137, '\x7F') << 1 << 1 << 136;
    QTest::newRow("ethernet") << WriteEthernet << ReadEthernet << 9 << QByteArray(25, '\0')
                              << 2 << 2 << 17;
    QTest::newRow("priority") << WritePriority << ReadPriority << 10 << hex("00 00") << 1 << 1 << 1;
    QTest::newRow("mac") << WriteMac << ReadEthernet << 9 << QByteArray(25, '\0') << 1 << 19 << 6;
}

void TestDeviceLink::roundTrip()
{
    QFETCH(Operation, write);
    QFETCH(Operation, read);
    QFETCH(int, group);
    QFETCH(QByteArray, blank);
    QFETCH(int, writtenFrom);
    QFETCH(int, readFrom);
    QFETCH(int, length);

    unit->setGroup(quint8(group), blank);
    const Outcome written = perform(link, write);
    QVERIFY(written.ok);
    const Outcome readBack = perform(link, read);
    QVERIFY(readBack.ok);
    QCOMPARE(readBack.record.mid(readFrom, length).toHex(),
             written.record.mid(writtenFrom, length).toHex());
}

void TestDeviceLink::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    // A refusal ends the command at once; no response is waited for.
    QTest::newRow("nak on read") << "nak@07/06" << ReadTimeouts << false << 0 << 800;
    QTest::newRow("nak on write") << "nak@60" << WriteTimeouts << false << 0 << 800;
    QTest::newRow("nak on gprs write") << "nak@63" << WriteGprs << false << 0 << 800;
    QTest::newRow("nak on reset") << "nak@26" << ResetFull << false << 0 << 800;
    QTest::newRow("nak on unit status") << "nak@55" << UnitStatus << false << 0 << 800;
    QTest::newRow("nak on test") << "nak@58/02" << ServerTest << false << 0 << 800;

    QTest::newRow("no ack on read") << "noack@07/06" << ReadTimeouts << false << 900 << 2500;
    QTest::newRow("no ack on mac") << "noack@69" << WriteMac << false << 900 << 2500;
    QTest::newRow("no ack on signal") << "noack@58/01" << SignalTest << false << 900 << 2500;
    QTest::newRow("silent on read") << "silent@07/0A" << ReadPriority << false << 900 << 2500;
    QTest::newRow("silent on write") << "silent@67" << WritePriority << false << 900 << 2500;
    QTest::newRow("silent on gprs write") << "silent@63" << WriteGprs << false << 900 << 2500;

    QTest::newRow("bad checksum on read") << "badsum@07/09" << ReadEthernet << false << 0 << 800;
    QTest::newRow("bad checksum on write") << "badsum@61" << WriteToken << false << 0 << 800;
    QTest::newRow("bad checksum on test") << "badsum@58/02" << ServerTest << false << 0 << 800;
    QTest::newRow("bad stx on read") << "badstx@07/04" << ReadCashDeskState << false << 0 << 800;
    QTest::newRow("bad stx on write") << "badstx@64" << WriteCashDeskId << false << 0 << 800;
    QTest::newRow("bad stx on reset") << "badstx@26" << ResetFull << false << 0 << 800;
    QTest::newRow("long group 6") << "badlen@07/06" << ReadTimeouts << false << 0 << 800;
    QTest::newRow("short group 6") << "short@07/06" << ReadTimeouts << false << 0 << 800;
    QTest::newRow("short group 9") << "short@07/09" << ReadEthernet << false << 0 << 800;
    QTest::newRow("long group 8") << "badlen@07/08" << ReadGprs << false << 0 << 800;

    // Only the result byte counts: more bytes after it are a success, none at all is not.
    QTest::newRow("write answer with more") << "badlen@61" << WriteToken << true << 0 << 800;
    QTest::newRow("write answer without its result byte") << "short@65" << WriteEthernet << false
                                                          << 0 << 800;
    QTest::newRow("write refused") << "result=01@61" << WriteToken << false << 0 << 800;
    QTest::newRow("server write refused") << "result=01@62" << WriteServerAddress << false << 0
                                          << 800;
    QTest::newRow("gprs write refused") << "result=7F@63" << WriteGprs << false << 0 << 800;
    QTest::newRow("reset refused") << "result=01@26" << ResetFull << false << 0 << 800;
    QTest::newRow("status refused at once") << "result=01@55" << UnitStatus << false << 0 << 800;

    // Late but within the waits: still fine.
    QTest::newRow("slow read") << "delay=500@07/06" << ReadTimeouts << true << 400 << 2000;
    QTest::newRow("slow gprs read") << "delay=1500@07/08" << ReadGprs << true << 1400 << 3000;
    QTest::newRow("too slow read") << "delay=1500@07/06" << ReadTimeouts << false << 900 << 2000;
    QTest::newRow("gap within a second") << "gap=500@07/08" << ReadGprs << true << 400 << 2000;
    // The 30 s first-byte wait of the GPRS read does not stretch the gaps inside the answer.
    QTest::newRow("gap over a second, gprs") << "gap=1500@07/08" << ReadGprs << false << 900
                                             << 2500;
    QTest::newRow("gap over a second, reset") << "gap=1500@26" << ResetFull << false << 900
                                              << 2500;
    QTest::newRow("gap over a second, test") << "gap=1500@58/01" << SignalTest << false << 900
                                             << 2500;
}

void TestDeviceLink::faults()
{
    QFETCH(QString, fault);
    QFETCH(Operation, operation);
    QFETCH(bool, ok);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    QVERIFY(unit->addFault(fault));
    QElapsedTimer clock;
    clock.start();
    const Outcome out = perform(link, operation);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(out.ok, ok);
    QVERIFY2(elapsed >= minMs && elapsed <= maxMs,
             qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
    if (operation == ServerTest || operation == SignalTest)
        QCOMPARE(out.value, -1);
    if (operation == UnitStatus)
        QCOMPARE(out.text, QString());
    // No retries: the request went out exactly once.
    QCOMPARE(unit->requests().size(), 1);
}

void TestDeviceLink::refusedReadKeepsRecord_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("record");

    // The time-outs and the priority stay as they were; the other reads start from zero.
    QTest::newRow("timeouts") << ReadTimeouts << "nak@07/06" << QByteArray(7, char(0xCC));
    QTest::newRow("priority") << ReadPriority << "badsum@07/0A" << QByteArray(2, char(0xCC));
    QTest::newRow("cash desk") << ReadCashDeskState << "nak@07/04" << QByteArray(25, '\0');
    QTest::newRow("server") << ReadServerAddress << "nak@07/07" << QByteArray(137, '\0');
    QTest::newRow("ethernet") << ReadEthernet << "nak@07/09" << QByteArray(25, '\0');
    QTest::newRow("gprs") << ReadGprs << "nak@07/08" << QByteArray(114, '\0');
}

void TestDeviceLink::refusedReadKeepsRecord()
{
    QFETCH(Operation, operation);
    QFETCH(QString, fault);
    QFETCH(QByteArray, record);

    QVERIFY(unit->addFault(fault));
    const Outcome out = perform(link, operation);
    QVERIFY(!out.ok);
    QCOMPARE(out.record.toHex(), record.toHex());
}

void TestDeviceLink::statusDialogue_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArrayList>("parts");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArrayList>("requests");

    const QByteArray unitOpen = hex("02 01 55 54"), modemOpen = hex("02 01 56 57"),
                     more = hex("02 01 05 04");
    const QByteArray modem = hex("CC EE E4 E5 EC");

    QTest::newRow("two parts") << ModemStatus << QByteArrayList{modem, QByteArray("OK")}
                               << QString() << true << QStringLiteral("Модем\nOK\n")
                               << QByteArrayList{modemOpen, more, more};
    QTest::newRow("unit, one part") << UnitStatus << QByteArrayList{hex("C3 EE F2 EE E2")}
                                    << QString() << true << QStringLiteral("Готов\n")
                                    << QByteArrayList{unitOpen, more};
    // An empty part adds no line, yet the next part is still asked for.
    QTest::newRow("empty part in between")
        << UnitStatus << QByteArrayList{QByteArray("A"), QByteArray(), QByteArray("B")}
        << QString() << true << QStringLiteral("A\nB\n")
        << QByteArrayList{unitOpen, more, more, more};
    QTest::newRow("only empty parts") << UnitStatus << QByteArrayList{QByteArray(), QByteArray()}
                                      << QString() << false << QString()
                                      << QByteArrayList{unitOpen, more, more};
    QTest::newRow("no parts") << ModemStatus << QByteArrayList{} << QString() << false
                              << QString() << QByteArrayList{modemOpen};
    // Silence after the first part ends the dialogue; what came stays the answer.
    QTest::newRow("continuation unanswered")
        << ModemStatus << QByteArrayList{modem, QByteArray("lost")} << QStringLiteral("noack@05")
        << true << QStringLiteral("Модем\n") << QByteArrayList{modemOpen, more};
    QTest::newRow("continuation refused")
        << ModemStatus << QByteArrayList{modem, QByteArray("lost")} << QStringLiteral("nak@05")
        << true << QStringLiteral("Модем\n") << QByteArrayList{modemOpen, more};
    QTest::newRow("continuation corrupt")
        << UnitStatus << QByteArrayList{QByteArray("first"), QByteArray("lost")}
        << QStringLiteral("badsum@05") << true << QStringLiteral("first\n")
        << QByteArrayList{unitOpen, more};
    QTest::newRow("continuation answer refused")
        << UnitStatus << QByteArrayList{QByteArray("first"), QByteArray("lost")}
        << QStringLiteral("result=02@05") << true << QStringLiteral("first\n")
        << QByteArrayList{unitOpen, more};
}

void TestDeviceLink::statusDialogue()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArrayList, parts);
    QFETCH(QString, fault);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QFETCH(QByteArrayList, requests);

    if (operation == UnitStatus)
        unit->setUnitStatus(parts);
    else
        unit->setModemStatus(parts);
    if (!fault.isEmpty())
        QVERIFY(unit->addFault(fault));

    QElapsedTimer clock;
    clock.start();
    const Outcome out = perform(link, operation);
    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(out.ok, ok);
    QCOMPARE(out.text, text);
    QCOMPARE(unit->requests(), requests);
}

void TestDeviceLink::endlessStatusStopsAt256Parts()
{
    unit->setUnitStatus({QByteArray("first")});
    QVERIFY(unit->addFault(QStringLiteral("endless")));

    QElapsedTimer clock;
    clock.start();
    QString text;
    QVERIFY(link.readUnitStatus(text));
    QVERIFY(clock.elapsed() < 15000);

    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 257);            // 256 parts, each closed by a line feed
    QCOMPARE(lines.first(), QStringLiteral("first"));
    QCOMPARE(lines.last(), QString());
    const QList<QByteArray> log = unit->requests();
    QCOMPARE(log.size(), 256);              // the opening request and 255 continuations
    QCOMPARE(log.first(), hex("02 01 55 54"));
    QCOMPARE(log.last(), hex("02 01 05 04"));
}

void TestDeviceLink::testValues_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("signal 75") << SignalTest << hex("00 4B") << QString() << true << 75;
    QTest::newRow("server 255 unsigned") << ServerTest << hex("00 FF") << QString() << true << 255;
    // An answer short of its value byte is no measurement.
    QTest::newRow("result byte alone") << ServerTest << hex("00") << QString() << false << -1;
    QTest::newRow("value cut off") << SignalTest << hex("00 4B") << QStringLiteral("short@58/01")
                                   << false << -1;
    QTest::newRow("unit reports failure") << SignalTest << hex("01 4B") << QString() << true << -1;
    QTest::newRow("result 01 injected") << SignalTest << hex("00 4B")
                                        << QStringLiteral("result=01@58/01") << true << -1;
    QTest::newRow("no data at all") << ServerTest << QByteArray() << QString() << false << -1;
}

void TestDeviceLink::testValues()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, response);
    QFETCH(QString, fault);
    QFETCH(bool, ok);
    QFETCH(int, value);

    unit->setTestResponse(operation == SignalTest ? 0x01 : 0x02, response);
    if (!fault.isEmpty())
        QVERIFY(unit->addFault(fault));
    const Outcome out = perform(link, operation);
    QCOMPARE(out.ok, ok);
    QCOMPARE(out.value, value);
}

void TestDeviceLink::answerBound_data()
{
    QTest::addColumn<int>("boundMs");       // 0: the protocol's
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("cut");          // the trace names the bound

    // A unit that keeps every wait is heard out, however slowly it talks.
    QTest::newRow("dripping read, protocol's bound") << 0 << QStringList{"drip=300@07/0A"}
                                                     << ReadPriority << true << false;
    QTest::newRow("dripping read") << 1000 << QStringList{"drip=200@07/09"} << ReadEthernet
                                   << false << true;
    QTest::newRow("dripping write") << 1000 << QStringList{"drip=400@69"} << WriteMac << false
                                    << true;
    QTest::newRow("dripping test") << 1000 << QStringList{"drip=400@58/01"} << SignalTest << false
                                   << true;
    // What came before the bound ran out is the status text, as after any time-out.
    // Parts of a few dozen bytes at 5 ms each (15 ms where the system's timer ticks no finer)
    // come well within the bound; the dialogue goes on until the bound ends it.
    QTest::newRow("endless dripping status") << 2000 << QStringList{"endless", "drip=5"}
                                             << UnitStatus << true << true;
}

void TestDeviceLink::answerBound()
{
    QFETCH(int, boundMs);
    QFETCH(QStringList, faults);
    QFETCH(Operation, operation);
    QFETCH(bool, ok);
    QFETCH(bool, cut);

    struct BoundSeen : LinkTrace {
        int limitMs = 0;
        void sent(const QByteArray &) override {}
        void received(const QByteArray &) override {}
        void waitExpired(Awaited awaited, int limit, qint64, const QString &) override
        {
            if (awaited == Awaited::WholeAnswer)
                limitMs = limit;
        }
    } trace;
    for (const QString &fault : faults)
        QVERIFY(unit->addFault(fault));
    link.close();
    DeviceLink bounded(boundMs > 0 ? boundMs : Protocol::CommandBoundMs);
    bounded.setTrace(&trace);
    QVERIFY(bounded.openTcp(unitAddress));
    const Outcome out = perform(bounded, operation);
    QCOMPARE(out.ok, ok);
    QCOMPARE(trace.limitMs, cut ? boundMs : 0);
    if (operation == UnitStatus) {
        QVERIFY(!out.text.isEmpty());
        QVERIFY(unit->requests().size() < Protocol::MaxStatusParts);
    }
}

void TestDeviceLink::emptyResponseFrame()
{
    // 02 00 00: a frame without data is well formed.
    unit->setTestResponse(0x01, QByteArray());
    const quint8 request[] = {0x58, 0x01};
    QVERIFY(link.sendFrame(request, 2, 1000));
    QByteArray data("stale");
    QVERIFY(link.receiveFrame(data, 1000));
    QVERIFY(data.isEmpty());
}

void TestDeviceLink::readBytesTakesBufferedBytes()
{
    unit->setGroup(10, hex("00 02"));
    QVERIFY(link.requestGroup(10));
    QTest::qWait(200);      // the whole answer is buffered by now

    quint8 zero = 0xCC;
    QVERIFY(link.readBytes(&zero, 0, 1000));
    QVERIFY(link.readBytes(&zero, -1, 1000));
    QCOMPARE(zero, quint8(0xCC));

    QElapsedTimer clock;
    clock.start();
    quint8 bytes[5];
    QVERIFY(link.readBytes(bytes, 5, 1000));
    QVERIFY(clock.elapsed() < 800);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes), 5), hex("02 02 00 02 00"));
}

void TestDeviceLink::readBytesStopsAtGap()
{
    unit->setGroup(10, hex("00 02"));
    QVERIFY(link.requestGroup(10));

    quint8 bytes[8];
    std::memset(bytes, 0xCC, sizeof bytes);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link.readBytes(bytes, 8, 300));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 250 && elapsed < 1000, qPrintable(QString::number(elapsed)));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes), 8),
             hex("02 02 00 02 00 CC CC CC"));
}

void TestDeviceLink::closeTwiceAndReopen()
{
    link.close();
    QVERIFY(!link.isOpen());
    link.close();
    QVERIFY(!link.isOpen());

    QVERIFY(link.openTcp(unitAddress));
    // A second open replaces the first connection; the new one carries the traffic.
    QVERIFY(link.openTcp(unitAddress));
    QVERIFY(link.isOpen());
    QVERIFY(perform(link, ReadPriority).ok);
    QCOMPARE(unit->requests(), QList<QByteArray>{hex("02 02 07 0A 0F")});
}

TALLY_TEST_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
