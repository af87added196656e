#include "testmain.h"

#include "unitengine.h"

class TestUnitEngine : public QObject
{
    Q_OBJECT

private slots:
    void readsGroupSix();
};

void TestUnitEngine::readsGroupSix()
{
    UnitEngine engine;
    const QList<UnitAction> actions = engine.feed(QByteArray::fromHex("0202070603"));
    QCOMPARE(actions.size(), 2);
}

TALLY_TEST_MAIN(TestUnitEngine)
#include "tst_unitengine.moc"
