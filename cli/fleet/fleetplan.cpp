#include "fleetplan.h"

#include "initext.h"
#include "profilecheck.h"
#include "settingsfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QTemporaryFile>

#include <memory>

namespace {

const QString macKey = QLatin1String(ProfileKey::EthMAC);
const QString incrementMacKey = QLatin1String(ProfileKey::IncrementMac);
const QString ethIpKey = QLatin1String(ProfileKey::EthIP);

// A profile as the plan reads it, once however many rows use it.
struct ProfileSource {
    PlanSource source;
    QString shown;          // as the command line or the row names it
    QByteArray bytes;
    QStringList keys;       // the parameter keys it gives, EthMAC aside
};

QString rejectionText(const Rejection &rejection)
{
    return rejection.key.isEmpty() ? rejection.message : rejection.key + QStringLiteral(": ") + rejection.message;
}

bool readSource(const QString &path, const QString &shown, PlanSource &source, QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(shown);
        return false;
    }
    bytes = file.readAll();
    source.path = QFileInfo(path).absoluteFilePath();
    source.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    return true;
}

// The file's own faults (not UTF-8, a key in the wrong letter case or given twice), named
// once for the file rather than for every row that uses it.
bool readProfile(const QString &path, const QString &shown, ProfileSource &profile, bool &macIgnored,
                 QString &error)
{
    profile.shown = shown;
    if (!readSource(path, QStringLiteral("the profile ") + shown, profile.source, profile.bytes, error))
        return false;
    const SettingsFile file(path);
    Rejection rejection;
    if (!file.isReadable() || file.settings().status() != QSettings::NoError) {
        error = QStringLiteral("cannot read the profile %1").arg(shown);
        return false;
    }
    if (!checkProfileFile(file, {}, {}, rejection)) {
        error = QStringLiteral("the profile %1: %2").arg(shown, rejectionText(rejection));
        return false;
    }
    for (const QString &key : Profile::keys()) {
        if (file.settings().contains(key) && key != macKey)
            profile.keys << key;
    }
    macIgnored = macIgnored || file.settings().contains(macKey) || file.settings().contains(incrementMacKey);
    return true;
}

// The values one unit gets, checked as write checks a profile file: its profile with the row's
// cells in place of their keys, read as write reads a file.
struct UnitValues {
    bool ok = false;
    Rejection rejection;
    Profile planned;
    WriteRecords records;
};

UnitValues checkUnitValues(const QByteArray &profileBytes, const InventoryRow &row, const QList<WriteGroup> &groups)
{
    UnitValues result;
    QByteArray bytes = profileBytes;
    for (auto cell = row.values.constBegin(); cell != row.values.constEnd(); ++cell)
        bytes = withIniValue(bytes, cell.key(), iniValueText(cell.value()));
    // Only the engineer's own eyes may see the copy: it holds the unit's password and token.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        result.rejection.message = QStringLiteral("cannot make a temporary copy of the unit's values");
        return result;
    }
    copy.close();
    const SettingsFile file(copy.fileName());
    Profile profile;
    WriteRecords &records = result.records;
    if (!checkWriteProfile(file, groups, {}, profile, records, result.rejection))
        return result;
    if (groups.contains(WriteGroup::Mac)
        && macPlace(profile.value(macKey), false, false, QString(), result.rejection) == MacPlace::Outside)
        return result;
    result.planned = sentValues(records, groups);
    result.ok = true;
    return result;
}

bool groupGiven(WriteGroup group, const QStringList &keys)
{
    for (const QString &key : writeGroupKeys(group)) {
        if (keys.contains(key))
            return true;
    }
    return false;
}

} // namespace

bool makeFleetPlan(const QString &profilePath, const QString &inventoryPath, const QList<WriteGroup> &only,
                   FleetPlan &plan, QStringList &notices, QString &error)
{
    plan = FleetPlan();
    QByteArray inventoryBytes;
    if (!readSource(inventoryPath, QStringLiteral("the inventory ") + inventoryPath, plan.inventoryFile,
                    inventoryBytes, error))
        return false;
    if (!readInventory(inventoryBytes, plan.inventory, error)) {
        error = inventoryPath + QStringLiteral(" ") + error;
        return false;
    }
    if (!plan.inventory.ignoredColumns.isEmpty())
        notices << QStringLiteral("%1: columns ignored: %2")
                       .arg(inventoryPath, plan.inventory.ignoredColumns.join(QStringLiteral(", ")));

    // Every profile once; a row's own is found beside the inventory.
    bool macIgnored = false;
    QHash<QString, ProfileSource> profiles;
    const QDir inventoryDir = QFileInfo(inventoryPath).absoluteDir();
    const auto profileOf = [&](const InventoryRow &row) {
        return row.profile.isEmpty() ? profilePath : inventoryDir.filePath(row.profile);
    };
    QStringList given;
    if (!profilePath.isEmpty()) {
        ProfileSource profile;
        if (!readProfile(profilePath, profilePath, profile, macIgnored, error))
            return false;
        plan.profileFile = profile.source;
        given += profile.keys;
        profiles.insert(profilePath, profile);
    }
    for (const InventoryRow &row : plan.inventory.rows) {
        const QString path = profileOf(row);
        if (!path.isEmpty() && !profiles.contains(path)) {
            ProfileSource profile;
            if (!readProfile(path, row.profile, profile, macIgnored, error)) {
                error = QStringLiteral("%1 %2: %3").arg(inventoryPath, row.label(), error);
                return false;
            }
            plan.rowProfiles << profile.source;
            profiles.insert(path, profile);
        }
        if (!path.isEmpty())
            given += profiles.value(path).keys;
        given += row.values.keys();
    }
    if (macIgnored)
        notices << QStringLiteral("a profile's EthMAC and IncrementMac are ignored: a unit's MAC comes from "
                                  "the inventory's EthMAC column");

    bool anyMac = false;
    for (const InventoryRow &row : plan.inventory.rows)
        anyMac = anyMac || row.values.contains(macKey);
    for (WriteGroup group : writeAllOrder()) {
        const bool planned = group == WriteGroup::Mac ? anyMac : groupGiven(group, given);
        if (planned && only.contains(group))
            plan.groups << group;
    }
    if (plan.groups.isEmpty()) {
        error = QStringLiteral("nothing to plan: no key of the groups asked for is given by a profile or "
                               "the inventory");
        return false;
    }

    // Rows without cells of their own share their profile's check.
    QHash<QString, UnitValues> shared;
    for (const InventoryRow &row : plan.inventory.rows) {
        PlannedUnit unit;
        unit.row = row;
        unit.groups = plan.groups;
        if (!row.values.contains(macKey))
            unit.groups.removeAll(WriteGroup::Mac);
        const QString path = profileOf(row);
        const QByteArray bytes = profiles.value(path).bytes;
        UnitValues values;
        if (row.values.isEmpty() && shared.contains(path)) {
            values = shared.value(path);
        } else {
            values = checkUnitValues(bytes, row, unit.groups);
            if (row.values.isEmpty())
                shared.insert(path, values);
        }
        if (!values.ok) {
            error = QStringLiteral("%1 %2: %3").arg(inventoryPath, row.label(), rejectionText(values.rejection));
            return false;
        }
        unit.planned = values.planned;
        unit.records = values.records;
        plan.units << unit;
    }

    // A profile saved from one unit, given to all, would give each the same identity.
    QHash<QString, int> unitOfValue;
    for (int index = 0; index < plan.units.size(); ++index) {
        const PlannedUnit &unit = plan.units.at(index);
        for (const QString &key : unit.planned.unitKeys()) {
            const QString value = unit.planned.value(key);
            if (value.isEmpty())
                continue;
            const QString id = key + QLatin1Char('=') + value.toLower();
            if (!unitOfValue.contains(id)) {
                unitOfValue.insert(id, index);
                continue;
            }
            const InventoryRow &first = plan.units.at(unitOfValue.value(id)).row;
            error = QStringLiteral("%1: %2 and %3 would both get %4 %5; give %4 per unit in the inventory, or "
                                   "leave its group (%6) out with --only")
                        .arg(inventoryPath, first.label(), unit.row.label(), key, value,
                             writeGroupName(Profile::group(key)));
            return false;
        }
    }
    return true;
}

QList<ReadGroup> readsOf(const QList<WriteGroup> &groups)
{
    QList<ReadGroup> reads;
    for (ReadGroup read : readAllOrder()) {
        for (WriteGroup group : groups) {
            if (readGroupOf(group) == read && !reads.contains(read))
                reads << read;
        }
    }
    return reads;
}

QList<PlannedChange> plannedChanges(const PlannedUnit &unit, const Profile &held)
{
    QList<PlannedChange> changes;
    for (WriteGroup group : unit.groups) {
        for (const QString &key : writeGroupKeys(group)) {
            if (held.value(key) != unit.planned.value(key) || !held.nonUtf8Bytes(key).isEmpty())
                changes << PlannedChange{group, key};
        }
    }
    return changes;
}

QString blockedReason(const PlannedUnit &unit, const Profile &held)
{
    if (unit.row.host.isEmpty() || held.value(ethIpKey) != unit.row.host
        || !unit.groups.contains(WriteGroup::Ethernet))
        return QString();
    QStringList moved;
    for (const char *name : {ProfileKey::EthIP, ProfileKey::EthMask, ProfileKey::Gateway, ProfileKey::UseDHCP}) {
        const QString key = QLatin1String(name);
        if (held.value(key) != unit.planned.value(key))
            moved << key;
    }
    if (moved.isEmpty())
        return QString();
    return QStringLiteral("reached at its own EthIP, which the plan's %1 may take it off; change it on site or "
                          "over serial").arg(moved.join(QStringLiteral(", ")));
}
