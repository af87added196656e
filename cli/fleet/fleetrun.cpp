#include "fleetrun.h"

#include "unitcontext.h"

#include <QRunnable>
#include <QTcpSocket>
#include <QThreadPool>

void runUnits(int count, int jobs, const std::function<void(int unit)> &work)
{
    // The network's first socket registers Qt's types for it: once, here, before the workers
    // would race to.
    { QTcpSocket first; }
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (int unit = 0; unit < count; ++unit)
        pool.start(QRunnable::create([&work, unit] { work(unit); }));
    pool.waitForDone();
}

QString onUnit(const Invocation &invocation, const QElapsedTimer &clock, const InventoryRow &row,
               const std::function<void(UnitContext &)> &work)
{
    // The context keeps a reference to its invocation.
    const Invocation channel = row.withChannel(invocation);
    UnitContext context(channel, clock);
    context.exchangeLog.collectFor(row.name);
    work(context);
    return context.exchangeLog.takeCollected();
}

PlannedRead readPlanned(UnitContext &context, const PlannedUnit &unit, Profile &held, QList<ReadGroup> &arrived,
                        QString &message)
{
    Outcome outcome;
    if (!context.openChannel(outcome)) {
        message = withCause(outcome.message, outcome.cause);
        return PlannedRead::NotOpened;
    }
    const QList<ReadGroup> reads = readsOf(unit.groups);
    const QString failure = readGroups(context.link, reads, held, [&arrived](ReadGroup group) { arrived << group; });
    if (failure.isEmpty())
        return PlannedRead::Read;
    if (arrived.isEmpty() && !context.exchangeLog.answeredAnything()) {
        message = withCause(failure, context.exchangeLog.problem());
        return PlannedRead::Silent;
    }
    message = withCause(readGroupName(reads.at(arrived.size())) + QStringLiteral(": ") + failure,
                        context.exchangeLog.problem());
    return PlannedRead::Failed;
}

QString withCause(const QString &message, const QString &cause)
{
    return cause.isEmpty() ? message : message + QStringLiteral(" (") + cause + QLatin1Char(')');
}
