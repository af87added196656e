#include "unitcontext.h"

#include "console.h"
#include "unitsession.h"

#include <QDateTime>
#include <QSerialPortInfo>

UnitContext::UnitContext(const Invocation &invocation, const QElapsedTimer &clock)
    : invocation(invocation), exchangeLog(clock, invocation.trace),
      journal(invocation.journal, invocation.lockTimeoutSeconds * 1000, lockNotice)
{
    link.setTrace(&exchangeLog);
}

void UnitContext::lockNotice(const QString &notice)
{
    Console::err(QStringLiteral("tallyctl: ") + notice + QLatin1Char('\n'));
}

QString UnitContext::journalTime()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

bool UnitContext::openChannel(Outcome &outcome)
{
    if (!invocation.serial.isEmpty()) {
        // A listed name (ttyUSB0, COM3) stands for its system location; anything else, such as
        // a pseudo-terminal the system does not list, is opened as given.
        QString location = invocation.serial;
        for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
            if (port.portName() == invocation.serial)
                location = port.systemLocation();
        }
        if (link.openSerialAt(location))
            return true;
        outcome.message = portOpenFailureMessage(invocation.serial);
    } else {
        if (link.openTcp(invocation.host, invocation.port))
            return true;
        outcome.message = connectFailureMessage(invocation.hostText);
    }
    outcome.exitCode = ExitChannel;
    outcome.cause = link.openError();
    return false;
}

void UnitContext::failUnit(Outcome &outcome, const QString &message) const
{
    outcome.exitCode = ExitUnit;
    outcome.message = message;
    outcome.cause = exchangeLog.problem();
}

void UnitContext::recordUnit(Outcome &outcome)
{
    link.close();
    if (!journal.isEnabled())
        return;
    QJsonObject entry = outcome.toJson();
    entry.insert(QStringLiteral("time"), journalTime());
    entry.insert(QStringLiteral("channel"), invocation.channelName());
    entry.insert(QStringLiteral("command"), invocation.command);
    QString error;
    if (journal.append(entry, error))
        return;
    // A journal that failed the unit already is named once.
    if (outcome.journalFailed)
        return;
    outcome.journalFailed = true;
    const QString line = QStringLiteral("tallyctl: ") + error;
    if (outcome.exitCode == ExitOk) {
        outcome.exitCode = ExitUsage;
        outcome.message = line;
    } else {
        outcome.message += QLatin1Char('\n') + line;
    }
}

int UnitContext::reportUnit(const Outcome &outcome) const
{
    if (outcome.exitCode != ExitOk) {
        Console::err(withLineEnd(outcome.message));
        if (!outcome.cause.isEmpty())
            Console::err(QStringLiteral("tallyctl: ") + outcome.cause + QLatin1Char('\n'));
    }
    if (outcome.macUsedUp())
        Console::err(QStringLiteral("tallyctl: MAC %1 (%2) is used up: this unit may hold it, so no "
                                    "other unit gets it\n").arg(outcome.mac, outcome.macStateText()));
    if (outcome.macSource == MacSource::LastOfRange)
        Console::err(QStringLiteral("tallyctl: %1 was LastMAC, the last address of the profile's range: "
                                    "the range is used up\n").arg(outcome.mac));
    return outcome.exitCode;
}

QString rejectionLine(const Rejection &rejection)
{
    return rejection.key.isEmpty() ? QStringLiteral("tallyctl: ") + rejection.message
                                   : rejection.key + QStringLiteral(": ") + rejection.message;
}

QString withLineEnd(const QString &text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
}
