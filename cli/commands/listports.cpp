#include "commands.h"

#include "console.h"
#include "unitcontext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

int listPortsCommand(UnitContext &context)
{
    const bool json = context.invocation.json;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QJsonArray list;
    for (const QSerialPortInfo &port : ports) {
        const bool usb = port.hasVendorIdentifier() && port.hasProductIdentifier();
        if (json) {
            QJsonObject entry;
            entry.insert(QStringLiteral("name"), port.portName());
            entry.insert(QStringLiteral("location"), port.systemLocation());
            entry.insert(QStringLiteral("description"), port.description());
            entry.insert(QStringLiteral("manufacturer"), port.manufacturer());
            entry.insert(QStringLiteral("serialNumber"), port.serialNumber());
            entry.insert(QStringLiteral("vendorId"),
                         port.hasVendorIdentifier() ? QJsonValue(port.vendorIdentifier()) : QJsonValue());
            entry.insert(QStringLiteral("productId"),
                         port.hasProductIdentifier() ? QJsonValue(port.productIdentifier()) : QJsonValue());
            list.append(entry);
            continue;
        }
        const QString usbId = usb ? QStringLiteral("%1:%2")
                                        .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                        .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'))
                                  : QString();
        Console::out(QStringList({port.portName(), port.systemLocation(), port.description(),
                                  port.manufacturer(), port.serialNumber(), usbId})
                         .join(QLatin1Char('\t'))
                     + QLatin1Char('\n'));
    }
    if (json)
        Console::out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    return ExitOk;
}
