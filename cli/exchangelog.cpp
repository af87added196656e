#include "exchangelog.h"

#include "console.h"
#include "frame.h"
#include "hextext.h"
#include "protocol.h"

namespace {

bool isWriteRequest(const QByteArray &request)
{
    return !request.isEmpty() && quint8(request.at(0)) >= Protocol::CmdWriteTimeouts
        && quint8(request.at(0)) <= Protocol::CmdWriteMac;
}

} // namespace

ExchangeLog::ExchangeLog(const QElapsedTimer &startClock, bool printingLines)
    : clock(startClock), printing(printingLines)
{
}

void ExchangeLog::collectFor(const QString &name)
{
    unitName = name;
}

QString ExchangeLog::takeCollected()
{
    QString lines;
    lines.swap(collected);
    return lines;
}

void ExchangeLog::print(char direction, const QString &text)
{
    if (!printing)
        return;
    const QString line = QStringLiteral("%1 %2 %3\n").arg(clock.elapsed(), 6).arg(QLatin1Char(direction)).arg(text);
    if (unitName.isEmpty())
        Console::err(line);
    else
        collected += unitName + QLatin1Char(' ') + line;
}

void ExchangeLog::sent(const QByteArray &frame)
{
    print('>', hexText(frame));
    lastRequest = frame.mid(2, frame.size() - 3);
    awaitingAck = true;
    lastProblem.clear();
}

void ExchangeLog::received(const QByteArray &bytes)
{
    print('<', hexText(bytes));
    if (awaitingAck) {
        awaitingAck = false;
        answered = answered || quint8(bytes.at(0)) != Protocol::Ack;
        if (quint8(bytes.at(0)) != Protocol::Ack)
            lastProblem = QStringLiteral("the unit refused the request (%1)").arg(hexText(bytes.left(1)));
        return;
    }

    // A response frame, whole or as far as it came.
    answered = true;
    const QByteArray data = bytes.mid(2, bytes.size() - 3);
    if (quint8(bytes.at(0)) != Protocol::Stx)
        lastProblem = QStringLiteral("the response does not start with 02: %1").arg(hexText(bytes));
    else if (bytes.size() < 3 || bytes.size() != quint8(bytes.at(1)) + 3)
        lastProblem = QStringLiteral("the response broke off after %1 bytes").arg(bytes.size());
    else if (quint8(bytes.at(bytes.size() - 1)) != Frame::checksum(data))
        lastProblem = QStringLiteral("the response's checksum is wrong: %1").arg(hexText(bytes));
    else if (lastRequest.size() == 2 && quint8(lastRequest.at(0)) == Protocol::CmdReadGroup)
        lastProblem = QStringLiteral("the answer for group %1 was not accepted (%2 data bytes)")
                          .arg(quint8(lastRequest.at(1)))
                          .arg(data.size());
    else if (!data.isEmpty() && quint8(data.at(0)) != Protocol::ResultOk)
        lastProblem = QStringLiteral("the unit answered with result code %1").arg(hexText(data.left(1)));
    else if (isWriteRequest(lastRequest) && data.isEmpty())
        lastProblem = QStringLiteral("the answer has no result byte");
    else if (!lastRequest.isEmpty() && quint8(lastRequest.at(0)) == Protocol::CmdTest && data.size() < 2)
        lastProblem = QStringLiteral("the answer has no %1 byte").arg(data.isEmpty() ? "result" : "value");
    else
        lastProblem.clear();
}

void ExchangeLog::waitExpired(Awaited awaited, int limitMs, qint64 waitedMs, const QString &reason)
{
    QString what;
    switch (awaited) {
    case Awaited::Acknowledgement:
        what = QStringLiteral("acknowledgement");
        break;
    case Awaited::Response:
        what = QStringLiteral("response");
        break;
    case Awaited::ResponseByte:
        what = QStringLiteral("next byte of the response");
        break;
    case Awaited::WholeAnswer:
        awaitingAck = false;
        lastProblem = QStringLiteral("the unit's answer took longer than %1 s").arg(limitMs / 1000.0);
        print('!', lastProblem);
        return;
    }
    awaitingAck = false;
    // A wait that ends well before its limit is the channel failing, not the unit keeping quiet.
    if (waitedMs + 50 < limitMs)
        lastProblem = QStringLiteral("no %1: %2 (after %3 ms)").arg(what, reason).arg(waitedMs);
    else
        lastProblem = QStringLiteral("no %1 within %2 ms").arg(what).arg(limitMs);
    print('!', lastProblem);
}
