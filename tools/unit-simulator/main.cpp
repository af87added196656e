#include "simulatorfleet.h"
#include "simulatorserver.h"
#include "unitfault.h"
#include "unitstate.h"

#include "protocol.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSerialPortInfo>
#include <QTextStream>

#include <atomic>
#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "unit-simulator: " << message << '\n';
    return 2;
}

bool parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 0xFFFF || !address->setAddress(host))
        return false;
    *port = quint16(number);
    return true;
}

QString fleetHelp()
{
    return QStringLiteral(
        "Fleet (--units N): N units in this one process, unit k (from 1) on the k-th\n"
        "loopback address counted up from the --listen address (127.0.5.1, 127.0.5.2, ...\n"
        "on into the next /24), all on the --listen port; the first and last are printed.\n"
        "Each unit starts from the --state file (or the built-in unit) with its own\n"
        "EthIP (its listen address), EthMAC and CashDeskID (the state's value plus k-1).\n"
        "LIST is unit numbers and ranges (3,10-19) or a share of the fleet (5%): a share\n"
        "is the first units of a shuffle made from --seed, the same units for the same\n"
        "seed, a larger share holding a smaller one.\n"
        "  --offline LIST         these units do not listen (connection refused)\n"
        "  --fault FAULT#LIST     the fault hits the units in LIST only (without #LIST, all)\n"
        "  --log FILE             a line per request: unit number, address, frame as hex\n"
        "  --dump-states FILE     every unit's state as JSON ({\"units\": [{\"unit\",\n"
        "                         \"address\", \"online\", \"state\"}]}, each \"state\" in the\n"
        "                         --state form), written at exit (SIGINT, SIGTERM; Ctrl+C,\n"
        "                         Ctrl+Break or closing the console on Windows) and, on\n"
        "                         Linux, whenever SIGUSR1 arrives\n"
        "--baud paces each unit's line on its own.\n");
}

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void forwardSignal(int number)
{
    const char byte = char(number);
    // Nothing else may be done in a signal handler; the event loop reads the byte.
    (void)!::write(signalPipe[1], &byte, 1);
}
#endif

#ifdef Q_OS_WIN
std::atomic<bool> statesDumped{false};

BOOL WINAPI consoleControl(DWORD event)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
    // Windows ends the process once this returns from a closing console: give the dump time.
    if (event == CTRL_CLOSE_EVENT) {
        for (int i = 0; i < 50 && !statesDumped; ++i)
            Sleep(100);
    }
    return TRUE;
}
#endif

// Writes the fleet's states at exit and, on Linux, on SIGUSR1.
void dumpStatesOnSignals(QCoreApplication *app, SimulatorFleet *fleet, const QString &path)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, fleet, path] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) != 1)
            return;
        if (number == SIGUSR1) {
            if (!fleet->dumpStates(path))
                QTextStream(stderr) << "unit-simulator: " << fleet->errorString() << '\n';
        } else {
            app->quit();
        }
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGUSR1, SIGTERM, SIGINT})
        sigaction(number, &action, nullptr);
#else
    Q_UNUSED(app);
    Q_UNUSED(fleet);
    Q_UNUSED(path);
#endif
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(consoleControl, TRUE);
#endif
}

// A thousand units want a thousand listening sockets and one for each caller.
void allowDescriptors(int units)
{
#ifdef Q_OS_UNIX
    rlimit limit;
    const rlim_t wanted = rlim_t(2 * units + 64);
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : qMin(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#else
    Q_UNUSED(units);
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("unit-simulator"));
#ifdef Q_OS_WIN
    // The lines whoever started us reads end in \n, as on Linux, not \r\n.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the data-transmission unit for the configurator: answers its request\n"
                       "frames over TCP (and, with --pty, a pseudo-terminal) from a simulated state.\n\n")
        + UnitState::jsonFormatHelp() + QLatin1Char('\n') + UnitFault::syntaxHelp() + QLatin1Char('\n')
        + fleetHelp());
    parser.addHelpOption();
    const QCommandLineOption listenOption(
        QStringLiteral("listen"), QStringLiteral("Address and port to listen on (default 127.0.0.1:%1).")
                                      .arg(Protocol::TcpPort),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:%1").arg(Protocol::TcpPort));
    const QCommandLineOption stateOption(
        QStringLiteral("state"), QStringLiteral("Start from the unit described in this JSON file."),
        QStringLiteral("FILE.json"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"), QStringLiteral("Misbehave as described (repeatable, see below)."),
        QStringLiteral("FAULT"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"), QStringLiteral("Pace both directions like an 8N1 line of N baud."),
        QStringLiteral("N"));
    const QCommandLineOption logOption(
        QStringLiteral("log"), QStringLiteral("Append every request frame received, as hex, to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"), QStringLiteral("Also serve the unit on a pseudo-terminal (Linux); its path is printed."));
    const QCommandLineOption portCountOption(
        QStringLiteral("serial-port-count"),
        QStringLiteral("Print how many serial ports this machine lists, then exit."));
    const QCommandLineOption unitsOption(
        QStringLiteral("units"), QStringLiteral("Play N units at once (see Fleet above)."), QStringLiteral("N"));
    const QCommandLineOption offlineOption(
        QStringLiteral("offline"), QStringLiteral("With --units: these units do not listen."), QStringLiteral("LIST"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"), QStringLiteral("With --units: the shuffle shares are taken from (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption dumpOption(
        QStringLiteral("dump-states"), QStringLiteral("With --units: write every unit's state to FILE."),
        QStringLiteral("FILE"));
    parser.addOptions({listenOption, stateOption, faultOption, baudOption, logOption, ptyOption,
                       portCountOption, unitsOption, offlineOption, seedOption, dumpOption});
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    if (parser.isSet(portCountOption)) {
        QTextStream(stdout) << QSerialPortInfo::availablePorts().size() << '\n';
        return 0;
    }

    QHostAddress address;
    quint16 port = 0;
    if (!parseListen(parser.value(listenOption), &address, &port))
        return fail(QStringLiteral("--listen expects HOST:PORT with a numeric address, got \"%1\"")
                        .arg(parser.value(listenOption)));

    UnitState state = UnitState::builtIn();
    QString error;
    if (parser.isSet(stateOption) && !UnitState::loadFile(parser.value(stateOption), &state, &error))
        return fail(error);

    const bool fleetMode = parser.isSet(unitsOption);
    int unitCount = 1;
    if (fleetMode) {
        bool ok = false;
        unitCount = parser.value(unitsOption).toInt(&ok);
        if (!ok || unitCount < 1 || unitCount > SimulatorFleet::MaxUnits)
            return fail(QStringLiteral("--units expects 1 to %1, got \"%2\"")
                            .arg(SimulatorFleet::MaxUnits).arg(parser.value(unitsOption)));
        const QString rangeError = SimulatorFleet::rangeError(address, unitCount);
        if (!rangeError.isEmpty())
            return fail(rangeError);
        if (port == 0)
            return fail(QStringLiteral("--units needs a port of its own, not 0"));
        if (parser.isSet(ptyOption))
            return fail(QStringLiteral("--pty serves one unit, not with --units"));
    } else {
        for (const QCommandLineOption *option : {&offlineOption, &seedOption, &dumpOption}) {
            if (parser.isSet(*option))
                return fail(QStringLiteral("--%1 needs --units").arg(option->names().first()));
        }
    }
    bool seedOk = false;
    const quint32 seed = parser.value(seedOption).toUInt(&seedOk);
    if (!seedOk)
        return fail(QStringLiteral("--seed expects a whole number, got \"%1\"").arg(parser.value(seedOption)));

    QList<UnitFault> faults;
    QList<QVector<int>> faultUnits;     // empty: every unit
    for (const QString &given : parser.values(faultOption)) {
        QString text = given;
        QVector<int> aimedAt;
        const int hash = text.lastIndexOf(QLatin1Char('#'));
        if (fleetMode && hash >= 0) {
            if (!SimulatorFleet::parseUnitList(text.mid(hash + 1), unitCount, seed, &aimedAt, &error))
                return fail(QStringLiteral("--fault %1: %2").arg(given, error));
            text.truncate(hash);
        }
        UnitFault fault;
        if (!UnitFault::parse(text, &fault, &error))
            return fail(error);
        faults.append(fault);
        faultUnits.append(aimedAt);
    }

    int baud = 0;
    if (parser.isSet(baudOption)) {
        bool ok = false;
        baud = parser.value(baudOption).toInt(&ok);
        if (!ok || baud <= 0 || baud > 4000000)
            return fail(QStringLiteral("--baud expects a positive number, got \"%1\"").arg(parser.value(baudOption)));
    }

    if (fleetMode) {
        QVector<int> offline;
        if (parser.isSet(offlineOption)
            && !SimulatorFleet::parseUnitList(parser.value(offlineOption), unitCount, seed, &offline, &error))
            return fail(QStringLiteral("--offline: ") + error);
        allowDescriptors(unitCount);
        SimulatorFleet fleet(address, unitCount, state);
        for (int i = 0; i < faults.size(); ++i) {
            for (int index = 1; index <= unitCount; ++index) {
                if (faultUnits.at(i).isEmpty() || faultUnits.at(i).contains(index))
                    fleet.unit(index).engine().addFault(faults.at(i));
            }
        }
        fleet.setBaudRate(baud);
        fleet.setOffline(offline);
        if (parser.isSet(logOption) && !fleet.setLogFile(parser.value(logOption)))
            return fail(fleet.errorString());
        if (!fleet.listen(port))
            return fail(fleet.errorString());
        const QString dumpPath = parser.value(dumpOption);
        if (!dumpPath.isEmpty())
            dumpStatesOnSignals(&app, &fleet, dumpPath);

        QTextStream out(stdout);
        out << "listening on " << fleet.address(1).toString() << ':' << port << " to "
            << fleet.address(unitCount).toString() << ':' << port << " (" << unitCount
            << (unitCount == 1 ? " unit" : " units");
        if (!offline.isEmpty())
            out << ", " << offline.size() << " offline";
        out << ")\n";
        out.flush();
        std::fflush(stdout);
        const int code = app.exec();
        if (!dumpPath.isEmpty() && !fleet.dumpStates(dumpPath))
            return fail(fleet.errorString());
#ifdef Q_OS_WIN
        statesDumped = true;
#endif
        return code;
    }

    SimulatorServer server;
    server.engine().setInitialState(state);
    server.engine().setState(state);
    for (const UnitFault &fault : faults)
        server.engine().addFault(fault);
    server.setBaudRate(baud);
    if (parser.isSet(logOption) && !server.setLogFile(parser.value(logOption)))
        return fail(server.errorString());
    if (!server.listen(address, port))
        return fail(server.errorString());
    if (parser.isSet(ptyOption) && !server.openPty())
        return fail(server.errorString());

    QTextStream out(stdout);
    out << "listening on " << server.serverAddress().toString() << ':' << server.serverPort() << '\n';
    if (parser.isSet(ptyOption))
        out << "pty: " << server.ptyPath() << '\n';
    out.flush();
    // Whoever started us reads these lines through a pipe: make sure they arrive now.
    std::fflush(stdout);
    return app.exec();
}
