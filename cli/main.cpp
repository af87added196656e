#include "commandline.h"
#include "console.h"
#include "tallyctl.h"

#include <QCoreApplication>
#include <QElapsedTimer>

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallyctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYCONF_VERSION));

    Invocation invocation;
    QString error;
    if (!parseCommandLine(QCoreApplication::arguments(), invocation, error)) {
        Console::err(QStringLiteral("tallyctl: %1\nTry 'tallyctl --help'.\n").arg(error));
        return ExitUsage;
    }
    if (invocation.help) {
        Console::out(helpText());
        return ExitOk;
    }
    if (invocation.version) {
        Console::out(QStringLiteral("tallyctl %1\n").arg(QCoreApplication::applicationVersion()));
        return ExitOk;
    }
    return Tallyctl(invocation, clock).run();
}
