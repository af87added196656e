#include "fleetplanrun.h"

#include "testaddress.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>

#include <cmath>

namespace {

constexpr int StartWaitMs = 30000;
constexpr int RunWaitMs = 600000;
// Its own port, off every other fleet's and unit's.
constexpr quint16 FleetPort = 20199;

// Peak resident memory of a running process in MiB, from /proc (Linux); 0 where there is none.
double peakMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

struct Timed {
    bool ok = false;
    int exitCode = -1;
    double ms = 0;
    double peakMb = 0;
    QString out;
    QString err;
};

// One whole tallyctl process, its peak memory sampled while it runs.
Timed runTallyctl(const QString &program, const QStringList &arguments)
{
    Timed timed;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(StartWaitMs))
        return timed;
    while (!process.waitForFinished(20) && clock.elapsed() < RunWaitMs)
        timed.peakMb = qMax(timed.peakMb, peakMb(process.processId()));
    timed.ms = clock.nsecsElapsed() / 1e6;
    timed.ok = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
    timed.exitCode = process.exitCode();
    timed.out = QString::fromUtf8(process.readAllStandardOutput());
    timed.err = QString::fromUtf8(process.readAllStandardError());
    return timed;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString lastLine(const QString &text)
{
    return text.trimmed().section(QLatin1Char('\n'), -1);
}

} // namespace

FleetPlanRun::FleetPlanRun(const QString &tallyctl, const QString &simulator, const QString &folder)
    : tallyctl(tallyctl), simulator(simulator), folder(folder)
{
}

FleetPlanRun::Result FleetPlanRun::run(int units, int jobs, int baud, int offline, int silent) const
{
    Result result;
    result.units = units;
    const QDir dir(folder);
    // Unit 1 is the one measured alone; the fleet is units 2 to units + 1.
    const quint32 first = QHostAddress(testAddress(1)).toIPv4Address() - 0x20000;
    const auto host = [first](int unit) {
        return QHostAddress(first + quint32(unit - 1)).toString() + QLatin1Char(':') + QString::number(FleetPort);
    };
    QStringList options{QStringLiteral("--units"), QString::number(units + 1), QStringLiteral("--listen"), host(1),
                        QStringLiteral("--baud"), QString::number(baud)};
    if (offline > 0)
        options << QStringLiteral("--offline") << QStringLiteral("2-%1").arg(offline + 1);
    if (silent > 0)
        options << QStringLiteral("--fault")
                << QStringLiteral("silent@07#%1-%2").arg(offline + 2).arg(offline + silent + 1);

    QProcess fleet;
    fleet.start(simulator, options);
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("listening on") && clock.elapsed() < StartWaitMs && fleet.state() != QProcess::NotRunning) {
        fleet.waitForReadyRead(100);
        said += fleet.readAllStandardOutput();
    }
    const auto stop = [&fleet] {
        fleet.kill();
        fleet.waitForFinished(5000);
    };
    if (!said.contains("listening on")) {
        result.error = QStringLiteral("the fleet did not start listening: ") + QString::fromLocal8Bit(said);
        stop();
        return result;
    }

    QByteArray one = "host\n" + host(1).toLatin1() + '\n';
    QByteArray all = "name,host\n";
    for (int unit = 2; unit <= units + 1; ++unit)
        all += "unit-" + QByteArray::number(unit) + ',' + host(unit).toLatin1() + '\n';
    const QString profile = dir.filePath(QStringLiteral("server.ini"));
    if (!writeFile(profile, "[General]\nIPsrv=10.0.0.2\nURLaddr=reports.example.org\nPort=7778\n")
        || !writeFile(dir.filePath(QStringLiteral("one.csv")), one)
        || !writeFile(dir.filePath(QStringLiteral("all.csv")), all)) {
        result.error = QStringLiteral("cannot write the inventories");
        stop();
        return result;
    }

    const QString jobsText = QString::number(jobs);
    const auto plan = [&](const QString &inventory, const QString &output) {
        return runTallyctl(tallyctl, {QStringLiteral("plan"), profile, QStringLiteral("--inventory"),
                                      dir.filePath(inventory), QStringLiteral("--jobs"), jobsText, QStringLiteral("--quiet"),
                                      QStringLiteral("-o"), dir.filePath(output)});
    };
    const auto apply = [&](const QString &planFile) {
        return runTallyctl(tallyctl, {QStringLiteral("apply"), dir.filePath(planFile), QStringLiteral("--jobs"),
                                      jobsText, QStringLiteral("--quiet")});
    };
    const bool clean = offline + silent == 0;
    const Timed planOne = plan(QStringLiteral("one.csv"), QStringLiteral("one.json"));
    const Timed applyOne = apply(QStringLiteral("one.json"));
    const Timed planAll = plan(QStringLiteral("all.csv"), QStringLiteral("all.json"));
    const Timed applyAll = apply(QStringLiteral("all.json"));
    stop();
    const int expected = clean ? 0 : 7;
    if (!planOne.ok || planOne.exitCode != 0 || !applyOne.ok || applyOne.exitCode != 0 || !planAll.ok
        || planAll.exitCode != expected || !applyAll.ok || applyAll.exitCode != expected) {
        result.error = QStringLiteral("exit codes %1 %2 %3 %4: %5")
                           .arg(planOne.exitCode).arg(applyOne.exitCode).arg(planAll.exitCode).arg(applyAll.exitCode)
                           .arg(planOne.err + applyOne.err + planAll.err.left(500) + applyAll.err.left(500));
        return result;
    }
    const double rounds = std::ceil(double(units) / jobs);
    result.planOneMs = planOne.ms;
    result.applyOneMs = applyOne.ms;
    result.planMs = planAll.ms;
    result.applyMs = applyAll.ms;
    result.idealPlanMs = rounds * planOne.ms;
    result.idealApplyMs = rounds * applyOne.ms;
    result.peakRssMb = qMax(planAll.peakMb, applyAll.peakMb);
    result.planSummary = lastLine(planAll.out);
    result.applySummary = lastLine(applyAll.out);
    result.ok = true;
    return result;
}
