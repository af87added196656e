#ifndef UNITPROCESS_H
#define UNITPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

// The unit simulator as a separate process, the way an engineer would run it beside the
// configurator. Started with the given options; stopped (and waited for) on destruction.
class UnitProcess
{
public:
    explicit UnitProcess(const QString &program);
    ~UnitProcess();

    // Starts it and waits until it says it is listening.
    bool start(const QStringList &arguments, QString *error);
    void stop();

private:
    Q_DISABLE_COPY(UnitProcess)

    QString program;
    QProcess process;
};

#endif // UNITPROCESS_H
