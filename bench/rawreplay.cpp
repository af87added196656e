#include "rawreplay.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace {

constexpr int WaitMs = 2000;
constexpr char Stx = 0x02;
constexpr char Ack = 0x06;

bool readExactly(QTcpSocket &socket, int count, QByteArray *into)
{
    while (socket.bytesAvailable() < count) {
        if (!socket.waitForReadyRead(WaitMs))
            return false;
    }
    into->append(socket.read(count));
    return true;
}

} // namespace

ReplayResult replayRequests(const QString &host, quint16 port, const QList<QByteArray> &requests)
{
    ReplayResult result;
    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(WaitMs)) {
        result.error = QStringLiteral("cannot connect to %1: %2").arg(host, socket.errorString());
        return result;
    }
    for (const QByteArray &request : requests) {
        socket.write(request);
        socket.flush();
        result.bytesSent += request.size();
        QByteArray answer;
        if (!readExactly(socket, 1, &answer) || answer.at(0) != Ack
            || !readExactly(socket, 2, &answer) || answer.at(1) != Stx
            || !readExactly(socket, quint8(answer.at(2)) + 1, &answer)) {
            result.error = QStringLiteral("no whole answer to %1").arg(QString::fromLatin1(request.toHex()));
            return result;
        }
        result.bytesReceived += answer.size();
    }
    result.elapsedMs = clock.nsecsElapsed() / 1e6;
    socket.disconnectFromHost();
    result.ok = true;
    return result;
}
