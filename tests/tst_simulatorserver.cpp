#include "testmain.h"

#include "simulatorfixture.h"

#include <QTcpSocket>

class TestSimulatorServer : public QObject
{
    Q_OBJECT

private slots:
    void fixtureAnswersOverTcp();
};

void TestSimulatorServer::fixtureAnswersOverTcp()
{
    SimulatorFixture unit(QStringLiteral("127.0.0.2"));
    QVERIFY(unit.isListening());
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.2"), 20107);
    QVERIFY(socket.waitForConnected(1000));
    socket.write(QByteArray::fromHex("0202070603"));
    QByteArray answer;
    while (answer.size() < 11 && socket.waitForReadyRead(1000))
        answer += socket.readAll();
    QCOMPARE(answer.toHex(' '), QByteArray("06 02 07 00 e8 03 f4 01 3c 00 25"));
    QCOMPARE(unit.requests(), QList<QByteArray>{QByteArray::fromHex("0202070603")});
}

TALLY_TEST_MAIN(TestSimulatorServer)
#include "tst_simulatorserver.moc"
