#include "unitsession.h"

#include "devicelink.h"
#include "protocol.h"

#include <iterator>

namespace {

// Each read group in read-all order, with its name on the command line, the window's message
// when it cannot be read, and the write groups whose values it shows.
struct ReadGroupInfo {
    ReadGroup group;
    const char *name;
    const char *failure;
    QList<WriteGroup> shows;
};

const ReadGroupInfo readTable[] = {
    {ReadGroup::Timeouts, "timeouts", "Не удается прочитать значения тайм-аутов", {WriteGroup::Timeouts}},
    {ReadGroup::ServerAddress, "server", "Не удается прочитать адрес сервера",
     {WriteGroup::ServerAddress}},
    {ReadGroup::Ethernet, "ethernet", "Не удается прочитать настройки Ethernet",
     {WriteGroup::Mac, WriteGroup::Ethernet}},
    {ReadGroup::CashDeskState, "cashdesk", "Не удается прочитать состояние ККМ",
     {WriteGroup::CashDeskId, WriteGroup::Token}},
    {ReadGroup::ChannelPriority, "priority", "Не удается прочитать приоритет каналов",
     {WriteGroup::Priority}},
    {ReadGroup::Gprs, "gprs", "Не удается прочитать настройки GPRS", {WriteGroup::Gprs}},
};

const ReadGroupInfo &info(ReadGroup group)
{
    for (const ReadGroupInfo &entry : readTable) {
        if (entry.group == group)
            return entry;
    }
    Q_UNREACHABLE();
    return readTable[0];
}

bool readGroup(DeviceLink &link, ReadGroup group, Profile &profile)
{
    switch (group) {
    case ReadGroup::Timeouts: {
        TimeoutSettings record{};
        if (!link.readTimeouts(record))
            return false;
        putTimeouts(record, profile);
        return true;
    }
    case ReadGroup::ServerAddress: {
        ServerAddress record{};
        if (!link.readServerAddress(record))
            return false;
        putServerAddress(record, profile);
        return true;
    }
    case ReadGroup::Ethernet: {
        EthernetSettings record{};
        if (!link.readEthernetSettings(record))
            return false;
        putEthernetSettings(record, profile);
        return true;
    }
    case ReadGroup::CashDeskState: {
        CashDeskState record{};
        if (!link.readCashDeskState(record))
            return false;
        putCashDeskState(record, profile);
        return true;
    }
    case ReadGroup::ChannelPriority: {
        // A priority the form has no entry for is as unreadable as a broken frame.
        ChannelPriority record{};
        if (!link.readChannelPriority(record) || record.priority > Protocol::MaxPriority)
            return false;
        putChannelPriority(record, profile);
        return true;
    }
    case ReadGroup::Gprs: {
        GprsSettings record{};
        if (!link.readGprsSettings(record))
            return false;
        putGprsSettings(record, profile);
        return true;
    }
    }
    return false;
}

bool sendGroup(DeviceLink &link, WriteGroup group, WriteRecords &records)
{
    switch (group) {
    case WriteGroup::Timeouts:
        return link.writeTimeouts(records.timeouts);
    case WriteGroup::Token:
        return link.writeToken(records.token);
    case WriteGroup::ServerAddress:
        return link.writeServerAddress(records.serverAddress);
    case WriteGroup::Gprs:
        return link.writeGprsSettings(records.gprs);
    case WriteGroup::Ethernet:
        return link.writeEthernetSettings(records.ethernet);
    case WriteGroup::Mac:
        return link.writeMac(records.mac);
    case WriteGroup::Priority:
        return link.writeChannelPriority(records.priority);
    case WriteGroup::CashDeskId:
        return link.writeCashDeskId(records.cashDeskId);
    }
    return false;
}

// The tests with their names on the command line and the window's message when the exchange
// fails.
const struct {
    UnitTest test;
    const char *name;
    const char *failure;
} testTable[] = {
    {UnitTest::UnitStatus, "unit", "Ошибка чтения статуса БМКС"},
    {UnitTest::ModemStatus, "modem", "Ошибка чтения статуса модема"},
    {UnitTest::ServerResponse, "server", "Ошибка тестирования связи с сервером"},
    {UnitTest::SignalLevel, "signal", "Ошибка тестирования уровня сигнала"},
};

const ResetKind resetTable[] = {
    {"full", "Полный", Protocol::ResetFull},
    {"journal", "Журнал", Protocol::ResetJournal},
    {"z-reports", "Z-отчеты", Protocol::ResetZReports},
    {"settings", "Настройки", Protocol::ResetSettings},
    {"first-command", "Первая команда буфера", Protocol::ResetFirstCommand},
    {"all-commands", "Весь буфер команд", Protocol::ResetAllCommands},
};

} // namespace

const QList<ReadGroup> &readAllOrder()
{
    static const QList<ReadGroup> order = [] {
        QList<ReadGroup> groups;
        for (const ReadGroupInfo &entry : readTable)
            groups << entry.group;
        return groups;
    }();
    return order;
}

QString readGroupName(ReadGroup group)
{
    return QLatin1String(info(group).name);
}

QStringList readGroupKeys(ReadGroup group)
{
    QStringList keys;
    for (WriteGroup written : info(group).shows)
        keys += writeGroupKeys(written);
    return keys;
}

ReadGroup readGroupOf(WriteGroup group)
{
    for (const ReadGroupInfo &entry : readTable) {
        if (entry.shows.contains(group))
            return entry.group;
    }
    Q_UNREACHABLE();
    return ReadGroup::Timeouts;
}

QString readGroups(DeviceLink &link, const QList<ReadGroup> &groups, Profile &profile,
                   const std::function<void(ReadGroup)> &arrived)
{
    for (ReadGroup group : groups) {
        if (!readGroup(link, group, profile))
            return QString::fromUtf8(info(group).failure);
        if (arrived)
            arrived(group);
    }
    return QString();
}

QString sendGroups(DeviceLink &link, const QList<WriteGroup> &groups, WriteRecords &records,
                   const std::function<void(WriteGroup)> &confirmed, const GroupPreparation &prepare)
{
    for (WriteGroup group : groups) {
        if (prepare) {
            const QString refusal = prepare(group, records);
            if (!refusal.isEmpty())
                return refusal;
        }
        if (!sendGroup(link, group, records))
            return writeFailureMessage(group);
        if (confirmed)
            confirmed(group);
    }
    return QString();
}

QString portOpenFailureMessage(const QString &port)
{
    return QStringLiteral("Не могу открыть порт ") + port;
}

QString connectFailureMessage(const QString &host)
{
    return QStringLiteral("Не могу установить соединение ") + host;
}

bool runUnitTest(DeviceLink &link, UnitTest test, QString &text, int &value)
{
    text.clear();
    value = -1;
    switch (test) {
    case UnitTest::UnitStatus:
        return link.readUnitStatus(text);
    case UnitTest::ModemStatus:
        return link.readModemStatus(text);
    case UnitTest::ServerResponse:
        if (!link.measureServerResponse(value))
            return false;
        // An exchange that worked but found no server is still a result for the engineer.
        text = QStringLiteral("Время ответа: ")
            + (value >= 0 ? QString::number(value) + QStringLiteral("мс") : QStringLiteral("нет ответа"));
        return true;
    case UnitTest::SignalLevel:
        if (!link.measureSignalLevel(value))
            return false;
        text = QStringLiteral("Уровень сигнала: ")
            + (value >= 0 ? QString::number(value) + QStringLiteral("%") : QStringLiteral("ошибка"));
        return true;
    }
    return false;
}

QString unitTestFailureMessage(UnitTest test)
{
    for (const auto &entry : testTable) {
        if (entry.test == test)
            return QString::fromUtf8(entry.failure);
    }
    return QString();
}

QStringList unitTestNames()
{
    QStringList names;
    for (const auto &entry : testTable)
        names << QLatin1String(entry.name);
    return names;
}

std::optional<UnitTest> findUnitTest(const QString &name)
{
    for (const auto &entry : testTable) {
        if (name == QLatin1String(entry.name))
            return entry.test;
    }
    return std::nullopt;
}

const QList<ResetKind> &resetKinds()
{
    static const QList<ResetKind> list(std::begin(resetTable), std::end(resetTable));
    return list;
}

QStringList resetKindNames()
{
    QStringList names;
    for (const ResetKind &kind : resetTable)
        names << QLatin1String(kind.name);
    return names;
}

const ResetKind *findResetKind(const QString &name)
{
    for (const ResetKind &kind : resetTable) {
        if (name == QLatin1String(kind.name))
            return &kind;
    }
    return nullptr;
}

QString resetDoneMessage()
{
    return QStringLiteral("Сброс выполнен");
}

QString resetFailureMessage()
{
    return QStringLiteral("Не удается выполнить сброс.");
}
