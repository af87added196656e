// The value rules fed any texts a profile file could hold.
#include "fuzzentries.h"

#include "fieldtext.h"
#include "frame.h"
#include "profile.h"
#include "protocol.h"
#include "valuerules.h"

#include <QList>

namespace {

// What a group's write puts on the line: the judge of whether two records say the same thing
// (a string slot may hold bytes past its terminator that never leave).
QByteArray requestData(WriteGroup group, WriteRecords records)
{
    switch (group) {
    case WriteGroup::Timeouts:
        return Frame::fixedWriteRequest(Protocol::CmdWriteTimeouts, records.timeouts);
    case WriteGroup::Token: return Frame::fixedWriteRequest(Protocol::CmdWriteToken, records.token);
    case WriteGroup::ServerAddress: return Frame::serverAddressWriteRequest(records.serverAddress);
    case WriteGroup::Gprs: return Frame::gprsWriteRequest(records.gprs);
    case WriteGroup::Ethernet:
        return Frame::fixedWriteRequest(Protocol::CmdWriteEthernetSettings, records.ethernet,
                                        EthernetSettingsWriteSize);
    case WriteGroup::Mac: return Frame::fixedWriteRequest(Protocol::CmdWriteMac, records.mac);
    case WriteGroup::Priority:
        return Frame::fixedWriteRequest(Protocol::CmdWriteChannelPriority, records.priority);
    case WriteGroup::CashDeskId:
        return Frame::fixedWriteRequest(Protocol::CmdWriteCashDeskId, records.cashDeskId);
    }
    return QByteArray();
}

QString checkRejection(const Profile &profile, const Rejection &rejection)
{
    WriteGroup failing = WriteGroup::Timeouts;
    QList<WriteGroup> before;
    for (WriteGroup group : writeAllOrder()) {
        if (writeGroupKeys(group).contains(rejection.key)) {
            failing = group;
            break;
        }
        before << group;
    }
    if (rejection.message.isEmpty() || before.size() == writeAllOrder().size())
        return QStringLiteral("rejected \"%1\" without a message or a group").arg(rejection.key);
    WriteRecords records;
    Rejection again;
    if (!encodeGroups(profile, before, records, again))
        return QStringLiteral("the groups before %1 are rejected on their own").arg(rejection.key);
    if (encodeGroups(profile, {failing}, records, again) || again.key != rejection.key
        || again.message != rejection.message)
        return QStringLiteral("%1 alone is not rejected the same way").arg(writeGroupName(failing));
    return QString();
}

QString checkNextMac(const QString &mac)
{
    quint8 before[6];
    const bool valid = textToBytes(mac, QLatin1Char('-'), before, 6, 16);
    QString next;
    if (nextMac(mac, next) != valid)
        return QStringLiteral("the MAC rule and the next MAC disagree on \"%1\"").arg(mac);
    if (!valid)
        return QString();
    quint8 after[6];
    if (!textToBytes(next, QLatin1Char('-'), after, 6, 16))
        return QStringLiteral("the MAC after \"%1\" is \"%2\"").arg(mac, next);
    quint64 a = 0;
    quint64 b = 0;
    for (int i = 0; i < 6; ++i) {
        a = a << 8 | before[i];
        b = b << 8 | after[i];
    }
    if (b != ((a + 1) & 0xFFFFFFFFFFFFull))
        return QStringLiteral("the MAC after \"%1\" is \"%2\"").arg(mac, next);
    // Without LastMAC a series hands out unicast addresses only, and never one whose next
    // address leaves the maker's block.
    Rejection rejection;
    const bool handedOut = macPlace(mac, true, false, QString(), rejection) == MacPlace::Inside;
    const bool unitsAddress = a != 0 && a != 0xFFFFFFFFFFFFull && !(before[0] & 1);
    if (handedOut != (unitsAddress && (a >> 24) == (b >> 24)) || handedOut != rejection.message.isEmpty())
        return QStringLiteral("\"%1\" %2").arg(mac, handedOut ? QStringLiteral("is handed out")
                                                               : QStringLiteral("is not handed out"));
    return QString();
}

} // namespace

namespace FuzzEntry {

QString profile(const QByteArray &input)
{
    if (input.isEmpty())
        return QString();
    // First byte: whether the texts came in as UTF-8 or, as Qt 5 reads raw bytes of an INI
    // file, as Latin-1. The rest: the texts in the file's key order, one per line.
    const bool latin1 = quint8(input.at(0)) & 1;
    const QList<QByteArray> lines = input.mid(1).split('\n');
    Profile values;
    for (int i = 0; i < Profile::keys().size() && i < lines.size(); ++i)
        values.setValue(Profile::keys().at(i),
                        latin1 ? QString::fromLatin1(lines.at(i)) : QString::fromUtf8(lines.at(i)));

    const QString macFault = checkNextMac(values.value(QLatin1String(ProfileKey::EthMAC)));
    if (!macFault.isEmpty())
        return macFault;

    WriteRecords records;
    Rejection rejection;
    if (!encodeGroups(values, writeAllOrder(), records, rejection))
        return checkRejection(values, rejection);

    // What was sent, read back as a unit holding it would show it, must be accepted and send
    // the very same bytes: the write rules and the read formatting agree.
    const Profile sent = sentValues(records, writeAllOrder());
    WriteRecords again;
    if (!encodeGroups(sent, writeAllOrder(), again, rejection))
        return QStringLiteral("what was sent reads back as %1 \"%2\", which is rejected")
            .arg(rejection.key, sent.value(rejection.key));
    for (WriteGroup group : writeAllOrder()) {
        if (requestData(group, records) != requestData(group, again))
            return QStringLiteral("%1 sends other bytes once read back").arg(writeGroupName(group));
    }
    return QString();
}

} // namespace FuzzEntry
