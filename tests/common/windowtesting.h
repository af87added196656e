#ifndef WINDOWTESTING_H
#define WINDOWTESTING_H

// Shared by the window's tests that talk to the simulated unit: pointing the window at it, and
// the byte and widget functions they all use. Whether the window left a connection open is asked
// of the simulator (SimulatorFixture::hasClient, connectionCount).

#include "mainwindow.h"
#include "testbytes.h"
#include "widgetlookup.h"

#include <QByteArray>
#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace WindowTest {

// Points the window at the network entry and the given address, as the engineer would.
inline void selectNetwork(MainWindow &window, const QString &address)
{
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
    QVERIFY(ports && ports->count() > 0);
    ports->setCurrentIndex(ports->count() - 1);
    window.findChild<QLineEdit *>(QStringLiteral("deviceAddressEdit"))->setText(address);
}

} // namespace WindowTest

#endif // WINDOWTESTING_H
