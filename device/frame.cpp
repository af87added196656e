#include "frame.h"

#include "protocol.h"
#include "windows1251.h"

#include <cstddef>
#include <cstring>

namespace Frame {

quint8 checksum(const QByteArray &data)
{
    quint8 sum = quint8(data.size());
    for (char byte : data)
        sum ^= quint8(byte);
    return sum;
}

QByteArray request(const QByteArray &data)
{
    if (data.size() > Protocol::MaxFrameData)
        return QByteArray();
    QByteArray frame;
    frame.reserve(data.size() + 3);
    frame.append(char(Protocol::Stx));
    frame.append(char(quint8(data.size())));
    frame.append(data);
    frame.append(char(checksum(data)));
    return frame;
}

QByteArray readGroupRequest(quint8 group)
{
    QByteArray data;
    data.append(char(Protocol::CmdReadGroup));
    data.append(char(group));
    return data;
}

bool copyExact(const QByteArray &data, quint8 *record, int recordSize)
{
    if (data.size() != recordSize)
        return false;
    std::memcpy(record, data.constData(), size_t(recordSize));
    return true;
}

bool parseServerAddress(const QByteArray &data, ServerAddress &record)
{
    std::memset(&record, 0, sizeof record);
    if (data.size() > int(sizeof record))
        return false;
    std::memcpy(&record, data.constData(), size_t(data.size()));
    return true;
}

namespace {

// Walks the packed GPRS answer; every step checks that the bytes it takes are there.
class PackedReader
{
public:
    explicit PackedReader(const QByteArray &data) : bytes(data) {}

    bool takeByte(quint8 &byte)
    {
        if (position >= bytes.size())
            return false;
        byte = quint8(bytes.at(position++));
        return true;
    }

    // A length byte, then that many bytes into the slot (which keeps room for its zero).
    bool takeString(quint8 &length, quint8 *slot, int limit)
    {
        if (!takeByte(length) || length > limit || length > bytes.size() - position)
            return false;
        std::memcpy(slot, bytes.constData() + position, length);
        position += length;
        return true;
    }

    bool atEnd() const { return position == bytes.size(); }

private:
    const QByteArray &bytes;
    int position = 0;
};

// Length of the zero-terminated text in a slot, never beyond `limit`.
quint8 slotLength(const quint8 *slot, int limit)
{
    const void *zero = std::memchr(slot, 0, size_t(limit));
    return quint8(zero ? static_cast<const quint8 *>(zero) - slot : limit);
}

void appendSlot(QByteArray &data, quint8 &length, const quint8 *slot, int limit)
{
    length = slotLength(slot, limit);
    data.append(char(length));
    data.append(reinterpret_cast<const char *>(slot), length);
}

} // namespace

bool parseGprsSettings(const QByteArray &data, GprsSettings &record)
{
    std::memset(&record, 0, sizeof record);
    PackedReader reader(data);
    return reader.takeByte(record.command)
        && reader.takeByte(record.reserved)
        && reader.takeString(record.apnLength, record.apn, Protocol::MaxGprsStringBytes)
        && reader.takeString(record.loginLength, record.login, Protocol::MaxGprsStringBytes)
        && reader.takeString(record.passwordLength, record.password,
                             Protocol::MaxGprsStringBytes)
        && reader.takeString(record.balanceCodeLength, record.balanceCode,
                             Protocol::MaxBalanceCodeBytes)
        && reader.atEnd();
}

QByteArray serverAddressWriteRequest(ServerAddress &record)
{
    record.command = Protocol::CmdWriteServerAddress;
    record.url[Protocol::MaxUrlBytes] = 0;
    record.urlLength = slotLength(record.url, Protocol::MaxUrlBytes);
    return QByteArray(reinterpret_cast<const char *>(&record),
                      int(offsetof(ServerAddress, url)) + record.urlLength);
}

QByteArray gprsWriteRequest(GprsSettings &record)
{
    record.command = Protocol::CmdWriteGprsSettings;
    QByteArray data;
    data.append(char(Protocol::CmdWriteGprsSettings));
    data.append(char(0));
    appendSlot(data, record.apnLength, record.apn, Protocol::MaxGprsStringBytes);
    appendSlot(data, record.loginLength, record.login, Protocol::MaxGprsStringBytes);
    appendSlot(data, record.passwordLength, record.password, Protocol::MaxGprsStringBytes);
    appendSlot(data, record.balanceCodeLength, record.balanceCode,
               Protocol::MaxBalanceCodeBytes);
    return data;
}

QByteArray fixedWriteRequest(quint8 command, quint8 *record, int length)
{
    record[0] = command;
    return QByteArray(reinterpret_cast<const char *>(record), length);
}

bool resultOk(const QByteArray &response)
{
    return response.isEmpty() || quint8(response.at(0)) == Protocol::ResultOk;
}

bool writeConfirmed(const QByteArray &response)
{
    return !response.isEmpty() && quint8(response.at(0)) == Protocol::ResultOk;
}

bool testValue(const QByteArray &response, int &value)
{
    value = -1;
    if (response.isEmpty())
        return false;
    if (quint8(response.at(0)) != Protocol::ResultOk)
        return true;
    if (response.size() < 2)
        return false;
    value = int(quint8(response.at(1)));
    return true;
}

QString statusPartText(const QByteArray &response)
{
    if (response.size() <= 1)
        return QString();
    return Windows1251::toUnicode(response.constData() + 1, response.size() - 1);
}

} // namespace Frame
