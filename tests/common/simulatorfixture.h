#ifndef SIMULATORFIXTURE_H
#define SIMULATORFIXTURE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// The unit simulator running on a thread of its own and listening on address:20107, so that the
// link under test can block the test's thread while the fake unit answers. Each test program
// has a host number of its own in the run's loopback network (testAddress()); nothing ever
// listens outside 127.0.0.0/8.
class SimulatorFixture
{
public:
    explicit SimulatorFixture(const QString &address);
    ~SimulatorFixture();

    bool isListening() const;
    QString address() const;

    // Back to the built-in unit state, no faults, empty request log.
    void restart();
    // Ends the line to the caller connected now, if any: a caller a test has closed is gone
    // for the simulator only once the network has told it, and until then the next caller
    // waits in the listen queue.
    void hangUp();

    // Fault injection, same syntax as the simulator's --fault option.
    bool addFault(const QString &fault);
    void clearFaults();

    // The data block the unit answers a read of this group with (and that writes change).
    void setGroup(quint8 group, const QByteArray &data);
    QByteArray group(quint8 group) const;

    // Status texts, one Windows-1251 byte string per part.
    void setUnitStatus(const QList<QByteArray> &parts);
    void setModemStatus(const QList<QByteArray> &parts);
    // Response data of the two measuring tests (0x58 0x01 signal level, 0x58 0x02 server).
    void setTestResponse(quint8 test, const QByteArray &data);

    // Every request frame received so far, whole (STX to CHK), oldest first.
    QList<QByteArray> requests() const;
    void clearRequests();

    // The simulator's own view of its line: connections it has accepted since it started, and
    // whether a client is connected now. Both first let the simulator's thread take in what the
    // network has already delivered (a connection made, a connection closed). A client's close
    // reaches the simulator a moment later: wait for it with QTRY_VERIFY(!hasClient()).
    int connectionCount() const;
    bool hasClient() const;

    // Paces both directions like an 8N1 line of this many baud (0, the default, is unpaced);
    // restart() turns pacing off again.
    void setBaudRate(int baud);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // SIMULATORFIXTURE_H
