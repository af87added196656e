#include "commands.h"

#include "console.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetrun.h"
#include "fleet/inventory.h"
#include "fleet/planfile.h"
#include "fleet/progress.h"
#include "settingsfile.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QMutex>
#include <QSaveFile>
#include <QSettings>
#include <QThread>

#include <atomic>
#include <cmath>

namespace {

enum class ApplyState { Changed, Unchanged, Failed, Unreachable, Drifted, Skipped, Blocked };

const QList<ApplyState> allStates = {ApplyState::Changed,  ApplyState::Unchanged, ApplyState::Failed,
                                     ApplyState::Unreachable, ApplyState::Drifted, ApplyState::Skipped,
                                     ApplyState::Blocked};

QString stateName(ApplyState state)
{
    switch (state) {
    case ApplyState::Changed: return QStringLiteral("changed");
    case ApplyState::Unchanged: return QStringLiteral("unchanged");
    case ApplyState::Failed: return QStringLiteral("failed");
    case ApplyState::Unreachable: return QStringLiteral("unreachable");
    case ApplyState::Drifted: return QStringLiteral("drifted");
    case ApplyState::Skipped: return QStringLiteral("skipped");
    case ApplyState::Blocked: return QStringLiteral("blocked");
    }
    return QString();
}

// What became of one unit, its last round's.
struct UnitResult {
    ApplyState state = ApplyState::Skipped;
    int exitCode = ExitFleet;   // what write would have exited with for this unit alone
    QString message;
    QStringList groups;         // written
    int round = 0;
    QString trace;              // with --trace, the unit's exchange
};

bool endedWell(ApplyState state)
{
    return state == ApplyState::Changed || state == ApplyState::Unchanged;
}

// The unit's line: its state, the groups written and why.
QString unitLine(const InventoryRow &row, const UnitResult &result)
{
    QString text = QStringLiteral("%1 (%2): %3").arg(row.name, row.channelName(), stateName(result.state));
    if (!result.groups.isEmpty())
        text += QStringLiteral(": ") + result.groups.join(QStringLiteral(", "));
    if (!result.message.isEmpty())
        text += QStringLiteral(": ") + result.message;
    return text;
}

// Names that are no file name on one system or another.
bool isFileName(const QString &name)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (const QChar c : name) {
        if (forbidden.contains(c) || c.unicode() < 0x20)
            return false;
    }
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.endsWith(QLatin1Char('.'))
        && !name.endsWith(QLatin1Char(' '));
}

bool saveFile(const QString &path, const QByteArray &bytes, QString &error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = QStringLiteral("cannot write %1").arg(path);
    return false;
}

class ApplyRun
{
public:
    explicit ApplyRun(UnitContext &context) : context(context), invocation(context.invocation) {}
    int run();

private:
    bool load(QString &error);
    void applyUnit(int index, int round);
    UnitResult exchange(const PlannedUnit &unit, const StoredUnit &stored);
    UnitResult exchangeWith(UnitContext &unitContext, const PlannedUnit &unit, const StoredUnit &stored);
    // Every value the unit holds, in DIR/NAME.ini as read -o writes it, and its row in
    // DIR/inventory.csv. The first backup of a unit stays: a run cut off and applied again
    // finds the unit partly written.
    QString backUp(DeviceLink &link, const PlannedUnit &unit);
    void record(int index);
    void runRound(const QList<int> &units, int round);
    bool writeReport(QString &error) const;
    bool writeRemaining(QString &error) const;

    UnitContext &context;
    const Invocation &invocation;
    QElapsedTimer clock;
    StoredPlan stored;
    FleetPlan plan;
    QVector<UnitResult> results;
    UnitResult *resultSlots = nullptr;
    QMutex recordLock;
    std::atomic<bool> stopped{false};
    std::atomic<int> failures{0};
    FleetProgress *progress = nullptr;
    int failLimit = -1;
};

bool ApplyRun::load(QString &error)
{
    if (!loadPlan(invocation.argument, stored, error))
        return false;
    // An edited inventory or profile is named as such, not by what its checks would find.
    for (const PlanSource &source : {stored.inventory, stored.profile}) {
        QFile file(source.path);
        if (!source.path.isEmpty() && file.open(QIODevice::ReadOnly)
            && QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) != source.sha256) {
            error = QStringLiteral("%1 changed since the plan; nothing was sent: plan again").arg(source.path);
            return false;
        }
    }
    QStringList notices;
    if (!makeFleetPlan(stored.profile.path, stored.inventory.path, stored.only, plan, notices, error))
        return false;
    for (const QString &notice : notices)
        Console::err(QStringLiteral("tallyctl: ") + notice + QLatin1Char('\n'));
    // A file that moved on since the plan was read would make this another plan.
    QStringList changed;
    if (plan.inventoryFile.sha256 != stored.inventory.sha256)
        changed << stored.inventory.path;
    if (plan.profileFile.sha256 != stored.profile.sha256)
        changed << stored.profile.path;
    QHash<QString, QByteArray> rowProfiles;
    for (const PlanSource &source : stored.rowProfiles)
        rowProfiles.insert(source.path, source.sha256);
    for (const PlanSource &source : plan.rowProfiles) {
        if (rowProfiles.value(source.path) != source.sha256)
            changed << source.path;
    }
    if (!changed.isEmpty()) {
        error = QStringLiteral("%1 changed since the plan; nothing was sent: plan again")
                    .arg(changed.join(QStringLiteral(", ")));
        return false;
    }
    if (!invocation.backup.isEmpty()) {
        for (const PlannedUnit &unit : plan.units) {
            if (!isFileName(unit.row.name)) {
                error = QStringLiteral("%1 %2: the name cannot be a file name of --backup; nothing was sent")
                            .arg(stored.inventory.path, unit.row.label());
                return false;
            }
        }
        // A folder made here is the owner's alone; one the engineer names keeps its permissions
        // (the files in it are owner-only in any case).
        if (!QFileInfo::exists(invocation.backup) && QDir().mkpath(invocation.backup))
            QFile::setPermissions(invocation.backup,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (!QFileInfo(invocation.backup).isDir() || !QFileInfo(invocation.backup).isWritable()) {
            error = QStringLiteral("cannot write the backup folder %1; nothing was sent").arg(invocation.backup);
            return false;
        }
    }
    return true;
}

QString ApplyRun::backUp(DeviceLink &link, const PlannedUnit &unit)
{
    const QDir folder(invocation.backup);
    const QString name = unit.row.name + QStringLiteral(".ini");
    const QString path = folder.filePath(name);
    if (QFileInfo::exists(path))
        return QString();
    Profile values;
    const QString failure = readGroups(link, readAllOrder(), values);
    if (!failure.isEmpty())
        return failure;
    // Owner-only before the password and token go in.
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return QStringLiteral("cannot write the backup %1").arg(path);
    }
    QSettings file(path, QSettings::IniFormat);
    values.store(file);
    if (!syncSettings(file) || !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return QStringLiteral("cannot write the backup %1").arg(path);

    const QMutexLocker locked(&recordLock);
    QFile list(folder.filePath(QStringLiteral("inventory.csv")));
    const bool fresh = !list.exists() || list.size() == 0;
    if (!list.open(QIODevice::Append))
        return QStringLiteral("cannot write %1").arg(list.fileName());
    const QChar comma = QLatin1Char(',');
    if (fresh)
        list.write(inventoryRecord({QStringLiteral("name"), QStringLiteral("host"), QStringLiteral("serial"),
                                    QStringLiteral("profile"), QLatin1String(ProfileKey::EthMAC)}, comma));
    const QString host = unit.row.host.isEmpty() ? QString()
        : unit.row.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(unit.row.host).arg(unit.row.port)
                                                   : QStringLiteral("%1:%2").arg(unit.row.host).arg(unit.row.port);
    list.write(inventoryRecord({unit.row.name, host, unit.row.serial, name, values.value(QLatin1String(ProfileKey::EthMAC))}, comma));
    return list.flush() ? QString() : QStringLiteral("cannot write %1").arg(list.fileName());
}

UnitResult ApplyRun::exchange(const PlannedUnit &unit, const StoredUnit &storedUnit)
{
    UnitResult result;
    result.trace = onUnit(invocation, clock, unit.row,
                          [&](UnitContext &context) { result = exchangeWith(context, unit, storedUnit); });
    return result;
}

UnitResult ApplyRun::exchangeWith(UnitContext &unitContext, const PlannedUnit &unit, const StoredUnit &storedUnit)
{
    UnitResult result;
    DeviceLink &link = unitContext.link;
    Profile held;
    QList<ReadGroup> arrived;
    const PlannedRead read = readPlanned(unitContext, unit, held, arrived, result.message);
    if (read == PlannedRead::NotOpened || read == PlannedRead::Silent) {
        result.state = ApplyState::Unreachable;
        result.exitCode = read == PlannedRead::NotOpened ? ExitChannel : ExitUnit;
        return result;
    }
    if (read == PlannedRead::Failed) {
        result.state = ApplyState::Failed;
        result.exitCode = ExitUnit;
        return result;
    }
    const auto failed = [&](const QString &message) {
        result.state = ApplyState::Failed;
        result.exitCode = ExitUnit;
        result.message = withCause(message, unitContext.exchangeLog.problem());
        return result;
    };
    result.message = blockedReason(unit, held);
    if (!result.message.isEmpty()) {
        result.state = ApplyState::Blocked;
        return result;
    }

    // A group the unit holds as planned is done; one it holds as the plan saw it is written;
    // anything else was changed by someone else since, and nothing goes to the unit.
    QList<WriteGroup> toWrite;
    QStringList drifted;
    for (WriteGroup group : unit.groups) {
        const QJsonObject seen = storedUnit.held.value(writeGroupName(group)).toObject();
        bool planned = true;
        bool asSeen = true;
        QStringList keys;
        for (const QString &key : writeGroupKeys(group)) {
            const QString value = held.value(key);
            const QString kept = Profile::isSecret(key)
                ? sealedValue(stored.sealKey, stored.id, unit.row.name, key, value) : value;
            planned = planned && value == unit.planned.value(key) && held.nonUtf8Bytes(key).isEmpty();
            if (seen.contains(key) && seen.value(key).toString() != kept && value != unit.planned.value(key)) {
                asSeen = false;
                keys << key;
            }
        }
        if (planned)
            continue;
        if (!seen.isEmpty() && !asSeen)
            drifted += keys;
        else
            toWrite << group;
    }
    if (!drifted.isEmpty()) {
        result.state = ApplyState::Drifted;
        result.message = QStringLiteral("the unit holds neither what the plan saw nor the planned value: %1; "
                                        "nothing was sent").arg(drifted.join(QStringLiteral(", ")));
        return result;
    }
    if (toWrite.isEmpty()) {
        result.state = ApplyState::Unchanged;
        result.exitCode = ExitOk;
        return result;
    }

    QString failure = invocation.backup.isEmpty() ? QString() : backUp(link, unit);
    if (!failure.isEmpty())
        return failed(failure + QStringLiteral("; nothing was sent"));
    WriteRecords records = unit.records;
    failure = sendGroups(link, toWrite, records,
                         [&result](WriteGroup group) { result.groups << writeGroupName(group); });
    if (!failure.isEmpty())
        return failed(failure);

    Profile back;
    failure = readGroups(link, readsOf(toWrite), back);
    if (!failure.isEmpty())
        return failed(failure);
    QStringList differences;
    for (WriteGroup group : toWrite) {
        for (const QString &key : writeGroupKeys(group)) {
            if (back.value(key) == unit.planned.value(key))
                continue;
            differences << (Profile::isSecret(key)
                                ? QStringLiteral("%1: the unit holds another value than the one sent (not shown: a secret)").arg(key)
                                : QStringLiteral("%1: sent \"%2\", the unit holds \"%3\"")
                                      .arg(key, unit.planned.value(key), back.value(key)));
        }
    }
    if (!differences.isEmpty()) {
        result.state = ApplyState::Failed;
        result.exitCode = ExitVerify;
        result.message = differences.join(QStringLiteral("; "));
        return result;
    }
    result.state = ApplyState::Changed;
    result.exitCode = ExitOk;
    return result;
}

void ApplyRun::applyUnit(int index, int round)
{
    // Each worker fills its unit's slot alone.
    UnitResult &result = resultSlots[index];
    if (stopped) {
        result = UnitResult();
        result.round = round;
        record(index);
        progress->unitEnded(stateName(result.state), false, unitLine(plan.units.at(index).row, result));
        return;
    }
    const PlannedUnit &unit = plan.units.at(index);
    result = exchange(unit, stored.units.value(unit.row.name));
    result.round = round;
    if (result.state == ApplyState::Failed || result.state == ApplyState::Drifted) {
        if (failLimit >= 0 && ++failures > failLimit)
            stopped = true;
    }
    record(index);
    progress->unitEnded(stateName(result.state), endedWell(result.state), unitLine(unit.row, result), result.trace);
}

void ApplyRun::record(int index)
{
    const UnitResult &result = results.at(index);
    if (!context.journal.isEnabled())
        return;
    const PlannedUnit &unit = plan.units.at(index);
    QJsonArray groups;
    for (const QString &group : result.groups)
        groups << group;
    const QJsonObject line{{QStringLiteral("time"), UnitContext::journalTime()},
                           {QStringLiteral("plan"), stored.id},
                           {QStringLiteral("name"), unit.row.name},
                           {QStringLiteral("channel"), unit.row.channelName()},
                           {QStringLiteral("command"), QStringLiteral("apply")},
                           {QStringLiteral("round"), result.round},
                           {QStringLiteral("state"), stateName(result.state)},
                           {QStringLiteral("exit"), result.exitCode},
                           {QStringLiteral("message"), result.message},
                           {QStringLiteral("groups"), groups}};
    const QMutexLocker locked(&recordLock);
    QString error;
    if (!context.journal.append(line, error))
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
}

void ApplyRun::runRound(const QList<int> &units, int round)
{
    runUnits(units.size(), invocation.jobs, [&](int i) { applyUnit(units.at(i), round); });
}

bool ApplyRun::writeReport(QString &error) const
{
    const QChar delimiter = plan.inventory.delimiter;
    QByteArray bytes = "\xEF\xBB\xBF" + inventoryRecord({QStringLiteral("name"), QStringLiteral("channel"),
                                                         QStringLiteral("state"), QStringLiteral("groups"),
                                                         QStringLiteral("message")}, delimiter);
    for (int index = 0; index < plan.units.size(); ++index) {
        const UnitResult &result = results.at(index);
        const InventoryRow &row = plan.units.at(index).row;
        bytes += inventoryRecord({row.name, row.channelName(), stateName(result.state),
                                  result.groups.join(QStringLiteral(" ")), result.message}, delimiter);
    }
    return saveFile(invocation.report, bytes, error);
}

bool ApplyRun::writeRemaining(QString &error) const
{
    const QChar delimiter = plan.inventory.delimiter;
    QByteArray bytes = "\xEF\xBB\xBF" + inventoryRecord(plan.inventory.columns, delimiter);
    for (int index = 0; index < plan.units.size(); ++index) {
        if (!endedWell(results.at(index).state))
            bytes += inventoryRecord(plan.units.at(index).row.cells, delimiter);
    }
    return saveFile(invocation.remaining, bytes, error);
}

int ApplyRun::run()
{
    clock.start();
    QString error;
    if (!load(error)) {
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
        return ExitProfile;
    }
    results.resize(plan.units.size());
    resultSlots = results.data();

    // Units the plan found as planned or blocked are not contacted.
    QList<int> pending;
    for (int index = 0; index < plan.units.size(); ++index) {
        const QString state = stored.units.value(plan.units.at(index).row.name).state;
        UnitResult &result = results[index];
        if (state == QLatin1String("unchanged")) {
            result.state = ApplyState::Unchanged;
            result.exitCode = ExitOk;
        } else if (state == QLatin1String("blocked")) {
            result.state = ApplyState::Blocked;
            result.message = QStringLiteral("blocked in the plan");
        } else {
            pending << index;
        }
    }
    if (invocation.maxFail >= 0)
        failLimit = invocation.maxFailPercent ? int(std::floor(invocation.maxFail * pending.size() / 100.0))
                                              : invocation.maxFail;

    bool canaryStopped = false;
    for (int round = 1; round <= invocation.rounds && !pending.isEmpty(); ++round) {
        if (round > 1 && invocation.roundWaitSeconds > 0)
            QThread::sleep(unsigned(invocation.roundWaitSeconds));
        QStringList stateNames;
        for (ApplyState state : allStates)
            stateNames << stateName(state);
        FleetProgress roundProgress(pending.size(), stateNames, invocation.quiet);
        progress = &roundProgress;
        QList<int> batch = pending;
        if (round == 1 && invocation.canary > 0) {
            const QList<int> canaries = pending.mid(0, invocation.canary);
            runRound(canaries, round);
            for (int index : canaries) {
                if (!endedWell(results.at(index).state))
                    canaryStopped = true;
            }
            if (canaryStopped)
                stopped = true;
            batch = pending.mid(invocation.canary);
        }
        runRound(batch, round);
        roundProgress.finish();
        progress = nullptr;
        QList<int> next;
        for (int index : pending) {
            if (results.at(index).state == ApplyState::Unreachable)
                next << index;
        }
        pending = next;
        if (stopped)
            break;
    }

    QMap<ApplyState, int> counts;
    QString text;
    QJsonArray units;
    for (int index = 0; index < plan.units.size(); ++index) {
        const UnitResult &result = results.at(index);
        const InventoryRow &row = plan.units.at(index).row;
        ++counts[result.state];
        if (result.state != ApplyState::Unchanged)
            text += unitLine(row, result) + QLatin1Char('\n');
        QJsonArray groups;
        for (const QString &group : result.groups)
            groups << group;
        units << QJsonObject{{QStringLiteral("name"), row.name},
                             {QStringLiteral("channel"), row.channelName()},
                             {QStringLiteral("state"), stateName(result.state)},
                             {QStringLiteral("groups"), groups},
                             {QStringLiteral("exit"), result.exitCode},
                             {QStringLiteral("message"), result.message}};
    }
    QJsonObject countsJson;
    QStringList countsText;
    for (ApplyState state : allStates) {
        countsJson.insert(stateName(state), counts.value(state));
        countsText << QStringLiteral("%1 %2").arg(counts.value(state)).arg(stateName(state));
    }
    if (invocation.json)
        Console::out(jsonLine(QJsonObject{{QStringLiteral("plan"), stored.id},
                                          {QStringLiteral("counts"), countsJson},
                                          {QStringLiteral("units"), units}}));
    else
        Console::out(text + QStringLiteral("%1 units: %2\n").arg(plan.units.size()).arg(countsText.join(QStringLiteral(", "))));

    int exitCode = counts.value(ApplyState::Changed) + counts.value(ApplyState::Unchanged) == plan.units.size()
        ? ExitOk : ExitFleet;
    if (stopped)
        exitCode = ExitStopped;
    if ((!invocation.report.isEmpty() && !writeReport(error))
        || (!invocation.remaining.isEmpty() && !writeRemaining(error))) {
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
        if (exitCode == ExitOk)
            exitCode = ExitUsage;
    }
    return exitCode;
}

} // namespace

int applyCommand(UnitContext &context)
{
    return ApplyRun(context).run();
}
