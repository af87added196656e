#include "commandline.h"

#include "commands/commands.h"
#include "fieldtext.h"
#include "protocol.h"
#include "unitsession.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <iterator>

namespace {

// The options in the order their mistakes are named; the help lists them by helpSections.
const OptionInfo optionTable[] = {
    {"inventory", nullptr, "UNITS.csv", "plan", "--inventory UNITS.csv",
     "the units, a CSV row each: host or serial, name, profile,\n"
     "profile keys per unit (see the man page)"},
    {"host", nullptr, "ADDR[:PORT]", "read write test reset", nullptr,
     "the unit over TCP, port 20107 unless given; the parts of\n"
     "a dotted address are decimal (192.168.000.010)"},
    {"serial", nullptr, "NAME", "read write test reset", nullptr,
     "a serial port by name (ttyUSB0, COM3) or path; 9600 8N1"},
    {"trace", nullptr, nullptr, "read write test reset plan apply", nullptr,
     "every frame and acknowledgement on stderr, in hex, with\n"
     "milliseconds since start, and every wait that runs out;\n"
     "plan, apply: a unit's lines together when it ends, each\n"
     "starting with its name"},
    {"journal", nullptr, "FILE", "read write test reset apply", nullptr,
     "append a JSON line per unit: time, channel, command,\n"
     "exit, message, groups, mac, cashDeskId (write: also\n"
     "macConfirmed, macVerified), and for each MAC taken from\n"
     "PROFILE a line before it is sent: event \"reserved\", time,\n"
     "channel, profile, unit, mac"},
    {"json", nullptr, nullptr, nullptr, nullptr,
     "machine-readable output; read, test and write print an\n"
     "object with exit and message when they fail"},
    {"output", "o", "FILE", "read plan", "[-o FILE]",
     "read: store the values in FILE (INI), other keys kept;\n"
     "plan: store the plan in FILE (JSON) and its key in FILE.key"},
    {"only", nullptr, "GROUPS", "write plan", "[--only GROUPS]",
     "comma-separated, from: timeouts, token, server, gprs,\n"
     "ethernet, mac, priority, cashdesk (sent in that order)"},
    {"verify", nullptr, nullptr, "write", "[--verify]",
     "read the written groups back and compare them key by key\n"
     "(Password and ServerToken: named, their values never shown)"},
    {"increment-mac", nullptr, nullptr, "write", "[--increment-mac | --no-increment-mac]",
     "take the MAC from PROFILE's EthMAC right before it is sent\n"
     "and store the next one there; a MAC sent is used up,\n"
     "confirmed or not (default: the profile's IncrementMac)"},
    {"no-increment-mac", nullptr, nullptr, "write", nullptr,
     "never change PROFILE"},
    {"series", nullptr, nullptr, "write", "[--series]",
     "one unit after another: a summary line per unit, then\n"
     "Enter for the next; end of input ends the series"},
    {"lock-timeout", nullptr, "SECONDS", "write", "[--lock-timeout SECONDS]",
     "wait at most this long for another station's lock on\n"
     "PROFILE or on the journal (default 30)"},
    {"jobs", nullptr, "N", "plan apply", "[--jobs N]",
     "at most N units in exchange at once, 1 to 256 (default 16)"},
    {"quiet", nullptr, nullptr, "plan apply", "[--quiet]",
     "progress on stderr only for units that did not end well"},
    {"backup", nullptr, "DIR", "apply", "[--backup DIR]",
     "before its first write, every value of a unit in DIR/NAME.ini\n"
     "(owner-only) and its row in DIR/inventory.csv"},
    {"max-fail", nullptr, "N|N%", "apply", "[--max-fail N|N%]",
     "when more units than this failed or drifted, start no more"},
    {"canary", nullptr, "N", "apply", "[--canary N]",
     "the first N units first, alone; the rest only if all of\n"
     "them end changed or unchanged"},
    {"rounds", nullptr, "N", "apply", "[--rounds N]",
     "try units unreachable in a round again, up to N rounds\n"
     "(default 1)"},
    {"round-wait", nullptr, "SECONDS", "apply", "[--round-wait SECONDS]",
     "the pause between rounds (default 30)"},
    {"report", nullptr, "FILE", "apply", "[--report FILE]",
     "a CSV row per unit: name, channel, state, groups, message"},
    {"remaining", nullptr, "FILE", "apply", "[--remaining FILE]",
     "the inventory rows of the units that did not end changed\n"
     "or unchanged: the inventory of the next plan"},
    {"yes", nullptr, nullptr, "reset", "--yes",
     "reset: confirm"},
    {"help", "h", nullptr, nullptr, nullptr,
     "this text"},
    {"version", "V", nullptr, nullptr, nullptr,
     "the version"},
};

const CommandInfo commandTable[] = {
    {"list-ports", "", "the serial ports of this machine, one per line", listPortsCommand},
    {"read", "", "read the unit's settings as KEY=value lines, or into FILE", readCommand},
    {"write", "PROFILE", "check PROFILE (an INI file like tallyconf.ini) and write it", writeCommand},
    {"test", "unit|modem|server|signal",
     "the unit's status, the modem's status, the server\n"
     "response time, the signal level", testCommand},
    {"reset", "full|journal|z-reports|settings|first-command|all-commands", "erase a data area of the unit",
     resetCommand},
    {"plan", "[PROFILE]",
     "read every unit of the inventory and show what a write of\n"
     "PROFILE and the inventory's values would change; writes nothing", planCommand},
    {"apply", "PLAN",
     "carry out a plan stored by plan -o: write to each unit the\n"
     "groups that differ, read them back and compare", applyCommand},
};

// The help's groups of options, in its order.
const struct {
    const char *title;
    const char *options;
} helpSections[] = {
    {"Channel (one is needed by every command but list-ports, plan and apply):", "host serial"},
    {"Options of write:", "only verify increment-mac no-increment-mac series lock-timeout"},
    {"Options of plan and apply:", "inventory jobs quiet backup max-fail canary rounds round-wait report remaining"},
    {"Other options:", "output yes json trace journal help version"},
};

// Lines of the help stay within this width, a synopsis too: it goes on below, indented.
const int helpWidth = 90;
// Where the descriptions of commands and options begin.
const int descriptionColumn = 30;

const OptionInfo *findOption(const QString &name)
{
    for (const OptionInfo &info : optionTable) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

// "write PROFILE [--only GROUPS] ...", broken before an item that would pass the help's width
// when it begins at `column`.
QString synopsis(const CommandInfo &command, int column)
{
    QStringList items{QLatin1String(command.name)};
    if (*command.argumentName)
        items << QLatin1String(command.argumentName);
    for (const OptionInfo &option : optionTable) {
        if (option.synopsis && option.goesWith(QLatin1String(command.name)))
            items << QLatin1String(option.synopsis);
    }
    const QString continuation(8, QLatin1Char(' '));
    QString text;
    for (const QString &item : items) {
        if (!text.isEmpty() && column + 1 + item.size() > helpWidth) {
            text += QLatin1Char('\n') + continuation;
            column = continuation.size();
        } else if (!text.isEmpty()) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += item;
        column += item.size();
    }
    return text;
}

// "  LEFT   description", the description on lines of its own when LEFT leaves it no room.
QString helpEntry(const QString &left, const char *description)
{
    const QString indent(descriptionColumn, QLatin1Char(' '));
    QString text = QStringLiteral("  ") + left;
    const int lastLine = text.size() - text.lastIndexOf(QLatin1Char('\n')) - 1;
    if (left.contains(QLatin1Char('\n')) || lastLine + 2 > descriptionColumn)
        text += QLatin1Char('\n') + indent;
    else
        text += QString(descriptionColumn - lastLine, QLatin1Char(' '));
    return text + QString::fromUtf8(description).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent)
        + QLatin1Char('\n');
}

QString optionEntry(const OptionInfo &option)
{
    QString left = QStringLiteral("--") + QLatin1String(option.name);
    if (option.shortName)
        left = QStringLiteral("-%1, ").arg(QLatin1String(option.shortName)) + left;
    if (option.valueName)
        left += QLatin1Char(' ') + QLatin1String(option.valueName);
    return helpEntry(left, option.description);
}

QCommandLineOption makeOption(const OptionInfo &info)
{
    QStringList names;
    if (info.shortName)
        names << QLatin1String(info.shortName);
    names << QLatin1String(info.name);
    if (info.valueName)
        return QCommandLineOption(names, QString(), QLatin1String(info.valueName));
    return QCommandLineOption(names);
}

bool fail(QString &error, const QString &why)
{
    error = why;
    return false;
}

bool isDigits(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return !text.isEmpty();
}

// ADDR, ADDR:PORT, [IPv6] or [IPv6]:PORT; a bare IPv6 address has no port. A dotted quad reads
// in decimal, as the unit's own addresses do: 192.168.000.010 is 192.168.0.10, not octal.
bool parseHost(const QString &text, QString &host, quint16 &port)
{
    port = Protocol::TcpPort;
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    QString portText;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        hasPort = !rest.isEmpty();
        if (hasPort && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const int colon = text.indexOf(QLatin1Char(':'));
        host = text.left(colon);
        portText = text.mid(colon + 1);
        hasPort = true;
    } else {
        host = text;
    }
    if (host.isEmpty())
        return false;
    if (hasPort) {
        bool ok = false;
        const uint number = portText.toUInt(&ok, 10);
        if (!isDigits(portText) || !ok || number == 0 || number > 0xFFFF)
            return false;
        port = quint16(number);
    }
    const QStringList parts = host.split(QLatin1Char('.'));
    quint8 octets[4];
    if (parts.size() == 4 && std::all_of(parts.begin(), parts.end(), isDigits)
        && textToBytes(host, QLatin1Char('.'), octets, 4, 10))
        host = QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
    return true;
}

bool parseGroups(const QString &text, QList<WriteGroup> &groups, QString &error)
{
    QStringList names = text.split(QLatin1Char(','));
    for (QString &name : names)
        name = name.trimmed();
    for (const QString &name : names) {
        bool known = false;
        for (WriteGroup group : writeAllOrder())
            known = known || writeGroupName(group) == name;
        if (!known)
            return fail(error, QStringLiteral("unknown group \"%1\" for --only").arg(name));
    }
    groups.clear();
    for (WriteGroup group : writeAllOrder()) {
        if (names.contains(writeGroupName(group)))
            groups << group;
    }
    return true;
}

} // namespace

QString Invocation::channelName() const
{
    if (!serial.isEmpty())
        return QStringLiteral("serial:") + serial;
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("tcp:%1:%2").arg(shown).arg(port);
}

bool parseHostAddress(const QString &text, QString &host, quint16 &port)
{
    return parseHost(text, host, port);
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &info : commandTable) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

bool parseCommandLine(const QStringList &arguments, Invocation &invocation, QString &error)
{
    invocation = Invocation();
    QCommandLineParser parser;
    QList<QCommandLineOption> options;
    for (const OptionInfo &info : optionTable)
        options << makeOption(info);
    parser.addOptions(options);
    if (!parser.parse(arguments))
        return fail(error, parser.errorText());
    // An option that takes one value and is given twice would have one of them win unseen.
    for (const OptionInfo &info : optionTable) {
        if (info.valueName && parser.values(QLatin1String(info.name)).size() > 1)
            return fail(error, QStringLiteral("--%1 is given more than once; give it once")
                                   .arg(QLatin1String(info.name)));
    }

    invocation.help = parser.isSet(QStringLiteral("help"));
    invocation.version = parser.isSet(QStringLiteral("version"));
    // "tallyctl write --help": that command's own help, whatever else is given.
    if (invocation.help && !parser.positionalArguments().isEmpty()
        && findCommand(parser.positionalArguments().first())) {
        invocation.help = invocation.version = false;
        invocation.commandHelp = true;
        invocation.command = parser.positionalArguments().first();
    }
    if (invocation.help || invocation.version || invocation.commandHelp)
        return true;

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(error, QStringLiteral("no command given"));
    invocation.command = positional.first();
    const CommandInfo *command = findCommand(invocation.command);
    if (!command)
        return fail(error, QStringLiteral("unknown command \"%1\"").arg(invocation.command));
    const int takes = *command->argumentName ? 1 : 0;
    const bool optional = *command->argumentName == '[';
    if (positional.size() - 1 != takes && !(optional && positional.size() == 1)) {
        return fail(error, takes == 0
                               ? QStringLiteral("%1 takes no arguments").arg(invocation.command)
                               : QStringLiteral("usage: tallyctl %1 %2")
                                     .arg(invocation.command, QLatin1String(command->argumentName)));
    }
    if (positional.size() > 1)
        invocation.argument = positional.at(1);

    for (const OptionInfo &info : optionTable) {
        if (!info.commands || !parser.isSet(QLatin1String(info.name)))
            continue;
        if (!info.goesWith(invocation.command))
            return fail(error, QStringLiteral("--%1 does not go with %2")
                                   .arg(QLatin1String(info.name), invocation.command));
    }

    invocation.json = parser.isSet(QStringLiteral("json"));
    invocation.trace = parser.isSet(QStringLiteral("trace"));
    invocation.journal = parser.value(QStringLiteral("journal"));
    invocation.output = parser.value(QStringLiteral("output"));
    invocation.verify = parser.isSet(QStringLiteral("verify"));
    invocation.series = parser.isSet(QStringLiteral("series"));
    invocation.yes = parser.isSet(QStringLiteral("yes"));
    if (parser.isSet(QStringLiteral("no-increment-mac")))
        invocation.macIncrement = Invocation::MacIncrement::Off;
    else if (parser.isSet(QStringLiteral("increment-mac")))
        invocation.macIncrement = Invocation::MacIncrement::On;

    if (parser.isSet(QStringLiteral("lock-timeout"))) {
        bool ok = false;
        const QString text = parser.value(QStringLiteral("lock-timeout"));
        invocation.lockTimeoutSeconds = text.toInt(&ok, 10);
        if (!ok || invocation.lockTimeoutSeconds < 0 || invocation.lockTimeoutSeconds > FileLock::MaxTimeoutSeconds)
            return fail(error, QStringLiteral("--lock-timeout expects whole seconds from 0 to %1, got \"%2\"")
                                   .arg(FileLock::MaxTimeoutSeconds).arg(text));
    }
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        const QString text = parser.value(QStringLiteral("jobs"));
        invocation.jobs = text.toInt(&ok, 10);
        if (!ok || invocation.jobs < 1 || invocation.jobs > 256)
            return fail(error, QStringLiteral("--jobs expects a number from 1 to 256, got \"%1\"").arg(text));
    }
    const auto number = [&parser](const char *name, int low, int high, int &value) {
        if (!parser.isSet(QLatin1String(name)))
            return true;
        bool ok = false;
        value = parser.value(QLatin1String(name)).toInt(&ok, 10);
        return ok && value >= low && value <= high;
    };
    if (!number("canary", 1, 1000000, invocation.canary))
        return fail(error, QStringLiteral("--canary expects a number of units from 1"));
    if (!number("rounds", 1, 1000, invocation.rounds))
        return fail(error, QStringLiteral("--rounds expects a number from 1 to 1000"));
    if (!number("round-wait", 0, 86400, invocation.roundWaitSeconds))
        return fail(error, QStringLiteral("--round-wait expects whole seconds from 0 to 86400"));
    if (parser.isSet(QStringLiteral("max-fail"))) {
        QString text = parser.value(QStringLiteral("max-fail"));
        invocation.maxFailPercent = text.endsWith(QLatin1Char('%'));
        if (invocation.maxFailPercent)
            text.chop(1);
        bool ok = isDigits(text);
        invocation.maxFail = text.toInt(&ok, 10);
        if (!ok || !isDigits(text) || (invocation.maxFailPercent && invocation.maxFail > 100))
            return fail(error, QStringLiteral("--max-fail expects a number of units or a share such as 10%, got \"%1\"")
                                   .arg(parser.value(QStringLiteral("max-fail"))));
    }
    invocation.quiet = parser.isSet(QStringLiteral("quiet"));
    invocation.backup = parser.value(QStringLiteral("backup"));
    invocation.report = parser.value(QStringLiteral("report"));
    invocation.remaining = parser.value(QStringLiteral("remaining"));
    invocation.inventory = parser.value(QStringLiteral("inventory"));
    if (invocation.command == QLatin1String("plan") && invocation.inventory.isEmpty())
        return fail(error, QStringLiteral("plan needs --inventory UNITS.csv"));
    if (parser.isSet(QStringLiteral("journal")) && invocation.journal.isEmpty())
        return fail(error, QStringLiteral("--journal needs a file name"));
    if (parser.isSet(QStringLiteral("output")) && invocation.output.isEmpty())
        return fail(error, QStringLiteral("-o needs a file name"));

    const bool tcp = parser.isSet(QStringLiteral("host"));
    const bool serial = parser.isSet(QStringLiteral("serial"));
    if (tcp && serial)
        return fail(error, QStringLiteral("give either --host or --serial, not both"));
    if (tcp) {
        invocation.hostText = parser.value(QStringLiteral("host"));
        if (!parseHost(invocation.hostText, invocation.host, invocation.port))
            return fail(error, QStringLiteral("--host expects ADDR or ADDR:PORT, got \"%1\"")
                                   .arg(invocation.hostText));
    }
    if (serial) {
        invocation.serial = parser.value(QStringLiteral("serial"));
        if (invocation.serial.isEmpty())
            return fail(error, QStringLiteral("--serial needs a port name"));
    }
    const bool onOneUnit = !QStringList{QStringLiteral("list-ports"), QStringLiteral("plan"), QStringLiteral("apply")}
                                .contains(invocation.command);
    if (onOneUnit && !invocation.hasChannel())
        return fail(error, QStringLiteral("%1 talks to a unit: give --host ADDR[:PORT] or --serial NAME")
                               .arg(invocation.command));

    invocation.groups = writeAllOrder();
    if (parser.isSet(QStringLiteral("only"))
        && !parseGroups(parser.value(QStringLiteral("only")), invocation.groups, error))
        return false;

    if (invocation.command == QLatin1String("test") && !findUnitTest(invocation.argument)) {
        QStringList names = unitTestNames();
        const QString last = names.takeLast();
        return fail(error, QStringLiteral("unknown test \"%1\": %2 or %3")
                               .arg(invocation.argument, names.join(QStringLiteral(", ")), last));
    }
    if (invocation.command == QLatin1String("reset")) {
        if (!findResetKind(invocation.argument))
            return fail(error, QStringLiteral("unknown reset kind \"%1\": %2")
                                   .arg(invocation.argument, resetKindNames().join(QStringLiteral(", "))));
        if (!invocation.yes)
            return fail(error, QStringLiteral("reset erases data on the unit: add --yes to go ahead"));
    }
    return true;
}

QString helpText()
{
    QString text = QStringLiteral(
        "Usage: tallyctl [options] COMMAND [arguments]\n"
        "\n"
        "Reads, checks and writes the settings of a data-transmission unit (БМКС) over a serial\n"
        "port or TCP, with the same rules and messages as the tallyconf window.\n"
        "\n"
        "Commands:\n");
    for (const CommandInfo &command : commandTable)
        text += helpEntry(synopsis(command, 2), command.description);
    for (const auto &section : helpSections) {
        text += QLatin1Char('\n') + QLatin1String(section.title) + QLatin1Char('\n');
        for (const QString &name : QString::fromLatin1(section.options).split(QLatin1Char(' ')))
            text += optionEntry(*findOption(name));
    }
    return text + QStringLiteral(
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  usage error (unknown command or option, an option given twice, no channel,\n"
        "     reset without --yes, a journal that cannot be written)\n"
        "  2  a value in the profile is rejected, or the profile cannot be read, locked or\n"
        "     updated; nothing was sent (found as the MAC is taken: the groups before it were)\n"
        "  3  the channel cannot be opened\n"
        "  4  the unit refused, did not answer, answered short of its result or value byte,\n"
        "     or took longer than the protocol allows for a whole answer (one exchange: its\n"
        "     waits plus 257 s for the longest frame; one command, a status text with all\n"
        "     its parts included: 438 s); groups before the named one stay written\n"
        "  5  --verify found a difference between what was sent and what the unit holds\n"
        "  6  read: a value holds a line break, another control character or bytes that are\n"
        "     not UTF-8, which KEY=value lines (or, for such bytes, -o's file) cannot carry;\n"
        "     --json shows it\n"
        "  7  plan: a unit was unreachable, failed, or blocked (the plan would change the\n"
        "     address it is reached at); every other unit was read\n"
        "     apply: a unit did not end changed or unchanged\n"
        "  8  apply: --max-fail or --canary stopped the run\n"
        "  A series exits 0 when every unit succeeded, otherwise with the first failure's code.\n"
        "  A journal line that cannot be written fails its unit (1) and ends a series.\n"
        "\n"
        "PROFILE is read as UTF-8; write refuses (2, naming the key) a file that is not UTF-8\n"
        "(UTF-16 included), a key in the wrong letter case or given twice, a key a written group\n"
        "needs but the file lacks, a value longer than its field, UseDHCP or IncrementMac other\n"
        "than true, false, 1 or 0, a Priority other than a number 0 to 3, and a value the INI\n"
        "format reads otherwise than it is written (write such a value in double quotes, @@ for\n"
        "a leading @: Password=\"a=b;c\\\"d\"; the quotes do not go to the unit).\n"
        "LastMAC=MAC ends a series of consecutive MACs; without it a series stops before it\n"
        "leaves the block of the first three bytes.\n");
}

QString commandHelpText(const CommandInfo &command)
{
    const QString usage = QStringLiteral("Usage: tallyctl [options] ");
    QString text = usage + synopsis(command, usage.size()) + QStringLiteral("\n\n")
        + QString::fromUtf8(command.description) + QStringLiteral("\n\nOptions:\n");
    for (const auto &section : helpSections) {
        for (const QString &name : QString::fromLatin1(section.options).split(QLatin1Char(' '))) {
            const OptionInfo &option = *findOption(name);
            if (option.goesWith(QLatin1String(command.name)))
                text += optionEntry(option);
        }
    }
    return text;
}

bool OptionInfo::goesWith(const QString &command) const
{
    return !commands || QString::fromLatin1(commands).split(QLatin1Char(' ')).contains(command);
}

const QList<CommandInfo> &commandList()
{
    static const QList<CommandInfo> list(std::begin(commandTable), std::end(commandTable));
    return list;
}

const QList<OptionInfo> &optionList()
{
    static const QList<OptionInfo> list(std::begin(optionTable), std::end(optionTable));
    return list;
}
