#include "commands.h"

#include "console.h"
#include "unitcontext.h"
#include "unitsession.h"

int resetCommand(UnitContext &context)
{
    const int kind = resetKindNames().indexOf(context.invocation.argument);
    Outcome outcome;
    if (context.openChannel(outcome)) {
        if (context.link.resetData(quint8(kind)))
            Console::out(resetDoneMessage() + QLatin1Char('\n'));
        else
            context.failUnit(outcome, resetFailureMessage());
    }
    context.recordUnit(outcome);
    return context.reportUnit(outcome);
}
