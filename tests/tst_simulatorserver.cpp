#include "testaddress.h"
#include "testmain.h"

#include "simulatorfixture.h"
#include "simulatorserver.h"
#include "testbytes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#endif

// This program's own loopback address; nothing here talks to anything else.
static const QString Address = testAddress(2);
static const quint16 Port = 20107;

// Fleets of this program start at hosts 100 and up of its network, on a port no other program's
// unit uses, so that a fleet reaching into the next /24 meets nobody's single unit there.
static const quint16 FleetPort = 20187;

static QHostAddress fleetAddress(const QString &first, int unit)
{
    return QHostAddress(QHostAddress(first).toIPv4Address() + quint32(unit - 1));
}

// Host 250 of the run's network, moved down one /24 when the run's is the last of its /16.
static QString beforeA24Boundary()
{
    const quint32 own = QHostAddress(testAddress(250)).toIPv4Address();
    return QHostAddress((own & 0xFF00) == 0xFF00 ? own - 0x100 : own).toString();
}

// Starts `unit-simulator --units` and waits for the line naming its first and last address.
static bool startFleet(QProcess &program, const QString &first, int units, const QStringList &more)
{
    program.start(QStringLiteral(UNIT_SIMULATOR_PATH),
                  QStringList{"--units", QString::number(units), "--listen",
                              first + ':' + QString::number(FleetPort)} + more);
    if (!program.waitForStarted(5000))
        return false;
    const QByteArray banner = QStringLiteral("listening on %1:%3 to %2:%3 (")
                                  .arg(first, fleetAddress(first, units).toString()).arg(FleetPort).toUtf8();
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains(banner) && program.state() == QProcess::Running && clock.elapsed() < 10000) {
        program.waitForReadyRead(200);
        said += program.readAllStandardOutput();
    }
    if (!said.contains(banner))
        qWarning("%s%s", said.constData(), program.readAllStandardError().constData());
    return said.contains(banner);
}

static void stopProgram(QProcess &program)
{
#ifdef Q_OS_WIN
    program.kill();     // a console program has no window to take terminate()'s WM_CLOSE
#else
    program.terminate();
#endif
    program.waitForFinished(5000);
}

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
    void fleet_data();
    void fleet();
    void fleetLogAndStates();
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
    QTest::newRow("fleet off loopback") << QStringList{"--units", "3", "--listen", "192.0.2.1:20107"} << "loopback";
    QTest::newRow("fleet beyond 127/8") << QStringList{"--units", "10", "--listen", "127.255.255.250:20107"} << "run out of 127.0.0.0/8";
    QTest::newRow("no units") << QStringList{"--units", "0", "--listen", Address + ":20107"} << "--units";
    QTest::newRow("unit beyond the fleet") << QStringList{"--units", "3", "--listen", Address + ":20107", "--offline", "2-4"} << "unit 4";
    QTest::newRow("share above all") << QStringList{"--units", "3", "--listen", Address + ":20107", "--offline", "101%"} << "share";
    QTest::newRow("fault aimed at no list") << QStringList{"--units", "3", "--listen", Address + ":20107", "--fault", "nak#x"} << "nak#x";
    QTest::newRow("offline without a fleet") << QStringList{"--offline", "1"} << "--offline needs --units";
    QTest::newRow("pty in a fleet") << QStringList{"--units", "2", "--listen", Address + ":20107", "--pty"} << "--pty";
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

void TestSimulatorServer::fleet_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("stateJson");
    // Per unit: o answers the read of group 9, n refuses it (0x15), - refuses the connection.
    QTest::addColumn<QString>("units");
    QTest::addColumn<quint64>("firstMac");
    QTest::addColumn<quint64>("firstCashDeskId");

    const QString first = testAddress(100);
    QTest::newRow("each unit its own IP, MAC and cash desk ID")
        << first << QStringList() << QByteArray() << "ooooo" << quint64(0x001a2b3c4d5e) << quint64(123456);
    QTest::newRow("counted up across a carry, into the next /24")
        << beforeA24Boundary() << QStringList()
        << QByteArray(R"({"ethernet": {"mac": "00-1a-2b-3c-4d-fe"}, "cashDesk": {"id": "9999999998"}})")
        << "oooooooooo" << quint64(0x001a2b3c4dfe) << quint64(9999999998);
    QTest::newRow("offline units and ranges")
        << first << QStringList{"--offline", "2,5-6"} << QByteArray() << "o-oo--oo"
        << quint64(0x001a2b3c4d5e) << quint64(123456);
    QTest::newRow("a fault aimed at some units")
        << first << QStringList{"--fault", "nak@07/09#1,3-4"} << QByteArray() << "nonnoo"
        << quint64(0x001a2b3c4d5e) << quint64(123456);
    QTest::newRow("a share of the fleet offline")
        << first << QStringList{"--offline", "30%", "--seed", "7"} << QByteArray() << "-ooo-oo-oo"
        << quint64(0x001a2b3c4d5e) << quint64(123456);
    QTest::newRow("the same share and seed, the same units faulty")
        << first << QStringList{"--fault", "nak@07/09#30%", "--seed", "7"} << QByteArray() << "nooonoonoo"
        << quint64(0x001a2b3c4d5e) << quint64(123456);
    QTest::newRow("paced, each unit on its own line")
        << first << QStringList{"--baud", "9600"} << QByteArray() << "ooo"
        << quint64(0x001a2b3c4d5e) << quint64(123456);
}

void TestSimulatorServer::fleet()
{
    QFETCH(QString, first);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, stateJson);
    QFETCH(QString, units);
    QFETCH(quint64, firstMac);
    QFETCH(quint64, firstCashDeskId);
    if (!stateJson.isEmpty()) {
        QFile state(QStringLiteral("fleet.json"));
        QVERIFY(state.open(QIODevice::WriteOnly | QIODevice::Truncate));
        state.write(stateJson);
        state.close();
        options << QStringLiteral("--state") << QStringLiteral("fleet.json");
    }
    QProcess program;
    QVERIFY(startFleet(program, first, units.size(), options));

    QString seen;
    for (int unit = 1; unit <= units.size(); ++unit) {
        const QHostAddress address = fleetAddress(first, unit);
        QTcpSocket socket;
        socket.connectToHost(address, FleetPort);
        if (!socket.waitForConnected(2000)) {
            QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
            seen += QLatin1Char('-');
            continue;
        }
        const QByteArray ethernet = exchange(socket, hex("02 02 07 09 0C"), 29);
        if (ethernet == hex("15")) {
            seen += QLatin1Char('n');
            continue;
        }
        seen += QLatin1Char('o');
        QCOMPARE(ethernet.size(), 29);
        const quint32 ip = address.toIPv4Address();
        QCOMPARE(spaced(ethernet.mid(5, 4)), spaced(QByteArray::fromHex(QByteArray::number(ip, 16).rightJustified(8, '0'))));
        const quint64 mac = firstMac + quint64(unit - 1);
        QCOMPARE(spaced(ethernet.mid(22, 6)), spaced(QByteArray::fromHex(QByteArray::number(mac, 16).rightJustified(12, '0'))));

        // Ten BCD digits, least significant byte first.
        const QByteArray digits = QByteArray::number((firstCashDeskId + quint64(unit - 1)) % 10000000000ULL).rightJustified(10, '0');
        QByteArray bcd;
        for (int pair = 8; pair >= 0; pair -= 2)
            bcd += QByteArray::fromHex(digits.mid(pair, 2));
        QCOMPARE(spaced(exchange(socket, hex("02 02 07 04 01"), 29).mid(18, 5)), spaced(bcd));
    }
    stopProgram(program);
    QCOMPARE(seen, units);
}

void TestSimulatorServer::fleetLogAndStates()
{
    QProcess help;
    help.start(simulatorPath(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char *needle : {"--units", "--offline", "--seed", "--dump-states", "FAULT#LIST", "EthMAC",
                               "CashDeskID", "EthIP", "SIGUSR1"})
        QVERIFY2(text.contains(QLatin1String(needle)), needle);

    const QString first = testAddress(110);
    const QString second = fleetAddress(first, 2).toString();
    const QString third = fleetAddress(first, 3).toString();
    QFile::remove(QStringLiteral("fleet.log"));
    QFile::remove(QStringLiteral("states.json"));
    QProcess program;
    QVERIFY(startFleet(program, first, 3, {"--log", "fleet.log", "--dump-states", "states.json"}));
    {
        QTcpSocket socket;
        socket.connectToHost(second, FleetPort);
        QVERIFY(socket.waitForConnected(2000));
        QCOMPARE(spaced(exchange(socket, hex("02 07 69 00 11 22 33 44 55 7F"), 5)), QStringLiteral("06 02 01 00 01"));
    }
    {
        QTcpSocket socket;
        socket.connectToHost(third, FleetPort);
        QVERIFY(socket.waitForConnected(2000));
        QCOMPARE(spaced(exchange(socket, hex("02 02 07 0A 0F"), 6)), QStringLiteral("06 02 02 00 02 00"));
    }
    QFile log(QStringLiteral("fleet.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(log.readAll()),
             QStringLiteral("2 %1 02 07 69 00 11 22 33 44 55 7F\n3 %2 02 02 07 0A 0F\n").arg(second, third));

#ifdef Q_OS_UNIX
    // On demand, then again at exit.
    for (bool atExit : {false, true}) {
        QFile::remove(QStringLiteral("states.json"));
        if (atExit) {
            program.terminate();
            QVERIFY(program.waitForFinished(5000));
            QCOMPARE(program.exitCode(), 0);
        } else {
            QCOMPARE(::kill(pid_t(program.processId()), SIGUSR1), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("states.json")), 5000);
        QFile dump(QStringLiteral("states.json"));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QJsonArray units = QJsonDocument::fromJson(dump.readAll()).object().value(QStringLiteral("units")).toArray();
        QCOMPARE(units.size(), 3);
        const char *macs[] = {"00 1A 2B 3C 4D 5E", "00 11 22 33 44 55", "00 1A 2B 3C 4D 60"};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject unit = units.at(i).toObject();
            QCOMPARE(unit.value(QStringLiteral("unit")).toInt(), i + 1);
            QCOMPARE(unit.value(QStringLiteral("address")).toString(), fleetAddress(first, i + 1).toString());
            UnitState state;
            QString error;
            QVERIFY2(UnitState::fromJson(QJsonDocument(unit.value(QStringLiteral("state")).toObject()).toJson(), &state, &error),
                     qPrintable(error));
            QCOMPARE(spaced(state.groups.value(9).mid(19)), QString::fromLatin1(macs[i]));
        }
    }
#else
    stopProgram(program);
    QSKIP("the states are dumped on signals and a console's Ctrl+C, which this test cannot send here");
#endif
}

TALLY_TEST_MAIN(TestSimulatorServer)
#include "tst_simulatorserver.moc"
