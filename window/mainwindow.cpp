#include "mainwindow.h"
#include "mainwindowform.h"
#include "unitsession.h"

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

    for (const ResetKind &kind : resetKinds())
        form->resetComboBox->addItem(QString::fromUtf8(kind.title));

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
        showError(portOpenFailureMessage(port.portName()));
        return false;
    }
    const QString host = form->deviceAddressEdit->text();
    if (link.openTcp(host))
        return true;
    showError(connectFailureMessage(host));
    return false;
}

namespace {

// The form's parameter fields by their keys in the profile (and in tallyconf.ini).
struct TextField {
    const char *key;
    QLineEdit *Ui::MainWindowForm::*edit;
};

const TextField textFields[] = {
    {ProfileKey::FullTimeout, &Ui::MainWindowForm::FullTimeoutEdit},
    {ProfileKey::CommandTimeout, &Ui::MainWindowForm::CommandTimeoutEdit},
    {ProfileKey::RetryTimeout, &Ui::MainWindowForm::RetryTimeoutEdit},
    {ProfileKey::ServerToken, &Ui::MainWindowForm::ServerTokenEdit},
    {ProfileKey::IPsrv, &Ui::MainWindowForm::IPsrvEdit},
    {ProfileKey::URLaddr, &Ui::MainWindowForm::URLaddrEdit},
    {ProfileKey::Port, &Ui::MainWindowForm::PortEdit},
    {ProfileKey::APN, &Ui::MainWindowForm::APNEdit},
    {ProfileKey::Login, &Ui::MainWindowForm::LoginEdit},
    {ProfileKey::Password, &Ui::MainWindowForm::PasswordEdit},
    {ProfileKey::BalanceCode, &Ui::MainWindowForm::BalanceCodeEdit},
    {ProfileKey::EthMAC, &Ui::MainWindowForm::EthMACEdit},
    {ProfileKey::EthIP, &Ui::MainWindowForm::EthIPEdit},
    {ProfileKey::EthMask, &Ui::MainWindowForm::EthMaskEdit},
    {ProfileKey::Gateway, &Ui::MainWindowForm::GatewayEdit},
    {ProfileKey::DNSaddr, &Ui::MainWindowForm::DNSaddrEdit},
    {ProfileKey::CashDeskID, &Ui::MainWindowForm::CashDeskIDEdit},
};

const QString useDhcpKey = QLatin1String(ProfileKey::UseDHCP);
const QString priorityKey = QLatin1String(ProfileKey::Priority);

} // namespace

void MainWindow::clearForm()
{
    for (const TextField &field : textFields)
        (form->*field.edit)->setText(QString());
    form->UseDHCPcheckBox->setChecked(false);
    form->PriorityComboBox->setCurrentIndex(-1);
    form->resetComboBox->setCurrentIndex(-1);
}

Profile MainWindow::formProfile() const
{
    Profile values;
    for (const TextField &field : textFields)
        values.setValue(QLatin1String(field.key), (form->*field.edit)->text());
    values.setUseDhcp(form->UseDHCPcheckBox->isChecked());
    values.setPriority(form->PriorityComboBox->currentIndex());
    return values;
}

void MainWindow::showValues(const Profile &values, const QStringList &keys)
{
    for (const QString &key : keys) {
        if (key == useDhcpKey)
            form->UseDHCPcheckBox->setChecked(values.useDhcp());
        else if (key == priorityKey)
            form->PriorityComboBox->setCurrentIndex(values.priority());
        else if (auto *edit = qobject_cast<QLineEdit *>(fieldFor(key)))
            edit->setText(values.value(key));
    }
}

QWidget *MainWindow::fieldFor(const QString &key) const
{
    if (key == useDhcpKey)
        return form->UseDHCPcheckBox;
    if (key == priorityKey)
        return form->PriorityComboBox;
    for (const TextField &field : textFields) {
        if (key == QLatin1String(field.key))
            return form->*field.edit;
    }
    return nullptr;
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

// Fills each group's fields as soon as it arrives, so a failure leaves the groups before it
// shown and the rest cleared. Returns the message of the group that failed, or an empty text.
QString MainWindow::readAllGroups()
{
    Profile values;
    return readGroups(link, readAllOrder(), values,
                      [this, &values](ReadGroup group) { showValues(values, readGroupKeys(group)); });
}

void MainWindow::reset()
{
    const int index = form->resetComboBox->currentIndex();
    if (index < 0) {
        showError(QStringLiteral("Не корректный параметр для сброса"));
        return;
    }
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, QStringLiteral("Вопрос"), QStringLiteral("Вы уверены, что хотите сбросить?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer != QMessageBox::Yes)
        return;

    const quint8 kind = resetKinds().at(index).code;
    runService(
        [this, kind](QString &result) {
            result = resetDoneMessage();
            return link.resetData(kind);
        },
        resetFailureMessage());
}

void MainWindow::testBMKS()
{
    runTest(UnitTest::UnitStatus);
}

void MainWindow::testModem()
{
    runTest(UnitTest::ModemStatus);
}

void MainWindow::testServerConnection()
{
    runTest(UnitTest::ServerResponse);
}

void MainWindow::testSignalLevel()
{
    runTest(UnitTest::SignalLevel);
}

void MainWindow::runTest(UnitTest test)
{
    runService(
        [this, test](QString &result) {
            int value = -1;
            if (!runUnitTest(link, test, result, value))
                return false;
            // The box shows the response time below an empty line.
            if (test == UnitTest::ServerResponse)
                result.prepend(QLatin1Char('\n'));
            return true;
        },
        unitTestFailureMessage(test));
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
