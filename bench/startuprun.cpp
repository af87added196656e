#include "startuprun.h"

#include "benchmath.h"

#include <QByteArray>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

StartupRun runStartupProbe(const QString &probePath)
{
    StartupRun run;
    int out[2];
    if (pipe(out) != 0) {
        run.error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Qt's warnings come along, so a probe that fails can say why.
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);

    const QByteArray path = probePath.toLocal8Bit();
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    pid_t pid = -1;
    const qint64 startNs = monotonicNs();
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        run.error = QStringLiteral("cannot start %1: %2")
                        .arg(probePath, QString::fromLocal8Bit(std::strerror(spawned)));
        return run;
    }

    QByteArray output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got > 0)
            output.append(buffer, int(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(out[0]);

    int status = 0;
    rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t waited;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        run.error = QStringLiteral("the probe did not end cleanly (status %1): %2")
                        .arg(status).arg(QString::fromLocal8Bit(output).trimmed());
        return run;
    }

    BenchMath::ProbeTimes times;
    if (!BenchMath::parseProbeLine(output, &times) || times.mainNs < startNs) {
        run.error = QStringLiteral("no timing line from the probe: %1").arg(QString::fromLocal8Bit(output));
        return run;
    }
    run.toMainMs = (times.mainNs - startNs) / 1e6;
    run.toFirstPaintMs = (times.firstPaintNs - startNs) / 1e6;
    run.toPaintedMs = (times.paintedNs - startNs) / 1e6;
    run.peakRssMb = usage.ru_maxrss / 1024.0;      // kilobytes on Linux
    run.ok = true;
    return run;
}

#else

StartupRun runStartupProbe(const QString &)
{
    StartupRun run;
    run.error = QStringLiteral("start-up timing needs Linux");
    return run;
}

#endif
