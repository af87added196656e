#ifndef SIMULATORFLEET_H
#define SIMULATORFLEET_H

#include "unitstate.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QVector>

class QFile;
class SimulatorServer;

// Many units in one process, on the event loop of the thread the fleet lives in: unit k (from 1)
// listens on the k-th loopback address counted up from the first, all on one port, each with a
// state of its own, its own line, its own faults.
class SimulatorFleet : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxUnits = 50000;

    // Why `count` units from `first` cannot be had (not IPv4 loopback, or running out of
    // 127.0.0.0/8); empty when they can.
    static QString rangeError(const QHostAddress &first, int count);

    // Unit numbers from 1 for LIST: indices and ranges ("3,10-19") or a share of the fleet
    // ("5%"). A share takes the first units of one shuffle of the fleet made from `seed`: the
    // same share and seed name the same units, and a larger share holds a smaller one.
    static bool parseUnitList(const QString &text, int count, quint32 seed, QVector<int> *units,
                              QString *error);

    // The state unit `index` starts from: `base` with EthMAC and CashDeskID counted up by
    // index - 1 and EthIP the unit's own address. A group staged too short for a field keeps it.
    static UnitState unitState(const UnitState &base, int index, const QHostAddress &address);

    SimulatorFleet(const QHostAddress &first, int count, const UnitState &state,
                   QObject *parent = nullptr);
    ~SimulatorFleet() override;

    int size() const { return units.size(); }
    SimulatorServer &unit(int index) { return *units.at(index - 1); }
    QHostAddress address(int index) const;

    void setBaudRate(int baud);
    // These units do not listen: a caller finds the connection refused.
    void setOffline(const QVector<int> &indices);
    bool isOffline(int index) const { return offline.at(index - 1); }
    // One line per request frame: the unit's number, its address, the frame as hex.
    bool setLogFile(const QString &path);
    bool listen(quint16 port);
    QString errorString() const { return lastError; }

    // Every unit's current state, in the form --state reads, with its number and address.
    QByteArray statesJson() const;
    bool dumpStates(const QString &path);

private:
    void logRequest(int index, const QByteArray &frame);

    quint32 firstAddress;
    QVector<SimulatorServer *> units;
    QVector<bool> offline;
    QFile *logFile = nullptr;
    QString lastError;
};

#endif // SIMULATORFLEET_H
