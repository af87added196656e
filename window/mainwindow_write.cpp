#include "mainwindow.h"
#include "mainwindowform.h"
#include "macaddress.h"
#include "settingsfile.h"
#include "unitsession.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSettings>

// After a unit has taken its MAC, the form (and the settings file, so it survives a restart)
// moves on to the next address for the next unit of the series.
void MainWindow::incrementMac()
{
    if (form->incrementMacCheckBox->checkState() == Qt::Unchecked)
        return;

    if (const std::optional<MacAddress> mac = MacAddress::parse(form->EthMACEdit->text()))
        form->EthMACEdit->setText(mac->next().text());
    settings->setValue(QLatin1String(ProfileKey::EthMAC), form->EthMACEdit->text());
    syncSettings(*settings);
}

// Every value is checked before the channel is opened, so a typing error never leaves the unit
// half written. The writes then go out in order over one connection and stop at the first one
// the unit does not confirm; what was written before it stays written.
void MainWindow::writeGroups(const QList<WriteGroup> &groups)
{
    WriteRecords records;
    Rejection rejection;
    if (!encodeGroups(formProfile(), groups, records, rejection)) {
        showError(rejection.message);
        QWidget *field = fieldFor(rejection.key);
        field->setFocus(Qt::OtherFocusReason);
        bringIntoView(field);
        endExchange();
        return;
    }

    beginExchange();
    if (openSelectedChannel()) {
        // Only a MAC the unit has confirmed may move the form on to the next one.
        const QString failure = sendGroups(link, groups, records, [this](WriteGroup group) {
            if (group == WriteGroup::Mac)
                incrementMac();
        });
        if (failure.isEmpty()) {
            QGuiApplication::restoreOverrideCursor();
            showMessage(writeDoneMessage());
        } else {
            showError(failure);
        }
    }
    endExchange();
}

void MainWindow::WriteData()
{
    writeGroups(writeAllOrder());
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
