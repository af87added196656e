#include "benchmath.h"
#include "countingrelay.h"
#include "simulatorfixture.h"
#include "startuprun.h"
#include "testmain.h"

#include <QTcpSocket>

Q_DECLARE_METATYPE(QVector<double>)

namespace {

const QString UnitHost = QStringLiteral("127.0.0.30");
const QString RelayHost = QStringLiteral("127.0.0.31");
constexpr quint16 Port = 20107;

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

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

TALLY_TEST_MAIN(TestBenchSupport)
#include "tst_benchsupport.moc"
