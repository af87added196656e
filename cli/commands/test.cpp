#include "commands.h"

#include "console.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QJsonObject>

int testCommand(UnitContext &context)
{
    const Invocation &invocation = context.invocation;
    // The command line has taken only a known name.
    const UnitTest kind = *findUnitTest(invocation.argument);
    Outcome outcome;
    QString text;
    int value = -1;
    QJsonObject object;
    object.insert(QStringLiteral("test"), invocation.argument);
    if (context.openChannel(outcome)) {
        if (runUnitTest(context.link, kind, text, value)) {
            object.insert(QStringLiteral("text"), text);
            object.insert(QStringLiteral("value"), value >= 0 ? QJsonValue(value) : QJsonValue());
            if (!invocation.json)
                Console::out(withLineEnd(text));
        } else {
            context.failUnit(outcome, unitTestFailureMessage(kind));
        }
    }
    context.recordUnit(outcome);
    // With --json stdout holds one object: the result, or the failure as write prints it.
    if (invocation.json && outcome.exitCode != ExitOk) {
        const QJsonObject failed = outcome.toJson();
        object = QJsonObject{{QStringLiteral("test"), invocation.argument},
                             {QStringLiteral("exit"), failed.value(QStringLiteral("exit"))},
                             {QStringLiteral("message"), failed.value(QStringLiteral("message"))}};
    }
    if (invocation.json)
        Console::out(jsonLine(object));
    return context.reportUnit(outcome);
}
