#ifndef UNITENGINE_H
#define UNITENGINE_H

#include "unitfault.h"
#include "unitstate.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <functional>

// Bytes the unit puts on the line after a quiet time: delayMs counts from the moment the
// previous action (or the request) is done.
struct UnitAction
{
    int delayMs = 0;
    QByteArray bytes;

    bool operator==(const UnitAction &other) const
    {
        return delayMs == other.delayMs && bytes == other.bytes;
    }
};

// The unit's side of the protocol, without any I/O or timers: received bytes go in, the bytes
// to send come out. Input may arrive in any chunks, with junk in between; each channel (a TCP
// client, a pseudo-terminal) has its own input buffer while the state is shared. Safe on every
// input, so a fuzzer may call feed() directly.
class UnitEngine
{
public:
    UnitEngine();
    explicit UnitEngine(const UnitState &initial);

    QList<UnitAction> feed(const QByteArray &bytes, int channel = 0);
    bool hasPartialInput(int channel = 0) const;
    // A half frame the line has given up on: a real unit drops it after a quiet spell.
    void discardPartialInput(int channel = 0);
    // The far end went away: its half frame and any status dialogue die with it.
    void connectionLost(int channel = 0);

    const UnitState &state() const { return current; }
    void setState(const UnitState &state) { current = state; }
    // What a reset of the settings (kinds 0 and 3) brings back, and restart() starts from.
    const UnitState &initialState() const { return initial; }
    void setInitialState(const UnitState &state) { initial = state; }
    // Initial state, no faults, empty log, no input on any channel.
    void restart();

    void setGroup(quint8 group, const QByteArray &data) { current.groups[group] = data; }
    QByteArray group(quint8 group) const { return current.groups.value(group); }
    void setUnitStatus(const QList<QByteArray> &parts) { current.unitStatus = parts; }
    void setModemStatus(const QList<QByteArray> &parts) { current.modemStatus = parts; }
    void setTestResponse(quint8 test, const QByteArray &data) { current.testResponses[test] = data; }

    bool addFault(const QString &text, QString *error = nullptr);
    void addFault(const UnitFault &fault) { activeFaults.append(fault); }
    void clearFaults() { activeFaults.clear(); }
    const QList<UnitFault> &faults() const { return activeFaults; }

    // Every whole request frame received (STX to CHK, bad checksums included), oldest first.
    const QList<QByteArray> &requests() const { return requestLog; }
    void clearRequests() { requestLog.clear(); }
    // How many frames requests() keeps; a thousand units in one process keep fewer each.
    void setRequestLogLimit(int frames) { requestLogLimit = qMax(1, frames); }
    void setRequestObserver(std::function<void(const QByteArray &frame)> observer)
    {
        requestObserver = std::move(observer);
    }

    // STX, LEN, data, CHK.
    static QByteArray frame(const QByteArray &data);

private:
    struct Effects;
    struct Reply;

    QList<UnitAction> answerFrame(const QByteArray &frame);
    Effects effectsFor(const QByteArray &data) const;
    Reply respond(const QByteArray &data, const Effects &effects);
    int applyWrite(const QByteArray &data, const Effects &effects);
    QByteArray nextStatusPart(const Effects &effects);
    void patchGroup(quint8 group, int offset, const QByteArray &bytes, int minimumSize);

    UnitState initial;
    UnitState current;
    QList<UnitFault> activeFaults;
    QList<QByteArray> requestLog;
    int requestLogLimit;
    std::function<void(const QByteArray &)> requestObserver;
    QMap<int, QByteArray> input;

    struct Dialogue {
        bool open = false;
        bool endless = false;
        quint8 command = 0;     // 0x55 or 0x56
        int next = 0;           // index of the part the next answer carries
    } dialogue;
};

#endif // UNITENGINE_H
