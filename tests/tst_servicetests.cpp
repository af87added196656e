#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "simulatorfixture.h"
#include "testaddress.h"
#include "testmain.h"
#include "windowtesting.h"

#include <QComboBox>
#include <QPushButton>

using namespace WindowTest;

namespace {

// One box of the given kind, with the title that kind carries and the expected text.
void expectOneBox(const QList<MessageBoxCatcher::Box> &boxes, int icon, const QString &shown)
{
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(int(boxes.first().icon), icon);
    QCOMPARE(boxes.first().title, icon == QMessageBox::Critical ? QStringLiteral("Ошибка") : QStringLiteral("Сообщение"));
    QCOMPARE(boxes.first().text, shown);
}

} // namespace

// The four test buttons and the reset, against the simulated unit on host 6 of the run's loopback network.
class TestServiceTests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void measuringTests_data();
    void measuringTests();
    void statusTexts_data();
    void statusTexts();
    void testsReportChannelFailures_data();
    void testsReportChannelFailures();
    void resetKinds_data();
    void resetKinds();
    void resetRefused();
    void resetWithoutSelectionAsksNothing();
    void resetAnsweredNo();
    void resetAfterReadAll();

private:
    // Clicks the button and checks what every operation owes the engineer afterwards. Errors
    // found before the exchange (preflight) come without the busy cursor, all others under it.
    QList<MessageBoxCatcher::Box> press(MainWindow &window, const char *button,
                                        QMessageBox::StandardButton answer = QMessageBox::No,
                                        bool preflight = false);

    SimulatorFixture unit{testAddress(6)};
};

static const QString address = testAddress(6);

QList<MessageBoxCatcher::Box> TestServiceTests::press(MainWindow &window, const char *button,
                                                      QMessageBox::StandardButton answer, bool preflight)
{
    MessageBoxCatcher catcher;
    catcher.setAnswer(answer);
    QPushButton *pushed = window.findChild<QPushButton *>(QLatin1String(button));
    [&]() { QVERIFY(pushed); }();
    if (pushed)
        pushed->click();
    [&]() {
        QVERIFY(!QGuiApplication::overrideCursor());
        QTRY_VERIFY(!unit.hasClient());
        for (const MessageBoxCatcher::Box &box : catcher.boxes()) {
            QVERIFY(box.parentIsWindow);
            // Errors stay under the busy cursor; results and the question come without it.
            QCOMPARE(box.busyCursor, box.icon == QMessageBox::Critical && !preflight);
        }
    }();
    return catcher.boxes();
}

void TestServiceTests::initTestCase()
{
    QVERIFY(unit.isListening());
}

void TestServiceTests::init()
{
    unit.restart();
}

void TestServiceTests::measuringTests_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<int>("test");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("shown");

    const int info = QMessageBox::Information;
    const int critical = QMessageBox::Critical;
    const QString server = QStringLiteral("02 02 58 02 58");
    const QString signal = QStringLiteral("02 02 58 01 5b");

    QTest::newRow("server 120") << QByteArray("ButtonTestServer") << 2 << hex("00 78") << "" << server << info
                                << "\nВремя ответа: 120мс";
    QTest::newRow("server 255") << QByteArray("ButtonTestServer") << 2 << hex("00 FF") << "" << server << info
                                << "\nВремя ответа: 255мс";
    QTest::newRow("server no value") << QByteArray("ButtonTestServer") << 2 << hex("01 78") << "" << server << info
                                     << "\nВремя ответа: нет ответа";
    QTest::newRow("server refused") << QByteArray("ButtonTestServer") << 2 << hex("00 78") << "nak@58/02" << server
                                    << critical << "Ошибка тестирования связи с сервером";
    QTest::newRow("server garbled") << QByteArray("ButtonTestServer") << 2 << hex("00 78") << "badsum@58/02"
                                    << server << critical << "Ошибка тестирования связи с сервером";
    QTest::newRow("signal 75") << QByteArray("ButtonTestSignalLevel") << 1 << hex("00 4B") << "" << signal << info
                               << "Уровень сигнала: 75%";
    QTest::newRow("signal 0") << QByteArray("ButtonTestSignalLevel") << 1 << hex("00 00") << "" << signal << info
                              << "Уровень сигнала: 0%";
    // One byte short of its value: no measurement, not a level of 0.
    QTest::newRow("signal result alone") << QByteArray("ButtonTestSignalLevel") << 1 << hex("00") << "" << signal
                                         << critical << "Ошибка тестирования уровня сигнала";
    QTest::newRow("signal no value") << QByteArray("ButtonTestSignalLevel") << 1 << hex("01 4B") << "" << signal
                                     << info << "Уровень сигнала: ошибка";
    QTest::newRow("signal refused") << QByteArray("ButtonTestSignalLevel") << 1 << hex("00 4B") << "nak@58/01"
                                    << signal << critical << "Ошибка тестирования уровня сигнала";
}

void TestServiceTests::measuringTests()
{
    QFETCH(QByteArray, button);
    QFETCH(int, test);
    QFETCH(QByteArray, response);
    QFETCH(QString, fault);
    QFETCH(QString, request);
    QFETCH(int, icon);
    QFETCH(QString, shown);

    unit.setTestResponse(quint8(test), response);
    if (!fault.isEmpty())
        QVERIFY(unit.addFault(fault));
    MainWindow window;
    selectNetwork(window, address);

    const QList<MessageBoxCatcher::Box> boxes = press(window, button.constData());
    expectOneBox(boxes, icon, shown);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(hexList(unit.requests()), QStringList(request));
}

void TestServiceTests::statusTexts_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QList<QByteArray>>("parts");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("requests");

    const QString unitRequest = QStringLiteral("02 01 55 54");
    const QString modemRequest = QStringLiteral("02 01 56 57");
    const QString more = QStringLiteral("02 01 05 04");
    const int info = QMessageBox::Information;
    const int critical = QMessageBox::Critical;

    // Windows-1251: CC EE E4 E5 EC is "Модем".
    QTest::newRow("unit, two parts") << QByteArray("ButtonTestBMKS") << QList<QByteArray>{hex("CCEEE4E5EC"), "OK 2"}
                                     << "" << info << "Модем\nOK 2\n" << QStringList{unitRequest, more, more};
    QTest::newRow("modem, one part") << QByteArray("ButtonTestModem") << QList<QByteArray>{hex("CCEEE4E5EC")} << ""
                                     << info << "Модем\n" << QStringList{modemRequest, more};
    QTest::newRow("unit, empty part skipped") << QByteArray("ButtonTestBMKS")
                                              << QList<QByteArray>{"A", QByteArray(), "B"} << "" << info << "A\nB\n"
                                              << QStringList{unitRequest, more, more, more};
    QTest::newRow("unit, refused") << QByteArray("ButtonTestBMKS") << QList<QByteArray>{"A"} << "nak@55" << critical
                                   << "Ошибка чтения статуса БМКС" << QStringList{unitRequest};
    QTest::newRow("unit, no text") << QByteArray("ButtonTestBMKS") << QList<QByteArray>{} << "" << critical
                                   << "Ошибка чтения статуса БМКС" << QStringList{unitRequest};
    QTest::newRow("modem, result byte set") << QByteArray("ButtonTestModem") << QList<QByteArray>{"A"}
                                            << "result=01@56" << critical << "Ошибка чтения статуса модема"
                                            << QStringList{modemRequest};
    QTest::newRow("modem, continuation refused") << QByteArray("ButtonTestModem")
                                                 << QList<QByteArray>{"first", "second"} << "nak@05" << info
                                                 << "first\n" << QStringList{modemRequest, more};
}

void TestServiceTests::statusTexts()
{
    QFETCH(QByteArray, button);
    QFETCH(QList<QByteArray>, parts);
    QFETCH(QString, fault);
    QFETCH(int, icon);
    QFETCH(QString, shown);
    QFETCH(QStringList, requests);

    if (button == "ButtonTestBMKS")
        unit.setUnitStatus(parts);
    else
        unit.setModemStatus(parts);
    if (!fault.isEmpty())
        QVERIFY(unit.addFault(fault));
    MainWindow window;
    selectNetwork(window, address);

    const QList<MessageBoxCatcher::Box> boxes = press(window, button.constData());
    expectOneBox(boxes, icon, shown);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(hexList(unit.requests()), requests);
}

void TestServiceTests::testsReportChannelFailures_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("message");

    const QString refused = QStringLiteral("Не могу установить соединение 127.0.0.250");
    const QString none = QStringLiteral("Не выбран канал связи");
    for (const char *button : {"ButtonTestBMKS", "ButtonTestModem", "ButtonTestServer", "ButtonTestSignalLevel"}) {
        QTest::newRow(QByteArray(button) + ", refused") << QByteArray(button) << true << refused;
        QTest::newRow(QByteArray(button) + ", no channel") << QByteArray(button) << false << none;
    }
}

void TestServiceTests::testsReportChannelFailures()
{
    QFETCH(QByteArray, button);
    QFETCH(bool, network);
    QFETCH(QString, message);

    MainWindow window;
    if (network)
        selectNetwork(window, QStringLiteral("127.0.0.250"));
    else
        window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"))->setCurrentIndex(-1);

    const QList<MessageBoxCatcher::Box> boxes = press(window, button.constData());
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().icon, QMessageBox::Critical);
    QCOMPARE(boxes.first().title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.first().text, message);
    QVERIFY(unit.requests().isEmpty());
}

void TestServiceTests::resetKinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("request");

    QTest::newRow("Полный") << 0 << "02 02 26 00 24";
    QTest::newRow("Журнал") << 1 << "02 02 26 01 25";
    QTest::newRow("Z-отчеты") << 2 << "02 02 26 02 26";
    QTest::newRow("Настройки") << 3 << "02 02 26 03 27";
    QTest::newRow("Первая команда буфера") << 4 << "02 02 26 04 20";
    QTest::newRow("Весь буфер команд") << 5 << "02 02 26 05 21";
}

void TestServiceTests::resetKinds()
{
    QFETCH(int, kind);
    QFETCH(QString, request);

    MainWindow window;
    selectNetwork(window, address);
    QComboBox *kinds = window.findChild<QComboBox *>(QStringLiteral("resetComboBox"));
    kinds->setCurrentIndex(kind);
    QCOMPARE(kinds->currentText(), QString::fromUtf8(QTest::currentDataTag()));

    const QList<MessageBoxCatcher::Box> boxes = press(window, "pushButton_reset", QMessageBox::Yes);
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.at(0).icon, QMessageBox::Question);
    QCOMPARE(boxes.at(0).title, QStringLiteral("Вопрос"));
    QCOMPARE(boxes.at(0).text, QStringLiteral("Вы уверены, что хотите сбросить?"));
    QCOMPARE(boxes.at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(boxes.at(1).icon, QMessageBox::Information);
    QCOMPARE(boxes.at(1).title, QStringLiteral("Сообщение"));
    QCOMPARE(boxes.at(1).text, QStringLiteral("Сброс выполнен"));
    QCOMPARE(hexList(unit.requests()), QStringList(request));
}

void TestServiceTests::resetRefused()
{
    QVERIFY(unit.addFault(QStringLiteral("result=01@26")));
    MainWindow window;
    selectNetwork(window, address);
    window.findChild<QComboBox *>(QStringLiteral("resetComboBox"))->setCurrentIndex(0);

    const QList<MessageBoxCatcher::Box> boxes = press(window, "pushButton_reset", QMessageBox::Yes);
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.at(1).icon, QMessageBox::Critical);
    QCOMPARE(boxes.at(1).text, QStringLiteral("Не удается выполнить сброс."));
    QCOMPARE(hexList(unit.requests()), QStringList{"02 02 26 00 24"});
}

void TestServiceTests::resetWithoutSelectionAsksNothing()
{
    MainWindow window;
    selectNetwork(window, address);
    window.findChild<QComboBox *>(QStringLiteral("resetComboBox"))->setCurrentIndex(-1);

    const QList<MessageBoxCatcher::Box> boxes = press(window, "pushButton_reset", QMessageBox::Yes, true);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().icon, QMessageBox::Critical);
    QCOMPARE(boxes.first().text, QStringLiteral("Не корректный параметр для сброса"));
    QVERIFY(unit.requests().isEmpty());
}

void TestServiceTests::resetAnsweredNo()
{
    MainWindow window;
    selectNetwork(window, address);
    window.findChild<QComboBox *>(QStringLiteral("resetComboBox"))->setCurrentIndex(0);

    const QList<MessageBoxCatcher::Box> boxes = press(window, "pushButton_reset", QMessageBox::No);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().icon, QMessageBox::Question);
    QVERIFY(unit.requests().isEmpty());
}

void TestServiceTests::resetAfterReadAll()
{
    MainWindow window;
    selectNetwork(window, address);
    window.findChild<QComboBox *>(QStringLiteral("resetComboBox"))->setCurrentIndex(2);
    QVERIFY(press(window, "pushButtonRead").isEmpty());
    unit.clearRequests();

    const QList<MessageBoxCatcher::Box> boxes = press(window, "pushButton_reset", QMessageBox::Yes, true);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Не корректный параметр для сброса"));
    QVERIFY(unit.requests().isEmpty());
}

TALLY_TEST_MAIN(TestServiceTests)
#include "tst_servicetests.moc"
