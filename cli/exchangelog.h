#ifndef EXCHANGELOG_H
#define EXCHANGELOG_H

#include "linktrace.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

// What went over the line: with --trace every frame, acknowledgement and expired wait as a line
// on stderr; in any case a note of the last thing that went wrong, so that a failure can say
// whether the unit refused, stayed silent or sent a broken frame.
class ExchangeLog : public LinkTrace
{
public:
    // `clock` runs from the start of the program; the trace's times count from there.
    ExchangeLog(const QElapsedTimer &clock, bool printing);

    // Units exchanged at once would mix their lines: from here on the lines start with the
    // unit's name and wait in takeCollected() until the unit is done.
    void collectFor(const QString &unitName);
    QString takeCollected();

    void sent(const QByteArray &frame) override;
    void received(const QByteArray &bytes) override;
    void waitExpired(Awaited awaited, int limitMs, qint64 waitedMs, const QString &reason) override;

    // Why the last exchange failed, in a few words; empty when the line showed nothing wrong.
    QString problem() const { return lastProblem; }
    // Whether the unit has answered a request at all, a refusal included; an acknowledgement
    // alone is no answer. A unit that never answered was not reached.
    bool answeredAnything() const { return answered; }

private:
    void print(char direction, const QString &text);

    const QElapsedTimer &clock;
    bool printing;
    QString unitName;           // set: lines are collected, not printed
    QString collected;
    QByteArray lastRequest;     // data of the last request frame
    bool awaitingAck = false;
    QString lastProblem;
    bool answered = false;
};

#endif // EXCHANGELOG_H
