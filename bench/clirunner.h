#ifndef CLIRUNNER_H
#define CLIRUNNER_H

#include "frontendrunner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// tallyctl the way a script runs it: one whole process per command, timed from its start to its
// exit, start-up included. read must exit 0 having printed a value for every key, the same values
// every time (the unit's values never change here); write must exit 0 with the success message
// and leave the profile as it was (--no-increment-mac), so every run sends the same frames.
class CliRunner : public FrontEndRunner
{
public:
    CliRunner(const QString &program, const QString &profilePath);

    void connectTo(const QString &host) override;
    RunOutcome run(Operation operation) override;

    // Stores the unit's values in the profile that write sends, as the window's read-all fills
    // the form its write-all sends. Needed once before write.
    RunOutcome storeProfile();

    // tallyctl --version: a start and an exit, no unit.
    RunOutcome startOnly();

private:
    RunOutcome execute(const QStringList &arguments, QByteArray *output);
    QString checkRead(const QByteArray &output);
    QString checkWrite(const QByteArray &output) const;

    QString program;
    QString profilePath;
    QString host;
    QByteArray storedProfile;
    QByteArray firstRead;
};

#endif // CLIRUNNER_H
