#include "commands.h"

#include "console.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetrun.h"
#include "fleet/planfile.h"
#include "fleet/progress.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

namespace {

enum class PlanState { Changes, Unchanged, Unreachable, Failed, Blocked };

QString stateName(PlanState state)
{
    switch (state) {
    case PlanState::Changes: return QStringLiteral("changes");
    case PlanState::Unchanged: return QStringLiteral("unchanged");
    case PlanState::Unreachable: return QStringLiteral("unreachable");
    case PlanState::Failed: return QStringLiteral("failed");
    case PlanState::Blocked: return QStringLiteral("blocked");
    }
    return QString();
}

const QList<PlanState> allStates = {PlanState::Changes, PlanState::Unchanged, PlanState::Unreachable,
                                    PlanState::Failed, PlanState::Blocked};

// What one unit's read showed. Each is filled by the one worker that read the unit.
struct UnitReading {
    PlanState state = PlanState::Unreachable;
    Profile held;
    QList<ReadGroup> arrived;    // in the order they came
    QList<PlannedChange> changes;
    QString message;
    QString trace;               // with --trace, the unit's exchange
};

void readWith(UnitContext &context, const PlannedUnit &unit, UnitReading &reading)
{
    const PlannedRead read = readPlanned(context, unit, reading.held, reading.arrived, reading.message);
    context.link.close();
    if (read != PlannedRead::Read) {
        reading.state = read == PlannedRead::Failed ? PlanState::Failed : PlanState::Unreachable;
        return;
    }
    reading.changes = plannedChanges(unit, reading.held);
    reading.message = blockedReason(unit, reading.held);
    reading.state = !reading.message.isEmpty() ? PlanState::Blocked
        : reading.changes.isEmpty()            ? PlanState::Unchanged
                                               : PlanState::Changes;
}

// A value as a change line shows it: in quotes when it is empty or holds what separates.
QString shownValue(const QString &value)
{
    static const QString separators = QStringLiteral(" ,;\"");
    bool plain = !value.isEmpty();
    for (const QChar c : value)
        plain = plain && !separators.contains(c);
    return plain ? value : QStringLiteral("\"%1\"").arg(QString(value).replace(QLatin1Char('"'), QStringLiteral("\\\"")));
}

// "server: IPsrv 10.0.0.1 -> 10.0.0.2; token: ServerToken changed".
QString changesText(const PlannedUnit &unit, const UnitReading &reading)
{
    QStringList groups;
    QStringList keys;
    for (int i = 0; i < reading.changes.size(); ++i) {
        const PlannedChange &change = reading.changes.at(i);
        keys << (Profile::isSecret(change.key)
                     ? change.key + QStringLiteral(" changed")
                     : QStringLiteral("%1 %2 -> %3").arg(change.key, shownValue(reading.held.value(change.key)),
                                                        shownValue(unit.planned.value(change.key))));
        if (i + 1 == reading.changes.size() || reading.changes.at(i + 1).group != change.group) {
            groups << writeGroupName(change.group) + QStringLiteral(": ") + keys.join(QStringLiteral(", "));
            keys.clear();
        }
    }
    return groups.join(QStringLiteral("; "));
}

// The unit's line: its changes, or its state and why.
QString unitLine(const PlannedUnit &unit, const UnitReading &reading)
{
    const QString head = QStringLiteral("%1 (%2): ").arg(unit.row.name, unit.row.channelName());
    if (reading.state == PlanState::Changes)
        return head + changesText(unit, reading);
    if (reading.message.isEmpty())
        return head + stateName(reading.state);
    return head + stateName(reading.state) + QStringLiteral(": ") + reading.message;
}

QJsonObject changesJson(const PlannedUnit &unit, const UnitReading &reading)
{
    QJsonObject groups;
    for (const PlannedChange &change : reading.changes) {
        QJsonObject keys = groups.value(writeGroupName(change.group)).toObject();
        keys.insert(change.key, Profile::isSecret(change.key)
                                    ? QJsonValue(QStringLiteral("changed"))
                                    : QJsonValue(QJsonObject{{QStringLiteral("from"), reading.held.value(change.key)},
                                                             {QStringLiteral("to"), unit.planned.value(change.key)}}));
        groups.insert(writeGroupName(change.group), keys);
    }
    return groups;
}

// What the unit held in each planned group whose values came in, secrets sealed.
QJsonObject heldJson(const PlannedUnit &unit, const UnitReading &reading, const QByteArray &sealKey,
                     const QString &planId)
{
    QJsonObject groups;
    for (WriteGroup group : unit.groups) {
        if (!reading.arrived.contains(readGroupOf(group)))
            continue;
        QJsonObject keys;
        for (const QString &key : writeGroupKeys(group)) {
            const QString value = reading.held.value(key);
            keys.insert(key, Profile::isSecret(key) ? sealedValue(sealKey, planId, unit.row.name, key, value) : value);
        }
        groups.insert(writeGroupName(group), keys);
    }
    return groups;
}

} // namespace

int planCommand(UnitContext &context)
{
    const Invocation &invocation = context.invocation;
    FleetPlan plan;
    QStringList notices;
    QString error;
    const bool planned = makeFleetPlan(invocation.argument, invocation.inventory, invocation.groups, plan, notices, error);
    for (const QString &notice : notices)
        Console::err(QStringLiteral("tallyctl: ") + notice + QLatin1Char('\n'));
    if (!planned) {
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
        return ExitProfile;
    }

    QElapsedTimer clock;
    clock.start();
    QVector<UnitReading> readings(plan.units.size());
    // Each worker fills its unit's slot alone.
    UnitReading *readingSlots = readings.data();
    QStringList stateNames;
    for (PlanState state : allStates)
        stateNames << stateName(state);
    FleetProgress progress(plan.units.size(), stateNames, invocation.quiet);
    runUnits(plan.units.size(), invocation.jobs, [&](int unit) {
        UnitReading &reading = readingSlots[unit];
        reading.trace = onUnit(invocation, clock, plan.units.at(unit).row,
                               [&](UnitContext &context) { readWith(context, plan.units.at(unit), reading); });
        progress.unitEnded(stateName(reading.state),
                           reading.state == PlanState::Changes || reading.state == PlanState::Unchanged,
                           unitLine(plan.units.at(unit), reading), reading.trace);
    });
    progress.finish();

    const QString planId = newPlanId();
    const QByteArray sealKey = newSealKey();
    QMap<PlanState, int> counts;
    QString text;
    QJsonArray units;
    QJsonArray stored;
    for (int index = 0; index < plan.units.size(); ++index) {
        const PlannedUnit &unit = plan.units.at(index);
        const UnitReading &reading = readings.at(index);
        ++counts[reading.state];
        const QString channel = unit.row.channelName();
        if (reading.state != PlanState::Unchanged)
            text += unitLine(unit, reading) + QLatin1Char('\n');
        const QJsonObject common{{QStringLiteral("name"), unit.row.name},
                                 {QStringLiteral("channel"), channel},
                                 {QStringLiteral("state"), stateName(reading.state)},
                                 {QStringLiteral("message"), reading.message}};
        QJsonObject shown = common;
        shown.insert(QStringLiteral("changes"), changesJson(unit, reading));
        units << shown;
        QJsonObject kept = common;
        kept.insert(QStringLiteral("line"), unit.row.line);
        kept.insert(QStringLiteral("held"), heldJson(unit, reading, sealKey, planId));
        stored << kept;
    }

    QJsonObject countsJson;
    QStringList countsText;
    for (PlanState state : allStates) {
        countsJson.insert(stateName(state), counts.value(state));
        countsText << QStringLiteral("%1 %2").arg(counts.value(state)).arg(stateName(state));
    }

    if (!invocation.output.isEmpty()) {
        QJsonArray groups;
        for (WriteGroup group : invocation.groups)
            groups << writeGroupName(group);
        QJsonArray rowProfiles;
        for (const PlanSource &source : plan.rowProfiles)
            rowProfiles << sourceJson(source);
        const QJsonObject file{
            {QStringLiteral("plan"), planId},
            {QStringLiteral("time"), UnitContext::journalTime()},
            {QStringLiteral("profile"), plan.profileFile.path.isEmpty() ? QJsonValue() : sourceJson(plan.profileFile)},
            {QStringLiteral("inventory"), sourceJson(plan.inventoryFile)},
            {QStringLiteral("rowProfiles"), rowProfiles},
            {QStringLiteral("only"), groups},
            {QStringLiteral("counts"), countsJson},
            {QStringLiteral("units"), stored}};
        if (!savePlan(invocation.output, file, sealKey, error)) {
            Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
            return ExitUsage;
        }
    }

    if (invocation.json) {
        const QJsonObject object{{QStringLiteral("plan"), planId},
                                 {QStringLiteral("counts"), countsJson},
                                 {QStringLiteral("units"), units}};
        Console::out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else {
        Console::out(text + QStringLiteral("%1 units: %2\n").arg(plan.units.size()).arg(countsText.join(QStringLiteral(", "))));
    }
    const bool allRead = counts.value(PlanState::Unreachable) + counts.value(PlanState::Failed)
            + counts.value(PlanState::Blocked) == 0;
    return allRead ? ExitOk : ExitFleet;
}
