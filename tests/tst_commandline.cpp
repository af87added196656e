// tallyctl's command line in-process: what parseCommandLine makes of the arguments, the help
// made from the command table, and the man page and bash completion checked against the table.

#include "commandline.h"
#include "unitsession.h"
#include "testaddress.h"
#include "testmain.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString Address = testAddress(10);

// The invocation as a line: command, argument, channel, groups, and the switches that are set.
QString shown(const Invocation &invocation)
{
    if (invocation.help)
        return QStringLiteral("help");
    if (invocation.version)
        return QStringLiteral("version");
    QStringList parts{invocation.command};
    if (invocation.commandHelp)
        return parts.first() + QStringLiteral(" --help");
    if (!invocation.argument.isEmpty())
        parts << invocation.argument;
    if (invocation.hasChannel())
        parts << invocation.channelName();
    if (invocation.command == QLatin1String("write")) {
        QStringList groups;
        for (WriteGroup group : invocation.groups)
            groups << writeGroupName(group);
        parts << groups.join(QLatin1Char(','));
        if (invocation.macIncrement != Invocation::MacIncrement::AsProfile)
            parts << (invocation.macIncrement == Invocation::MacIncrement::On ? QStringLiteral("increment")
                                                                             : QStringLiteral("no-increment"));
        if (invocation.lockTimeoutSeconds != 30)
            parts << QStringLiteral("lock %1").arg(invocation.lockTimeoutSeconds);
    }
    return parts.join(QLatin1Char(' '));
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// "--only GROUPS" as the man page's roff writes it.
QString roff(QString text)
{
    return text.replace(QLatin1Char('-'), QStringLiteral("\\-"));
}

// The words in quotes after `before` (a regular expression) on the lines of the completion
// that start with `label`.
QStringList completionWords(const QString &completion, const QString &label, const QString &before)
{
    QStringList words;
    const QRegularExpression quoted(before + QStringLiteral("\"([^\"$]*)\""));
    for (const QString &line : completion.split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(label))
            continue;
        auto matches = quoted.globalMatch(line);
        while (matches.hasNext())
            words += matches.next().captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return words;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void commandHelp_data();
    void commandHelp();
    void packagingNamesTheTable_data();
    void packagingNamesTheTable();
    void serviceNames_data();
    void serviceNames();
};

void TestCommandLine::parses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("invocation");   // when it parses
    QTest::addColumn<QString>("error");        // when it does not

    const QString host = Address;
    const QString channel = QStringLiteral("tcp:%1:20107").arg(Address);
    const QString allGroups = QStringLiteral("timeouts,token,server,gprs,ethernet,mac,priority,cashdesk");
    QTest::newRow("read") << QStringList{"read", "--host", host} << "read " + channel << QString();
    QTest::newRow("write, groups in write-all order") << QStringList{"write", "p.ini", "--only", "mac, token", "--host", host}
        << "write p.ini " + channel + " token,mac" << QString();
    QTest::newRow("write, every group") << QStringList{"write", "p.ini", "--serial", "ttyUSB0"}
        << "write p.ini serial:ttyUSB0 " + allGroups << QString();
    QTest::newRow("--no-increment-mac wins") << QStringList{"write", "p.ini", "--increment-mac", "--no-increment-mac",
                                                            "--lock-timeout", "0", "--host", host}
        << "write p.ini " + channel + " " + allGroups + " no-increment lock 0" << QString();
    QTest::newRow("IPv6 with a port") << QStringList{"test", "unit", "--host", "[::1]:5"} << "test unit tcp:[::1]:5"
                                      << QString();
    QTest::newRow("leading-zero octets are decimal") << QStringList{"read", "--host", "127.000.010.010:7"}
        << "read tcp:127.0.10.10:7" << QString();
    QTest::newRow("plan needs no channel, PROFILE may be left out") << QStringList{"plan", "--inventory", "u.csv"}
        << "plan" << QString();
    QTest::newRow("plan with PROFILE") << QStringList{"plan", "p.ini", "--inventory", "u.csv", "--jobs", "256"}
        << "plan p.ini" << QString();
    QTest::newRow("plan without an inventory") << QStringList{"plan", "p.ini"} << QString()
                                               << "plan needs --inventory UNITS.csv";
    QTest::newRow("apply needs no channel") << QStringList{"apply", "plan.json", "--max-fail", "10%", "--canary", "2"}
        << "apply plan.json" << QString();
    QTest::newRow("--max-fail neither a number nor a share") << QStringList{"apply", "p.json", "--max-fail", "-1"}
        << QString() << "--max-fail expects a number of units or a share such as 10%, got \"-1\"";
    QTest::newRow("--jobs out of range") << QStringList{"plan", "--inventory", "u.csv", "--jobs", "0"} << QString()
                                         << "--jobs expects a number from 1 to 256, got \"0\"";
    QTest::newRow("list-ports needs no channel") << QStringList{"list-ports", "--json"} << "list-ports" << QString();
    QTest::newRow("--help") << QStringList{"--help"} << "help" << QString();
    QTest::newRow("--help of an unknown command") << QStringList{"flash", "--help"} << "help" << QString();
    QTest::newRow("write --help") << QStringList{"write", "--help"} << "write --help" << QString();
    QTest::newRow("-h before the command, -V too") << QStringList{"-V", "-h", "reset"} << "reset --help" << QString();
    QTest::newRow("too many arguments") << QStringList{"read", "x", "--host", host} << QString()
                                        << "read takes no arguments";
    QTest::newRow("no argument") << QStringList{"test", "--host", host} << QString()
                                 << "usage: tallyctl test unit|modem|server|signal";
    QTest::newRow("unknown test") << QStringList{"test", "gps", "--host", host} << QString()
                                  << "unknown test \"gps\": unit, modem, server or signal";

    // Once tallyctl's own end-to-end rows; its first line of stderr is "tallyctl: " and this.
    QTest::newRow("both channels") << QStringList{"read", "--serial", "ttyS0", "--host", host} << QString()
                                   << "give either --host or --serial, not both";
    QTest::newRow("option of another command") << QStringList{"read", "--verify", "--host", host} << QString()
                                               << "--verify does not go with read";
    QTest::newRow("unknown group") << QStringList{"write", "p.ini", "--only", "token,dns", "--host", host} << QString()
                                   << "unknown group \"dns\" for --only";
    QTest::newRow("lock wait not in seconds") << QStringList{"write", "p.ini", "--lock-timeout", "soon", "--host", host}
        << QString() << "--lock-timeout expects whole seconds from 0 to 86400, got \"soon\"";
    QTest::newRow("port out of range") << QStringList{"read", "--host", "127.0.0.10:70000"} << QString()
                                       << "--host expects ADDR or ADDR:PORT, got \"127.0.0.10:70000\"";
    for (const QString &typed : {Address + QStringLiteral(":+20107"), Address + QStringLiteral(": 20107"),
                                 host + QLatin1Char(' ')})
        QTest::newRow(qPrintable(QStringLiteral("--host \"%1\"").arg(typed))) << QStringList{"read", "--host", typed}
            << QString() << QStringLiteral("--host expects ADDR or ADDR:PORT, got \"%1\"").arg(typed);
    QTest::newRow("--host twice") << QStringList{"read", "--host", host, "--host", host} << QString()
                                  << "--host is given more than once; give it once";
    QTest::newRow("--serial twice") << QStringList{"read", "--serial", "ttyS0", "--serial", "ttyS1"} << QString()
                                    << "--serial is given more than once; give it once";
    QTest::newRow("-o and --output") << QStringList{"read", "-o", "a.ini", "--output", "b.ini", "--host", host}
                                     << QString() << "--output is given more than once; give it once";
}

void TestCommandLine::parses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, invocation);
    QFETCH(QString, error);

    Invocation parsed;
    QString why;
    const bool ok = parseCommandLine(QStringList{QStringLiteral("tallyctl")} + arguments, parsed, why);
    QCOMPARE(why, error);
    QCOMPARE(ok, error.isEmpty());
    if (ok)
        QCOMPARE(shown(parsed), invocation);
}

void TestCommandLine::commandHelp_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("usage");        // up to the first blank line
    QTest::addColumn<QStringList>("options");  // as listed, one per line

    const QStringList unitOptions{"--host", "--serial"};
    const QStringList everyCommand{"--json"};
    const QStringList lineOptions{"--trace", "--journal"};
    const QStringList last{"-h, --help", "-V, --version"};
    QTest::newRow("list-ports") << "list-ports" << "Usage: tallyctl [options] list-ports" << everyCommand + last;
    QTest::newRow("read") << "read" << "Usage: tallyctl [options] read [-o FILE]"
                          << unitOptions + QStringList{"-o, --output"} + everyCommand + lineOptions + last;
    QTest::newRow("write") << "write"
        << "Usage: tallyctl [options] write PROFILE [--only GROUPS] [--verify]\n"
           "        [--increment-mac | --no-increment-mac] [--series] [--lock-timeout SECONDS]"
        << unitOptions + QStringList{"--only", "--verify", "--increment-mac", "--no-increment-mac", "--series",
                                     "--lock-timeout"} + everyCommand + lineOptions + last;
    QTest::newRow("plan") << "plan"
        << "Usage: tallyctl [options] plan [PROFILE] --inventory UNITS.csv [-o FILE] [--only GROUPS]\n"
           "        [--jobs N] [--quiet]"
        << QStringList{"--only", "--inventory", "--jobs", "--quiet", "-o, --output"} + everyCommand
               + QStringList{"--trace"} + last;
    QTest::newRow("test") << "test" << "Usage: tallyctl [options] test unit|modem|server|signal"
                          << unitOptions + everyCommand + lineOptions + last;
}

void TestCommandLine::commandHelp()
{
    QFETCH(QString, command);
    QFETCH(QString, usage);
    QFETCH(QStringList, options);

    Invocation invocation;
    QString error;
    QVERIFY(parseCommandLine({QStringLiteral("tallyctl"), command, QStringLiteral("--help")}, invocation, error));
    const CommandInfo *info = findCommand(invocation.command);
    QVERIFY(info);
    const QString text = commandHelpText(*info);
    QCOMPARE(text.section(QStringLiteral("\n\n"), 0, 0), usage);
    QStringList listed;
    const QRegularExpression option(QStringLiteral("^  (-[\\w-]+(?:, --[\\w-]+)?)"));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = option.match(line);
        if (match.hasMatch())
            listed << match.captured(1);
    }
    QCOMPARE(listed, options);
    // The general help lists the command with the same synopsis.
    QVERIFY(helpText().contains(QStringLiteral("\n  ") + usage.mid(usage.indexOf(command)).section(QLatin1Char('\n'), 0, 0)));
}

void TestCommandLine::packagingNamesTheTable_data()
{
    QTest::addColumn<QString>("command");
    for (const CommandInfo &command : commandList())
        QTest::newRow(command.name) << QString::fromLatin1(command.name);
}

void TestCommandLine::packagingNamesTheTable()
{
    QFETCH(QString, command);
    const CommandInfo &info = *findCommand(command);
    const QString completion = fileText(QStringLiteral(TALLYCTL_COMPLETION_PATH));
    const QString manPage = fileText(QStringLiteral(TALLYCTL_MAN_PATH));
    QVERIFY(!completion.isEmpty());
    QVERIFY(!manPage.isEmpty());

    QStringList known;
    for (const OptionInfo &option : optionList()) {
        known << QStringLiteral("--") + QLatin1String(option.name);
        if (option.shortName)
            known << QStringLiteral("-") + QLatin1String(option.shortName);
    }
    // The completion offers the command, its arguments and every option of it, and nothing the
    // table does not know.
    QVERIFY(completionWords(completion, QStringLiteral("\"\")"), QStringLiteral("-W ")).contains(command));
    const QString options = QStringLiteral("options\\+?=");
    const QStringList offered = completionWords(completion, QStringLiteral("local options="), options)
        + completionWords(completion, command + QStringLiteral(")"), options);
    for (const QString &word : offered)
        QVERIFY2(known.contains(word), qPrintable(word));
    const QString choices = QString::fromLatin1(info.argumentName).replace(QLatin1Char('|'), QLatin1Char(' '));
    if (choices.contains(QLatin1Char(' ')))
        QVERIFY2(completion.contains(QLatin1Char('"') + choices + QLatin1Char('"')), qPrintable(choices));

    // The man page's synopsis has a line for the command with the options its synopsis shows;
    // the page describes every option of it.
    const QString synopsis = manPage.section(QStringLiteral(".SH SYNOPSIS"), 1).section(QStringLiteral(".SH"), 0, 0);
    QString block;
    for (const QString &part : synopsis.split(QStringLiteral(".br"))) {
        if (part.contains(QStringLiteral("\n.B ") + roff(command) + QLatin1Char('\n')))
            block = part;
    }
    QVERIFY2(!block.isEmpty(), "no synopsis line");
    for (const OptionInfo &option : optionList()) {
        if (!option.goesWith(command))
            continue;
        const QString name = QStringLiteral("--") + QLatin1String(option.name);
        QVERIFY2(offered.contains(name), qPrintable(name + QStringLiteral(" not completed")));
        QVERIFY2(manPage.contains(roff(name)), qPrintable(name + QStringLiteral(" not in the man page")));
        if (!option.synopsis)
            continue;
        auto names = QRegularExpression(QStringLiteral("--?[\\w-]+")).globalMatch(QLatin1String(option.synopsis));
        while (names.hasNext()) {
            const QString shownName = names.next().captured();
            QVERIFY2(block.contains(roff(shownName)), qPrintable(shownName + QStringLiteral(" not in the synopsis")));
        }
    }
}

void TestCommandLine::serviceNames_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");         // the reset kind the unit is sent
    QTest::addColumn<QString>("text");     // a test's message when it fails, a reset's entry in the window

    QTest::newRow("test unit") << "test" << "unit" << -1 << "Ошибка чтения статуса БМКС";
    QTest::newRow("test modem") << "test" << "modem" << -1 << "Ошибка чтения статуса модема";
    QTest::newRow("test server") << "test" << "server" << -1 << "Ошибка тестирования связи с сервером";
    QTest::newRow("test signal") << "test" << "signal" << -1 << "Ошибка тестирования уровня сигнала";
    QTest::newRow("reset full") << "reset" << "full" << 0 << "Полный";
    QTest::newRow("reset journal") << "reset" << "journal" << 1 << "Журнал";
    QTest::newRow("reset z-reports") << "reset" << "z-reports" << 2 << "Z-отчеты";
    QTest::newRow("reset settings") << "reset" << "settings" << 3 << "Настройки";
    QTest::newRow("reset first-command") << "reset" << "first-command" << 4 << "Первая команда буфера";
    QTest::newRow("reset all-commands") << "reset" << "all-commands" << 5 << "Весь буфер команд";
}

void TestCommandLine::serviceNames()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(QString, text);

    if (command == QLatin1String("test")) {
        const std::optional<UnitTest> test = findUnitTest(name);
        QVERIFY(test);
        QCOMPARE(unitTestFailureMessage(*test), text);
    } else {
        const ResetKind *kind = findResetKind(name);
        QVERIFY(kind);
        QCOMPARE(int(kind->code), code);
        QCOMPARE(QString::fromUtf8(kind->title), text);
    }
    // The synopsis names every name the rules know, in their order.
    const QStringList names = command == QLatin1String("test") ? unitTestNames() : resetKindNames();
    QCOMPARE(QString::fromLatin1(findCommand(command)->argumentName), names.join(QLatin1Char('|')));
}

TALLY_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
