#include "qserialportinfo.h"

#include <qt_windows.h>

#include <vector>

namespace {

const wchar_t SerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const QString DevicePrefix = QStringLiteral("\\\\.\\");
const QString SlashDevicePrefix = QStringLiteral("//./");

} // namespace

QSerialPortInfo::QSerialPortInfo(const QString &portName)
{
    for (const QSerialPortInfo &port : availablePorts()) {
        if (port.name == portName) {
            *this = port;
            return;
        }
    }
}

QString QSerialPortInfo::locationOf(const QString &portName)
{
    if (portName.isEmpty() || portName.startsWith(DevicePrefix) || portName.startsWith(SlashDevicePrefix))
        return portName;
    return DevicePrefix + portName;
}

QString QSerialPortInfo::nameOf(const QString &location)
{
    if (location.startsWith(DevicePrefix) || location.startsWith(SlashDevicePrefix))
        return location.mid(DevicePrefix.size());
    return location;
}

QList<QSerialPortInfo> QSerialPortInfo::availablePorts()
{
    QList<QSerialPortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        // Each value names a driver's device and holds the port name it goes by (COM3).
        std::vector<wchar_t> valueName(longestName + 1);
        std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
        for (DWORD i = 0; i < values; ++i) {
            DWORD nameLength = DWORD(valueName.size());
            DWORD dataBytes = DWORD(data.size() * sizeof(wchar_t));
            DWORD type = 0;
            const LONG result = RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type,
                                              reinterpret_cast<BYTE *>(data.data()), &dataBytes);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result != ERROR_SUCCESS || type != REG_SZ)
                continue;
            QString portName = QString::fromWCharArray(data.data(), int(dataBytes / sizeof(wchar_t)));
            while (portName.endsWith(QChar(0)))
                portName.chop(1);
            if (portName.isEmpty())
                continue;
            QSerialPortInfo port;
            port.name = portName;
            port.location = locationOf(portName);
            ports.append(port);
        }
    }
    RegCloseKey(key);
    return ports;
}
