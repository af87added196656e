#include "simulatorfixture.h"

#include "protocol.h"
#include "simulatorserver.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>

namespace {

// Runs a piece of code on the simulator's thread while the caller waits: the test thread may
// be blocked inside the link a moment later, so the fake unit must never need it.
class ThreadRunner : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void run(void *job) { (*static_cast<std::function<void()> *>(job))(); }
};

} // namespace

struct SimulatorFixture::Private
{
    QString address;
    QThread thread;
    SimulatorServer *server = nullptr;
    ThreadRunner *runner = nullptr;
    bool listening = false;

    void run(std::function<void()> job) const
    {
        QMetaObject::invokeMethod(runner, "run", Qt::BlockingQueuedConnection,
                                  Q_ARG(void *, &job));
    }
};

SimulatorFixture::SimulatorFixture(const QString &address)
    : d(new Private)
{
    d->address = address;
    d->thread.setObjectName(QStringLiteral("unit-simulator"));
    d->server = new SimulatorServer;
    d->runner = new ThreadRunner;
    d->server->moveToThread(&d->thread);
    d->runner->moveToThread(&d->thread);
    d->thread.start();
    Private *p = d.get();
    p->run([p] {
        p->listening = p->server->listen(QHostAddress(p->address), Protocol::TcpPort);
        if (!p->listening)
            qWarning("SimulatorFixture: %s", qPrintable(p->server->errorString()));
    });
}

SimulatorFixture::~SimulatorFixture()
{
    Private *p = d.get();
    p->run([p] {
        delete p->server;
        p->server = nullptr;
    });
    p->thread.quit();
    p->thread.wait();
    delete p->runner;
}

bool SimulatorFixture::isListening() const
{
    return d->listening;
}

QString SimulatorFixture::address() const
{
    return d->address;
}

void SimulatorFixture::restart()
{
    Private *p = d.get();
    p->run([p] {
        p->server->engine().setInitialState(UnitState::builtIn());
        p->server->restart();
        p->server->setBaudRate(0);
    });
}

void SimulatorFixture::hangUp()
{
    Private *p = d.get();
    p->run([p] { p->server->hangUp(); });
}

bool SimulatorFixture::addFault(const QString &text)
{
    bool added = false;
    Private *p = d.get();
    p->run([p, &text, &added] { added = p->server->engine().addFault(text); });
    return added;
}

void SimulatorFixture::clearFaults()
{
    Private *p = d.get();
    p->run([p] { p->server->engine().clearFaults(); });
}

void SimulatorFixture::setGroup(quint8 group, const QByteArray &data)
{
    Private *p = d.get();
    p->run([p, group, &data] { p->server->engine().setGroup(group, data); });
}

QByteArray SimulatorFixture::group(quint8 group) const
{
    QByteArray data;
    const Private *p = d.get();
    p->run([p, group, &data] { data = p->server->engine().group(group); });
    return data;
}

void SimulatorFixture::setUnitStatus(const QList<QByteArray> &parts)
{
    Private *p = d.get();
    p->run([p, &parts] { p->server->engine().setUnitStatus(parts); });
}

void SimulatorFixture::setModemStatus(const QList<QByteArray> &parts)
{
    Private *p = d.get();
    p->run([p, &parts] { p->server->engine().setModemStatus(parts); });
}

void SimulatorFixture::setTestResponse(quint8 test, const QByteArray &data)
{
    Private *p = d.get();
    p->run([p, test, &data] { p->server->engine().setTestResponse(test, data); });
}

QList<QByteArray> SimulatorFixture::requests() const
{
    QList<QByteArray> log;
    const Private *p = d.get();
    p->run([p, &log] { log = p->server->engine().requests(); });
    return log;
}

void SimulatorFixture::clearRequests()
{
    Private *p = d.get();
    p->run([p] { p->server->engine().clearRequests(); });
}

int SimulatorFixture::connectionCount() const
{
    int count = 0;
    const Private *p = d.get();
    p->run([p, &count] {
        QCoreApplication::processEvents();
        count = p->server->acceptedConnections();
    });
    return count;
}

bool SimulatorFixture::hasClient() const
{
    bool connected = false;
    const Private *p = d.get();
    p->run([p, &connected] {
        QCoreApplication::processEvents();
        connected = p->server->hasClient();
    });
    return connected;
}

void SimulatorFixture::setBaudRate(int baud)
{
    Private *p = d.get();
    p->run([p, baud] { p->server->setBaudRate(baud); });
}

#include "simulatorfixture.moc"
