#include "mainwindow.h"
#include "mainwindowform.h"
#include "fieldtext.h"
#include "protocol.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>

// The icon lives in this static library; without a reference the linker drops it.
static void initFormResources()
{
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), form(new MainWindowForm), settings(nullptr)
{
    initFormResources();
    form->setupForm(this);
    // The reset erases the unit's data areas; it stays off the screen, but the slot is kept.
    form->groupBox_reset->setVisible(false);

    settings = new QSettings(QStringLiteral("tallyconf.ini"), QSettings::IniFormat);

    form->PriorityComboBox->addItem(QStringLiteral("GPRS"));
    form->PriorityComboBox->addItem(QStringLiteral("Ethernet"));
    form->PriorityComboBox->addItem(QStringLiteral("GPRS, Ethernet"));
    form->PriorityComboBox->addItem(QStringLiteral("Ethernet, GPRS"));

    form->resetComboBox->addItem(QStringLiteral("Полный"));
    form->resetComboBox->addItem(QStringLiteral("Журнал"));
    form->resetComboBox->addItem(QStringLiteral("Z-отчеты"));
    form->resetComboBox->addItem(QStringLiteral("Настройки"));
    form->resetComboBox->addItem(QStringLiteral("Первая команда буфера"));
    form->resetComboBox->addItem(QStringLiteral("Весь буфер команд"));

    fillPortList();
    loadDefault();
    // The channel stored in the settings may equal the one already selected, and then no change
    // notification comes: line the address row up with the selection once, here.
    onDataChannelChanged(form->comboBoxPort->currentIndex());
}

MainWindow::~MainWindow()
{
    delete form;
    delete settings;
}

void MainWindow::fillPortList()
{
    portList.clear();
    portList = QSerialPortInfo::availablePorts();

    QComboBox *ports = form->comboBoxPort;
    ports->setDuplicatesEnabled(true);
    while (ports->count() > 0)
        ports->removeItem(0);
    for (int i = 0; i < portList.size(); ++i)
        ports->addItem(portList.at(i).portName());
    ports->addItem(QStringLiteral("Ethernet"));

    const std::initializer_list<QPushButton *> actions = {
        form->pushButtonRead, form->pushButtonWrite, form->pushButton,   form->pushButton_2,
        form->pushButton_3,   form->pushButton_4,    form->pushButton_5, form->pushButton_6,
        form->pushButton_7,   form->pushButton_8,    form->pushButton_reset};
    for (QPushButton *button : actions)
        button->setEnabled(true);
}

void MainWindow::onDataChannelChanged(int)
{
    // Only the last entry is the network; the address means nothing to a serial port.
    const bool enabled = form->comboBoxPort->currentIndex() == form->comboBoxPort->count() - 1;
    form->deviceAddressLabel->setEnabled(enabled);
    form->deviceAddressEdit->setEnabled(enabled);
    form->addrLayout->setEnabled(enabled);
}

void MainWindow::showError(const QString &text)
{
    QMessageBox::critical(this, QStringLiteral("Ошибка"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::showMessage(const QString &text)
{
    QMessageBox::information(this, QStringLiteral("Сообщение"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::beginExchange()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    QCoreApplication::processEvents();
}

void MainWindow::endExchange()
{
    link.close();
    QGuiApplication::restoreOverrideCursor();
}

bool MainWindow::openSelectedChannel()
{
    const int index = form->comboBoxPort->currentIndex();
    if (index < 0) {
        showError(QStringLiteral("Не выбран канал связи"));
        return false;
    }
    if (index < portList.size()) {
        const QSerialPortInfo &port = portList.at(index);
        if (link.openSerial(port))
            return true;
        showError(QStringLiteral("Не могу открыть порт ") + port.portName());
        return false;
    }
    const QString host = form->deviceAddressEdit->text();
    if (link.openTcp(host))
        return true;
    showError(QStringLiteral("Не могу установить соединение ") + host);
    return false;
}

void MainWindow::clearForm()
{
    for (QLineEdit *edit : {form->FullTimeoutEdit, form->CommandTimeoutEdit, form->RetryTimeoutEdit,
                            form->ServerTokenEdit, form->IPsrvEdit, form->URLaddrEdit, form->PortEdit,
                            form->APNEdit, form->LoginEdit, form->PasswordEdit, form->BalanceCodeEdit,
                            form->EthMACEdit, form->EthIPEdit, form->EthMaskEdit, form->GatewayEdit,
                            form->DNSaddrEdit})
        edit->setText(QString());
    form->UseDHCPcheckBox->setChecked(false);
    form->PriorityComboBox->setCurrentIndex(-1);
    form->CashDeskIDEdit->setText(QString());
    form->resetComboBox->setCurrentIndex(-1);
}

// Text of a fixed, zero-padded string slot of a record: UTF-8 up to the first NUL, never past the slot.
static QString slotText(const quint8 *slot, int size)
{
    const char *text = reinterpret_cast<const char *>(slot);
    return QString::fromUtf8(text, int(qstrnlen(text, uint(size))));
}

static QString ipText(const quint8 *address)
{
    return bytesToText(address, 4, QLatin1Char('.'), 10);
}

void MainWindow::ReadData()
{
    beginExchange();
    clearForm();
    if (openSelectedChannel()) {
        const QString failure = readAllGroups();
        if (!failure.isEmpty())
            showError(failure);
    }
    endExchange();
}

// Reads the groups in the unit's order and fills each group's fields as soon as it arrives, so a
// failure leaves the groups before it shown and the rest cleared. Returns the message of the
// group that failed, or an empty text.
QString MainWindow::readAllGroups()
{
    TimeoutSettings timeouts{};
    if (!link.readTimeouts(timeouts))
        return QStringLiteral("Не удается прочитать значения тайм-аутов");
    form->FullTimeoutEdit->setText(QString::number(le16(timeouts.fullTimeout)));
    form->CommandTimeoutEdit->setText(QString::number(le16(timeouts.commandTimeout)));
    form->RetryTimeoutEdit->setText(QString::number(le16(timeouts.retryPeriod)));

    ServerAddress server{};
    if (!link.readServerAddress(server))
        return QStringLiteral("Не удается прочитать адрес сервера");
    form->IPsrvEdit->setText(ipText(server.ip));
    // The length byte comes from the unit; the slot ends where the record ends, whatever it says.
    form->URLaddrEdit->setText(slotText(server.url, qMin<int>(server.urlLength, int(sizeof server.url))));
    form->PortEdit->setText(QString::number(le16(server.port)));

    EthernetSettings ethernet{};
    if (!link.readEthernetSettings(ethernet))
        return QStringLiteral("Не удается прочитать настройки Ethernet");
    form->EthMACEdit->setText(bytesToText(ethernet.mac, int(sizeof ethernet.mac), QLatin1Char('-'), 16));
    form->EthIPEdit->setText(ipText(ethernet.ip));
    form->EthMaskEdit->setText(ipText(ethernet.mask));
    form->GatewayEdit->setText(ipText(ethernet.gateway));
    form->UseDHCPcheckBox->setChecked(ethernet.dhcp != 0);
    form->DNSaddrEdit->setText(ipText(ethernet.dns));

    CashDeskState cashDesk{};
    if (!link.readCashDeskState(cashDesk))
        return QStringLiteral("Не удается прочитать состояние ККМ");
    form->CashDeskIDEdit->setText(bcdToText(cashDesk.cashDeskId, int(sizeof cashDesk.cashDeskId)));
    form->ServerTokenEdit->setText(bcdToText(cashDesk.serverToken, int(sizeof cashDesk.serverToken)));

    ChannelPriority priority{};
    if (!link.readChannelPriority(priority) || priority.priority > Protocol::MaxPriority)
        return QStringLiteral("Не удается прочитать приоритет каналов");
    form->PriorityComboBox->setCurrentIndex(priority.priority);

    GprsSettings gprs{};
    if (!link.readGprsSettings(gprs))
        return QStringLiteral("Не удается прочитать настройки GPRS");
    form->APNEdit->setText(slotText(gprs.apn, int(sizeof gprs.apn)));
    form->LoginEdit->setText(slotText(gprs.login, int(sizeof gprs.login)));
    form->PasswordEdit->setText(slotText(gprs.password, int(sizeof gprs.password)));
    form->BalanceCodeEdit->setText(slotText(gprs.balanceCode, int(sizeof gprs.balanceCode)));

    return QString();
}

void MainWindow::reset()
{
    const int kind = form->resetComboBox->currentIndex();
    if (kind < 0) {
        showError(QStringLiteral("Не корректный параметр для сброса"));
        return;
    }
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, QStringLiteral("Вопрос"), QStringLiteral("Вы уверены, что хотите сбросить?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer != QMessageBox::Yes)
        return;

    runService(
        [this, kind](QString &result) {
            result = QStringLiteral("Сброс выполнен");
            return link.resetData(quint8(kind));
        },
        QStringLiteral("Не удается выполнить сброс."));
}

void MainWindow::testBMKS()
{
    runService([this](QString &status) { return link.readUnitStatus(status); },
               QStringLiteral("Ошибка чтения статуса БМКС"));
}

void MainWindow::testModem()
{
    runService([this](QString &status) { return link.readModemStatus(status); },
               QStringLiteral("Ошибка чтения статуса модема"));
}

void MainWindow::testServerConnection()
{
    runService(
        [this](QString &result) {
            int milliseconds = -1;
            if (!link.measureServerResponse(milliseconds))
                return false;
            // An exchange that worked but found no server is still a result for the engineer.
            result = QStringLiteral("\nВремя ответа: ")
                + (milliseconds >= 0 ? QString::number(milliseconds) + QStringLiteral("мс")
                                     : QStringLiteral("нет ответа"));
            return true;
        },
        QStringLiteral("Ошибка тестирования связи с сервером"));
}

void MainWindow::testSignalLevel()
{
    runService(
        [this](QString &result) {
            int percent = -1;
            if (!link.measureSignalLevel(percent))
                return false;
            result = QStringLiteral("Уровень сигнала: ")
                + (percent >= 0 ? QString::number(percent) + QStringLiteral("%") : QStringLiteral("ошибка"));
            return true;
        },
        QStringLiteral("Ошибка тестирования уровня сигнала"));
}

// One service exchange: the operation's result text in a "Сообщение" box once the busy cursor is
// gone, or the failure text in an "Ошибка" box while it is still up.
void MainWindow::runService(const std::function<bool(QString &result)> &operation, const QString &failure)
{
    beginExchange();
    if (openSelectedChannel()) {
        QString result;
        if (operation(result)) {
            QGuiApplication::restoreOverrideCursor();
            showMessage(result);
        } else {
            showError(failure);
        }
    }
    endExchange();
}
