// Frames and records as bytes: request frames, checksums, the group parsers and the write
// builders, checked against hand-written wire bytes.
#include "frame.h"
#include "records.h"
#include "testbytes.h"
#include "testmain.h"

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <cstring>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

QByteArray bytesOf(const void *record, int size)
{
    return QByteArray(static_cast<const char *>(record), size);
}

void putSlot(quint8 *slot, const QByteArray &text)
{
    std::memcpy(slot, text.constData(), size_t(text.size()));
}

QByteArray slotText(const quint8 *slot)
{
    return QByteArray(reinterpret_cast<const char *>(slot));
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void requestFrame_data();
    void requestFrame();
    void requestRefusesOverlongData();
    void readGroupRequest_data();
    void readGroupRequest();

    void timeoutsWrite_data();
    void timeoutsWrite();
    void priorityWrite();
    void macWrite();
    void bcdWrites_data();
    void bcdWrites();
    void ethernetWriteStopsBeforeMac();

    void serverAddressWrite_data();
    void serverAddressWrite();
    void serverAddressWriteCutsUnterminatedUrl();

    void gprsWrite_data();
    void gprsWrite();
    void gprsWriteBoundsUnterminatedSlots();

    void fixedLength_data();
    void fixedLength();
    void timeoutsAreUnsigned();
    void serverAddressRead_data();
    void serverAddressRead();

    void gprsParse_data();
    void gprsParse();
    void gprsRoundTrip();

    void resultByte_data();
    void resultByte();
    void testValue_data();
    void testValue();
    void statusPart_data();
    void statusPart();
    void statusPartLetters_data();
    void statusPartLetters();
    void statusPartTableAsQt5Codec();
};

void TestFrame::requestFrame_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("empty") << QByteArray() << hex("02 00 00");
    QTest::newRow("single zero") << hex("00") << hex("02 01 00 01");
    QTest::newRow("reset full") << hex("26 00") << hex("02 02 26 00 24");
    QTest::newRow("unit status") << hex("55") << hex("02 01 55 54");
    QTest::newRow("modem status") << hex("56") << hex("02 01 56 57");
    QTest::newRow("continuation") << hex("05") << hex("02 01 05 04");
    QTest::newRow("signal level") << hex("58 01") << hex("02 02 58 01 5B");
    QTest::newRow("server test") << hex("58 02") << hex("02 02 58 02 58");
    QTest::newRow("mac write") << hex("69 00 11 22 33 44 55") << hex("02 07 69 00 11 22 33 44 55 7F");

    QByteArray longest(255, char(0xFF));
    // LEN FF XOR 255 copies of FF: an odd count leaves FF, and FF ^ FF is zero.
    QTest::newRow("255 bytes") << longest << (hex("02 FF") + longest + hex("00"));
}

void TestFrame::requestFrame()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, frame);
    QCOMPARE(Frame::request(data).toHex(), frame.toHex());
    QCOMPARE(Frame::checksum(data), quint8(frame.at(frame.size() - 1)));
}

void TestFrame::requestRefusesOverlongData()
{
    QVERIFY(Frame::request(QByteArray(256, 'x')).isEmpty());
}

void TestFrame::readGroupRequest_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("cash desk state") << 4 << hex("02 02 07 04 01");
    QTest::newRow("timeouts") << 6 << hex("02 02 07 06 03");
    QTest::newRow("server address") << 7 << hex("02 02 07 07 02");
    QTest::newRow("gprs") << 8 << hex("02 02 07 08 0D");
    QTest::newRow("ethernet") << 9 << hex("02 02 07 09 0C");
    QTest::newRow("priority") << 10 << hex("02 02 07 0A 0F");
}

void TestFrame::readGroupRequest()
{
    QFETCH(int, group);
    QFETCH(QByteArray, frame);
    QCOMPARE(Frame::request(Frame::readGroupRequest(quint8(group))).toHex(), frame.toHex());
}

void TestFrame::timeoutsWrite_data()
{
    QTest::addColumn<int>("full");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("retry");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("1000/500/60") << 1000 << 500 << 60 << hex("02 07 60 E8 03 F4 01 3C 00 45");
    QTest::newRow("max/0/1") << 65535 << 0 << 1 << hex("02 07 60 FF FF 00 00 01 00 66");
}

void TestFrame::timeoutsWrite()
{
    QFETCH(int, full);
    QFETCH(int, command);
    QFETCH(int, retry);
    QFETCH(QByteArray, frame);

    TimeoutSettings record;
    std::memset(&record, 0xAA, sizeof record);      // byte 0 must be overwritten
    setLe16(record.fullTimeout, quint16(full));
    setLe16(record.commandTimeout, quint16(command));
    setLe16(record.retryPeriod, quint16(retry));

    const QByteArray data = Frame::fixedWriteRequest(0x60, record);
    QCOMPARE(Frame::request(data).toHex(), frame.toHex());
    QCOMPARE(record.command, quint8(0x60));
}

void TestFrame::priorityWrite()
{
    ChannelPriority record = {0, 2};
    QCOMPARE(Frame::request(Frame::fixedWriteRequest(0x67, record)).toHex(),
             hex("02 02 67 02 67").toHex());
}

void TestFrame::macWrite()
{
    MacRecord record = {0xEE, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
    QCOMPARE(Frame::request(Frame::fixedWriteRequest(0x69, record)).toHex(),
             hex("02 07 69 00 11 22 33 44 55 7F").toHex());
    QCOMPARE(record.command, quint8(0x69));
}

void TestFrame::bcdWrites_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("frame");

    // The ID / token 0987654321 travels least significant byte first.
    QTest::newRow("token") << 0x61 << hex("02 06 61 21 43 65 87 09 EE");
    QTest::newRow("cash desk id") << 0x64 << hex("02 06 64 21 43 65 87 09 EB");
}

void TestFrame::bcdWrites()
{
    QFETCH(int, command);
    QFETCH(QByteArray, frame);

    // Both records are a command byte and five BCD bytes.
    TokenRecord token = {0, {0x21, 0x43, 0x65, 0x87, 0x09}};
    CashDeskIdRecord id = {0, {0x21, 0x43, 0x65, 0x87, 0x09}};
    const QByteArray data = command == 0x61 ? Frame::fixedWriteRequest(0x61, token)
                                            : Frame::fixedWriteRequest(0x64, id);
    QCOMPARE(Frame::request(data).toHex(), frame.toHex());
}

void TestFrame::ethernetWriteStopsBeforeMac()
{
    EthernetSettings record;
    std::memset(&record, 0, sizeof record);
    const quint8 ip[4] = {192, 168, 1, 10}, mask[4] = {255, 255, 255, 0},
                 gateway[4] = {192, 168, 1, 1}, dns[4] = {8, 8, 8, 8},
                 mac[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    std::memcpy(record.ip, ip, 4);
    std::memcpy(record.mask, mask, 4);
    std::memcpy(record.gateway, gateway, 4);
    std::memcpy(record.dns, dns, 4);
    record.dhcp = 1;
    std::memcpy(record.mac, mac, 6);

    const QByteArray data = Frame::fixedWriteRequest(0x65, record, EthernetSettingsWriteSize);
    QCOMPARE(Frame::request(data).toHex(),
             hex("02 13 65 00 C0 A8 01 0A FF FF FF 00 C0 A8 01 01 08 08 08 08 01 83").toHex());
}

void TestFrame::serverAddressWrite_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<int>("staleLength");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("empty url") << QByteArray() << 0 << hex("02 08 62 C0 A8 01 0A 90 1F 00 86");
    // Byte 7 is always recounted from the URL, whatever the record held there.
    QTest::newRow("empty url, stale length") << QByteArray() << 77
                                             << hex("02 08 62 C0 A8 01 0A 90 1F 00 86");
    QTest::newRow("short url") << QByteArray("a.ru") << 0
                               << hex("02 0C 62 C0 A8 01 0A 90 1F 04 61 2E 72 75 CE");
}

void TestFrame::serverAddressWrite()
{
    QFETCH(QByteArray, url);
    QFETCH(int, staleLength);
    QFETCH(QByteArray, frame);

    ServerAddress record;
    std::memset(&record, 0, sizeof record);
    const quint8 ip[4] = {192, 168, 1, 10};
    std::memcpy(record.ip, ip, 4);
    setLe16(record.port, 8080);
    record.urlLength = quint8(staleLength);
    putSlot(record.url, url);

    const QByteArray data = Frame::serverAddressWriteRequest(record);
    QCOMPARE(Frame::request(data).toHex(), frame.toHex());
    QCOMPARE(int(record.urlLength), url.size());
    QCOMPARE(record.command, quint8(0x62));
}

void TestFrame::serverAddressWriteCutsUnterminatedUrl()
{
    ServerAddress record;
    std::memset(&record, 0, sizeof record);
    std::memset(record.url, 'u', sizeof record.url);    // 129 bytes, no terminator

    const QByteArray data = Frame::serverAddressWriteRequest(record);
    QCOMPARE(data.size(), 136);
    QCOMPARE(quint8(data.at(7)), quint8(0x80));
    QCOMPARE(data.mid(8), QByteArray(128, 'u'));
    QCOMPARE(record.url[128], quint8(0));
    QCOMPARE(record.urlLength, quint8(128));
}

void TestFrame::gprsWrite_data()
{
    QTest::addColumn<QByteArray>("apn");
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("all empty") << QByteArray() << QByteArray() << QByteArray() << QByteArray()
                               << hex("02 06 63 00 00 00 00 00 65");
    QTest::newRow("all set") << QByteArray("internet") << QByteArray("gdata")
                             << QByteArray("pw") << QByteArray("*100#")
                             << hex("02 1A 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61"
                                    " 02 70 77 05 2A 31 30 30 23 20");
}

void TestFrame::gprsWrite()
{
    QFETCH(QByteArray, apn);
    QFETCH(QByteArray, login);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, frame);

    GprsSettings record;
    std::memset(&record, 0, sizeof record);
    record.reserved = 0x5A;             // never sent: byte 1 of the request is always zero
    record.apnLength = 99;              // stale lengths are recounted
    putSlot(record.apn, apn);
    putSlot(record.login, login);
    putSlot(record.password, password);
    putSlot(record.balanceCode, code);

    QCOMPARE(Frame::request(Frame::gprsWriteRequest(record)).toHex(), frame.toHex());
    QCOMPARE(int(record.apnLength), apn.size());
    QCOMPARE(int(record.loginLength), login.size());
    QCOMPARE(int(record.passwordLength), password.size());
    QCOMPARE(int(record.balanceCodeLength), code.size());
    QCOMPARE(record.command, quint8(0x63));
}

void TestFrame::gprsWriteBoundsUnterminatedSlots()
{
    GprsSettings record;
    std::memset(&record, 'z', sizeof record);       // not a single terminator anywhere

    const QByteArray data = Frame::gprsWriteRequest(record);
    QCOMPARE(data.size(), 110);
    QCOMPARE(quint8(data.at(2)), quint8(32));
    QCOMPARE(data.mid(3, 32), QByteArray(32, 'z'));
    QCOMPARE(quint8(data.at(35)), quint8(32));
    QCOMPARE(quint8(data.at(68)), quint8(32));
    QCOMPARE(quint8(data.at(101)), quint8(8));
    QCOMPARE(data.mid(102), QByteArray(8, 'z'));
}

void TestFrame::fixedLength_data()
{
    QTest::addColumn<int>("recordSize");
    QTest::addColumn<int>("responseSize");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("timeouts 7") << 7 << 7 << true;
    QTest::newRow("timeouts 6") << 7 << 6 << false;
    QTest::newRow("timeouts 8") << 7 << 8 << false;
    QTest::newRow("ethernet 25") << 25 << 25 << true;
    QTest::newRow("ethernet 19") << 25 << 19 << false;
    QTest::newRow("priority 2") << 2 << 2 << true;
    QTest::newRow("priority 1") << 2 << 1 << false;
    QTest::newRow("priority 0") << 2 << 0 << false;
}

void TestFrame::fixedLength()
{
    QFETCH(int, recordSize);
    QFETCH(int, responseSize);
    QFETCH(bool, accepted);

    QByteArray response(responseSize, char(0x11));
    quint8 record[32];
    std::memset(record, 0xCC, sizeof record);
    QCOMPARE(Frame::copyExact(response, record, recordSize), accepted);
    // A refused response leaves the record as it was; an accepted one fills exactly its size.
    QCOMPARE(bytesOf(record, recordSize),
             QByteArray(recordSize, accepted ? char(0x11) : char(0xCC)));
    QCOMPARE(bytesOf(record + recordSize, int(sizeof record) - recordSize),
             QByteArray(int(sizeof record) - recordSize, char(0xCC)));
}

void TestFrame::timeoutsAreUnsigned()
{
    TimeoutSettings record;
    QVERIFY(Frame::copyExact(hex("00 E8 03 F4 01 3C 00"), record));
    QCOMPARE(int(le16(record.fullTimeout)), 1000);
    QCOMPARE(int(le16(record.commandTimeout)), 500);
    QCOMPARE(int(le16(record.retryPeriod)), 60);
    QVERIFY(Frame::copyExact(hex("00 FF FF 00 80 01 00"), record));
    QCOMPARE(int(le16(record.fullTimeout)), 65535);
    QCOMPARE(int(le16(record.commandTimeout)), 32768);
}

void TestFrame::serverAddressRead_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("empty") << 0 << true;
    QTest::newRow("10 bytes") << 10 << true;
    QTest::newRow("137 bytes") << 137 << true;
    QTest::newRow("138 bytes") << 138 << false;
}

void TestFrame::serverAddressRead()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);

    QByteArray response;
    for (int i = 0; i < size; ++i)
        response.append(char(i + 1));
    ServerAddress record;
    std::memset(&record, 0xCC, sizeof record);
    QCOMPARE(Frame::parseServerAddress(response, record), accepted);
    if (!accepted)
        return;
    const QByteArray all = bytesOf(&record, int(sizeof record));
    QCOMPARE(all.left(size), response);
    QCOMPARE(all.mid(size), QByteArray(137 - size, '\0'));
}

void TestFrame::gprsParse_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("apn");
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("code");

    const QByteArray none;
    QTest::newRow("four empty strings") << hex("00 00 00 00 00 00") << true
                                        << none << none << none << none;
    QTest::newRow("one byte extra") << hex("00 00 00 00 00 00 00") << false
                                    << none << none << none << none;
    QTest::newRow("last length missing") << hex("00 00 00 00 00") << false
                                         << none << none << none << none;
    QTest::newRow("nothing") << QByteArray() << false << none << none << none << none;
    QTest::newRow("all set")
        << hex("63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 02 70 77 05 2A 31 30 30 23")
        << true << QByteArray("internet") << QByteArray("gdata") << QByteArray("pw")
        << QByteArray("*100#");
    QTest::newRow("login of 33") << (hex("00 00 00 21") + QByteArray(33, 'l') + hex("00 00"))
                                 << false << none << none << none << none;
    QTest::newRow("login of 32") << (hex("00 00 00 20") + QByteArray(32, 'l') + hex("00 00"))
                                 << true << none << QByteArray(32, 'l') << none << none;
    QTest::newRow("apn of 33") << (hex("00 00 21") + QByteArray(33, 'a') + hex("00 00 00"))
                               << false << none << none << none << none;
    QTest::newRow("password of 33") << (hex("00 00 00 00 21") + QByteArray(33, 'p') + hex("00"))
                                    << false << none << none << none << none;
    QTest::newRow("string past the end") << hex("00 00 05 61 62") << false
                                         << none << none << none << none;
    QTest::newRow("code past the end") << hex("00 00 00 00 00 03 2A 31") << false
                                       << none << none << none << none;
    QTest::newRow("code of 9") << (hex("00 00 00 00 00 09") + QByteArray(9, '1')) << false
                               << none << none << none << none;
    QTest::newRow("code of 8") << (hex("00 00 00 00 00 08") + QByteArray(8, '1')) << true
                               << none << none << none << QByteArray(8, '1');
    QTest::newRow("longest")
        << (hex("00 00 20") + QByteArray(32, 'a') + hex("20") + QByteArray(32, 'l') + hex("20")
            + QByteArray(32, 'p') + hex("08") + QByteArray(8, 'c'))
        << true << QByteArray(32, 'a') << QByteArray(32, 'l') << QByteArray(32, 'p')
        << QByteArray(8, 'c');
}

void TestFrame::gprsParse()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, apn);
    QFETCH(QByteArray, login);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, code);

    GprsSettings record;
    std::memset(&record, 0xCC, sizeof record);
    QCOMPARE(Frame::parseGprsSettings(response, record), accepted);
    if (!accepted)
        return;
    QCOMPARE(record.command, quint8(response.at(0)));
    QCOMPARE(slotText(record.apn), apn);
    QCOMPARE(slotText(record.login), login);
    QCOMPARE(slotText(record.password), password);
    QCOMPARE(slotText(record.balanceCode), code);
    QCOMPARE(int(record.apnLength), apn.size());
    QCOMPARE(int(record.loginLength), login.size());
    QCOMPARE(int(record.passwordLength), password.size());
    QCOMPARE(int(record.balanceCodeLength), code.size());
}

void TestFrame::gprsRoundTrip()
{
    GprsSettings written;
    std::memset(&written, 0, sizeof written);
    putSlot(written.apn, QByteArray("точка"));      // UTF-8: lengths count bytes
    putSlot(written.password, QByteArray("secret"));
    const QByteArray data = Frame::gprsWriteRequest(written);

    GprsSettings read;
    QVERIFY(Frame::parseGprsSettings(data, read));
    QCOMPARE(bytesOf(&read, int(sizeof read)), bytesOf(&written, int(sizeof written)));
    QCOMPARE(int(read.apnLength), 10);
}

void TestFrame::resultByte_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("written");

    // A reset or a status part may come without data; a write must carry its result byte.
    QTest::newRow("no data") << QByteArray() << true << false;
    QTest::newRow("00") << hex("00") << true << true;
    QTest::newRow("00 and more") << hex("00 01 02") << true << true;
    QTest::newRow("01") << hex("01") << false << false;
    QTest::newRow("FF 00") << hex("FF 00") << false << false;
}

void TestFrame::resultByte()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, ok);
    QFETCH(bool, written);
    QCOMPARE(Frame::resultOk(response), ok);
    QCOMPARE(Frame::writeConfirmed(response), written);
}

void TestFrame::testValue_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<int>("value");

    QTest::newRow("00 4B") << hex("00 4B") << true << 75;
    QTest::newRow("00 FF is unsigned") << hex("00 FF") << true << 255;
    QTest::newRow("result alone is short") << hex("00") << false << -1;
    QTest::newRow("refused") << hex("01 4B") << true << -1;
    QTest::newRow("refused without value") << hex("01") << true << -1;
    QTest::newRow("no data is short") << QByteArray() << false << -1;
    QTest::newRow("extra bytes ignored") << hex("00 10 20") << true << 16;
}

void TestFrame::testValue()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, whole);
    QFETCH(int, value);
    int got = -2;
    QCOMPARE(Frame::testValue(response, got), whole);
    QCOMPARE(got, value);
}

void TestFrame::statusPart_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("text");

    QTest::newRow("modem") << hex("00 CC EE E4 E5 EC") << QStringLiteral("Модем");
    QTest::newRow("with space") << hex("00 D1 E2 FF E7 FC 20 E5 F1 F2 FC")
                                << QStringLiteral("Связь есть");
    QTest::newRow("ascii") << hex("00 4F 4B") << QStringLiteral("OK");
    QTest::newRow("result alone") << hex("00") << QString();
    QTest::newRow("no data") << QByteArray() << QString();
}

void TestFrame::statusPart()
{
    QFETCH(QByteArray, response);
    QFETCH(QString, text);
    QCOMPARE(Frame::statusPartText(response), text);
}

// Every Russian letter the unit may send, by its Windows-1251 byte and its Unicode code point,
// and the plain ASCII half below 0x80.
void TestFrame::statusPartLetters_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("codePoint");

    static const struct { quint8 byte; ushort codePoint; const char *letter; } letters[] = {
    {0xC0, 0x0410, "А"}, {0xC1, 0x0411, "Б"}, {0xC2, 0x0412, "В"}, {0xC3, 0x0413, "Г"},
    {0xC4, 0x0414, "Д"}, {0xC5, 0x0415, "Е"}, {0xC6, 0x0416, "Ж"}, {0xC7, 0x0417, "З"},
    {0xC8, 0x0418, "И"}, {0xC9, 0x0419, "Й"}, {0xCA, 0x041A, "К"}, {0xCB, 0x041B, "Л"},
    {0xCC, 0x041C, "М"}, {0xCD, 0x041D, "Н"}, {0xCE, 0x041E, "О"}, {0xCF, 0x041F, "П"},
    {0xD0, 0x0420, "Р"}, {0xD1, 0x0421, "С"}, {0xD2, 0x0422, "Т"}, {0xD3, 0x0423, "У"},
    {0xD4, 0x0424, "Ф"}, {0xD5, 0x0425, "Х"}, {0xD6, 0x0426, "Ц"}, {0xD7, 0x0427, "Ч"},
    {0xD8, 0x0428, "Ш"}, {0xD9, 0x0429, "Щ"}, {0xDA, 0x042A, "Ъ"}, {0xDB, 0x042B, "Ы"},
    {0xDC, 0x042C, "Ь"}, {0xDD, 0x042D, "Э"}, {0xDE, 0x042E, "Ю"}, {0xDF, 0x042F, "Я"},
    {0xE0, 0x0430, "а"}, {0xE1, 0x0431, "б"}, {0xE2, 0x0432, "в"}, {0xE3, 0x0433, "г"},
    {0xE4, 0x0434, "д"}, {0xE5, 0x0435, "е"}, {0xE6, 0x0436, "ж"}, {0xE7, 0x0437, "з"},
    {0xE8, 0x0438, "и"}, {0xE9, 0x0439, "й"}, {0xEA, 0x043A, "к"}, {0xEB, 0x043B, "л"},
    {0xEC, 0x043C, "м"}, {0xED, 0x043D, "н"}, {0xEE, 0x043E, "о"}, {0xEF, 0x043F, "п"},
    {0xF0, 0x0440, "р"}, {0xF1, 0x0441, "с"}, {0xF2, 0x0442, "т"}, {0xF3, 0x0443, "у"},
    {0xF4, 0x0444, "ф"}, {0xF5, 0x0445, "х"}, {0xF6, 0x0446, "ц"}, {0xF7, 0x0447, "ч"},
    {0xF8, 0x0448, "ш"}, {0xF9, 0x0449, "щ"}, {0xFA, 0x044A, "ъ"}, {0xFB, 0x044B, "ы"},
    {0xFC, 0x044C, "ь"}, {0xFD, 0x044D, "э"}, {0xFE, 0x044E, "ю"}, {0xFF, 0x044F, "я"},
    {0xA8, 0x0401, "Ё"}, {0xB8, 0x0451, "ё"}, {0xB9, 0x2116, "№"},
    };
    for (const auto &letter : letters) {
        const QByteArray name = QByteArray::number(letter.byte, 16).toUpper() + ' ' + letter.letter;
        QTest::newRow(name.constData()) << (hex("00") + char(letter.byte)) << int(letter.codePoint);
    }
    for (int byte = 0; byte < 0x80; ++byte)
        QTest::newRow(QByteArray::number(byte, 16).constData()) << (hex("00") + char(byte)) << byte;
}

void TestFrame::statusPartLetters()
{
    QFETCH(QByteArray, response);
    QFETCH(int, codePoint);
    const QString text = Frame::statusPartText(response);
    QCOMPARE(text.size(), 1);
    QCOMPARE(int(text.at(0).unicode()), codePoint);
}

// The Qt 5 build decoded status texts with Qt's own Windows-1251 codec; the table must decode
// every byte as that codec did.
void TestFrame::statusPartTableAsQt5Codec()
{
#if defined(Q_OS_WIN)
    // A Qt without ICU, as the Windows build's is, decodes with a table of its own that turns the
    // unassigned 0x98 into U+FFFD, where ICU (the Linux build) and Windows itself give U+0098:
    // on Windows the system's own decoder is the one to agree with.
    for (int byte = 0; byte < 256; ++byte) {
        const char raw = char(byte);
        wchar_t decoded = 0;
        QCOMPARE(MultiByteToWideChar(1251, 0, &raw, 1, &decoded, 1), 1);
        QCOMPARE(Frame::statusPartText(hex("00") + raw), QString(QChar(ushort(decoded))));
    }
#elif QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QTextCodec *codec = QTextCodec::codecForName("Windows-1251");
    QVERIFY(codec);
    for (int byte = 0; byte < 256; ++byte) {
        const char raw = char(byte);
        QCOMPARE(Frame::statusPartText(hex("00") + raw), codec->toUnicode(&raw, 1));
    }
#else
    QSKIP("Qt 6 has no Windows-1251 codec in Qt Core");
#endif
}

TALLY_TEST_MAIN(TestFrame)
#include "tst_frame.moc"
