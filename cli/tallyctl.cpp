#include "tallyctl.h"

#include "console.h"
#include "hextext.h"
#include "profilecheck.h"
#include "profilelock.h"
#include "settingsfile.h"
#include "unitsession.h"
#include "valuerules.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QSettings>

#include <optional>

namespace {

const QString macKey = QStringLiteral("EthMAC");
const QString lastMacKey = QStringLiteral("LastMAC");
const QString incrementMacKey = QStringLiteral("IncrementMac");
const QString cashDeskIdKey = QStringLiteral("CashDeskID");

QString rejectionLine(const Rejection &rejection)
{
    return rejection.key.isEmpty() ? QStringLiteral("tallyctl: ") + rejection.message
                                   : rejection.key + QStringLiteral(": ") + rejection.message;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// The first of the unit's values that KEY=value lines (`asLines`) or a settings file cannot
// carry as the unit holds it: bytes that are not UTF-8 (a text would send U+FFFD back), and for
// lines a line break or another control character.
bool carriesUnitValues(const Profile &values, bool asLines, Rejection &rejection)
{
    const QString form = asLines ? QStringLiteral("KEY=value lines") : QStringLiteral("a settings file");
    for (const QString &key : Profile::keys()) {
        const QByteArray bytes = values.nonUtf8Bytes(key);
        // The bytes themselves stay out of the message, which also goes to the journal: the
        // password is one of these texts.
        if (!bytes.isEmpty()) {
            rejection = {key, QStringLiteral("the unit holds bytes that are not UTF-8 text, which %1 "
                                             "cannot carry; --json shows them").arg(form)};
            return false;
        }
        if (asLines && hasControlCharacter(values.value(key))) {
            rejection = {key, QStringLiteral("the unit's value holds a line break or another control "
                                             "character, which %1 cannot show; --json shows it").arg(form)};
            return false;
        }
    }
    return true;
}

// Where the profile's EthMAC (`mac`) stands in the range of a series by its LastMAC.
MacPlace macPlaceIn(const QSettings &settings, const QString &mac, bool movesOn, Rejection &rejection)
{
    return macPlace(mac, movesOn, settings.contains(lastMacKey), settings.value(lastMacKey).toString(),
                    rejection);
}

void lockNotice(const QString &notice)
{
    Console::err(QStringLiteral("tallyctl: ") + notice + QLatin1Char('\n'));
}

QString journalTime()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// Why a unit's MAC did not go out, and what the unit got before it.
QString notSentMessage(const QString &why, const QStringList &sentGroups)
{
    return why + QStringLiteral("\ntallyctl: ")
        + (sentGroups.isEmpty() ? QStringLiteral("nothing was sent")
                                : QStringLiteral("the MAC was not sent; sent before it: ")
                                      + sentGroups.join(QStringLiteral(", ")));
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

QString withLineEnd(const QString &text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
}

} // namespace

// Released in the reverse order, the profile's first.
struct Tallyctl::HeldLocks {
    std::optional<ProfileLock> journal;
    std::optional<ProfileLock> profile;
};

Tallyctl::Tallyctl(const Invocation &invocation, const QElapsedTimer &clock)
    : invocation(invocation), exchangeLog(clock, invocation.trace),
      journal(invocation.journal, invocation.lockTimeoutSeconds * 1000, lockNotice)
{
    link.setTrace(&exchangeLog);
}

int Tallyctl::run()
{
    QString error;
    if (journal.isEnabled() && !journal.check(error)) {
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
        return ExitUsage;
    }
    const QString &command = invocation.command;
    if (command == QLatin1String("list-ports"))
        return listPorts();
    if (command == QLatin1String("read"))
        return read();
    if (command == QLatin1String("write"))
        return write();
    if (command == QLatin1String("test"))
        return test();
    return reset();
}

int Tallyctl::listPorts()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QJsonArray list;
    for (const QSerialPortInfo &port : ports) {
        const bool usb = port.hasVendorIdentifier() && port.hasProductIdentifier();
        if (invocation.json) {
            QJsonObject entry;
            entry.insert(QStringLiteral("name"), port.portName());
            entry.insert(QStringLiteral("location"), port.systemLocation());
            entry.insert(QStringLiteral("description"), port.description());
            entry.insert(QStringLiteral("manufacturer"), port.manufacturer());
            entry.insert(QStringLiteral("serialNumber"), port.serialNumber());
            entry.insert(QStringLiteral("vendorId"),
                         port.hasVendorIdentifier() ? QJsonValue(port.vendorIdentifier()) : QJsonValue());
            entry.insert(QStringLiteral("productId"),
                         port.hasProductIdentifier() ? QJsonValue(port.productIdentifier()) : QJsonValue());
            list.append(entry);
            continue;
        }
        const QString usbId = usb ? QStringLiteral("%1:%2")
                                        .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                        .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'))
                                  : QString();
        Console::out(QStringList({port.portName(), port.systemLocation(), port.description(),
                                  port.manufacturer(), port.serialNumber(), usbId})
                         .join(QLatin1Char('\t'))
                     + QLatin1Char('\n'));
    }
    if (invocation.json)
        Console::out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    return ExitOk;
}

bool Tallyctl::openChannel(Outcome &outcome)
{
    if (!invocation.serial.isEmpty()) {
        // A listed name (ttyUSB0, COM3) stands for its system location; anything else, such as
        // a pseudo-terminal the system does not list, is opened as given.
        QString location = invocation.serial;
        for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
            if (port.portName() == invocation.serial)
                location = port.systemLocation();
        }
        if (link.openSerialAt(location))
            return true;
        outcome.message = QStringLiteral("Не могу открыть порт ") + invocation.serial;
    } else {
        if (link.openTcp(invocation.host, invocation.port))
            return true;
        outcome.message = QStringLiteral("Не могу установить соединение ") + invocation.hostText;
    }
    outcome.exitCode = ExitChannel;
    outcome.cause = link.openError();
    return false;
}

void Tallyctl::recordUnit(Outcome &outcome)
{
    link.close();
    if (!journal.isEnabled())
        return;
    QJsonObject entry = outcome.toJson();
    entry.insert(QStringLiteral("time"), journalTime());
    entry.insert(QStringLiteral("channel"), invocation.channelName());
    entry.insert(QStringLiteral("command"), invocation.command);
    QString error;
    if (journal.append(entry, error))
        return;
    // A journal that failed the unit already is named once.
    if (outcome.journalFailed)
        return;
    outcome.journalFailed = true;
    const QString line = QStringLiteral("tallyctl: ") + error;
    if (outcome.exitCode == ExitOk) {
        outcome.exitCode = ExitUsage;
        outcome.message = line;
    } else {
        outcome.message += QLatin1Char('\n') + line;
    }
}

int Tallyctl::reportUnit(const Outcome &outcome)
{
    if (outcome.exitCode != ExitOk) {
        Console::err(withLineEnd(outcome.message));
        if (!outcome.cause.isEmpty())
            Console::err(QStringLiteral("tallyctl: ") + outcome.cause + QLatin1Char('\n'));
    }
    // The address is nobody else's now, and the engineer needs to know which unit may hold it.
    if (outcome.macUsedUp())
        Console::err(QStringLiteral("tallyctl: MAC %1 (%2) is used up: this unit may hold it, so no "
                                    "other unit gets it\n").arg(outcome.mac, outcome.macStateText()));
    if (outcome.macSource == MacSource::LastOfRange)
        Console::err(QStringLiteral("tallyctl: %1 was LastMAC, the last address of the profile's range: "
                                    "the range is used up\n").arg(outcome.mac));
    return outcome.exitCode;
}

int Tallyctl::read()
{
    Outcome outcome;
    Profile values;
    if (openChannel(outcome)) {
        const QString failure = readGroups(link, readAllOrder(), values, [&outcome](ReadGroup group) {
            outcome.groups << readGroupName(group);
        });
        outcome.mac = values.value(macKey);
        outcome.cashDeskId = values.value(cashDeskIdKey);
        if (!failure.isEmpty()) {
            outcome.exitCode = ExitUnit;
            outcome.message = failure;
            outcome.cause = exchangeLog.problem();
        }
    }
    // With --json stdout holds one object, printed once the journal has the unit's line: the
    // values, or, when the unit failed, its outcome as write prints it.
    QString jsonValues;
    // A text that is not what the unit holds would go to the next unit as it stands.
    Rejection rejection;
    if (outcome.exitCode == ExitOk && (!invocation.json || !invocation.output.isEmpty())
        && !carriesUnitValues(values, invocation.output.isEmpty(), rejection)) {
        outcome.exitCode = ExitNotText;
        outcome.message = rejectionLine(rejection);
    }
    if (outcome.exitCode == ExitOk && !invocation.output.isEmpty()) {
        QSettings file(invocation.output, QSettings::IniFormat);
        values.store(file);
        if (!syncSettings(file)) {
            outcome.exitCode = ExitProfile;
            outcome.message = QStringLiteral("tallyctl: cannot write %1").arg(invocation.output);
        }
    } else if (outcome.exitCode == ExitOk && invocation.json) {
        QJsonObject object;
        for (const QString &key : Profile::keys())
            object.insert(key, values.value(key));
        object.insert(QStringLiteral("UseDHCP"), values.useDhcp());
        object.insert(QStringLiteral("Priority"), values.priority());
        // The text shows U+FFFD for bytes that are not UTF-8; the bytes themselves stand here.
        QJsonObject nonUtf8;
        for (const QString &key : Profile::keys()) {
            if (!values.nonUtf8Bytes(key).isEmpty())
                nonUtf8.insert(key, hexText(values.nonUtf8Bytes(key)));
        }
        if (!nonUtf8.isEmpty())
            object.insert(QStringLiteral("notUtf8"), nonUtf8);
        jsonValues = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
    } else if (outcome.exitCode == ExitOk) {
        QString lines;
        for (const QString &key : Profile::keys())
            lines += key + QLatin1Char('=') + values.value(key) + QLatin1Char('\n');
        Console::out(lines);
    }
    recordUnit(outcome);
    if (invocation.json) {
        const QString printed = outcome.exitCode == ExitOk ? jsonValues : jsonLine(outcome.toJson());
        if (!printed.isEmpty())
            Console::out(printed);
    }
    return reportUnit(outcome);
}

int Tallyctl::write()
{
    if (!invocation.series) {
        Outcome outcome = writeUnit(0);
        recordUnit(outcome);
        if (outcome.exitCode == ExitOk && !invocation.json)
            Console::out(writeDoneMessage() + QLatin1Char('\n'));
        else if (invocation.json)
            Console::out(outcome.summary(0, true));
        return reportUnit(outcome);
    }

    // The production line: the engineer connects a unit, presses Enter, and so on until the end
    // of input. A unit that failed before its MAC frame went out leaves the address to the next.
    int firstFailure = ExitOk;
    for (int unit = 1;; ++unit) {
        Outcome outcome = writeUnit(unit);
        recordUnit(outcome);
        Console::out(outcome.summary(unit, invocation.json));
        const int exitCode = reportUnit(outcome);
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

Outcome Tallyctl::writeUnit(int unit)
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
        return rejected({QString(), QStringLiteral("cannot read the profile %1").arg(path)});
    // Every name of the file (a symbolic link, a folder reached through one) leads to one lock
    // and one file read and saved; saving by the resolved path leaves a link a link.
    profilePath = info.canonicalFilePath();
    profileShown = info.isSymLink() ? QDir::toNativeSeparators(profilePath) : path;
    if (profilePath.isEmpty())
        return rejected({QString(), QStringLiteral("cannot read the profile %1").arg(path)});
    const SettingsFile file(profilePath);
    const QSettings &settings = file.settings();
    Rejection rejection;
    if (file.isReadable() && !checkProfileEncoding(file, rejection))
        return rejected(rejection);
    if (!file.isReadable() || settings.status() != QSettings::NoError)
        return rejected({QString(), QStringLiteral("cannot read the profile %1").arg(path)});

    // The file must say what goes to the unit: keys the groups need, spelt right, read by the
    // INI format as written, not longer than the window's fields (the window would cut them).
    QStringList needed;
    for (WriteGroup group : invocation.groups)
        needed += writeGroupKeys(group);
    const bool writesMac = invocation.groups.contains(WriteGroup::Mac);
    const QStringList optional = writesMac ? QStringList{incrementMacKey, lastMacKey} : QStringList();
    if (!checkProfileFile(file, needed, optional, rejection))
        return rejected(rejection);
    const Profile profile = Profile::load(settings);
    const bool incrementMac = writesMac
        && (invocation.macIncrement == Invocation::MacIncrement::On
            || (invocation.macIncrement == Invocation::MacIncrement::AsProfile
                && settings.value(incrementMacKey, false).toBool()));

    // Every value is checked before the channel is opened: a bad one leaves the unit untouched.
    // With the MAC moving on this is a first look at it; the address itself is taken from the
    // file when its frame is about to go, since another station may have moved it on meanwhile.
    WriteRecords records;
    if (!encodeGroups(profile, invocation.groups, records, rejection))
        return rejected(rejection);
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
    if (!openChannel(outcome))
        return outcome;

    bool refused = false;
    const QString failure = sendGroups(
        link, invocation.groups, records,
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
        outcome.exitCode = ExitUnit;
        outcome.message = failure;
        outcome.cause = exchangeLog.problem();
    } else if (invocation.verify) {
        verifyUnit(sent, outcome);
    }
    link.close();
    return outcome;
}

bool Tallyctl::takeLocks(HeldLocks &locks, Outcome &outcome)
{
    if (journal.isEnabled()) {
        locks.journal.emplace(journal.filePath());
        if (!takeLock(*locks.journal, outcome))
            return false;
    }
    locks.profile.emplace(profilePath, profileShown);
    return takeLock(*locks.profile, outcome);
}

bool Tallyctl::takeLock(ProfileLock &lock, Outcome &outcome)
{
    if (lock.acquire(invocation.lockTimeoutSeconds * 1000, lockNotice))
        return true;
    outcome.exitCode = ExitProfile;
    outcome.message = notSentMessage(QStringLiteral("tallyctl: ") + lock.failure(), outcome.groups);
    return false;
}

bool Tallyctl::reserveMac(int unit, WriteRecords &records, Outcome &outcome)
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
        return refuse(ExitProfile, QStringLiteral("tallyctl: cannot read the profile %1").arg(path));
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
    if (journal.isEnabled()) {
        QJsonObject line;
        line.insert(QStringLiteral("event"), QStringLiteral("reserved"));
        line.insert(QStringLiteral("time"), journalTime());
        line.insert(QStringLiteral("channel"), invocation.channelName());
        line.insert(QStringLiteral("profile"), QDir::toNativeSeparators(profilePath));
        line.insert(QStringLiteral("unit"), unit > 0 ? QJsonValue(unit) : QJsonValue());
        line.insert(QStringLiteral("mac"), mac);
        QString error;
        if (!journal.appendHeld(line, true, error)) {
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

void Tallyctl::verifyUnit(const Profile &sent, Outcome &outcome)
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
    const QString failure = readGroups(link, groups, held, [&ethernetRead](ReadGroup group) {
        ethernetRead = ethernetRead || group == ReadGroup::Ethernet;
    });
    if (outcome.macState == MacState::NotVerified && ethernetRead && held.value(macKey) == sent.value(macKey))
        outcome.macState = MacState::Verified;
    if (!failure.isEmpty()) {
        outcome.exitCode = ExitUnit;
        outcome.message = failure;
        outcome.cause = exchangeLog.problem();
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

int Tallyctl::test()
{
    const int index = testNames().indexOf(invocation.argument);
    const UnitTest kind = UnitTest(index);
    Outcome outcome;
    QString text;
    int value = -1;
    QJsonObject object;
    object.insert(QStringLiteral("test"), invocation.argument);
    if (openChannel(outcome)) {
        if (runUnitTest(link, kind, text, value)) {
            object.insert(QStringLiteral("text"), text);
            object.insert(QStringLiteral("value"), value >= 0 ? QJsonValue(value) : QJsonValue());
            if (!invocation.json)
                Console::out(withLineEnd(text));
        } else {
            outcome.exitCode = ExitUnit;
            outcome.message = unitTestFailureMessage(kind);
            outcome.cause = exchangeLog.problem();
        }
    }
    recordUnit(outcome);
    // With --json stdout holds one object: the result, or the failure as write prints it.
    if (invocation.json && outcome.exitCode != ExitOk) {
        object = QJsonObject{{QStringLiteral("test"), invocation.argument},
                             {QStringLiteral("exit"), outcome.exitCode},
                             {QStringLiteral("message"),
                              outcome.message.split(QLatin1Char('\n')).join(QStringLiteral("; "))}};
    }
    if (invocation.json)
        Console::out(jsonLine(object));
    return reportUnit(outcome);
}

int Tallyctl::reset()
{
    const int kind = resetKindNames().indexOf(invocation.argument);
    Outcome outcome;
    if (openChannel(outcome)) {
        if (link.resetData(quint8(kind))) {
            Console::out(resetDoneMessage() + QLatin1Char('\n'));
        } else {
            outcome.exitCode = ExitUnit;
            outcome.message = resetFailureMessage();
            outcome.cause = exchangeLog.problem();
        }
    }
    recordUnit(outcome);
    return reportUnit(outcome);
}
