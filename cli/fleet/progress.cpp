#include "progress.h"

#include "console.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

bool stderrIsTerminal()
{
#if defined(Q_OS_WIN)
    DWORD mode = 0;
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
#elif defined(Q_OS_LINUX)
    // The system names the device stderr is open on; a terminal's is a tty or a pseudo-terminal.
    const QString device = QFileInfo(QStringLiteral("/proc/self/fd/2")).symLinkTarget();
    return device.startsWith(QLatin1String("/dev/pts/")) || device.startsWith(QLatin1String("/dev/tty"));
#else
    return false;
#endif
}

FleetProgress::FleetProgress(int total, const QStringList &states, bool quiet)
    : total(total), states(states), quiet(quiet), terminal(stderrIsTerminal())
{
    clock.start();
}

QString FleetProgress::statusLine() const
{
    QStringList parts;
    for (const QString &state : states) {
        if (counts.value(state) > 0)
            parts << QStringLiteral("%1 %2").arg(counts.value(state)).arg(state);
    }
    const double seconds = clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    QString line = QStringLiteral("%1/%2 done").arg(done).arg(total);
    if (!parts.isEmpty())
        line += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    if (rate > 0)
        line += QStringLiteral("; %1 units/s, %2 s left").arg(rate, 0, 'f', 1).arg(qRound((total - done) / rate));
    return line;
}

void FleetProgress::clearStatus()
{
    // Carriage return and spaces: what every terminal, the Windows console included, takes.
    if (terminal && drawnWidth > 0)
        Console::err(QLatin1Char('\r') + QString(drawnWidth, QLatin1Char(' ')) + QLatin1Char('\r'));
    drawnWidth = 0;
}

void FleetProgress::drawStatus(const QString &above)
{
    const QString status = statusLine();
    clearStatus();
    Console::err(above.isEmpty() ? status : above + QLatin1Char('\n') + status);
    drawnWidth = status.size();
}

void FleetProgress::unitEnded(const QString &state, bool endedWell, const QString &line, const QString &trace)
{
    const QMutexLocker locked(&lock);
    const QString shownLine = QString(line).replace(QLatin1Char('\n'), QLatin1Char(' '));
    ++done;
    ++counts[state];
    const bool shown = !quiet || !endedWell;
    if (!trace.isEmpty()) {
        clearStatus();
        Console::err(trace);
    }
    if (terminal)
        drawStatus(shown && !endedWell ? shownLine : QString());
    else if (shown)
        Console::err(shownLine + QLatin1Char('\n'));
}

void FleetProgress::finish()
{
    const QMutexLocker locked(&lock);
    clearStatus();
}
