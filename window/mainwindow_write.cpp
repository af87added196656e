#include "mainwindow.h"
#include "mainwindowform.h"
#include "fieldtext.h"
#include "protocol.h"

#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSettings>

#include <cstring>

namespace {

// The unit keeps its strings as UTF-8 and its limits count bytes, so a field of 32 Cyrillic
// letters is too long although the line edit let the engineer type it. The record is zeroed
// beforehand, which gives the string its terminator.
bool storeUtf8(const QString &text, quint8 *slot, int maxBytes)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() > maxBytes)
        return false;
    std::memcpy(slot, bytes.constData(), size_t(bytes.size()));
    return true;
}

bool storeAddress(const QLineEdit *edit, quint8 *destination)
{
    return textToBytes(edit->text(), QLatin1Char('.'), destination, 4, 10);
}

// Time-outs and the port are unsigned 16-bit on the unit; the read shows them so, and a value
// written here must read back the same.
bool storeU16(const QLineEdit *edit, quint8 *field)
{
    bool ok = false;
    const quint16 value = edit->text().toUShort(&ok, 10);
    if (!ok)
        return false;
    setLe16(field, value);
    return true;
}

} // namespace

// Everything one write operation sends, filled in the checking phase and sent unchanged.
struct MainWindow::PendingRecords {
    TimeoutSettings timeouts = {};
    TokenRecord token = {};
    ServerAddress serverAddress = {};
    GprsSettings gprs = {};
    EthernetSettings ethernet = {};
    MacRecord mac = {};
    ChannelPriority priority = {};
    CashDeskIdRecord cashDeskId = {};
};

bool MainWindow::reject(QWidget *field, const QString &message)
{
    showError(message);
    field->setFocus(Qt::OtherFocusReason);
    return false;
}

bool MainWindow::timeoutsFromForm(TimeoutSettings &record)
{
    record = {};
    if (!storeU16(form->FullTimeoutEdit, record.fullTimeout))
        return reject(form->FullTimeoutEdit, QStringLiteral("Некорректное значение полного тайм-аута"));
    if (!storeU16(form->CommandTimeoutEdit, record.commandTimeout))
        return reject(form->CommandTimeoutEdit, QStringLiteral("Некорректное значение тайм-аута команды"));
    if (!storeU16(form->RetryTimeoutEdit, record.retryPeriod))
        return reject(form->RetryTimeoutEdit,
                      QStringLiteral("Некорректное значение периода повторной попытки"));
    return true;
}

bool MainWindow::tokenFromForm(TokenRecord &record)
{
    record = {};
    if (!textToBcd(form->ServerTokenEdit->text(), record.token, int(sizeof record.token)))
        return reject(form->ServerTokenEdit, QStringLiteral("Некорректное значение токен"));
    return true;
}

bool MainWindow::serverAddressFromForm(ServerAddress &record)
{
    record = {};
    if (!storeAddress(form->IPsrvEdit, record.ip))
        return reject(form->IPsrvEdit, QStringLiteral("Некорректное значение IP-адреса"));
    if (!storeUtf8(form->URLaddrEdit->text(), record.url, Protocol::MaxUrlBytes))
        return reject(form->URLaddrEdit, QStringLiteral("Слишком длинный URL"));
    if (!storeU16(form->PortEdit, record.port))
        return reject(form->PortEdit, QStringLiteral("Некорректное значение порта сервера"));
    return true;
}

bool MainWindow::gprsSettingsFromForm(GprsSettings &record)
{
    record = {};
    // The APN message begins with a Latin C, unlike the URL one; keep it so.
    if (!storeUtf8(form->APNEdit->text(), record.apn, Protocol::MaxGprsStringBytes))
        return reject(form->APNEdit, QStringLiteral("Cлишком длинный APN"));
    if (!storeUtf8(form->LoginEdit->text(), record.login, Protocol::MaxGprsStringBytes))
        return reject(form->LoginEdit, QStringLiteral("Логин GPRS - слишком длинный"));
    if (!storeUtf8(form->PasswordEdit->text(), record.password, Protocol::MaxGprsStringBytes))
        return reject(form->PasswordEdit, QStringLiteral("Пароль GPRS - слишком длинный"));
    if (!storeUtf8(form->BalanceCodeEdit->text(), record.balanceCode, Protocol::MaxBalanceCodeBytes))
        return reject(form->BalanceCodeEdit, QStringLiteral("USSD баланса - слишком длинный"));
    return true;
}

bool MainWindow::ethernetSettingsFromForm(EthernetSettings &record)
{
    // DHCP on does not excuse the addresses: all four are checked and sent in any case.
    record = {};
    if (!storeAddress(form->EthIPEdit, record.ip))
        return reject(form->EthIPEdit, QStringLiteral("Некорректное значение IP-адреса"));
    if (!storeAddress(form->EthMaskEdit, record.mask))
        return reject(form->EthMaskEdit, QStringLiteral("Некорректное значение маски сети"));
    if (!storeAddress(form->GatewayEdit, record.gateway))
        return reject(form->GatewayEdit, QStringLiteral("Некорректное значение адреса шлюза"));
    record.dhcp = form->UseDHCPcheckBox->isChecked() ? 1 : 0;
    if (!storeAddress(form->DNSaddrEdit, record.dns))
        return reject(form->DNSaddrEdit, QStringLiteral("Некорректное значение DNS"));
    return true;
}

bool MainWindow::macFromForm(MacRecord &record)
{
    record = {};
    if (!textToBytes(form->EthMACEdit->text(), QLatin1Char('-'), record.mac, int(sizeof record.mac), 16))
        return reject(form->EthMACEdit, QStringLiteral("Некорректное значение MAC-адреса"));
    return true;
}

bool MainWindow::channelPriorityFromForm(ChannelPriority &record)
{
    // A failed read-all or a stored index beyond the list leaves the box without a selection;
    // sending that as a byte would give the unit a priority it does not know.
    record = {};
    const int index = form->PriorityComboBox->currentIndex();
    if (index < 0 || index > Protocol::MaxPriority)
        return reject(form->PriorityComboBox, QStringLiteral("Не выбран приоритет каналов"));
    record.priority = quint8(index);
    return true;
}

bool MainWindow::cashDeskIdFromForm(CashDeskIdRecord &record)
{
    record = {};
    if (!textToBcd(form->CashDeskIDEdit->text(), record.cashDeskId, int(sizeof record.cashDeskId)))
        return reject(form->CashDeskIDEdit, QStringLiteral("Некорректное значение ID ККМ"));
    return true;
}

// After a unit has taken its MAC, the form (and the settings file, so it survives a restart)
// moves on to the next address for the next unit of the series.
void MainWindow::incrementMac()
{
    if (form->incrementMacCheckBox->checkState() == Qt::Unchecked)
        return;

    MacRecord record;
    if (macFromForm(record)) {
        int carry = 1;
        for (int i = int(sizeof record.mac) - 1; i >= 0; --i) {
            const int sum = record.mac[i] + carry;
            record.mac[i] = quint8(sum % 256);
            carry = sum / 256;
        }
        form->EthMACEdit->setText(bytesToText(record.mac, int(sizeof record.mac), QLatin1Char('-'), 16));
    }
    settings->setValue(QStringLiteral("EthMAC"), form->EthMACEdit->text());
    settings->sync();
}

bool MainWindow::encodeGroup(WriteGroup group, PendingRecords &records)
{
    switch (group) {
    case WriteGroup::Timeouts:
        return timeoutsFromForm(records.timeouts);
    case WriteGroup::Token:
        return tokenFromForm(records.token);
    case WriteGroup::ServerAddress:
        return serverAddressFromForm(records.serverAddress);
    case WriteGroup::Gprs:
        return gprsSettingsFromForm(records.gprs);
    case WriteGroup::Ethernet:
        return ethernetSettingsFromForm(records.ethernet);
    case WriteGroup::Mac:
        return macFromForm(records.mac);
    case WriteGroup::Priority:
        return channelPriorityFromForm(records.priority);
    case WriteGroup::CashDeskId:
        return cashDeskIdFromForm(records.cashDeskId);
    }
    return false;
}

// Sends one group over the open link; on failure shows that group's message and returns false.
bool MainWindow::sendGroup(WriteGroup group, PendingRecords &records)
{
    bool written = false;
    QString failure;
    switch (group) {
    case WriteGroup::Timeouts:
        written = link.writeTimeouts(records.timeouts);
        failure = QStringLiteral("Не удается записать значения тайм-аутов");
        break;
    case WriteGroup::Token:
        written = link.writeToken(records.token);
        failure = QStringLiteral("Не удается записать токен");
        break;
    case WriteGroup::ServerAddress:
        written = link.writeServerAddress(records.serverAddress);
        failure = QStringLiteral("Не удается записать адрес сервера");
        break;
    case WriteGroup::Gprs:
        written = link.writeGprsSettings(records.gprs);
        failure = QStringLiteral("Не удается записать настройки GPRS");
        break;
    case WriteGroup::Ethernet:
        written = link.writeEthernetSettings(records.ethernet);
        failure = QStringLiteral("Не удается записать настройки Ethernet");
        break;
    case WriteGroup::Mac:
        written = link.writeMac(records.mac);
        failure = QStringLiteral("Не удается записать MAC-адрес");
        // Only a MAC the unit has confirmed may move the form on to the next one.
        if (written)
            incrementMac();
        break;
    case WriteGroup::Priority:
        written = link.writeChannelPriority(records.priority);
        failure = QStringLiteral("Не удается записать приоритет каналов");
        break;
    case WriteGroup::CashDeskId:
        written = link.writeCashDeskId(records.cashDeskId);
        failure = QStringLiteral("Не удается записать ID ККМ");
        break;
    }
    if (!written)
        showError(failure);
    return written;
}

// Every value is checked before the channel is opened, so a typing error never leaves the unit
// half written. The writes then go out in order over one connection and stop at the first one
// the unit does not confirm; what was written before it stays written.
void MainWindow::writeGroups(std::initializer_list<WriteGroup> groups)
{
    PendingRecords records;
    for (WriteGroup group : groups) {
        if (!encodeGroup(group, records)) {
            endExchange();
            return;
        }
    }

    beginExchange();
    if (openSelectedChannel()) {
        bool allWritten = true;
        for (WriteGroup group : groups) {
            if (!sendGroup(group, records)) {
                allWritten = false;
                break;
            }
        }
        if (allWritten) {
            QGuiApplication::restoreOverrideCursor();
            showMessage(QStringLiteral("Параметры успешно записаны"));
        }
    }
    endExchange();
}

void MainWindow::WriteData()
{
    // Ethernet settings go before the MAC, although the form shows the MAC group first.
    writeGroups({WriteGroup::Timeouts, WriteGroup::Token, WriteGroup::ServerAddress, WriteGroup::Gprs,
                 WriteGroup::Ethernet, WriteGroup::Mac, WriteGroup::Priority, WriteGroup::CashDeskId});
}

void MainWindow::WriteTimeouts()
{
    writeGroups({WriteGroup::Timeouts});
}

void MainWindow::WriteToken()
{
    writeGroups({WriteGroup::Token});
}

void MainWindow::WriteServerAddr()
{
    writeGroups({WriteGroup::ServerAddress});
}

void MainWindow::WriteEthernetSettingsSet()
{
    writeGroups({WriteGroup::Ethernet});
}

void MainWindow::WriteGPRSSettings()
{
    writeGroups({WriteGroup::Gprs});
}

void MainWindow::WriteMAC()
{
    writeGroups({WriteGroup::Mac});
}

void MainWindow::WriteChannelPriority()
{
    writeGroups({WriteGroup::Priority});
}

void MainWindow::WriteCashDeskId()
{
    writeGroups({WriteGroup::CashDeskId});
}
