#include "profile.h"

#include "protocol.h"

#include <QSettings>
#include <QVariant>

namespace {

struct KeyInfo {
    const char *key;
    int maxLength;      // the window's field length; 0 for the check box and the combo box
};

// Lengths are those of the form's line edits (mainwindowform.ui).
const KeyInfo keyTable[] = {
    {"FullTimeout", 5},  {"CommandTimeout", 5}, {"RetryTimeout", 5}, {"ServerToken", 10},
    {"IPsrv", 16},       {"URLaddr", 128},      {"Port", 5},         {"APN", 32},
    {"Login", 32},       {"Password", 32},      {"BalanceCode", 32}, {"EthMAC", 17},
    {"EthIP", 16},       {"EthMask", 16},       {"Gateway", 16},     {"DNSaddr", 16},
    {"UseDHCP", 0},      {"Priority", 0},       {"CashDeskID", 10},
};

const QString useDhcpKey = QStringLiteral("UseDHCP");
const QString priorityKey = QStringLiteral("Priority");

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

int Profile::maxLength(const QString &key)
{
    for (const KeyInfo &info : keyTable) {
        if (key == QLatin1String(info.key))
            return info.maxLength;
    }
    return 0;
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
