#include "simulatorserver.h"

#include "linechannel.h"

#include "hextext.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

enum LineId { TcpLineId = 0, PtyLineId = 1 };

// What the pseudo-terminal keeps for a configurator that has stopped reading; beyond it the
// answers are lost, as on a line nobody listens to.
constexpr int MaxPtyOutbox = 65536;

} // namespace

SimulatorServer::SimulatorServer(QObject *parent)
    : QObject(parent),
      tcpServer(new QTcpServer(this)),
      tcpLine(nullptr)
{
    tcpLine = new LineChannel(&unit, TcpLineId, [this](const QByteArray &bytes) {
        if (!client)
            return;
        client->write(bytes);
        // Sent now rather than on the loop's next round, which a thousand units share.
        if (sharesLoop)
            client->flush();
    }, this);
    connect(tcpServer, &QTcpServer::newConnection, this, &SimulatorServer::takeNextClient);
    unit.setRequestObserver([this](const QByteArray &frame) { logRequest(frame); });
}

SimulatorServer::~SimulatorServer()
{
    unit.setRequestObserver(nullptr);
    if (client) {
        client->disconnect(this);
        client->abort();
    }
    closePty();
}

bool SimulatorServer::listen(const QHostAddress &address, quint16 port)
{
    if (tcpServer->listen(address, port))
        return true;
    lastError = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(address.toString()).arg(port).arg(tcpServer->errorString());
    return false;
}

bool SimulatorServer::isListening() const
{
    return tcpServer->isListening();
}

QHostAddress SimulatorServer::serverAddress() const
{
    return tcpServer->serverAddress();
}

quint16 SimulatorServer::serverPort() const
{
    return tcpServer->serverPort();
}

void SimulatorServer::setBaudRate(int baudRate)
{
    baud = qMax(0, baudRate);
    tcpLine->setBaudRate(baud);
    if (ptyLine)
        ptyLine->setBaudRate(baud);
}

void SimulatorServer::setSharesLoop(bool shares)
{
    sharesLoop = shares;
    tcpLine->setSharesLoop(shares);
}

QFile *SimulatorServer::openRequestLog(const QString &path, QObject *parent, QString &error)
{
    auto *file = new QFile(path, parent);
    // The same bytes on every system, \n after each frame, for scripts that compare logs.
    if (file->open(QIODevice::WriteOnly | QIODevice::Append))
        return file;
    error = QStringLiteral("cannot open log %1: %2").arg(path, file->errorString());
    delete file;
    return nullptr;
}

bool SimulatorServer::setLogFile(const QString &path)
{
    delete logFile;
    logFile = openRequestLog(path, this, lastError);
    return logFile != nullptr;
}

void SimulatorServer::logRequest(const QByteArray &frame)
{
    if (!logFile)
        return;
    logFile->write(hexText(frame).toLatin1() + '\n');
    logFile->flush();
}

void SimulatorServer::restart()
{
    unit.restart();
    tcpLine->clear();
    if (ptyLine)
        ptyLine->clear();
}

void SimulatorServer::hangUp()
{
    if (client)
        client->abort();
    clientGone();
}

void SimulatorServer::takeNextClient()
{
    // A unit has one line: later callers wait in the listen queue until this one hangs up.
    if (client || !tcpServer->hasPendingConnections())
        return;
    QTcpSocket *socket = tcpServer->nextPendingConnection();
    client = socket;
    ++accepted;
    // The unit answers a byte at a time on a paced line; waiting to coalesce them would add the
    // peer's delayed-acknowledgement time to every answer.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == client)
            tcpLine->receive(socket->readAll());
    });
    connect(socket, &QTcpSocket::disconnected, this, &SimulatorServer::clientGone);
    emit clientConnected();
    if (socket->bytesAvailable() > 0)
        tcpLine->receive(socket->readAll());
    if (socket->state() != QAbstractSocket::ConnectedState)
        clientGone();
}

void SimulatorServer::clientGone()
{
    if (!client)
        return;
    QTcpSocket *socket = client;
    client = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    tcpLine->drop();
    emit clientDisconnected();
    takeNextClient();
}

#ifdef Q_OS_LINUX

bool SimulatorServer::openPty()
{
    if (ptyMaster >= 0)
        return true;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        lastError = QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (master >= 0)
            ::close(master);
        return false;
    }
    // Holding the slave open keeps the master readable between two configurator sessions
    // instead of reporting a hang-up after each.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    termios mode;
    if (slave < 0 || tcgetattr(slave, &mode) != 0) {
        lastError = QStringLiteral("cannot open %1: %2").arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(std::strerror(errno)));
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    cfmakeraw(&mode);
    cfsetispeed(&mode, B9600);
    cfsetospeed(&mode, B9600);
    tcsetattr(slave, TCSANOW, &mode);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    ptyMaster = master;
    ptySlaveHold = slave;
    ptySlavePath = QString::fromLocal8Bit(name);
    ptyLine = new LineChannel(&unit, PtyLineId, [this](const QByteArray &bytes) { writePty(bytes); }, this);
    ptyLine->setBaudRate(baud);
    ptyReadNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(ptyReadNotifier, &QSocketNotifier::activated, this, &SimulatorServer::readPty);
    ptyWriteNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    ptyWriteNotifier->setEnabled(false);
    connect(ptyWriteNotifier, &QSocketNotifier::activated, this, &SimulatorServer::flushPty);
    return true;
}

void SimulatorServer::readPty()
{
    QByteArray received;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(ptyMaster, buffer, sizeof buffer);
        if (got > 0) {
            received.append(buffer, int(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The terminal is broken for good; stop listening rather than spin on it.
            ptyReadNotifier->setEnabled(false);
            qWarning("unit-simulator: pseudo-terminal read failed: %s", std::strerror(errno));
        }
        break;
    }
    if (!received.isEmpty())
        ptyLine->receive(received);
}

void SimulatorServer::writePty(const QByteArray &bytes)
{
    if (ptyOutbox.size() + bytes.size() > MaxPtyOutbox)
        ptyOutbox.clear();
    ptyOutbox.append(bytes);
    flushPty();
}

void SimulatorServer::flushPty()
{
    while (!ptyOutbox.isEmpty()) {
        const ssize_t written = ::write(ptyMaster, ptyOutbox.constData(), size_t(ptyOutbox.size()));
        if (written > 0) {
            ptyOutbox.remove(0, int(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            ptyOutbox.clear();
        break;
    }
    ptyWriteNotifier->setEnabled(!ptyOutbox.isEmpty());
}

void SimulatorServer::closePty()
{
    delete ptyReadNotifier;
    ptyReadNotifier = nullptr;
    delete ptyWriteNotifier;
    ptyWriteNotifier = nullptr;
    if (ptySlaveHold >= 0)
        ::close(ptySlaveHold);
    if (ptyMaster >= 0)
        ::close(ptyMaster);
    ptySlaveHold = ptyMaster = -1;
}

#else

bool SimulatorServer::openPty()
{
    lastError = QStringLiteral("pseudo-terminals are available on Linux only");
    return false;
}

void SimulatorServer::readPty() {}
void SimulatorServer::writePty(const QByteArray &) {}
void SimulatorServer::flushPty() {}
void SimulatorServer::closePty() {}

#endif
