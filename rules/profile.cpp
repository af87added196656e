#include "profile.h"

#include "protocol.h"

#include <QSettings>
#include <QVariant>

namespace {

// Whether a key's value must be another on each unit of a series: two units with one MAC, one
// cash desk ID or one static address would clash on the station's network or at the server.
enum class PerUnit { No, Always, WhenStatic };

struct KeyInfo {
    const char *key;
    WriteGroup group;
    int maxLength;      // the window's field length; 0 for the check box and the combo box
    bool secret;        // no message, diff or journal line repeats its value
    PerUnit perUnit;
};

// Lengths are those of the form's line edits (mainwindowform.ui, checked against this table by
// the tests).
const KeyInfo keyTable[] = {
    {ProfileKey::FullTimeout, WriteGroup::Timeouts, 5, false, PerUnit::No},
    {ProfileKey::CommandTimeout, WriteGroup::Timeouts, 5, false, PerUnit::No},
    {ProfileKey::RetryTimeout, WriteGroup::Timeouts, 5, false, PerUnit::No},
    {ProfileKey::ServerToken, WriteGroup::Token, 10, true, PerUnit::No},
    {ProfileKey::IPsrv, WriteGroup::ServerAddress, 16, false, PerUnit::No},
    {ProfileKey::URLaddr, WriteGroup::ServerAddress, 128, false, PerUnit::No},
    {ProfileKey::Port, WriteGroup::ServerAddress, 5, false, PerUnit::No},
    {ProfileKey::APN, WriteGroup::Gprs, 32, false, PerUnit::No},
    {ProfileKey::Login, WriteGroup::Gprs, 32, false, PerUnit::No},
    {ProfileKey::Password, WriteGroup::Gprs, 32, true, PerUnit::No},
    {ProfileKey::BalanceCode, WriteGroup::Gprs, 32, false, PerUnit::No},
    {ProfileKey::EthMAC, WriteGroup::Mac, 17, false, PerUnit::Always},
    {ProfileKey::EthIP, WriteGroup::Ethernet, 16, false, PerUnit::WhenStatic},
    {ProfileKey::EthMask, WriteGroup::Ethernet, 16, false, PerUnit::No},
    {ProfileKey::Gateway, WriteGroup::Ethernet, 16, false, PerUnit::No},
    {ProfileKey::DNSaddr, WriteGroup::Ethernet, 16, false, PerUnit::No},
    {ProfileKey::UseDHCP, WriteGroup::Ethernet, 0, false, PerUnit::No},
    {ProfileKey::Priority, WriteGroup::Priority, 0, false, PerUnit::No},
    {ProfileKey::CashDeskID, WriteGroup::CashDeskId, 10, false, PerUnit::Always},
};

const KeyInfo *keyInfo(const QString &key)
{
    for (const KeyInfo &info : keyTable) {
        if (key == QLatin1String(info.key))
            return &info;
    }
    return nullptr;
}

const QString useDhcpKey = QLatin1String(ProfileKey::UseDHCP);
const QString priorityKey = QLatin1String(ProfileKey::Priority);

} // namespace

const QStringList &Profile::keys()
{
    static const QStringList list = [] {
        QStringList names;
        for (const KeyInfo &info : keyTable)
            names << QLatin1String(info.key);
        return names;
    }();
    return list;
}

QStringList Profile::keys(WriteGroup group)
{
    QStringList names;
    for (const KeyInfo &info : keyTable) {
        if (info.group == group)
            names << QLatin1String(info.key);
    }
    return names;
}

WriteGroup Profile::group(const QString &key)
{
    const KeyInfo *info = keyInfo(key);
    Q_ASSERT(info);
    return info ? info->group : WriteGroup::Timeouts;
}

int Profile::maxLength(const QString &key)
{
    const KeyInfo *info = keyInfo(key);
    return info ? info->maxLength : 0;
}

bool Profile::isSecret(const QString &key)
{
    const KeyInfo *info = keyInfo(key);
    return info && info->secret;
}

QStringList Profile::unitKeys() const
{
    QStringList keys;
    for (const KeyInfo &info : keyTable) {
        if (info.perUnit == PerUnit::Always || (info.perUnit == PerUnit::WhenStatic && !useDhcp()))
            keys << QLatin1String(info.key);
    }
    return keys;
}

bool settingsFlag(const QString &text)
{
    return QVariant(text).toBool();
}

bool Profile::useDhcp() const
{
    return settingsFlag(value(useDhcpKey));
}

void Profile::setUseDhcp(bool on)
{
    setValue(useDhcpKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

void Profile::setPriority(int index)
{
    setValue(priorityKey, QString::number(index));
}

int Profile::priority() const
{
    bool ok = false;
    const int index = value(priorityKey).toInt(&ok);
    return ok && index >= 0 && index <= Protocol::MaxPriority ? index : -1;
}

Profile Profile::load(const QSettings &settings)
{
    Profile profile;
    for (const KeyInfo &info : keyTable) {
        const QString key = QLatin1String(info.key);
        if (info.maxLength > 0)
            profile.setValue(key, settings.value(key, QString()).toString().left(info.maxLength));
    }
    profile.setUseDhcp(settings.value(useDhcpKey, false).toBool());
    // A stored -1 is not an unsigned number and so reads as 0, "GPRS"; an index past the list
    // chooses nothing, as it leaves the window's combo box without a selection.
    const int index = int(settings.value(priorityKey, 0).toString().toUInt());
    profile.setPriority(index >= 0 && index <= Protocol::MaxPriority ? index : -1);
    return profile;
}

void Profile::store(QSettings &settings) const
{
    for (const KeyInfo &info : keyTable) {
        const QString key = QLatin1String(info.key);
        if (info.maxLength > 0)
            settings.setValue(key, value(key));
    }
    settings.setValue(useDhcpKey, useDhcp());
    settings.setValue(priorityKey, value(priorityKey).toInt());
}
