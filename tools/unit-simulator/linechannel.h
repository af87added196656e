#ifndef LINECHANNEL_H
#define LINECHANNEL_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <functional>

class QTimer;
class UnitEngine;

// One line between the unit and a configurator (a TCP client or the pseudo-terminal). It hands
// received bytes to the engine and sends back what the engine answers, honouring the delays the
// engine asks for. With a baud rate set it behaves like the far end of a real 8N1 line: a byte
// counts as received only once it could have crossed the line, and no byte leaves faster than
// the line would carry it. Never blocks: every wait is a timer.
class LineChannel : public QObject
{
    Q_OBJECT

public:
    using Sink = std::function<void(const QByteArray &bytes)>;

    LineChannel(UnitEngine *engine, int id, Sink sink, QObject *parent = nullptr);

    void setBaudRate(int baud);     // 0: as fast as the transport goes
    int baudRate() const { return baud; }

    // Other lines run on the same event loop: this line never sleeps through a wait shorter
    // than a timer's millisecond, which would hold up the others.
    void setSharesLoop(bool shares) { sharesLoop = shares; }

    void receive(const QByteArray &bytes);
    // The far end is gone: nothing more is sent to it and its half frame is forgotten.
    void drop();
    // The unit was restarted under this line: its queued answers no longer apply.
    void clear();

private:
    struct TimedByte {
        qint64 dueNs;
        char byte;
    };

    void pump();
    void scheduleOutbound(const QByteArray &bytes, int delayMs, qint64 nowNs);

    UnitEngine *engine;
    int id;
    Sink sink;
    int baud = 0;
    bool sharesLoop = false;
    qint64 byteNs = 0;              // one byte on the line: start bit, 8 data bits, stop bit
    QElapsedTimer clock;
    std::deque<TimedByte> inbound;
    std::deque<TimedByte> outbound;
    qint64 inboundLastNs;
    qint64 outboundFreeNs;
    QTimer *pumpTimer;
    QTimer *quietTimer;
};

#endif // LINECHANNEL_H
