#ifndef TST_WINDOWSUPPORT_H
#define TST_WINDOWSUPPORT_H

// Shared by the window's tests that talk to the simulated unit.

#include "mainwindow.h"

#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QString>
#include <QStringList>

namespace WindowTest {

// Points the window at the network entry and the given address, as the engineer would.
inline void selectNetwork(MainWindow &window, const QString &address)
{
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
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

// Connections to address:20107 that are still established on our side. Linux shows them in
// /proc/net/tcp; elsewhere the answer is -1 and the caller skips the check.
inline int openConnectionsTo(const QString &address)
{
#ifdef Q_OS_LINUX
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return -1;
    // /proc shows an IPv4 address as one little-endian hex word, then the port in hex.
    QString remote;
    for (int i = 3; i >= 0; --i)
        remote += QStringLiteral("%1").arg(parts.at(i).toUInt(), 2, 16, QLatin1Char('0')).toUpper();
    remote += QStringLiteral(":4E8B");
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // Field 2 is the far end, field 3 the state; 01 is ESTABLISHED.
        if (fields.size() > 3 && QString::fromLatin1(fields.at(2)) == remote && fields.at(3) == "01")
            ++count;
    }
    return count;
#else
    Q_UNUSED(address)
    return -1;
#endif
}

} // namespace WindowTest

#endif // TST_WINDOWSUPPORT_H
