#ifndef TST_WRITEFORM_H
#define TST_WRITEFORM_H

// Shared by the write tests: filling the window's form by object name, pointing it at the
// simulator, and looking at what the window left behind.

#include "mainwindow.h"
#include "simulatorfixture.h"
#include "windowtesting.h"

#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QPair>
#include <QPushButton>
#include <QString>
#include <QVariant>
#include <QtTest>

#include <initializer_list>

namespace WriteForm {

using namespace WindowTest;

using Fields = QList<QPair<QString, QVariant>>;

inline QList<QByteArray> frames(std::initializer_list<const char *> texts)
{
    QList<QByteArray> result;
    for (const char *text : texts)
        result << hex(text);
    return result;
}

// A line edit gets the text, a check box the boolean, a combo box the index.
inline void setField(MainWindow &window, const QString &name, const QVariant &value)
{
    if (auto *edit = window.findChild<QLineEdit *>(name))
        edit->setText(value.toString());
    else if (auto *box = window.findChild<QCheckBox *>(name))
        box->setChecked(value.toBool());
    else if (auto *combo = window.findChild<QComboBox *>(name))
        combo->setCurrentIndex(value.toInt());
    else
        QFAIL(qPrintable(QStringLiteral("no field named ") + name));
}

inline void setFields(MainWindow &window, const Fields &fields)
{
    for (const auto &field : fields)
        setField(window, field.first, field.second);
}

inline void click(MainWindow &window, const char *button)
{
    auto *push = window.findChild<QPushButton *>(QLatin1String(button));
    QVERIFY2(push, button);
    push->click();
}

// Every group valid. The frames these values give are spelled out in the tests.
inline Fields validForm()
{
    return {
        {QStringLiteral("FullTimeoutEdit"), QStringLiteral("1000")},
        {QStringLiteral("CommandTimeoutEdit"), QStringLiteral("500")},
        {QStringLiteral("RetryTimeoutEdit"), QStringLiteral("60")},
        {QStringLiteral("ServerTokenEdit"), QStringLiteral("1234567890")},
        {QStringLiteral("IPsrvEdit"), QStringLiteral("192.168.0.1")},
        {QStringLiteral("URLaddrEdit"), QStringLiteral("srv.local")},
        {QStringLiteral("PortEdit"), QStringLiteral("20107")},
        {QStringLiteral("APNEdit"), QStringLiteral("internet")},
        {QStringLiteral("LoginEdit"), QStringLiteral("gdata")},
        {QStringLiteral("PasswordEdit"), QStringLiteral("gdata")},
        {QStringLiteral("BalanceCodeEdit"), QStringLiteral("*100#")},
        {QStringLiteral("EthMACEdit"), QStringLiteral("00-11-22-33-44-55")},
        {QStringLiteral("EthIPEdit"), QStringLiteral("192.168.0.100")},
        {QStringLiteral("EthMaskEdit"), QStringLiteral("255.255.255.0")},
        {QStringLiteral("GatewayEdit"), QStringLiteral("192.168.0.1")},
        {QStringLiteral("DNSaddrEdit"), QStringLiteral("8.8.8.8")},
        {QStringLiteral("UseDHCPcheckBox"), true},
        {QStringLiteral("PriorityComboBox"), 2},
        {QStringLiteral("CashDeskIDEdit"), QStringLiteral("0987654321")},
        {QStringLiteral("incrementMacCheckBox"), false},
    };
}

// The frames validForm() gives, in the order "Записать всё" sends them.
inline QList<QByteArray> validFrames()
{
    return frames({
        "02 07 60 E8 03 F4 01 3C 00 45",
        "02 06 61 90 78 56 34 12 FF",
        "02 11 62 C0 A8 00 01 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C E2",
        "02 1D 63 00 08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30"
        " 30 23 50",
        "02 13 65 00 C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 01 ED",
        "02 07 69 00 11 22 33 44 55 7F",
        "02 02 67 02 67",
        "02 06 64 21 43 65 87 09 EB",
    });
}

// Where each group of validForm() lands in the unit's read blocks, in the order of validFrames().
struct Stored {
    quint8 group;
    int offset;
    QByteArray bytes;
};

inline QList<Stored> validStored()
{
    return {
        {6, 1, hex("E8 03 F4 01 3C 00")},
        {4, 20, hex("90 78 56 34 12")},
        {7, 1, hex("C0 A8 00 01 8B 4E 09 73 72 76 2E 6C 6F 63 61 6C 00")},
        {8, 2, hex("08 69 6E 74 65 72 6E 65 74 05 67 64 61 74 61 05 67 64 61 74 61 05 2A 31 30 30 23")},
        {9, 2, hex("C0 A8 00 64 FF FF FF 00 C0 A8 00 01 08 08 08 08 01")},
        {9, 19, hex("00 11 22 33 44 55")},
        {10, 1, hex("02")},
        {4, 15, hex("21 43 65 87 09")},
    };
}

inline bool holds(const SimulatorFixture &sim, const Stored &stored)
{
    return sim.group(stored.group).mid(stored.offset, stored.bytes.size()) == stored.bytes;
}

// Every group of the simulated unit zeroed, so that whatever reads back afterwards was written.
inline void blankUnit(SimulatorFixture &sim)
{
    sim.setGroup(4, QByteArray(25, '\0'));
    sim.setGroup(6, QByteArray(7, '\0'));
    sim.setGroup(7, QByteArray(137, '\0'));
    sim.setGroup(8, QByteArray(6, '\0'));
    sim.setGroup(9, QByteArray(25, '\0'));
    sim.setGroup(10, QByteArray(2, '\0'));
}

// Shown and active, so that setFocus() on a rejected field takes effect on the offscreen platform.
inline bool showActive(MainWindow &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QApplication::setActiveWindow(&window);
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace WriteForm

#endif // TST_WRITEFORM_H
