#ifndef DEVICELINK_H
#define DEVICELINK_H

#include "linktrace.h"
#include "protocol.h"
#include "records.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QIODevice;
class QSerialPortInfo;

// The byte channel to one unit (a serial port or a TCP connection) and every command the unit
// understands. All calls block the calling thread for at most their documented waits, and each
// command for at most `commandBoundMs` as a whole however its unit drips its bytes. The link
// never talks to the user: each operation returns whether it succeeded and the window decides
// what to show.
class DeviceLink
{
public:
    explicit DeviceLink(int commandBoundMs = Protocol::CommandBoundMs);
    ~DeviceLink();

    // Channel.
    bool openSerial(const QSerialPortInfo &port);
    bool openTcp(const QString &host, quint16 port = Protocol::TcpPort);
    void close();
    bool isOpen() const;
    // Why the last open failed, in the system's words (empty after a successful open).
    QString openError() const { return lastOpenError; }
    bool readBytes(quint8 *destination, int count, int timeoutMs);

    // Opens a serial port by its system location (/dev/ttyS0, COM3, a pseudo-terminal) with the
    // unit's line settings. openSerial() is this step applied to the port the system listed.
    bool openSerialAt(const QString &systemLocation);

    // Takes ownership of an already open device, for feeding the protocol code from memory.
    void attachDevice(QIODevice *openDevice);

    // Tells `trace` (not owned; null for none) about every frame and byte exchanged from now on.
    void setTrace(LinkTrace *trace);

    // Frames.
    bool sendFrame(const quint8 *data, quint8 length, int ackTimeoutMs);
    bool receiveFrame(QByteArray &out, int firstTimeoutMs);

    // Parameter reads.
    bool requestGroup(quint8 group);
    bool readCashDeskState(CashDeskState &record);
    bool readTimeouts(TimeoutSettings &record);
    bool readServerAddress(ServerAddress &record);
    bool readGprsSettings(GprsSettings &record);
    bool readEthernetSettings(EthernetSettings &record);
    bool readChannelPriority(ChannelPriority &record);

    // Parameter writes. Each stores its command code (and any length bytes) into the record.
    bool writeTimeouts(TimeoutSettings &record);
    bool writeToken(TokenRecord &record);
    bool writeServerAddress(ServerAddress &record);
    bool writeGprsSettings(GprsSettings &record);
    bool writeCashDeskId(CashDeskIdRecord &record);
    bool writeEthernetSettings(EthernetSettings &record);
    bool writeChannelPriority(ChannelPriority &record);
    bool writeMac(MacRecord &record);

    // Service and tests.
    bool resetData(quint8 kind);
    bool readUnitStatus(QString &text);
    bool readModemStatus(QString &text);
    bool measureServerResponse(int &value);
    bool measureSignalLevel(int &value);

private:
    Q_DISABLE_COPY(DeviceLink)

    // Holds the link to a bound for as long as it lives: every wait inside is cut to what is left
    // of it (or of an enclosing, earlier one).
    class AnswerBound
    {
    public:
        AnswerBound(DeviceLink &link, int boundMs);
        ~AnswerBound();

    private:
        Q_DISABLE_COPY(AnswerBound)
        DeviceLink &link;
        int savedBoundMs;
        QElapsedTimer savedClock;
    };

    bool readAwaited(quint8 *destination, int count, int timeoutMs, LinkTrace::Awaited awaited);
    bool receiveFrameBytes(QByteArray &out, int firstTimeoutMs);
    // Hands the bytes read since the last call to the trace as one piece.
    void flushTrace();
    bool sendRequest(const QByteArray &data, int ackTimeoutMs);
    bool exchange(const QByteArray &data, int ackTimeoutMs, int firstTimeoutMs,
                  QByteArray &response);
    bool readGroupFrame(quint8 group, int firstTimeoutMs, QByteArray &response);
    bool writeCommand(const QByteArray &data, int ackTimeoutMs);
    bool statusDialogue(quint8 opening, QString &text);
    bool measure(quint8 test, int &value);

    // What is left of the bound in force, or -1 when there is none.
    qint64 answerLeftMs() const;

    const int commandBoundMs;
    int answerBoundMs = -1;     // the bound in force, -1: none
    QElapsedTimer answerClock;  // runs since the bound in force began
    QIODevice *device = nullptr;
    QString lastOpenError;
    LinkTrace *trace = nullptr;
    QByteArray traceBytes;      // read but not yet traced: one acknowledgement or frame
};

#endif // DEVICELINK_H
