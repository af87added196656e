#include "macaddress.h"

#include "fieldtext.h"

std::optional<MacAddress> MacAddress::parse(const QString &text)
{
    quint8 bytes[Size];
    if (!textToBytes(text, QLatin1Char('-'), bytes, Size, 16))
        return std::nullopt;
    return fromBytes(bytes);
}

MacAddress MacAddress::fromBytes(const quint8 *bytes)
{
    MacAddress mac;
    for (int i = 0; i < Size; ++i)
        mac.number = mac.number << 8 | bytes[i];
    return mac;
}

void MacAddress::toBytes(quint8 *bytes) const
{
    for (int i = 0; i < Size; ++i)
        bytes[i] = quint8(number >> (8 * (Size - 1 - i)));
}

QString MacAddress::text() const
{
    quint8 bytes[Size];
    toBytes(bytes);
    return bytesToText(bytes, Size, QLatin1Char('-'), 16);
}

MacAddress MacAddress::next() const
{
    MacAddress after;
    after.number = (number + 1) & AllOnes;
    return after;
}
