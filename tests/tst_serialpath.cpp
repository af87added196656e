// The serial channel: the link opens one end of a pseudo-terminal pair as its port and the test
// plays the unit on the other end, from a thread of its own.
#include "devicelink.h"
#include "testbytes.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSerialPortInfo>

#include <cstring>

#ifdef Q_OS_LINUX
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

enum Operation { ReadTimeouts, WriteMac, WriteLongServerAddress, SignalLevel, ModemStatus };

} // namespace

Q_DECLARE_METATYPE(Operation)

#ifdef Q_OS_LINUX
namespace {

// The unit's end of the line: reads one request frame at a time and answers it with the next
// prepared reply (acknowledgement and response bytes together).
class ScriptedUnit
{
public:
    ScriptedUnit(int masterFd, const QByteArrayList &replies)
        : fd(masterFd), script(replies), worker([this] { run(); })
    {
    }
    ~ScriptedUnit() { finish(); }

    void finish()
    {
        if (worker.joinable())
            worker.join();
    }

    QByteArray received() const
    {
        return heard;
    }

private:
    bool readExact(char *destination, int count)
    {
        for (int done = 0; done < count;) {
            pollfd waiting = {fd, POLLIN, 0};
            if (::poll(&waiting, 1, 3000) <= 0)
                return false;
            const ssize_t got = ::read(fd, destination + done, size_t(count - done));
            if (got <= 0)
                return false;
            done += int(got);
        }
        return true;
    }

    void run()
    {
        for (const QByteArray &reply : script) {
            char head[2];
            if (!readExact(head, 2))
                return;
            QByteArray rest(quint8(head[1]) + 1, '\0');
            if (!readExact(rest.data(), rest.size()))
                return;
            heard += QByteArray(head, 2) + rest;
            if (::write(fd, reply.constData(), size_t(reply.size())) != reply.size())
                return;
        }
    }

    int fd;
    QByteArrayList script;
    QByteArray heard;
    std::thread worker;
};

} // namespace
#endif

class TestSerialPath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineSettings();
    void exchange_data();
    void exchange();
    void silentUnitFailsAfterOneSecond();
    void reopenWhileOpen();
    void unopenablePort_data();
    void unopenablePort();

private:
#ifdef Q_OS_LINUX
    int master = -1;
    int slave = -1;         // kept open so the line's settings can be read back
    QString slavePath;
#endif
};

void TestSerialPath::init()
{
#ifdef Q_OS_LINUX
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(::grantpt(master) == 0);
    QVERIFY(::unlockpt(master) == 0);
    slavePath = QString::fromLocal8Bit(::ptsname(master));
    slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    QVERIFY(slave >= 0);
#else
    // A port that is not there needs nothing at the far end of the line.
    if (qstrcmp(QTest::currentTestFunction(), "unopenablePort") != 0)
        QSKIP("pseudo-terminals are a Linux test fixture");
#endif
}

void TestSerialPath::cleanup()
{
#ifdef Q_OS_LINUX
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
#endif
}

void TestSerialPath::lineSettings()
{
#ifdef Q_OS_LINUX
    DeviceLink link;
    QVERIFY(link.openSerialAt(slavePath));
    QVERIFY(link.isOpen());

    termios line;
    QCOMPARE(::tcgetattr(slave, &line), 0);
    QCOMPARE(::cfgetispeed(&line), speed_t(B9600));
    QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    // Raw bytes: no echo and no line editing that would eat or add bytes of a frame.
    QCOMPARE(line.c_lflag & (ECHO | ICANON), tcflag_t(0));

    link.close();
    QVERIFY(!link.isOpen());
#endif
}

void TestSerialPath::exchange_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QString>("result");

    QTest::newRow("read timeouts")
        << ReadTimeouts << QByteArrayList{hex("06 02 07 00 E8 03 F4 01 3C 00 25")}
        << hex("02 02 07 06 03") << QStringLiteral("1000/500/60");
    QTest::newRow("write mac") << WriteMac << QByteArrayList{hex("06 02 01 00 01")}
                               << hex("02 07 69 00 11 22 33 44 55 7F") << QStringLiteral("ok");
    QTest::newRow("write mac refused") << WriteMac << QByteArrayList{hex("06 02 01 01 00")}
                                       << hex("02 07 69 00 11 22 33 44 55 7F")
                                       << QStringLiteral("failed");
    QTest::newRow("write mac nak") << WriteMac << QByteArrayList{hex("15")}
                                   << hex("02 07 69 00 11 22 33 44 55 7F")
                                   << QStringLiteral("failed");
    QTest::newRow("longest request")
        << WriteLongServerAddress << QByteArrayList{hex("06 02 01 00 01")}
        << (hex("02 88 62 7F 00 00 01 50 00 80") + QByteArray(128, 'u') + hex("44"))
        << QStringLiteral("ok");
    QTest::newRow("signal level") << SignalLevel << QByteArrayList{hex("06 02 02 00 4B 49")}
                                  << hex("02 02 58 01 5B") << QStringLiteral("75");
    QTest::newRow("modem status in two parts")
        << ModemStatus
        << QByteArrayList{hex("06 02 06 00 CC EE E4 E5 EC C9"), hex("06 02 03 00 4F 4B 07"),
                          hex("06 02 01 01 00")}
        << hex("02 01 56 57 02 01 05 04 02 01 05 04")
        << QStringLiteral("Модем\nOK\n");
}

void TestSerialPath::exchange()
{
#ifdef Q_OS_LINUX
    QFETCH(Operation, operation);
    QFETCH(QByteArrayList, replies);
    QFETCH(QByteArray, requests);
    QFETCH(QString, result);

    DeviceLink link;
    QVERIFY(link.openSerialAt(slavePath));
    ScriptedUnit unit(master, replies);

    QString outcome;
    switch (operation) {
    case ReadTimeouts: {
        TimeoutSettings record = {};
        if (link.readTimeouts(record))
            outcome = QStringLiteral("%1/%2/%3").arg(le16(record.fullTimeout))
                          .arg(le16(record.commandTimeout)).arg(le16(record.retryPeriod));
        break;
    }
    case WriteMac: {
        MacRecord record = {0, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
        outcome = link.writeMac(record) ? QStringLiteral("ok") : QStringLiteral("failed");
        break;
    }
    case WriteLongServerAddress: {
        ServerAddress record = {};
        const quint8 ip[4] = {127, 0, 0, 1};
        std::memcpy(record.ip, ip, 4);
        setLe16(record.port, 80);
        std::memset(record.url, 'u', sizeof record.url);
        outcome = link.writeServerAddress(record) ? QStringLiteral("ok") : QStringLiteral("failed");
        break;
    }
    case SignalLevel: {
        int value = -2;
        if (link.measureSignalLevel(value))
            outcome = QString::number(value);
        break;
    }
    case ModemStatus:
        link.readModemStatus(outcome);
        break;
    }
    unit.finish();

    QCOMPARE(outcome, result);
    QCOMPARE(unit.received().toHex(), requests.toHex());
#endif
}

void TestSerialPath::silentUnitFailsAfterOneSecond()
{
#ifdef Q_OS_LINUX
    DeviceLink link;
    QVERIFY(link.openSerialAt(slavePath));
    ScriptedUnit unit(master, {hex("06")});     // acknowledges, then says nothing

    QElapsedTimer clock;
    clock.start();
    TimeoutSettings record = {};
    QVERIFY(!link.readTimeouts(record));
    const qint64 elapsed = clock.elapsed();
    unit.finish();
    QVERIFY2(elapsed >= 900 && elapsed < 2500, qPrintable(QString::number(elapsed)));
#endif
}

void TestSerialPath::reopenWhileOpen()
{
#ifdef Q_OS_LINUX
    // The port is locked while held, so the second open only works if the first port was
    // closed and destroyed on the way.
    DeviceLink link;
    QVERIFY(link.openSerialAt(slavePath));
    QVERIFY(link.openSerialAt(slavePath));
    QVERIFY(link.isOpen());

    ScriptedUnit unit(master, {hex("06 02 02 00 03 01")});
    ChannelPriority record = {0, 0};
    QVERIFY(link.readChannelPriority(record));
    unit.finish();
    QCOMPARE(record.priority, quint8(3));
#endif
}

void TestSerialPath::unopenablePort_data()
{
    QTest::addColumn<bool>("byInfo");
    QTest::addColumn<QString>("name");

#ifdef Q_OS_WIN
    const QString missing = QStringLiteral("COM99");
    QTest::newRow("missing location in the device namespace") << false << QStringLiteral("\\\\.\\COM99");
#else
    const QString missing = QStringLiteral("/dev/nonexistent-tty");
#endif
    QTest::newRow("listed info of a missing port") << true << missing;
    QTest::newRow("missing location") << false << missing;
    QTest::newRow("empty location") << false << QString();
}

void TestSerialPath::unopenablePort()
{
    QFETCH(bool, byInfo);
    QFETCH(QString, name);

    DeviceLink link;
    const bool opened =
        byInfo ? link.openSerial(QSerialPortInfo(name)) : link.openSerialAt(name);
    QVERIFY(!opened);
    QVERIFY(!link.isOpen());

    // Whatever is left of the failed port must refuse traffic at once, not wait.
    QElapsedTimer clock;
    clock.start();
    const quint8 request[] = {0x07, 0x06};
    QVERIFY(!link.sendFrame(request, 2, 1000));
    quint8 byte = 0;
    QVERIFY(!link.readBytes(&byte, 1, 1000));
    QVERIFY(clock.elapsed() < 500);

    link.close();
    link.close();
    QVERIFY(!link.isOpen());
}

TALLY_TEST_MAIN(TestSerialPath)
#include "tst_serialpath.moc"
