#include "mainwindow.h"
#include "mainwindowform.h"

#include <QSettings>

// The engineer's defaults in tallyconf.ini: the form as it stands, nothing checked or converted.

void MainWindow::loadDefault()
{
    // The file may have been edited by hand since it was last looked at; read what it holds now.
    settings->sync();
    clearForm();

    const QString none;
    form->FullTimeoutEdit->setText(settings->value(QStringLiteral("FullTimeout"), none).toString());
    form->CommandTimeoutEdit->setText(settings->value(QStringLiteral("CommandTimeout"), none).toString());
    form->RetryTimeoutEdit->setText(settings->value(QStringLiteral("RetryTimeout"), none).toString());
    form->ServerTokenEdit->setText(settings->value(QStringLiteral("ServerToken"), none).toString());
    form->IPsrvEdit->setText(settings->value(QStringLiteral("IPsrv"), none).toString());
    form->URLaddrEdit->setText(settings->value(QStringLiteral("URLaddr"), none).toString());
    form->PortEdit->setText(settings->value(QStringLiteral("Port"), none).toString());
    form->APNEdit->setText(settings->value(QStringLiteral("APN"), none).toString());
    form->LoginEdit->setText(settings->value(QStringLiteral("Login"), none).toString());
    form->PasswordEdit->setText(settings->value(QStringLiteral("Password"), none).toString());
    form->BalanceCodeEdit->setText(settings->value(QStringLiteral("BalanceCode"), none).toString());
    form->EthMACEdit->setText(settings->value(QStringLiteral("EthMAC"), none).toString());
    form->EthIPEdit->setText(settings->value(QStringLiteral("EthIP"), none).toString());
    form->EthMaskEdit->setText(settings->value(QStringLiteral("EthMask"), none).toString());
    form->GatewayEdit->setText(settings->value(QStringLiteral("Gateway"), none).toString());
    form->DNSaddrEdit->setText(settings->value(QStringLiteral("DNSaddr"), none).toString());

    form->UseDHCPcheckBox->setChecked(settings->value(QStringLiteral("UseDHCP"), false).toBool());
    // Read as an unsigned number from its text, as the file holds it: a stored -1 (nothing was
    // selected) comes back as "GPRS" whether it was saved in this session or in an earlier one;
    // an index past the list leaves the box without a selection.
    form->PriorityComboBox->setCurrentIndex(
        int(settings->value(QStringLiteral("Priority"), 0).toString().toUInt()));
    form->CashDeskIDEdit->setText(settings->value(QStringLiteral("CashDeskID"), none).toString());
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
    settings->setValue(QStringLiteral("FullTimeout"), form->FullTimeoutEdit->text());
    settings->setValue(QStringLiteral("CommandTimeout"), form->CommandTimeoutEdit->text());
    settings->setValue(QStringLiteral("RetryTimeout"), form->RetryTimeoutEdit->text());
    settings->setValue(QStringLiteral("ServerToken"), form->ServerTokenEdit->text());
    settings->setValue(QStringLiteral("IPsrv"), form->IPsrvEdit->text());
    settings->setValue(QStringLiteral("URLaddr"), form->URLaddrEdit->text());
    settings->setValue(QStringLiteral("Port"), form->PortEdit->text());
    settings->setValue(QStringLiteral("APN"), form->APNEdit->text());
    settings->setValue(QStringLiteral("Login"), form->LoginEdit->text());
    settings->setValue(QStringLiteral("Password"), form->PasswordEdit->text());
    settings->setValue(QStringLiteral("BalanceCode"), form->BalanceCodeEdit->text());
    settings->setValue(QStringLiteral("EthMAC"), form->EthMACEdit->text());
    settings->setValue(QStringLiteral("EthIP"), form->EthIPEdit->text());
    settings->setValue(QStringLiteral("EthMask"), form->EthMaskEdit->text());
    settings->setValue(QStringLiteral("Gateway"), form->GatewayEdit->text());
    settings->setValue(QStringLiteral("DNSaddr"), form->DNSaddrEdit->text());
    settings->setValue(QStringLiteral("UseDHCP"), form->UseDHCPcheckBox->isChecked());
    settings->setValue(QStringLiteral("Priority"), form->PriorityComboBox->currentIndex());
    settings->setValue(QStringLiteral("CashDeskID"), form->CashDeskIDEdit->text());
    settings->setValue(QStringLiteral("IncrementMac"), form->incrementMacCheckBox->isChecked());
    settings->setValue(QStringLiteral("portNumber"), form->comboBoxPort->currentIndex());
    settings->setValue(QStringLiteral("deviceAddress"), form->deviceAddressEdit->text());
    settings->sync();
}
