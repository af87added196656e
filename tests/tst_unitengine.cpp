#include "testmain.h"
#include "testbytes.h"

#include "unitengine.h"

#include "windows1251.h"

#include <QJsonDocument>

#include <random>

// What the unit put on the line, with the waits it asked for: "06 | +500 02 07 ...".
static QString describe(const QList<UnitAction> &actions)
{
    QStringList parts;
    for (const UnitAction &action : actions)
        parts << (action.delayMs ? QStringLiteral("+%1 ").arg(action.delayMs) : QString())
                     + spaced(action.bytes);
    return parts.join(QStringLiteral(" | "));
}

static QByteArray joined(const QList<UnitAction> &actions)
{
    QByteArray bytes;
    for (const UnitAction &action : actions)
        bytes += action.bytes;
    return bytes;
}

// The built-in group 7 block: IP 192.0.2.10, port 7777, URL "reports.example.net", zero-padded
// to the unit's 137 bytes.
static QByteArray builtInServerAddressFrame()
{
    return hex("02 89 00 C0 00 02 0A 61 1E 13 72 65 70 6F 72 74 73 2E 65 78 61 6D 70 6C 65 2E 6E 65 74")
         + QByteArray(110, '\0') + hex("47");
}

class TestUnitEngine : public QObject
{
    Q_OBJECT

private slots:
    void readsEachGroup_data();
    void readsEachGroup();
    void acknowledgesBeforeAnswering();
    void writesReadBack_data();
    void writesReadBack();
    void serverAddressWriteClearsOldUrl();
    void refusesMalformedWrites_data();
    void refusesMalformedWrites();
    void statusDialogue_data();
    void statusDialogue();
    void builtInStatusTextsAreRussian();
    void measuringTests_data();
    void measuringTests();
    void reset_data();
    void reset();
    void faults_data();
    void faults();
    void refusedWritesKeepTheSetting_data();
    void refusedWritesKeepTheSetting();
    void faultsStayUntilCleared();
    void faultSyntax_data();
    void faultSyntax();
    void awkwardInput_data();
    void awkwardInput();
    void hugeLengthWaitsThenIsDropped();
    void channelsHaveTheirOwnInput();
    void randomBytesNeverBreakIt();
    void requestLogKeepsWholeFrames();
    void restartForgetsEverything();
    void stateFromJson_data();
    void stateFromJson();
    void stateJsonErrors_data();
    void stateJsonErrors();
};

void TestUnitEngine::readsEachGroup_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("group 6, time-outs 1000/500/60")
        << hex("02 02 07 06 03") << hex("06 02 07 00 E8 03 F4 01 3C 00 25");
    QTest::newRow("group 7, server address")
        << hex("02 02 07 07 02") << hex("06") + builtInServerAddressFrame();
    QTest::newRow("group 8, GPRS strings")
        << hex("02 02 07 08 0D")
        << hex("06 02 1D 00 00 08 69 6E 74 65 72 6E 65 74 05 67 75 65 73 74 05 67 75 65 73 74"
               " 05 2A 31 30 30 23 33");
    QTest::newRow("group 9, Ethernet")
        << hex("02 02 07 09 0C")
        << hex("06 02 19 00 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 00 00 1A 2B 3C 4D 5E 9D");
    QTest::newRow("group 4, cash desk state")
        << hex("02 02 07 04 01")
        << hex("06 02 19 01 02 0E 00 00 00 17 03 00 00 00 00 00 00 00 56 34 12 00 00 90 78 56 34 12 E8");
    QTest::newRow("group 10, priority GPRS, Ethernet")
        << hex("02 02 07 0A 0F") << hex("06 02 02 00 02 00");
}

void TestUnitEngine::readsEachGroup()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    UnitEngine engine;
    QCOMPARE(spaced(joined(engine.feed(request))), spaced(answer));
}

void TestUnitEngine::acknowledgesBeforeAnswering()
{
    // The configurator reads the acknowledgement on its own; it must be a byte of its own too,
    // not hidden behind a delay meant for the response.
    UnitEngine engine;
    QVERIFY(engine.addFault(QStringLiteral("delay=40")));
    const QList<UnitAction> actions = engine.feed(hex("02 02 07 0A 0F"));
    QCOMPARE(describe(actions), QStringLiteral("06 | +40 02 02 00 02 00"));
}

void TestUnitEngine::writesReadBack_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("readAnswer");

    const QByteArray ok = hex("06 02 01 00 01");
    QTest::newRow("time-outs 1000/500/60")
        << hex("02 07 60 E8 03 F4 01 3C 00 45") << ok
        << hex("02 02 07 06 03") << hex("06 02 07 00 E8 03 F4 01 3C 00 25");
    QTest::newRow("time-outs 2000/300/120")
        << hex("02 07 60 D0 07 2C 01 78 00 E5") << ok
        << hex("02 02 07 06 03") << hex("06 02 07 00 D0 07 2C 01 78 00 85");
    QTest::newRow("priority 2")
        << hex("02 02 67 02 67") << ok << hex("02 02 07 0A 0F") << hex("06 02 02 00 02 00");
    QTest::newRow("priority 3")
        << hex("02 02 67 03 66") << ok << hex("02 02 07 0A 0F") << hex("06 02 02 00 03 01");
    QTest::newRow("MAC 00-11-22-33-44-55 lands in group 9")
        << hex("02 07 69 00 11 22 33 44 55 7F") << ok << hex("02 02 07 09 0C")
        << hex("06 02 19 00 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 00 00 11 22 33 44 55 92");
    QTest::newRow("GPRS, all strings empty")
        << hex("02 06 63 00 00 00 00 00 65") << ok
        << hex("02 02 07 08 0D") << hex("06 02 06 00 00 00 00 00 00 06");
    QTest::newRow("GPRS abc/u/p/*1")
        << hex("02 0D 63 00 03 61 62 63 01 75 01 70 02 2A 31 11") << ok
        << hex("02 02 07 08 0D") << hex("06 02 0D 00 00 03 61 62 63 01 75 01 70 02 2A 31 72");
    QTest::newRow("token lands in group 4 bytes 20-24")
        << hex("02 06 61 21 43 65 87 09 EE") << ok << hex("02 02 07 04 01")
        << hex("06 02 19 01 02 0E 00 00 00 17 03 00 00 00 00 00 00 00 56 34 12 00 00 21 43 65 87 09 F9");
    QTest::newRow("cash desk ID lands in group 4 bytes 15-19")
        << hex("02 06 64 89 67 45 23 01 EB") << ok << hex("02 02 07 04 01")
        << hex("06 02 19 01 02 0E 00 00 00 17 03 00 00 00 00 00 00 00 89 67 45 23 01 90 78 56 34 12 11");
    QTest::newRow("Ethernet keeps the MAC")
        << hex("02 13 65 00 0A 00 00 05 FF FF 00 00 0A 00 00 01 01 01 01 01 01 73") << ok
        << hex("02 02 07 09 0C")
        << hex("06 02 19 00 00 0A 00 00 05 FF FF 00 00 0A 00 00 01 01 01 01 01 01 00 1A 2B 3C 4D 5E 02");
    QTest::newRow("server address 10.0.0.1:80 abc")
        << hex("02 0B 62 0A 00 00 01 50 00 03 61 62 63 51") << ok << hex("02 02 07 07 02")
        << hex("06 02 89 00 0A 00 00 01 50 00 03 61 62 63") + QByteArray(126, '\0') + hex("B1");
}

void TestUnitEngine::writesReadBack()
{
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, readAnswer);
    UnitEngine engine;
    QCOMPARE(spaced(joined(engine.feed(write))), spaced(answer));
    QCOMPARE(spaced(joined(engine.feed(read))), spaced(readAnswer));
}

void TestUnitEngine::serverAddressWriteClearsOldUrl()
{
    UnitEngine engine;
    QCOMPARE(spaced(joined(engine.feed(hex("02 08 62 0A 00 00 01 50 00 00 31")))),
             QStringLiteral("06 02 01 00 01"));
    const QByteArray expected = hex("00 0A 00 00 01 50 00 00") + QByteArray(129, '\0');
    QCOMPARE(spaced(engine.group(7)), spaced(expected));
}

void TestUnitEngine::refusesMalformedWrites_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<quint8>("group");

    QTest::newRow("time-outs one byte short") << hex("02 06 60 E8 03 F4 01 3C 44") << quint8(6);
    QTest::newRow("priority 4") << hex("02 02 67 04 61") << quint8(10);
    QTest::newRow("token one byte short") << hex("02 05 61 21 43 65 87 E4") << quint8(4);
    QTest::newRow("URL length says 4, 3 bytes sent")
        << hex("02 0B 62 0A 00 00 01 50 00 04 61 62 63 56") << quint8(7);
    QTest::newRow("GPRS cut after APN length") << hex("02 03 63 00 21 41") << quint8(8);
    QTest::newRow("GPRS one byte too many") << hex("02 07 63 00 00 00 00 00 00 64") << quint8(8);
    QTest::newRow("Ethernet without DHCP byte")
        << hex("02 12 65 00 0A 00 00 05 FF FF 00 00 0A 00 00 01 01 01 01 01 73") << quint8(9);
    QTest::newRow("MAC with a seventh byte") << hex("02 08 69 00 11 22 33 44 55 66 16") << quint8(9);
}

void TestUnitEngine::refusesMalformedWrites()
{
    QFETCH(QByteArray, write);
    QFETCH(quint8, group);
    UnitEngine engine;
    const QByteArray before = engine.group(group);
    QCOMPARE(spaced(joined(engine.feed(write))), QStringLiteral("06 02 01 01 00"));
    QCOMPARE(spaced(engine.group(group)), spaced(before));
}

void TestUnitEngine::statusDialogue_data()
{
    QTest::addColumn<QList<QByteArray>>("unitParts");
    QTest::addColumn<QList<QByteArray>>("modemParts");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("steps");   // "request -> answer"

    const QList<QByteArray> modem{hex("CC EE E4 E5 EC")};             // Модем
    const QList<QByteArray> two{hex("C1 CC CA D1 3A"), hex("C0 E1 E2")};  // БМКС: / Абв

    QTest::newRow("unit status in two parts") << two << modem << QStringList()
        << QStringList{"02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A",
                       "02 01 05 04 -> 06 02 04 00 C0 E1 E2 C7",
                       "02 01 05 04 -> 06 02 01 01 00"};
    QTest::newRow("modem status in one part") << two << modem << QStringList()
        << QStringList{"02 01 56 57 -> 06 02 06 00 CC EE E4 E5 EC C9",
                       "02 01 05 04 -> 06 02 01 01 00"};
    QTest::newRow("no text at all") << QList<QByteArray>() << modem << QStringList()
        << QStringList{"02 01 55 54 -> 06 02 01 01 00"};
    QTest::newRow("an empty part is the result byte alone")
        << QList<QByteArray>{QByteArray(), hex("C0 E1 E2")} << modem << QStringList()
        << QStringList{"02 01 55 54 -> 06 02 01 00 01",
                       "02 01 05 04 -> 06 02 04 00 C0 E1 E2 C7",
                       "02 01 05 04 -> 06 02 01 01 00"};
    QTest::newRow("continuation outside a dialogue") << two << modem << QStringList()
        << QStringList{"02 01 05 04 -> 06 02 01 01 00"};
    QTest::newRow("another request ends the dialogue") << two << modem << QStringList()
        << QStringList{"02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A",
                       "02 02 07 0A 0F -> 06 02 02 00 02 00",
                       "02 01 05 04 -> 06 02 01 01 00"};
    QTest::newRow("opening again starts over") << two << modem << QStringList()
        << QStringList{"02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A",
                       "02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A"};
    QTest::newRow("result=03 on the opening part") << two << modem << QStringList{"result=03@56"}
        << QStringList{"02 01 56 57 -> 06 02 06 03 CC EE E4 E5 EC CA"};
    QTest::newRow("endless keeps talking past the last part") << two << modem
        << QStringList{"endless@55"}
        << QStringList{"02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A",
                       "02 01 05 04 -> 06 02 04 00 C0 E1 E2 C7",
                       "02 01 05 04 -> 06 02 07 00 70 61 72 74 20 33 03",
                       "02 01 05 04 -> 06 02 07 00 70 61 72 74 20 34 04"};
    QTest::newRow("refused continuation does not advance") << two << modem << QStringList{"nak@05"}
        << QStringList{"02 01 55 54 -> 06 02 06 00 C1 CC CA D1 3A 2A",
                       "02 01 05 04 -> 15"};
    QTest::newRow("silent status opening") << two << modem << QStringList{"silent@55"}
        << QStringList{"02 01 55 54 -> 06"};
}

void TestUnitEngine::statusDialogue()
{
    QFETCH(QList<QByteArray>, unitParts);
    QFETCH(QList<QByteArray>, modemParts);
    QFETCH(QStringList, faults);
    QFETCH(QStringList, steps);
    UnitEngine engine;
    engine.setUnitStatus(unitParts);
    engine.setModemStatus(modemParts);
    for (const QString &fault : faults)
        QVERIFY(engine.addFault(fault));
    for (const QString &step : steps) {
        const QStringList sides = step.split(QStringLiteral(" -> "));
        const QByteArray answer = joined(engine.feed(QByteArray::fromHex(sides.at(0).toLatin1())));
        QCOMPARE(spaced(answer), sides.at(1));
    }
}

void TestUnitEngine::builtInStatusTextsAreRussian()
{
    for (quint8 command : {quint8(0x55), quint8(0x56)}) {
        UnitEngine engine;
        QStringList lines;
        for (int part = 0; part < 10; ++part) {
            const QByteArray request = part == 0 ? (command == 0x55 ? hex("02 01 55 54") : hex("02 01 56 57"))
                                                 : hex("02 01 05 04");
            const QList<UnitAction> actions = engine.feed(request);
            const QByteArray response = joined(actions).mid(1);
            QVERIFY(response.size() >= 4);
            if (response.at(2) != 0)
                break;
            lines << Windows1251::toUnicode(response.mid(3, response.size() - 4));
        }
        if (command == 0x55) {
            QCOMPARE(lines.size(), 3);
            QCOMPARE(lines.at(0), QStringLiteral("БМКС: версия ПО 2.14"));
            QCOMPARE(lines.at(1), QStringLiteral("ККМ: на связи"));
        } else {
            QCOMPARE(lines.size(), 2);
            QVERIFY(lines.at(0).startsWith(QStringLiteral("Модем")));
        }
    }
}

void TestUnitEngine::measuringTests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("answer");

    QTest::newRow("signal level 75") << hex("02 02 58 01 5B") << "06 02 02 00 4B 49";
    QTest::newRow("server 120 ms") << hex("02 02 58 02 58") << "06 02 02 00 78 7A";
    QTest::newRow("no test 3") << hex("02 02 58 03 59") << "15";
    QTest::newRow("test without number") << hex("02 01 58 59") << "15";
}

void TestUnitEngine::measuringTests()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, answer);
    UnitEngine engine;
    QCOMPARE(spaced(joined(engine.feed(request))), answer);
}

void TestUnitEngine::reset_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("settingsRestored");

    QTest::newRow("kind 0, full") << hex("02 02 26 00 24") << "06 02 01 00 01" << true;
    QTest::newRow("kind 1, journal") << hex("02 02 26 01 25") << "06 02 01 00 01" << false;
    QTest::newRow("kind 2, Z-reports") << hex("02 02 26 02 26") << "06 02 01 00 01" << false;
    QTest::newRow("kind 3, settings") << hex("02 02 26 03 27") << "06 02 01 00 01" << true;
    QTest::newRow("kind 4, first command") << hex("02 02 26 04 20") << "06 02 01 00 01" << false;
    QTest::newRow("kind 5, command buffer") << hex("02 02 26 05 21") << "06 02 01 00 01" << false;
    QTest::newRow("kind 6 is refused") << hex("02 02 26 06 22") << "06 02 01 01 00" << false;
    QTest::newRow("kind missing") << hex("02 01 26 27") << "06 02 01 01 00" << false;
}

void TestUnitEngine::reset()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, answer);
    QFETCH(bool, settingsRestored);
    UnitEngine engine;
    QCOMPARE(spaced(joined(engine.feed(hex("02 02 67 03 66")))), QStringLiteral("06 02 01 00 01"));
    QCOMPARE(spaced(joined(engine.feed(request))), answer);
    QCOMPARE(spaced(engine.group(10)), settingsRestored ? QStringLiteral("00 02") : QStringLiteral("00 03"));
}

void TestUnitEngine::faults_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("answer");

    const QByteArray readSix = hex("02 02 07 06 03");
    QTest::newRow("nak") << QStringList{"nak"} << readSix << "15";
    QTest::newRow("noack") << QStringList{"noack"} << readSix << "";
    QTest::newRow("silent") << QStringList{"silent"} << readSix << "06";
    QTest::newRow("badsum") << QStringList{"badsum"} << readSix << "06 | 02 07 00 E8 03 F4 01 3C 00 DA";
    QTest::newRow("badstx") << QStringList{"badstx"} << readSix << "06 | FD 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("badlen") << QStringList{"badlen"} << readSix << "06 | 02 08 00 E8 03 F4 01 3C 00 00 2A";
    QTest::newRow("short") << QStringList{"short"} << readSix << "06 | 02 06 00 E8 03 F4 01 3C 24";
    QTest::newRow("delay=500") << QStringList{"delay=500"} << readSix
        << "06 | +500 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("gap=1500@07/08") << QStringList{"gap=1500@07/08"} << hex("02 02 07 08 0D")
        << "06 | 02 | +1500 1D 00 00 08 69 6E 74 65 72 6E 65 74 05 67 75 65 73 74 05 67 75 65 73 74"
           " 05 2A 31 30 30 23 33";
    QTest::newRow("delay and gap together") << QStringList{"gap=300", "delay=200"} << readSix
        << "06 | +200 02 | +300 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("drip after a delay") << QStringList{"drip=100@07/0A", "delay=200"} << hex("02 02 07 0A 0F")
        << "06 | +300 02 | +100 02 | +100 00 | +100 02 | +100 00";
    QTest::newRow("priority=4") << QStringList{"priority=4"} << hex("02 02 07 0A 0F") << "06 | 02 02 00 04 06";
    QTest::newRow("priority=4 leaves group 6 alone") << QStringList{"priority=4"} << readSix
        << "06 | 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("result=01@61 on the token") << QStringList{"result=01@61"}
        << hex("02 06 61 21 43 65 87 09 EE") << "06 | 02 01 01 00";
    QTest::newRow("result=01@58 on the signal test") << QStringList{"result=01@58"}
        << hex("02 02 58 01 5B") << "06 | 02 02 01 4B 48";
    QTest::newRow("result=05@26 on a reset") << QStringList{"result=05@26/00"}
        << hex("02 02 26 00 24") << "06 | 02 01 05 04";
    QTest::newRow("result does not touch a read") << QStringList{"result=01"} << hex("02 02 07 0A 0F")
        << "06 | 02 02 00 02 00";
    QTest::newRow("nak@07/04 refuses group 4") << QStringList{"nak@07/04"} << hex("02 02 07 04 01") << "15";
    QTest::newRow("nak@07/04 spares group 6") << QStringList{"nak@07/04"} << readSix
        << "06 | 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("silent@55 spares a read") << QStringList{"silent@55"} << readSix
        << "06 | 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("noack wins over nak") << QStringList{"nak", "noack"} << readSix << "";
    QTest::newRow("badsum and badlen together") << QStringList{"badsum", "badlen"} << readSix
        << "06 | 02 08 00 E8 03 F4 01 3C 00 00 D5";
    QTest::newRow("a corrupt request is refused whatever the faults")
        << QStringList{"silent"} << hex("02 02 07 06 04") << "15";
}

void TestUnitEngine::faults()
{
    QFETCH(QStringList, faults);
    QFETCH(QByteArray, request);
    QFETCH(QString, answer);
    UnitEngine engine;
    for (const QString &fault : faults)
        QVERIFY2(engine.addFault(fault), qPrintable(fault));
    QCOMPARE(describe(engine.feed(request)), answer);
}

void TestUnitEngine::refusedWritesKeepTheSetting_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("applied");

    QTest::newRow("result=01 refuses") << "result=01@67" << false;
    QTest::newRow("nak refuses") << "nak@67" << false;
    QTest::newRow("noack never heard it") << "noack@67" << false;
    QTest::newRow("silent stores, answer lost") << "silent@67" << true;
    QTest::newRow("badsum stores, answer garbled") << "badsum@67" << true;
    QTest::newRow("result=00 stores") << "result=00@67" << true;
    QTest::newRow("forget confirms and keeps the old value") << "forget@67" << false;
}

void TestUnitEngine::refusedWritesKeepTheSetting()
{
    QFETCH(QString, fault);
    QFETCH(bool, applied);
    UnitEngine engine;
    QVERIFY(engine.addFault(fault));
    engine.feed(hex("02 02 67 03 66"));
    QCOMPARE(spaced(engine.group(10)), applied ? QStringLiteral("00 03") : QStringLiteral("00 02"));
}

void TestUnitEngine::faultsStayUntilCleared()
{
    UnitEngine engine;
    QVERIFY(engine.addFault(QStringLiteral("nak@07/06")));
    QCOMPARE(describe(engine.feed(hex("02 02 07 06 03"))), QStringLiteral("15"));
    QCOMPARE(describe(engine.feed(hex("02 02 07 06 03"))), QStringLiteral("15"));
    engine.clearFaults();
    QCOMPARE(describe(engine.feed(hex("02 02 07 06 03"))),
             QStringLiteral("06 | 02 07 00 E8 03 F4 01 3C 00 25"));
}

void TestUnitEngine::faultSyntax_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("canonical");   // empty: the fault must be refused

    QTest::newRow("nak everywhere") << "nak" << "nak";
    QTest::newRow("nak on group 4") << "nak@07/04" << "nak@07/04";
    QTest::newRow("result on token") << "result=01@61" << "result=01@61";
    QTest::newRow("result in one digit") << "result=f" << "result=0F";
    QTest::newRow("silent on status") << "silent@55" << "silent@55";
    QTest::newRow("gap on group 8") << "gap=1500@07/08" << "gap=1500@07/08";
    QTest::newRow("group 10 in hex") << "noack@07/0a" << "noack@07/0A";
    QTest::newRow("priority") << "priority=7" << "priority=7";
    QTest::newRow("continuation") << "endless@05" << "endless@05";
    QTest::newRow("reset kind") << "delay=0@26/03" << "delay=0@26/03";
    QTest::newRow("command 66 is in the write block") << "nak@66" << "nak@66";

    QTest::newRow("unknown kind") << "explode" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("value on nak") << "nak=1" << "";
    QTest::newRow("result without value") << "result" << "";
    QTest::newRow("result of three digits") << "result=100" << "";
    QTest::newRow("negative delay") << "delay=-1" << "";
    QTest::newRow("delay in hex") << "delay=1f" << "";
    QTest::newRow("delay beyond ten minutes") << "delay=600001" << "";
    QTest::newRow("priority beyond a byte") << "priority=256" << "";
    QTest::newRow("unknown command") << "nak@70" << "";
    QTest::newRow("argument on a write") << "nak@61/01" << "";
    QTest::newRow("two arguments") << "nak@07/04/01" << "";
    QTest::newRow("upper-case kind") << "NAK" << "";
    QTest::newRow("trailing garbage") << "silent@55x" << "";
}

void TestUnitEngine::faultSyntax()
{
    QFETCH(QString, written);
    QFETCH(QString, canonical);
    UnitFault fault;
    QString error;
    const bool parsed = UnitFault::parse(written, &fault, &error);
    QCOMPARE(parsed, !canonical.isEmpty());
    if (parsed)
        QCOMPARE(fault.toString(), canonical);
    else
        QVERIFY2(error.contains(written.isEmpty() ? QStringLiteral("bad fault") : written), qPrintable(error));
}

void TestUnitEngine::awkwardInput_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("answer");

    const QString groupSix = QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25");
    QList<QByteArray> bytewise;
    for (char byte : hex("02 02 07 06 03"))
        bytewise << QByteArray(1, byte);

    QTest::newRow("junk before the frame") << QList<QByteArray>{hex("FF 00 13 06 15 02 02 07 06 03")} << groupSix;
    QTest::newRow("byte by byte") << bytewise << groupSix;
    QTest::newRow("split after LEN") << QList<QByteArray>{hex("02 02"), hex("07 06 03")} << groupSix;
    QTest::newRow("two frames in one chunk") << QList<QByteArray>{hex("02 02 07 06 03 02 02 07 0A 0F")}
        << groupSix + QStringLiteral(" 06 02 02 00 02 00");
    QTest::newRow("second frame split across chunks")
        << QList<QByteArray>{hex("02 02 07 06 03 02 02 07"), hex("0A 0F")}
        << groupSix + QStringLiteral(" 06 02 02 00 02 00");
    QTest::newRow("bad checksum, then a good frame")
        << QList<QByteArray>{hex("02 02 07 06 FF 02 02 07 06 03")} << QStringLiteral("15 ") + groupSix;
    QTest::newRow("empty frame") << QList<QByteArray>{hex("02 00 00")} << "15";
    QTest::newRow("empty frame with a bad checksum") << QList<QByteArray>{hex("02 00 01")} << "15";
    QTest::newRow("unknown command") << QList<QByteArray>{hex("02 02 66 00 64")} << "15";
    QTest::newRow("group the unit lacks") << QList<QByteArray>{hex("02 02 07 05 00")} << "15";
    QTest::newRow("read without a group") << QList<QByteArray>{hex("02 01 07 06")} << "15";
    QTest::newRow("only junk") << QList<QByteArray>{hex("FF FE 00 06 15")} << "";
    QTest::newRow("half a frame") << QList<QByteArray>{hex("02 02 07")} << "";
}

void TestUnitEngine::awkwardInput()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, answer);
    UnitEngine engine;
    QByteArray sent;
    for (const QByteArray &chunk : chunks)
        sent += joined(engine.feed(chunk));
    QCOMPARE(spaced(sent), answer);
}

void TestUnitEngine::hugeLengthWaitsThenIsDropped()
{
    // A corrupt LEN makes the unit wait for bytes that never come; once the line has gone
    // quiet the server drops the half frame and the next request is heard.
    UnitEngine engine;
    QCOMPARE(joined(engine.feed(hex("02 FF 07 06 03"))), QByteArray());
    QVERIFY(engine.hasPartialInput());
    engine.discardPartialInput();
    QVERIFY(!engine.hasPartialInput());
    QCOMPARE(spaced(joined(engine.feed(hex("02 02 07 06 03")))),
             QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
}

void TestUnitEngine::channelsHaveTheirOwnInput()
{
    UnitEngine engine;
    QCOMPARE(joined(engine.feed(hex("02 02 07"), 0)), QByteArray());
    QCOMPARE(spaced(joined(engine.feed(hex("02 02 07 0A 0F"), 1))), QStringLiteral("06 02 02 00 02 00"));
    QCOMPARE(spaced(joined(engine.feed(hex("06 03"), 0))), QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
    engine.feed(hex("02 02"), 1);
    engine.connectionLost(1);
    QVERIFY(!engine.hasPartialInput(1));
    QCOMPARE(spaced(joined(engine.feed(hex("02 02 07 0A 0F"), 1))), QStringLiteral("06 02 02 00 02 00"));
}

void TestUnitEngine::randomBytesNeverBreakIt()
{
    std::mt19937 random(20107);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 300);
    UnitEngine engine;
    // Faults and writes shift what the unit does with what it hears; they must not matter.
    QVERIFY(engine.addFault(QStringLiteral("badlen@07/0A")));
    QVERIFY(engine.addFault(QStringLiteral("endless@56")));
    for (int round = 0; round < 3000; ++round) {
        QByteArray chunk;
        const int size = length(random);
        for (int i = 0; i < size; ++i) {
            // Plenty of STX bytes and short LENs so that many frames do form.
            const int value = byte(random);
            chunk.append(char(value < 40 ? 0x02 : value < 80 ? value % 8 : value));
        }
        for (const UnitAction &action : engine.feed(chunk, round % 2)) {
            QVERIFY(!action.bytes.isEmpty());
            QVERIFY(action.bytes.size() <= 258);
        }
    }
    engine.clearFaults();
    engine.setState(UnitState::builtIn());
    for (int channel : {0, 1}) {
        engine.discardPartialInput(channel);
        QCOMPARE(spaced(joined(engine.feed(hex("02 02 07 06 03"), channel))),
                 QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
    }
}

void TestUnitEngine::requestLogKeepsWholeFrames()
{
    UnitEngine engine;
    QList<QByteArray> observed;
    engine.setRequestObserver([&observed](const QByteArray &frame) { observed << frame; });
    engine.feed(hex("FF 02 02 07 06 04 00 02 02 07"));
    engine.feed(hex("0A 0F 02 01"));
    const QList<QByteArray> expected{hex("02 02 07 06 04"), hex("02 02 07 0A 0F")};
    QCOMPARE(engine.requests(), expected);
    QCOMPARE(observed, expected);
    engine.clearRequests();
    QVERIFY(engine.requests().isEmpty());
    engine.feed(hex("55 54"));
    QCOMPARE(engine.requests(), QList<QByteArray>{hex("02 01 55 54")});
}

void TestUnitEngine::restartForgetsEverything()
{
    UnitEngine engine;
    QVERIFY(engine.addFault(QStringLiteral("nak")));
    engine.setGroup(6, hex("00 01 02"));
    engine.feed(hex("02 02 07 06 03 02 02"));
    engine.restart();
    QVERIFY(engine.requests().isEmpty());
    QVERIFY(engine.faults().isEmpty());
    QVERIFY(!engine.hasPartialInput());
    QCOMPARE(spaced(joined(engine.feed(hex("02 02 07 06 03")))),
             QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
}

void TestUnitEngine::stateFromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("answer");

    QTest::newRow("time-outs, partly") << QByteArray(R"({"timeouts": {"full": 2000, "retry": 120}})")
        << hex("02 02 07 06 03") << "06 02 07 00 D0 07 F4 01 78 00 5D";
    QTest::newRow("priority 3") << QByteArray(R"({"priority": 3})")
        << hex("02 02 07 0A 0F") << "06 02 02 00 03 01";
    QTest::newRow("GPRS strings") << QByteArray(R"({"gprs": {"apn": "abc", "login": "u", "password": "p", "balanceCode": "*1"}})")
        << hex("02 02 07 08 0D") << "06 02 0D 00 00 03 61 62 63 01 75 01 70 02 2A 31 72";
    QTest::newRow("Ethernet and MAC")
        << QByteArray(R"({"ethernet": {"ip": "10.0.0.5", "mask": "255.255.0.0", "gateway": "10.0.0.1",)"
                      R"( "dns": "1.1.1.1", "dhcp": true, "mac": "00:11:22:33:44:55"}})")
        << hex("02 02 07 09 0C")
        << "06 02 19 00 00 0A 00 00 05 FF FF 00 00 0A 00 00 01 01 01 01 01 01 00 11 22 33 44 55 0D";
    QTest::newRow("cash desk ID and token as digits")
        << QByteArray(R"({"cashDesk": {"id": "0987654321", "token": "0123456789"}})")
        << hex("02 02 07 04 01")
        << "06 02 19 01 02 0E 00 00 00 17 03 00 00 00 00 00 00 00 21 43 65 87 09 89 67 45 23 01 00";
    QTest::newRow("status part in Russian goes out in Windows-1251")
        << QByteArray(R"({"modemStatus": ["Модем"]})") << hex("02 01 56 57") << "06 02 06 00 CC EE E4 E5 EC C9";
    QTest::newRow("status part as raw bytes")
        << QByteArray(R"({"unitStatus": [{"hex": "C0 E1 E2"}]})") << hex("02 01 55 54") << "06 02 04 00 C0 E1 E2 C7";
    QTest::newRow("test answer") << QByteArray(R"({"tests": {"signal": "01 4B"}})")
        << hex("02 02 58 01 5B") << "06 02 02 01 4B 48";
    QTest::newRow("raw group wins over named field")
        << QByteArray(R"({"priority": 1, "groups": {"10": "00 04"}})") << hex("02 02 07 0A 0F") << "06 02 02 00 04 06";
    QTest::newRow("raw group of a malformed length")
        << QByteArray(R"({"groups": {"6": "00 E8 03 F4 01 3C"}})") << hex("02 02 07 06 03") << "06 02 06 00 E8 03 F4 01 3C 24";
    QTest::newRow("empty object is the built-in unit") << QByteArray("{}")
        << hex("02 02 07 06 03") << "06 02 07 00 E8 03 F4 01 3C 00 25";
}

void TestUnitEngine::stateFromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, request);
    QFETCH(QString, answer);
    UnitState state;
    QString error;
    QVERIFY2(UnitState::fromJson(json, &state, &error), qPrintable(error));
    UnitEngine engine(state);
    QCOMPARE(spaced(joined(engine.feed(request))), answer);
    // What a fleet's state dump says reads back as the same unit, byte for byte.
    UnitState again;
    QVERIFY2(UnitState::fromJson(QJsonDocument(state.toJson()).toJson(), &again, &error), qPrintable(error));
    QVERIFY(again == state);
}

void TestUnitEngine::stateJsonErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("not JSON") << QByteArray("{timeouts") << "not valid JSON";
    QTest::newRow("array at the top") << QByteArray("[]") << "top level";
    QTest::newRow("misspelt field") << QByteArray(R"({"timeout": {}})") << "timeout: unknown field";
    QTest::newRow("misspelt nested field") << QByteArray(R"({"server": {"adress": "1.2.3.4"}})") << "server.adress: unknown field";
    QTest::newRow("time-out beyond 16 bits") << QByteArray(R"({"timeouts": {"full": 65536}})") << "timeouts.full";
    QTest::newRow("fractional port") << QByteArray(R"({"server": {"port": 1.5}})") << "server.port";
    QTest::newRow("bad IP") << QByteArray(R"({"server": {"ip": "1.2.3.256"}})") << "server.ip";
    QTest::newRow("URL of 129 bytes") << QByteArray(R"({"server": {"url": ")") + QByteArray(129, 'u') + QByteArray(R"("}})") << "server.url";
    QTest::newRow("APN of 33 bytes") << QByteArray(R"({"gprs": {"apn": ")") + QByteArray(33, 'a') + QByteArray(R"("}})") << "gprs.apn";
    QTest::newRow("balance code of 9 bytes") << QByteArray(R"({"gprs": {"balanceCode": "*10000000"}})") << "gprs.balanceCode";
    QTest::newRow("MAC of five pairs") << QByteArray(R"({"ethernet": {"mac": "00-11-22-33-44"}})") << "ethernet.mac";
    QTest::newRow("DHCP as a number") << QByteArray(R"({"ethernet": {"dhcp": 1}})") << "ethernet.dhcp";
    QTest::newRow("ID of nine digits") << QByteArray(R"({"cashDesk": {"id": "123456789"}})") << "cashDesk.id";
    QTest::newRow("token with a letter") << QByteArray(R"({"cashDesk": {"token": "12345678a0"}})") << "cashDesk.token";
    QTest::newRow("priority beyond a byte") << QByteArray(R"({"priority": 256})") << "priority";
    QTest::newRow("status not a list") << QByteArray(R"({"unitStatus": "text"})") << "unitStatus";
    QTest::newRow("status part of a number") << QByteArray(R"({"unitStatus": [1]})") << "unitStatus[0]";
    QTest::newRow("bad hex") << QByteArray(R"({"tests": {"server": "0G"}})") << "tests.server";
    QTest::newRow("odd hex") << QByteArray(R"({"tests": {"server": "00 7"}})") << "tests.server";
    QTest::newRow("group the unit lacks") << QByteArray(R"({"groups": {"5": "00"}})") << "groups.5";
}

void TestUnitEngine::stateJsonErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, complaint);
    UnitState state = UnitState::builtIn();
    state.groups[6] = hex("01");
    const UnitState before = state;
    QString error;
    QVERIFY(!UnitState::fromJson(json, &state, &error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QVERIFY(state == before);
}

TALLY_TEST_MAIN(TestUnitEngine)
#include "tst_unitengine.moc"
