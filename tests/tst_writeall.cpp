// "Записать всё": the whole form checked before anything goes out, then eight writes over one
// connection in the unit's order, stopping at the first the unit does not confirm.

#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "tst_writeform.h"

#include <QApplication>
#include <QFile>
#include <QObject>
#include <QSettings>
#include <QtTest>

using namespace WriteForm;

namespace {

const QString Address = testAddress(9);
const QString SettingsFile = QStringLiteral("tallyconf.ini");

QString storedMac()
{
    QSettings file(SettingsFile, QSettings::IniFormat);
    return file.value(QStringLiteral("EthMAC")).toString();
}

} // namespace

class TestWriteAll : public QObject
{
    Q_OBJECT

public:
    TestWriteAll() : sim(Address) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyGroupInOrderOverOneConnection();
    void badValueSendsNothing_data();
    void badValueSendsNothing();
    void earlierGroupReportedFirst();
    void refusalStopsThere_data();
    void refusalStopsThere();
    void ethernetRefusedKeepsMac();
    void macAdvancesBeforeLaterFailure();
    void macAdvancesAfterFullWrite();
    void readBackShowsWhatWasWritten();

private:
    QString focusAfterBox();

    SimulatorFixture sim;
    MainWindow *window = nullptr;
    MessageBoxCatcher *catcher = nullptr;
};

void TestWriteAll::initTestCase()
{
    QVERIFY(sim.isListening());
}

void TestWriteAll::init()
{
    QFile::remove(SettingsFile);
    sim.restart();
    blankUnit(sim);
    window = new MainWindow;
    setFields(*window, validForm());
    selectNetwork(*window, Address);
    QVERIFY(showActive(*window));
    window->findChild<QWidget *>(QStringLiteral("deviceAddressEdit"))->setFocus();
    catcher = new MessageBoxCatcher;
}

void TestWriteAll::cleanup()
{
    delete catcher;
    catcher = nullptr;
    delete window;
    window = nullptr;
}

// The box was the active window while it was open; the offscreen platform does not hand
// activation back, so the window is made active again before asking who has the focus.
QString TestWriteAll::focusAfterBox()
{
    QApplication::setActiveWindow(window);
    QWidget *focused = QApplication::focusWidget();
    return focused ? focused->objectName() : QString();
}

void TestWriteAll::everyGroupInOrderOverOneConnection()
{
    const int before = sim.connectionCount();
    click(*window, "pushButtonWrite");

    QCOMPARE(sim.requests(), validFrames());
    QCOMPARE(catcher->boxes().size(), 1);
    QCOMPARE(catcher->boxes().first().icon, QMessageBox::Information);
    QCOMPARE(catcher->boxes().first().title, QStringLiteral("Сообщение"));
    QCOMPARE(catcher->boxes().first().text, QStringLiteral("Параметры успешно записаны"));
    QVERIFY(!catcher->boxes().first().busyCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    QTRY_VERIFY(!sim.hasClient());
    QCOMPARE(sim.connectionCount() - before, 1);
    for (const Stored &stored : validStored())
        QVERIFY2(holds(sim, stored), qPrintable(QStringLiteral("group %1 offset %2").arg(stored.group).arg(stored.offset)));
}

void TestWriteAll::badValueSendsNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("message");

    QTest::newRow("time-outs") << "CommandTimeoutEdit" << QVariant("-1")
                               << QStringLiteral("Некорректное значение тайм-аута команды");
    QTest::newRow("token") << "ServerTokenEdit" << QVariant("12a") << QStringLiteral("Некорректное значение токен");
    QTest::newRow("server address") << "IPsrvEdit" << QVariant("256.0.0.1")
                                    << QStringLiteral("Некорректное значение IP-адреса");
    QTest::newRow("gprs") << "LoginEdit" << QVariant(QString::fromUtf8("л").repeated(17))
                          << QStringLiteral("Логин GPRS - слишком длинный");
    QTest::newRow("ethernet") << "GatewayEdit" << QVariant("")
                              << QStringLiteral("Некорректное значение адреса шлюза");
    QTest::newRow("mac") << "EthMACEdit" << QVariant("00:11:22:33:44:55")
                         << QStringLiteral("Некорректное значение MAC-адреса");
    QTest::newRow("priority") << "PriorityComboBox" << QVariant(-1) << QStringLiteral("Не выбран приоритет каналов");
    QTest::newRow("cash desk id, the last group") << "CashDeskIDEdit" << QVariant("")
                                                  << QStringLiteral("Некорректное значение ID ККМ");
}

void TestWriteAll::badValueSendsNothing()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, message);

    const int before = sim.connectionCount();
    setField(*window, field, value);
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{message});
    QVERIFY(!catcher->boxes().first().busyCursor);
    QVERIFY(sim.requests().isEmpty());
    QCOMPARE(sim.connectionCount(), before);
    QCOMPARE(focusAfterBox(), field);
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestWriteAll::earlierGroupReportedFirst()
{
    setFields(*window, {{QStringLiteral("CashDeskIDEdit"), QStringLiteral("x")},
                        {QStringLiteral("ServerTokenEdit"), QStringLiteral("y")}});
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Некорректное значение токен")});
    QCOMPARE(focusAfterBox(), QStringLiteral("ServerTokenEdit"));
    QVERIFY(sim.requests().isEmpty());
}

void TestWriteAll::refusalStopsThere_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failing");   // index of the refused group in write order
    QTest::addColumn<QString>("message");

    QTest::newRow("time-outs") << "result=01@60" << 0 << QStringLiteral("Не удается записать значения тайм-аутов");
    QTest::newRow("token") << "result=01@61" << 1 << QStringLiteral("Не удается записать токен");
    QTest::newRow("server address") << "nak@62" << 2 << QStringLiteral("Не удается записать адрес сервера");
    QTest::newRow("gprs") << "result=02@63" << 3 << QStringLiteral("Не удается записать настройки GPRS");
    QTest::newRow("ethernet") << "result=01@65" << 4 << QStringLiteral("Не удается записать настройки Ethernet");
    QTest::newRow("mac") << "badsum@69" << 5 << QStringLiteral("Не удается записать MAC-адрес");
    QTest::newRow("priority") << "noack@67" << 6 << QStringLiteral("Не удается записать приоритет каналов");
    QTest::newRow("cash desk id") << "result=01@64" << 7 << QStringLiteral("Не удается записать ID ККМ");
}

// The refused group is the last one sent; the groups before it stay written in the unit.
void TestWriteAll::refusalStopsThere()
{
    QFETCH(QString, fault);
    QFETCH(int, failing);
    QFETCH(QString, message);

    QVERIFY(sim.addFault(fault));
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{message});
    QVERIFY(catcher->boxes().first().busyCursor);
    QCOMPARE(sim.requests(), validFrames().mid(0, failing + 1));
    const QList<Stored> stored = validStored();
    for (int i = 0; i < failing; ++i)
        QVERIFY2(holds(sim, stored.at(i)), qPrintable(QStringLiteral("group %1 not written").arg(stored.at(i).group)));
    QVERIFY(!QGuiApplication::overrideCursor());
    QTRY_VERIFY(!sim.hasClient());
}

void TestWriteAll::ethernetRefusedKeepsMac()
{
    setField(*window, QStringLiteral("incrementMacCheckBox"), true);
    QVERIFY(sim.addFault(QStringLiteral("result=01@65")));
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Не удается записать настройки Ethernet")});
    QCOMPARE(sim.requests(), validFrames().mid(0, 5));
    QCOMPARE(sim.group(9).mid(19, 6), QByteArray(6, '\0'));
    QCOMPARE(text(*window, QStringLiteral("EthMACEdit")), QStringLiteral("00-11-22-33-44-55"));
    QVERIFY(!QFile::exists(SettingsFile));
}

// The MAC write itself succeeded, so the next unit's address is already in place.
void TestWriteAll::macAdvancesBeforeLaterFailure()
{
    setField(*window, QStringLiteral("incrementMacCheckBox"), true);
    QVERIFY(sim.addFault(QStringLiteral("result=01@67")));
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Не удается записать приоритет каналов")});
    QCOMPARE(sim.requests(), validFrames().mid(0, 7));
    QCOMPARE(sim.group(9).mid(19, 6), hex("00 11 22 33 44 55"));
    QCOMPARE(text(*window, QStringLiteral("EthMACEdit")), QStringLiteral("00-11-22-33-44-56"));
    QCOMPARE(storedMac(), QStringLiteral("00-11-22-33-44-56"));
}

void TestWriteAll::macAdvancesAfterFullWrite()
{
    // A login saved earlier in Russian ("логин"), as Qt 5 writes it.
    {
        QFile file(SettingsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nLogin=\\x43b\\x43e\\x433\\x438\\x43d\n");
    }
    setFields(*window, {{QStringLiteral("incrementMacCheckBox"), true},
                        {QStringLiteral("EthMACEdit"), QStringLiteral("00-1A-2B-3C-4D-FF")}});
    click(*window, "pushButtonWrite");

    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Параметры успешно записаны")});
    QCOMPARE(sim.requests().size(), 8);
    QCOMPARE(sim.requests().at(5), hex("02 07 69 00 1A 2B 3C 4D FF D1"));
    QCOMPARE(sim.group(9).mid(19, 6), hex("00 1A 2B 3C 4D FF"));
    QCOMPARE(text(*window, QStringLiteral("EthMACEdit")), QStringLiteral("00-1a-2b-3c-4e-00"));
    QCOMPARE(storedMac(), QStringLiteral("00-1a-2b-3c-4e-00"));
    // On either build the file stays in the form a Qt 5 build reads.
    QFile file(SettingsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
#ifdef Q_OS_WIN
    // Qt on Windows ends the lines with CR LF and keeps the keys the file had before the new.
    QCOMPARE(file.readAll(), QByteArray("[General]\r\nLogin=\\x43b\\x43e\\x433\\x438\\x43d\r\n"
                                        "EthMAC=00-1a-2b-3c-4e-00\r\n"));
#else
    QCOMPARE(file.readAll(), QByteArray("[General]\nEthMAC=00-1a-2b-3c-4e-00\n"
                                        "Login=\\x43b\\x43e\\x433\\x438\\x43d\n"));
#endif
}

// What "Записать всё" wrote is what "Прочитать всё" then shows, field for field.
void TestWriteAll::readBackShowsWhatWasWritten()
{
    click(*window, "pushButtonWrite");
    QCOMPARE(catcher->texts(), QStringList{QStringLiteral("Параметры успешно записаны")});

    catcher->clear();
    delete window;
    window = new MainWindow;
    selectNetwork(*window, Address);
    click(*window, "pushButtonRead");
    QVERIFY2(catcher->texts().isEmpty(), qPrintable(catcher->texts().join(QLatin1Char('\n'))));

    for (const auto &field : validForm()) {
        if (field.first == QLatin1String("incrementMacCheckBox"))
            continue;   // not the unit's, never read
        if (auto *edit = window->findChild<QLineEdit *>(field.first))
            QCOMPARE(edit->text(), field.second.toString());
        else if (auto *box = window->findChild<QCheckBox *>(field.first))
            QCOMPARE(box->isChecked(), field.second.toBool());
        else if (auto *combo = window->findChild<QComboBox *>(field.first))
            QCOMPARE(combo->currentIndex(), field.second.toInt());
        else
            QFAIL(qPrintable(field.first));
    }
}

TALLY_TEST_MAIN(TestWriteAll)
#include "tst_writeall.moc"
