#include "unitprocess.h"

#include <QElapsedTimer>

namespace {

constexpr int StartWaitMs = 5000;
constexpr int StopWaitMs = 3000;

} // namespace

UnitProcess::UnitProcess(const QString &program) : program(program)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setReadChannel(QProcess::StandardOutput);
}

UnitProcess::~UnitProcess()
{
    stop();
}

bool UnitProcess::start(const QStringList &arguments, QString *error)
{
    stop();
    process.start(program, arguments);
    if (!process.waitForStarted(StartWaitMs)) {
        *error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QByteArray said;
    while (clock.elapsed() < StartWaitMs) {
        if (said.contains("listening on"))
            return true;
        if (process.state() != QProcess::Running)
            break;
        process.waitForReadyRead(100);
        said += process.readAllStandardOutput();
    }
    *error = QStringLiteral("the unit simulator did not start listening: %1")
                 .arg(QString::fromLocal8Bit(said + process.readAllStandardError()).trimmed());
    stop();
    return false;
}

void UnitProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(StopWaitMs)) {
        process.kill();
        process.waitForFinished(StopWaitMs);
    }
}
