#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "profile.h"
#include "testmain.h"
#include "tst_writeform.h"
#include "widgetlookup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPushButton>
#include <QScrollArea>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSpacerItem>
#include <QStatusBar>
#include <QToolBar>
#include <QTranslator>

// The window's form: names, captions, limits, layouts, tab chain, combo contents, wiring.
class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void widgetsAndCaptions_data();
    void widgetsAndCaptions();
    void maximumLength_data();
    void maximumLength();
    void layoutContents_data();
    void layoutContents();
    void sizeRules_data();
    void sizeRules();
    void tabChain();
    void windowFrame();
    void captionsUseWindowContext();
    void comboContents();
    void resetGroupHidden();
    void slotOrder();
    void eachButtonRunsItsSlotOnce_data();
    void eachButtonRunsItsSlotOnce();
    void defaultsButtons();
    void addressRowFollowsChannel();
    void addressRowAtStartup_data();
    void addressRowAtStartup();
    void channelByName_data();
    void channelByName();
    void onlyNetworkWithoutPorts();
};

// The window as it opens on a screen whose available area is the room given.
class WindowOnScreen : public MainWindow
{
public:
    explicit WindowOnScreen(const QRect &room) : room(room) {}

protected:
    QRect screenRoom() const override { return room; }

private:
    QRect room;
};

static void storePortNumber(const QVariant &value)
{
    QSettings file(QStringLiteral("tallyconf.ini"), QSettings::IniFormat);
    file.clear();
    if (value.isValid())
        file.setValue(QStringLiteral("portNumber"), value);
    file.sync();
}

void TestForm::init()
{
    QFile::remove(QStringLiteral("tallyconf.ini"));
}

void TestForm::widgetsAndCaptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");

    const struct { const char *name, *cls, *parent, *text; } rows[] = {
        {"centralWidget", "QWidget", "MainWindow", ""},
        {"statusBar", "QStatusBar", "MainWindow", ""},
        {"label", "QLabel", "centralWidget", "Канал связи:"},
        {"comboBoxPort", "QComboBox", "centralWidget", ""},
        {"deviceAddressLabel", "QLabel", "centralWidget", "Адрес:"},
        {"deviceAddressEdit", "QLineEdit", "centralWidget", "192.168.0.100"},
        {"pushButtonRead", "QPushButton", "centralWidget", "Прочитать всё"},
        {"pushButtonWrite", "QPushButton", "centralWidget", "Записать всё"},
        {"pushButton_loadDefault", "QPushButton", "centralWidget", "Восстановить параметры"},
        {"pushButton_saveDefault", "QPushButton", "centralWidget", "Сохранить параметры"},
        {"groupBox", "QGroupBox", "centralWidget", "Тайм-ауты"},
        {"label_3", "QLabel", "groupBox", "Полный тайм-аут(мс):"},
        {"FullTimeoutEdit", "QLineEdit", "groupBox", ""},
        {"label_4", "QLabel", "groupBox", "Тайм-аут команды(мс):"},
        {"CommandTimeoutEdit", "QLineEdit", "groupBox", ""},
        {"label_5", "QLabel", "groupBox", "Период повтора(сек):"},
        {"RetryTimeoutEdit", "QLineEdit", "groupBox", ""},
        {"pushButton", "QPushButton", "groupBox", "Записать"},
        {"groupBox_2", "QGroupBox", "centralWidget", "Токен"},
        {"label_7", "QLabel", "groupBox_2", "Токен сервера:"},
        {"ServerTokenEdit", "QLineEdit", "groupBox_2", ""},
        {"pushButton_2", "QPushButton", "groupBox_2", "Записать"},
        {"groupBox_3", "QGroupBox", "centralWidget", "Адрес сервера"},
        {"label_8", "QLabel", "groupBox_3", "IP:"},
        {"IPsrvEdit", "QLineEdit", "groupBox_3", ""},
        {"label_9", "QLabel", "groupBox_3", "URL:"},
        {"URLaddrEdit", "QLineEdit", "groupBox_3", ""},
        {"label_10", "QLabel", "groupBox_3", "Порт:"},
        {"PortEdit", "QLineEdit", "groupBox_3", ""},
        {"pushButton_3", "QPushButton", "groupBox_3", "Записать"},
        {"groupBox_4", "QGroupBox", "centralWidget", "Настройки GPRS"},
        {"label_12", "QLabel", "groupBox_4", "APN:"},
        {"APNEdit", "QLineEdit", "groupBox_4", ""},
        {"label_13", "QLabel", "groupBox_4", "Логин:"},
        {"LoginEdit", "QLineEdit", "groupBox_4", ""},
        {"label_14", "QLabel", "groupBox_4", "Пароль:"},
        {"PasswordEdit", "QLineEdit", "groupBox_4", ""},
        {"label_15", "QLabel", "groupBox_4", "Запрос баланса:"},
        {"BalanceCodeEdit", "QLineEdit", "groupBox_4", ""},
        {"pushButton_4", "QPushButton", "groupBox_4", "Записать"},
        {"groupBox_8", "QGroupBox", "centralWidget", "MAC адрес"},
        {"label_22", "QLabel", "groupBox_8", "MAC:"},
        {"EthMACEdit", "QLineEdit", "groupBox_8", ""},
        {"pushButton_5", "QPushButton", "groupBox_8", "Записать"},
        {"incrementMacCheckBox", "QCheckBox", "groupBox_8", "автоувеличение"},
        {"groupBox_6", "QGroupBox", "centralWidget", "Параметры Ethernet"},
        {"label_18", "QLabel", "groupBox_6", "IP адрес:"},
        {"EthIPEdit", "QLineEdit", "groupBox_6", ""},
        {"label_19", "QLabel", "groupBox_6", "маска:"},
        {"EthMaskEdit", "QLineEdit", "groupBox_6", ""},
        {"label_20", "QLabel", "groupBox_6", "Шлюз:"},
        {"GatewayEdit", "QLineEdit", "groupBox_6", ""},
        {"label_21", "QLabel", "groupBox_6", "DNS:"},
        {"DNSaddrEdit", "QLineEdit", "groupBox_6", ""},
        {"UseDHCPcheckBox", "QCheckBox", "groupBox_6", "использовать DHCP"},
        {"pushButton_6", "QPushButton", "groupBox_6", "Записать"},
        {"groupBox_7", "QGroupBox", "centralWidget", "Приоритет каналов"},
        {"label_17", "QLabel", "groupBox_7", "приоритет:"},
        {"PriorityComboBox", "QComboBox", "groupBox_7", ""},
        {"pushButton_7", "QPushButton", "groupBox_7", "Записать"},
        {"groupBox_5", "QGroupBox", "centralWidget", "ККМ ID"},
        {"label_16", "QLabel", "groupBox_5", "ID:"},
        {"CashDeskIDEdit", "QLineEdit", "groupBox_5", ""},
        {"pushButton_8", "QPushButton", "groupBox_5", "Записать"},
        {"groupBox_reset", "QGroupBox", "centralWidget", "Сброс данных устройства"},
        {"resetComboBox", "QComboBox", "groupBox_reset", ""},
        {"pushButton_reset", "QPushButton", "groupBox_reset", "Сбросить"},
        {"groupBox_9", "QGroupBox", "centralWidget", "Тесты"},
        {"ButtonTestModem", "QPushButton", "groupBox_9", "Модем"},
        {"ButtonTestBMKS", "QPushButton", "groupBox_9", "БМКС"},
        {"ButtonTestServer", "QPushButton", "groupBox_9", "Сервер"},
        {"ButtonTestSignalLevel", "QPushButton", "groupBox_9", "Сигнал сети"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromUtf8(row.name) << QString::fromUtf8(row.cls)
                                << QString::fromUtf8(row.parent) << QString::fromUtf8(row.text);
}

void TestForm::widgetsAndCaptions()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);

    MainWindow window;
    const QList<QWidget *> found = window.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);

    QString shown;
    if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        shown = button->text();
    else if (auto *group = qobject_cast<QGroupBox *>(widget))
        shown = group->title();
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        shown = edit->text();
    QCOMPARE(shown, text);

    if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        QVERIFY(!button->isCheckable() || qobject_cast<QCheckBox *>(widget));
        QVERIFY(!button->isChecked());
        QVERIFY(button->shortcut().isEmpty());
    }
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->buddy(), static_cast<QWidget *>(nullptr));
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QVERIFY(edit->inputMask().isEmpty());
        QVERIFY(!edit->validator());
        QVERIFY(!edit->isReadOnly());
    }
}

void TestForm::maximumLength_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("limit");

    QTest::newRow("deviceAddressEdit") << "deviceAddressEdit" << 256;
    // Each parameter field holds what the profile's key table says a value of its key may be.
    for (const QString &key : Profile::keys()) {
        if (Profile::maxLength(key) > 0)
            QTest::newRow(qPrintable(key + QStringLiteral("Edit"))) << key + QStringLiteral("Edit")
                                                                    << Profile::maxLength(key);
    }
}

void TestForm::maximumLength()
{
    QFETCH(QString, name);
    QFETCH(int, limit);

    MainWindow window;
    QLineEdit *edit = window.findChild<QLineEdit *>(name);
    QVERIFY(edit);
    QCOMPARE(edit->maxLength(), limit);

    // Text set by the program (from the unit or the settings file) is cut to the limit.
    edit->setText(QString(limit + 1, QLatin1Char('7')));
    QCOMPARE(edit->text(), QString(limit, QLatin1Char('7')));

    // Typing beyond the limit is refused; the Cyrillic letters count as one character each.
    edit->setEnabled(true);
    edit->clear();
    for (const QChar letter : QString(limit, QChar(0x0416)) + QStringLiteral("xyz")) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(letter));
        QApplication::sendEvent(edit, &press);
    }
    QCOMPARE(edit->text(), QString(limit, QChar(0x0416)));
}

// A layout's items, left to right or top to bottom: object names, or "spacer WxH" with policies.
static QStringList itemNames(QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget()) {
            names << item->widget()->objectName();
        } else if (item->layout()) {
            names << item->layout()->objectName();
        } else if (QSpacerItem *spacer = item->spacerItem()) {
            const QSizePolicy policy = spacer->sizePolicy();
            names << QStringLiteral("spacer %1x%2 %3/%4")
                         .arg(spacer->sizeHint().width())
                         .arg(spacer->sizeHint().height())
                         .arg(policy.horizontalPolicy())
                         .arg(policy.verticalPolicy());
        }
        auto *box = qobject_cast<QBoxLayout *>(layout);
        if ((box && box->stretch(i) != 0) || item->alignment() != 0)
            names.last() += QStringLiteral(" (stretched or aligned)");
    }
    return names;
}

void TestForm::layoutContents_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("owner");          // widget the layout is installed on, or empty
    QTest::addColumn<int>("margin");
    QTest::addColumn<QStringList>("items");

    const QString horizontalSpacer = QStringLiteral("spacer 40x20 %1/%2")
                                         .arg(QSizePolicy::Expanding).arg(QSizePolicy::Minimum);
    const QString leftSpacer = QStringLiteral("spacer 20x13 %1/%2")
                                   .arg(QSizePolicy::Minimum).arg(QSizePolicy::Expanding);
    const QString rightSpacer = QStringLiteral("spacer 20x40 %1/%2")
                                    .arg(QSizePolicy::Minimum).arg(QSizePolicy::Expanding);

    QTest::newRow("verticalLayout_14") << "verticalLayout_14" << "centralWidget" << 11
                                       << QStringList{"horizontalLayout_25", "horizontalLayout_23"};
    QTest::newRow("horizontalLayout_25") << "horizontalLayout_25" << "" << 0
                                         << QStringList{"verticalLayout_12", horizontalSpacer, "verticalLayout_13"};
    QTest::newRow("verticalLayout_12") << "verticalLayout_12" << "" << 0
                                       << QStringList{"horizontalLayout_22", "addrLayout", "horizontalLayout"};
    QTest::newRow("horizontalLayout_22") << "horizontalLayout_22" << "" << 0 << QStringList{"label", "comboBoxPort"};
    QTest::newRow("addrLayout") << "addrLayout" << "" << 0 << QStringList{"deviceAddressLabel", "deviceAddressEdit"};
    QTest::newRow("horizontalLayout") << "horizontalLayout" << "" << 0
                                      << QStringList{"pushButtonRead", "pushButtonWrite"};
    QTest::newRow("verticalLayout_13") << "verticalLayout_13" << "" << 0
                                       << QStringList{"pushButton_loadDefault", "pushButton_saveDefault"};
    QTest::newRow("horizontalLayout_23") << "horizontalLayout_23" << "" << 0
                                         << QStringList{"verticalLayout_6", "verticalLayout_11"};
    QTest::newRow("verticalLayout_6") << "verticalLayout_6" << "" << 0
                                      << QStringList{"groupBox", "groupBox_2", "groupBox_3", "groupBox_4", leftSpacer};
    QTest::newRow("verticalLayout_11") << "verticalLayout_11" << "" << 0
                                       << QStringList{"groupBox_8", "groupBox_6", "groupBox_7", "groupBox_5",
                                                      "groupBox_reset", "groupBox_9", rightSpacer};
    QTest::newRow("verticalLayout") << "verticalLayout" << "groupBox" << 11
                                    << QStringList{"horizontalLayout_2", "horizontalLayout_3", "horizontalLayout_4",
                                                   "pushButton"};
    QTest::newRow("horizontalLayout_2") << "horizontalLayout_2" << "" << 0 << QStringList{"label_3", "FullTimeoutEdit"};
    QTest::newRow("horizontalLayout_3") << "horizontalLayout_3" << "" << 0
                                        << QStringList{"label_4", "CommandTimeoutEdit"};
    QTest::newRow("horizontalLayout_4") << "horizontalLayout_4" << "" << 0 << QStringList{"label_5", "RetryTimeoutEdit"};
    QTest::newRow("verticalLayout_2") << "verticalLayout_2" << "groupBox_2" << 11
                                      << QStringList{"horizontalLayout_5", "pushButton_2"};
    QTest::newRow("horizontalLayout_5") << "horizontalLayout_5" << "" << 0 << QStringList{"label_7", "ServerTokenEdit"};
    QTest::newRow("verticalLayout_3") << "verticalLayout_3" << "groupBox_3" << 11
                                      << QStringList{"horizontalLayout_6", "horizontalLayout_7", "horizontalLayout_8",
                                                     "pushButton_3"};
    QTest::newRow("horizontalLayout_6") << "horizontalLayout_6" << "" << 0 << QStringList{"label_8", "IPsrvEdit"};
    QTest::newRow("horizontalLayout_7") << "horizontalLayout_7" << "" << 0 << QStringList{"label_9", "URLaddrEdit"};
    QTest::newRow("horizontalLayout_8") << "horizontalLayout_8" << "" << 0 << QStringList{"label_10", "PortEdit"};
    QTest::newRow("verticalLayout_4") << "verticalLayout_4" << "groupBox_4" << 11
                                      << QStringList{"horizontalLayout_9", "horizontalLayout_10", "horizontalLayout_11",
                                                     "horizontalLayout_12", "pushButton_4"};
    QTest::newRow("horizontalLayout_9") << "horizontalLayout_9" << "" << 0 << QStringList{"label_12", "APNEdit"};
    QTest::newRow("horizontalLayout_10") << "horizontalLayout_10" << "" << 0 << QStringList{"label_13", "LoginEdit"};
    QTest::newRow("horizontalLayout_11") << "horizontalLayout_11" << "" << 0 << QStringList{"label_14", "PasswordEdit"};
    QTest::newRow("horizontalLayout_12") << "horizontalLayout_12" << "" << 0
                                         << QStringList{"label_15", "BalanceCodeEdit"};
    QTest::newRow("verticalLayout_9") << "verticalLayout_9" << "groupBox_8" << 11
                                      << QStringList{"horizontalLayout_19", "horizontalLayout_21"};
    QTest::newRow("horizontalLayout_19") << "horizontalLayout_19" << "" << 0 << QStringList{"label_22", "EthMACEdit"};
    QTest::newRow("horizontalLayout_21") << "horizontalLayout_21" << "" << 0
                                         << QStringList{"pushButton_5", "incrementMacCheckBox"};
    QTest::newRow("verticalLayout_5") << "verticalLayout_5" << "groupBox_6" << 11
                                      << QStringList{"horizontalLayout_14", "horizontalLayout_15", "horizontalLayout_16",
                                                     "horizontalLayout_17", "UseDHCPcheckBox", "pushButton_6"};
    QTest::newRow("horizontalLayout_14") << "horizontalLayout_14" << "" << 0 << QStringList{"label_18", "EthIPEdit"};
    QTest::newRow("horizontalLayout_15") << "horizontalLayout_15" << "" << 0 << QStringList{"label_19", "EthMaskEdit"};
    QTest::newRow("horizontalLayout_16") << "horizontalLayout_16" << "" << 0 << QStringList{"label_20", "GatewayEdit"};
    QTest::newRow("horizontalLayout_17") << "horizontalLayout_17" << "" << 0 << QStringList{"label_21", "DNSaddrEdit"};
    QTest::newRow("verticalLayout_8") << "verticalLayout_8" << "groupBox_7" << 11
                                      << QStringList{"horizontalLayout_13", "pushButton_7"};
    QTest::newRow("horizontalLayout_13") << "horizontalLayout_13" << "" << 0
                                         << QStringList{"label_17", "PriorityComboBox"};
    QTest::newRow("verticalLayout_7") << "verticalLayout_7" << "groupBox_5" << 11
                                      << QStringList{"horizontalLayout_18", "pushButton_8"};
    QTest::newRow("horizontalLayout_18") << "horizontalLayout_18" << "" << 0 << QStringList{"label_16", "CashDeskIDEdit"};
    QTest::newRow("verticalLayout_10") << "verticalLayout_10" << "groupBox_reset" << 11
                                       << QStringList{"horizontalLayout_20"};
    QTest::newRow("horizontalLayout_20") << "horizontalLayout_20" << "" << 0
                                         << QStringList{"resetComboBox", "pushButton_reset"};
}

void TestForm::layoutContents()
{
    QFETCH(QString, layout);
    QFETCH(QString, owner);
    QFETCH(int, margin);
    QFETCH(QStringList, items);

    MainWindow window;
    const QList<QLayout *> found = window.findChildren<QLayout *>(layout);
    QCOMPARE(found.size(), 1);
    QLayout *box = found.first();
    QCOMPARE(box->spacing(), 6);
    QCOMPARE(box->contentsMargins(), QMargins(margin, margin, margin, margin));
    if (owner.isEmpty())
        QVERIFY(box->parentWidget() == nullptr || box->parentWidget()->layout() != box);
    else
        QCOMPARE(box->parentWidget()->objectName(), owner);
    QCOMPARE(itemNames(box), items);
}

void TestForm::sizeRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::addColumn<QSize>("minimum");

    QTest::newRow("centralWidget") << "centralWidget" << int(QSizePolicy::Preferred) << int(QSizePolicy::Expanding)
                                   << QSize(0, 0);
    QTest::newRow("deviceAddressEdit") << "deviceAddressEdit" << int(QSizePolicy::MinimumExpanding)
                                       << int(QSizePolicy::Fixed) << QSize(150, 0);
    QTest::newRow("FullTimeoutEdit") << "FullTimeoutEdit" << int(QSizePolicy::Expanding) << int(QSizePolicy::Fixed)
                                     << QSize(100, 0);
    for (const char *group : {"groupBox", "groupBox_2", "groupBox_3", "groupBox_4", "groupBox_5", "groupBox_6",
                              "groupBox_7", "groupBox_8", "groupBox_9", "groupBox_reset"})
        QTest::newRow(group) << group << int(QSizePolicy::Preferred) << int(QSizePolicy::Fixed) << QSize(0, 0);
}

void TestForm::sizeRules()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    QFETCH(QSize, minimum);

    MainWindow window;
    QWidget *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    const QSizePolicy policy = widget->sizePolicy();
    QCOMPARE(int(policy.horizontalPolicy()), horizontal);
    QCOMPARE(int(policy.verticalPolicy()), vertical);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);
    QCOMPARE(widget->minimumSize(), minimum);
}

void TestForm::tabChain()
{
    const QStringList chain = {
        "comboBoxPort", "deviceAddressEdit", "pushButtonRead", "pushButtonWrite", "FullTimeoutEdit",
        "CommandTimeoutEdit", "RetryTimeoutEdit", "pushButton", "ServerTokenEdit", "pushButton_2",
        "IPsrvEdit", "URLaddrEdit", "PortEdit", "pushButton_3", "APNEdit", "LoginEdit", "PasswordEdit",
        "BalanceCodeEdit", "pushButton_4", "EthMACEdit", "pushButton_5", "EthIPEdit", "EthMaskEdit",
        "GatewayEdit", "DNSaddrEdit", "UseDHCPcheckBox", "pushButton_6", "PriorityComboBox", "pushButton_7",
        "CashDeskIDEdit", "pushButton_8", "pushButton_loadDefault", "pushButton_saveDefault",
        "incrementMacCheckBox", "resetComboBox", "pushButton_reset"};
    QCOMPARE(chain.size(), 36);

    MainWindow window;
    for (int i = 0; i + 1 < chain.size(); ++i) {
        QWidget *from = window.findChild<QWidget *>(chain.at(i));
        QVERIFY2(from, qPrintable(chain.at(i)));
        // Widgets that never take focus (labels, group boxes) may sit between two links.
        QWidget *next = from->nextInFocusChain();
        while (next != from && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next->objectName(), chain.at(i + 1));
    }

    // Tab from the channel selector through the visible part of the chain, as the engineer would.
    QComboBox *ports = child<QComboBox>(window, "comboBoxPort");
    ports->setCurrentIndex(ports->count() - 1);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ports->setFocus();
    QStringList visited;
    for (int i = 0; i < 34; ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, chain.mid(0, 34));
    // The reset group is hidden, so the chain goes on past it (to the test buttons).
    QVERIFY(QApplication::focusWidget()->objectName().startsWith(QLatin1String("ButtonTest")));
}

void TestForm::windowFrame()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Конфигуратор БМКС"));
    QCOMPARE(window.size(), QSize(597, 829));
    QVERIFY(QFile::exists(QStringLiteral(":/velmora.ico")));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(!window.windowIcon().pixmap(32, 32).isNull());
    QVERIFY(window.statusBar() == child<QStatusBar>(window, "statusBar"));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
    QVERIFY(window.centralWidget() == child<QWidget>(window, "centralWidget"));
    QVERIFY(!window.findChild<QMenuBar *>());
    QVERIFY(!window.findChild<QToolBar *>());
}

// Answers every lookup made under the window's context and records which contexts were asked.
class RecordingTranslator : public QTranslator
{
public:
    QStringList contexts;
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        const_cast<RecordingTranslator *>(this)->contexts << QString::fromLatin1(context);
        if (qstrcmp(context, "MainWindow") == 0)
            return QStringLiteral("[") + QString::fromUtf8(sourceText) + QStringLiteral("]");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

void TestForm::captionsUseWindowContext()
{
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    {
        MainWindow window;
        QCOMPARE(child<QPushButton>(window, "pushButtonRead")->text(), QStringLiteral("[Прочитать всё]"));
        QCOMPARE(child<QGroupBox>(window, "groupBox_9")->title(), QStringLiteral("[Тесты]"));
        QCOMPARE(window.windowTitle(), QStringLiteral("[Конфигуратор БМКС]"));
    }
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(!translator.contexts.isEmpty());
    QVERIFY(!translator.contexts.contains(QStringLiteral("MainWindowForm")));
}

void TestForm::comboContents()
{
    MainWindow window;
    auto texts = [](QComboBox *box) {
        QStringList result;
        for (int i = 0; i < box->count(); ++i) {
            result << box->itemText(i);
            if (!box->itemIcon(i).isNull() || box->itemData(i).isValid())
                result.last() += QStringLiteral(" (icon or data)");
        }
        return result;
    };
    QCOMPARE(texts(child<QComboBox>(window, "PriorityComboBox")),
             QStringList({"GPRS", "Ethernet", "GPRS, Ethernet", "Ethernet, GPRS"}));
    QCOMPARE(texts(child<QComboBox>(window, "resetComboBox")),
             QStringList({"Полный", "Журнал", "Z-отчеты", "Настройки", "Первая команда буфера",
                          "Весь буфер команд"}));

    QStringList ports;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        ports << port.portName();
    ports << QStringLiteral("Ethernet");
    QCOMPARE(texts(child<QComboBox>(window, "comboBoxPort")), ports);

    // A second load of the defaults must not add items.
    QMetaObject::invokeMethod(&window, "loadDefault");
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->count(), 4);
    QCOMPARE(child<QComboBox>(window, "resetComboBox")->count(), 6);
    QCOMPARE(child<QComboBox>(window, "comboBoxPort")->count(), ports.size());
}

void TestForm::resetGroupHidden()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QGroupBox *group = child<QGroupBox>(window, "groupBox_reset");
    QVERIFY(group);
    QVERIFY(!group->isVisible());
    QVERIFY(child<QGroupBox>(window, "groupBox_9")->isVisible());
    QCOMPARE(child<QComboBox>(window, "resetComboBox")->count(), 6);
    QVERIFY(child<QPushButton>(window, "pushButton_reset")->isEnabled());
}

void TestForm::slotOrder()
{
    MainWindow window;
    const QMetaObject *meta = window.metaObject();
    QCOMPARE(QString::fromLatin1(meta->className()), QStringLiteral("MainWindow"));
    QVERIFY(window.qt_metacast("MainWindow") == &window);
    QVERIFY(window.qt_metacast(nullptr) == nullptr);
    QVERIFY(window.qt_metacast("QMainWindow") != nullptr);

    const QStringList expected = {
        "ReadData()", "WriteData()", "WriteTimeouts()", "WriteToken()", "WriteServerAddr()",
        "WriteEthernetSettingsSet()", "WriteGPRSSettings()", "WriteMAC()", "WriteChannelPriority()",
        "WriteCashDeskId()", "reset()", "onDataChannelChanged(int)", "testBMKS()", "testModem()",
        "testServerConnection()", "testSignalLevel()", "loadDefault()", "saveDefault()"};
    QCOMPARE(meta->methodCount() - meta->methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(QString::fromLatin1(method.methodSignature()), expected.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
    }
}

void TestForm::eachButtonRunsItsSlotOnce_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");       // empty: the write side's own first complaint
    QTest::addColumn<QRect>("room");            // the screen's available area; none: not shown

    const QString noChannel = QStringLiteral("Не выбран канал связи");
    QTest::newRow("pushButtonRead") << "pushButtonRead" << noChannel << QRect();
    QTest::newRow("ButtonTestModem") << "ButtonTestModem" << noChannel << QRect();
    QTest::newRow("ButtonTestBMKS") << "ButtonTestBMKS" << noChannel << QRect();
    QTest::newRow("ButtonTestServer") << "ButtonTestServer" << noChannel << QRect();
    QTest::newRow("ButtonTestSignalLevel") << "ButtonTestSignalLevel" << noChannel << QRect();
    QTest::newRow("pushButton_reset") << "pushButton_reset" << QStringLiteral("Не корректный параметр для сброса")
                                      << QRect();
    for (const char *write : {"pushButtonWrite", "pushButton", "pushButton_2", "pushButton_3", "pushButton_4",
                              "pushButton_5", "pushButton_6", "pushButton_7", "pushButton_8"})
        QTest::newRow(write) << write << QString() << QRect();

    // A 1366x768 laptop under its taskbar, a screen narrower than the form too, and a large one
    // that holds the whole form: the buttons at the form's foot and «Записать всё» at its head,
    // each scrolled into view where the screen is small and clicked with the mouse.
    const struct { const char *name; QRect room; } screens[] = {
        {"laptop", QRect(0, 0, 1366, 728)},
        {"narrow", QRect(100, 50, 480, 360)},
        {"large", QRect(0, 0, 1920, 1040)},
    };
    for (const auto &screen : screens) {
        for (const char *button : {"ButtonTestModem", "ButtonTestBMKS", "ButtonTestServer", "ButtonTestSignalLevel"})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(button, screen.name)))
                << button << noChannel << screen.room;
        for (const char *write : {"pushButton_4", "pushButtonWrite"})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(write, screen.name)))
                << write << QString() << screen.room;
    }
}

void TestForm::eachButtonRunsItsSlotOnce()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    QFETCH(QRect, room);

    // No channel selected and an empty form: every slot stops at its first check with one box.
    // On a screen, the form is whole but for the ККМ ID at its foot, which «Записать всё» at its
    // head then points to.
    auto prepare = [&room](MainWindow &window) {
        if (room.isNull()) {
            for (QLineEdit *edit : window.findChildren<QLineEdit *>())
                edit->clear();
            child<QComboBox>(window, "PriorityComboBox")->setCurrentIndex(-1);
        } else {
            WriteForm::setFields(window, WriteForm::validForm());
            child<QLineEdit>(window, "CashDeskIDEdit")->clear();
        }
        child<QComboBox>(window, "comboBoxPort")->setCurrentIndex(-1);
        child<QComboBox>(window, "resetComboBox")->setCurrentIndex(-1);
    };
    WindowOnScreen window(room);
    QPushButton *pushed = window.findChild<QPushButton *>(button);
    QVERIFY(pushed);
    prepare(window);

    MessageBoxCatcher catcher;
    if (room.isNull()) {
        pushed->click();
    } else {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(room.contains(window.frameGeometry()), qPrintable(QStringLiteral("%1x%2 at %3,%4")
            .arg(window.width()).arg(window.height()).arg(window.x()).arg(window.y())));
        // What the window is today: shown where no screen is known, which leaves it as it was.
        WindowOnScreen today{QRect()};
        prepare(today);
        today.show();
        QVERIFY(QTest::qWaitForWindowExposed(&today));
        auto *scroller = window.findChild<QScrollArea *>();
        if (room.width() >= today.width() && room.height() >= today.height()) {
            QVERIFY(!scroller);
            QCOMPARE(window.size(), today.size());
            QVERIFY(window.centralWidget() == child<QWidget>(window, "centralWidget"));
            for (QWidget *shown : {static_cast<QWidget *>(&window), static_cast<QWidget *>(&today)}) {
                if (shown->focusWidget())
                    shown->focusWidget()->clearFocus();
            }
            QCOMPARE(window.grab().toImage(), today.grab().toImage());
        } else {
            QVERIFY(scroller);
            scroller->ensureWidgetVisible(pushed, 0, 0);
        }
        const QPoint centre = pushed->mapTo(&window, pushed->rect().center());
        QVERIFY(window.rect().contains(centre));
        QVERIFY(window.childAt(centre) == pushed);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
        // The field «Записать всё» points the engineer to is brought into view.
        if (button == QLatin1String("pushButtonWrite")) {
            QWidget *field = child<QWidget>(window, "CashDeskIDEdit");
            QVERIFY(window.focusWidget() == field);
            const QPoint middle = field->mapTo(&window, field->rect().center());
            QVERIFY(window.rect().contains(middle));
            QVERIFY(window.childAt(middle) == field);
        }
    }
    QCOMPARE(catcher.boxes().size(), 1);
    QCOMPARE(catcher.boxes().first().icon, QMessageBox::Critical);
    QCOMPARE(catcher.boxes().first().title, QStringLiteral("Ошибка"));
    if (!message.isEmpty())
        QCOMPARE(catcher.boxes().first().text, message);
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestForm::defaultsButtons()
{
    MainWindow window;
    MessageBoxCatcher catcher;
    child<QLineEdit>(window, "APNEdit")->setText(QStringLiteral("internet"));
    child<QPushButton>(window, "pushButton_saveDefault")->click();
    QVERIFY(QFile::exists(QStringLiteral("tallyconf.ini")));

    child<QLineEdit>(window, "APNEdit")->setText(QStringLiteral("changed"));
    child<QPushButton>(window, "pushButton_loadDefault")->click();
    QCOMPARE(child<QLineEdit>(window, "APNEdit")->text(), QStringLiteral("internet"));
    QCOMPARE(catcher.boxes().size(), 0);
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestForm::addressRowFollowsChannel()
{
    MainWindow window;
    QComboBox *ports = child<QComboBox>(window, "comboBoxPort");
    auto rowState = [&window]() {
        const bool label = child<QLabel>(window, "deviceAddressLabel")->isEnabled();
        const bool edit = child<QLineEdit>(window, "deviceAddressEdit")->isEnabled();
        const bool layout = child<QLayout>(window, "addrLayout")->isEnabled();
        return QVector<bool>{label, edit, layout};
    };
    const QVector<bool> on{true, true, true};
    const QVector<bool> off{false, false, false};

    ports->setCurrentIndex(ports->count() - 1);
    QCOMPARE(rowState(), on);
    ports->setCurrentIndex(-1);
    QCOMPARE(rowState(), off);
    ports->setCurrentIndex(ports->count() - 1);
    QCOMPARE(rowState(), on);

    if (ports->count() < 2)
        QSKIP("this machine lists no serial port");
    ports->setCurrentIndex(0);
    QCOMPARE(rowState(), off);
    ports->setCurrentIndex(ports->count() - 1);
    QCOMPARE(rowState(), on);
}

void TestForm::addressRowAtStartup_data()
{
    QTest::addColumn<QVariant>("stored");       // portNumber in the file; "last" is the network
    QTest::addColumn<bool>("needsSerialPort");

    QTest::newRow("no file") << QVariant() << false;
    QTest::newRow("stored -1") << QVariant(-1) << false;
    QTest::newRow("network") << QVariant(QStringLiteral("last")) << false;
    QTest::newRow("first serial port") << QVariant(0) << true;
    QTest::newRow("out of range") << QVariant(1000) << false;
}

void TestForm::addressRowAtStartup()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, needsSerialPort);

    const int entries = QSerialPortInfo::availablePorts().size() + 1;
    if (needsSerialPort && entries < 2)
        QSKIP("this machine lists no serial port");
    if (stored.toString() == QLatin1String("last"))
        stored = entries - 1;
    storePortNumber(stored);

    MainWindow window;
    QComboBox *ports = child<QComboBox>(window, "comboBoxPort");
    const bool network = ports->currentIndex() == ports->count() - 1;
    QCOMPARE(child<QLabel>(window, "deviceAddressLabel")->isEnabled(), network);
    QCOMPARE(child<QLineEdit>(window, "deviceAddressEdit")->isEnabled(), network);
    QCOMPARE(child<QLayout>(window, "addrLayout")->isEnabled(), network);
    if (stored.isValid() && stored.toInt() >= 0 && stored.toInt() < entries)
        QCOMPARE(ports->currentIndex(), stored.toInt());
    else
        QCOMPARE(ports->currentIndex(), -1);
}

void TestForm::channelByName_data()
{
    QTest::addColumn<QByteArray>("file");       // tallyconf.ini as saved
    QTest::addColumn<QStringList>("ports");     // the serial ports listed now, before "Ethernet"
    QTest::addColumn<QString>("chosen");        // the entry the defaults select; empty: none

    QTest::newRow("Ethernet saved, a port plugged in since")
        << QByteArray("portNumber=0\nportName=Ethernet\n") << QStringList{"COM3"} << "Ethernet";
    QTest::newRow("a port saved, another listed before it since")
        << QByteArray("portNumber=0\nportName=ttyUSB1\n") << QStringList{"ttyUSB0", "ttyUSB1"} << "ttyUSB1";
    QTest::newRow("names differ in letter case only")
        << QByteArray("portNumber=0\nportName=com4\n") << QStringList{"COM3", "COM4"} << "COM3";
    QTest::newRow("the port saved is gone: by position")
        << QByteArray("portNumber=1\nportName=ttyUSB9\n") << QStringList{"ttyUSB0", "ttyUSB1"} << "ttyUSB1";
    QTest::newRow("no name saved: by position") << QByteArray("portNumber=0\n") << QStringList{"COM3"} << "COM3";
    QTest::newRow("nothing chosen when saved") << QByteArray("portNumber=-1\nportName=\n") << QStringList{"COM3"}
                                               << QString();
}

// The channel saved comes back whatever ports were plugged in or out since; the list the window
// found at start stands in for what a restart would find.
void TestForm::channelByName()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, ports);
    QFETCH(QString, chosen);

    MainWindow window;
    QComboBox *entries = child<QComboBox>(window, "comboBoxPort");
    entries->clear();
    entries->addItems(ports + QStringList{QStringLiteral("Ethernet")});
    QFile ini(QStringLiteral("tallyconf.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\n" + file);
    ini.close();
    QVERIFY(QMetaObject::invokeMethod(&window, "loadDefault"));
    QCOMPARE(entries->currentText(), chosen);
    QCOMPARE(child<QLineEdit>(window, "deviceAddressEdit")->isEnabled(), chosen == QLatin1String("Ethernet"));

    // Saved again, the file names what is chosen, and still gives its position.
    QVERIFY(QMetaObject::invokeMethod(&window, "saveDefault"));
    QSettings saved(QStringLiteral("tallyconf.ini"), QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("portName")).toString(), chosen);
    QCOMPARE(saved.value(QStringLiteral("portNumber")).toInt(), entries->currentIndex());
}

void TestForm::onlyNetworkWithoutPorts()
{
    if (!QSerialPortInfo::availablePorts().isEmpty())
        QSKIP("this machine lists serial ports");
    storePortNumber(0);
    MainWindow window;
    QComboBox *ports = child<QComboBox>(window, "comboBoxPort");
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->itemText(0), QStringLiteral("Ethernet"));
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(child<QLineEdit>(window, "deviceAddressEdit")->isEnabled());
}

TALLY_TEST_MAIN(TestForm)
#include "tst_form.moc"
