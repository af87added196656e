// Field texts <-> record bytes: the four conversions the form's read and write sides rely on.

#include "fieldtext.h"
#include "testmain.h"

#include <QByteArray>
#include <QObject>
#include <QtTest>

#include <cstring>

class TestFieldText : public QObject
{
    Q_OBJECT

private slots:
    void textToBcd_data();
    void textToBcd();
    void textToBcdShortDestination_data();
    void textToBcdShortDestination();
    void bcdToText_data();
    void bcdToText();
    void textToBytes_data();
    void textToBytes();
    void bytesToText_data();
    void bytesToText();
    void bcdRoundTrip_data();
    void bcdRoundTrip();
};

void TestFieldText::textToBcd_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("123") << "123" << true << QByteArray::fromHex("2301000000");
    QTest::newRow("largest 32-bit") << "4294967295" << true << QByteArray::fromHex("9572969442");
    QTest::newRow("zero") << "0" << true << QByteArray::fromHex("0000000000");
    QTest::newRow("two digits") << "12" << true << QByteArray::fromHex("1200000000");
    QTest::newRow("ten digits") << "1234567890" << true << QByteArray::fromHex("9078563412");
    QTest::newRow("leading zeros") << "0000000001" << true << QByteArray::fromHex("0100000000");
    // Five BCD bytes hold ten digits; a 32-bit detour must not cut these off.
    QTest::newRow("all nines") << "9999999999" << true << QByteArray::fromHex("9999999999");
    QTest::newRow("just above 32-bit") << "4294967296" << true << QByteArray::fromHex("9672969442");
    QTest::newRow("nine digits") << "987654321" << true << QByteArray::fromHex("2143658709");

    QTest::newRow("empty") << "" << false << QByteArray();
    QTest::newRow("plus sign") << "+12" << false << QByteArray();
    QTest::newRow("minus sign") << "-1" << false << QByteArray();
    QTest::newRow("inner space") << "1 2" << false << QByteArray();
    QTest::newRow("leading space") << " 12" << false << QByteArray();
    QTest::newRow("trailing space") << "12 " << false << QByteArray();
    QTest::newRow("letter") << "12a" << false << QByteArray();
    QTest::newRow("hex prefix") << "0x12" << false << QByteArray();
    QTest::newRow("eleven digits") << "12345678901" << false << QByteArray();
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("1\xd9\xa3") << false << QByteArray();
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\xef\xbc\x91" "2") << false << QByteArray();
}

void TestFieldText::textToBcd()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, bytes);

    // Stale bytes from an earlier value must not survive an accepted conversion.
    quint8 destination[5];
    std::memset(destination, 0xEE, sizeof destination);
    QCOMPARE(::textToBcd(text, destination, 5), accepted);
    if (accepted)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(destination), 5), bytes);
}

void TestFieldText::textToBcdShortDestination_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("fills both") << "1234" << true << QByteArray::fromHex("3412");
    QTest::newRow("one digit") << "7" << true << QByteArray::fromHex("0700");
    QTest::newRow("one digit too many") << "12345" << false << QByteArray();
}

void TestFieldText::textToBcdShortDestination()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, bytes);

    // A guard byte behind the two-byte destination shows any write past its end.
    quint8 buffer[3] = {0xEE, 0xEE, 0xA5};
    QCOMPARE(::textToBcd(text, buffer, 2), accepted);
    if (accepted)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer), 2), bytes);
    QCOMPARE(buffer[2], quint8(0xA5));
}

void TestFieldText::bcdToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("123") << QByteArray::fromHex("2301000000") << "0000000123";
    QTest::newRow("largest 32-bit") << QByteArray::fromHex("9572969442") << "4294967295";
    QTest::newRow("zero") << QByteArray::fromHex("0000000000") << "0000000000";
    QTest::newRow("all nines") << QByteArray::fromHex("9999999999") << "9999999999";
    QTest::newRow("ten digits") << QByteArray::fromHex("9078563412") << "1234567890";
    // A unit holding a nibble above 9 shows it as the character after '9'.
    QTest::newRow("nibble A") << QByteArray::fromHex("0a00000000") << "000000000:";
    QTest::newRow("nibble F") << QByteArray::fromHex("f000000000") << "00000000?0";
    QTest::newRow("two bytes") << QByteArray::fromHex("3412") << "1234";
}

void TestFieldText::bcdToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QCOMPARE(::bcdToText(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size()), text);
}

void TestFieldText::textToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("base");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("bytes");

    const QChar dot = QLatin1Char('.');
    const QChar dash = QLatin1Char('-');

    QTest::newRow("ip 192.168.0.1") << "192.168.0.1" << dot << 4 << 10 << true << QByteArray::fromHex("c0a80001");
    QTest::newRow("ip 10.0.0.255") << "10.0.0.255" << dot << 4 << 10 << true << QByteArray::fromHex("0a0000ff");
    QTest::newRow("ip zeros") << "0.0.0.0" << dot << 4 << 10 << true << QByteArray::fromHex("00000000");
    QTest::newRow("ip leading zero") << "010.001.000.009" << dot << 4 << 10 << true << QByteArray::fromHex("0a010009");
    QTest::newRow("ip three parts") << "192.168.0" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip empty part") << "192.168..1" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip five parts") << "1.2.3.4.5" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip 256") << "256.0.0.1" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip trailing dot") << "1.2.3.4." << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip negative") << "1.2.3.-4" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip hex digit") << "1.2.3.a" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip empty") << "" << dot << 4 << 10 << false << QByteArray();
    QTest::newRow("ip with commas") << "1,2,3,4" << dot << 4 << 10 << false << QByteArray();

    QTest::newRow("mac upper") << "00-1A-2B-3C-4D-5E" << dash << 6 << 16 << true << QByteArray::fromHex("001a2b3c4d5e");
    QTest::newRow("mac mixed case") << "00-1a-2B-3c-4D-5e" << dash << 6 << 16 << true << QByteArray::fromHex("001a2b3c4d5e");
    QTest::newRow("mac single digits") << "0-1-2-3-4-5" << dash << 6 << 16 << true << QByteArray::fromHex("000102030405");
    QTest::newRow("mac all ff") << "ff-ff-ff-ff-ff-ff" << dash << 6 << 16 << true << QByteArray::fromHex("ffffffffffff");
    QTest::newRow("mac colons") << "00:1A:2B:3C:4D:5E" << dash << 6 << 16 << false << QByteArray();
    QTest::newRow("mac five parts") << "00-1A-2B-3C-4D" << dash << 6 << 16 << false << QByteArray();
    QTest::newRow("mac 1FF") << "0-1A-2B-3C-4D-1FF" << dash << 6 << 16 << false << QByteArray();
    QTest::newRow("mac not hex") << "00-1A-2B-3C-4D-5G" << dash << 6 << 16 << false << QByteArray();
    QTest::newRow("mac empty part") << "00-1A--3C-4D-5E" << dash << 6 << 16 << false << QByteArray();
}

void TestFieldText::textToBytes()
{
    QFETCH(QString, text);
    QFETCH(QChar, separator);
    QFETCH(int, count);
    QFETCH(int, base);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, bytes);

    quint8 buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    QCOMPARE(::textToBytes(text, separator, buffer, count, base), accepted);
    if (accepted)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer), count), bytes);
    // Nothing lands behind the destination, even for a text with too many parts.
    QCOMPARE(buffer[count], quint8(0xEE));
}

void TestFieldText::bytesToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<int>("base");
    QTest::addColumn<QString>("text");

    const QChar dot = QLatin1Char('.');
    const QChar dash = QLatin1Char('-');

    QTest::newRow("ip 192.168.0.100") << QByteArray::fromHex("c0a80064") << dot << 10 << "192.168.0.100";
    QTest::newRow("ip 10.0.0.1") << QByteArray::fromHex("0a000001") << dot << 10 << "10.0.0.1";
    QTest::newRow("ip no leading zeros") << QByteArray::fromHex("01020304") << dot << 10 << "1.2.3.4";
    QTest::newRow("ip broadcast") << QByteArray::fromHex("ffffffff") << dot << 10 << "255.255.255.255";
    QTest::newRow("mac lower case") << QByteArray::fromHex("001a2b3c4d5e") << dash << 16 << "00-1a-2b-3c-4d-5e";
    QTest::newRow("mac two digits each") << QByteArray::fromHex("0a0102030405") << dash << 16 << "0a-01-02-03-04-05";
    QTest::newRow("mac all ff") << QByteArray::fromHex("ffffffffffff") << dash << 16 << "ff-ff-ff-ff-ff-ff";
    QTest::newRow("single byte") << QByteArray::fromHex("0a") << dash << 16 << "0a";
}

void TestFieldText::bytesToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QChar, separator);
    QFETCH(int, base);
    QFETCH(QString, text);

    QCOMPARE(::bytesToText(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size(), separator, base),
             text);
}

void TestFieldText::bcdRoundTrip_data()
{
    QTest::addColumn<QString>("digits");

    QTest::newRow("zeros") << "0000000000";
    QTest::newRow("ascending") << "0123456789";
    QTest::newRow("descending") << "9876543210";
    QTest::newRow("all nines") << "9999999999";
}

// What read-all shows in the token and ID fields must write back unchanged.
void TestFieldText::bcdRoundTrip()
{
    QFETCH(QString, digits);

    quint8 bytes[5];
    QVERIFY(::textToBcd(digits, bytes, 5));
    QCOMPARE(::bcdToText(bytes, 5), digits);
}

TALLY_TEST_MAIN(TestFieldText)
#include "tst_fieldtext.moc"
