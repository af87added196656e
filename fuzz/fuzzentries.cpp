#include "fuzzentries.h"

#include "devicelink.h"
#include "frame.h"
#include "memorydevice.h"
#include "records.h"
#include "unitengine.h"
#include "unitfault.h"
#include "unitstate.h"
#include "windows1251.h"

#include <QList>

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define FUZZ_WITH_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FUZZ_WITH_LSAN 1
#endif
#endif
#ifdef FUZZ_WITH_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace FuzzEntry {

namespace {

// For messages: long runs of bytes are cut, a whole status dialogue helps nobody.
QString hexOf(const QByteArray &bytes)
{
    constexpr int shown = 48;
    QString text;
    for (int i = 0; i < qMin(bytes.size(), shown); ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QString::number(quint8(bytes.at(i)), 16).rightJustified(2, QLatin1Char('0'));
    }
    text = text.toUpper();
    if (bytes.size() > shown)
        text += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return text;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

template <typename Record>
QByteArray bytesOf(const Record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record));
}

// The next `size` input bytes, zero-padded when the input runs out first.
QByteArray take(const QByteArray &input, int &pos, int size)
{
    QByteArray bytes = input.mid(pos, size);
    pos += bytes.size();
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

template <typename Record>
void fill(Record &record, const QByteArray &bytes)
{
    std::memcpy(&record, bytes.constData(), sizeof record);
}

// A request frame as the unit must see it, built here by hand rather than by the code under
// test: STX, LEN, data, XOR of LEN and data.
QByteArray wireFrame(const QByteArray &data)
{
    quint8 sum = quint8(data.size());
    for (char byte : data)
        sum ^= quint8(byte);
    return QByteArray(1, '\x02') + char(quint8(data.size())) + data + char(sum);
}

int textLength(const QByteArray &area, int limit)
{
    const int zero = area.left(limit).indexOf('\0');
    return zero < 0 ? qMin(limit, area.size()) : zero;
}

// ---------------------------------------------------------------------------------------------
// The configurator's side.

enum Operation {
    ReadCashDeskState, ReadTimeouts, ReadServerAddress, ReadGprs, ReadEthernet, ReadPriority,
    WriteTimeouts, WriteToken, WriteServerAddress, WriteGprs, WriteCashDeskId, WriteEthernet,
    WritePriority, WriteMac, Reset, UnitStatus, ModemStatus, ServerTest, SignalTest, ReadAll,
    OperationCount
};

// What the unit's bytes must lead to, worked out one byte at a time the way the line delivers
// them: a missing byte ends the read that wanted it.
class UnitBytes
{
public:
    explicit UnitBytes(const QByteArray &bytes) : bytes(bytes) {}

    bool byte(quint8 &value)
    {
        if (pos >= bytes.size())
            return false;
        value = quint8(bytes.at(pos++));
        return true;
    }

    bool acknowledged()
    {
        quint8 value = 0;
        return byte(value) && value == 0x06;
    }

    bool response(QByteArray &data)
    {
        quint8 stx = 0, length = 0, sum = 0;
        if (!byte(stx) || stx != 0x02 || !byte(length))
            return false;
        data.clear();
        sum = length;
        for (int i = 0; i < length; ++i) {
            quint8 value = 0;
            if (!byte(value))
                return false;
            data.append(char(value));
            sum ^= value;
        }
        quint8 check = 0;
        return byte(check) && check == sum;
    }

    int consumed() const { return pos; }

private:
    QByteArray bytes;
    int pos = 0;
};

struct Outcome
{
    bool ok = false;
    QByteArray written;
    int consumed = 0;
    QByteArray record;          // reads: the record after the call; writes: the record sent
    QString text;
    int value = -1;
};

enum class Check { Exact, UpTo, Packed };

struct GroupRead
{
    Operation operation;
    quint8 group;
    int size;
    Check check;
    const char *request;        // on the wire
};

const GroupRead groupReads[] = {
    {ReadCashDeskState, 4, 25, Check::Exact, "02 02 07 04 01"},
    {ReadTimeouts, 6, 7, Check::Exact, "02 02 07 06 03"},
    {ReadServerAddress, 7, 137, Check::UpTo, "02 02 07 07 02"},
    {ReadGprs, 8, 114, Check::Packed, "02 02 07 08 0D"},
    {ReadEthernet, 9, 25, Check::Exact, "02 02 07 09 0C"},
    {ReadPriority, 10, 2, Check::Exact, "02 02 07 0A 0F"},
};

const GroupRead &groupRead(Operation operation)
{
    for (const GroupRead &read : groupReads) {
        if (read.operation == operation)
            return read;
    }
    return groupReads[0];
}

// The packed GPRS answer unpacked into the 114-byte record, or false.
bool unpackGprs(const QByteArray &data, QByteArray &record)
{
    record = QByteArray(114, '\0');
    if (data.size() < 2)
        return false;
    record[0] = data[0];
    record[1] = data[1];
    int pos = 2;
    const int gprsSlots[][2] = {{2, 32}, {36, 32}, {70, 32}, {104, 8}};
    for (const auto &slot : gprsSlots) {
        if (pos >= data.size())
            return false;
        const int length = quint8(data.at(pos++));
        record[slot[0]] = char(length);
        if (length > slot[1] || length > data.size() - pos)
            return false;
        record.replace(slot[0] + 1, length, data.mid(pos, length));
        pos += length;
    }
    return pos == data.size();
}

bool expectRead(UnitBytes &unit, const GroupRead &read, Outcome &expected)
{
    expected.written += hex(read.request);
    QByteArray data;
    if (!unit.acknowledged() || !unit.response(data))
        return false;
    switch (read.check) {
    case Check::Exact:
        expected.record = data;
        return data.size() == read.size;
    case Check::UpTo:
        expected.record = data + QByteArray(qMax(0, read.size - data.size()), '\0');
        return data.size() <= read.size;
    case Check::Packed:
        return unpackGprs(data, expected.record);
    }
    return false;
}

// A write needs its result byte; a reset may answer without one.
bool expectWrite(UnitBytes &unit, const QByteArray &requestData, Outcome &expected,
                 bool resultRequired = true)
{
    expected.written += wireFrame(requestData);
    QByteArray data;
    return unit.acknowledged() && unit.response(data)
        && (data.isEmpty() ? !resultRequired : quint8(data.at(0)) == 0x00);
}

QByteArray writeRequestData(Operation operation, const QByteArray &record)
{
    switch (operation) {
    case WriteTimeouts: return '\x60' + record.mid(1, 6);
    case WriteToken: return '\x61' + record.mid(1, 5);
    case WriteCashDeskId: return '\x64' + record.mid(1, 5);
    case WriteEthernet: return '\x65' + record.mid(1, 18);
    case WritePriority: return '\x67' + record.mid(1, 1);
    case WriteMac: return '\x69' + record.mid(1, 6);
    case WriteServerAddress: {
        // Only the URL up to its zero, and never more than 128 bytes of it.
        const int n = textLength(record.mid(8), 128);
        return '\x62' + record.mid(1, 6) + char(n) + record.mid(8, n);
    }
    case WriteGprs: {
        QByteArray data = hex("63 00");
        const int gprsSlots[][2] = {{3, 32}, {37, 32}, {71, 32}, {105, 8}};
        for (const auto &slot : gprsSlots) {
            const int n = textLength(record.mid(slot[0]), slot[1]);
            data += char(n) + record.mid(slot[0], n);
        }
        return data;
    }
    default:
        return QByteArray();
    }
}

int recordSize(Operation operation)
{
    switch (operation) {
    case WriteTimeouts: return int(sizeof(TimeoutSettings));
    case WriteToken: return int(sizeof(TokenRecord));
    case WriteServerAddress: return int(sizeof(ServerAddress));
    case WriteGprs: return int(sizeof(GprsSettings));
    case WriteCashDeskId: return int(sizeof(CashDeskIdRecord));
    case WriteEthernet: return int(sizeof(EthernetSettings));
    case WritePriority: return int(sizeof(ChannelPriority));
    case WriteMac: return int(sizeof(MacRecord));
    default: return 0;
    }
}

// Byte by byte: ASCII as it is, the 64 letters А-я in one run from 0xC0, the rest of the upper
// half from the code page's table.
QString decode1251(const QByteArray &bytes)
{
    QString text;
    for (char raw : bytes) {
        const quint8 byte = quint8(raw);
        if (byte < 0x80)
            text += QChar(ushort(byte));
        else if (byte >= 0xC0)
            text += QChar(ushort(0x0410 + byte - 0xC0));
        else
            text += Windows1251::charOf(byte);
    }
    return text;
}

Outcome expectedOutcome(Operation operation, const QByteArray &record, quint8 kind,
                        const QByteArray &unitInput)
{
    UnitBytes unit(unitInput);
    Outcome expected;
    switch (operation) {
    case ReadCashDeskState:
    case ReadTimeouts:
    case ReadServerAddress:
    case ReadGprs:
    case ReadEthernet:
    case ReadPriority:
        expected.ok = expectRead(unit, groupRead(operation), expected);
        break;
    case ReadAll: {
        // The window's order; the first failure ends it.
        const Operation order[] = {ReadTimeouts, ReadServerAddress, ReadEthernet,
                                   ReadCashDeskState, ReadPriority, ReadGprs};
        expected.ok = true;
        for (Operation read : order) {
            if (!expectRead(unit, groupRead(read), expected)) {
                expected.ok = false;
                break;
            }
        }
        expected.record.clear();
        break;
    }
    case WriteTimeouts:
    case WriteToken:
    case WriteServerAddress:
    case WriteGprs:
    case WriteCashDeskId:
    case WriteEthernet:
    case WritePriority:
    case WriteMac:
        expected.ok = expectWrite(unit, writeRequestData(operation, record), expected);
        break;
    case Reset:
        expected.ok = expectWrite(unit, hex("26") + char(kind), expected, false);
        break;
    case UnitStatus:
    case ModemStatus: {
        expected.written += hex(operation == UnitStatus ? "02 01 55 54" : "02 01 56 57");
        if (!unit.acknowledged())
            break;
        for (int part = 1; part <= 256; ++part) {
            QByteArray data;
            if (!unit.response(data) || (!data.isEmpty() && quint8(data.at(0)) != 0x00))
                break;
            const QString text = decode1251(data.mid(1));
            if (!text.isEmpty())
                expected.text += text + QLatin1Char('\n');
            // The 256th part is the last the configurator listens to.
            if (part == 256)
                break;
            expected.written += hex("02 01 05 04");
            if (!unit.acknowledged())
                break;
        }
        expected.ok = !expected.text.isEmpty();
        break;
    }
    case ServerTest:
    case SignalTest: {
        expected.written += hex(operation == ServerTest ? "02 02 58 02 58" : "02 02 58 01 5B");
        QByteArray data;
        // A measurement needs its result byte, and after 0x00 its value byte.
        expected.ok = unit.acknowledged() && unit.response(data) && !data.isEmpty()
            && (quint8(data.at(0)) != 0x00 || data.size() > 1);
        if (expected.ok && quint8(data.at(0)) == 0x00)
            expected.value = quint8(data.at(1));
        break;
    }
    case OperationCount:
        break;
    }
    expected.consumed = unit.consumed();
    return expected;
}

template <typename Record>
bool runRead(DeviceLink &link, bool (DeviceLink::*read)(Record &), Outcome &actual)
{
    Record record;
    std::memset(&record, 0xA5, sizeof record);
    const bool ok = (link.*read)(record);
    actual.record = bytesOf(record);
    return ok;
}

template <typename Record>
bool runWrite(DeviceLink &link, bool (DeviceLink::*write)(Record &), const QByteArray &bytes,
              Outcome &actual)
{
    Record record;
    fill(record, bytes);
    const bool ok = (link.*write)(record);
    actual.record = bytesOf(record);
    return ok;
}

Outcome actualOutcome(Operation operation, const QByteArray &record, quint8 kind,
                      const QByteArray &unitInput)
{
    auto *device = new MemoryDevice(unitInput);
    DeviceLink link;
    link.attachDevice(device);

    Outcome actual;
    switch (operation) {
    case ReadCashDeskState: actual.ok = runRead(link, &DeviceLink::readCashDeskState, actual); break;
    case ReadTimeouts: actual.ok = runRead(link, &DeviceLink::readTimeouts, actual); break;
    case ReadServerAddress: actual.ok = runRead(link, &DeviceLink::readServerAddress, actual); break;
    case ReadGprs: actual.ok = runRead(link, &DeviceLink::readGprsSettings, actual); break;
    case ReadEthernet: actual.ok = runRead(link, &DeviceLink::readEthernetSettings, actual); break;
    case ReadPriority: actual.ok = runRead(link, &DeviceLink::readChannelPriority, actual); break;
    case ReadAll: {
        TimeoutSettings timeouts;
        ServerAddress server;
        EthernetSettings ethernet;
        CashDeskState cashDesk;
        ChannelPriority priority;
        GprsSettings gprs;
        actual.ok = link.readTimeouts(timeouts) && link.readServerAddress(server)
                 && link.readEthernetSettings(ethernet) && link.readCashDeskState(cashDesk)
                 && link.readChannelPriority(priority) && link.readGprsSettings(gprs);
        break;
    }
    case WriteTimeouts: actual.ok = runWrite(link, &DeviceLink::writeTimeouts, record, actual); break;
    case WriteToken: actual.ok = runWrite(link, &DeviceLink::writeToken, record, actual); break;
    case WriteServerAddress:
        actual.ok = runWrite(link, &DeviceLink::writeServerAddress, record, actual);
        break;
    case WriteGprs: actual.ok = runWrite(link, &DeviceLink::writeGprsSettings, record, actual); break;
    case WriteCashDeskId: actual.ok = runWrite(link, &DeviceLink::writeCashDeskId, record, actual); break;
    case WriteEthernet:
        actual.ok = runWrite(link, &DeviceLink::writeEthernetSettings, record, actual);
        break;
    case WritePriority:
        actual.ok = runWrite(link, &DeviceLink::writeChannelPriority, record, actual);
        break;
    case WriteMac: actual.ok = runWrite(link, &DeviceLink::writeMac, record, actual); break;
    case Reset: actual.ok = link.resetData(kind); break;
    case UnitStatus: actual.ok = link.readUnitStatus(actual.text); break;
    case ModemStatus: actual.ok = link.readModemStatus(actual.text); break;
    case ServerTest: actual.ok = link.measureServerResponse(actual.value); break;
    case SignalTest: actual.ok = link.measureSignalLevel(actual.value); break;
    case OperationCount: break;
    }
    actual.written = device->written();
    actual.consumed = device->consumed();
    return actual;
}

const char *const operationNames[] = {
    "readCashDeskState", "readTimeouts", "readServerAddress", "readGprsSettings",
    "readEthernetSettings", "readChannelPriority", "writeTimeouts", "writeToken",
    "writeServerAddress", "writeGprsSettings", "writeCashDeskId", "writeEthernetSettings",
    "writeChannelPriority", "writeMac", "resetData", "readUnitStatus", "readModemStatus",
    "measureServerResponse", "measureSignalLevel", "read all",
};
static_assert(sizeof operationNames / sizeof *operationNames == OperationCount,
              "one name per operation");

// What a write must leave in the record it was given, beyond its bytes on the wire.
QString checkWrittenRecord(Operation operation, const QByteArray &record)
{
    const QByteArray codes = hex("60 61 62 63 64 65 67 69");
    if (quint8(record.at(0)) != quint8(codes.at(operation - WriteTimeouts)))
        return QStringLiteral("command code %1 left in the record").arg(hexOf(record.left(1)));
    if (operation == WriteServerAddress) {
        const int n = textLength(record.mid(8), 128);
        if (quint8(record.at(7)) != n || record.at(136) != '\0')
            return QStringLiteral("URL length %1 / byte 136 %2 for a %3-byte URL")
                .arg(quint8(record.at(7))).arg(quint8(record.at(136))).arg(n);
    }
    if (operation == WriteGprs) {
        const int gprsSlots[][2] = {{3, 32}, {37, 32}, {71, 32}, {105, 8}};
        for (const auto &slot : gprsSlots) {
            const int n = textLength(record.mid(slot[0]), slot[1]);
            if (quint8(record.at(slot[0] - 1)) != n)
                return QStringLiteral("length byte %1 for a %2-byte string at offset %3")
                    .arg(quint8(record.at(slot[0] - 1))).arg(n).arg(slot[0]);
        }
    }
    return QString();
}

} // namespace

QString link(const QByteArray &input)
{
    if (input.isEmpty())
        return QString();
    const auto operation = Operation(quint8(input.at(0)) % OperationCount);
    int pos = 1;
    QByteArray record;
    quint8 kind = 0;
    if (operation >= WriteTimeouts && operation <= WriteMac)
        record = take(input, pos, recordSize(operation));
    else if (operation == Reset)
        kind = quint8(take(input, pos, 1).at(0));
    const QByteArray unit = input.mid(pos);

    const Outcome expected = expectedOutcome(operation, record, kind, unit);
    const Outcome actual = actualOutcome(operation, record, kind, unit);
    const QString what = QLatin1String(operationNames[operation]) + QStringLiteral(": ");

    if (actual.written != expected.written) {
        int at = 0;
        while (at < actual.written.size() && at < expected.written.size()
               && actual.written.at(at) == expected.written.at(at))
            ++at;
        return what + QStringLiteral("from byte %1 on wrote %2, expected %3")
                          .arg(at).arg(hexOf(actual.written.mid(at)), hexOf(expected.written.mid(at)));
    }
    if (actual.ok != expected.ok)
        return what + QStringLiteral("returned %1").arg(actual.ok ? "true" : "false");
    if (actual.consumed != expected.consumed)
        return what + QStringLiteral("took %1 of the unit's bytes, expected %2")
                          .arg(actual.consumed).arg(expected.consumed);
    if (operation <= ReadPriority) {
        if (actual.ok && actual.record != expected.record)
            return what + QStringLiteral("record %1, expected %2")
                              .arg(hexOf(actual.record), hexOf(expected.record));
        // These two keep what the caller had unless the unit's answer is good.
        if (!actual.ok && (operation == ReadTimeouts || operation == ReadPriority)
            && actual.record != QByteArray(actual.record.size(), char(0xA5)))
            return what + QStringLiteral("failed read changed the record to %1")
                              .arg(hexOf(actual.record));
    }
    if (operation >= WriteTimeouts && operation <= WriteMac) {
        const QString fault = checkWrittenRecord(operation, actual.record);
        if (!fault.isEmpty())
            return what + fault;
    }
    if (actual.text != expected.text)
        return what + QStringLiteral("text \"%1\", expected \"%2\"").arg(actual.text, expected.text);
    if (actual.value != expected.value)
        return what + QStringLiteral("value %1, expected %2").arg(actual.value).arg(expected.value);
    return QString();
}

// ---------------------------------------------------------------------------------------------
// The pure frame and record functions.

namespace {

enum FrameFunction {
    RequestFrame, CopyExact, ServerAddressRead, GprsRead, GprsWrite, ServerAddressWrite,
    ResultAndValue, StatusPart, FrameFunctionCount
};

QString checkRequestFrame(const QByteArray &data)
{
    const QByteArray frame = Frame::request(data);
    if (data.size() > 255)
        return frame.isEmpty() ? QString()
                               : QStringLiteral("a %1-byte request was framed").arg(data.size());
    if (frame != wireFrame(data))
        return QStringLiteral("request(%1) gave %2").arg(hexOf(data), hexOf(frame));
    if (Frame::checksum(data) != quint8(frame.at(frame.size() - 1)))
        return QStringLiteral("checksum disagrees with the frame for %1").arg(hexOf(data));
    return QString();
}

QString checkCopyExact(const QByteArray &data)
{
    for (int size : {2, 7, 25}) {
        QByteArray area(32, char(0x5A));
        const bool ok = Frame::copyExact(data, reinterpret_cast<quint8 *>(area.data()), size);
        if (ok != (data.size() == size))
            return QStringLiteral("copyExact(%1 bytes into %2) returned %3")
                .arg(data.size()).arg(size).arg(ok);
        const QByteArray expected = ok ? data + QByteArray(32 - size, char(0x5A))
                                       : QByteArray(32, char(0x5A));
        if (area != expected)
            return QStringLiteral("copyExact(%1 bytes into %2) left %3")
                .arg(data.size()).arg(size).arg(hexOf(area));
    }
    return QString();
}

QString checkServerAddressRead(const QByteArray &data)
{
    ServerAddress record;
    std::memset(&record, 0xA5, sizeof record);
    const bool ok = Frame::parseServerAddress(data, record);
    if (ok != (data.size() <= 137))
        return QStringLiteral("parseServerAddress(%1 bytes) returned %2").arg(data.size()).arg(ok);
    if (ok && bytesOf(record) != data + QByteArray(137 - data.size(), '\0'))
        return QStringLiteral("parseServerAddress left %1").arg(hexOf(bytesOf(record)));
    return QString();
}

QString checkGprsRead(const QByteArray &data)
{
    GprsSettings record;
    std::memset(&record, 0xA5, sizeof record);
    const bool ok = Frame::parseGprsSettings(data, record);
    QByteArray expected;
    if (ok != unpackGprs(data, expected))
        return QStringLiteral("parseGprsSettings(%1) returned %2").arg(hexOf(data)).arg(ok);
    if (!ok)
        return QString();
    if (bytesOf(record) != expected)
        return QStringLiteral("parseGprsSettings(%1) left %2").arg(hexOf(data), hexOf(bytesOf(record)));
    // What was read can be written back, and the write reads back as the same strings.
    GprsSettings copy = record;
    const QByteArray request = Frame::gprsWriteRequest(copy);
    GprsSettings again;
    if (!Frame::parseGprsSettings(request, again))
        return QStringLiteral("the write request %1 does not read back").arg(hexOf(request));
    // Byte for byte the same, unless a string carried a zero byte, where the write stops.
    bool zeroInside = false;
    const int gprsSlots[][2] = {{3, 32}, {37, 32}, {71, 32}, {105, 8}};
    for (const auto &slot : gprsSlots)
        zeroInside |= textLength(expected.mid(slot[0]), slot[1]) != quint8(expected.at(slot[0] - 1));
    if (!zeroInside && request.mid(2) != data.mid(2))
        return QStringLiteral("read %1, wrote back %2").arg(hexOf(data), hexOf(request));
    return QString();
}

QString checkGprsWrite(const QByteArray &data)
{
    GprsSettings record;
    fill(record, data.left(int(sizeof record)) + QByteArray(qMax(0, int(sizeof record) - data.size()), '\0'));
    const QByteArray before = bytesOf(record);
    const QByteArray request = Frame::gprsWriteRequest(record);
    if (request != writeRequestData(WriteGprs, before))
        return QStringLiteral("gprsWriteRequest(%1) gave %2").arg(hexOf(before), hexOf(request));
    if (request.size() > 110)
        return QStringLiteral("a %1-byte GPRS request").arg(request.size());
    GprsSettings back;
    if (!Frame::parseGprsSettings(request, back))
        return QStringLiteral("the GPRS request %1 does not read back").arg(hexOf(request));
    return checkWrittenRecord(WriteGprs, bytesOf(record));
}

QString checkServerAddressWrite(const QByteArray &data)
{
    ServerAddress record;
    fill(record, data.left(int(sizeof record)) + QByteArray(qMax(0, int(sizeof record) - data.size()), '\0'));
    const QByteArray before = bytesOf(record);
    const QByteArray request = Frame::serverAddressWriteRequest(record);
    if (request != writeRequestData(WriteServerAddress, before))
        return QStringLiteral("serverAddressWriteRequest(%1) gave %2").arg(hexOf(before), hexOf(request));
    if (request.size() > 136)
        return QStringLiteral("a %1-byte server address request").arg(request.size());
    return checkWrittenRecord(WriteServerAddress, bytesOf(record));
}

QString checkResultAndValue(const QByteArray &data)
{
    const bool ok = data.isEmpty() || data.at(0) == '\0';
    if (Frame::resultOk(data) != ok)
        return QStringLiteral("resultOk(%1) is %2").arg(hexOf(data)).arg(!ok);
    const bool confirmed = !data.isEmpty() && data.at(0) == '\0';
    if (Frame::writeConfirmed(data) != confirmed)
        return QStringLiteral("writeConfirmed(%1) is %2").arg(hexOf(data)).arg(!confirmed);
    const bool whole = !data.isEmpty() && (data.at(0) != '\0' || data.size() > 1);
    const int value = whole && confirmed ? quint8(data.at(1)) : -1;
    int got = -2;
    if (Frame::testValue(data, got) != whole || got != value)
        return QStringLiteral("testValue(%1) gave %2 and %3, expected %4 and %5")
            .arg(hexOf(data)).arg(!whole).arg(got).arg(whole).arg(value);
    return QString();
}

QString checkStatusPart(const QByteArray &data)
{
    const QString text = Frame::statusPartText(data);
    const QString expected = decode1251(data.mid(1));
    if (text != expected)
        return QStringLiteral("statusPartText(%1) is \"%2\"").arg(hexOf(data), text);
    // A single-byte code page: one character per byte, zero bytes included.
    if (text.size() != qMax(0, data.size() - 1))
        return QStringLiteral("statusPartText(%1) has %2 characters").arg(hexOf(data)).arg(text.size());
    return QString();
}

} // namespace

QString frame(const QByteArray &input)
{
    if (input.isEmpty())
        return QString();
    const QByteArray data = input.mid(1);
    switch (FrameFunction(quint8(input.at(0)) % FrameFunctionCount)) {
    case RequestFrame: return checkRequestFrame(data);
    case CopyExact: return checkCopyExact(data);
    case ServerAddressRead: return checkServerAddressRead(data);
    case GprsRead: return checkGprsRead(data);
    case GprsWrite: return checkGprsWrite(data);
    case ServerAddressWrite: return checkServerAddressWrite(data);
    case ResultAndValue: return checkResultAndValue(data);
    case StatusPart: return checkStatusPart(data);
    case FrameFunctionCount: break;
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------
// The simulated unit.

namespace {

constexpr quint8 WithFaults = 0x01;
constexpr quint8 WithState = 0x02;
constexpr quint8 WithScript = 0x04;     // run the configurator's usual requests first
constexpr int MaxFaultLines = 16;
constexpr int MaxChunks = 16;

// Allocations made while one of these lives are not reported as leaks.
struct LeaksIgnored
{
#ifdef FUZZ_WITH_LSAN
    LeaksIgnored() { __lsan_disable(); }
    ~LeaksIgnored() { __lsan_enable(); }
#else
    LeaksIgnored() {}
#endif
    Q_DISABLE_COPY(LeaksIgnored)
};

// The bytes up to the next zero byte (which is dropped), or all that is left.
QByteArray section(const QByteArray &input, int &pos)
{
    const int end = input.indexOf('\0', pos);
    const QByteArray bytes = input.mid(pos, end < 0 ? -1 : end - pos);
    pos = end < 0 ? input.size() : end + 1;
    return bytes;
}

QString checkFault(const QString &line)
{
    UnitFault fault;
    QString error;
    if (!UnitFault::parse(line, &fault, &error))
        return error.isEmpty() ? QStringLiteral("fault \"%1\" refused without a reason").arg(line)
                               : QString();
    UnitFault again;
    if (!UnitFault::parse(fault.toString(), &again, &error))
        return QStringLiteral("fault \"%1\" prints as \"%2\", which is refused: %3")
            .arg(line, fault.toString(), error);
    if (again.kind != fault.kind || again.value != fault.value || again.command != fault.command
        || again.argument != fault.argument)
        return QStringLiteral("fault \"%1\" prints as \"%2\", which reads differently")
            .arg(line, fault.toString());
    return QString();
}

QString checkState(const UnitState &state)
{
    for (auto it = state.groups.begin(); it != state.groups.end(); ++it) {
        if (it.value().size() > 255)
            return QStringLiteral("group %1 holds %2 bytes, more than a frame carries")
                .arg(it.key()).arg(it.value().size());
    }
    for (const QList<QByteArray> *parts : {&state.unitStatus, &state.modemStatus}) {
        for (const QByteArray &part : *parts) {
            if (part.size() > 254)
                return QStringLiteral("a %1-byte status part").arg(part.size());
        }
    }
    for (auto it = state.testResponses.begin(); it != state.testResponses.end(); ++it) {
        if (it.value().size() > 255)
            return QStringLiteral("a %1-byte test answer").arg(it.value().size());
    }
    return QString();
}

// Without faults every request is answered with NAK alone, or ACK and one well-formed frame.
QString checkAnswers(const QList<UnitAction> &actions)
{
    QByteArray line;
    for (const UnitAction &action : actions) {
        if (action.delayMs != 0)
            return QStringLiteral("a %1 ms pause without any fault").arg(action.delayMs);
        line += action.bytes;
    }
    int pos = 0;
    while (pos < line.size()) {
        const quint8 first = quint8(line.at(pos++));
        if (first == 0x15)
            continue;
        if (first != 0x06)
            return QStringLiteral("answer starts with %1").arg(hexOf(line.mid(pos - 1, 1)));
        if (line.size() - pos < 3 || line.at(pos) != '\x02')
            return QStringLiteral("ACK without a frame: %1").arg(hexOf(line.mid(pos)));
        const int length = quint8(line.at(pos + 1));
        if (line.size() - pos < length + 3)
            return QStringLiteral("frame cut short: %1").arg(hexOf(line.mid(pos)));
        const QByteArray frame = line.mid(pos, length + 3);
        if (frame != wireFrame(frame.mid(2, length)))
            return QStringLiteral("malformed frame %1").arg(hexOf(frame));
        pos += length + 3;
    }
    return QString();
}

QString checkLog(const QList<QByteArray> &requests)
{
    for (const QByteArray &request : requests) {
        if (request.size() < 3 || request.at(0) != '\x02'
            || request.size() != quint8(request.at(1)) + 3)
            return QStringLiteral("logged request %1 is not a whole frame").arg(hexOf(request));
    }
    return QString();
}

// The configurator's usual conversation: every read, both status texts to the end, both tests.
QByteArray usualRequests(const UnitState &state)
{
    QByteArray script = hex("02 02 07 04 01 02 02 07 06 03 02 02 07 07 02 02 02 07 08 0D"
                            "02 02 07 09 0C 02 02 07 0A 0F 02 02 58 01 5B 02 02 58 02 58");
    script += hex("02 01 55 54");
    for (int i = 0; i < qMin(state.unitStatus.size(), 300); ++i)
        script += hex("02 01 05 04");
    script += hex("02 01 56 57");
    for (int i = 0; i < qMin(state.modemStatus.size(), 300); ++i)
        script += hex("02 01 05 04");
    return script;
}

} // namespace

QString unitEngine(const QByteArray &input)
{
    if (input.isEmpty())
        return QString();
    const quint8 flags = quint8(input.at(0));
    int pos = 1;

    UnitState state = UnitState::builtIn();
    if (flags & WithState) {
        QString error;
        UnitState loaded;
        bool loadedOk = false;
        {
            // Qt 5.15's JSON parser leaks the first value of a key that appears twice in one
            // object when that value is an array or an object. Not ours to free; the state
            // reader's own allocations are all owned values, and its leaks would still show in
            // the sanitizer run of the ordinary tests.
            LeaksIgnored qtJsonParser;
            loadedOk = UnitState::fromJson(section(input, pos), &loaded, &error);
        }
        if (!loadedOk) {
            if (error.isEmpty())
                return QStringLiteral("state refused without a reason");
        } else {
            const QString fault = checkState(loaded);
            if (!fault.isEmpty())
                return QStringLiteral("loaded state: ") + fault;
            state = loaded;
        }
    }

    UnitEngine whole(state);
    UnitEngine chunked(state);
    if (flags & WithFaults) {
        const QList<QByteArray> lines = section(input, pos).split('\n');
        for (int i = 0; i < qMin(lines.size(), MaxFaultLines); ++i) {
            const QString line = QString::fromLatin1(lines.at(i));
            const QString problem = checkFault(line);
            if (!problem.isEmpty())
                return problem;
            whole.addFault(line);
            chunked.addFault(line);
        }
    }

    QList<int> cuts;
    const int chunkCount = pos < input.size() ? quint8(input.at(pos++)) % MaxChunks : 0;
    for (int i = 0; i < chunkCount && pos < input.size(); ++i)
        cuts.append(quint8(input.at(pos++)));
    QByteArray stream = input.mid(pos);
    if (flags & WithScript)
        stream.prepend(usualRequests(state));

    const QList<UnitAction> answers = whole.feed(stream);
    QList<UnitAction> pieces;
    int from = 0;
    for (int cut : cuts) {
        pieces += chunked.feed(stream.mid(from, cut));
        from += cut;
    }
    pieces += chunked.feed(stream.mid(from));

    if (answers != pieces)
        return QStringLiteral("answers depend on the chunking: %1 actions whole, %2 in pieces")
            .arg(answers.size()).arg(pieces.size());
    if (whole.requests() != chunked.requests())
        return QStringLiteral("the request log depends on the chunking");
    if (whole.state() != chunked.state())
        return QStringLiteral("the unit's settings depend on the chunking");
    if (whole.hasPartialInput() != chunked.hasPartialInput())
        return QStringLiteral("the leftover input depends on the chunking");
    const QString log = checkLog(whole.requests());
    if (!log.isEmpty())
        return log;
    if (whole.faults().isEmpty())
        return checkAnswers(answers);
    return QString();
}

} // namespace FuzzEntry
