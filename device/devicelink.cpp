#include "devicelink.h"

#include <QIODevice>
#include <QSerialPortInfo>

// Placeholder bodies: every operation fails until the link is written.
DeviceLink::DeviceLink() = default;
DeviceLink::~DeviceLink() { close(); }
void DeviceLink::close() { delete device; device = nullptr; }
bool DeviceLink::isOpen() const { return device != nullptr; }
void DeviceLink::attachDevice(QIODevice *openDevice) { close(); device = openDevice; }
bool DeviceLink::openSerial(const QSerialPortInfo &/*port*/) { return false; }
bool DeviceLink::openTcp(const QString &/*host*/) { return false; }
bool DeviceLink::readBytes(quint8 */*destination*/, int /*count*/, int /*timeoutMs*/) { return false; }
bool DeviceLink::openSerialAt(const QString &/*systemLocation*/) { return false; }
bool DeviceLink::sendFrame(const quint8 */*data*/, quint8 /*length*/, int /*ackTimeoutMs*/) { return false; }
bool DeviceLink::receiveFrame(QByteArray &/*out*/, int /*firstTimeoutMs*/) { return false; }
bool DeviceLink::requestGroup(quint8 /*group*/) { return false; }
bool DeviceLink::readCashDeskState(CashDeskState &/*record*/) { return false; }
bool DeviceLink::readTimeouts(TimeoutSettings &/*record*/) { return false; }
bool DeviceLink::readServerAddress(ServerAddress &/*record*/) { return false; }
bool DeviceLink::readGprsSettings(GprsSettings &/*record*/) { return false; }
bool DeviceLink::readEthernetSettings(EthernetSettings &/*record*/) { return false; }
bool DeviceLink::readChannelPriority(ChannelPriority &/*record*/) { return false; }
bool DeviceLink::writeTimeouts(TimeoutSettings &/*record*/) { return false; }
bool DeviceLink::writeToken(TokenRecord &/*record*/) { return false; }
bool DeviceLink::writeServerAddress(ServerAddress &/*record*/) { return false; }
bool DeviceLink::writeGprsSettings(GprsSettings &/*record*/) { return false; }
bool DeviceLink::writeCashDeskId(CashDeskIdRecord &/*record*/) { return false; }
bool DeviceLink::writeEthernetSettings(EthernetSettings &/*record*/) { return false; }
bool DeviceLink::writeChannelPriority(ChannelPriority &/*record*/) { return false; }
bool DeviceLink::writeMac(MacRecord &/*record*/) { return false; }
bool DeviceLink::resetData(quint8 /*kind*/) { return false; }
bool DeviceLink::readUnitStatus(QString &/*text*/) { return false; }
bool DeviceLink::readModemStatus(QString &/*text*/) { return false; }
bool DeviceLink::measureServerResponse(int &/*value*/) { return false; }
bool DeviceLink::measureSignalLevel(int &/*value*/) { return false; }
