#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "testplatform.h"
#include "windowtesting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>

using namespace WindowTest;

// "Прочитать всё" against the simulated unit on host 5 of the run's loopback network.
class TestReadAll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void everyFieldInItsFormat();
    void url_data();
    void url();
    void dhcp_data();
    void dhcp();
    void refusalAtEachGroup_data();
    void refusalAtEachGroup();
    void priorityOutOfRange_data();
    void priorityOutOfRange();
    void channelNotSelected();
    void portCannotBeOpened();
    void connectionRefused();

private:
    // Fills every field with junk, runs the read and returns the boxes it showed.
    QList<MessageBoxCatcher::Box> readAll(MainWindow &window, const QString &address = testAddress(5));
    void verifyLinkClosed();

    SimulatorFixture unit{testAddress(5)};
};

static const QString address = testAddress(5);

// A server address block: IP 10.0.0.1, port 80, then the URL length byte and URL bytes.
static QByteArray serverBlock(quint8 urlLength, const QByteArray &url, int size = 137)
{
    QByteArray block = hex("00 0A000001 5000") + char(urlLength) + url;
    block.append(QByteArray(qMax(0, size - block.size()), '\0'));
    block.truncate(size);
    return block;
}

void TestReadAll::initTestCase()
{
    QVERIFY(unit.isListening());
}

void TestReadAll::init()
{
    unit.restart();
}

QList<MessageBoxCatcher::Box> TestReadAll::readAll(MainWindow &window, const QString &host)
{
    if (!host.isEmpty())
        selectNetwork(window, host);
    for (QLineEdit *edit : window.findChildren<QLineEdit *>())
        if (edit->objectName() != QLatin1String("deviceAddressEdit"))
            edit->setText(QStringLiteral("1"));
    child<QCheckBox>(window, "UseDHCPcheckBox")->setChecked(true);
    child<QComboBox>(window, "PriorityComboBox")->setCurrentIndex(1);
    child<QComboBox>(window, "resetComboBox")->setCurrentIndex(1);

    MessageBoxCatcher catcher;
    QMetaObject::invokeMethod(&window, "ReadData");
    [&]() {
        QVERIFY(!QGuiApplication::overrideCursor());
        // Left alone by the read.
        QVERIFY(child<QCheckBox>(window, "incrementMacCheckBox")->isChecked() == false);
        QCOMPARE(child<QComboBox>(window, "resetComboBox")->currentIndex(), -1);
    }();
    for (const MessageBoxCatcher::Box &box : catcher.boxes()) {
        [&]() {
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.title, QStringLiteral("Ошибка"));
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(box.parentIsWindow);
            QVERIFY2(box.busyCursor, "an error box is shown while the busy cursor is still set");
        }();
    }
    verifyLinkClosed();
    return catcher.boxes();
}

void TestReadAll::verifyLinkClosed()
{
    QTRY_VERIFY(!unit.hasClient());
}

void TestReadAll::everyFieldInItsFormat()
{
    unit.setGroup(6, hex("00 E803 F401 FFFF"));
    unit.setGroup(7, serverBlock(19, "reports.example.net") .replace(5, 2, hex("FFFF")));
    unit.setGroup(9, hex("00 00 C0A80114 FFFFFF00 C0A80101 08080404 01 001A2B3C4D0A"));
    unit.setGroup(4, hex("0102030405060708090A0B0C0D0E0F 2301000000 2143658709"));
    unit.setGroup(10, hex("00 03"));
    // APN "internet", login "оператор" (16 UTF-8 bytes), password "пароль" (12), code "*100#".
    unit.setGroup(8, hex("00 00 08") + "internet" + hex("10 D0BED0BFD0B5D180D0B0D182D0BED180")
                         + hex("0C D0BFD0B0D180D0BED0BBD18C") + hex("05") + "*100#");

    MainWindow window;
    const QList<MessageBoxCatcher::Box> boxes = readAll(window);
    QVERIFY(boxes.isEmpty());

    QCOMPARE(text(window, "FullTimeoutEdit"), QStringLiteral("1000"));
    QCOMPARE(text(window, "CommandTimeoutEdit"), QStringLiteral("500"));
    QCOMPARE(text(window, "RetryTimeoutEdit"), QStringLiteral("65535"));
    QCOMPARE(text(window, "IPsrvEdit"), QStringLiteral("10.0.0.1"));
    QCOMPARE(text(window, "URLaddrEdit"), QStringLiteral("reports.example.net"));
    QCOMPARE(text(window, "PortEdit"), QStringLiteral("65535"));
    QCOMPARE(text(window, "EthMACEdit"), QStringLiteral("00-1a-2b-3c-4d-0a"));
    QCOMPARE(text(window, "EthIPEdit"), QStringLiteral("192.168.1.20"));
    QCOMPARE(text(window, "EthMaskEdit"), QStringLiteral("255.255.255.0"));
    QCOMPARE(text(window, "GatewayEdit"), QStringLiteral("192.168.1.1"));
    QVERIFY(child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked());
    QCOMPARE(text(window, "DNSaddrEdit"), QStringLiteral("8.8.4.4"));
    QCOMPARE(text(window, "CashDeskIDEdit"), QStringLiteral("0000000123"));
    QCOMPARE(text(window, "ServerTokenEdit"), QStringLiteral("0987654321"));
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentText(), QStringLiteral("Ethernet, GPRS"));
    QCOMPARE(text(window, "APNEdit"), QStringLiteral("internet"));
    QCOMPARE(text(window, "LoginEdit"), QStringLiteral("оператор"));
    QCOMPARE(text(window, "PasswordEdit"), QStringLiteral("пароль"));
    QCOMPARE(text(window, "BalanceCodeEdit"), QStringLiteral("*100#"));

    // Groups 6, 7, 9, 4, 10, 8, each asked once, in that order, over one connection.
    QCOMPARE(hexList(unit.requests()), QStringList({"02 02 07 06 03", "02 02 07 07 02", "02 02 07 09 0c",
                                                    "02 02 07 04 01", "02 02 07 0a 0f", "02 02 07 08 0d"}));
}

void TestReadAll::url_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("shown");

    QTest::newRow("length 0") << serverBlock(0, "abc") << "";
    QTest::newRow("length shorter than the text") << serverBlock(3, "abcdef") << "abc";
    QTest::newRow("NUL inside the counted bytes") << serverBlock(6, QByteArray("ab\0cdef", 7)) << "ab";
    QTest::newRow("Cyrillic UTF-8") << serverBlock(17, hex("D181D0B5D180D0B2D0B5D1802ED180D184")) << "сервер.рф";
    // 64 two-byte letters and one 'x' fill the whole 129-byte area; a length byte of 255 must not
    // take the read past the record.
    QTest::newRow("length past the record") << serverBlock(255, QByteArray(64, '\0').replace('\0', "\xD0\x96") + "x")
                                            << QString(64, QChar(0x0416)) + QLatin1Char('x');
    QTest::newRow("short response") << serverBlock(5, "ab", 10) << "ab";
    QTest::newRow("empty response") << QByteArray() << "";
}

void TestReadAll::url()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, shown);

    unit.setGroup(7, block);
    MainWindow window;
    QVERIFY(readAll(window).isEmpty());
    QCOMPARE(text(window, "URLaddrEdit"), shown);
    if (block.size() >= 7)
        QCOMPARE(text(window, "PortEdit"), QStringLiteral("80"));
}

void TestReadAll::dhcp_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<bool>("checked");

    QTest::newRow("0") << hex("00") << false;
    QTest::newRow("1") << hex("01") << true;
    QTest::newRow("2") << hex("02") << true;
    QTest::newRow("0x80") << hex("80") << true;
    QTest::newRow("0xFF") << hex("FF") << true;
}

void TestReadAll::dhcp()
{
    QFETCH(QByteArray, flag);
    QFETCH(bool, checked);

    unit.setGroup(9, hex("00 00 01020304 FFFF0000 01020301 01010101") + flag + hex("0A0B0C0D0E0F"));
    MainWindow window;
    QVERIFY(readAll(window).isEmpty());
    QCOMPARE(child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked(), checked);
    QCOMPARE(text(window, "EthIPEdit"), QStringLiteral("1.2.3.4"));
    QCOMPARE(text(window, "EthMACEdit"), QStringLiteral("0a-0b-0c-0d-0e-0f"));
}

void TestReadAll::refusalAtEachGroup_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("position");      // place of the failing group in the read order
    QTest::addColumn<QString>("message");

    QTest::newRow("time-outs") << "nak@07/06" << 0 << "Не удается прочитать значения тайм-аутов";
    QTest::newRow("server address") << "nak@07/07" << 1 << "Не удается прочитать адрес сервера";
    QTest::newRow("Ethernet") << "nak@07/09" << 2 << "Не удается прочитать настройки Ethernet";
    QTest::newRow("cash register") << "nak@07/04" << 3 << "Не удается прочитать состояние ККМ";
    QTest::newRow("priority") << "nak@07/0A" << 4 << "Не удается прочитать приоритет каналов";
    QTest::newRow("GPRS") << "nak@07/08" << 5 << "Не удается прочитать настройки GPRS";
    QTest::newRow("Ethernet, wrong length") << "badlen@07/09" << 2 << "Не удается прочитать настройки Ethernet";
    QTest::newRow("cash register, short") << "short@07/04" << 3 << "Не удается прочитать состояние ККМ";
    QTest::newRow("time-outs, bad checksum") << "badsum@07/06" << 0 << "Не удается прочитать значения тайм-аутов";
    QTest::newRow("GPRS, no acknowledgement") << "noack@07/08" << 5 << "Не удается прочитать настройки GPRS";
}

void TestReadAll::refusalAtEachGroup()
{
    QFETCH(QString, fault);
    QFETCH(int, position);
    QFETCH(QString, message);

    QVERIFY(unit.addFault(fault));
    MainWindow window;
    const QList<MessageBoxCatcher::Box> boxes = readAll(window);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, message);

    // The built-in unit's values for the groups read before the failure, nothing after it.
    const bool filled[] = {
        text(window, "FullTimeoutEdit") == QLatin1String("1000") && text(window, "RetryTimeoutEdit") == "60",
        text(window, "IPsrvEdit") == QLatin1String("192.0.2.10") && text(window, "PortEdit") == "7777",
        text(window, "EthMACEdit") == QLatin1String("00-1a-2b-3c-4d-5e") && text(window, "DNSaddrEdit") == "8.8.8.8",
        text(window, "CashDeskIDEdit") == QLatin1String("0000123456")
            && text(window, "ServerTokenEdit") == "1234567890",
        child<QComboBox>(window, "PriorityComboBox")->currentIndex() == 2,
        text(window, "APNEdit") == QLatin1String("internet") && text(window, "BalanceCodeEdit") == "*100#",
    };
    const bool empty[] = {
        text(window, "FullTimeoutEdit").isEmpty() && text(window, "CommandTimeoutEdit").isEmpty()
            && text(window, "RetryTimeoutEdit").isEmpty(),
        text(window, "IPsrvEdit").isEmpty() && text(window, "URLaddrEdit").isEmpty() && text(window, "PortEdit").isEmpty(),
        text(window, "EthMACEdit").isEmpty() && text(window, "EthIPEdit").isEmpty()
            && text(window, "EthMaskEdit").isEmpty() && text(window, "GatewayEdit").isEmpty()
            && text(window, "DNSaddrEdit").isEmpty() && !child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked(),
        text(window, "CashDeskIDEdit").isEmpty() && text(window, "ServerTokenEdit").isEmpty(),
        child<QComboBox>(window, "PriorityComboBox")->currentIndex() == -1,
        text(window, "APNEdit").isEmpty() && text(window, "LoginEdit").isEmpty()
            && text(window, "PasswordEdit").isEmpty() && text(window, "BalanceCodeEdit").isEmpty(),
    };
    for (int i = 0; i < 6; ++i) {
        if (i < position)
            QVERIFY2(filled[i], qPrintable(QStringLiteral("group at position %1 kept").arg(i)));
        else
            QVERIFY2(empty[i], qPrintable(QStringLiteral("group at position %1 cleared").arg(i)));
    }
    // Nothing is asked after the failing group, and nothing is asked twice.
    QCOMPARE(unit.requests().size(), position + 1);
}

void TestReadAll::priorityOutOfRange_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0") << hex("00 00") << true;
    QTest::newRow("3") << hex("00 03") << true;
    QTest::newRow("4") << hex("00 04") << false;
    QTest::newRow("128") << hex("00 80") << false;
    QTest::newRow("255") << hex("00 FF") << false;
}

void TestReadAll::priorityOutOfRange()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, accepted);

    unit.setGroup(10, block);
    MainWindow window;
    const QList<MessageBoxCatcher::Box> boxes = readAll(window);
    const QStringList requests = hexList(unit.requests());
    QComboBox *priority = child<QComboBox>(window, "PriorityComboBox");
    if (accepted) {
        QVERIFY(boxes.isEmpty());
        QCOMPARE(priority->currentIndex(), int(quint8(block.at(1))));
        QVERIFY(requests.contains(QStringLiteral("02 02 07 08 0d")));
        QCOMPARE(text(window, "APNEdit"), QStringLiteral("internet"));
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().text, QStringLiteral("Не удается прочитать приоритет каналов"));
        QCOMPARE(priority->currentIndex(), -1);
        QVERIFY(!requests.contains(QStringLiteral("02 02 07 08 0d")));
        QVERIFY(text(window, "APNEdit").isEmpty());
        // The groups before it were read and shown.
        QCOMPARE(text(window, "CashDeskIDEdit"), QStringLiteral("0000123456"));
    }
}

void TestReadAll::channelNotSelected()
{
    MainWindow window;
    child<QComboBox>(window, "comboBoxPort")->setCurrentIndex(-1);
    const QList<MessageBoxCatcher::Box> boxes = readAll(window, QString());
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Не выбран канал связи"));
    QVERIFY(text(window, "FullTimeoutEdit").isEmpty());
    QVERIFY(text(window, "APNEdit").isEmpty());
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentIndex(), -1);
    QVERIFY(unit.requests().isEmpty());
}

void TestReadAll::portCannotBeOpened()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        QSKIP("this machine lists no serial port");
    if (runningUnderWine())
        QSKIP("Wine lets a second program open a COM port that one holds open; Windows does not");

    // Held open here, the port is busy for the window; one that cannot be opened at all is
    // just as good for this test.
    QSerialPort holder(ports.first());
    holder.open(QIODevice::ReadWrite);

    MainWindow window;
    child<QComboBox>(window, "comboBoxPort")->setCurrentIndex(0);
    const QList<MessageBoxCatcher::Box> boxes = readAll(window, QString());
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Не могу открыть порт ") + ports.first().portName());
    QVERIFY(text(window, "FullTimeoutEdit").isEmpty());
    QVERIFY(text(window, "EthMACEdit").isEmpty());
    if (holder.isOpen()) {
        // The window let go of its attempt: the port is still ours and still usable.
        QVERIFY(holder.isOpen());
        QCOMPARE(holder.error(), QSerialPort::NoError);
    }
}

void TestReadAll::connectionRefused()
{
    // The helper itself must see a connection that is left open.
    {
        QTcpSocket probe;
        probe.connectToHost(address, 20107);
        QVERIFY(probe.waitForConnected(1000));
        QTRY_VERIFY(unit.hasClient());
    }
    verifyLinkClosed();

    const int connections = unit.connectionCount();
    MainWindow window;
    const QList<MessageBoxCatcher::Box> boxes = readAll(window, QStringLiteral("127.0.0.250"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Не могу установить соединение 127.0.0.250"));
    QVERIFY(text(window, "FullTimeoutEdit").isEmpty());
    // Nothing reached the unit on its own address either.
    QCOMPARE(unit.connectionCount(), connections);
    QVERIFY(!unit.hasClient());
}

TALLY_TEST_MAIN(TestReadAll)
#include "tst_readall.moc"
