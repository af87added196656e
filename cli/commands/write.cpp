#include "commands.h"

#include "console.h"
#include "profilecheck.h"
#include "profilelock.h"
#include "settingsfile.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>

#include <optional>

namespace {

const QString macKey = QStringLiteral("EthMAC");
const QString lastMacKey = QStringLiteral("LastMAC");
const QString incrementMacKey = QStringLiteral("IncrementMac");
const QString cashDeskIdKey = QStringLiteral("CashDeskID");

// Where the profile's EthMAC (`mac`) stands in the range of a series by its LastMAC.
MacPlace macPlaceIn(const QSettings &settings, const QString &mac, bool movesOn, Rejection &rejection)
{
    return macPlace(mac, movesOn, settings.contains(lastMacKey), settings.value(lastMacKey).toString(),
                    rejection);
}

QString unreadableProfile(const QString &path)
{
    return QStringLiteral("cannot read the profile %1").arg(path);
}

// Why a unit's MAC did not go out, and what the unit got before it.
QString notSentMessage(const QString &why, const QStringList &sentGroups)
{
    return why + QStringLiteral("\ntallyctl: ")
        + (sentGroups.isEmpty() ? QStringLiteral("nothing was sent")
                                : QStringLiteral("the MAC was not sent; sent before it: ")
                                      + sentGroups.join(QStringLiteral(", ")));
}

// A write of one unit or, with --series, of one unit after another.
class WriteRun
{
public:
    explicit WriteRun(UnitContext &context) : context(context), invocation(context.invocation) {}

    int run();

private:
    // `unit` counts the units of a series from 1; 0 for a write of one unit.
    Outcome writeUnit(int unit);
    // Released in the reverse order, the profile's first.
    struct HeldLocks {
        std::optional<ProfileLock> journal;
        std::optional<ProfileLock> profile;
    };
    // The journal's lock (with --journal), then the profile's: the one order in which a station
    // takes them, so that none waits for a lock while it holds the profile's. Each is waited for
    // as --lock-timeout allows; on failure `outcome` says why. Held while `locks` lasts.
    bool takeLocks(HeldLocks &locks, Outcome &outcome);
    bool takeLock(ProfileLock &lock, Outcome &outcome);
    // Takes the MAC for the unit from the profile as it is now, right before its frame goes
    // out: under the journal's lock and then the profile's, the file's EthMAC is checked again,
    // put on record in the journal and the next address stored. False, with the unit failed,
    // when it cannot be.
    bool reserveMac(int unit, WriteRecords &records, Outcome &outcome);
    void verifyUnit(const Profile &sent, Outcome &outcome);

    UnitContext &context;
    const Invocation &invocation;
    // The profile as the system finds it whatever name reached it (links resolved), read, locked
    // and saved by that path; and the profile's name as the engineer knows it.
    QString profilePath;
    QString profileShown;
};

int WriteRun::run()
{
    if (!invocation.series) {
        Outcome outcome = writeUnit(0);
        context.recordUnit(outcome);
        if (outcome.exitCode == ExitOk && !invocation.json)
            Console::out(writeDoneMessage() + QLatin1Char('\n'));
        else if (invocation.json)
            Console::out(outcome.summary(0, true));
        return context.reportUnit(outcome);
    }

    // The production line: the engineer connects a unit, presses Enter, and so on until the end
    // of input. A unit that failed before its MAC frame went out leaves the address to the next.
    int firstFailure = ExitOk;
    for (int unit = 1;; ++unit) {
        Outcome outcome = writeUnit(unit);
        context.recordUnit(outcome);
        Console::out(outcome.summary(unit, invocation.json));
        const int exitCode = context.reportUnit(outcome);
        if (firstFailure == ExitOk)
            firstFailure = exitCode;
        // A profile that cannot take the next MAC would stop every unit after this one too.
        if (outcome.macState == MacState::NotStored)
            break;
        // Without its journal line a unit's MAC is not on record; after LastMAC there is none.
        if (outcome.journalFailed || outcome.macSource == MacSource::LastOfRange) {
            Console::err(QStringLiteral("tallyctl: the series ends here.\n"));
            break;
        }
        Console::err(QStringLiteral("Connect the next unit and press Enter (end of input ends the series).\n"));
        QString line;
        if (!Console::readLine(line))
            break;
    }
    return firstFailure;
}

Outcome WriteRun::writeUnit(int unit)
{
    Outcome outcome;
    outcome.macState = MacState::NotSent;
    outcome.macReadBack = invocation.verify;
    const QString &path = invocation.argument;
    const auto rejected = [&outcome](const Rejection &rejection) {
        outcome.exitCode = ExitProfile;
        outcome.message = rejectionLine(rejection);
        return outcome;
    };
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return rejected({QString(), unreadableProfile(path)});
    // Every name of the file (a symbolic link, a folder reached through one) leads to one lock
    // and one file read and saved; saving by the resolved path leaves a link a link.
    profilePath = info.canonicalFilePath();
    profileShown = info.isSymLink() ? QDir::toNativeSeparators(profilePath) : path;
    if (profilePath.isEmpty())
        return rejected({QString(), unreadableProfile(path)});
    const SettingsFile file(profilePath);
    const QSettings &settings = file.settings();
    Rejection rejection;
    if (file.isReadable() && !checkProfileEncoding(file, rejection))
        return rejected(rejection);
    if (!file.isReadable() || settings.status() != QSettings::NoError)
        return rejected({QString(), unreadableProfile(path)});

    // The file must say what goes to the unit: keys the groups need, spelt right, read by the
    // INI format as written, not longer than the window's fields (the window would cut them).
    // Every value is checked before the channel is opened: a bad one leaves the unit untouched.
    const bool writesMac = invocation.groups.contains(WriteGroup::Mac);
    const QStringList optional = writesMac ? QStringList{incrementMacKey, lastMacKey} : QStringList();
    Profile profile;
    WriteRecords records;
    if (!checkWriteProfile(file, invocation.groups, optional, profile, records, rejection))
        return rejected(rejection);
    const bool incrementMac = writesMac
        && (invocation.macIncrement == Invocation::MacIncrement::On
            || (invocation.macIncrement == Invocation::MacIncrement::AsProfile
                && settings.value(incrementMacKey, false).toBool()));

    // With the MAC moving on this is a first look at it; the address itself is taken from the
    // file when its frame is about to go, since another station may have moved it on meanwhile.
    if (writesMac && macPlaceIn(settings, profile.value(macKey), incrementMac, rejection) == MacPlace::Outside)
        return rejected(rejection);
    Profile sent = sentValues(records, invocation.groups);
    if (incrementMac) {
        // Hard links are names the system does not lead back to one: stations on two of them
        // would lock two lock files, and the first save would leave each name a file of its own.
        const int names = ProfileLock::nameCount(profilePath);
        if (names > 1)
            return rejected({QString(), QStringLiteral("the profile %1 has %2 names (hard links): stations "
                                                       "using different ones would not share its lock, and "
                                                       "storing the next MAC would split them; keep one name "
                                                       "(a symbolic link is fine)").arg(path).arg(names)});
        // The next MAC must go into the file, or no MAC goes out.
        const QString unwritable = !info.permissions().testFlag(QFileDevice::WriteOwner)
            ? QStringLiteral("the profile is read-only")
            : !info.isWritable() ? QStringLiteral("no permission to write the profile") : QString();
        if (!unwritable.isEmpty())
            return rejected({QString(), QStringLiteral("cannot store the next MAC in %1: %2").arg(path, unwritable)});
        // Locks held by another station for longer than a handout are waited out before this unit
        // hears anything, so that a line which has stopped costs it no half-written settings; and
        // lock files that cannot be created stop it here too. The address itself is still taken
        // under the locks right before its frame.
        HeldLocks locks;
        if (!takeLocks(locks, outcome))
            return outcome;
    }
    if (!context.openChannel(outcome))
        return outcome;

    bool refused = false;
    const QString failure = sendGroups(
        context.link, invocation.groups, records,
        [&](WriteGroup group) {
            outcome.groups << writeGroupName(group);
            if (group == WriteGroup::Mac)
                outcome.macState = invocation.verify ? MacState::NotVerified : MacState::Confirmed;
            else if (group == WriteGroup::CashDeskId)
                outcome.cashDeskId = sent.value(cashDeskIdKey);
        },
        [&](WriteGroup group, WriteRecords &toSend) {
            if (group != WriteGroup::Mac)
                return QString();
            if (incrementMac && !reserveMac(unit, toSend, outcome)) {
                refused = true;
                return outcome.message;
            }
            // From here on the address is this unit's, whatever becomes of the frame.
            sent.setValue(macKey, sentValues(toSend, {WriteGroup::Mac}).value(macKey));
            outcome.mac = sent.value(macKey);
            outcome.macState = MacState::Sent;
            return QString();
        });
    if (refused) {
        // Already told.
    } else if (!failure.isEmpty()) {
        context.failUnit(outcome, failure);
    } else if (invocation.verify) {
        verifyUnit(sent, outcome);
    }
    context.link.close();
    return outcome;
}

bool WriteRun::takeLocks(HeldLocks &locks, Outcome &outcome)
{
    if (context.journal.isEnabled()) {
        locks.journal.emplace(context.journal.filePath());
        if (!takeLock(*locks.journal, outcome))
            return false;
    }
    locks.profile.emplace(profilePath, profileShown);
    return takeLock(*locks.profile, outcome);
}

bool WriteRun::takeLock(ProfileLock &lock, Outcome &outcome)
{
    if (lock.acquire(invocation.lockTimeoutSeconds * 1000, UnitContext::lockNotice))
        return true;
    outcome.exitCode = ExitProfile;
    outcome.message = notSentMessage(QStringLiteral("tallyctl: ") + lock.failure(), outcome.groups);
    return false;
}

bool WriteRun::reserveMac(int unit, WriteRecords &records, Outcome &outcome)
{
    const QString &path = invocation.argument;
    const auto refuse = [&outcome](int exitCode, const QString &why) {
        outcome.exitCode = exitCode;
        outcome.message = notSentMessage(why, outcome.groups);
        return false;
    };

    HeldLocks locks;
    if (!takeLocks(locks, outcome))
        return false;

    // The same checks as before the channel opened, on the file as it is now.
    const SettingsFile file(profilePath);
    if (!file.isReadable() || file.settings().status() != QSettings::NoError)
        return refuse(ExitProfile, QStringLiteral("tallyctl: ") + unreadableProfile(path));
    Rejection rejection;
    WriteRecords taken;
    if (!checkProfileFile(file, {macKey}, {lastMacKey}, rejection)
        || !encodeGroups(Profile::load(file.settings()), {WriteGroup::Mac}, taken, rejection))
        return refuse(ExitProfile, rejectionLine(rejection));
    const QString mac = sentValues(taken, {WriteGroup::Mac}).value(macKey);
    const MacPlace place = macPlaceIn(file.settings(), mac, true, rejection);
    QString next;
    if (place == MacPlace::Outside || !nextMac(mac, next))
        return refuse(ExitProfile, rejectionLine(rejection));

    // On record before the file moves on: an address gone from the profile is always in the
    // journal, even when this process dies the next moment. Without its line it stays there.
    if (context.journal.isEnabled()) {
        QJsonObject line;
        line.insert(QStringLiteral("event"), QStringLiteral("reserved"));
        line.insert(QStringLiteral("time"), UnitContext::journalTime());
        line.insert(QStringLiteral("channel"), invocation.channelName());
        line.insert(QStringLiteral("profile"), QDir::toNativeSeparators(profilePath));
        line.insert(QStringLiteral("unit"), unit > 0 ? QJsonValue(unit) : QJsonValue());
        line.insert(QStringLiteral("mac"), mac);
        QString error;
        if (!context.journal.appendHeld(line, true, error)) {
            outcome.journalFailed = true;
            return refuse(ExitUsage, QStringLiteral("tallyctl: ") + error);
        }
    }
    if (!saveIniBytes(profilePath, withIniValue(file.bytes(), macKey, iniValueText(next)))) {
        outcome.macState = MacState::NotStored;
        return refuse(ExitProfile, QStringLiteral("tallyctl: cannot store the next MAC %1 in %2").arg(next, path));
    }
    records.mac = taken.mac;
    outcome.macSource = place == MacPlace::Last ? MacSource::LastOfRange : MacSource::Reserved;
    return true;
}

void WriteRun::verifyUnit(const Profile &sent, Outcome &outcome)
{
    QList<ReadGroup> groups;
    for (ReadGroup group : readAllOrder()) {
        for (WriteGroup written : invocation.groups) {
            if (readGroupOf(written) == group && !groups.contains(group))
                groups << group;
        }
    }
    Profile held;
    bool ethernetRead = false;
    const QString failure = readGroups(context.link, groups, held, [&ethernetRead](ReadGroup group) {
        ethernetRead = ethernetRead || group == ReadGroup::Ethernet;
    });
    if (outcome.macState == MacState::NotVerified && ethernetRead && held.value(macKey) == sent.value(macKey))
        outcome.macState = MacState::Verified;
    if (!failure.isEmpty()) {
        context.failUnit(outcome, failure);
        return;
    }

    QStringList differences;
    for (WriteGroup group : invocation.groups) {
        for (const QString &key : writeGroupKeys(group)) {
            if (held.value(key) == sent.value(key))
                continue;
            if (isSecretKey(key))
                differences << QStringLiteral("%1: the unit holds another value than the one sent "
                                              "(not shown: a secret)").arg(key);
            else
                differences << QStringLiteral("%1: sent \"%2\", the unit holds \"%3\"")
                                   .arg(key, sent.value(key), held.value(key));
        }
    }
    if (!differences.isEmpty()) {
        outcome.exitCode = ExitVerify;
        outcome.message = differences.join(QLatin1Char('\n'));
    }
}

} // namespace

int writeCommand(UnitContext &context)
{
    return WriteRun(context).run();
}
