#include "mainwindow.h"
#include "mainwindowform.h"

#include <QLineEdit>
#include <QSettings>

// The engineer's defaults in tallyconf.ini: the form as it stands, nothing checked or converted.

namespace {

// Keys 1 to 16 of the file: one line edit each, stored as its text.
struct TextKey {
    const char *key;
    QLineEdit *Ui::MainWindowForm::*edit;
};

const TextKey textKeys[] = {
    {"FullTimeout", &Ui::MainWindowForm::FullTimeoutEdit},
    {"CommandTimeout", &Ui::MainWindowForm::CommandTimeoutEdit},
    {"RetryTimeout", &Ui::MainWindowForm::RetryTimeoutEdit},
    {"ServerToken", &Ui::MainWindowForm::ServerTokenEdit},
    {"IPsrv", &Ui::MainWindowForm::IPsrvEdit},
    {"URLaddr", &Ui::MainWindowForm::URLaddrEdit},
    {"Port", &Ui::MainWindowForm::PortEdit},
    {"APN", &Ui::MainWindowForm::APNEdit},
    {"Login", &Ui::MainWindowForm::LoginEdit},
    {"Password", &Ui::MainWindowForm::PasswordEdit},
    {"BalanceCode", &Ui::MainWindowForm::BalanceCodeEdit},
    {"EthMAC", &Ui::MainWindowForm::EthMACEdit},
    {"EthIP", &Ui::MainWindowForm::EthIPEdit},
    {"EthMask", &Ui::MainWindowForm::EthMaskEdit},
    {"Gateway", &Ui::MainWindowForm::GatewayEdit},
    {"DNSaddr", &Ui::MainWindowForm::DNSaddrEdit},
};

} // namespace

void MainWindow::loadDefault()
{
    // The file may have been edited by hand since it was last looked at; read what it holds now.
    settings->sync();
    clearForm();

    for (const TextKey &entry : textKeys)
        (form->*entry.edit)->setText(settings->value(QLatin1String(entry.key), QString()).toString());

    form->UseDHCPcheckBox->setChecked(settings->value(QStringLiteral("UseDHCP"), false).toBool());
    // Read as an unsigned number from its text, as the file holds it: a stored -1 (nothing was
    // selected) comes back as "GPRS" whether it was saved in this session or in an earlier one;
    // an index past the list leaves the box without a selection.
    form->PriorityComboBox->setCurrentIndex(
        int(settings->value(QStringLiteral("Priority"), 0).toString().toUInt()));
    form->CashDeskIDEdit->setText(settings->value(QStringLiteral("CashDeskID"), QString()).toString());
    form->incrementMacCheckBox->setChecked(settings->value(QStringLiteral("IncrementMac"), false).toBool());
    form->resetComboBox->setCurrentIndex(-1);

    // The channel is stored by position; fewer ports than at saving time leave it unselected.
    int channel = settings->value(QStringLiteral("portNumber"), -1).toInt();
    if (channel < 0 || channel >= form->comboBoxPort->count())
        channel = -1;
    form->comboBoxPort->setCurrentIndex(channel);

    form->deviceAddressEdit->setText(
        settings->value(QStringLiteral("deviceAddress"), QStringLiteral("192.168.0.100")).toString());
}

void MainWindow::saveDefault()
{
    for (const TextKey &entry : textKeys)
        settings->setValue(QLatin1String(entry.key), (form->*entry.edit)->text());
    settings->setValue(QStringLiteral("UseDHCP"), form->UseDHCPcheckBox->isChecked());
    settings->setValue(QStringLiteral("Priority"), form->PriorityComboBox->currentIndex());
    settings->setValue(QStringLiteral("CashDeskID"), form->CashDeskIDEdit->text());
    settings->setValue(QStringLiteral("IncrementMac"), form->incrementMacCheckBox->isChecked());
    settings->setValue(QStringLiteral("portNumber"), form->comboBoxPort->currentIndex());
    settings->setValue(QStringLiteral("deviceAddress"), form->deviceAddressEdit->text());
    settings->sync();
}
