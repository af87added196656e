#include "mainwindow.h"
#include "messageboxcatcher.h"
#include "testmain.h"
#include "testplatform.h"
#include "widgetlookup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSettings>

// The defaults file tallyconf.ini: what a save writes, what a load makes of it.
class TestDefaults : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstStartWithoutFile();
    void saveThenLoadRestoresEveryField();
    void savedFileContents();
    void storedTextsShown_data();
    void storedTextsShown();
    void priority_data();
    void priority();
    void channel_data();
    void channel();
    void booleanTexts_data();
    void booleanTexts();
    void unknownKeysSurviveSave();
    void fileLivesInWorkingDirectory();
    void handEditedFileIsReadAfresh();
    void loadTouchesNoUnitAndShowsNothing();
    void travellingFileLoads_data();
    void travellingFileLoads();
    void travellingFileSavedAsQt5WritesIt();
    void travellingFileLoadedAndSavedUnchanged_data();
    void travellingFileLoadedAndSavedUnchanged();
};

static const char *const fileName = "tallyconf.ini";

// The file as an engineer would write it with an editor.
static void writeFile(const QByteArray &contents)
{
    QFile file(QString::fromLatin1(fileName));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

static QByteArray readFile()
{
    QFile file(QString::fromLatin1(fileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static void load(MainWindow &window)
{
    QMetaObject::invokeMethod(&window, "loadDefault");
}

static void save(MainWindow &window)
{
    QMetaObject::invokeMethod(&window, "saveDefault");
}

// The texts of tests/data/tallyconf-qt5.ini, the file as the Qt 5 build saves them: Cyrillic
// in every text field, with the characters the INI format quotes or escapes, hex digits right
// after Cyrillic letters, spaces at both ends and an empty value.
static const struct { const char *edit, *text; } travellingTexts[] = {
    {"FullTimeoutEdit", "пять"},
    {"CommandTimeoutEdit", ""},
    {"RetryTimeoutEdit", " два "},
    {"ServerTokenEdit", "токен,1"},
    {"IPsrvEdit", "адрес;сервера"},
    {"URLaddrEdit", "сервер.пример.рф/путь?а=\"1\""},
    {"PortEdit", "порт"},
    {"APNEdit", "интернет"},
    {"LoginEdit", "Пользователь"},
    {"PasswordEdit", "пароль\\с \"кавычками\""},
    {"BalanceCodeEdit", "*100# баланс"},
    {"EthMACEdit", "мак-адрес"},
    {"EthIPEdit", "адрес в сети"},
    {"EthMaskEdit", "маскаg"},
    {"GatewayEdit", "шлюзAB"},
    {"DNSaddrEdit", "днс ёЁ №"},
    {"CashDeskIDEdit", "ккм№1"},
    {"deviceAddressEdit", "блок-7.местный"},
};

static QByteArray travellingFile(const QString &name = QStringLiteral("tallyconf-qt5.ini"))
{
    QFile file(QFINDTESTDATA(QStringLiteral("data/") + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static int channelEntries()
{
    return QSerialPortInfo::availablePorts().size() + 1;
}

void TestDefaults::init()
{
    QFile::remove(QString::fromLatin1(fileName));
}

void TestDefaults::firstStartWithoutFile()
{
    {
        MainWindow window;
        for (QLineEdit *edit : window.findChildren<QLineEdit *>()) {
            if (edit->objectName() == QLatin1String("deviceAddressEdit"))
                QCOMPARE(edit->text(), QStringLiteral("192.168.0.100"));
            else
                QVERIFY2(edit->text().isEmpty(), qPrintable(edit->objectName()));
        }
        QVERIFY(!child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked());
        QVERIFY(!child<QCheckBox>(window, "incrementMacCheckBox")->isChecked());
        QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentText(), QStringLiteral("GPRS"));
        QCOMPARE(child<QComboBox>(window, "comboBoxPort")->currentIndex(), -1);
        QCOMPARE(child<QComboBox>(window, "resetComboBox")->currentIndex(), -1);
        QVERIFY(!child<QLineEdit>(window, "deviceAddressEdit")->isEnabled());
        QVERIFY(!child<QLabel>(window, "deviceAddressLabel")->isEnabled());
    }
    // Starting and closing the window writes nothing.
    QVERIFY(!QFile::exists(QString::fromLatin1(fileName)));
}

void TestDefaults::saveThenLoadRestoresEveryField()
{
    const int network = channelEntries() - 1;
    const struct { const char *edit, *value; } texts[] = {
        {"FullTimeoutEdit", "1000"}, {"CommandTimeoutEdit", "500"}, {"RetryTimeoutEdit", "60"},
        {"ServerTokenEdit", "0987654321"}, {"IPsrvEdit", "10.0.0.1"}, {"URLaddrEdit", "сервер.пример.рф/путь"},
        {"PortEdit", "65535"}, {"APNEdit", "internet"}, {"LoginEdit", "пользователь"},
        {"PasswordEdit", "p=a;s#s \"w\" [x]"}, {"BalanceCodeEdit", "*100#"}, {"EthMACEdit", "00-1a-2b-3c-4d-5e"},
        {"EthIPEdit", "192.168.1.20"}, {"EthMaskEdit", "255.255.255.0"}, {"GatewayEdit", "192.168.1.1"},
        {"DNSaddrEdit", "8.8.4.4"}, {"CashDeskIDEdit", "0000000123"}, {"deviceAddressEdit", "127.0.0.9"},
    };
    {
        MainWindow window;
        for (const auto &row : texts)
            child<QLineEdit>(window, row.edit)->setText(QString::fromUtf8(row.value));
        child<QCheckBox>(window, "UseDHCPcheckBox")->setChecked(true);
        child<QCheckBox>(window, "incrementMacCheckBox")->setChecked(true);
        child<QComboBox>(window, "PriorityComboBox")->setCurrentIndex(2);
        child<QComboBox>(window, "comboBoxPort")->setCurrentIndex(network);
        save(window);
        // Saving leaves the form as it was.
        QCOMPARE(text(window, "ServerTokenEdit"), QStringLiteral("0987654321"));
    }

    MainWindow window;
    for (const auto &row : texts)
        QCOMPARE(text(window, row.edit), QString::fromUtf8(row.value));
    QVERIFY(child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked());
    QVERIFY(child<QCheckBox>(window, "incrementMacCheckBox")->isChecked());
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentIndex(), 2);
    QCOMPARE(child<QComboBox>(window, "comboBoxPort")->currentIndex(), network);
    QVERIFY(child<QLineEdit>(window, "deviceAddressEdit")->isEnabled());

    // The reset kind is never stored, and a load clears the choice.
    child<QComboBox>(window, "resetComboBox")->setCurrentIndex(3);
    child<QLineEdit>(window, "APNEdit")->setText(QStringLiteral("other"));
    load(window);
    QCOMPARE(child<QComboBox>(window, "resetComboBox")->currentIndex(), -1);
    QCOMPARE(text(window, "APNEdit"), QStringLiteral("internet"));
}

void TestDefaults::savedFileContents()
{
    MainWindow window;
    child<QLineEdit>(window, "FullTimeoutEdit")->setText(QStringLiteral("1000"));
    child<QCheckBox>(window, "UseDHCPcheckBox")->setChecked(true);
    child<QComboBox>(window, "PriorityComboBox")->setCurrentIndex(-1);
    child<QComboBox>(window, "comboBoxPort")->setCurrentIndex(-1);
    save(window);

    const QByteArray contents = readFile();
    QVERIFY(contents.startsWith("[General]"));
    QVERIFY(contents.contains(iniLines("\nFullTimeout=1000\n")));
    QVERIFY(contents.contains(iniLines("\nUseDHCP=true\n")));
    QVERIFY(contents.contains(iniLines("\nIncrementMac=false\n")));
    QVERIFY(contents.contains(iniLines("\nPriority=-1\n")));
    // Qt for Windows writes the two in the other order.
    QVERIFY(contents.contains(iniLines("\nportName=\n")));
    QVERIFY(contents.contains(iniLines("\nportNumber=-1\n")));
    QVERIFY(contents.contains(iniLines("\ndeviceAddress=192.168.0.100\n")));

    QSettings file(QString::fromLatin1(fileName), QSettings::IniFormat);
    QStringList keys = file.allKeys();
    keys.sort();
    QStringList expected = {"FullTimeout", "CommandTimeout", "RetryTimeout", "ServerToken", "IPsrv", "URLaddr",
                            "Port", "APN", "Login", "Password", "BalanceCode", "EthMAC", "EthIP", "EthMask",
                            "Gateway", "DNSaddr", "UseDHCP", "Priority", "CashDeskID", "IncrementMac",
                            "portNumber", "portName", "deviceAddress"};
    expected.sort();
    QCOMPARE(keys, expected);

    // A priority saved without a selection comes back as the first entry.
    load(window);
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentText(), QStringLiteral("GPRS"));
}

// A file with one key's line, as an editor leaves it.
static QByteArray keyLine(const char *key, const QByteArray &value)
{
    return "[General]\n" + QByteArray(key) + '=' + value + '\n';
}

void TestDefaults::storedTextsShown_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("shown");

    QTest::newRow("FullTimeout") << keyLine("FullTimeout", "123456") << "FullTimeoutEdit" << "12345";
    QTest::newRow("CommandTimeout") << keyLine("CommandTimeout", "999999") << "CommandTimeoutEdit" << "99999";
    QTest::newRow("RetryTimeout") << keyLine("RetryTimeout", "1234567") << "RetryTimeoutEdit" << "12345";
    QTest::newRow("ServerToken") << keyLine("ServerToken", "12345678901") << "ServerTokenEdit" << "1234567890";
    QTest::newRow("IPsrv") << keyLine("IPsrv", "192.168.100.100.1") << "IPsrvEdit" << "192.168.100.100.";
    QTest::newRow("Port") << keyLine("Port", "123456") << "PortEdit" << "12345";
    QTest::newRow("EthMAC") << keyLine("EthMAC", "00-1a-2b-3c-4d-5e-6f") << "EthMACEdit" << "00-1a-2b-3c-4d-5e";
    QTest::newRow("CashDeskID") << keyLine("CashDeskID", "000000012345") << "CashDeskIDEdit" << "0000000123";
    QTest::newRow("APN") << keyLine("APN", QByteArray(40, 'a')) << "APNEdit" << QString(32, QLatin1Char('a'));
    QTest::newRow("BalanceCode") << keyLine("BalanceCode", QByteArray(33, '5')) << "BalanceCodeEdit"
                                 << QString(32, QLatin1Char('5'));
    QTest::newRow("URLaddr") << keyLine("URLaddr", QByteArray(130, 'u')) << "URLaddrEdit"
                             << QString(128, QLatin1Char('u'));
    QTest::newRow("deviceAddress") << keyLine("deviceAddress", QByteArray(300, 'h')) << "deviceAddressEdit"
                                   << QString(256, QLatin1Char('h'));

    // Saved by a text editor rather than by Qt: the same texts on both builds.
    QTest::newRow("raw UTF-8") << keyLine("APN", "интернет") << "APNEdit" << QStringLiteral("интернет");
    QTest::newRow("raw UTF-8, cut") << keyLine("Login", QByteArray("ж").repeated(40)) << "LoginEdit"
                                    << QStringLiteral("ж").repeated(32);
    QTest::newRow("byte order mark and CR LF") << QByteArray("\xEF\xBB\xBFPassword=пароль\r\nAPN=x\r\n")
                                               << "PasswordEdit" << QStringLiteral("пароль");
    // Not UTF-8 (an old editor's Windows-1251): shown as each build has always shown it.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString windows1251 = QStringLiteral("ab") + QChar(0xFFFD) + QStringLiteral(" c");
#else
    const QString windows1251 = QStringLiteral("ab\u00e8 c");
#endif
    QTest::newRow("Windows-1251") << keyLine("APN", "ab\xE8 c") << "APNEdit" << windows1251;
}

void TestDefaults::storedTextsShown()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, edit);
    QFETCH(QString, shown);

    writeFile(file);
    MainWindow window;
    QCOMPARE(window.findChild<QLineEdit *>(edit)->text(), shown);
}

void TestDefaults::priority_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("index");

    QTest::newRow("absent") << QByteArray() << 0;
    QTest::newRow("0") << QByteArray("Priority=0") << 0;
    QTest::newRow("3") << QByteArray("Priority=3") << 3;
    QTest::newRow("4: past the list") << QByteArray("Priority=4") << -1;
    QTest::newRow("255") << QByteArray("Priority=255") << -1;
    QTest::newRow("-1 reads as unsigned 0") << QByteArray("Priority=-1") << 0;
    QTest::newRow("not a number") << QByteArray("Priority=Ethernet") << 0;
    QTest::newRow("empty") << QByteArray("Priority=") << 0;
    QTest::newRow("huge") << QByteArray("Priority=4294967295") << -1;
}

void TestDefaults::priority()
{
    QFETCH(QByteArray, line);
    QFETCH(int, index);

    writeFile("[General]\n" + line + '\n');
    MainWindow window;
    QComboBox *priority = child<QComboBox>(window, "PriorityComboBox");
    QCOMPARE(priority->currentIndex(), index);
    QCOMPARE(priority->count(), 4);
}

void TestDefaults::channel_data()
{
    QTest::addColumn<QByteArray>("line");      // %last% and %count% stand for the machine's entries
    QTest::addColumn<QString>("expected");     // "-1", "0" or "last"

    QTest::newRow("absent") << QByteArray() << "-1";
    QTest::newRow("-1") << QByteArray("portNumber=-1") << "-1";
    QTest::newRow("-5") << QByteArray("portNumber=-5") << "-1";
    QTest::newRow("first entry") << QByteArray("portNumber=0") << "0";
    QTest::newRow("network entry") << QByteArray("portNumber=%last%") << "last";
    QTest::newRow("one past the list") << QByteArray("portNumber=%count%") << "-1";
    QTest::newRow("far past the list") << QByteArray("portNumber=64") << "-1";
    QTest::newRow("not a number") << QByteArray("portNumber=COM3") << "0";
}

void TestDefaults::channel()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);

    const int entries = channelEntries();
    line.replace("%last%", QByteArray::number(entries - 1)).replace("%count%", QByteArray::number(entries));
    writeFile("[General]\n" + line + '\n');

    MainWindow window;
    const int index = expected == QLatin1String("last") ? entries - 1 : expected.toInt();
    QComboBox *ports = child<QComboBox>(window, "comboBoxPort");
    QCOMPARE(ports->currentIndex(), index);
    QCOMPARE(child<QLineEdit>(window, "deviceAddressEdit")->isEnabled(), index == entries - 1);
}

void TestDefaults::booleanTexts_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("checked");

    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("FALSE") << QByteArray("FALSE") << false;
    QTest::newRow("False") << QByteArray("False") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("no") << QByteArray("no") << true;
    QTest::newRow("off") << QByteArray("off") << true;
    QTest::newRow("00") << QByteArray("00") << true;
}

void TestDefaults::booleanTexts()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, checked);

    writeFile("[General]\nUseDHCP=" + value + "\nIncrementMac=" + value + '\n');
    MainWindow window;
    QCOMPARE(child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked(), checked);
    QCOMPARE(child<QCheckBox>(window, "incrementMacCheckBox")->isChecked(), checked);
}

void TestDefaults::unknownKeysSurviveSave()
{
    writeFile("[General]\nComment=kept\nFullTimeout=1\n\n[Other]\nx=1\n");
    MainWindow window;
    child<QLineEdit>(window, "FullTimeoutEdit")->setText(QStringLiteral("2"));
    save(window);
    QSettings file(QString::fromLatin1(fileName), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Comment")).toString(), QStringLiteral("kept"));
    QCOMPARE(file.value(QStringLiteral("Other/x")).toString(), QStringLiteral("1"));
    QCOMPARE(file.value(QStringLiteral("FullTimeout")).toString(), QStringLiteral("2"));
}

void TestDefaults::fileLivesInWorkingDirectory()
{
    const QString home = QDir::currentPath();
    QTemporaryDir first, second;
    QVERIFY(first.isValid() && second.isValid());

    QVERIFY(QDir::setCurrent(first.path()));
    {
        MainWindow window;
        child<QLineEdit>(window, "LoginEdit")->setText(QStringLiteral("first"));
        save(window);
    }
    QVERIFY(QFile::exists(first.filePath(QString::fromLatin1(fileName))));

    QVERIFY(QDir::setCurrent(second.path()));
    {
        MainWindow window;
        QVERIFY(text(window, "LoginEdit").isEmpty());
    }
    QVERIFY(!QFile::exists(second.filePath(QString::fromLatin1(fileName))));
    QVERIFY(!QFile::exists(home + QLatin1Char('/') + QString::fromLatin1(fileName)));

    QVERIFY(QDir::setCurrent(first.path()));
    {
        MainWindow window;
        QCOMPARE(text(window, "LoginEdit"), QStringLiteral("first"));
    }
    QVERIFY(QDir::setCurrent(home));
}

void TestDefaults::handEditedFileIsReadAfresh()
{
    writeFile("[General]\nFullTimeout=1\nAPN=before\n");
    MainWindow window;
    QCOMPARE(text(window, "FullTimeoutEdit"), QStringLiteral("1"));

    // Edited in another program while the window stays open; the new text is longer, so the
    // change is visible even where file times are coarse.
    writeFile("[General]\nFullTimeout=30000\nAPN=after the edit\n");
    load(window);
    QCOMPARE(text(window, "FullTimeoutEdit"), QStringLiteral("30000"));
    QCOMPARE(text(window, "APNEdit"), QStringLiteral("after the edit"));

    // And after a save of its own, too.
    save(window);
    writeFile("[General]\nFullTimeout=7\n");
    load(window);
    QCOMPARE(text(window, "FullTimeoutEdit"), QStringLiteral("7"));
    QVERIFY(text(window, "APNEdit").isEmpty());
}

void TestDefaults::loadTouchesNoUnitAndShowsNothing()
{
    writeFile("[General]\nportNumber=0\n");
    MainWindow window;
    MessageBoxCatcher catcher;
    load(window);
    save(window);
    QCOMPARE(catcher.boxes().size(), 0);
    QVERIFY(!QGuiApplication::overrideCursor());
}

// The same texts in the file as Qt 5 saves it and, on both builds alike, as a text editor saves
// it: raw UTF-8 with CR LF line ends and a comment.
void TestDefaults::travellingFileLoads_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");
    for (const auto &row : travellingTexts)
        QTest::newRow(row.edit) << "tallyconf-qt5.ini" << QString::fromLatin1(row.edit) << QString::fromUtf8(row.text);
    for (const auto &row : travellingTexts)
        QTest::newRow(qPrintable(QStringLiteral("raw UTF-8: ") + QLatin1String(row.edit)))
            << "tallyconf-editor.ini" << QString::fromLatin1(row.edit) << QString::fromUtf8(row.text);
}

void TestDefaults::travellingFileLoads()
{
    QFETCH(QString, file);
    QFETCH(QString, edit);
    QFETCH(QString, text);

    const QByteArray golden = travellingFile(file);
    QVERIFY(!golden.isEmpty());
    writeFile(golden);
    MainWindow window;
    QCOMPARE(window.findChild<QLineEdit *>(edit)->text(), text);
    QVERIFY(child<QCheckBox>(window, "UseDHCPcheckBox")->isChecked());
    QVERIFY(child<QCheckBox>(window, "incrementMacCheckBox")->isChecked());
    QCOMPARE(child<QComboBox>(window, "PriorityComboBox")->currentIndex(), 3);
    // Loading writes nothing.
    QCOMPARE(readFile(), golden);
    if (file != QLatin1String("tallyconf-qt5.ini"))
        return;
    QSettings settings(QString::fromLatin1(fileName), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Comment")).toString(), QStringLiteral("оставить как есть"));
}

// Both builds write the same bytes, so each reads what the other saved.
void TestDefaults::travellingFileSavedAsQt5WritesIt()
{
#ifdef Q_OS_WIN
    QSKIP("on Windows Qt ends INI lines with CR LF and orders keys without regard to case");
#endif
    const QByteArray golden = travellingFile();
    QVERIFY(!golden.isEmpty());
    // Keys the program does not own, as Qt 5 escapes them.
    writeFile("[General]\nComment=\\x43e\\x441\\x442\\x430\\x432\\x438\\x442\\x44c \\x43a\\x430\\x43a "
              "\\x435\\x441\\x442\\x44c\n\n[Other]\nx=1\n");
    {
        MainWindow window;
        for (const auto &row : travellingTexts)
            child<QLineEdit>(window, row.edit)->setText(QString::fromUtf8(row.text));
        child<QCheckBox>(window, "UseDHCPcheckBox")->setChecked(true);
        child<QCheckBox>(window, "incrementMacCheckBox")->setChecked(true);
        child<QComboBox>(window, "PriorityComboBox")->setCurrentIndex(3);
        save(window);
    }
    QCOMPARE(readFile(), golden);
}

// A file saved by the window comes out as Qt 5 saves it; one from a text editor too, its
// Comment kept (a comment line is not a key and goes, as with every save).
void TestDefaults::travellingFileLoadedAndSavedUnchanged_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("as Qt 5 saves it") << "tallyconf-qt5.ini";
    QTest::newRow("raw UTF-8 from an editor") << "tallyconf-editor.ini";
}

void TestDefaults::travellingFileLoadedAndSavedUnchanged()
{
#ifdef Q_OS_WIN
    QSKIP("on Windows Qt ends INI lines with CR LF and orders keys without regard to case");
#endif
    QFETCH(QString, file);
    const QByteArray golden = travellingFile();
    QVERIFY(!golden.isEmpty());
    writeFile(travellingFile(file));
    {
        MainWindow window;
        save(window);
    }
    QCOMPARE(readFile(), golden);
}

TALLY_TEST_MAIN(TestDefaults)
#include "tst_defaults.moc"
