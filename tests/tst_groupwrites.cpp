// Each group's "Записать" button against the simulated unit: the frame on the wire, the one box
// the engineer sees, the cursor and the link afterwards, and the MAC moving on to the next unit.

#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "tst_writeform.h"

#include <QComboBox>
#include <QFile>
#include <QObject>
#include <QSettings>
#include <QTcpSocket>
#include <QtTest>

using namespace WriteForm;

namespace {

const QString Address = testAddress(8);
const QString SettingsFile = QStringLiteral("tallyconf.ini");

// What the settings file holds, read afresh as a later start of the program would.
QVariant storedValue(const QString &key)
{
    QSettings file(SettingsFile, QSettings::IniFormat);
    return file.value(key);
}

QStringList storedKeys()
{
    QSettings file(SettingsFile, QSettings::IniFormat);
    return file.allKeys();
}

} // namespace

class TestGroupWrites : public QObject
{
    Q_OBJECT

public:
    TestGroupWrites() : sim(Address) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectionCheckSeesOpenSockets();
    void goodValue_data();
    void goodValue();
    void badValue_data();
    void badValue();
    void refusedWrite_data();
    void refusedWrite();
    void channelNotOpened_data();
    void channelNotOpened();
    void macAdvances_data();
    void macAdvances();
    void macStays_data();
    void macStays();

private:
    void expectOneBox(QMessageBox::Icon icon, const QString &text, bool busy);

    SimulatorFixture sim;
    MainWindow *window = nullptr;
    MessageBoxCatcher *catcher = nullptr;
};

void TestGroupWrites::initTestCase()
{
    QVERIFY(sim.isListening());
}

void TestGroupWrites::init()
{
    QFile::remove(SettingsFile);
    sim.restart();
    blankUnit(sim);
    window = new MainWindow;
    setFields(*window, validForm());
    selectNetwork(*window, Address);
    QVERIFY(showActive(*window));
    catcher = new MessageBoxCatcher;
}

void TestGroupWrites::cleanup()
{
    delete catcher;
    catcher = nullptr;
    delete window;
    window = nullptr;
}

void TestGroupWrites::expectOneBox(QMessageBox::Icon icon, const QString &text, bool busy)
{
    QCOMPARE(catcher->boxes().size(), 1);
    const MessageBoxCatcher::Box box = catcher->boxes().first();
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, icon == QMessageBox::Critical ? QStringLiteral("Ошибка") : QStringLiteral("Сообщение"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.parentIsWindow);
    QCOMPARE(box.busyCursor, busy);
    // Whatever happened, the engineer is left with a normal cursor and a closed line.
    QVERIFY(!QGuiApplication::overrideCursor());
    QTRY_VERIFY(!sim.hasClient());
}

// The closed-link checks below rely on the simulator's view of its line.
void TestGroupWrites::connectionCheckSeesOpenSockets()
{
    const int before = sim.connectionCount();
    QTcpSocket socket;
    socket.connectToHost(Address, 20107);
    QVERIFY(socket.waitForConnected(1000));
    QTRY_VERIFY(sim.hasClient());
    QCOMPARE(sim.connectionCount() - before, 1);
    socket.close();
    QTRY_VERIFY(!sim.hasClient());
}

void TestGroupWrites::goodValue_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("timeouts 1000/500/60") << "pushButton" << "FullTimeoutEdit" << QVariant("1000")
        << hex("02 07 60 E8 03 F4 01 3C 00 45") << 6 << 1 << hex("E8 03 F4 01 3C 00");
    QTest::newRow("token") << "pushButton_2" << "ServerTokenEdit" << QVariant("1234567890")
        << hex("02 06 61 90 78 56 34 12 FF") << 4 << 20 << hex("90 78 56 34 12");
    QTest::newRow("server address") << "pushButton_3" << "URLaddrEdit" << QVariant("srv.local")
        << hex("02 11 62 C0 A8 00 01 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C E2")
        << 7 << 1 << hex("C0 A8 00 01 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C 00");
    QTest::newRow("gprs") << "pushButton_4" << "APNEdit" << QVariant("internet")
        << hex("02 1D 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23 50")
        << 8 << 2 << hex("08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23");
    QTest::newRow("mac") << "pushButton_5" << "EthMACEdit" << QVariant("00-11-22-33-44-55")
        << hex("02 07 69 00 11 22 33 44 55 7F") << 9 << 19 << hex("00 11 22 33 44 55");
    QTest::newRow("ethernet") << "pushButton_6" << "UseDHCPcheckBox" << QVariant(true)
        << hex("02 13 65 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 01 ED")
        << 9 << 2 << hex("C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 01");
    QTest::newRow("priority GPRS, Ethernet") << "pushButton_7" << "PriorityComboBox" << QVariant(2)
        << hex("02 02 67 02 67") << 10 << 1 << hex("02");
    QTest::newRow("cash desk id") << "pushButton_8" << "CashDeskIDEdit" << QVariant("0987654321")
        << hex("02 06 64 21 43 65 87 09 EB") << 4 << 15 << hex("21 43 65 87 09");
}

void TestGroupWrites::goodValue()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, frame);
    QFETCH(int, group);
    QFETCH(int, offset);
    QFETCH(QByteArray, stored);

    setField(*window, field, value);
    click(*window, qPrintable(button));

    QCOMPARE(sim.requests(), QList<QByteArray>{frame});
    expectOneBox(QMessageBox::Information, QStringLiteral("Параметры успешно записаны"), false);
    QCOMPARE(sim.group(quint8(group)).mid(offset, stored.size()), stored);
}

void TestGroupWrites::badValue_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("message");

    QTest::newRow("timeouts") << "pushButton" << "RetryTimeoutEdit" << QVariant("")
                              << QStringLiteral("Некорректное значение периода повторной попытки");
    QTest::newRow("token") << "pushButton_2" << "ServerTokenEdit" << QVariant("x")
                           << QStringLiteral("Некорректное значение токен");
    QTest::newRow("server address") << "pushButton_3" << "PortEdit" << QVariant("99999")
                                    << QStringLiteral("Некорректное значение порта сервера");
    QTest::newRow("gprs") << "pushButton_4" << "BalanceCodeEdit" << QVariant("#########")
                          << QStringLiteral("USSD баланса - слишком длинный");
    QTest::newRow("mac") << "pushButton_5" << "EthMACEdit" << QVariant("00-11-22-33-44-5Z")
                         << QStringLiteral("Некорректное значение MAC-адреса");
    QTest::newRow("ethernet") << "pushButton_6" << "DNSaddrEdit" << QVariant("8.8.8")
                              << QStringLiteral("Некорректное значение DNS");
    QTest::newRow("priority") << "pushButton_7" << "PriorityComboBox" << QVariant(-1)
                              << QStringLiteral("Не выбран приоритет каналов");
    QTest::newRow("cash desk id") << "pushButton_8" << "CashDeskIDEdit" << QVariant("")
                                  << QStringLiteral("Некорректное значение ID ККМ");
}

// Only the field's own box; the cursor never turns busy and no connection is made.
void TestGroupWrites::badValue()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, message);

    const int before = sim.connectionCount();
    setField(*window, field, value);
    click(*window, qPrintable(button));

    expectOneBox(QMessageBox::Critical, message, false);
    QVERIFY(sim.requests().isEmpty());
    QCOMPARE(sim.connectionCount(), before);
}

void TestGroupWrites::refusedWrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("timeouts result 01") << "pushButton" << "result=01@60"
        << QStringLiteral("Не удается записать значения тайм-аутов") << hex("02 07 60 E8 03 F4 01 3C 00 45");
    QTest::newRow("token nak") << "pushButton_2" << "nak@61" << QStringLiteral("Не удается записать токен")
        << hex("02 06 61 90 78 56 34 12 FF");
    QTest::newRow("token answer without its result byte") << "pushButton_2" << "short@61"
        << QStringLiteral("Не удается записать токен") << hex("02 06 61 90 78 56 34 12 FF");
    QTest::newRow("server address result FF") << "pushButton_3" << "result=FF@62"
        << QStringLiteral("Не удается записать адрес сервера")
        << hex("02 11 62 C0 A8 00 01 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C E2");
    QTest::newRow("gprs result 01") << "pushButton_4" << "result=01@63"
        << QStringLiteral("Не удается записать настройки GPRS")
        << hex("02 1D 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23 50");
    QTest::newRow("mac bad checksum") << "pushButton_5" << "badsum@69" << QStringLiteral("Не удается записать MAC-адрес")
        << hex("02 07 69 00 11 22 33 44 55 7F");
    QTest::newRow("ethernet nak") << "pushButton_6" << "nak@65" << QStringLiteral("Не удается записать настройки Ethernet")
        << hex("02 13 65 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 01 ED");
    QTest::newRow("priority no answer") << "pushButton_7" << "silent@67"
        << QStringLiteral("Не удается записать приоритет каналов") << hex("02 02 67 02 67");
    QTest::newRow("cash desk id result 01") << "pushButton_8" << "result=01@64"
        << QStringLiteral("Не удается записать ID ККМ") << hex("02 06 64 21 43 65 87 09 EB");
}

// The group's message under the busy cursor, the frame sent once, and afterwards a normal
// cursor and a closed line.
void TestGroupWrites::refusedWrite()
{
    QFETCH(QString, button);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);

    QVERIFY(sim.addFault(fault));
    click(*window, qPrintable(button));

    expectOneBox(QMessageBox::Critical, message, true);
    QCOMPARE(sim.requests(), QList<QByteArray>{frame});
}

void TestGroupWrites::channelNotOpened_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");

    QTest::newRow("no channel chosen") << -1 << Address << QStringLiteral("Не выбран канал связи");
    QTest::newRow("no address") << 0 << QString() << QStringLiteral("Не могу установить соединение ");
}

void TestGroupWrites::channelNotOpened()
{
    QFETCH(int, channel);
    QFETCH(QString, address);
    QFETCH(QString, message);

    auto *ports = window->findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
    ports->setCurrentIndex(channel < 0 ? -1 : ports->count() - 1);
    setField(*window, QStringLiteral("deviceAddressEdit"), address);
    click(*window, "pushButton_7");

    expectOneBox(QMessageBox::Critical, message, true);
    QVERIFY(sim.requests().isEmpty());
}

void TestGroupWrites::macAdvances_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("next");

    QTest::newRow("upper case typed") << "00-1A-2B-3C-4D-5E" << hex("02 07 69 00 1A 2B 3C 4D 5E 70")
                                      << "00-1a-2b-3c-4d-5f";
    QTest::newRow("carry into fifth byte") << "00-00-00-00-00-ff" << hex("02 07 69 00 00 00 00 00 FF 91")
                                           << "00-00-00-00-01-00";
    QTest::newRow("carry through four bytes") << "12-34-ff-ff-ff-ff" << hex("02 07 69 12 34 FF FF FF FF 48")
                                              << "12-35-00-00-00-00";
    QTest::newRow("wraps to zero") << "ff-ff-ff-ff-ff-ff" << hex("02 07 69 FF FF FF FF FF FF 6E")
                                   << "00-00-00-00-00-00";
    QTest::newRow("single digits padded") << "0-1-2-3-4-5" << hex("02 07 69 00 01 02 03 04 05 6F")
                                          << "00-01-02-03-04-06";
}

// The unit gets the address as typed; the form and the settings file move on to the next one.
void TestGroupWrites::macAdvances()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, frame);
    QFETCH(QString, next);

    setFields(*window, {{QStringLiteral("EthMACEdit"), typed}, {QStringLiteral("incrementMacCheckBox"), true}});
    click(*window, "pushButton_5");

    expectOneBox(QMessageBox::Information, QStringLiteral("Параметры успешно записаны"), false);
    QCOMPARE(sim.requests(), QList<QByteArray>{frame});
    QCOMPARE(text(*window, QStringLiteral("EthMACEdit")), next);
    QCOMPARE(storedValue(QStringLiteral("EthMAC")).toString(), next);
    // Only the MAC is remembered; the rest of the form is saved by its own button.
    QCOMPARE(storedKeys(), QStringList{QStringLiteral("EthMAC")});
}

void TestGroupWrites::macStays_data()
{
    QTest::addColumn<bool>("increment");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");

    QTest::newRow("increment off") << false << QString() << QStringLiteral("Параметры успешно записаны");
    QTest::newRow("write refused") << true << "result=01@69" << QStringLiteral("Не удается записать MAC-адрес");
    QTest::newRow("write not acknowledged") << true << "nak@69" << QStringLiteral("Не удается записать MAC-адрес");
    QTest::newRow("refused, increment off") << false << "result=01@69"
                                            << QStringLiteral("Не удается записать MAC-адрес");
}

void TestGroupWrites::macStays()
{
    QFETCH(bool, increment);
    QFETCH(QString, fault);
    QFETCH(QString, message);

    if (!fault.isEmpty())
        QVERIFY(sim.addFault(fault));
    setFields(*window, {{QStringLiteral("EthMACEdit"), QStringLiteral("00-1A-2B-3C-4D-5E")},
                        {QStringLiteral("incrementMacCheckBox"), increment}});
    click(*window, "pushButton_5");

    QCOMPARE(catcher->texts(), QStringList{message});
    QCOMPARE(sim.requests(), frames({"02 07 69 00 1A 2B 3C 4D 5E 70"}));
    QCOMPARE(text(*window, QStringLiteral("EthMACEdit")), QStringLiteral("00-1A-2B-3C-4D-5E"));
    QVERIFY(!QFile::exists(SettingsFile) || !storedKeys().contains(QStringLiteral("EthMAC")));
}

TALLY_TEST_MAIN(TestGroupWrites)
#include "tst_groupwrites.moc"
