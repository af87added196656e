#ifndef LINKTRACE_H
#define LINKTRACE_H

#include <QByteArray>
#include <QString>

// A listener for the bytes a DeviceLink moves, for someone who needs to see why a unit fails:
// whether it refused, stayed silent or sent a broken frame. The link tells it what happened and
// goes on exactly as it would without it.
class LinkTrace
{
public:
    // What the link was waiting for when a wait ran out.
    enum class Awaited {
        Acknowledgement,    // the byte after a request
        Response,           // the first byte of a response frame
        ResponseByte,       // a later byte of a response frame
        WholeAnswer,        // the rest of an answer that has run past the link's bound
    };

    virtual ~LinkTrace() = default;

    // A request frame as it went to the unit, STX to CHK.
    virtual void sent(const QByteArray &frame) = 0;
    // An acknowledgement byte, a whole response frame, or as much of a broken one as arrived.
    virtual void received(const QByteArray &bytes) = 0;
    // Nothing came for waitedMs (the limit was limitMs; a shorter wait means the channel failed,
    // and reason says how).
    virtual void waitExpired(Awaited awaited, int limitMs, qint64 waitedMs, const QString &reason) = 0;
};

#endif // LINKTRACE_H
