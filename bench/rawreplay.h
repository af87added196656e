#ifndef RAWREPLAY_H
#define RAWREPLAY_H

#include <QByteArray>
#include <QList>
#include <QString>

// The least any client can spend on the same conversation: connect, then for each request frame
// send it whole, take the acknowledgement and the whole response frame, nothing else. Run against
// the paced unit it shows what the simulated line itself costs, apart from the configurator.
struct ReplayResult {
    bool ok = false;
    QString error;
    double elapsedMs = 0;
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;
};

ReplayResult replayRequests(const QString &host, quint16 port, const QList<QByteArray> &requests);

#endif // RAWREPLAY_H
