#include "valuerules.h"

#include "fieldtext.h"
#include "macaddress.h"
#include "protocol.h"

#include <QByteArray>

#include <cstring>

namespace {

struct GroupInfo {
    WriteGroup group;
    const char *name;
    const char *failure;
};

const GroupInfo groupTable[] = {
    {WriteGroup::Timeouts, "timeouts", "Не удается записать значения тайм-аутов"},
    {WriteGroup::Token, "token", "Не удается записать токен"},
    {WriteGroup::ServerAddress, "server", "Не удается записать адрес сервера"},
    {WriteGroup::Gprs, "gprs", "Не удается записать настройки GPRS"},
    {WriteGroup::Ethernet, "ethernet", "Не удается записать настройки Ethernet"},
    {WriteGroup::Mac, "mac", "Не удается записать MAC-адрес"},
    {WriteGroup::Priority, "priority", "Не удается записать приоритет каналов"},
    {WriteGroup::CashDeskId, "cashdesk", "Не удается записать ID ККМ"},
};

const GroupInfo &info(WriteGroup group)
{
    for (const GroupInfo &entry : groupTable) {
        if (entry.group == group)
            return entry;
    }
    Q_UNREACHABLE();
    return groupTable[0];
}

// Checks one group's fields in order, remembering the first one that fails.
class GroupCheck
{
public:
    GroupCheck(const Profile &values, Rejection &firstRejection)
        : profile(values), rejection(firstRejection)
    {
    }

    QString text(const char *key) const { return profile.value(QLatin1String(key)); }

    bool reject(const char *key, const QString &message)
    {
        rejection.key = QLatin1String(key);
        rejection.message = message;
        return false;
    }

    // Time-outs and the port are unsigned 16-bit on the unit; a read shows them so, and a value
    // written here must read back the same.
    bool u16(const char *key, quint8 *field, const QString &message)
    {
        bool ok = false;
        const quint16 value = text(key).toUShort(&ok, 10);
        if (!ok)
            return reject(key, message);
        setLe16(field, value);
        return true;
    }

    bool address(const char *key, quint8 *destination, const QString &message)
    {
        return textToBytes(text(key), QLatin1Char('.'), destination, 4, 10) || reject(key, message);
    }

    // The unit keeps its strings as UTF-8 and its limits count bytes, so a field of 32 Cyrillic
    // letters is too long although the field let the engineer type it. The record is zeroed
    // beforehand, which gives the string its terminator.
    bool utf8(const char *key, quint8 *slot, int maxBytes, const QString &message)
    {
        const QByteArray bytes = text(key).toUtf8();
        if (bytes.size() > maxBytes)
            return reject(key, message);
        std::memcpy(slot, bytes.constData(), size_t(bytes.size()));
        return true;
    }

    bool bcd(const char *key, quint8 *destination, int count, const QString &message)
    {
        return textToBcd(text(key), destination, count) || reject(key, message);
    }

private:
    const Profile &profile;
    Rejection &rejection;
};

bool encodeGroup(GroupCheck &check, const Profile &profile, WriteGroup group, WriteRecords &records)
{
    switch (group) {
    case WriteGroup::Timeouts: {
        TimeoutSettings &record = records.timeouts = {};
        return check.u16(ProfileKey::FullTimeout, record.fullTimeout,
                         QStringLiteral("Некорректное значение полного тайм-аута"))
            && check.u16(ProfileKey::CommandTimeout, record.commandTimeout,
                         QStringLiteral("Некорректное значение тайм-аута команды"))
            && check.u16(ProfileKey::RetryTimeout, record.retryPeriod,
                         QStringLiteral("Некорректное значение периода повторной попытки"));
    }
    case WriteGroup::Token: {
        TokenRecord &record = records.token = {};
        return check.bcd(ProfileKey::ServerToken, record.token, int(sizeof record.token),
                         QStringLiteral("Некорректное значение токен"));
    }
    case WriteGroup::ServerAddress: {
        ServerAddress &record = records.serverAddress = {};
        return check.address(ProfileKey::IPsrv, record.ip,
                             QStringLiteral("Некорректное значение IP-адреса"))
            && check.utf8(ProfileKey::URLaddr, record.url, Protocol::MaxUrlBytes,
                          QStringLiteral("Слишком длинный URL"))
            && check.u16(ProfileKey::Port, record.port,
                         QStringLiteral("Некорректное значение порта сервера"));
    }
    case WriteGroup::Gprs: {
        GprsSettings &record = records.gprs = {};
        // The APN message begins with a Latin C, unlike the URL one; keep it so.
        return check.utf8(ProfileKey::APN, record.apn, Protocol::MaxGprsStringBytes,
                          QStringLiteral("Cлишком длинный APN"))
            && check.utf8(ProfileKey::Login, record.login, Protocol::MaxGprsStringBytes,
                          QStringLiteral("Логин GPRS - слишком длинный"))
            && check.utf8(ProfileKey::Password, record.password, Protocol::MaxGprsStringBytes,
                          QStringLiteral("Пароль GPRS - слишком длинный"))
            && check.utf8(ProfileKey::BalanceCode, record.balanceCode, Protocol::MaxBalanceCodeBytes,
                          QStringLiteral("USSD баланса - слишком длинный"));
    }
    case WriteGroup::Ethernet: {
        // DHCP on does not excuse the addresses: all four are checked and sent in any case.
        EthernetSettings &record = records.ethernet = {};
        record.dhcp = profile.useDhcp() ? 1 : 0;
        return check.address(ProfileKey::EthIP, record.ip,
                             QStringLiteral("Некорректное значение IP-адреса"))
            && check.address(ProfileKey::EthMask, record.mask,
                             QStringLiteral("Некорректное значение маски сети"))
            && check.address(ProfileKey::Gateway, record.gateway,
                             QStringLiteral("Некорректное значение адреса шлюза"))
            && check.address(ProfileKey::DNSaddr, record.dns,
                             QStringLiteral("Некорректное значение DNS"));
    }
    case WriteGroup::Mac: {
        static_assert(sizeof(MacRecord::mac) == MacAddress::Size, "the MAC record holds one address");
        MacRecord &record = records.mac = {};
        const std::optional<MacAddress> mac = MacAddress::parse(check.text(ProfileKey::EthMAC));
        if (!mac)
            return check.reject(ProfileKey::EthMAC, QStringLiteral("Некорректное значение MAC-адреса"));
        mac->toBytes(record.mac);
        return true;
    }
    case WriteGroup::Priority: {
        // A failed read-all or a stored index beyond the list leaves no priority chosen;
        // sending that as a byte would give the unit a priority it does not know.
        ChannelPriority &record = records.priority = {};
        const int index = profile.priority();
        if (index < 0)
            return check.reject(ProfileKey::Priority, QStringLiteral("Не выбран приоритет каналов"));
        record.priority = quint8(index);
        return true;
    }
    case WriteGroup::CashDeskId: {
        CashDeskIdRecord &record = records.cashDeskId = {};
        return check.bcd(ProfileKey::CashDeskID, record.cashDeskId, int(sizeof record.cashDeskId),
                         QStringLiteral("Некорректное значение ID ККМ"));
    }
    }
    return false;
}

// Text of a fixed, zero-padded string slot of a record: UTF-8 up to the first NUL, never past
// the slot. Bytes that are not UTF-8 are kept beside the text.
void putSlotText(Profile &profile, const char *key, const quint8 *slot, int size)
{
    const char *text = reinterpret_cast<const char *>(slot);
    const QByteArray bytes(text, int(qstrnlen(text, uint(size))));
    profile.setValue(QLatin1String(key), QString::fromUtf8(bytes));
    if (firstNonUtf8Byte(bytes) >= 0)
        profile.setNonUtf8Bytes(QLatin1String(key), bytes);
}

QString ipText(const quint8 *address)
{
    return bytesToText(address, 4, QLatin1Char('.'), 10);
}

QString macText(const quint8 *mac)
{
    return MacAddress::fromBytes(mac).text();
}

QString u16Text(const quint8 *field)
{
    return QString::number(le16(field));
}

} // namespace

const QList<WriteGroup> &writeAllOrder()
{
    static const QList<WriteGroup> order = [] {
        QList<WriteGroup> groups;
        for (const GroupInfo &entry : groupTable)
            groups << entry.group;
        return groups;
    }();
    return order;
}

QString writeGroupName(WriteGroup group)
{
    return QLatin1String(info(group).name);
}

QStringList writeGroupKeys(WriteGroup group)
{
    QStringList keys = Profile::keys(group);
    // The one place the check leaves the file's order: UseDHCP is checked before DNSaddr, so a
    // profile short of both is refused for UseDHCP, and --verify names UseDHCP first.
    if (group == WriteGroup::Ethernet)
        keys.move(keys.indexOf(QLatin1String(ProfileKey::UseDHCP)),
                  keys.indexOf(QLatin1String(ProfileKey::DNSaddr)));
    return keys;
}

QString writeFailureMessage(WriteGroup group)
{
    return QString::fromUtf8(info(group).failure);
}

QString writeDoneMessage()
{
    return QStringLiteral("Параметры успешно записаны");
}

bool encodeGroups(const Profile &profile, const QList<WriteGroup> &groups, WriteRecords &records,
                  Rejection &rejection)
{
    rejection = Rejection();
    GroupCheck check(profile, rejection);
    for (WriteGroup group : groups) {
        if (!encodeGroup(check, profile, group, records))
            return false;
    }
    return true;
}

void putTimeouts(const TimeoutSettings &record, Profile &profile)
{
    profile.setValue(QLatin1String(ProfileKey::FullTimeout), u16Text(record.fullTimeout));
    profile.setValue(QLatin1String(ProfileKey::CommandTimeout), u16Text(record.commandTimeout));
    profile.setValue(QLatin1String(ProfileKey::RetryTimeout), u16Text(record.retryPeriod));
}

void putServerAddress(const ServerAddress &record, Profile &profile)
{
    profile.setValue(QLatin1String(ProfileKey::IPsrv), ipText(record.ip));
    // The length byte comes from the unit; the slot ends where the record ends, whatever it says.
    putSlotText(profile, ProfileKey::URLaddr, record.url,
                qMin<int>(record.urlLength, int(sizeof record.url)));
    profile.setValue(QLatin1String(ProfileKey::Port), u16Text(record.port));
}

// The Ethernet group without its MAC, which has a write of its own.
static void putEthernetAddresses(const EthernetSettings &record, Profile &profile)
{
    profile.setValue(QLatin1String(ProfileKey::EthIP), ipText(record.ip));
    profile.setValue(QLatin1String(ProfileKey::EthMask), ipText(record.mask));
    profile.setValue(QLatin1String(ProfileKey::Gateway), ipText(record.gateway));
    profile.setUseDhcp(record.dhcp != 0);
    profile.setValue(QLatin1String(ProfileKey::DNSaddr), ipText(record.dns));
}

void putEthernetSettings(const EthernetSettings &record, Profile &profile)
{
    profile.setValue(QLatin1String(ProfileKey::EthMAC), macText(record.mac));
    putEthernetAddresses(record, profile);
}

void putCashDeskState(const CashDeskState &record, Profile &profile)
{
    profile.setValue(QLatin1String(ProfileKey::CashDeskID),
                     bcdToText(record.cashDeskId, int(sizeof record.cashDeskId)));
    profile.setValue(QLatin1String(ProfileKey::ServerToken),
                     bcdToText(record.serverToken, int(sizeof record.serverToken)));
}

void putChannelPriority(const ChannelPriority &record, Profile &profile)
{
    profile.setPriority(record.priority);
}

void putGprsSettings(const GprsSettings &record, Profile &profile)
{
    putSlotText(profile, ProfileKey::APN, record.apn, int(sizeof record.apn));
    putSlotText(profile, ProfileKey::Login, record.login, int(sizeof record.login));
    putSlotText(profile, ProfileKey::Password, record.password, int(sizeof record.password));
    putSlotText(profile, ProfileKey::BalanceCode, record.balanceCode, int(sizeof record.balanceCode));
}

Profile sentValues(const WriteRecords &records, const QList<WriteGroup> &groups)
{
    Profile sent;
    for (WriteGroup group : groups) {
        switch (group) {
        case WriteGroup::Timeouts:
            putTimeouts(records.timeouts, sent);
            break;
        case WriteGroup::Token:
            sent.setValue(QLatin1String(ProfileKey::ServerToken),
                          bcdToText(records.token.token, int(sizeof records.token.token)));
            break;
        case WriteGroup::ServerAddress: {
            // The URL's length byte is only set when the request is built; the text ends at
            // its terminator either way.
            ServerAddress record = records.serverAddress;
            record.urlLength = quint8(qstrnlen(reinterpret_cast<const char *>(record.url),
                                               Protocol::MaxUrlBytes));
            putServerAddress(record, sent);
            break;
        }
        case WriteGroup::Gprs:
            putGprsSettings(records.gprs, sent);
            break;
        case WriteGroup::Ethernet:
            putEthernetAddresses(records.ethernet, sent);
            break;
        case WriteGroup::Mac:
            sent.setValue(QLatin1String(ProfileKey::EthMAC), macText(records.mac.mac));
            break;
        case WriteGroup::Priority:
            putChannelPriority(records.priority, sent);
            break;
        case WriteGroup::CashDeskId:
            sent.setValue(QLatin1String(ProfileKey::CashDeskID),
                          bcdToText(records.cashDeskId.cashDeskId, int(sizeof records.cashDeskId.cashDeskId)));
            break;
        }
    }
    return sent;
}

bool nextMac(const QString &mac, QString &next)
{
    const std::optional<MacAddress> address = MacAddress::parse(mac);
    if (!address)
        return false;
    next = address->next().text();
    return true;
}

namespace {

// Why the address is not one a unit may have, or an empty text.
QString notAUnitsMac(const QString &mac, const MacAddress &address)
{
    if (address.isAllZeros())
        return QStringLiteral("%1 is the all-zero address, which no unit may have").arg(mac);
    if (address.isAllOnes())
        return QStringLiteral("%1 is the broadcast address, which no unit may have").arg(mac);
    if (address.isMulticast())
        return QStringLiteral("%1 is a multicast address (the lowest bit of its first byte is set), "
                              "which no unit may have").arg(mac);
    return QString();
}

MacPlace outside(Rejection &rejection, const char *key, const QString &message)
{
    rejection.key = QLatin1String(key);
    rejection.message = message;
    return MacPlace::Outside;
}

} // namespace

MacPlace macPlace(const QString &mac, bool movesOn, bool hasLastMac, const QString &lastMac,
                  Rejection &rejection)
{
    rejection = Rejection();
    const std::optional<MacAddress> address = MacAddress::parse(mac);
    if (!address)
        return outside(rejection, ProfileKey::EthMAC, QStringLiteral("\"%1\" is no MAC address").arg(mac));
    const QString notUnicast = notAUnitsMac(mac, *address);
    if (!notUnicast.isEmpty())
        return outside(rejection, ProfileKey::EthMAC, notUnicast);
    if (!movesOn)
        return MacPlace::Inside;

    if (!hasLastMac) {
        if (!address->endsBlock())
            return MacPlace::Inside;
        return outside(rejection, ProfileKey::EthMAC,
                       QStringLiteral("%1 is the last address of the block %2; the next one would "
                                      "leave it. To go on past it, set LastMAC in the profile to the "
                                      "last address the series may give")
                           .arg(mac, mac.section(QLatin1Char('-'), 0, 2)));
    }
    const std::optional<MacAddress> last = MacAddress::parse(lastMac);
    if (!last)
        return outside(rejection, ProfileKey::LastMAC,
                       QStringLiteral("\"%1\" is no MAC address like 00-1a-2b-3c-4d-5e").arg(lastMac));
    const QString lastNotUnicast = notAUnitsMac(lastMac, *last);
    if (!lastNotUnicast.isEmpty())
        return outside(rejection, ProfileKey::LastMAC, lastNotUnicast);
    if (*address > *last)
        return outside(rejection, ProfileKey::EthMAC,
                       QStringLiteral("%1 is past LastMAC %2: the range up to LastMAC is used up")
                           .arg(mac, lastMac));
    return *address == *last ? MacPlace::Last : MacPlace::Inside;
}
