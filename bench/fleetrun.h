#ifndef FLEETRUN_H
#define FLEETRUN_H

#include <QString>
#include <QVector>

// A thousand units in one unit-simulator process, paced like the 9600-baud line: what the process
// holds in memory, and how well it keeps each unit's line time while many units are read at once.
// The read-all is the frames tallyctl read sends, replayed by a bare client per unit (as
// rawreplay.h), so that only the simulator's own pacing is measured.
class FleetRun
{
public:
    struct Result {
        bool ok = false;
        QString error;
        int units = 0;
        double idleRssMb = 0;               // listening, nobody connected
        double peakRssMb = 0;               // after every round
        qint64 bytesPerReadAll = 0;         // both directions
        double lineMs = 0;                  // what those bytes take on the line
        QVector<double> aloneRatio;         // unit 1 read alone, a ratio per round
        QVector<double> measuredRatio;      // unit 1 read while the others are, per round
        QVector<double> everyRatio;         // every unit talking at once, every round
        QVector<double> singleRatio;        // the same frames to a one-unit simulator, per round
        double busyShare = 0;               // the fleet's CPU time over the wall time of the reads at once
    };

    FleetRun(const QString &tallyctl, const QString &simulator, const QString &folder);

    // `units` units from host 1 of the run's loopback network on; `talking` of them (unit 1 and
    // the next ones) are read at once, `rounds` times.
    Result run(int units, int talking, int rounds, int baud) const;

private:
    QString tallyctl;
    QString simulator;
    QString folder;
};

#endif // FLEETRUN_H
