#include "mainwindow.h"
#include "mainwindowform.h"
#include "profile.h"
#include "settingsfile.h"

#include <QLineEdit>
#include <QSettings>

// The engineer's defaults in tallyconf.ini: the form as it stands, nothing checked or converted.

void MainWindow::loadDefault()
{
    // The file may have been edited by hand since it was last looked at; read what it holds now,
    // in an editor's UTF-8 as well as in the escapes Qt 5 writes.
    settings->sync();
    const SettingsFile file(settings->fileName());
    const QSettings &stored = file.settings();
    clearForm();

    showValues(Profile::load(stored), Profile::keys());
    form->incrementMacCheckBox->setChecked(stored.value(QLatin1String(ProfileKey::IncrementMac), false).toBool());
    form->resetComboBox->setCurrentIndex(-1);

    // The channel is found by its name, so that a port plugged in since ("COM4" before
    // "Ethernet") does not move it; a file without the name, or whose port is gone, gives it by
    // position, and fewer entries than at saving time leave it unselected.
    int channel = -1;
    const QString name = stored.value(QLatin1String(ProfileKey::portName)).toString();
    if (!name.isEmpty())
        channel = form->comboBoxPort->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (channel < 0) {
        channel = stored.value(QLatin1String(ProfileKey::portNumber), -1).toInt();
        if (channel < 0 || channel >= form->comboBoxPort->count())
            channel = -1;
    }
    form->comboBoxPort->setCurrentIndex(channel);

    form->deviceAddressEdit->setText(
        stored.value(QLatin1String(ProfileKey::deviceAddress), QStringLiteral("192.168.0.100")).toString());
}

void MainWindow::saveDefault()
{
    formProfile().store(*settings);
    settings->setValue(QLatin1String(ProfileKey::IncrementMac), form->incrementMacCheckBox->isChecked());
    settings->setValue(QLatin1String(ProfileKey::portNumber), form->comboBoxPort->currentIndex());
    settings->setValue(QLatin1String(ProfileKey::portName), form->comboBoxPort->currentText());
    settings->setValue(QLatin1String(ProfileKey::deviceAddress), form->deviceAddressEdit->text());
    syncSettings(*settings);
}
