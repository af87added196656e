#ifndef SIMULATORSERVER_H
#define SIMULATORSERVER_H

#include "unitengine.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class LineChannel;
class QFile;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// The simulated unit on the network (and, on Linux, on a pseudo-terminal): one TCP client at a
// time, the next one waiting in the listen queue until the current one hangs up. Everything
// runs from the event loop of the thread the server lives in.
class SimulatorServer : public QObject
{
    Q_OBJECT

public:
    explicit SimulatorServer(QObject *parent = nullptr);
    ~SimulatorServer() override;

    UnitEngine &engine() { return unit; }
    const UnitEngine &engine() const { return unit; }

    bool listen(const QHostAddress &address, quint16 port);
    bool isListening() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    QString errorString() const { return lastError; }

    // Paces both directions like an 8N1 line of this many baud; 0 turns pacing off.
    void setBaudRate(int baud);
    int baudRate() const { return baud; }
    // Other units' lines run on this thread's event loop too (LineChannel::setSharesLoop).
    void setSharesLoop(bool shares);

    // Appends each request frame received, as hex, one per line.
    bool setLogFile(const QString &path);
    // Opens a request log for appending, owned by `parent`; null, with the reason, when it
    // cannot be. The fleet's log is opened alike.
    static QFile *openRequestLog(const QString &path, QObject *parent, QString &error);

    // Also serves the unit on a fresh pseudo-terminal whose slave side a configurator can open
    // as a serial port. Linux only.
    bool openPty();
    QString ptyPath() const { return ptySlavePath; }

    // The line as the unit sees it: whether a configurator is connected now, and how many
    // connections it has taken since it started listening (restart() keeps the count).
    bool hasClient() const { return !client.isNull(); }
    int acceptedConnections() const { return accepted; }

    // The unit back to its initial state, without faults, log or half-read input.
    void restart();
    // Ends the line to the caller connected now, if any, as a unit that is switched off does;
    // the next caller waiting is taken.
    void hangUp();

signals:
    void clientConnected();
    void clientDisconnected();

private:
    void takeNextClient();
    void clientGone();
    void readPty();
    void writePty(const QByteArray &bytes);
    void flushPty();
    void closePty();
    void logRequest(const QByteArray &frame);

    UnitEngine unit;
    QTcpServer *tcpServer;
    QPointer<QTcpSocket> client;
    LineChannel *tcpLine;
    LineChannel *ptyLine = nullptr;
    QFile *logFile = nullptr;
    int baud = 0;
    bool sharesLoop = false;
    int accepted = 0;
    QString lastError;

    int ptyMaster = -1;
    int ptySlaveHold = -1;
    QString ptySlavePath;
    QSocketNotifier *ptyReadNotifier = nullptr;
    QSocketNotifier *ptyWriteNotifier = nullptr;
    QByteArray ptyOutbox;
};

#endif // SIMULATORSERVER_H
