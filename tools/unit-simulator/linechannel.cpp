#include "linechannel.h"

#include "protocol.h"
#include "unitengine.h"

#include <QThread>
#include <QTimer>

#include <limits>

namespace {

constexpr qint64 NsPerMs = 1000000;
constexpr qint64 NsPerSecond = 1000 * NsPerMs;
constexpr int BitsPerByte = 10;                 // 8N1
constexpr qint64 LongAgo = std::numeric_limits<qint64>::min() / 2;

// A sender that outruns a paced line overruns the unit's receiver, as on a real line.
constexpr size_t MaxInboundBytes = 65536;

} // namespace

LineChannel::LineChannel(UnitEngine *engine, int id, Sink sink, QObject *parent)
    : QObject(parent),
      engine(engine),
      id(id),
      sink(std::move(sink)),
      inboundLastNs(LongAgo),
      outboundFreeNs(LongAgo),
      pumpTimer(new QTimer(this)),
      quietTimer(new QTimer(this))
{
    clock.start();
    pumpTimer->setSingleShot(true);
    pumpTimer->setTimerType(Qt::PreciseTimer);
    connect(pumpTimer, &QTimer::timeout, this, &LineChannel::pump);

    // A unit drops a half-received frame once the line has been quiet as long as the
    // configurator itself would wait between two bytes.
    quietTimer->setSingleShot(true);
    quietTimer->setInterval(Protocol::InterByteWaitMs);
    connect(quietTimer, &QTimer::timeout, this, [this] { this->engine->discardPartialInput(this->id); });
}

void LineChannel::setBaudRate(int baudRate)
{
    baud = qMax(0, baudRate);
    byteNs = baud > 0 ? BitsPerByte * NsPerSecond / baud : 0;
}

void LineChannel::receive(const QByteArray &bytes)
{
    const qint64 now = clock.nsecsElapsed();
    for (char byte : bytes) {
        if (inbound.size() >= MaxInboundBytes)
            break;
        // On a paced line a byte has arrived once it has crossed: its ten bit-times after it was
        // sent, or after the byte before it finished crossing, whichever is later.
        const qint64 due = qMax(now, inboundLastNs) + byteNs;
        inbound.push_back(TimedByte{due, byte});
        inboundLastNs = due;
    }
    pump();
}

void LineChannel::drop()
{
    clear();
    engine->connectionLost(id);
}

void LineChannel::clear()
{
    inbound.clear();
    outbound.clear();
    inboundLastNs = LongAgo;
    outboundFreeNs = LongAgo;
    pumpTimer->stop();
    quietTimer->stop();
}

void LineChannel::scheduleOutbound(const QByteArray &bytes, int delayMs, qint64 nowNs)
{
    const qint64 start = qMax(nowNs, outboundFreeNs) + delayMs * NsPerMs;
    for (int i = 0; i < bytes.size(); ++i)
        outbound.push_back(TimedByte{start + (i + 1) * byteNs, bytes.at(i)});
    outboundFreeNs = start + bytes.size() * byteNs;
}

void LineChannel::pump()
{
    for (;;) {
        const qint64 now = clock.nsecsElapsed();

        QByteArray arrived;
        qint64 arrivedAt = now;
        while (!inbound.empty() && inbound.front().dueNs <= now) {
            arrived.append(inbound.front().byte);
            arrivedAt = inbound.front().dueNs;
            inbound.pop_front();
        }
        if (!arrived.isEmpty()) {
            // The answer is timed from when the request finished crossing the line, not from
            // when this timer happened to wake up.
            for (const UnitAction &action : engine->feed(arrived, id))
                scheduleOutbound(action.bytes, action.delayMs, byteNs > 0 ? arrivedAt : now);
            if (engine->hasPartialInput(id))
                quietTimer->start();
            else
                quietTimer->stop();
        }

        QByteArray leaving;
        while (!outbound.empty() && outbound.front().dueNs <= now) {
            leaving.append(outbound.front().byte);
            outbound.pop_front();
        }
        if (!leaving.isEmpty() && sink)
            sink(leaving);

        qint64 next = std::numeric_limits<qint64>::max();
        if (!inbound.empty())
            next = inbound.front().dueNs;
        if (!outbound.empty())
            next = qMin(next, outbound.front().dueNs);
        if (next == std::numeric_limits<qint64>::max())
            return;
        const qint64 waitNs = next - clock.nsecsElapsed();
        if (sharesLoop && waitNs > 0) {
            // A byte late by less than a millisecond holds up nobody while the ones after it
            // keep their times; only the last byte of an answer is waited for, by the caller:
            // for that one go round the loop instead of asleep.
            const bool answerEnds = outbound.size() == 1 && outbound.front().dueNs == next;
            pumpTimer->start(waitNs >= NsPerMs ? int(waitNs / NsPerMs) : answerEnds ? 0 : 1);
            return;
        }
        if (waitNs >= NsPerMs) {
            // Timers count whole milliseconds: wake up early rather than late and wait out the
            // rest of the byte here.
            pumpTimer->start(int(waitNs / NsPerMs));
            return;
        }
        if (waitNs > 0)
            QThread::usleep(static_cast<unsigned long>((waitNs + 999) / 1000));
    }
}
