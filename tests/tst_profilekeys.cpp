// The profile's vocabulary: which keys are secret or must differ per unit, which write group
// each key goes with, and the MAC address a series of units counts up.

#include "macaddress.h"
#include "profile.h"
#include "profilecheck.h"
#include "valuerules.h"
#include "testmain.h"

#include <QObject>
#include <QtTest>

class TestProfileKeys : public QObject
{
    Q_OBJECT

private slots:
    void keyKinds_data();
    void keyKinds();
    void writeGroups_data();
    void writeGroups();
    void macAddress_data();
    void macAddress();
};

void TestProfileKeys::keyKinds_data()
{
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<QStringList>("unitKeys");

    QTest::newRow("static address") << false << QStringList{"EthMAC", "EthIP", "CashDeskID"};
    QTest::newRow("DHCP") << true << QStringList{"EthMAC", "CashDeskID"};
}

void TestProfileKeys::keyKinds()
{
    QFETCH(bool, dhcp);
    QFETCH(QStringList, unitKeys);

    Profile profile;
    profile.setUseDhcp(dhcp);
    QCOMPARE(profile.unitKeys(), unitKeys);

    QStringList secret;
    for (const QString &key : profileFileKeys() + QStringList{QStringLiteral("password")}) {
        if (isSecretKey(key))
            secret << key;
    }
    QCOMPARE(secret, (QStringList{"ServerToken", "Password"}));
}

void TestProfileKeys::writeGroups_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("keys");      // in the file's order
    QTest::addColumn<QStringList>("checked");   // in the order a write checks them

    QTest::newRow("timeouts") << "timeouts" << QStringList{"FullTimeout", "CommandTimeout", "RetryTimeout"}
                              << QStringList{"FullTimeout", "CommandTimeout", "RetryTimeout"};
    QTest::newRow("token") << "token" << QStringList{"ServerToken"} << QStringList{"ServerToken"};
    QTest::newRow("server") << "server" << QStringList{"IPsrv", "URLaddr", "Port"}
                            << QStringList{"IPsrv", "URLaddr", "Port"};
    QTest::newRow("gprs") << "gprs" << QStringList{"APN", "Login", "Password", "BalanceCode"}
                          << QStringList{"APN", "Login", "Password", "BalanceCode"};
    QTest::newRow("ethernet, UseDHCP checked before DNSaddr")
        << "ethernet" << QStringList{"EthIP", "EthMask", "Gateway", "DNSaddr", "UseDHCP"}
        << QStringList{"EthIP", "EthMask", "Gateway", "UseDHCP", "DNSaddr"};
    QTest::newRow("mac") << "mac" << QStringList{"EthMAC"} << QStringList{"EthMAC"};
    QTest::newRow("priority") << "priority" << QStringList{"Priority"} << QStringList{"Priority"};
    QTest::newRow("cashdesk") << "cashdesk" << QStringList{"CashDeskID"} << QStringList{"CashDeskID"};
}

void TestProfileKeys::writeGroups()
{
    QFETCH(QString, group);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, checked);

    QStringList grouped;
    for (WriteGroup written : writeAllOrder()) {
        grouped += Profile::keys(written);
        if (writeGroupName(written) != group)
            continue;
        QCOMPARE(Profile::keys(written), keys);
        QCOMPARE(writeGroupKeys(written), checked);
    }
    // Every key goes with one group.
    grouped.sort();
    QStringList every = Profile::keys();
    every.sort();
    QCOMPARE(grouped, every);
}

void TestProfileKeys::macAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");    // empty: no MAC address
    QTest::addColumn<QString>("next");
    // What no unit may have or what ends the maker's block: z all zeros, o all ones,
    // m multicast, b the block's last address.
    QTest::addColumn<QString>("kinds");

    QTest::newRow("unit") << "00-1a-2b-3c-4d-5e" << "00-1a-2b-3c-4d-5e" << "00-1a-2b-3c-4d-5f" << "";
    QTest::newRow("upper case, one digit")
        << "0-1A-2B-3C-4D-F" << "00-1a-2b-3c-4d-0f" << "00-1a-2b-3c-4d-10" << "";
    QTest::newRow("carry into one byte")
        << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4e-00" << "";
    QTest::newRow("carry out of the block")
        << "00-1a-2b-ff-ff-ff" << "00-1a-2b-ff-ff-ff" << "00-1a-2c-00-00-00" << "b";
    QTest::newRow("carry across every byte")
        << "00-ff-ff-ff-ff-ff" << "00-ff-ff-ff-ff-ff" << "01-00-00-00-00-00" << "b";
    QTest::newRow("all zeros") << "00-00-00-00-00-00" << "00-00-00-00-00-00" << "00-00-00-00-00-01" << "z";
    QTest::newRow("all ones wraps")
        << "ff-ff-ff-ff-ff-ff" << "ff-ff-ff-ff-ff-ff" << "00-00-00-00-00-00" << "omb";
    QTest::newRow("multicast") << "01-00-5e-00-00-fb" << "01-00-5e-00-00-fb" << "01-00-5e-00-00-fc" << "m";
    QTest::newRow("locally administered")
        << "02-00-00-00-00-01" << "02-00-00-00-00-01" << "02-00-00-00-00-02" << "";
    QTest::newRow("five bytes") << "00-1a-2b-3c-4d" << "" << "" << "";
    QTest::newRow("seven bytes") << "00-1a-2b-3c-4d-5e-6f" << "" << "" << "";
    QTest::newRow("byte past ff") << "00-1a-2b-3c-4d-100" << "" << "" << "";
    QTest::newRow("colons") << "00:1a:2b:3c:4d:5e" << "" << "" << "";
    QTest::newRow("empty byte") << "00-1a--3c-4d-5e" << "" << "" << "";
    QTest::newRow("empty") << "" << "" << "" << "";
}

void TestProfileKeys::macAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    QFETCH(QString, next);
    QFETCH(QString, kinds);

    const std::optional<MacAddress> mac = MacAddress::parse(text);
    QCOMPARE(mac.has_value(), !parsed.isEmpty());
    if (!mac)
        return;
    QCOMPARE(mac->text(), parsed);
    QCOMPARE(mac->next().text(), next);

    quint8 bytes[MacAddress::Size];
    mac->toBytes(bytes);
    QCOMPARE(MacAddress::fromBytes(bytes), *mac);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes), MacAddress::Size).toHex('-'),
             parsed.toLatin1());

    QString found;
    if (mac->isAllZeros())
        found += QLatin1Char('z');
    if (mac->isAllOnes())
        found += QLatin1Char('o');
    if (mac->isMulticast())
        found += QLatin1Char('m');
    if (mac->endsBlock())
        found += QLatin1Char('b');
    QCOMPARE(found, kinds);
    QVERIFY(*mac < mac->next() || mac->isAllOnes());
}

TALLY_TEST_MAIN(TestProfileKeys)
#include "tst_profilekeys.moc"
