// Measures the configurator's read-all and write-all against the unit simulator, once with a
// unit that answers at once and once over a line paced like the real 9600-baud one, the same for
// tallyctl read and write as whole processes, and the time and memory the program needs to show
// its window. Prints one table.

#include "benchmath.h"
#include "clirunner.h"
#include "countingrelay.h"
#include "fleetplanrun.h"
#include "fleetrun.h"
#include "rawreplay.h"
#include "startuprun.h"
#include "stationsrun.h"
#include "testaddress.h"
#include "unitprocess.h"
#include "windowrunner.h"

#include "protocol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

using BenchMath::number;

namespace {

const QString UnitHost = testAddress(20);
const QString RelayHost = testAddress(21);
constexpr int PacedBaud = 9600;
// About as long as a paced write-all: what lies between two starts of tallyctl in the paced rows.
constexpr int IdleBeforeStartMs = 200;
// Stations of a line sharing one profile: how many at once, and the units of each one's series.
const QList<int> StationCounts = {1, 2, 4};
constexpr int UnitsPerStation = 10;
// A fleet in one simulator process, and how many of its units are read at once.
constexpr int FleetUnits = 1000;
constexpr int FleetTalking = 64;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Series {
    QVector<double> ms;
    int failures = 0;
    QString firstError;

    void add(const RunOutcome &outcome)
    {
        if (outcome.ok) {
            ms << outcome.ms;
        } else {
            ++failures;
            if (firstError.isEmpty())
                firstError = outcome.error;
        }
    }
    QString failureNote() const
    {
        return failures ? QStringLiteral("; %1 FAILED: %2").arg(failures).arg(firstError) : QString();
    }
};

struct PacedResult {
    Series configurator;
    Series bareClient;
    int framesPerRun = 0;
    qint64 requestBytes = 0;        // from the unit's request log
    qint64 bytesOut = 0;            // counted by the relay, configurator to unit
    qint64 bytesIn = 0;             // counted by the relay, unit to configurator
    double viaRelayMs = 0;
    QString error;
};

class RequestLog
{
public:
    explicit RequestLog(const QString &path) : file(path) {}

    // The frames the unit received since the last call.
    bool takeNew(QList<QByteArray> *frames)
    {
        if (!file.isOpen() && !file.open(QIODevice::ReadOnly))
            return false;
        return BenchMath::parseFrameLog(file.readAll(), frames);
    }

private:
    QFile file;
};

PacedResult measurePaced(FrontEndRunner &runner, Operation operation, int runs, RequestLog &log,
                         CountingRelay &relay)
{
    PacedResult result;
    QList<QByteArray> frames;
    log.takeNew(&frames);

    runner.connectTo(UnitHost);
    for (int i = 0; i < runs; ++i) {
        RunOutcome outcome = runner.run(operation);
        if (outcome.ok && !log.takeNew(&frames))
            outcome = {false, QStringLiteral("unreadable request log"), 0};
        if (outcome.ok && result.framesPerRun == 0) {
            result.framesPerRun = frames.size();
            result.requestBytes = BenchMath::totalBytes(frames);
        } else if (outcome.ok && (frames.size() != result.framesPerRun
                                  || BenchMath::totalBytes(frames) != result.requestBytes)) {
            outcome = {false, QStringLiteral("the unit got %1 frames of %2 bytes, not %3 of %4")
                                  .arg(frames.size()).arg(BenchMath::totalBytes(frames))
                                  .arg(result.framesPerRun).arg(result.requestBytes), 0};
        }
        result.configurator.add(outcome);
    }
    const QList<QByteArray> requests = frames;

    // The same operation once more through the relay, which counts both directions on the
    // configurator's side of the line.
    relay.resetCounts();
    runner.connectTo(RelayHost);
    const RunOutcome counted = runner.run(operation);
    runner.connectTo(UnitHost);
    log.takeNew(&frames);
    if (!counted.ok)
        result.error = QStringLiteral("counted run: ") + counted.error;
    else if (!relay.waitUntilIdle(2000) || relay.connectionsSeen() != 1)
        result.error = QStringLiteral("the relay saw %1 connections").arg(relay.connectionsSeen());
    else if (relay.bytesToUnit() != result.requestBytes)
        result.error = QStringLiteral("the relay counted %1 request bytes, the unit logged %2")
                           .arg(relay.bytesToUnit()).arg(result.requestBytes);
    result.bytesOut = relay.bytesToUnit();
    result.bytesIn = relay.bytesFromUnit();
    result.viaRelayMs = counted.ms;

    for (int i = 0; i < runs && !requests.isEmpty(); ++i) {
        const ReplayResult replay = replayRequests(UnitHost, Protocol::TcpPort, requests);
        RunOutcome outcome{replay.ok, replay.error, replay.elapsedMs};
        if (replay.ok && (replay.bytesSent != result.bytesOut || replay.bytesReceived != result.bytesIn))
            outcome = {false, QStringLiteral("the bare client exchanged %1/%2 bytes")
                                  .arg(replay.bytesSent).arg(replay.bytesReceived), 0};
        result.bareClient.add(outcome);
        WindowRunner::settle(5);
        log.takeNew(&frames);
    }
    return result;
}

// The offscreen platform says this for every window it shows; it says nothing about the
// configurator and would bury the table.
QtMessageHandler standardHandler = nullptr;

void quietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

QString target(bool met, const QString &limit)
{
    return limit + (met ? QStringLiteral(": met") : QStringLiteral(": MISSED"));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallyconf-bench"));
    standardHandler = qInstallMessageHandler(quietOffscreenNotes);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Times read-all, write-all and the start-up of the configurator, and tallyctl read and write,\n"
        "against the unit simulator on a loopback address of its own, 127.A.B.20 with A.B from its\n"
        "process id (and a counting relay on 127.A.B.21), and prints one table."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"),
        QStringLiteral("Runs of each operation with an instant unit (default 50)."), QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption pacedOption(QStringLiteral("paced-runs"),
        QStringLiteral("Runs of each operation over the paced line (default 5)."), QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption startupOption(QStringLiteral("startup-runs"),
        QStringLiteral("Starts of the start-up probe (default 10)."), QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption simulatorOption(QStringLiteral("simulator"),
        QStringLiteral("The unit-simulator program."), QStringLiteral("PATH"), QStringLiteral(TALLY_SIMULATOR_PATH));
    const QCommandLineOption probeOption(QStringLiteral("probe"),
        QStringLiteral("The tallyconf-startup-probe program."), QStringLiteral("PATH"), QStringLiteral(TALLY_PROBE_PATH));
    const QCommandLineOption tallyctlOption(QStringLiteral("tallyctl"),
        QStringLiteral("The tallyctl program."), QStringLiteral("PATH"), QStringLiteral(TALLY_TALLYCTL_PATH));
    const QCommandLineOption stationOption(QStringLiteral("station-runs"),
        QStringLiteral("Runs of each number of stations sharing a profile (default 3)."), QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption fleetOption(QStringLiteral("fleet"),
        QStringLiteral("Measure only the fleet: %1 paced units in one simulator process, its memory, and the\n"
                       "read-all ratio of one unit while %2 are read at once.").arg(FleetUnits).arg(FleetTalking));
    const QCommandLineOption fleetRoundsOption(QStringLiteral("fleet-rounds"),
        QStringLiteral("Rounds of the fleet's reads at once (default 3)."), QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption fleetUnitsOption(QStringLiteral("fleet-units"),
        QStringLiteral("Units of the fleet (default %1).").arg(FleetUnits), QStringLiteral("N"), QString::number(FleetUnits));
    const QCommandLineOption fleetTalkingOption(QStringLiteral("fleet-talking"),
        QStringLiteral("Units of the fleet read at once (default %1).").arg(FleetTalking), QStringLiteral("N"),
        QString::number(FleetTalking));
    const QCommandLineOption fleetPlanOption(QStringLiteral("fleet-plan"),
        QStringLiteral("Measure only tallyctl plan and apply over %1 paced units, --jobs %2, against their ideal;\n"
                       "then again with 10 % of the units not listening and 2 % silent.").arg(FleetUnits).arg(FleetTalking));
    parser.addOptions({runsOption, pacedOption, startupOption, stationOption, simulatorOption, probeOption,
                       tallyctlOption, fleetOption, fleetRoundsOption, fleetUnitsOption, fleetTalkingOption,
                       fleetPlanOption});
    parser.process(app);

    const int instantRuns = qMax(1, parser.value(runsOption).toInt());
    const int pacedRuns = qMax(1, parser.value(pacedOption).toInt());
    const int startupRuns = qMax(1, parser.value(startupOption).toInt());
    const int stationRuns = qMax(1, parser.value(stationOption).toInt());
    const QString simulator = parser.value(simulatorOption);
    const QString probe = parser.value(probeOption);
    const QString tallyctl = parser.value(tallyctlOption);

    // The window keeps its defaults in the working directory; none of ours may leak in or out.
    QTemporaryDir workDir;
    if (!workDir.isValid() || !QDir::setCurrent(workDir.path())) {
        out() << "cannot make a working directory\n";
        return 2;
    }
    const QString unitListen = UnitHost + QLatin1Char(':') + QString::number(Protocol::TcpPort);

    if (parser.isSet(fleetPlanOption)) {
        const QString loadBeforeFleet = loadAverage();
        out() << "tallyconf fleet plan and apply benchmark: " << TALLY_BUILD_TYPE << " build, Qt " << qVersion()
              << ", load average before " << loadBeforeFleet << "\n\n";
        out() << "| measurement | runs | result | target |\n|---|---|---|---|\n";
        const int units = parser.value(fleetUnitsOption).toInt() > 0 ? parser.value(fleetUnitsOption).toInt() : FleetUnits;
        const struct {
            int offline;
            int silent;
        } shapes[] = {{0, 0}, {units / 10, units / 50}};
        for (const auto &shape : shapes) {
            const FleetPlanRun::Result run = FleetPlanRun(tallyctl, simulator, workDir.path())
                .run(units, FleetTalking, PacedBaud, shape.offline, shape.silent);
            if (!run.ok) {
                out() << "FAILED: " << run.error << '\n';
                return 1;
            }
            const double planRatio = run.planMs / run.idealPlanMs;
            const double applyRatio = run.applyMs / run.idealApplyMs;
            const bool clean = shape.offline + shape.silent == 0;
            out() << "| tallyctl plan and apply of a server address, " << run.units << " units"
                  << (clean ? QString() : QStringLiteral(" (%1 not listening, %2 silent)").arg(shape.offline).arg(shape.silent))
                  << ", --jobs " << FleetTalking << ", " << PacedBaud << " baud 8N1 | 1 | plan "
                  << number(run.planMs / 1000, 2) << " s, ratio to ideal " << number(planRatio, 3) << " (one unit "
                  << number(run.planOneMs) << " ms); apply " << number(run.applyMs / 1000, 2) << " s, ratio "
                  << number(applyRatio, 3) << " (one unit " << number(run.applyOneMs) << " ms); tallyctl peak "
                  << number(run.peakRssMb) << " MiB; \"" << run.planSummary << "\", \"" << run.applySummary << "\" | "
                  << (clean ? target(planRatio <= 1.10 && applyRatio <= 1.10 && run.peakRssMb > 0 && run.peakRssMb <= 150,
                                     QStringLiteral("ratios at most 1.10, at most 150 MB"))
                            : QStringLiteral("-"))
                  << " |\n";
            out().flush();
        }
        out() << "load average after " << loadAverage() << '\n';
        return 0;
    }

    if (parser.isSet(fleetOption)) {
        const QString loadBeforeFleet = loadAverage();
        const int talking = qMax(1, parser.value(fleetTalkingOption).toInt());
        const FleetRun::Result fleet = FleetRun(tallyctl, simulator, workDir.path())
            .run(qMax(talking, parser.value(fleetUnitsOption).toInt()), talking,
                 qMax(1, parser.value(fleetRoundsOption).toInt()), PacedBaud);
        out() << "tallyconf fleet benchmark: " << TALLY_BUILD_TYPE << " build, Qt " << qVersion()
              << ", load average before " << loadBeforeFleet << ", after " << loadAverage() << "\n\n";
        if (!fleet.ok) {
            out() << "FAILED: " << fleet.error << '\n';
            return 1;
        }
        const BenchMath::Summary alone = BenchMath::summarize(fleet.aloneRatio);
        const BenchMath::Summary measured = BenchMath::summarize(fleet.measuredRatio);
        const BenchMath::Summary every = BenchMath::summarize(fleet.everyRatio);
        out() << "| measurement | runs | result | target |\n|---|---|---|---|\n";
        out() << "| resident memory of " << fleet.units << " units, " << PacedBaud << " baud, listening | 1 | "
              << number(fleet.idleRssMb) << " MiB; after the reads, peak " << number(fleet.peakRssMb) << " MiB | "
              << target(fleet.peakRssMb > 0 && fleet.peakRssMb <= 100, QStringLiteral("at most 100 MB")) << " |\n";
        out() << "| read-all of unit 1 while " << talking - 1 << " others are read, " << PacedBaud
              << " baud 8N1 (" << fleet.bytesPerReadAll << " B = " << number(fleet.lineMs) << " ms on the line) | "
              << measured.count << " | ratio median " << number(measured.median, 3) << ", max "
              << number(measured.max, 3) << "; unit 1 alone " << number(alone.median, 3)
              << "; a one-unit simulator " << number(BenchMath::summarize(fleet.singleRatio).median, 3) << "; all "
              << talking << " units, median " << number(every.median, 3) << ", max " << number(every.max, 3)
              << "; the fleet busy " << number(100 * fleet.busyShare, 0) << "% of a core meanwhile"
              << " | " << target(measured.count > 0 && measured.median <= 1.02, QStringLiteral("ratio at most 1.02"))
              << " |\n";
        out().flush();
        return 0;
    }

    // Other work on the machine shows in every number here; say how busy it was.
    const QString loadBefore = loadAverage();
    WindowRunner bench;
    bench.connectTo(UnitHost);
    CliRunner cli(tallyctl, workDir.filePath(QStringLiteral("profile.ini")));
    cli.connectTo(UnitHost);
    UnitProcess unit(simulator);
    QString error;

    // Instant unit.
    if (!unit.start({QStringLiteral("--listen"), unitListen}, &error)) {
        out() << error << '\n';
        return 2;
    }
    bench.run(Operation::ReadAll);      // first connection, first fonts: not what is measured
    Series instantRead, instantWrite;
    for (int i = 0; i < instantRuns; ++i)
        instantRead.add(bench.run(Operation::ReadAll));
    for (int i = 0; i < instantRuns; ++i)
        instantWrite.add(bench.run(Operation::WriteAll));

    // The profile every write sends; its read also brings tallyctl and its libraries into memory.
    const RunOutcome stored = cli.storeProfile();
    if (!stored.ok) {
        out() << stored.error << '\n';
        return 2;
    }
    // Taken in turns, so that other work on the machine weighs on the three alike: the start-up
    // alone is what the other two are read against.
    Series cliStart, cliRead, cliWrite;
    for (int i = 0; i < instantRuns; ++i) {
        cliStart.add(cli.startOnly());
        cliRead.add(cli.run(Operation::ReadAll));
        cliWrite.add(cli.run(Operation::WriteAll));
    }
    unit.stop();

    // Paced line.
    const QString logPath = workDir.filePath(QStringLiteral("requests.log"));
    if (!unit.start({QStringLiteral("--listen"), unitListen, QStringLiteral("--baud"), QString::number(PacedBaud),
                     QStringLiteral("--log"), logPath}, &error)) {
        out() << error << '\n';
        return 2;
    }
    CountingRelay relay(QHostAddress(RelayHost), QHostAddress(UnitHost), Protocol::TcpPort);
    if (!relay.start(&error)) {
        out() << "counting relay: " << error << '\n';
        return 2;
    }
    RequestLog log(logPath);
    const PacedResult pacedRead = measurePaced(bench, Operation::ReadAll, pacedRuns, log, relay);
    const PacedResult pacedWrite = measurePaced(bench, Operation::WriteAll, pacedRuns, log, relay);
    const PacedResult pacedCliRead = measurePaced(cli, Operation::ReadAll, pacedRuns, log, relay);
    const PacedResult pacedCliWrite = measurePaced(cli, Operation::WriteAll, pacedRuns, log, relay);
    unit.stop();

    // Stations on one profile, each with its own paced unit; taken in turns so that other work
    // on the machine weighs on every count alike.
    QVector<Series> stationSeries(StationCounts.size());
    {
        QFile profileFile(workDir.filePath(QStringLiteral("profile.ini")));
        const QByteArray profile = profileFile.open(QIODevice::ReadOnly) ? profileFile.readAll() : QByteArray();
        const StationsRun stations(tallyctl, simulator, workDir.path(), profile);
        for (int round = 0; round < stationRuns; ++round) {
            for (int i = 0; i < StationCounts.size(); ++i) {
                const StationsRun::Result result = stations.run(StationCounts.at(i), UnitsPerStation, PacedBaud);
                stationSeries[i].add({result.ok, result.error, result.wallMs / UnitsPerStation});
            }
        }
    }

    // tallyctl --version once more, each start after a pause like the paced runs leave between
    // two: with the caches gone cold a start costs more than back to back.
    Series cliStartIdle;
    for (int i = 0; i < pacedRuns; ++i) {
        QThread::msleep(IdleBeforeStartMs);
        cliStartIdle.add(cli.startOnly());
    }

    // Start-up.
    QVector<double> toMain, toFirstPaint, toPainted, peakRss;
    QString startupError;
    for (int i = 0; i < startupRuns; ++i) {
        const StartupRun run = runStartupProbe(probe);
        if (!run.ok) {
            startupError = run.error;
            break;
        }
        toMain << run.toMainMs;
        toFirstPaint << run.toFirstPaintMs;
        toPainted << run.toPaintedMs;
        peakRss << run.peakRssMb;
    }

    // The table.
    out() << "tallyconf benchmark: " << TALLY_BUILD_TYPE << " build, Qt " << qVersion()
          << ", platform " << QGuiApplication::platformName() << ", load average before "
          << loadBefore << ", after " << loadAverage() << "\n\n";
    out() << "| measurement | runs | result | target |\n|---|---|---|---|\n";

    bool allRan = true;
    // A limit of 0: no target.
    const auto instantRow = [&](const char *name, const Series &series, double limitMs) {
        const BenchMath::Summary summary = BenchMath::summarize(series.ms);
        out() << "| " << name << " | " << summary.count << " | median " << number(summary.median, 2)
              << " ms, max " << number(summary.max, 2) << " ms" << series.failureNote() << " | "
              << (limitMs > 0 ? target(summary.count > 0 && summary.median < limitMs,
                                       QStringLiteral("under %1 ms").arg(limitMs))
                              : QStringLiteral("-"))
              << " |\n";
        allRan = allRan && series.failures == 0;
    };
    instantRow("read-all, instant unit", instantRead, 5);
    instantRow("write-all, instant unit, to the success box", instantWrite, 0);
    instantRow("tallyctl read, whole process, instant unit", cliRead, 40);
    instantRow("tallyctl write PROFILE, whole process, instant unit", cliWrite, 0);

    const auto pacedRow = [&](const char *name, const PacedResult &paced, double limit) {
        const BenchMath::Summary measured = BenchMath::summarize(paced.configurator.ms);
        const BenchMath::Summary bare = BenchMath::summarize(paced.bareClient.ms);
        const double wire = BenchMath::wireMs(paced.bytesOut + paced.bytesIn, PacedBaud);
        const double ratio = wire > 0 ? measured.median / wire : 0;
        out() << "| " << name << ", " << PacedBaud << " baud 8N1 | " << measured.count << " | median "
              << number(measured.median) << " ms (max " << number(measured.max) << "); on the line "
              << paced.bytesOut << " B out in " << paced.framesPerRun << " frames + " << paced.bytesIn
              << " B back = " << number(wire) << " ms; ratio " << number(ratio, 3)
              << " (a bare client: " << number(wire > 0 ? bare.median / wire : 0, 3) << ")"
              << paced.configurator.failureNote()
              << (paced.error.isEmpty() ? QString() : QStringLiteral("; COUNT FAILED: ") + paced.error)
              << " | " << target(measured.count > 0 && wire > 0 && ratio <= limit,
                                 QStringLiteral("ratio at most %1").arg(limit))
              << " |\n";
        allRan = allRan && paced.configurator.failures == 0 && paced.error.isEmpty()
            && paced.bareClient.failures == 0;
    };
    pacedRow("read-all", pacedRead, 1.02);
    pacedRow("write-all", pacedWrite, 1.02);
    pacedRow("tallyctl read, whole process", pacedCliRead, 1.03);
    pacedRow("tallyctl write PROFILE, whole process", pacedCliWrite, 1.03);

    const double onePerUnit = BenchMath::summarize(stationSeries.first().ms).median;
    for (int i = 0; i < StationCounts.size(); ++i) {
        const int count = StationCounts.at(i);
        const BenchMath::Summary perUnit = BenchMath::summarize(stationSeries.at(i).ms);
        const double ratio = onePerUnit > 0 ? perUnit.median / onePerUnit : 0;
        out() << "| " << count << (count == 1 ? " station" : " stations at once") << " on one profile, each tallyctl "
              << "write --series --increment-mac of " << UnitsPerStation << " units, " << PacedBaud << " baud 8N1 | "
              << perUnit.count << " | wall time per unit median " << number(perUnit.median) << " ms (max "
              << number(perUnit.max) << "); ratio to one station " << number(ratio, 3)
              << stationSeries.at(i).failureNote() << " | "
              << (count == StationCounts.last()
                      ? target(perUnit.count > 0 && ratio <= 1.10, QStringLiteral("ratio at most 1.10"))
                      : QStringLiteral("-"))
              << " |\n";
        allRan = allRan && stationSeries.at(i).failures == 0;
    }

    const BenchMath::Summary painted = BenchMath::summarize(toPainted);
    const BenchMath::Summary rss = BenchMath::summarize(peakRss);
    const QString startupNote = startupError.isEmpty() ? QString() : QStringLiteral("; FAILED: ") + startupError;
    out() << "| start-up to the first painted window | " << painted.count << " | median "
          << number(painted.median) << " ms, max " << number(painted.max) << " ms" << startupNote << " | "
          << target(painted.count > 0 && painted.median < 150, QStringLiteral("under 150 ms")) << " |\n";
    out() << "| peak resident memory at start-up | " << rss.count << " | max " << number(rss.max)
          << " MiB (median " << number(rss.median) << ") | "
          << target(rss.count > 0 && rss.max < 50, QStringLiteral("under 50 MB")) << " |\n";
    allRan = allRan && startupError.isEmpty();

    out() << "\nDetails:\n";
    const auto bareLine = [&](const char *name, const PacedResult &paced) {
        const BenchMath::Summary bare = BenchMath::summarize(paced.bareClient.ms);
        const BenchMath::Summary measured = BenchMath::summarize(paced.configurator.ms);
        out() << "  " << name << " over the paced line: a bare client sending the same frames and reading "
              << "the answers takes median " << number(bare.median) << " ms; " << name << " takes "
              << number(bare.median > 0 ? measured.median / bare.median : 0, 3) << " times that; "
              << "through the counting relay " << number(paced.viaRelayMs) << " ms"
              << paced.bareClient.failureNote() << "\n";
    };
    bareLine("read-all", pacedRead);
    bareLine("write-all", pacedWrite);
    bareLine("tallyctl read", pacedCliRead);
    bareLine("tallyctl write", pacedCliWrite);

    // What a tallyctl process costs before and after it talks to the unit.
    const BenchMath::Summary cliAlone = BenchMath::summarize(cliStart.ms);
    const BenchMath::Summary cliAloneIdle = BenchMath::summarize(cliStartIdle.ms);
    const auto lessStartUp = [&](const PacedResult &paced) {
        const double wire = BenchMath::wireMs(paced.bytesOut + paced.bytesIn, PacedBaud);
        const double median = BenchMath::summarize(paced.configurator.ms).median;
        return number(wire > 0 ? (median - cliAloneIdle.median) / wire : 0, 3);
    };
    out() << "  tallyctl --version, whole process (start, Qt set up, exit; no unit): back to back "
          << cliAlone.count << " runs, median " << number(cliAlone.median, 2) << " ms, max "
          << number(cliAlone.max, 2) << " ms" << cliStart.failureNote() << "; each after "
          << IdleBeforeStartMs << " ms idle " << cliAloneIdle.count << " runs, median "
          << number(cliAloneIdle.median, 2) << " ms, max " << number(cliAloneIdle.max, 2) << " ms"
          << cliStartIdle.failureNote() << "; less the latter, the paced ratio of tallyctl read is "
          << lessStartUp(pacedCliRead) << ", of write " << lessStartUp(pacedCliWrite) << "\n";
    allRan = allRan && cliStart.failures == 0 && cliStartIdle.failures == 0;
    const BenchMath::Summary main = BenchMath::summarize(toMain);
    const BenchMath::Summary firstPaint = BenchMath::summarize(toFirstPaint);
    out() << "  start-up (offscreen): process start to main() median " << number(main.median)
          << " ms, to the window's first paint event " << number(firstPaint.median)
          << " ms, to the painted window " << number(painted.median) << " ms\n";
    out().flush();
    return allRan ? 0 : 1;
}
