// The settings file in Qt 5's form on either build: the rewrite of Qt 6's raw UTF-8 into Qt 5's
// escapes, checked against hand-written bytes and against what this Qt reads back.
#include "settingsfile.h"
#include "testmain.h"
#include "testplatform.h"

#include <QFile>
#include <QSettings>

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void qt5Text_data();
    void qt5Text();
    void syncedAsQt5WritesIt_data();
    void syncedAsQt5WritesIt();
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
    QTest::newRow("section, key and comment stay")
        << QByteArray(";ё1\n[General]\nключ=ё\nK=ё\n") << QByteArray(";ё1\n[General]\nключ=\\x451\nK=\\x451\n")
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

    const QString path = QStringLiteral("%1.ini").arg(QString::fromLatin1(QTest::currentDataTag()));
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

    const QString ya = QStringLiteral("я");
    QTest::newRow("control, letter, digit") << QVariant(QChar(1) + ya + QLatin1Char('1'))
                                            << QByteArray("k=\\x1\\x44f\\x31");
    QTest::newRow("letter, control, digit") << QVariant(ya + QChar(1) + QLatin1Char('1'))
                                            << QByteArray("k=\\x44f\\x1\\x31");
    QTest::newRow("DEL") << QVariant(QString(QChar(0x7f)) + QLatin1Char('a')) << QByteArray("k=\\x7f\\x61");
    QTest::newRow("beyond 16 bits") << QVariant(QString::fromUtf8("\xF0\x9F\x98\x80" "b"))
                                    << QByteArray("k=\\xd83d\\xde00\\x62");
    QTest::newRow("tab and newline") << QVariant(QStringLiteral("\tя\n")) << QByteArray("k=\\t\\x44f\\n");
    QTest::newRow("list") << QVariant(QStringList{ya, QStringLiteral("1")}) << QByteArray("k=\\x44f, 1");
    QTest::newRow("at sign") << QVariant(QStringLiteral("@я")) << QByteArray("k=@@\\x44f");
    QTest::newRow("bytes") << QVariant(QByteArray("\xd1\x8f")) << QByteArray("k=@ByteArray(\\xd1\\x8f)");
    QTest::newRow("Latin-1 upper half") << QVariant(QString::fromUtf8("\xc2\x80" "9\xc3\xbf"))
                                        << QByteArray("k=\\x80\\x39\\xff");
    QTest::newRow("slash") << QVariant(QStringLiteral("Раздел/ключ"))
                           << QByteArray("k=\\x420\\x430\\x437\\x434\\x435\\x43b/\\x43a\\x43b\\x44e\\x447");
}

void TestSettingsFile::syncedAsQt5WritesIt()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, line);

    const QString path = QStringLiteral("synced.ini");
    QFile::remove(path);
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("k"), value);
        QVERIFY(syncSettings(settings));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), iniLines("[General]\n" + line + '\n'));
    QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
}

TALLY_TEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
