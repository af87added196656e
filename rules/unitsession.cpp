#include "unitsession.h"

#include "devicelink.h"
#include "protocol.h"

namespace {

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

QString readFailureMessage(ReadGroup group)
{
    switch (group) {
    case ReadGroup::Timeouts:
        return QStringLiteral("Не удается прочитать значения тайм-аутов");
    case ReadGroup::ServerAddress:
        return QStringLiteral("Не удается прочитать адрес сервера");
    case ReadGroup::Ethernet:
        return QStringLiteral("Не удается прочитать настройки Ethernet");
    case ReadGroup::CashDeskState:
        return QStringLiteral("Не удается прочитать состояние ККМ");
    case ReadGroup::ChannelPriority:
        return QStringLiteral("Не удается прочитать приоритет каналов");
    case ReadGroup::Gprs:
        return QStringLiteral("Не удается прочитать настройки GPRS");
    }
    return QString();
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

} // namespace

const QList<ReadGroup> &readAllOrder()
{
    static const QList<ReadGroup> order = {ReadGroup::Timeouts,      ReadGroup::ServerAddress,
                                           ReadGroup::Ethernet,      ReadGroup::CashDeskState,
                                           ReadGroup::ChannelPriority, ReadGroup::Gprs};
    return order;
}

QString readGroupName(ReadGroup group)
{
    switch (group) {
    case ReadGroup::Timeouts:
        return QStringLiteral("timeouts");
    case ReadGroup::ServerAddress:
        return QStringLiteral("server");
    case ReadGroup::Ethernet:
        return QStringLiteral("ethernet");
    case ReadGroup::CashDeskState:
        return QStringLiteral("cashdesk");
    case ReadGroup::ChannelPriority:
        return QStringLiteral("priority");
    case ReadGroup::Gprs:
        return QStringLiteral("gprs");
    }
    return QString();
}

QStringList readGroupKeys(ReadGroup group)
{
    switch (group) {
    case ReadGroup::Timeouts:
        return writeGroupKeys(WriteGroup::Timeouts);
    case ReadGroup::ServerAddress:
        return writeGroupKeys(WriteGroup::ServerAddress);
    case ReadGroup::Ethernet:
        return writeGroupKeys(WriteGroup::Mac) + writeGroupKeys(WriteGroup::Ethernet);
    case ReadGroup::CashDeskState:
        return writeGroupKeys(WriteGroup::CashDeskId) + writeGroupKeys(WriteGroup::Token);
    case ReadGroup::ChannelPriority:
        return writeGroupKeys(WriteGroup::Priority);
    case ReadGroup::Gprs:
        return writeGroupKeys(WriteGroup::Gprs);
    }
    return QStringList();
}

ReadGroup readGroupOf(WriteGroup group)
{
    switch (group) {
    case WriteGroup::Timeouts:
        return ReadGroup::Timeouts;
    case WriteGroup::Token:
    case WriteGroup::CashDeskId:
        return ReadGroup::CashDeskState;
    case WriteGroup::ServerAddress:
        return ReadGroup::ServerAddress;
    case WriteGroup::Gprs:
        return ReadGroup::Gprs;
    case WriteGroup::Ethernet:
    case WriteGroup::Mac:
        return ReadGroup::Ethernet;
    case WriteGroup::Priority:
        return ReadGroup::ChannelPriority;
    }
    return ReadGroup::Timeouts;
}

QString readGroups(DeviceLink &link, const QList<ReadGroup> &groups, Profile &profile,
                   const std::function<void(ReadGroup)> &arrived)
{
    for (ReadGroup group : groups) {
        if (!readGroup(link, group, profile))
            return readFailureMessage(group);
        if (arrived)
            arrived(group);
    }
    return QString();
}

QString sendGroups(DeviceLink &link, const QList<WriteGroup> &groups, WriteRecords &records,
                   const std::function<void(WriteGroup)> &confirmed)
{
    for (WriteGroup group : groups) {
        if (!sendGroup(link, group, records))
            return writeFailureMessage(group);
        if (confirmed)
            confirmed(group);
    }
    return QString();
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
    switch (test) {
    case UnitTest::UnitStatus:
        return QStringLiteral("Ошибка чтения статуса БМКС");
    case UnitTest::ModemStatus:
        return QStringLiteral("Ошибка чтения статуса модема");
    case UnitTest::ServerResponse:
        return QStringLiteral("Ошибка тестирования связи с сервером");
    case UnitTest::SignalLevel:
        return QStringLiteral("Ошибка тестирования уровня сигнала");
    }
    return QString();
}

QString resetDoneMessage()
{
    return QStringLiteral("Сброс выполнен");
}

QString resetFailureMessage()
{
    return QStringLiteral("Не удается выполнить сброс.");
}
