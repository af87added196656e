// Every input the fuzzers keep (the seeds under fuzz/corpus and whatever they once broke on,
// under fuzz/regressions) goes through the same checks here with the ordinary compiler, so a
// fault that was fixed stays fixed. Plus the in-memory line the fuzzers feed the link through.
#include "devicelink.h"
#include "fuzzentries.h"
#include "memorydevice.h"
#include "records.h"
#include "testbytes.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstring>

namespace {

const char *const targets[] = {"fuzz_link", "fuzz_frame", "fuzz_unitengine", "fuzz_settingsfile",
                               "fuzz_profile"};

QString (*entryFor(const QString &target))(const QByteArray &)
{
    if (target == QLatin1String("fuzz_link"))
        return FuzzEntry::link;
    if (target == QLatin1String("fuzz_frame"))
        return FuzzEntry::frame;
    if (target == QLatin1String("fuzz_settingsfile"))
        return FuzzEntry::settingsFile;
    if (target == QLatin1String("fuzz_profile"))
        return FuzzEntry::profile;
    return FuzzEntry::unitEngine;
}

QStringList inputsOf(const QString &target, const QString &kind)
{
    const QDir dir(QStringLiteral(FUZZ_INPUTS_DIR "/") + kind + QLatin1Char('/') + target);
    QStringList paths;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

enum Operation { ReadTimeouts, ReadGprs, WritePriority, WriteMac, WriteGprs, Reset, UnitStatus,
                 SignalTest, ServerTest };

bool run(DeviceLink &link, Operation operation)
{
    switch (operation) {
    case ReadTimeouts: {
        TimeoutSettings record = {};
        return link.readTimeouts(record);
    }
    case ReadGprs: {
        GprsSettings record = {};
        return link.readGprsSettings(record);
    }
    case WritePriority: {
        ChannelPriority record = {};
        record.priority = 2;
        return link.writeChannelPriority(record);
    }
    case WriteMac: {
        MacRecord record = {};
        std::memcpy(record.mac, hex("00 11 22 33 44 55").constData(), sizeof record.mac);
        return link.writeMac(record);
    }
    case WriteGprs: {
        GprsSettings record = {};
        return link.writeGprsSettings(record);
    }
    case Reset:
        return link.resetData(0);
    case UnitStatus: {
        QString text;
        return link.readUnitStatus(text);
    }
    case SignalTest: {
        int value = 0;
        return link.measureSignalLevel(value);
    }
    case ServerTest: {
        int value = 0;
        return link.measureServerResponse(value);
    }
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void everyTargetHasSeeds_data();
    void everyTargetHasSeeds();
    void replay_data();
    void replay();

    void refusedRequestReadsNothingMore_data();
    void refusedRequestReadsNothingMore();
    void quietUnitFailsAtOnce_data();
    void quietUnitFailsAtOnce();
    void statusStopsAfter256Parts();
};

void TestFuzzRegressions::everyTargetHasSeeds_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("atLeast");
    QTest::newRow("fuzz_link") << "fuzz_link" << 40;
    QTest::newRow("fuzz_frame") << "fuzz_frame" << 20;
    QTest::newRow("fuzz_unitengine") << "fuzz_unitengine" << 10;
    QTest::newRow("fuzz_settingsfile") << "fuzz_settingsfile" << 8;
}

// A replay that finds no files passes vacuously; a moved folder must fail loudly instead.
void TestFuzzRegressions::everyTargetHasSeeds()
{
    QFETCH(QString, target);
    QFETCH(int, atLeast);
    const int seeds = inputsOf(target, QStringLiteral("corpus")).size();
    QVERIFY2(seeds >= atLeast, qPrintable(QStringLiteral("%1 seeds for %2").arg(seeds).arg(target)));
}

void TestFuzzRegressions::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    for (const char *target : targets) {
        for (const QString &kind : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
            for (const QString &path : inputsOf(QLatin1String(target), kind)) {
                const QString name = QStringLiteral("%1/%2/%3")
                                         .arg(QLatin1String(target), kind, QFileInfo(path).fileName());
                QTest::newRow(qPrintable(name)) << QString::fromLatin1(target) << path;
            }
        }
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QString verdict = entryFor(target)(file.readAll());
    QVERIFY2(verdict.isEmpty(), qPrintable(verdict));
}

void TestFuzzRegressions::refusedRequestReadsNothingMore_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("read group 6") << ReadTimeouts << hex("02 02 07 06 03");
    QTest::newRow("read group 8") << ReadGprs << hex("02 02 07 08 0D");
    QTest::newRow("write priority 2") << WritePriority << hex("02 02 67 02 67");
    QTest::newRow("write MAC") << WriteMac << hex("02 07 69 00 11 22 33 44 55 7F");
    QTest::newRow("write empty GPRS") << WriteGprs << hex("02 06 63 00 00 00 00 00 65");
    QTest::newRow("reset kind 0") << Reset << hex("02 02 26 00 24");
    QTest::newRow("unit status") << UnitStatus << hex("02 01 55 54");
    QTest::newRow("signal level") << SignalTest << hex("02 02 58 01 5B");
    QTest::newRow("server test") << ServerTest << hex("02 02 58 02 58");
}

// A refusal ends the command: the answer frame that follows it must stay unread.
void TestFuzzRegressions::refusedRequestReadsNothingMore()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, request);
    auto *line = new MemoryDevice(hex("15 02 01 00 01"));
    DeviceLink link;
    link.attachDevice(line);
    QVERIFY(!run(link, operation));
    QCOMPARE(line->written().toHex(' '), request.toHex(' '));
    QCOMPARE(line->consumed(), 1);
}

void TestFuzzRegressions::quietUnitFailsAtOnce_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("unit");

    QTest::newRow("reset, 3-minute answer wait") << Reset << hex("06");
    QTest::newRow("GPRS read, 30-second answer wait") << ReadGprs << hex("06");
    QTest::newRow("GPRS write, 30-second acknowledgement wait") << WriteGprs << QByteArray();
    QTest::newRow("status, 30-second wait for the second part")
        << UnitStatus << hex("06 02 01 00 01 06");
    QTest::newRow("test, answer stops after its first byte") << SignalTest << hex("06 02");
}

// The line runs dry and says so at once; the link itself must not sit out its waits, or no
// fuzzer could get through a few inputs a second.
void TestFuzzRegressions::quietUnitFailsAtOnce()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, unit);
    auto *line = new MemoryDevice(unit);
    DeviceLink link;
    link.attachDevice(line);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!run(link, operation));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    QCOMPARE(line->consumed(), unit.size());
}

// A unit that never ends its status text is cut off after 256 parts: 255 continuations are
// sent, nothing past the 256th part is read, and the text has all 256 parts.
void TestFuzzRegressions::statusStopsAfter256Parts()
{
    const QByteArray part = hex("02 06 00 CC EE E4 E5 EC C9");  // result 00, "Модем"
    QByteArray unit;
    for (int i = 0; i < 300; ++i)
        unit += hex("06") + part;
    auto *line = new MemoryDevice(unit);
    DeviceLink link;
    link.attachDevice(line);
    QString text;
    QVERIFY(link.readModemStatus(text));

    QString expectedText;
    for (int i = 0; i < 256; ++i)
        expectedText += QStringLiteral("Модем\n");
    QCOMPARE(text, expectedText);
    QCOMPARE(line->written(), hex("02 01 56 57") + hex("02 01 05 04").repeated(255));
    QCOMPARE(line->consumed(), 256 * (1 + part.size()));
}

TALLY_TEST_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
