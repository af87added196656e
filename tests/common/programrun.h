#ifndef PROGRAMRUN_H
#define PROGRAMRUN_H

#include <QByteArray>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

// What a program run by a test said and how it ended.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program with `input` on its stdin. A run that did not come to its end (exit code -1)
// says why in `err`. The bounds are far beyond a run's own time: starting a program can take
// seconds under Wine on a loaded machine.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input,
                             int endBoundMs)
{
    const QString name = QFileInfo(program).baseName();
    QProcess process;
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(30000)) {
        run.err = QStringLiteral("%1 did not start: %2").arg(name, process.errorString());
        return run;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(endBoundMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("%1 did not end within %2 s").arg(name).arg(endBoundMs / 1000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit)
        run.err.prepend(QStringLiteral("%1 crashed (%2)\n").arg(name).arg(process.exitCode()));
    return run;
}

#endif // PROGRAMRUN_H
