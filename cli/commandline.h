#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "filelock.h"
#include "valuerules.h"

#include <QList>
#include <QString>
#include <QStringList>

// What tallyctl returns; scripts and the factory test station tell failures apart by it.
enum ExitCode {
    ExitOk = 0,
    ExitUsage = 1,          // unknown command or option, no channel, reset without --yes, ...
    ExitProfile = 2,        // a value is rejected or the profile cannot be read: nothing sent
    ExitChannel = 3,        // the serial port or the TCP connection cannot be opened
    ExitUnit = 4,           // the unit refused or did not answer
    ExitVerify = 5,         // the unit confirmed a write but holds something else
    ExitNotText = 6,        // read: the unit holds a value KEY=value text (or -o's file) cannot carry
    ExitFleet = 7,          // plan, apply: a unit did not end well (unreachable, failed, blocked, ...)
    ExitStopped = 8,        // apply: --max-fail or --canary stopped the run
};

// One run of tallyctl as the command line asks for it.
struct Invocation {
    QString command;            // list-ports, read, write, test, reset, plan; empty for --help/--version
    QString argument;           // PROFILE of write and plan, the kind of test and reset

    // The channel: a TCP host (and port), or a serial port by name or system location.
    QString host;
    quint16 port = 0;
    QString hostText;           // --host as typed, for messages
    QString serial;

    bool help = false;
    bool commandHelp = false;   // COMMAND --help: that command's synopsis and options
    bool version = false;
    bool json = false;
    bool trace = false;
    QString journal;
    QString output;             // read -o, plan -o
    QList<WriteGroup> groups;   // write: the groups to send, in write-all order; plan: to plan
    QString inventory;          // plan --inventory
    int jobs = 16;              // plan, apply --jobs: units in exchange at once
    QString backup;             // apply --backup DIR
    int maxFail = -1;           // apply --max-fail: -1 for none
    bool maxFailPercent = false;    // maxFail is a share of the units to apply
    int canary = 0;             // apply --canary
    int rounds = 1;             // apply --rounds
    int roundWaitSeconds = 30;  // apply --round-wait
    QString report;             // apply --report
    QString remaining;          // apply --remaining
    bool quiet = false;         // plan, apply: progress only for units that did not end well
    bool verify = false;
    bool series = false;
    enum class MacIncrement { AsProfile, On, Off } macIncrement = MacIncrement::AsProfile;
    int lockTimeoutSeconds = FileLock::DefaultTimeoutSeconds;   // write --lock-timeout
    bool yes = false;

    bool hasChannel() const { return !host.isEmpty() || !serial.isEmpty(); }
    // "tcp:HOST:PORT" or "serial:NAME", for the journal.
    QString channelName() const;
};

class UnitContext;

// A command of tallyctl, as the command line names it; one file each in commands/. The
// command table is the one list of commands: the help, COMMAND --help and the run come from it,
// the man page and the bash completion are checked against it.
struct CommandInfo {
    const char *name;
    const char *argumentName;   // the one argument it takes; empty when none; [NAME] when optional
    const char *description;    // its lines in the help
    int (*run)(UnitContext &context);
};

// An option, in the option table beside the command table.
struct OptionInfo {
    const char *name;
    const char *shortName;      // or null
    const char *valueName;      // null for a switch
    const char *commands;       // the commands it belongs to, space-separated; null: all
    const char *synopsis;       // how the synopsis of its commands shows it; null: not at all
    const char *description;    // its lines in the help

    bool goesWith(const QString &command) const;
};

const QList<CommandInfo> &commandList();
const QList<OptionInfo> &optionList();

// The command of that name; null when there is none.
const CommandInfo *findCommand(const QString &name);

// ADDR or ADDR:PORT as --host reads it: the host (a dotted address in decimal) and the port,
// 20107 unless given. False when the text is no such address.
bool parseHostAddress(const QString &text, QString &host, quint16 &port);

// Reads the arguments (argv[0] first). On a usage error returns false with the reason.
bool parseCommandLine(const QStringList &arguments, Invocation &invocation, QString &error);

QString helpText();
// The synopsis of `command`, what it does and its options.
QString commandHelpText(const CommandInfo &command);

#endif // COMMANDLINE_H
