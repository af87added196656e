#ifndef RECORDS_H
#define RECORDS_H

#include <QtEndian>
#include <QtGlobal>
#include <type_traits>

// The unit's parameter records, laid out byte for byte as the data of its frames. Every field is
// a byte or an array of bytes, so the compiler adds no padding and the layout does not depend on
// the host; 16-bit fields are little-endian and go through le16()/setLe16(), never a cast.
// Byte 0 of every record is where a write puts its command code.

inline quint16 le16(const quint8 *field) { return qFromLittleEndian<quint16>(field); }
inline void setLe16(quint8 *field, quint16 value) { qToLittleEndian<quint16>(value, field); }

// Group 6, command 0x60.
struct TimeoutSettings {
    quint8 command;
    quint8 fullTimeout[2];      // ms
    quint8 commandTimeout[2];   // ms
    quint8 retryPeriod[2];      // s
};

// Group 7, command 0x62. Only 8 + URL length bytes are sent on write.
struct ServerAddress {
    quint8 command;
    quint8 ip[4];
    quint8 port[2];
    quint8 urlLength;
    quint8 url[129];            // UTF-8, zero-padded; at most 128 bytes on write
};

// Group 8, command 0x63. On the wire the strings are length-prefixed and packed; here each has a
// fixed, zero-terminated slot.
struct GprsSettings {
    quint8 command;
    quint8 reserved;
    quint8 apnLength;
    quint8 apn[33];
    quint8 loginLength;
    quint8 login[33];
    quint8 passwordLength;
    quint8 password[33];
    quint8 balanceCodeLength;
    quint8 balanceCode[9];
};

// Group 9, command 0x65. The write sends bytes 0 to 18; the MAC has its own command.
struct EthernetSettings {
    quint8 command;
    quint8 reserved;
    quint8 ip[4];
    quint8 mask[4];
    quint8 gateway[4];
    quint8 dns[4];
    quint8 dhcp;                // 0 off, anything else on
    quint8 mac[6];
};

// Group 4, read only.
struct CashDeskState {
    quint8 unitState[15];       // meaningful to the unit only
    quint8 cashDeskId[5];       // BCD, least significant byte first
    quint8 serverToken[5];      // BCD, least significant byte first
};

// Group 10, command 0x67.
struct ChannelPriority {
    quint8 command;
    quint8 priority;            // 0..3
};

// Command 0x61.
struct TokenRecord {
    quint8 command;
    quint8 token[5];
};

// Command 0x64.
struct CashDeskIdRecord {
    quint8 command;
    quint8 cashDeskId[5];
};

// Command 0x69.
struct MacRecord {
    quint8 command;
    quint8 mac[6];
};

// Bytes of the Ethernet record that its write sends: everything before the MAC.
constexpr int EthernetSettingsWriteSize = 19;

#define TALLY_CHECK_RECORD(Type, size)                                                   \
    static_assert(sizeof(Type) == (size), #Type " must be exactly " #size " bytes");     \
    static_assert(std::is_trivially_copyable<Type>::value && alignof(Type) == 1,          \
                  #Type " must be a plain byte layout")

TALLY_CHECK_RECORD(TimeoutSettings, 7);
TALLY_CHECK_RECORD(ServerAddress, 137);
TALLY_CHECK_RECORD(GprsSettings, 114);
TALLY_CHECK_RECORD(EthernetSettings, 25);
TALLY_CHECK_RECORD(CashDeskState, 25);
TALLY_CHECK_RECORD(ChannelPriority, 2);
TALLY_CHECK_RECORD(TokenRecord, 6);
TALLY_CHECK_RECORD(CashDeskIdRecord, 6);
TALLY_CHECK_RECORD(MacRecord, 7);

#undef TALLY_CHECK_RECORD

#endif // RECORDS_H
