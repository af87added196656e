#include "countingrelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>

// One configurator connection and its own connection on to the unit.
class RelayPair : public QObject
{
public:
    RelayPair(CountingRelay *relay, QTcpSocket *incoming, QObject *parent)
        : QObject(parent), relay(relay), configurator(incoming), unit(new QTcpSocket(this))
    {
        configurator->setParent(this);
        // A paced unit talks one byte at a time; holding bytes back here would add to the time
        // being measured.
        configurator->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(unit, &QTcpSocket::connected, this, [this] {
            unit->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            if (!pending.isEmpty())
                unit->write(pending);
            pending.clear();
        });
        connect(configurator, &QTcpSocket::readyRead, this, &RelayPair::forwardToUnit);
        connect(unit, &QTcpSocket::readyRead, this, &RelayPair::forwardFromUnit);
        connect(configurator, &QTcpSocket::disconnected, this, [this] {
            forwardToUnit();
            unit->disconnectFromHost();
            if (unit->state() == QAbstractSocket::UnconnectedState)
                deleteLater();
        });
        connect(unit, &QTcpSocket::disconnected, this, [this] {
            forwardFromUnit();
            configurator->disconnectFromHost();
            if (configurator->state() == QAbstractSocket::UnconnectedState)
                deleteLater();
        });
        // A unit that cannot be reached never disconnects; the configurator is let go instead.
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
        connect(unit, &QAbstractSocket::errorOccurred, this, &RelayPair::unitFailed);
#else
        connect(unit, static_cast<void (QAbstractSocket::*)(QAbstractSocket::SocketError)>(&QAbstractSocket::error),
                this, &RelayPair::unitFailed);
#endif
        unit->connectToHost(relay->unitAddress, relay->port);
    }

private:
    void unitFailed()
    {
        if (unit->state() != QAbstractSocket::UnconnectedState)
            return;
        configurator->disconnectFromHost();
        if (configurator->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    void forwardToUnit()
    {
        const QByteArray bytes = configurator->readAll();
        relay->toUnit.fetchAndAddOrdered(bytes.size());
        if (unit->state() == QAbstractSocket::ConnectedState)
            unit->write(bytes);
        else
            pending.append(bytes);
    }

    void forwardFromUnit()
    {
        const QByteArray bytes = unit->readAll();
        relay->fromUnit.fetchAndAddOrdered(bytes.size());
        configurator->write(bytes);
    }

    CountingRelay *relay;
    QTcpSocket *configurator;
    QTcpSocket *unit;
    QByteArray pending;     // what the configurator sent before the unit took the connection
};

// Everything here lives on the relay's thread.
class RelayWorker : public QObject
{
    Q_OBJECT

public:
    explicit RelayWorker(CountingRelay *relay) : relay(relay) {}

    Q_INVOKABLE bool listen()
    {
        server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this, &RelayWorker::accept);
        if (server->listen(relay->listenAddress, relay->port))
            return true;
        lastError = server->errorString();
        return false;
    }

    Q_INVOKABLE void shutDown()
    {
        for (QTcpSocket *socket : findChildren<QTcpSocket *>())
            socket->abort();
        delete server;
        server = nullptr;
    }

    QString lastError;

private:
    void accept()
    {
        while (QTcpSocket *configurator = server->nextPendingConnection()) {
            relay->open.fetchAndAddOrdered(1);
            relay->seen.fetchAndAddOrdered(1);
            auto *pair = new RelayPair(relay, configurator, this);
            connect(pair, &QObject::destroyed, this, [this] { relay->open.fetchAndAddOrdered(-1); });
        }
    }

    CountingRelay *relay;
    QTcpServer *server = nullptr;
};

CountingRelay::CountingRelay(const QHostAddress &listenAddress, const QHostAddress &unitAddress,
                             quint16 port)
    : listenAddress(listenAddress), unitAddress(unitAddress), port(port)
{
    thread.setObjectName(QStringLiteral("counting-relay"));
}

CountingRelay::~CountingRelay()
{
    if (worker) {
        QMetaObject::invokeMethod(worker, "shutDown", Qt::BlockingQueuedConnection);
        worker->deleteLater();
    }
    thread.quit();
    thread.wait();
}

bool CountingRelay::start(QString *error)
{
    worker = new RelayWorker(this);
    worker->moveToThread(&thread);
    thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(worker, "listen", Qt::BlockingQueuedConnection,
                              Q_RETURN_ARG(bool, listening));
    if (!listening && error)
        *error = worker->lastError;
    return listening;
}

void CountingRelay::resetCounts()
{
    toUnit.storeRelease(0);
    fromUnit.storeRelease(0);
    seen.storeRelease(0);
}

bool CountingRelay::waitUntilIdle(int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (open.loadAcquire() > 0) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

#include "countingrelay.moc"
