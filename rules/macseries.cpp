#include "macseries.h"

#include "profilecheck.h"
#include "settingsfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString macKey = QLatin1String(ProfileKey::EthMAC);
const QString lastMacKey = QStringLiteral("LastMAC");

} // namespace

QString unreadableProfileText(const QString &name)
{
    return QStringLiteral("cannot read the profile %1").arg(name);
}

MacSeries::MacSeries(const QString &name, int lockWaitMs, const FileLock::Notice &waiting)
    : name(name), lockWaitMs(lockWaitMs), waiting(waiting)
{
    const QFileInfo info(name);
    resolved = info.canonicalFilePath();
    lockShown = info.isSymLink() ? QDir::toNativeSeparators(resolved) : name;
}

void MacSeries::setRecord(const QString &lockedFile, const Record &record)
{
    recordFile = lockedFile;
    this->record = record;
}

bool MacSeries::checkStorable(Rejection &rejection) const
{
    // Hard links are names the system does not lead back to one: stations on two of them would
    // lock two lock files, and the first save would leave each name a file of its own.
    const int names = FileLock::nameCount(resolved);
    if (names > 1) {
        rejection = {QString(), QStringLiteral("the profile %1 has %2 names (hard links): stations using "
                                               "different ones would not share its lock, and storing the "
                                               "next MAC would split them; keep one name (a symbolic link "
                                               "is fine)").arg(name).arg(names)};
        return false;
    }
    // The next MAC must go into the file, or no MAC goes out.
    const QFileInfo info(name);
    const QString unwritable = !info.permissions().testFlag(QFileDevice::WriteOwner)
        ? QStringLiteral("the profile is read-only")
        : !info.isWritable() ? QStringLiteral("no permission to write the profile") : QString();
    if (unwritable.isEmpty())
        return true;
    rejection = {QString(), QStringLiteral("cannot store the next MAC in %1: %2").arg(name, unwritable)};
    return false;
}

bool MacSeries::lock(Locks &locks, Rejection &rejection)
{
    if (!recordFile.isEmpty()) {
        locks.record.emplace(recordFile);
        if (!locks.record->acquire(lockWaitMs, waiting)) {
            rejection = {QString(), locks.record->failure()};
            return false;
        }
    }
    locks.profile.emplace(resolved, lockShown);
    if (locks.profile->acquire(lockWaitMs, waiting))
        return true;
    rejection = {QString(), locks.profile->failure()};
    return false;
}

bool MacSeries::awaitLocks(Rejection &rejection)
{
    Locks locks;
    return lock(locks, rejection);
}

MacSeries::Handout MacSeries::take()
{
    Handout handout;
    Rejection &rejection = handout.rejection;
    Locks locks;
    if (!lock(locks, rejection))
        return handout;

    // The same checks as before the channel opened, on the file as it is now.
    const SettingsFile file(resolved);
    if (!file.isReadable() || file.settings().status() != QSettings::NoError) {
        rejection = {QString(), unreadableProfileText(name)};
        return handout;
    }
    WriteRecords taken;
    if (!checkProfileFile(file, {macKey}, {lastMacKey}, rejection)
        || !encodeGroups(Profile::load(file.settings()), {WriteGroup::Mac}, taken, rejection))
        return handout;
    handout.mac = sentValues(taken, {WriteGroup::Mac}).value(macKey);
    const MacPlace where = place(file.settings(), handout.mac, true, rejection);
    QString next;
    if (where == MacPlace::Outside || !nextMac(handout.mac, next))
        return handout;

    // On record before the file moves on: an address gone from the profile is always on
    // record, even when this process dies the next moment. Without its record it stays there.
    QString error;
    if (record && !record(handout.mac, error)) {
        handout.result = Result::NotRecorded;
        rejection = {QString(), error};
        return handout;
    }
    if (!saveIniBytes(resolved, withIniValue(file.bytes(), macKey, iniValueText(next)))) {
        handout.result = Result::NotStored;
        rejection = {QString(), QStringLiteral("cannot store the next MAC %1 in %2").arg(next, name)};
        return handout;
    }
    handout.result = Result::Taken;
    handout.record = taken.mac;
    handout.last = where == MacPlace::Last;
    return handout;
}

MacPlace MacSeries::place(const QSettings &settings, const QString &mac, bool movesOn, Rejection &rejection)
{
    return macPlace(mac, movesOn, settings.contains(lastMacKey), settings.value(lastMacKey).toString(),
                    rejection);
}
