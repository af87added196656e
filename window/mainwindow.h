#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "devicelink.h"
#include "profile.h"
#include "unitsession.h"
#include "valuerules.h"

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QSerialPortInfo>

#include <functional>

class MainWindowForm;
class QScrollArea;
class QSettings;
class QShowEvent;
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

protected:
    void showEvent(QShowEvent *event) override;
    // The part of the screen the window may take: the available area of the screen it opens on.
    virtual QRect screenRoom() const;

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
    void runTest(UnitTest test);

    // The form's parameter fields as a profile of texts, and back; the value rules work on the
    // profile, the window only moves texts between it and the widgets.
    Profile formProfile() const;
    void showValues(const Profile &values, const QStringList &keys);
    QWidget *fieldFor(const QString &key) const;

    // A screen too small for the whole form (a laptop, large text) gets it in a scroll area,
    // decided once, when the window first opens; a screen that holds it leaves it untouched.
    void fitToScreen(const QRect &room);
    void bringIntoView(QWidget *field);

    // A group button and "Записать всё" run the same sequence (mainwindow_write.cpp); they differ
    // only in which groups they hand it.
    void writeGroups(const QList<WriteGroup> &groups);
    void incrementMac();

    MainWindowForm *form;
    QScrollArea *formScroller = nullptr;
    bool fittedToScreen = false;
    QList<QSerialPortInfo> portList;
    QSettings *settings;
    DeviceLink link;
};

#endif // MAINWINDOW_H
