#include "tallyctl.h"

#include "console.h"

Tallyctl::Tallyctl(const Invocation &invocation, const QElapsedTimer &clock) : context(invocation, clock)
{
}

int Tallyctl::run()
{
    const CommandInfo *command = findCommand(context.invocation.command);
    if (!command)
        return ExitUsage;
    if (context.invocation.commandHelp) {
        Console::out(commandHelpText(*command));
        return ExitOk;
    }
    QString error;
    if (context.journal.isEnabled() && !context.journal.check(error)) {
        Console::err(QStringLiteral("tallyctl: ") + error + QLatin1Char('\n'));
        return ExitUsage;
    }
    return command->run(context);
}
