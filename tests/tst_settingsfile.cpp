// The settings file in Qt 5's form on either build: the rewrite of Qt 6's raw UTF-8 into Qt 5's
// escapes, checked against hand-written bytes and against what this Qt reads back; the one
// reading of a file both front ends share; one value changed with the rest of the file kept.
#include "settingsfile.h"
#include "testmain.h"
#include "testplatform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <future>
#include <thread>

// A file of this row's own, named so that any system takes the name (no ':' on Windows).
static QString rowFile(const char *stem)
{
    QString name = QString::fromLatin1(stem) + QString::fromLatin1(QTest::currentDataTag());
    for (QChar &c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    return name + QStringLiteral(".ini");
}

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void qt5Text_data();
    void qt5Text();
    void syncedAsQt5WritesIt_data();
    void syncedAsQt5WritesIt();
    void readAlikeOnBothBuilds_data();
    void readAlikeOnBothBuilds();
    void oneValueChanged_data();
    void oneValueChanged();
    void sharedWithAnotherProgram_data();
    void sharedWithAnotherProgram();
    void readAfreshEveryTime();
};

void TestSettingsFile::qt5Text_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("value");     // of the key K, as this Qt reads the rewritten file

    QTest::newRow("ASCII stays") << QByteArray("[General]\nK=a b\n") << QByteArray("[General]\nK=a b\n")
                                 << QStringLiteral("a b");
    QTest::newRow("hex digits after a letter")
        << QByteArray("K=я1aF\n") << QByteArray("K=\\x44f\\x31\\x61\\x46\n") << QStringLiteral("я1aF");
    QTest::newRow("other letters after a letter")
        << QByteArray("K=яg1\n") << QByteArray("K=\\x44fg1\n") << QStringLiteral("яg1");
    QTest::newRow("DEL") << QByteArray("K=\x7f" "1\n") << QByteArray("K=\\x7f\\x31\n")
                         << (QString(QChar(0x7f)) + QLatin1Char('1'));
    QTest::newRow("beyond 16 bits") << QByteArray("K=\xF0\x9F\x98\x80!\n")
                                    << QByteArray("K=\\xd83d\\xde00!\n")
                                    << QString::fromUtf8("\xF0\x9F\x98\x80!");
    QTest::newRow("escapes already there")
        << QByteArray("K=\\x1\\x31я\\\\\\\"\n") << QByteArray("K=\\x1\\x31\\x44f\\\\\\\"\n")
        << (QString(QChar(1)) + QStringLiteral("1я\\\""));
    QTest::newRow("quoted, with comma and spaces")
        << QByteArray("K=\" №,1 \"\n") << QByteArray("K=\" \\x2116,1 \"\n") << QStringLiteral(" №,1 ");
    QTest::newRow("comment stays, key and section in key escapes")
        << QByteArray(";ё1\n[General]\nключé=ё\nK=ё\n[Ящик]\n")
        << QByteArray(";ё1\n[General]\n%U043A%U043B%U044E%U0447%E9=\\x451\nK=\\x451\n[%U042F%U0449%U0438%U043A]\n")
        << QStringLiteral("ё");
    QTest::newRow("quotes keep a line going")
        << QByteArray("K=\"a\nя=1\"\n") << QByteArray("K=\"a\n\\x44f=1\"\n") << QStringLiteral("a\nя=1");
    QTest::newRow("CR LF") << QByteArray("[General]\r\nK=Ё\r\n") << QByteArray("[General]\r\nK=\\x401\r\n")
                           << QStringLiteral("Ё");
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF\nK=ж\n") << QByteArray("\xEF\xBB\xBF\nK=\\x436\n")
                                     << QStringLiteral("ж");
    QTest::newRow("not UTF-8 stays") << QByteArray("K=a\xC3(\n") << QByteArray("K=a\xC3(\n") << QString();
}

void TestSettingsFile::qt5Text()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, expected);
    QFETCH(QString, value);

    const QByteArray rewritten = qt5IniText(ini);
    QCOMPARE(rewritten, expected);
    QCOMPARE(qt5IniText(rewritten), rewritten);
    if (value.isNull())
        return;

    const QString path = rowFile("");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(rewritten);
    }
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("K")).toString(), value);
}

// The bytes Qt 5's INI writer produces for these values; syncSettings() must leave the same on
// either build.
void TestSettingsFile::syncedAsQt5WritesIt_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("before");     // the file before the save; none when empty

    const QString ya = QStringLiteral("я");
    QTest::newRow("control, letter, digit") << QVariant(QChar(1) + ya + QLatin1Char('1'))
                                            << QByteArray("k=\\x1\\x44f\\x31") << QByteArray();
    QTest::newRow("letter, control, digit") << QVariant(ya + QChar(1) + QLatin1Char('1'))
                                            << QByteArray("k=\\x44f\\x1\\x31") << QByteArray();
    QTest::newRow("DEL") << QVariant(QString(QChar(0x7f)) + QLatin1Char('a')) << QByteArray("k=\\x7f\\x61") << QByteArray();
    QTest::newRow("beyond 16 bits") << QVariant(QString::fromUtf8("\xF0\x9F\x98\x80" "b"))
                                    << QByteArray("k=\\xd83d\\xde00\\x62") << QByteArray();
    QTest::newRow("tab and newline") << QVariant(QStringLiteral("\tя\n")) << QByteArray("k=\\t\\x44f\\n") << QByteArray();
    QTest::newRow("list") << QVariant(QStringList{ya, QStringLiteral("1")}) << QByteArray("k=\\x44f, 1") << QByteArray();
    QTest::newRow("at sign") << QVariant(QStringLiteral("@я")) << QByteArray("k=@@\\x44f") << QByteArray();
    QTest::newRow("bytes") << QVariant(QByteArray("\xd1\x8f")) << QByteArray("k=@ByteArray(\\xd1\\x8f)") << QByteArray();
    QTest::newRow("Latin-1 upper half") << QVariant(QString::fromUtf8("\xc2\x80" "9\xc3\xbf"))
                                        << QByteArray("k=\\x80\\x39\\xff") << QByteArray();
    QTest::newRow("slash") << QVariant(QStringLiteral("Раздел/ключ"))
                           << QByteArray("k=\\x420\\x430\\x437\\x434\\x435\\x43b/\\x43a\\x43b\\x44e\\x447") << QByteArray();
    QTest::newRow("quotes for ; , and =") << QVariant(QStringLiteral("a=b;c\"d,e"))
                                          << QByteArray("k=\"a=b;c\\\"d,e\"") << QByteArray();
    QTest::newRow("spaces at the ends, backslash") << QVariant(QStringLiteral(" a\\b "))
                                                   << QByteArray("k=\" a\\\\b \"") << QByteArray();
    QTest::newRow("NUL before a digit") << QVariant(QString(QChar(0)) + QLatin1Char('7'))
                                        << QByteArray("k=@String(\\0\\x37)") << QByteArray();
    // A file edited by hand: the key this save does not set keeps its text, in Qt 5's form.
    QTest::newRow("raw UTF-8 and a byte order mark beside") << QVariant(QStringLiteral("x"))
        << QByteArray("Other=\\x44f\nk=x") << QByteArray("\xEF\xBB\xBFOther=\xD1\x8F\r\n");
}

void TestSettingsFile::syncedAsQt5WritesIt()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, line);

    QFETCH(QByteArray, before);

    // A fresh name for every row: QSettings keeps files it has read and trusts their size and time.
    const QString path = rowFile("synced-");
    QFile::remove(path);
    if (!before.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("k"), value);
        QVERIFY(syncSettings(settings));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), iniLines("[General]\n" + line + '\n'));
    QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    // The command line's check of a profile line compares with the same form.
    if (value.userType() == QMetaType::QString && before.isEmpty())
        QCOMPARE("k=" + iniValueText(value.toString()), line);
}

// Both front ends read a file through SettingsFile: raw UTF-8 as an editor saves it and Qt 5's
// escapes alike on both builds, the byte order mark and CR LF of a Windows editor too; a file that
// is not UTF-8 as each Qt has always read it. Beside Qt's reading, whether the line of K says what
// Qt reads.
void TestSettingsFile::readAlikeOnBothBuilds_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("value");         // of K
    QTest::addColumn<bool>("asWritten");
    QTest::addColumn<int>("nonUtf8Line");

    QTest::newRow("raw UTF-8") << QByteArray("[General]\nK=интернет\n") << QStringLiteral("интернет") << true << 0;
    QTest::newRow("Qt 5's escapes") << QByteArray("K=\\x438\\x43d\n") << QStringLiteral("ин") << true << 0;
    QTest::newRow("byte order mark and CR LF") << QByteArray("\xEF\xBB\xBFK=ж\r\nL=1\r\n") << QStringLiteral("ж")
                                               << true << 0;
    QTest::newRow("CR LF inside quotes reads as LF") << QByteArray("K=\"a\r\nb\"\r\n") << QStringLiteral("a\nb")
                                                     << false << 0;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString windows1251 = QStringLiteral("ab") + QChar(0xFFFD) + QStringLiteral("c");
#else
    const QString windows1251 = QStringLiteral("ab\u00e8c");
#endif
    QTest::newRow("Windows-1251, as this Qt reads it") << QByteArray("L=я\nK=ab\xE8" "c\n") << windows1251
                                                         << false << 2;
    QTest::newRow("; outside quotes") << QByteArray("K=a=b;c\"d\n") << QStringLiteral("a=b") << false << 0;
    QTest::newRow("comment after the value") << QByteArray("K=internet ; op\n") << QStringLiteral("internet")
                                             << false << 0;
    // The next line's \\ makes the value end in the very backslash its line ends in.
    QTest::newRow("backslash at the end goes on") << QByteArray("K=a\\\n\\\\\n") << QStringLiteral("a\\")
                                                  << false << 0;
    QTest::newRow("quoted as Qt writes it") << QByteArray("K=\"a=b;c\\\"d\"\n") << QStringLiteral("a=b;c\"d")
                                            << true << 0;
    QTest::newRow("upper-case escape, which Qt does not write") << QByteArray("K=\\x43B\n")
                                                                << QStringLiteral("л") << false << 0;
    QTest::newRow("comma makes a list") << QByteArray("K=a, b\n") << QString() << false << 0;
    QTest::newRow("typed value") << QByteArray("K=@ByteArray(xy)\n") << QStringLiteral("xy") << false << 0;
    QTest::newRow("doubled at sign") << QByteArray("K=@@x\n") << QStringLiteral("@x") << true << 0;
    QTest::newRow("the last of two lines") << QByteArray("K=1\nK=2 \n") << QStringLiteral("2") << true << 0;
    QTest::newRow("another section's K") << QByteArray("K=1\n[Shop]\nK=a;b\n") << QStringLiteral("1") << true << 0;
}

void TestSettingsFile::readAlikeOnBothBuilds()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, value);
    QFETCH(bool, asWritten);
    QFETCH(int, nonUtf8Line);

    const QString path = rowFile("read-");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }
    const SettingsFile file(path);
    QVERIFY(file.isReadable());
    QCOMPARE(file.bytes(), ini);
    QCOMPARE(file.settings().value(QStringLiteral("K")).toString(), value);
    QCOMPARE(file.readsAsWritten(QStringLiteral("K")), asWritten);
    QCOMPARE(file.nonUtf8Line(), nonUtf8Line);
}

// One key of the general section set, every other byte of the file as it was.
void TestSettingsFile::oneValueChanged_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("in place: BOM, CR LF, comments, blanks, other sections")
        << QByteArray("\xEF\xBB\xBF; shop 7\r\n[General]\r\nA=я\r\nEthMAC = 00-1a \r\nZ=2\r\n[Shop]\r\nEthMAC=x\r\n")
        << QByteArray("\xEF\xBB\xBF; shop 7\r\n[General]\r\nA=я\r\nEthMAC = 00-1a-2c \r\nZ=2\r\n[Shop]\r\nEthMAC=x\r\n");
    QTest::newRow("the last of two lines") << QByteArray("EthMAC=a\nEthMAC=b\n")
                                           << QByteArray("EthMAC=a\nEthMAC=00-1a-2c\n");
    QTest::newRow("added to the general section") << QByteArray("A=1\n\n[Shop]\nx=1\n")
                                                  << QByteArray("A=1\nEthMAC=00-1a-2c\n\n[Shop]\nx=1\n");
    QTest::newRow("added before the only section") << QByteArray("[Shop]\r\nx=1\r\n")
                                                   << QByteArray("EthMAC=00-1a-2c\r\n[Shop]\r\nx=1\r\n");
    QTest::newRow("added after a last line without line end") << QByteArray("A=1")
                                                              << QByteArray("A=1\nEthMAC=00-1a-2c");
}

void TestSettingsFile::oneValueChanged()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, expected);

    const QByteArray changed = withIniValue(ini, QStringLiteral("EthMAC"), "00-1a-2c");
    QCOMPARE(changed, expected);
    const QString path = rowFile("changed-");
    QVERIFY(saveIniBytes(path, changed));
    const SettingsFile file(path);
    QCOMPARE(file.bytes(), expected);
    QCOMPARE(file.settings().value(QStringLiteral("EthMAC")).toString(), QStringLiteral("00-1a-2c"));
}

void TestSettingsFile::sharedWithAnotherProgram_data()
{
    QTest::addColumn<bool>("alone");            // the other program lets nobody else open the file
    QTest::addColumn<int>("holdMs");            // how long it keeps the file open
    QTest::addColumn<bool>("done");             // this side's save (or, `alone`, its read) went through

    QTest::newRow("a look of 300 ms is waited for by a save") << false << 300 << true;
    QTest::newRow("a file kept open is not replaced, and that is told") << false << 3500 << false;
    QTest::newRow("a file being replaced for 300 ms is waited for by a read") << true << 300 << true;
    QTest::newRow("a file kept to itself is not read, and that is told") << true << 3000 << false;
}

// Stations that share a profile on Windows: one stores the next MAC while another takes a look
// at the file. Windows replaces no file that is open, and opens none while it is being replaced
// (a replace holds the file for itself, as the other program here does).
void TestSettingsFile::sharedWithAnotherProgram()
{
#ifndef Q_OS_WIN
    QSKIP("only Windows keeps a file that is open from being replaced, or being replaced from being opened");
#else
    QFETCH(bool, alone);
    QFETCH(int, holdMs);
    QFETCH(bool, done);
    const QString path = rowFile("held-");
    QVERIFY(saveIniBytes(path, "EthMAC=00-1a-2b\n"));
    const std::wstring native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
    std::promise<bool> opened;
    std::thread other([&] {
        const HANDLE handle = CreateFileW(native.c_str(), GENERIC_READ,
                                          alone ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        opened.set_value(handle != INVALID_HANDLE_VALUE);
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        CloseHandle(handle);
    });
    const bool open = opened.get_future().get();
    bool result = false;
    if (alone) {
        const SettingsFile file(path);
        result = file.isReadable() && file.settings().value(QStringLiteral("EthMAC")).toString() == "00-1a-2b";
    } else {
        result = saveIniBytes(path, "EthMAC=00-1a-2c\n");
    }
    other.join();
    QVERIFY(open);
    QCOMPARE(result, done);
    const bool saved = !alone && done;
    QCOMPARE(SettingsFile(path).bytes(), saved ? QByteArray("EthMAC=00-1a-2c\n") : QByteArray("EthMAC=00-1a-2b\n"));
#endif
}

// Another station stores the profile with the same size within the same tick of the clock: the
// next reading is of the bytes on disk, not of what was parsed before.
void TestSettingsFile::readAfreshEveryTime()
{
    const QString path = QStringLiteral("afresh.ini");
    QVERIFY(saveIniBytes(path, "EthMAC=00-1a-2b-3c-4d-5e\n"));
    QDateTime modified;
    {
        const SettingsFile first(path);
        QCOMPARE(first.settings().value(QStringLiteral("EthMAC")).toString(), QStringLiteral("00-1a-2b-3c-4d-5e"));
        modified = QFileInfo(path).lastModified();
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.write("EthMAC=00-1a-2b-3c-4d-5f\n") == 25 && file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    const SettingsFile second(path);
    QCOMPARE(second.settings().value(QStringLiteral("EthMAC")).toString(), QStringLiteral("00-1a-2b-3c-4d-5f"));
}

TALLY_TEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
