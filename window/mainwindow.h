#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "devicelink.h"

#include <QList>
#include <QMainWindow>
#include <QSerialPortInfo>

#include <functional>
#include <initializer_list>

class MainWindowForm;
class QSettings;
class QWidget;

// The configurator's one window. Every button has one slot; a slot that talks to the unit checks
// its input, opens the chosen channel, runs its commands, closes the channel and tells the
// engineer the outcome in one message box.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

public slots:
    void ReadData();
    void WriteData();
    void WriteTimeouts();
    void WriteToken();
    void WriteServerAddr();
    void WriteEthernetSettingsSet();
    void WriteGPRSSettings();
    void WriteMAC();
    void WriteChannelPriority();
    void WriteCashDeskId();
    void reset();
    void onDataChannelChanged(int);
    void testBMKS();
    void testModem();
    void testServerConnection();
    void testSignalLevel();
    void loadDefault();
    void saveDefault();

private:
    void fillPortList();
    bool openSelectedChannel();
    void clearForm();
    // The window's two kinds of report: "Ошибка" (critical) and "Сообщение" (information), each
    // modal on this window with the single button OK.
    void showError(const QString &text);
    void showMessage(const QString &text);
    // Busy cursor on, and one pass of the event loop so it shows before the window blocks.
    void beginExchange();
    // Link closed and busy cursor off: the end of every operation that talks to the unit.
    void endExchange();
    QString readAllGroups();
    void runService(const std::function<bool(QString &result)> &operation, const QString &failure);

    // Form to record; each shows its own error box and focuses the bad field before it returns false.
    bool timeoutsFromForm(TimeoutSettings &record);
    bool tokenFromForm(TokenRecord &record);
    bool serverAddressFromForm(ServerAddress &record);
    bool gprsSettingsFromForm(GprsSettings &record);
    bool ethernetSettingsFromForm(EthernetSettings &record);
    bool macFromForm(MacRecord &record);
    bool channelPriorityFromForm(ChannelPriority &record);
    bool cashDeskIdFromForm(CashDeskIdRecord &record);
    void incrementMac();

    // Writing helpers (mainwindow_write.cpp). A group button and "Записать всё" run the same
    // sequence; they differ only in which groups they hand it.
    enum class WriteGroup { Timeouts, Token, ServerAddress, Gprs, Ethernet, Mac, Priority, CashDeskId };
    struct PendingRecords;
    void writeGroups(std::initializer_list<WriteGroup> groups);
    bool encodeGroup(WriteGroup group, PendingRecords &records);
    bool sendGroup(WriteGroup group, PendingRecords &records);
    bool reject(QWidget *field, const QString &message);

    MainWindowForm *form;
    QList<QSerialPortInfo> portList;
    QSettings *settings;
    DeviceLink link;
};

#endif // MAINWINDOW_H
