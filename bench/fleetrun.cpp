#include "fleetrun.h"

#include "benchmath.h"
#include "clirunner.h"
#include "rawreplay.h"
#include "testaddress.h"
#include "unitprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>

#include <atomic>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int StartWaitMs = 30000;
// A thousand units reach into the next /24s, which are other runs' networks (testaddress.h):
// a port of the fleet's own keeps it off their units.
constexpr quint16 FleetPort = 20197;
constexpr int StopWaitMs = 5000;

// Resident memory of a process in MiB, from /proc (Linux); 0 where there is none.
double residentMb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

// The first unit's address: host 1 of the run's network, moved down a /16 where the fleet would
// run out of 127.0.0.0/8.
QHostAddress firstAddress(int units)
{
    quint32 first = QHostAddress(testAddress(1)).toIPv4Address();
    if (quint64(first) + quint64(units) > 0x7FFFFFFEULL)
        first -= 0x10000;
    return QHostAddress(first);
}

QString hostOf(const QHostAddress &first, int unit)
{
    return QHostAddress(first.toIPv4Address() + quint32(unit - 1)).toString();
}

// CPU time a process has had, user and system, in ms, from /proc (Linux); 0 where there is none.
double cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields 14 and 15, counted after the command name in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
#ifdef Q_OS_UNIX
    const long ticks = sysconf(_SC_CLK_TCK);
#else
    const long ticks = 0;
#endif
    return ticks > 0 ? (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000 / ticks : 0;
}

} // namespace

FleetRun::FleetRun(const QString &tallyctl, const QString &simulator, const QString &folder)
    : tallyctl(tallyctl), simulator(simulator), folder(folder)
{
}

FleetRun::Result FleetRun::run(int units, int talking, int rounds, int baud) const
{
    Result result;
    result.units = units;
    const QHostAddress first = firstAddress(units);
    const QString logPath = QDir(folder).filePath(QStringLiteral("fleet.log"));
    QFile::remove(logPath);

    QProcess fleet;
    fleet.start(simulator, {QStringLiteral("--units"), QString::number(units), QStringLiteral("--listen"),
                            first.toString() + QLatin1Char(':') + QString::number(FleetPort),
                            QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--log"), logPath});
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("listening on") && clock.elapsed() < StartWaitMs
           && fleet.state() != QProcess::NotRunning) {
        fleet.waitForReadyRead(100);
        said += fleet.readAllStandardOutput();
    }
    const auto stop = [&fleet] {
        fleet.terminate();
        if (!fleet.waitForFinished(StopWaitMs)) {
            fleet.kill();
            fleet.waitForFinished(StopWaitMs);
        }
    };
    if (!said.contains("listening on")) {
        result.error = QStringLiteral("the fleet did not start listening: ")
            + QString::fromLocal8Bit(said + fleet.readAllStandardError()).trimmed();
        stop();
        return result;
    }
    result.idleRssMb = residentMb(fleet.processId(), "VmRSS:");

    // The frames of a read-all: tallyctl read against unit 1, as the unit logged them.
    CliRunner cli(tallyctl, QDir(folder).filePath(QStringLiteral("fleet-profile.ini")));
    cli.connectTo(hostOf(first, 1) + QLatin1Char(':') + QString::number(FleetPort));
    const RunOutcome read = cli.run(Operation::ReadAll);
    QFile log(logPath);
    QByteArray unitOne;
    if (read.ok && log.open(QIODevice::ReadOnly)) {
        const QByteArray prefix = "1 " + hostOf(first, 1).toLatin1() + ' ';
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.startsWith(prefix))
                unitOne += line.mid(prefix.size()) + '\n';
        }
    }
    QList<QByteArray> frames;
    if (!read.ok || !BenchMath::parseFrameLog(unitOne, &frames) || frames.isEmpty()) {
        result.error = read.ok ? QStringLiteral("no read-all frames of unit 1 in the log") : read.error;
        stop();
        return result;
    }

    double busyMs = 0, wallMs = 0;
    for (int round = 0; round < rounds && result.error.isEmpty(); ++round) {
        const ReplayResult alone = replayRequests(hostOf(first, 1), FleetPort, frames);
        if (!alone.ok) {
            result.error = QStringLiteral("unit 1 alone: ") + alone.error;
            break;
        }
        result.bytesPerReadAll = alone.bytesSent + alone.bytesReceived;
        result.lineMs = BenchMath::wireMs(result.bytesPerReadAll, baud);
        result.aloneRatio << alone.elapsedMs / result.lineMs;

        // Every client waits for the same go, so that the reads overlap from their first frame.
        std::vector<ReplayResult> outcomes(static_cast<size_t>(talking));
        std::atomic<bool> go{false};
        std::vector<std::thread> clients;
        for (int i = 0; i < talking; ++i) {
            const QString host = hostOf(first, i + 1);
            clients.emplace_back([&, i, host] {
                while (!go)
                    std::this_thread::yield();
                outcomes[size_t(i)] = replayRequests(host, FleetPort, frames);
            });
        }
        const double cpuBefore = cpuMs(fleet.processId());
        QElapsedTimer wall;
        wall.start();
        go = true;
        for (std::thread &client : clients)
            client.join();
        busyMs += cpuMs(fleet.processId()) - cpuBefore;
        wallMs += wall.nsecsElapsed() / 1e6;
        for (int i = 0; i < talking; ++i) {
            const ReplayResult &outcome = outcomes[size_t(i)];
            if (!outcome.ok || outcome.bytesSent + outcome.bytesReceived != result.bytesPerReadAll) {
                result.error = QStringLiteral("unit %1 among %2: %3").arg(i + 1).arg(talking)
                    .arg(outcome.ok ? QStringLiteral("other bytes than alone") : outcome.error);
                break;
            }
            result.everyRatio << outcome.elapsedMs / result.lineMs;
        }
        if (result.error.isEmpty())
            result.measuredRatio << outcomes.front().elapsedMs / result.lineMs;
    }
    result.peakRssMb = residentMb(fleet.processId(), "VmHWM:");
    result.busyShare = wallMs > 0 ? busyMs / wallMs : 0;
    stop();

    // What the machine's own load costs the same conversation: one unit in a process of its own.
    UnitProcess single(simulator);
    QString error;
    if (result.error.isEmpty()
        && !single.start({QStringLiteral("--listen"), hostOf(first, 1) + QLatin1Char(':') + QString::number(FleetPort),
                          QStringLiteral("--baud"), QString::number(baud)}, &error))
        result.error = QStringLiteral("one unit: ") + error;
    for (int round = 0; round < rounds && result.error.isEmpty(); ++round) {
        const ReplayResult alone = replayRequests(hostOf(first, 1), FleetPort, frames);
        if (!alone.ok)
            result.error = QStringLiteral("one unit: ") + alone.error;
        else
            result.singleRatio << alone.elapsedMs / result.lineMs;
    }
    result.ok = result.error.isEmpty();
    return result;
}
