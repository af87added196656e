#ifndef FLEETPLANRUN_H
#define FLEETPLANRUN_H

#include <QString>
#include <QStringList>

// tallyctl plan and apply over a fleet in one unit-simulator process paced like the 9600-baud
// line: a change of the server's address planned and applied for every unit, each whole process
// timed against its ideal, ceil(units / jobs) times the same command for one unit alone, run in
// the same fleet just before.
class FleetPlanRun
{
public:
    struct Result {
        bool ok = false;
        QString error;
        int units = 0;
        double planOneMs = 0;       // plan of one unit alone, whole process
        double applyOneMs = 0;
        double planMs = 0;          // plan of the fleet
        double applyMs = 0;
        double idealPlanMs = 0;
        double idealApplyMs = 0;
        double peakRssMb = 0;       // tallyctl's, the larger of plan's and apply's
        QString planSummary;        // the summary lines, as printed
        QString applySummary;
    };

    FleetPlanRun(const QString &tallyctl, const QString &simulator, const QString &folder);

    // `units` units plus the one measured alone; `offline` and `silent` units of the fleet do not
    // listen or never answer a read.
    Result run(int units, int jobs, int baud, int offline, int silent) const;

private:
    QString tallyctl;
    QString simulator;
    QString folder;
};

#endif // FLEETPLANRUN_H
