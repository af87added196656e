#include "clirunner.h"

#include "profile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

namespace {

// Far beyond a paced read-all, yet short of the unit's 30-second waits.
constexpr int GiveUpMs = 10000;

const QByteArray WrittenLine = QStringLiteral("Параметры успешно записаны\n").toUtf8();

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

CliRunner::CliRunner(const QString &program, const QString &profilePath)
    : program(program), profilePath(profilePath)
{
}

void CliRunner::connectTo(const QString &host)
{
    this->host = host;
}

RunOutcome CliRunner::run(Operation operation)
{
    QByteArray output;
    RunOutcome outcome;
    if (operation == Operation::ReadAll) {
        outcome = execute({QStringLiteral("--host"), host, QStringLiteral("read")}, &output);
        if (outcome.ok)
            outcome.error = checkRead(output);
    } else {
        if (storedProfile.isEmpty())
            return {false, QStringLiteral("write needs the profile stored first"), 0};
        outcome = execute({QStringLiteral("--host"), host, QStringLiteral("write"), profilePath,
                           QStringLiteral("--no-increment-mac")}, &output);
        if (outcome.ok)
            outcome.error = checkWrite(output);
    }
    outcome.ok = outcome.error.isEmpty();
    return outcome;
}

RunOutcome CliRunner::storeProfile()
{
    QByteArray output;
    RunOutcome outcome = execute({QStringLiteral("--host"), host, QStringLiteral("read"),
                                  QStringLiteral("-o"), profilePath}, &output);
    storedProfile = outcome.ok ? fileBytes(profilePath) : QByteArray();
    if (outcome.ok && storedProfile.isEmpty())
        outcome = {false, QStringLiteral("read -o left %1 empty").arg(profilePath), 0};
    return outcome;
}

RunOutcome CliRunner::startOnly()
{
    QByteArray output;
    RunOutcome outcome = execute({QStringLiteral("--version")}, &output);
    if (outcome.ok && !output.startsWith("tallyctl "))
        outcome = {false, QStringLiteral("--version printed \"%1\"").arg(QString::fromUtf8(output)), 0};
    return outcome;
}

RunOutcome CliRunner::execute(const QStringList &arguments, QByteArray *output)
{
    RunOutcome outcome;
    const QString command = QStringLiteral("tallyctl ") + arguments.join(QLatin1Char(' '));
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool ended = process.waitForFinished(GiveUpMs);
    outcome.ms = clock.nsecsElapsed() / 1e6;

    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    if (!ended && process.error() == QProcess::FailedToStart) {
        outcome.error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
    } else if (!ended) {
        process.kill();
        process.waitForFinished(GiveUpMs);
        outcome.error = QStringLiteral("%1 did not end within %2 ms").arg(command).arg(GiveUpMs);
    } else if (process.exitStatus() != QProcess::NormalExit) {
        outcome.error = QStringLiteral("%1 crashed: %2").arg(command, said);
    } else if (process.exitCode() != 0) {
        outcome.error = QStringLiteral("%1 exited with %2: %3").arg(command).arg(process.exitCode()).arg(said);
    }
    *output = process.readAllStandardOutput();
    outcome.ok = outcome.error.isEmpty();
    return outcome;
}

QString CliRunner::checkRead(const QByteArray &output)
{
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    const QStringList &keys = Profile::keys();
    if (lines.size() != keys.size() + 1 || !lines.last().isEmpty())
        return QStringLiteral("read printed %1 lines, not %2").arg(lines.size() - 1).arg(keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        const QString start = keys.at(i) + QLatin1Char('=');
        if (!lines.at(i).startsWith(start) || lines.at(i).size() == start.size())
            return QStringLiteral("read printed \"%1\" where %2 was due").arg(lines.at(i), start);
    }
    if (firstRead.isEmpty())
        firstRead = output;
    else if (output != firstRead)
        return QStringLiteral("read printed other values: %1").arg(QString::fromUtf8(output));
    return QString();
}

QString CliRunner::checkWrite(const QByteArray &output) const
{
    if (output != WrittenLine)
        return QStringLiteral("write printed \"%1\"").arg(QString::fromUtf8(output).trimmed());
    if (fileBytes(profilePath) != storedProfile)
        return QStringLiteral("write changed the profile %1").arg(profilePath);
    return QString();
}
