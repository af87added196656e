#include "commands.h"

#include "console.h"
#include "unitcontext.h"
#include "unitsession.h"

int resetCommand(UnitContext &context)
{
    // The command line has taken only a known name.
    const ResetKind &kind = *findResetKind(context.invocation.argument);
    Outcome outcome;
    if (context.openChannel(outcome)) {
        if (context.link.resetData(kind.code))
            Console::out(resetDoneMessage() + QLatin1Char('\n'));
        else
            context.failUnit(outcome, resetFailureMessage());
    }
    context.recordUnit(outcome);
    return context.reportUnit(outcome);
}
