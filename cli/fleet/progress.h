#ifndef PROGRESS_H
#define PROGRESS_H

#include <QElapsedTimer>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

// How far plan or apply has come, on stderr while the units answer. On a terminal (a Linux
// one, or the Windows console) one status line is redrawn in place: units done of all, the
// count per state, units per second and the time left, with a line per unit that did not end
// well printed above it as it ends. Elsewhere (a pipe, a file, a log) a plain line per unit as
// it ends and nothing else. Quiet: only the units that did not end well. Workers call it.
class FleetProgress
{
public:
    // `states`: the state names in the order the status line counts them.
    FleetProgress(int total, const QStringList &states, bool quiet);

    // A unit ended in `state`; `line` names it ("shop-12 (tcp:...): unreachable: ..."). `trace`:
    // the unit's exchange with --trace, shown whole before it, quiet or not.
    void unitEnded(const QString &state, bool endedWell, const QString &line, const QString &trace = QString());
    // Takes the status line away, before the summary.
    void finish();

private:
    QString statusLine() const;
    void drawStatus(const QString &above);
    // Takes the status line off the terminal, so that other lines can be written in its place.
    void clearStatus();

    QMutex lock;
    QElapsedTimer clock;
    const int total;
    const QStringList states;
    const bool quiet;
    const bool terminal;
    int done = 0;
    QMap<QString, int> counts;
    int drawnWidth = 0;
};

// Whether stderr is a terminal a status line can be redrawn on.
bool stderrIsTerminal();

#endif // PROGRESS_H
