#include "stationsrun.h"

#include "benchmath.h"
#include "testaddress.h"
#include "unitprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>

#include <memory>
#include <vector>

namespace {

constexpr int FirstAddress = 40;    // 127.A.B.40 and up, this run's own
// A paced unit takes about 0.2 s; this is far beyond any unit, short of the unit's 30 s waits.
constexpr int GiveUpMsPerUnit = 3000;
constexpr quint8 MacWrite = 0x69;

QString unitHost(int station)
{
    return testAddress(FirstAddress + station);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint64 macNumber(const QString &mac)
{
    return QString(mac).remove(QLatin1Char('-')).toULongLong(nullptr, 16);
}

} // namespace

StationsRun::StationsRun(const QString &tallyctl, const QString &simulator, const QString &folder,
                         const QByteArray &profile)
    : tallyctl(tallyctl), simulator(simulator), folder(folder), profile(profile)
{
}

StationsRun::Result StationsRun::run(int stations, int units, int baud) const
{
    Result result;
    const QDir dir(folder);
    const QString profilePath = dir.filePath(QStringLiteral("stations.ini"));
    QFile file(profilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(profile) != profile.size()) {
        result.error = QStringLiteral("cannot write %1").arg(profilePath);
        return result;
    }
    file.close();
    const QString first = QSettings(profilePath, QSettings::IniFormat).value(QStringLiteral("EthMAC")).toString();

    std::vector<std::unique_ptr<UnitProcess>> unitsOnPorts;
    QStringList logs;
    for (int i = 0; i < stations; ++i) {
        logs << dir.filePath(QStringLiteral("station-%1.log").arg(i));
        QFile::remove(logs.last());
        QStringList arguments{QStringLiteral("--listen"), unitHost(i) + QStringLiteral(":20107"),
                              QStringLiteral("--log"), logs.last()};
        if (baud > 0)
            arguments << QStringLiteral("--baud") << QString::number(baud);
        unitsOnPorts.emplace_back(new UnitProcess(simulator));
        if (!unitsOnPorts.back()->start(arguments, &result.error))
            return result;
    }

    std::vector<std::unique_ptr<QProcess>> processes;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < stations; ++i) {
        processes.emplace_back(new QProcess);
        processes.back()->start(tallyctl, {QStringLiteral("--host"), unitHost(i), QStringLiteral("write"), profilePath,
                                           QStringLiteral("--series"), QStringLiteral("--increment-mac")});
        // The engineer's Enter between two units, all typed ahead. Handed over now: without an
        // event loop a QProcess only writes while it is waited for, and the stations would then
        // start one after another's end.
        QProcess &process = *processes.back();
        process.waitForStarted();
        process.write(QByteArray(units - 1, '\n'));
        process.waitForBytesWritten();
        process.closeWriteChannel();
    }
    // Every station is waited for; the first one's failure is the one told.
    for (int i = 0; i < stations; ++i) {
        QProcess &process = *processes.at(size_t(i));
        QString failure;
        if (!process.waitForFinished(GiveUpMsPerUnit * units)) {
            process.kill();
            process.waitForFinished(GiveUpMsPerUnit);
            failure = QStringLiteral("station %1 did not end within %2 ms").arg(i).arg(GiveUpMsPerUnit * units);
        } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            failure = QStringLiteral("station %1 exited with %2: %3")
                          .arg(i).arg(process.exitCode())
                          .arg(QString::fromUtf8(process.readAllStandardError()).trimmed());
        } else if (process.readAllStandardOutput().count(": ok; MAC ") != units) {
            failure = QStringLiteral("station %1 did not write all its %2 units").arg(i).arg(units);
        }
        if (result.error.isEmpty())
            result.error = failure;
    }
    result.wallMs = clock.nsecsElapsed() / 1e6;
    unitsOnPorts.clear();
    if (!result.error.isEmpty())
        return result;

    QSet<QByteArray> macs;
    int frames = 0;
    for (const QString &log : logs) {
        QList<QByteArray> requests;
        if (!BenchMath::parseFrameLog(fileBytes(log), &requests)) {
            result.error = QStringLiteral("unreadable request log %1").arg(log);
            return result;
        }
        for (const QByteArray &frame : requests) {
            if (frame.size() > 3 && quint8(frame.at(2)) == MacWrite) {
                macs.insert(frame.mid(3, 6));
                ++frames;
            }
        }
    }
    const QString last = QSettings(profilePath, QSettings::IniFormat).value(QStringLiteral("EthMAC")).toString();
    const int total = stations * units;
    if (frames != total || macs.size() != total || macNumber(last) - macNumber(first) != quint64(total))
        result.error = QStringLiteral("%1 MAC frames with %2 addresses for %3 units; the profile went from %4 to %5")
                           .arg(frames).arg(macs.size()).arg(total).arg(first, last);
    result.ok = result.error.isEmpty();
    return result;
}
