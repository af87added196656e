#ifndef COUNTINGRELAY_H
#define COUNTINGRELAY_H

#include <QAtomicInteger>
#include <QHostAddress>
#include <QThread>

class RelayWorker;

// A loopback relay between the configurator and the unit that counts every byte crossing it, so
// the line's share of an operation comes from what the configurator really sent and received.
// It runs on a thread of its own: the configurator blocks its thread while it waits for the unit.
class CountingRelay
{
public:
    CountingRelay(const QHostAddress &listenAddress, const QHostAddress &unitAddress, quint16 port);
    ~CountingRelay();

    bool start(QString *error);

    qint64 bytesToUnit() const { return toUnit.loadAcquire(); }
    qint64 bytesFromUnit() const { return fromUnit.loadAcquire(); }
    int connectionsSeen() const { return seen.loadAcquire(); }
    void resetCounts();

    // True once every connection made so far has been closed at both ends, so its last bytes
    // are counted.
    bool waitUntilIdle(int timeoutMs) const;

private:
    Q_DISABLE_COPY(CountingRelay)

    QHostAddress listenAddress;
    QHostAddress unitAddress;
    quint16 port;
    QThread thread;
    RelayWorker *worker = nullptr;
    QAtomicInteger<qint64> toUnit;
    QAtomicInteger<qint64> fromUnit;
    QAtomicInt open;
    QAtomicInt seen;

    friend class RelayWorker;
    friend class RelayPair;
};

#endif // COUNTINGRELAY_H
