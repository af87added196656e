#include "testaddress.h"
#include "testmain.h"

#include "simulatorfixture.h"
#include "simulatorserver.h"
#include "testbytes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

// This program's own loopback address; nothing here talks to anything else.
static const QString Address = testAddress(2);
static const quint16 Port = 20107;

static bool connectTo(QTcpSocket &socket)
{
    socket.connectToHost(Address, Port);
    return socket.waitForConnected(1000);
}

// Reads until count bytes are in or the line stays quiet for quietMs.
static QByteArray readAnswer(QTcpSocket &socket, int count, int quietMs = 1000)
{
    QByteArray answer = socket.readAll();
    while (answer.size() < count && socket.waitForReadyRead(quietMs))
        answer += socket.readAll();
    return answer;
}

static QByteArray exchange(QTcpSocket &socket, const QByteArray &request, int count)
{
    socket.write(request);
    socket.flush();
    return readAnswer(socket, count);
}

static QString simulatorPath()
{
    return QStringLiteral(UNIT_SIMULATOR_PATH);
}

class TestSimulatorServer : public QObject
{
    Q_OBJECT

private slots:
    void answersRawClient_data();
    void answersRawClient();
    void connectionAfterConnection();
    void secondClientWaitsItsTurn();
    void vanishedClientLeavesNothingBehind_data();
    void vanishedClientLeavesNothingBehind();
    void quietLineDropsHalfFrame();
    void fixtureSettersAndGetters();
    void fixtureRestart();
    void fixtureFaults();
    void faultTiming_data();
    void faultTiming();
    void pacing_data();
    void pacing();
    void logFile();
    void pseudoTerminal();
    void programRefusesBadOptions_data();
    void programRefusesBadOptions();
    void programCannotListenTwice();
    void programHelpAndPortCount();
    void programServesWithItsOptions();
};

void TestSimulatorServer::answersRawClient_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("answer");

    QTest::newRow("group 6") << hex("02 02 07 06 03") << "06 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("group 10") << hex("02 02 07 0A 0F") << "06 02 02 00 02 00";
    QTest::newRow("signal level") << hex("02 02 58 01 5B") << "06 02 02 00 4B 49";
    QTest::newRow("priority write") << hex("02 02 67 02 67") << "06 02 01 00 01";
    QTest::newRow("corrupt request") << hex("02 02 07 06 00") << "15";
}

void TestSimulatorServer::answersRawClient()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, answer);
    SimulatorFixture unit(Address);
    QVERIFY(unit.isListening());
    QCOMPARE(unit.address(), Address);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    const int expected = QByteArray::fromHex(answer.toLatin1()).size();
    QCOMPARE(spaced(exchange(socket, request, expected)), answer);
    QCOMPARE(unit.requests(), QList<QByteArray>{request});
}

void TestSimulatorServer::connectionAfterConnection()
{
    SimulatorFixture unit(Address);
    for (int round = 0; round < 5; ++round) {
        QTcpSocket socket;
        QVERIFY(connectTo(socket));
        QCOMPARE(spaced(exchange(socket, hex("02 02 07 0A 0F"), 6)), QStringLiteral("06 02 02 00 02 00"));
        QVERIFY(unit.hasClient());
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            QVERIFY(socket.waitForDisconnected(1000));
        QTRY_VERIFY(!unit.hasClient());
    }
    QCOMPARE(unit.requests().size(), 5);
    QCOMPARE(unit.connectionCount(), 5);
}

void TestSimulatorServer::secondClientWaitsItsTurn()
{
    SimulatorFixture unit(Address);
    QTcpSocket first;
    QVERIFY(connectTo(first));
    QCOMPARE(spaced(exchange(first, hex("02 02 07 0A 0F"), 6)), QStringLiteral("06 02 02 00 02 00"));

    QTcpSocket second;
    QVERIFY(connectTo(second));
    second.write(hex("02 02 58 02 58"));
    second.flush();
    QVERIFY(!second.waitForReadyRead(300));
    // The second caller is still in the listen queue, not yet taken.
    QCOMPARE(unit.connectionCount(), 1);

    first.disconnectFromHost();
    QCOMPARE(spaced(readAnswer(second, 6)), QStringLiteral("06 02 02 00 78 7A"));
    QCOMPARE(unit.connectionCount(), 2);
    QVERIFY(unit.hasClient());
}

void TestSimulatorServer::vanishedClientLeavesNothingBehind_data()
{
    QTest::addColumn<QByteArray>("firstSends");
    QTest::addColumn<QByteArray>("secondSends");
    QTest::addColumn<QString>("secondGets");

    QTest::newRow("half a frame") << hex("02 02 07") << hex("02 02 07 0A 0F") << "06 02 02 00 02 00";
    QTest::newRow("only the STX") << hex("02") << hex("02 02 07 06 03") << "06 02 07 00 E8 03 F4 01 3C 00 25";
    QTest::newRow("inside a status dialogue") << hex("02 01 55 54") << hex("02 01 05 04") << "06 02 01 01 00";
}

void TestSimulatorServer::vanishedClientLeavesNothingBehind()
{
    QFETCH(QByteArray, firstSends);
    QFETCH(QByteArray, secondSends);
    QFETCH(QString, secondGets);
    SimulatorFixture unit(Address);
    {
        QTcpSocket first;
        QVERIFY(connectTo(first));
        first.write(firstSends);
        first.flush();
        // Let the unit take the bytes in before the line drops.
        first.waitForReadyRead(200);
        first.abort();
    }
    QTcpSocket second;
    QVERIFY(connectTo(second));
    const int expected = QByteArray::fromHex(secondGets.toLatin1()).size();
    QCOMPARE(spaced(exchange(second, secondSends, expected)), secondGets);
}

void TestSimulatorServer::quietLineDropsHalfFrame()
{
    // A corrupt LEN of 255 would swallow the next request whole; after a second of silence
    // the unit gives up on it, like the configurator does on a stalled answer.
    SimulatorFixture unit(Address);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    socket.write(hex("02 FF 07"));
    socket.flush();
    QVERIFY(!socket.waitForReadyRead(1200));
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 0A 0F"), 6)), QStringLiteral("06 02 02 00 02 00"));
    QCOMPARE(unit.requests(), QList<QByteArray>{hex("02 02 07 0A 0F")});
}

void TestSimulatorServer::fixtureSettersAndGetters()
{
    SimulatorFixture unit(Address);
    unit.setGroup(6, hex("00 10 27 20 4E 05 00"));
    QCOMPARE(spaced(unit.group(6)), QStringLiteral("00 10 27 20 4E 05 00"));
    unit.setUnitStatus({hex("C0 E1 E2")});
    unit.setModemStatus({hex("CC EE E4 E5 EC")});
    unit.setTestResponse(2, hex("01"));

    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 06 03"), 10)), QStringLiteral("06 02 07 00 10 27 20 4E 05 00 5B"));
    QCOMPARE(spaced(exchange(socket, hex("02 01 55 54"), 8)), QStringLiteral("06 02 04 00 C0 E1 E2 C7"));
    QCOMPARE(spaced(exchange(socket, hex("02 01 56 57"), 10)), QStringLiteral("06 02 06 00 CC EE E4 E5 EC C9"));
    QCOMPARE(spaced(exchange(socket, hex("02 02 58 02 58"), 5)), QStringLiteral("06 02 01 01 00"));
    // A write over the wire shows in the getter at once.
    QCOMPARE(spaced(exchange(socket, hex("02 07 69 00 11 22 33 44 55 7F"), 5)), QStringLiteral("06 02 01 00 01"));
    QCOMPARE(spaced(unit.group(9).mid(19)), QStringLiteral("00 11 22 33 44 55"));

    QCOMPARE(unit.requests().size(), 5);
    QCOMPARE(unit.requests().last(), hex("02 07 69 00 11 22 33 44 55 7F"));
    unit.clearRequests();
    QVERIFY(unit.requests().isEmpty());
}

void TestSimulatorServer::fixtureRestart()
{
    SimulatorFixture unit(Address);
    unit.setGroup(10, hex("00 04"));
    QVERIFY(unit.addFault(QStringLiteral("nak@07/06")));
    unit.setBaudRate(300);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 06 03"), 1)), QStringLiteral("15"));

    unit.restart();
    QVERIFY(unit.requests().isEmpty());
    QCOMPARE(spaced(unit.group(10)), QStringLiteral("00 02"));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 06 03"), 11)), QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
    // At 300 baud these 16 bytes would take half a second.
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
}

void TestSimulatorServer::fixtureFaults()
{
    SimulatorFixture unit(Address);
    QVERIFY(!unit.addFault(QStringLiteral("explode")));
    QVERIFY(!unit.addFault(QStringLiteral("nak@61/01")));
    QVERIFY(unit.addFault(QStringLiteral("nak@07/04")));
    QVERIFY(unit.addFault(QStringLiteral("result=01@61")));
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 04 01"), 1)), QStringLiteral("15"));
    QCOMPARE(spaced(exchange(socket, hex("02 06 61 21 43 65 87 09 EE"), 5)), QStringLiteral("06 02 01 01 00"));
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 0A 0F"), 6)), QStringLiteral("06 02 02 00 02 00"));
    unit.clearFaults();
    QCOMPARE(spaced(exchange(socket, hex("02 06 61 21 43 65 87 09 EE"), 5)), QStringLiteral("06 02 01 00 01"));
    QCOMPARE(spaced(unit.group(4).mid(20)), QStringLiteral("21 43 65 87 09"));
}

void TestSimulatorServer::faultTiming_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("earlyBytes");      // what must arrive at once
    QTest::addColumn<int>("lateAfterMs");     // the rest not before this

    QTest::newRow("delay=300: the ACK at once, the frame later") << "delay=300" << 1 << 300;
    QTest::newRow("gap=300: ACK and STX at once, the rest later") << "gap=300@07/06" << 2 << 300;
}

void TestSimulatorServer::faultTiming()
{
    QFETCH(QString, fault);
    QFETCH(int, earlyBytes);
    QFETCH(int, lateAfterMs);
    SimulatorFixture unit(Address);
    QVERIFY(unit.addFault(fault));
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QElapsedTimer clock;
    clock.start();
    socket.write(hex("02 02 07 06 03"));
    socket.flush();
    const QByteArray early = readAnswer(socket, earlyBytes, lateAfterMs / 2);
    QCOMPARE(early.size(), earlyBytes);
    QVERIFY(clock.elapsed() < lateAfterMs);
    const QByteArray all = early + readAnswer(socket, 11 - earlyBytes, 2000);
    QVERIFY2(clock.elapsed() >= lateAfterMs - 5, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(spaced(all), QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
}

void TestSimulatorServer::pacing_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<int>("atMostMs");

    // A 5-byte request and an 11-byte answer are 15 byte times after the request's first byte.
    QTest::newRow("unpaced") << 0 << 0 << 100;
    QTest::newRow("9600 baud") << 9600 << 15 << 1000;
    QTest::newRow("1200 baud") << 1200 << 124 << 1000;
}

void TestSimulatorServer::pacing()
{
    QFETCH(int, baud);
    QFETCH(int, atLeastMs);
    QFETCH(int, atMostMs);
    SimulatorFixture unit(Address);
    unit.setBaudRate(baud);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(spaced(exchange(socket, hex("02 02 07 06 03"), 11)), QStringLiteral("06 02 07 00 E8 03 F4 01 3C 00 25"));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= atLeastMs && elapsed <= atMostMs, qPrintable(QString::number(elapsed)));
}

void TestSimulatorServer::logFile()
{
    SimulatorServer server;
    QVERIFY(server.setLogFile(QStringLiteral("requests.log")));
    QVERIFY(server.listen(QHostAddress(Address), Port));
    QTcpSocket socket;
    socket.connectToHost(Address, Port);
    QTRY_VERIFY(socket.state() == QAbstractSocket::ConnectedState);
    socket.write(hex("FF 02 02 07 06 03 02 01 55 54"));
    QByteArray answer;
    QTRY_VERIFY((answer += socket.readAll()).size() >= 11 + 11);

    QFile log(QStringLiteral("requests.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("02 02 07 06 03\n02 01 55 54\n"));
    QVERIFY(!server.setLogFile(QStringLiteral("no/such/dir/requests.log")));
    QVERIFY(server.errorString().contains(QStringLiteral("requests.log")));
}

void TestSimulatorServer::pseudoTerminal()
{
#ifdef Q_OS_LINUX
    SimulatorServer server;
    if (!server.openPty())
        QSKIP(qPrintable(server.errorString()));
    QVERIFY(server.ptyPath().startsWith(QStringLiteral("/dev/")));
    const int fd = ::open(server.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios mode;
    QCOMPARE(tcgetattr(fd, &mode), 0);
    cfmakeraw(&mode);
    QCOMPARE(tcsetattr(fd, TCSANOW, &mode), 0);

    auto readAll = [fd] {
        QByteArray bytes;
        char buffer[512];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, int(got));
        return bytes;
    };
    // Raw mode matters: 0x0A, 0x0D and 0x03 must cross untouched in both directions.
    const QByteArray request = hex("02 07 60 0D 0A 03 00 0A 00 69");
    QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
    QByteArray answer;
    QTRY_VERIFY((answer += readAll()).size() >= 5);
    QCOMPARE(spaced(answer), QStringLiteral("06 02 01 00 01"));

    const QByteArray read = hex("02 02 07 06 03");
    QCOMPARE(::write(fd, read.constData(), size_t(read.size())), ssize_t(read.size()));
    answer.clear();
    QTRY_VERIFY((answer += readAll()).size() >= 11);
    QCOMPARE(spaced(answer), QStringLiteral("06 02 07 00 0D 0A 03 00 0A 00 09"));
    ::close(fd);
#else
    QSKIP("pseudo-terminals are Linux only");
#endif
}

void TestSimulatorServer::programRefusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("bad fault") << QStringList{"--fault", "explode"} << "explode";
    QTest::newRow("second fault bad") << QStringList{"--fault", "nak", "--fault", "nak@70"} << "nak@70";
    QTest::newRow("listen without port") << QStringList{"--listen", Address} << "--listen";
    QTest::newRow("listen on a name") << QStringList{"--listen", "localhost:20107"} << "--listen";
    QTest::newRow("port beyond 16 bits") << QStringList{"--listen", Address + ":70000"} << "--listen";
    QTest::newRow("missing state file") << QStringList{"--state", "absent.json"} << "absent.json";
    QTest::newRow("broken state file") << QStringList{"--state", "broken.json"} << "priority";
    QTest::newRow("baud zero") << QStringList{"--baud", "0"} << "--baud";
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"} << "--baud";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("stray argument") << QStringList{"stray"} << "stray";
    QTest::newRow("unwritable log") << QStringList{"--listen", Address + ":20107", "--log", "no/such/dir/x.log"} << "x.log";
}

void TestSimulatorServer::programRefusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    QFile broken(QStringLiteral("broken.json"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(R"({"priority": "high"})");
    broken.close();

    QProcess program;
    program.start(simulatorPath(), arguments);
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    const QString error = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QVERIFY(!program.readAllStandardOutput().contains("listening"));
}

void TestSimulatorServer::programCannotListenTwice()
{
    SimulatorFixture unit(Address);
    QProcess program;
    program.start(simulatorPath(), {QStringLiteral("--listen"), Address + QStringLiteral(":20107")});
    QVERIFY(program.waitForFinished(5000));
    QVERIFY(program.exitCode() != 0);
    const QString error = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(error.contains(QStringLiteral("cannot listen on %1:20107").arg(Address)), qPrintable(error));
}

void TestSimulatorServer::programHelpAndPortCount()
{
    QProcess help;
    help.start(simulatorPath(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char *needle : {"--listen", "--state", "--fault", "--baud", "--log", "--pty",
                               "--serial-port-count", "badstx", "gap=MS", "\"groups\"", "\"unitStatus\""})
        QVERIFY2(text.contains(QLatin1String(needle)), needle);

    QProcess count;
    count.start(simulatorPath(), {QStringLiteral("--serial-port-count")});
    QVERIFY(count.waitForFinished(5000));
    QCOMPARE(count.exitCode(), 0);
    bool isNumber = false;
    const int ports = QString::fromLatin1(count.readAllStandardOutput()).trimmed().toInt(&isNumber);
    QVERIFY(isNumber);
    QVERIFY(ports >= 0);
}

void TestSimulatorServer::programServesWithItsOptions()
{
    QFile state(QStringLiteral("unit.json"));
    QVERIFY(state.open(QIODevice::WriteOnly));
    state.write(R"({"priority": 3, "timeouts": {"full": 2000, "command": 300, "retry": 120}})");
    state.close();

    QStringList arguments{"--listen", Address + ":20107", "--state", "unit.json",
                          "--fault", "nak@07/04", "--fault", "badsum@58/02", "--log", "unit.log"};
#ifdef Q_OS_LINUX
    arguments << QStringLiteral("--pty");
#endif
    QProcess program;
    program.start(simulatorPath(), arguments);
    QVERIFY(program.waitForStarted(5000));
    QByteArray banner;
    QTRY_VERIFY_WITH_TIMEOUT((banner += program.readAllStandardOutput()).contains(QStringLiteral("listening on %1:20107\n").arg(Address).toUtf8()), 5000);
#ifdef Q_OS_LINUX
    QTRY_VERIFY_WITH_TIMEOUT((banner += program.readAllStandardOutput()).contains("pty: /dev/"), 5000);
#endif

    QTcpSocket socket;
    socket.connectToHost(Address, Port);
    QTRY_VERIFY(socket.state() == QAbstractSocket::ConnectedState);
    const struct { const char *request; const char *answer; } steps[] = {
        {"02 02 07 0A 0F", "06 02 02 00 03 01"},
        {"02 02 07 06 03", "06 02 07 00 D0 07 2C 01 78 00 85"},
        {"02 02 07 04 01", "15"},
        {"02 02 58 02 58", "06 02 02 00 78 85"},
    };
    for (const auto &step : steps) {
        socket.write(hex(step.request));
        const int expected = hex(step.answer).size();
        QByteArray answer;
        QTRY_VERIFY((answer += socket.readAll()).size() >= expected);
        QCOMPARE(spaced(answer), QString::fromLatin1(step.answer));
    }

#ifdef Q_OS_LINUX
    const int at = banner.indexOf("pty: ") + 5;
    const QByteArray ptyPath = banner.mid(at, banner.indexOf('\n', at) - at);
    const int fd = ::open(ptyPath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY2(fd >= 0, ptyPath.constData());
    const QByteArray request = hex("02 02 07 0A 0F");
    QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
    QByteArray answer;
    char buffer[64];
    QTRY_VERIFY([&] {
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, int(got));
        return answer.size() >= 6;
    }());
    QCOMPARE(spaced(answer), QStringLiteral("06 02 02 00 03 01"));
    ::close(fd);
#endif

#ifdef Q_OS_WIN
    program.kill();     // a console program has no window to take terminate()'s WM_CLOSE
#else
    program.terminate();
#endif
    QVERIFY(program.waitForFinished(5000));
    QFile log(QStringLiteral("unit.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QByteArray expectedLog("02 02 07 0A 0F\n02 02 07 06 03\n02 02 07 04 01\n02 02 58 02 58\n");
#ifdef Q_OS_LINUX
    expectedLog += "02 02 07 0A 0F\n";
#endif
    QCOMPARE(log.readAll(), expectedLog);
}

TALLY_TEST_MAIN(TestSimulatorServer)
#include "tst_simulatorserver.moc"
