// The value rules of every group, seen from outside: what a group's "Записать" button sends for a
// good value, and which box and focus a bad one gets (with nothing sent).

#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "tst_writeform.h"

#include <QApplication>
#include <QFile>
#include <QObject>
#include <QtTest>

using namespace WriteForm;

Q_DECLARE_METATYPE(WriteForm::Fields)

namespace {

const QString Address = testAddress(7);

QString repeated(const char *utf8, int times)
{
    return QString::fromUtf8(utf8).repeated(times);
}

} // namespace

class TestEncoders : public QObject
{
    Q_OBJECT

public:
    TestEncoders() : sim(Address) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fieldRule_data();
    void fieldRule();
    void firstBadFieldOnly_data();
    void firstBadFieldOnly();
    void allGprsStringsEmpty();
    void longUrlIsSentWhole_data();
    void longUrlIsSentWhole();

private:
    void expectRejected(const QString &message, const QString &field);

    SimulatorFixture sim;
    MainWindow *window = nullptr;
    MessageBoxCatcher *catcher = nullptr;
};

void TestEncoders::initTestCase()
{
    QVERIFY(sim.isListening());
}

void TestEncoders::init()
{
    QFile::remove(QStringLiteral("tallyconf.ini"));
    sim.restart();
    window = new MainWindow;
    setFields(*window, validForm());
    selectNetwork(*window, Address);
    QVERIFY(showActive(*window));
    // Focus starts away from every parameter field, so a rejected field must have taken it.
    window->findChild<QWidget *>(QStringLiteral("deviceAddressEdit"))->setFocus();
    catcher = new MessageBoxCatcher;
}

void TestEncoders::cleanup()
{
    delete catcher;
    catcher = nullptr;
    delete window;
    window = nullptr;
}

void TestEncoders::expectRejected(const QString &message, const QString &field)
{
    QCOMPARE(catcher->boxes().size(), 1);
    const MessageBoxCatcher::Box box = catcher->boxes().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Ошибка"));
    QCOMPARE(box.text, message);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.parentIsWindow);
    QVERIFY2(!box.busyCursor, "a rejected value must not reach the exchange");
    QVERIFY(sim.requests().isEmpty());
    // The box was the active window while it was open; the field has the focus once the
    // main window is active again (the offscreen platform does not hand activation back).
    QApplication::setActiveWindow(window);
    QWidget *focused = QApplication::focusWidget();
    QCOMPARE(focused ? focused->objectName() : QString(), field);
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestEncoders::fieldRule_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("message");   // empty: accepted
    QTest::addColumn<QByteArray>("frame");

    const QString timeouts = QStringLiteral("pushButton");
    const QString full = QStringLiteral("Некорректное значение полного тайм-аута");
    const QString command = QStringLiteral("Некорректное значение тайм-аута команды");
    const QString retry = QStringLiteral("Некорректное значение периода повторной попытки");
    // Time-outs are unsigned on the unit: what fits in 16 bits unsigned goes through unchanged.
    QTest::newRow("full 40000") << timeouts << "FullTimeoutEdit" << QVariant("40000") << QString()
                                << hex("02 07 60 40 9C F4 01 3C 00 72");
    QTest::newRow("full 65535") << timeouts << "FullTimeoutEdit" << QVariant("65535") << QString()
                                << hex("02 07 60 FF FF F4 01 3C 00 AE");
    QTest::newRow("full 0") << timeouts << "FullTimeoutEdit" << QVariant("0") << QString()
                            << hex("02 07 60 00 00 F4 01 3C 00 AE");
    QTest::newRow("command 65535") << timeouts << "CommandTimeoutEdit" << QVariant("65535") << QString()
                                   << hex("02 07 60 E8 03 FF FF 3C 00 B0");
    QTest::newRow("retry 40000") << timeouts << "RetryTimeoutEdit" << QVariant("40000") << QString()
                                 << hex("02 07 60 E8 03 F4 01 40 9C A5");
    QTest::newRow("full -1") << timeouts << "FullTimeoutEdit" << QVariant("-1") << full << QByteArray();
    QTest::newRow("full 65536") << timeouts << "FullTimeoutEdit" << QVariant("65536") << full << QByteArray();
    QTest::newRow("full empty") << timeouts << "FullTimeoutEdit" << QVariant("") << full << QByteArray();
    QTest::newRow("full letters") << timeouts << "FullTimeoutEdit" << QVariant("1e3") << full << QByteArray();
    QTest::newRow("command 70000") << timeouts << "CommandTimeoutEdit" << QVariant("70000") << command
                                   << QByteArray();
    QTest::newRow("command -5") << timeouts << "CommandTimeoutEdit" << QVariant("-5") << command << QByteArray();
    QTest::newRow("retry empty") << timeouts << "RetryTimeoutEdit" << QVariant("") << retry << QByteArray();
    QTest::newRow("retry 1.5") << timeouts << "RetryTimeoutEdit" << QVariant("1.5") << retry << QByteArray();

    const QString token = QStringLiteral("pushButton_2");
    const QString badToken = QStringLiteral("Некорректное значение токен");
    QTest::newRow("token 123") << token << "ServerTokenEdit" << QVariant("123") << QString()
                               << hex("02 06 61 23 01 00 00 00 45");
    QTest::newRow("token 0") << token << "ServerTokenEdit" << QVariant("0") << QString()
                             << hex("02 06 61 00 00 00 00 00 67");
    QTest::newRow("token leading zeros") << token << "ServerTokenEdit" << QVariant("0000000001") << QString()
                                         << hex("02 06 61 01 00 00 00 00 66");
    // Ten nines fit five BCD bytes although they exceed 32 bits.
    QTest::newRow("token ten nines") << token << "ServerTokenEdit" << QVariant("9999999999") << QString()
                                     << hex("02 06 61 99 99 99 99 99 FE");
    QTest::newRow("token empty") << token << "ServerTokenEdit" << QVariant("") << badToken << QByteArray();
    QTest::newRow("token sign") << token << "ServerTokenEdit" << QVariant("+12") << badToken << QByteArray();
    QTest::newRow("token space") << token << "ServerTokenEdit" << QVariant("1 2") << badToken << QByteArray();
    QTest::newRow("token letter") << token << "ServerTokenEdit" << QVariant("12a") << badToken << QByteArray();

    const QString server = QStringLiteral("pushButton_3");
    const QString badIp = QStringLiteral("Некорректное значение IP-адреса");
    const QString badPort = QStringLiteral("Некорректное значение порта сервера");
    QTest::newRow("server ip 10.0.0.255") << server << "IPsrvEdit" << QVariant("10.0.0.255") << QString()
        << hex("02 11 62 0A 00 00 FF 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C 7E");
    QTest::newRow("server ip three parts") << server << "IPsrvEdit" << QVariant("192.168.0") << badIp << QByteArray();
    QTest::newRow("server ip empty part") << server << "IPsrvEdit" << QVariant("192.168..1") << badIp << QByteArray();
    QTest::newRow("server ip five parts") << server << "IPsrvEdit" << QVariant("1.2.3.4.5") << badIp << QByteArray();
    QTest::newRow("server ip 256") << server << "IPsrvEdit" << QVariant("256.0.0.1") << badIp << QByteArray();
    QTest::newRow("server url empty") << server << "URLaddrEdit" << QVariant("") << QString()
                                      << hex("02 08 62 C0 A8 00 01 8B 4E 00 C6");
    QTest::newRow("server url 65 cyrillic") << server << "URLaddrEdit" << QVariant(repeated("я", 65))
                                            << QStringLiteral("Слишком длинный URL") << QByteArray();
    QTest::newRow("server port 65535") << server << "PortEdit" << QVariant("65535") << QString()
        << hex("02 11 62 C0 A8 00 01 FF FF 09 73 72 76 2E 6C 6F 63 61 6C 27");
    QTest::newRow("server port 0") << server << "PortEdit" << QVariant("0") << QString()
        << hex("02 11 62 C0 A8 00 01 00 00 09 73 72 76 2E 6C 6F 63 61 6C 27");
    QTest::newRow("server port 65536") << server << "PortEdit" << QVariant("65536") << badPort << QByteArray();
    QTest::newRow("server port empty") << server << "PortEdit" << QVariant("") << badPort << QByteArray();
    QTest::newRow("server port -1") << server << "PortEdit" << QVariant("-1") << badPort << QByteArray();

    const QString gprs = QStringLiteral("pushButton_4");
    // The APN message begins with a Latin C, the others are all Cyrillic.
    const QString longApn = QLatin1String("C") + QStringLiteral("лишком длинный APN");
    QTest::newRow("apn 32 ascii") << gprs << "APNEdit" << QVariant(QString(32, QLatin1Char('a'))) << QString()
        << hex("02 35 63 00 20 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61"
               " 61 61 61 61 61 61 61 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23 4B");
    QTest::newRow("apn 16 cyrillic") << gprs << "APNEdit" << QVariant(repeated("ж", 16)) << QString()
        << hex("02 35 63 00 20 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6 D0 B6"
               " D0 B6 D0 B6 D0 B6 D0 B6 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23 4B");
    QTest::newRow("apn 17 cyrillic") << gprs << "APNEdit" << QVariant(repeated("ж", 17)) << longApn << QByteArray();
    QTest::newRow("apn 33 bytes") << gprs << "APNEdit" << QVariant(QString(31, QLatin1Char('a')) + QStringLiteral("ж"))
                                  << longApn << QByteArray();
    QTest::newRow("login 32 ascii") << gprs << "LoginEdit" << QVariant(QString(32, QLatin1Char('l'))) << QString()
        << hex("02 38 63 00 08 69 6E 74 65 72 6E 65 74 20 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C"
               " 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 6C 05 67 64 61 74 61 05 2A 31 30 30 23 27");
    QTest::newRow("login 17 cyrillic") << gprs << "LoginEdit" << QVariant(repeated("л", 17))
                                       << QStringLiteral("Логин GPRS - слишком длинный") << QByteArray();
    QTest::newRow("password 16 cyrillic") << gprs << "PasswordEdit" << QVariant(repeated("п", 16)) << QString()
        << hex("02 38 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 20 D0 BF D0 BF D0 BF D0 BF D0 BF"
               " D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF D0 BF 05 2A 31 30 30 23 27");
    QTest::newRow("password 17 cyrillic") << gprs << "PasswordEdit" << QVariant(repeated("п", 17))
                                          << QStringLiteral("Пароль GPRS - слишком длинный") << QByteArray();
    QTest::newRow("balance 8 bytes") << gprs << "BalanceCodeEdit" << QVariant("*100*11#") << QString()
        << hex("02 20 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 08 2A 31 30 30"
               " 2A 31 31 23 4A");
    QTest::newRow("balance 4 cyrillic") << gprs << "BalanceCodeEdit" << QVariant(QStringLiteral("бала")) << QString()
        << hex("02 20 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 08 D0 B1 D0 B0"
               " D0 BB D0 B0 52");
    QTest::newRow("balance 9 bytes") << gprs << "BalanceCodeEdit" << QVariant("*100*111#")
                                     << QStringLiteral("USSD баланса - слишком длинный") << QByteArray();
    QTest::newRow("balance 5 cyrillic") << gprs << "BalanceCodeEdit" << QVariant(QStringLiteral("баланс"))
                                        << QStringLiteral("USSD баланса - слишком длинный") << QByteArray();

    const QString ethernet = QStringLiteral("pushButton_6");
    QTest::newRow("ethernet dhcp off") << ethernet << "UseDHCPcheckBox" << QVariant(false) << QString()
        << hex("02 13 65 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 00 EC");
    QTest::newRow("ethernet ip empty") << ethernet << "EthIPEdit" << QVariant("") << badIp << QByteArray();
    QTest::newRow("ethernet mask three parts") << ethernet << "EthMaskEdit" << QVariant("255.255.255")
                                               << QStringLiteral("Некорректное значение маски сети") << QByteArray();
    QTest::newRow("ethernet gateway 256") << ethernet << "GatewayEdit" << QVariant("1.2.3.256")
                                          << QStringLiteral("Некорректное значение адреса шлюза") << QByteArray();
    QTest::newRow("ethernet dns name") << ethernet << "DNSaddrEdit" << QVariant("dns.local")
                                       << QStringLiteral("Некорректное значение DNS") << QByteArray();

    const QString mac = QStringLiteral("pushButton_5");
    const QString badMac = QStringLiteral("Некорректное значение MAC-адреса");
    QTest::newRow("mac mixed case") << mac << "EthMACEdit" << QVariant("00-1a-2B-3c-4D-5e") << QString()
                                    << hex("02 07 69 00 1A 2B 3C 4D 5E 70");
    QTest::newRow("mac single digits") << mac << "EthMACEdit" << QVariant("0-1-2-3-4-5") << QString()
                                       << hex("02 07 69 00 01 02 03 04 05 6F");
    QTest::newRow("mac colons") << mac << "EthMACEdit" << QVariant("00:1A:2B:3C:4D:5E") << badMac << QByteArray();
    QTest::newRow("mac five parts") << mac << "EthMACEdit" << QVariant("00-1A-2B-3C-4D") << badMac << QByteArray();
    QTest::newRow("mac 1FF") << mac << "EthMACEdit" << QVariant("0-1A-2B-3C-4D-1FF") << badMac << QByteArray();
    QTest::newRow("mac empty") << mac << "EthMACEdit" << QVariant("") << badMac << QByteArray();

    const QString priority = QStringLiteral("pushButton_7");
    QTest::newRow("priority GPRS") << priority << "PriorityComboBox" << QVariant(0) << QString()
                                   << hex("02 02 67 00 65");
    QTest::newRow("priority Ethernet, GPRS") << priority << "PriorityComboBox" << QVariant(3) << QString()
                                             << hex("02 02 67 03 66");
    // Nothing selected (a failed read-all clears the box) is not a priority the unit knows.
    QTest::newRow("priority none") << priority << "PriorityComboBox" << QVariant(-1)
                                   << QStringLiteral("Не выбран приоритет каналов") << QByteArray();

    const QString cashDesk = QStringLiteral("pushButton_8");
    const QString badId = QStringLiteral("Некорректное значение ID ККМ");
    QTest::newRow("id 0") << cashDesk << "CashDeskIDEdit" << QVariant("0") << QString()
                          << hex("02 06 64 00 00 00 00 00 62");
    QTest::newRow("id leading zeros") << cashDesk << "CashDeskIDEdit" << QVariant("0000000001") << QString()
                                      << hex("02 06 64 01 00 00 00 00 63");
    QTest::newRow("id ten nines") << cashDesk << "CashDeskIDEdit" << QVariant("9999999999") << QString()
                                  << hex("02 06 64 99 99 99 99 99 FB");
    QTest::newRow("id empty") << cashDesk << "CashDeskIDEdit" << QVariant("") << badId << QByteArray();
    QTest::newRow("id sign") << cashDesk << "CashDeskIDEdit" << QVariant("+12") << badId << QByteArray();
    QTest::newRow("id space") << cashDesk << "CashDeskIDEdit" << QVariant("1 2") << badId << QByteArray();
    QTest::newRow("id letter") << cashDesk << "CashDeskIDEdit" << QVariant("12a") << badId << QByteArray();
}

void TestEncoders::fieldRule()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);

    setField(*window, field, value);
    click(*window, qPrintable(button));

    if (message.isEmpty()) {
        QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Параметры успешно записаны")});
        QCOMPARE(sim.requests(), QList<QByteArray>{frame});
    } else {
        expectRejected(message, field);
        // The engineer's text stays in the field to be corrected.
        if (value.userType() == QMetaType::QString)
            QCOMPARE(text(*window, field), value.toString());
    }
}

void TestEncoders::firstBadFieldOnly_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");

    const QString tooLongUrl = QString::fromUtf8("я").repeated(65);
    QTest::newRow("full before command")
        << "pushButton"
        << Fields{{"FullTimeoutEdit", "x"}, {"CommandTimeoutEdit", "y"}, {"RetryTimeoutEdit", "z"}}
        << QStringLiteral("Некорректное значение полного тайм-аута") << "FullTimeoutEdit";
    QTest::newRow("command before retry")
        << "pushButton" << Fields{{"CommandTimeoutEdit", "70000"}, {"RetryTimeoutEdit", ""}}
        << QStringLiteral("Некорректное значение тайм-аута команды") << "CommandTimeoutEdit";
    QTest::newRow("server ip before url and port")
        << "pushButton_3" << Fields{{"IPsrvEdit", "1.2.3"}, {"URLaddrEdit", tooLongUrl}, {"PortEdit", "x"}}
        << QStringLiteral("Некорректное значение IP-адреса") << "IPsrvEdit";
    // The URL is checked before the port although the port comes first in the record.
    QTest::newRow("server url before port")
        << "pushButton_3" << Fields{{"URLaddrEdit", tooLongUrl}, {"PortEdit", "65536"}}
        << QStringLiteral("Слишком длинный URL") << "URLaddrEdit";
    QTest::newRow("apn before login")
        << "pushButton_4"
        << Fields{{"APNEdit", QString::fromUtf8("ж").repeated(17)}, {"LoginEdit", QString::fromUtf8("л").repeated(17)}}
        << QLatin1String("C") + QStringLiteral("лишком длинный APN") << "APNEdit";
    QTest::newRow("password before balance")
        << "pushButton_4"
        << Fields{{"PasswordEdit", QString::fromUtf8("п").repeated(17)}, {"BalanceCodeEdit", "*100*111#"}}
        << QStringLiteral("Пароль GPRS - слишком длинный") << "PasswordEdit";
    QTest::newRow("ethernet ip before dns")
        << "pushButton_6" << Fields{{"EthIPEdit", "a.b.c.d"}, {"DNSaddrEdit", ""}}
        << QStringLiteral("Некорректное значение IP-адреса") << "EthIPEdit";
    QTest::newRow("ethernet mask before gateway")
        << "pushButton_6" << Fields{{"EthMaskEdit", ""}, {"GatewayEdit", ""}}
        << QStringLiteral("Некорректное значение маски сети") << "EthMaskEdit";
    QTest::newRow("ethernet gateway before dns")
        << "pushButton_6" << Fields{{"GatewayEdit", "1.2.3.4.5"}, {"DNSaddrEdit", "1.2.3.4.5"}}
        << QStringLiteral("Некорректное значение адреса шлюза") << "GatewayEdit";
    // DHCP does not excuse the addresses.
    QTest::newRow("ethernet dhcp with empty ip")
        << "pushButton_6" << Fields{{"UseDHCPcheckBox", true}, {"EthIPEdit", ""}}
        << QStringLiteral("Некорректное значение IP-адреса") << "EthIPEdit";
}

void TestEncoders::firstBadFieldOnly()
{
    QFETCH(QString, button);
    QFETCH(Fields, fields);
    QFETCH(QString, message);
    QFETCH(QString, focus);

    setFields(*window, fields);
    click(*window, qPrintable(button));
    expectRejected(message, focus);
}

void TestEncoders::allGprsStringsEmpty()
{
    setFields(*window, {{"APNEdit", ""}, {"LoginEdit", ""}, {"PasswordEdit", ""}, {"BalanceCodeEdit", ""}});
    click(*window, "pushButton_4");
    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Параметры успешно записаны")});
    QCOMPARE(sim.requests(), frames({"02 06 63 00 00 00 00 00 65"}));
}

void TestEncoders::longUrlIsSentWhole_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("128 ascii") << QString(128, QLatin1Char('u'))
                               << hex("02 88 62 C0 A8 00 01 8B 4E 80") + QByteArray(128, '\x75') + hex("C6");
    QTest::newRow("64 cyrillic") << QString::fromUtf8("я").repeated(64)
                                 << hex("02 88 62 C0 A8 00 01 8B 4E 80") + hex("D18F").repeated(64) + hex("C6");
}

// A URL right at the unit's limit goes out complete, its length byte 128.
void TestEncoders::longUrlIsSentWhole()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, frame);

    setField(*window, QStringLiteral("URLaddrEdit"), url);
    QCOMPARE(text(*window, QStringLiteral("URLaddrEdit")), url);
    click(*window, "pushButton_3");
    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Параметры успешно записаны")});
    QCOMPARE(sim.requests(), QList<QByteArray>{frame});
}

TALLY_TEST_MAIN(TestEncoders)
#include "tst_encoders.moc"
