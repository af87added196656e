#ifndef TALLYCTL_H
#define TALLYCTL_H

#include "commandline.h"
#include "unitcontext.h"

#include <QElapsedTimer>

// One run of the command-line configurator: the command asked for, as the command table names
// it, against one unit (or, with write --series, one unit after another).
class Tallyctl
{
public:
    Tallyctl(const Invocation &invocation, const QElapsedTimer &clock);

    int run();

private:
    UnitContext context;
};

#endif // TALLYCTL_H
