#ifndef WINDOWTESTING_H
#define WINDOWTESTING_H

// Shared by the window's tests that talk to the simulated unit: pointing the window at it, hex
// literals, and whether the window left a connection open.

#include "mainwindow.h"

#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QString>
#include <QSet>
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

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

inline QStringList hexList(const QList<QByteArray> &frames)
{
    QStringList result;
    for (const QByteArray &frame : frames)
        result << QString::fromLatin1(frame.toHex(' '));
    return result;
}

// This process's TCP connections to address:20107, as their local ends; with establishedOnly
// false, closed ones still waiting out TIME_WAIT count too, so a before/after difference tells
// how many connections an operation made. Linux only: the kernel's own table answers without
// touching the window's internals; elsewhere the set is empty.
inline QSet<QString> connectionsTo(const QString &address, bool establishedOnly)
{
    QSet<QString> result;
#ifdef Q_OS_LINUX
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return result;
    // /proc/net/tcp writes an IPv4 address as one little-endian 32-bit hex number.
    const QStringList octets = address.split(QLatin1Char('.'));
    QString remote;
    for (int i = octets.size() - 1; i >= 0; --i)
        remote += QStringLiteral("%1").arg(octets.at(i).toUInt(), 2, 16, QLatin1Char('0')).toUpper();
    remote += QStringLiteral(":4E8B");
    table.readLine();
    while (!table.atEnd()) {
        const QStringList columns = QString::fromLatin1(table.readLine()).simplified().split(QLatin1Char(' '));
        // Columns: slot, local end, remote end, state (01 is ESTABLISHED).
        if (columns.size() > 3 && columns.at(2) == remote
            && (!establishedOnly || columns.at(3) == QLatin1String("01")))
            result.insert(columns.at(1));
    }
#else
    Q_UNUSED(address)
    Q_UNUSED(establishedOnly)
#endif
    return result;
}

inline bool connectedTo(const QString &address)
{
    return !connectionsTo(address, true).isEmpty();
}

// Established connections to address:20107, or -1 where the system does not show them (the
// caller then skips the check).
inline int openConnectionsTo(const QString &address)
{
#ifdef Q_OS_LINUX
    return connectionsTo(address, true).size();
#else
    Q_UNUSED(address)
    return -1;
#endif
}

} // namespace WindowTest

#endif // WINDOWTESTING_H
