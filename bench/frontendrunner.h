#ifndef FRONTENDRUNNER_H
#define FRONTENDRUNNER_H

#include <QString>

enum class Operation { ReadAll, WriteAll };

struct RunOutcome {
    bool ok = false;
    QString error;
    double ms = 0;
};

// One way an engineer drives the unit (the window, or tallyctl from a script): read-all and
// write-all against the unit at the given address, each run timed and checked for the outcome
// the engineer would see. A run that does not end that way is a failure, whatever it took.
class FrontEndRunner
{
public:
    virtual ~FrontEndRunner() = default;

    virtual void connectTo(const QString &host) = 0;
    virtual RunOutcome run(Operation operation) = 0;
};

#endif // FRONTENDRUNNER_H
