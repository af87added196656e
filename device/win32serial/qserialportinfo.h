#ifndef QSERIALPORTINFO_H
#define QSERIALPORTINFO_H

#include <QList>
#include <QString>
#include <QtGlobal>

// One serial port of this Windows machine as the system lists it: its name (COM3) and the
// location that opens it (\\.\COM3). The Win32 list carries no description, maker, serial
// number or USB identifiers, so those stay empty.
class QSerialPortInfo
{
public:
    QSerialPortInfo() = default;
    // The listed port of this name; an empty one if the system lists none such.
    explicit QSerialPortInfo(const QString &name);

    QString portName() const { return name; }
    QString systemLocation() const { return location; }
    QString description() const { return QString(); }
    QString manufacturer() const { return QString(); }
    QString serialNumber() const { return QString(); }
    bool hasVendorIdentifier() const { return false; }
    bool hasProductIdentifier() const { return false; }
    quint16 vendorIdentifier() const { return 0; }
    quint16 productIdentifier() const { return 0; }

    // The ports in the order the system keeps them (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM).
    static QList<QSerialPortInfo> availablePorts();

    // \\.\ in front of a bare name: the only form in which COM10 and up open.
    static QString locationOf(const QString &portName);
    static QString nameOf(const QString &location);

private:
    QString name;
    QString location;
};

#endif // QSERIALPORTINFO_H
