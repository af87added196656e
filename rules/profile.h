#ifndef PROFILE_H
#define PROFILE_H

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

class QSettings;

// The names of the profile's keys, as tallyconf.ini spells them: the 19 parameter keys in the
// file's order, then the window's and the command line's own keys a profile may hold.
namespace ProfileKey {
constexpr char FullTimeout[] = "FullTimeout";
constexpr char CommandTimeout[] = "CommandTimeout";
constexpr char RetryTimeout[] = "RetryTimeout";
constexpr char ServerToken[] = "ServerToken";
constexpr char IPsrv[] = "IPsrv";
constexpr char URLaddr[] = "URLaddr";
constexpr char Port[] = "Port";
constexpr char APN[] = "APN";
constexpr char Login[] = "Login";
constexpr char Password[] = "Password";
constexpr char BalanceCode[] = "BalanceCode";
constexpr char EthMAC[] = "EthMAC";
constexpr char EthIP[] = "EthIP";
constexpr char EthMask[] = "EthMask";
constexpr char Gateway[] = "Gateway";
constexpr char DNSaddr[] = "DNSaddr";
constexpr char UseDHCP[] = "UseDHCP";
constexpr char Priority[] = "Priority";
constexpr char CashDeskID[] = "CashDeskID";

constexpr char IncrementMac[] = "IncrementMac";     // the MAC moves on after each unit
constexpr char LastMAC[] = "LastMAC";               // the last MAC a series may give
constexpr char portNumber[] = "portNumber";         // the window's channel
constexpr char portName[] = "portName";
constexpr char deviceAddress[] = "deviceAddress";
} // namespace ProfileKey

// The groups a write sends, each with its own command. Write-all sends them in this order:
// the Ethernet settings go before the MAC, although the form shows the MAC group first.
enum class WriteGroup { Timeouts, Token, ServerAddress, Gprs, Ethernet, Mac, Priority, CashDeskId };

// One set of parameter values as the engineer sees them: the texts of the form's parameter
// fields, keyed by their names in tallyconf.ini. The window fills one from its widgets, the
// command line from a file or from a unit; the value rules turn it into records and back.
//
// UseDHCP holds "true" or "false", Priority the index of the channel priority (0 GPRS,
// 1 Ethernet, 2 GPRS+Ethernet, 3 Ethernet+GPRS; -1 when none is chosen).
class Profile
{
public:
    // The 19 parameter keys, in the settings file's order.
    static const QStringList &keys();
    // The keys a write of the group sends, in the file's order.
    static QStringList keys(WriteGroup group);
    // The group a write of the key goes with (one of the 19 keys).
    static WriteGroup group(const QString &key);

    // The most characters the window's field for this key holds (0: not a text field). A text
    // loaded from a file is cut to it, as the field cuts it.
    static int maxLength(const QString &key);

    // Keys whose values no message, diff or journal line repeats: Password and ServerToken.
    static bool isSecret(const QString &key);

    // The keys whose values must differ from unit to unit of a series, in the keys' order:
    // EthMAC, CashDeskID, and EthIP unless the unit takes its address by DHCP.
    QStringList unitKeys() const;

    QString value(const QString &key) const { return texts.value(key); }
    void setValue(const QString &key, const QString &text) { texts.insert(key, text); }

    // The unit's bytes of a text that are not valid UTF-8, or empty. A read keeps them: the
    // text shows U+FFFD where they stand, and cannot say what the unit holds.
    QByteArray nonUtf8Bytes(const QString &key) const { return unitBytes.value(key); }
    void setNonUtf8Bytes(const QString &key, const QByteArray &bytes) { unitBytes.insert(key, bytes); }

    // The two values that are not texts in the form: stored as "true"/"false" and as the index.
    bool useDhcp() const;
    void setUseDhcp(bool on);
    // The chosen priority index, or -1.
    int priority() const;
    void setPriority(int index);

    // The values as the window shows them after loading this settings file: absent keys empty
    // (UseDHCP false, Priority 0), texts cut to their fields, booleans read as Qt reads them
    // (false for "", "0" and "false"), Priority an unsigned number whose index past the list
    // selects nothing.
    static Profile load(const QSettings &settings);

    // Stores the 19 keys the way the window saves them; every other key stays as it was.
    // Does not flush.
    void store(QSettings &settings) const;

private:
    QHash<QString, QString> texts;
    QHash<QString, QByteArray> unitBytes;
};

// Boolean settings text as Qt's conversion reads it: false for "", "0" and "false" in any case.
bool settingsFlag(const QString &text);

#endif // PROFILE_H
