#include "mainwindow.h"
#include "mainwindowform.h"

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
    for (const QSerialPortInfo &port : qAsConst(portList))
        ports->addItem(port.portName());
    ports->addItem(QStringLiteral("Ethernet"));

    for (QWidget *button : {static_cast<QWidget *>(form->pushButtonRead), static_cast<QWidget *>(form->pushButtonWrite),
                            static_cast<QWidget *>(form->pushButton), static_cast<QWidget *>(form->pushButton_2),
                            static_cast<QWidget *>(form->pushButton_3), static_cast<QWidget *>(form->pushButton_4),
                            static_cast<QWidget *>(form->pushButton_5), static_cast<QWidget *>(form->pushButton_6),
                            static_cast<QWidget *>(form->pushButton_7), static_cast<QWidget *>(form->pushButton_8),
                            static_cast<QWidget *>(form->pushButton_reset)})
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

void MainWindow::ReadData() {}
void MainWindow::reset() {}
void MainWindow::testBMKS() {}
void MainWindow::testModem() {}
void MainWindow::testServerConnection() {}
void MainWindow::testSignalLevel() {}
