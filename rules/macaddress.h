#ifndef MACADDRESS_H
#define MACADDRESS_H

#include <QString>
#include <QtGlobal>

#include <optional>

// A unit's Ethernet MAC address: six bytes, written as dash-separated hex (00-1a-2b-3c-4d-5e)
// in the form, the profile and the settings file, sent as the bytes of the MAC record.
class MacAddress
{
public:
    static constexpr int Size = 6;

    // Six numbers 0..ff in hex joined by '-' (a digit alone or either case will do, as the
    // form has always taken them), or nothing.
    static std::optional<MacAddress> parse(const QString &text);
    static MacAddress fromBytes(const quint8 *bytes);

    // Lower-case, two digits a byte.
    QString text() const;
    void toBytes(quint8 *bytes) const;

    // The address after this one, carrying into the bytes before; ff-ff-ff-ff-ff-ff is
    // followed by 00-00-00-00-00-00.
    MacAddress next() const;

    // No unit may have these: 00-00-00-00-00-00, ff-ff-ff-ff-ff-ff, and a multicast address
    // (the lowest bit of the first byte set).
    bool isAllZeros() const { return number == 0; }
    bool isAllOnes() const { return number == AllOnes; }
    bool isMulticast() const { return (number >> 40) & 1; }
    // The last address of the maker's block (the first three bytes): the next one leaves it.
    bool endsBlock() const { return (number & 0xFFFFFF) == 0xFFFFFF; }

    bool operator==(const MacAddress &other) const { return number == other.number; }
    bool operator<(const MacAddress &other) const { return number < other.number; }
    bool operator>(const MacAddress &other) const { return number > other.number; }

private:
    static constexpr quint64 AllOnes = 0xFFFFFFFFFFFFull;

    // The six bytes as one 48-bit number, so that ranges compare as numbers.
    quint64 number = 0;
};

#endif // MACADDRESS_H
