#ifndef STATIONSRUN_H
#define STATIONSRUN_H

#include <QByteArray>
#include <QString>

// Stations of a production line that share one profile: each a tallyctl write PROFILE --series
// --increment-mac of a number of units against a unit simulator of its own, all started
// together and timed from the first start to the last exit. A run counts only when every unit
// was written and every MAC the units got is another one, one after another from the
// profile's first to the one the profile holds at the end.
class StationsRun
{
public:
    struct Result {
        bool ok = false;
        QString error;
        double wallMs = 0;
    };

    // `profile` is the file's content every run starts from; it lives in `folder`, with the
    // simulators' request logs.
    StationsRun(const QString &tallyctl, const QString &simulator, const QString &folder,
                const QByteArray &profile);

    // The stations' units listen on this run's loopback addresses 127.A.B.40 and up; `baud` paces their lines (0: unpaced).
    Result run(int stations, int units, int baud) const;

private:
    QString tallyctl;
    QString simulator;
    QString folder;
    QByteArray profile;
};

#endif // STATIONSRUN_H
