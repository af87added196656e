#include "unitfault.h"

#include "protocol.h"

#include <QRegularExpression>

namespace {

enum class ValueForm { None, HexByte, Milliseconds, Byte };

struct KindInfo {
    const char *name;
    UnitFault::Kind kind;
    ValueForm value;
};

const KindInfo kinds[] = {
    {"nak", UnitFault::Nak, ValueForm::None},
    {"noack", UnitFault::NoAck, ValueForm::None},
    {"silent", UnitFault::Silent, ValueForm::None},
    {"badsum", UnitFault::BadSum, ValueForm::None},
    {"badstx", UnitFault::BadStx, ValueForm::None},
    {"badlen", UnitFault::BadLen, ValueForm::None},
    {"short", UnitFault::Short, ValueForm::None},
    {"result", UnitFault::Result, ValueForm::HexByte},
    {"delay", UnitFault::Delay, ValueForm::Milliseconds},
    {"gap", UnitFault::Gap, ValueForm::Milliseconds},
    {"drip", UnitFault::Drip, ValueForm::Milliseconds},
    {"priority", UnitFault::Priority, ValueForm::Byte},
    {"endless", UnitFault::Endless, ValueForm::None},
    {"forget", UnitFault::Forget, ValueForm::None},
};

// Longer than any wait of the configurator (three minutes for a reset), short enough that a
// typo cannot park the simulator for a day.
constexpr int MaxFaultDelayMs = 600000;

bool takesArgument(int command)
{
    return command == Protocol::CmdReadGroup || command == Protocol::CmdTest
        || command == Protocol::CmdReset;
}

bool knownCommand(int command)
{
    switch (command) {
    case Protocol::CmdReadGroup:
    case Protocol::CmdReset:
    case Protocol::CmdUnitStatus:
    case Protocol::CmdModemStatus:
    case Protocol::CmdContinue:
    case Protocol::CmdTest:
        return true;
    default:
        // The whole write block, including the two codes the configurator never sends.
        return command >= Protocol::CmdWriteTimeouts && command <= Protocol::CmdWriteMac;
    }
}

QString hexByte(int value)
{
    return QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool UnitFault::parse(const QString &text, UnitFault *out, QString *error)
{
    static const QRegularExpression form(QStringLiteral(
        "^([a-z]+)(?:=([0-9A-Fa-f]+))?(?:@([0-9A-Fa-f]{1,2})(?:/([0-9A-Fa-f]{1,2}))?)?$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return fail(error, QStringLiteral("bad fault \"%1\": expected KIND[=VALUE][@CMD[/ARG]]").arg(text));

    const QString name = match.captured(1);
    const KindInfo *info = nullptr;
    for (const KindInfo &candidate : kinds) {
        if (name == QLatin1String(candidate.name))
            info = &candidate;
    }
    if (!info)
        return fail(error, QStringLiteral("bad fault \"%1\": unknown kind \"%2\"").arg(text, name));

    UnitFault fault;
    fault.kind = info->kind;
    const QString value = match.captured(2);
    if (info->value == ValueForm::None) {
        if (!value.isEmpty())
            return fail(error, QStringLiteral("bad fault \"%1\": %2 takes no value").arg(text, name));
    } else {
        if (value.isEmpty())
            return fail(error, QStringLiteral("bad fault \"%1\": %2 needs a value").arg(text, name));
        bool ok = false;
        if (info->value == ValueForm::HexByte) {
            fault.value = value.toInt(&ok, 16);
            ok = ok && value.size() <= 2;
        } else {
            fault.value = value.toInt(&ok, 10);
            const int max = info->value == ValueForm::Byte ? 0xFF : MaxFaultDelayMs;
            ok = ok && fault.value >= 0 && fault.value <= max;
        }
        if (!ok)
            return fail(error, QStringLiteral("bad fault \"%1\": value \"%2\" out of range").arg(text, value));
    }

    if (match.capturedLength(3)) {
        fault.command = match.captured(3).toInt(nullptr, 16);
        if (!knownCommand(fault.command))
            return fail(error, QStringLiteral("bad fault \"%1\": the unit has no command %2")
                                   .arg(text, match.captured(3)));
    }
    if (match.capturedLength(4)) {
        if (!takesArgument(fault.command))
            return fail(error, QStringLiteral("bad fault \"%1\": only 07, 26 and 58 take /ARG").arg(text));
        fault.argument = match.captured(4).toInt(nullptr, 16);
    }
    *out = fault;
    return true;
}

QString UnitFault::syntaxHelp()
{
    return QStringLiteral(
        "Faults (--fault KIND[=VALUE][@CMD[/ARG]], repeatable, all active together):\n"
        "  nak          refuse with 0x15 instead of 0x06, nothing more\n"
        "  noack        send nothing at all\n"
        "  silent       acknowledge, then send no response\n"
        "  badsum       response with a wrong checksum\n"
        "  badstx       response starting with a byte other than 0x02\n"
        "  badlen       response data one byte longer than it should be\n"
        "  short        response data one byte shorter\n"
        "  result=HH    result byte HH instead of 00 (writes, reset, tests, status parts)\n"
        "  delay=MS     wait MS ms between the acknowledgement and the response\n"
        "  gap=MS       pause MS ms after the response's first byte (STX)\n"
        "  drip=MS      send the response a byte at a time, each MS ms after the one\n"
        "               before (the first MS ms after the acknowledgement and any delay)\n"
        "  priority=N   a read of group 10 answers priority N\n"
        "  endless      status dialogues never end\n"
        "  forget       confirm writes with result 00 but keep the old values\n"
        "CMD is the hex command code (07, 60..69, 26, 55, 56, 05, 58), ARG the hex first\n"
        "argument (group for 07, test for 58, kind for 26). Without @ every request is hit.\n"
        "Examples: nak@07/04  result=01@61  silent@55  gap=1500@07/08\n");
}

bool UnitFault::appliesTo(const QByteArray &requestData) const
{
    if (command < 0)
        return true;
    if (requestData.isEmpty() || quint8(requestData.at(0)) != command)
        return false;
    if (argument < 0)
        return true;
    return requestData.size() > 1 && quint8(requestData.at(1)) == argument;
}

QString UnitFault::toString() const
{
    QString text;
    for (const KindInfo &info : kinds) {
        if (info.kind != kind)
            continue;
        text = QLatin1String(info.name);
        if (info.value == ValueForm::HexByte)
            text += '=' + hexByte(value);
        else if (info.value != ValueForm::None)
            text += QStringLiteral("=%1").arg(value);
    }
    if (command >= 0)
        text += '@' + hexByte(command);
    if (argument >= 0)
        text += '/' + hexByte(argument);
    return text;
}
