#ifndef STARTUPRUN_H
#define STARTUPRUN_H

#include <QString>

// One start of the start-up probe: the time from just before the process was created to its
// first painted window, and the most memory it ever held. Linux only; elsewhere ok stays false.
struct StartupRun {
    bool ok = false;
    QString error;
    double toMainMs = 0;            // process creation, loading and linking, up to main()
    double toFirstPaintMs = 0;
    double toPaintedMs = 0;         // what the engineer waits for
    double peakRssMb = 0;
};

StartupRun runStartupProbe(const QString &probePath);

#endif // STARTUPRUN_H
