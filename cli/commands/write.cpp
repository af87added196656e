#include "commands.h"

#include "console.h"
#include "macseries.h"
#include "profilecheck.h"
#include "settingsfile.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>

namespace {

const QString macKey = QLatin1String(ProfileKey::EthMAC);
const QString lastMacKey = QLatin1String(ProfileKey::LastMAC);
const QString incrementMacKey = QLatin1String(ProfileKey::IncrementMac);
const QString cashDeskIdKey = QLatin1String(ProfileKey::CashDeskID);

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
    // The journal's record of an address the series hands to the unit.
    MacSeries::Record reservationLine(const MacSeries &series, int unit) const;
    // Takes the MAC for the unit from the profile's series as the file is now, right before its
    // frame goes out. False, with the unit failed, when it cannot be.
    bool reserveMac(MacSeries &series, WriteRecords &records, Outcome &outcome);
    void verifyUnit(const Profile &sent, Outcome &outcome);

    UnitContext &context;
    const Invocation &invocation;
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
        return rejected({QString(), unreadableProfileText(path)});
    MacSeries series(path, invocation.lockTimeoutSeconds * 1000, UnitContext::lockNotice);
    if (series.path().isEmpty())
        return rejected({QString(), unreadableProfileText(path)});
    const SettingsFile file(series.path());
    const QSettings &settings = file.settings();
    Rejection rejection;
    if (file.isReadable() && !checkProfileEncoding(file, rejection))
        return rejected(rejection);
    if (!file.isReadable() || settings.status() != QSettings::NoError)
        return rejected({QString(), unreadableProfileText(path)});

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
    if (writesMac && MacSeries::place(settings, profile.value(macKey), incrementMac, rejection) == MacPlace::Outside)
        return rejected(rejection);
    Profile sent = sentValues(records, invocation.groups);
    if (incrementMac) {
        if (!series.checkStorable(rejection))
            return rejected(rejection);
        if (context.journal.isEnabled())
            series.setRecord(context.journal.filePath(), reservationLine(series, unit));
        // Locks held by another station for longer than a handout are waited out before this unit
        // hears anything, so that a line which has stopped costs it no half-written settings; and
        // lock files that cannot be created stop it here too. The address itself is still taken
        // under the locks right before its frame.
        if (!series.awaitLocks(rejection)) {
            outcome.exitCode = ExitProfile;
            outcome.message = notSentMessage(rejectionLine(rejection), outcome.groups);
            return outcome;
        }
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
            if (incrementMac && !reserveMac(series, toSend, outcome)) {
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

MacSeries::Record WriteRun::reservationLine(const MacSeries &series, int unit) const
{
    // Durable: the profile moves past the address right after it.
    return [this, &series, unit](const QString &mac, QString &error) {
        QJsonObject line;
        line.insert(QStringLiteral("event"), QStringLiteral("reserved"));
        line.insert(QStringLiteral("time"), UnitContext::journalTime());
        line.insert(QStringLiteral("channel"), invocation.channelName());
        line.insert(QStringLiteral("profile"), QDir::toNativeSeparators(series.path()));
        line.insert(QStringLiteral("unit"), unit > 0 ? QJsonValue(unit) : QJsonValue());
        line.insert(QStringLiteral("mac"), mac);
        return context.journal.appendHeld(line, true, error);
    };
}

bool WriteRun::reserveMac(MacSeries &series, WriteRecords &records, Outcome &outcome)
{
    const MacSeries::Handout handout = series.take();
    switch (handout.result) {
    case MacSeries::Result::Taken:
        records.mac = handout.record;
        outcome.macSource = handout.last ? MacSource::LastOfRange : MacSource::Reserved;
        return true;
    case MacSeries::Result::Refused:
        outcome.exitCode = ExitProfile;
        break;
    case MacSeries::Result::NotRecorded:
        outcome.journalFailed = true;
        outcome.exitCode = ExitUsage;
        break;
    case MacSeries::Result::NotStored:
        outcome.macState = MacState::NotStored;
        outcome.exitCode = ExitProfile;
        break;
    }
    outcome.message = notSentMessage(rejectionLine(handout.rejection), outcome.groups);
    return false;
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
