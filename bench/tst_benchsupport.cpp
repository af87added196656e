#include "benchmath.h"
#include "clirunner.h"
#include "countingrelay.h"
#include "rawreplay.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testbytes.h"
#include "startuprun.h"
#include "stationsrun.h"
#include "testmain.h"
#include "unitprocess.h"
#include "windowrunner.h"

#include <QFile>
#include <QTcpSocket>

#include <memory>

Q_DECLARE_METATYPE(QVector<double>)
Q_DECLARE_METATYPE(Operation)

namespace {

const QString UnitHost = testAddress(30);
const QString RelayHost = testAddress(31);
const QString ProcessHost = testAddress(32);
constexpr quint16 Port = 20107;

// The window, or tallyctl with its profile in the working directory.
struct FrontEnd {
    explicit FrontEnd(bool tallyctl)
        : cli(QStringLiteral(TALLY_TALLYCTL_PATH), QStringLiteral("profile.ini")),
          window(tallyctl ? nullptr : new WindowRunner)
    {
        runner().connectTo(UnitHost);
    }
    FrontEndRunner &runner() { return window ? static_cast<FrontEndRunner &>(*window) : cli; }
    // Write-all sends what the form (or the profile) holds: fill it from the unit.
    RunOutcome fill() { return window ? window->run(Operation::ReadAll) : cli.storeProfile(); }

    CliRunner cli;
    std::unique_ptr<WindowRunner> window;
};

// Reads until exactly count bytes have come, or the wait runs out.
QByteArray readCount(QTcpSocket &socket, int count)
{
    QByteArray got;
    while (got.size() < count && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(2000)))
        got += socket.read(count - got.size());
    return got;
}

} // namespace

class TestBenchSupport : public QObject
{
    Q_OBJECT

private slots:
    void summary_data();
    void summary();
    void wireTime_data();
    void wireTime();
    void frameLog_data();
    void frameLog();
    void probeLine_data();
    void probeLine();

    void relayCountsBothDirections();
    void relayIsIdleOnlyOnceTheConfiguratorHangsUp();
    void probeReportsAPaintedWindow();
    void probeThatCannotStart();

    void runnerJudgesTheOutcome_data();
    void runnerJudgesTheOutcome();
    void runnerNoticesAReadThatFillsTheFormDifferently_data();
    void runnerNoticesAReadThatFillsTheFormDifferently();

    void bareClientReplay_data();
    void bareClientReplay();

    void unitProcessStartsAndReportsWhyNot();

    void stationsRunJudgesEveryUnit_data();
    void stationsRunJudgesEveryUnit();
};

void TestBenchSupport::summary_data()
{
    QTest::addColumn<QVector<double>>("samples");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("max");

    QTest::newRow("none") << QVector<double>{} << 0.0 << 0.0;
    QTest::newRow("one") << QVector<double>{4.5} << 4.5 << 4.5;
    QTest::newRow("odd count, unsorted") << QVector<double>{9, 1, 5} << 5.0 << 9.0;
    QTest::newRow("even count: mean of the middle two") << QVector<double>{8, 2, 4, 6} << 5.0 << 8.0;
    QTest::newRow("one slow outlier moves max, not median") << QVector<double>{1, 1, 1, 1, 250} << 1.0 << 250.0;
}

void TestBenchSupport::summary()
{
    QFETCH(QVector<double>, samples);
    QFETCH(double, median);
    QFETCH(double, max);
    const BenchMath::Summary summary = BenchMath::summarize(samples);
    QCOMPARE(summary.count, samples.size());
    QCOMPARE(summary.median, median);
    QCOMPARE(summary.max, max);
}

void TestBenchSupport::wireTime_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("baud");
    QTest::addColumn<double>("ms");

    QTest::newRow("960 bytes at 9600 baud: one second") << qint64(960) << 9600 << 1000.0;
    QTest::newRow("one byte at 9600 baud") << qint64(1) << 9600 << 10000.0 / 9600;
    QTest::newRow("one byte at 115200 baud") << qint64(1) << 115200 << 10000.0 / 115200;
    QTest::newRow("no bytes") << qint64(0) << 9600 << 0.0;
    QTest::newRow("no line speed") << qint64(100) << 0 << 0.0;
}

void TestBenchSupport::wireTime()
{
    QFETCH(qint64, bytes);
    QFETCH(int, baud);
    QFETCH(double, ms);
    QVERIFY2(qAbs(BenchMath::wireMs(bytes, baud) - ms) < 1e-9, qPrintable(QString::number(BenchMath::wireMs(bytes, baud))));
}

void TestBenchSupport::frameLog_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("two reads") << QByteArray("02 02 07 06 03\n02 02 07 07 02\n") << true
                               << QList<QByteArray>{hex("0202070603"), hex("0202070702")};
    QTest::newRow("blank lines and CRLF") << QByteArray("\n02 01 00 01\r\n\n") << true
                                          << QList<QByteArray>{hex("02010001")};
    QTest::newRow("lower case") << QByteArray("02 02 07 0a 0f\n") << true
                                << QList<QByteArray>{hex("0202070a0f")};
    QTest::newRow("empty log") << QByteArray() << true << QList<QByteArray>{};
    QTest::newRow("not hex") << QByteArray("02 0G\n") << false << QList<QByteArray>{};
    QTest::newRow("half a byte") << QByteArray("02 2 07\n") << false << QList<QByteArray>{};
    QTest::newRow("bad line after a good one") << QByteArray("02 02 07 06 03\nhello\n") << false
                                               << QList<QByteArray>{};
}

void TestBenchSupport::frameLog()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QList<QByteArray>, frames);

    QList<QByteArray> parsed{hex("ff")};
    QCOMPARE(BenchMath::parseFrameLog(text, &parsed), ok);
    if (ok)
        QCOMPARE(parsed, frames);
    else
        QCOMPARE(parsed, QList<QByteArray>{hex("ff")});
}

void TestBenchSupport::probeLine_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("painted");

    QTest::newRow("plain") << QByteArray("main-ns=100 first-paint-ns=200 painted-ns=300\n") << true << qint64(300);
    QTest::newRow("after Qt warnings")
        << QByteArray("QStandardPaths: XDG_RUNTIME_DIR not set\nmain-ns=5 first-paint-ns=6 painted-ns=7\n")
        << true << qint64(7);
    QTest::newRow("a field missing") << QByteArray("main-ns=100 painted-ns=300\n") << false << qint64(0);
    QTest::newRow("painted before main") << QByteArray("main-ns=300 first-paint-ns=200 painted-ns=100\n")
                                         << false << qint64(0);
    QTest::newRow("not a number") << QByteArray("main-ns=1 first-paint-ns=x painted-ns=3\n") << false << qint64(0);
    QTest::newRow("nothing printed") << QByteArray() << false << qint64(0);
}

void TestBenchSupport::probeLine()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, ok);
    QFETCH(qint64, painted);

    BenchMath::ProbeTimes times;
    QCOMPARE(BenchMath::parseProbeLine(output, &times), ok);
    QCOMPARE(times.paintedNs, painted);
    if (ok) {
        BenchMath::ProbeTimes again;
        QVERIFY(BenchMath::parseProbeLine(BenchMath::probeLine(times), &again));
        QCOMPARE(again.mainNs, times.mainNs);
        QCOMPARE(again.firstPaintNs, times.firstPaintNs);
        QCOMPARE(again.paintedNs, times.paintedNs);
    }
}

void TestBenchSupport::relayCountsBothDirections()
{
    SimulatorFixture unit(UnitHost);
    QVERIFY(unit.isListening());
    unit.setGroup(6, hex("00e803f4013c00"));
    CountingRelay relay{QHostAddress(RelayHost), QHostAddress(UnitHost), Port};
    QString error;
    QVERIFY2(relay.start(&error), qPrintable(error));

    QTcpSocket client;
    client.connectToHost(RelayHost, Port);
    QVERIFY(client.waitForConnected(2000));
    client.write(hex("0202070603"));
    client.flush();
    // ACK, then the time-outs group: 1000, 500 and 60 as little-endian words.
    QCOMPARE(readCount(client, 11), hex("06020700e803f4013c0025"));
    client.disconnectFromHost();

    QVERIFY(relay.waitUntilIdle(2000));
    QCOMPARE(relay.connectionsSeen(), 1);
    QCOMPARE(relay.bytesToUnit(), qint64(5));
    QCOMPARE(relay.bytesFromUnit(), qint64(11));
    QCOMPARE(unit.requests(), QList<QByteArray>{hex("0202070603")});
}

void TestBenchSupport::relayIsIdleOnlyOnceTheConfiguratorHangsUp()
{
    SimulatorFixture unit(UnitHost);
    QVERIFY(unit.isListening());
    CountingRelay relay{QHostAddress(RelayHost), QHostAddress(UnitHost), Port};
    QVERIFY(relay.start(nullptr));

    QTcpSocket client;
    client.connectToHost(RelayHost, Port);
    QVERIFY(client.waitForConnected(2000));
    QTRY_COMPARE(relay.connectionsSeen(), 1);
    QVERIFY(!relay.waitUntilIdle(100));
    client.disconnectFromHost();
    QVERIFY(relay.waitUntilIdle(2000));

    relay.resetCounts();
    QCOMPARE(relay.connectionsSeen(), 0);
    QCOMPARE(relay.bytesToUnit(), qint64(0));
}

void TestBenchSupport::probeReportsAPaintedWindow()
{
#ifndef Q_OS_LINUX
    QSKIP("start-up timing needs Linux");
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const StartupRun run = runStartupProbe(QStringLiteral(TALLY_PROBE_PATH));
    QVERIFY2(run.ok, qPrintable(run.error));
    QVERIFY(run.toMainMs > 0);
    QVERIFY(run.toMainMs <= run.toFirstPaintMs);
    QVERIFY(run.toFirstPaintMs <= run.toPaintedMs);
    QVERIFY(run.toPaintedMs < 10000);
    // A Qt widgets program cannot fit in a megabyte; zero would mean the child's usage was lost.
    QVERIFY2(run.peakRssMb > 1, qPrintable(QString::number(run.peakRssMb)));
}

void TestBenchSupport::probeThatCannotStart()
{
#ifndef Q_OS_LINUX
    QSKIP("start-up timing needs Linux");
#endif
    const StartupRun run = runStartupProbe(QStringLiteral("/nonexistent/tallyconf-startup-probe"));
    QVERIFY(!run.ok);
    QVERIFY2(run.error.contains(QLatin1String("/nonexistent/tallyconf-startup-probe")), qPrintable(run.error));
}

void TestBenchSupport::runnerJudgesTheOutcome_data()
{
    QTest::addColumn<bool>("tallyctl");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error");

    QTest::newRow("read-all, healthy unit") << false << Operation::ReadAll << QString() << QString();
    QTest::newRow("read-all, cash-register state refused")
        << false << Operation::ReadAll << QStringLiteral("nak@07/04") << QStringLiteral("Не удается прочитать состояние ККМ");
    QTest::newRow("read-all, GPRS group garbled")
        << false << Operation::ReadAll << QStringLiteral("badsum@07/08") << QStringLiteral("Не удается прочитать настройки GPRS");
    QTest::newRow("write-all, healthy unit") << false << Operation::WriteAll << QString() << QString();
    QTest::newRow("write-all, token refused")
        << false << Operation::WriteAll << QStringLiteral("result=01@61") << QStringLiteral("Не удается записать токен");
    QTest::newRow("write-all, last group refused")
        << false << Operation::WriteAll << QStringLiteral("nak@64") << QStringLiteral("Не удается записать ID ККМ");
    QTest::newRow("tallyctl read, healthy unit") << true << Operation::ReadAll << QString() << QString();
    QTest::newRow("tallyctl read, cash-register state refused")
        << true << Operation::ReadAll << QStringLiteral("nak@07/04") << QStringLiteral("exited with 4: Не удается прочитать состояние ККМ");
    QTest::newRow("tallyctl write, healthy unit") << true << Operation::WriteAll << QString() << QString();
    QTest::newRow("tallyctl write, token refused")
        << true << Operation::WriteAll << QStringLiteral("result=01@61") << QStringLiteral("exited with 4: Не удается записать токен");
}

void TestBenchSupport::runnerJudgesTheOutcome()
{
    QFETCH(bool, tallyctl);
    QFETCH(Operation, operation);
    QFETCH(QString, fault);
    QFETCH(QString, error);

    SimulatorFixture unit(UnitHost);
    QVERIFY(unit.isListening());
    FrontEnd frontEnd(tallyctl);
    if (operation == Operation::WriteAll) {
        const RunOutcome filled = frontEnd.fill();
        QVERIFY2(filled.ok, qPrintable(filled.error));
    }
    if (!fault.isEmpty())
        QVERIFY(unit.addFault(fault));
    unit.clearRequests();

    const RunOutcome outcome = frontEnd.runner().run(operation);
    QCOMPARE(outcome.ok, error.isEmpty());
    QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
    if (outcome.ok) {
        QVERIFY(outcome.ms > 0);
        QCOMPARE(unit.requests().size(), operation == Operation::ReadAll ? 6 : 8);
    }
}

void TestBenchSupport::runnerNoticesAReadThatFillsTheFormDifferently_data()
{
    QTest::addColumn<bool>("tallyctl");

    QTest::newRow("window") << false;
    QTest::newRow("tallyctl") << true;
}

void TestBenchSupport::runnerNoticesAReadThatFillsTheFormDifferently()
{
    QFETCH(bool, tallyctl);

    SimulatorFixture unit(UnitHost);
    QVERIFY(unit.isListening());
    FrontEnd frontEnd(tallyctl);
    FrontEndRunner &runner = frontEnd.runner();
    QVERIFY(runner.run(Operation::ReadAll).ok);
    QVERIFY(runner.run(Operation::ReadAll).ok);

    unit.setGroup(6, hex("00d007f4013c00"));
    const RunOutcome outcome = runner.run(Operation::ReadAll);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(QLatin1String("2000")), qPrintable(outcome.error));
}

void TestBenchSupport::bareClientReplay_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("received");

    QTest::newRow("time-outs and priority") << QString() << true << qint64(11 + 6);
    QTest::newRow("refused") << QStringLiteral("nak@07/0a") << false << qint64(0);
    QTest::newRow("wrong first byte") << QStringLiteral("badstx@07/0a") << false << qint64(0);
}

void TestBenchSupport::bareClientReplay()
{
    QFETCH(QString, fault);
    QFETCH(bool, ok);
    QFETCH(qint64, received);

    SimulatorFixture unit(UnitHost);
    QVERIFY(unit.isListening());
    unit.setGroup(6, hex("00e803f4013c00"));
    unit.setGroup(10, hex("0002"));
    if (!fault.isEmpty())
        QVERIFY(unit.addFault(fault));

    const ReplayResult replay = replayRequests(UnitHost, Port, {hex("0202070603"), hex("0202070a0f")});
    QCOMPARE(replay.ok, ok);
    if (ok) {
        QCOMPARE(replay.bytesSent, qint64(10));
        QCOMPARE(replay.bytesReceived, received);
        QVERIFY(replay.elapsedMs > 0);
    } else {
        QVERIFY2(replay.error.contains(QLatin1String("0202070a0f")),
                 qPrintable(replay.error));
    }
}

void TestBenchSupport::unitProcessStartsAndReportsWhyNot()
{
    const QStringList listen{QStringLiteral("--listen"), ProcessHost + QStringLiteral(":20107")};
    QString error;
    UnitProcess missing(QStringLiteral("/nonexistent/unit-simulator"));
    QVERIFY(!missing.start(listen, &error));
    QVERIFY2(error.contains(QLatin1String("/nonexistent/unit-simulator")), qPrintable(error));

    UnitProcess first(QStringLiteral(TALLY_SIMULATOR_PATH));
    QVERIFY2(first.start(listen, &error), qPrintable(error));
    QTcpSocket client;
    client.connectToHost(ProcessHost, Port);
    QVERIFY(client.waitForConnected(2000));
    client.abort();

    // The address is taken: the second one must say so rather than pass for started.
    UnitProcess second(QStringLiteral(TALLY_SIMULATOR_PATH));
    error.clear();
    QVERIFY(!second.start(listen, &error));
    QVERIFY2(error.contains(QLatin1String("listen")), qPrintable(error));

    first.stop();
    client.connectToHost(ProcessHost, Port);
    QVERIFY(!client.waitForConnected(1000));
}

void TestBenchSupport::stationsRunJudgesEveryUnit_data()
{
    QTest::addColumn<QByteArray>("mac");        // EthMAC the profile starts from
    QTest::addColumn<QString>("error");         // the start of it; empty: the run counts

    QTest::newRow("every unit an address of its own") << QByteArray("00-1a-2b-3c-4d-fe") << QString();
    QTest::newRow("a series that cannot start") << QByteArray("00-1a-2b-ff-ff-ff")
                                                << QStringLiteral("station 0 exited with 2: EthMAC:");
}

// Two stations of three units each on one profile, unpaced: a run counts only when all six
// units are written with six addresses.
void TestBenchSupport::stationsRunJudgesEveryUnit()
{
    QFETCH(QByteArray, mac);
    QFETCH(QString, error);
    QByteArray profile;
    {
        SimulatorFixture unit(UnitHost);
        QVERIFY(unit.isListening());
        CliRunner cli(QStringLiteral(TALLY_TALLYCTL_PATH), QStringLiteral("profile.ini"));
        cli.connectTo(UnitHost);
        const RunOutcome stored = cli.storeProfile();
        QVERIFY2(stored.ok, qPrintable(stored.error));
        QFile file(QStringLiteral("profile.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        profile = file.readAll().replace("EthMAC=00-1a-2b-3c-4d-5e", "EthMAC=" + mac);
    }
    const StationsRun stations(QStringLiteral(TALLY_TALLYCTL_PATH), QStringLiteral(TALLY_SIMULATOR_PATH),
                               QDir::currentPath(), profile);
    const StationsRun::Result result = stations.run(2, 3, 0);
    QVERIFY2(result.error.startsWith(error) && result.ok == error.isEmpty(), qPrintable(result.error));
    QVERIFY(result.wallMs > 0);
}

TALLY_TEST_MAIN(TestBenchSupport)
#include "tst_benchsupport.moc"
