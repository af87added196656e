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

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
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
        + UnitState::jsonFormatHelp() + QLatin1Char('\n') + UnitFault::syntaxHelp());
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
    parser.addOptions({listenOption, stateOption, faultOption, baudOption, logOption, ptyOption,
                       portCountOption});
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

    QList<UnitFault> faults;
    for (const QString &text : parser.values(faultOption)) {
        UnitFault fault;
        if (!UnitFault::parse(text, &fault, &error))
            return fail(error);
        faults.append(fault);
    }

    int baud = 0;
    if (parser.isSet(baudOption)) {
        bool ok = false;
        baud = parser.value(baudOption).toInt(&ok);
        if (!ok || baud <= 0 || baud > 4000000)
            return fail(QStringLiteral("--baud expects a positive number, got \"%1\"").arg(parser.value(baudOption)));
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
