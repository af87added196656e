#include "devicelink.h"

#include "frame.h"
#include "protocol.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QIODevice>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>

#include <cstring>

DeviceLink::DeviceLink(int boundMs)
    : commandBoundMs(boundMs)
{
}

DeviceLink::AnswerBound::AnswerBound(DeviceLink &owner, int boundMs)
    : link(owner), savedBoundMs(owner.answerBoundMs), savedClock(owner.answerClock)
{
    const qint64 left = link.answerLeftMs();
    if (left < 0 || boundMs < left) {
        link.answerBoundMs = boundMs;
        link.answerClock.start();
    }
}

DeviceLink::AnswerBound::~AnswerBound()
{
    link.answerBoundMs = savedBoundMs;
    link.answerClock = savedClock;
}

qint64 DeviceLink::answerLeftMs() const
{
    return answerBoundMs < 0 ? -1 : qMax<qint64>(0, answerBoundMs - answerClock.elapsed());
}

DeviceLink::~DeviceLink()
{
    close();
}

bool DeviceLink::openSerial(const QSerialPortInfo &port)
{
    return openSerialAt(port.systemLocation());
}

bool DeviceLink::openSerialAt(const QString &systemLocation)
{
    close();
    auto *port = new QSerialPort;
    port->setPortName(systemLocation);
    port->setBaudRate(Protocol::SerialBaudRate, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setParity(QSerialPort::NoParity);
    // Kept even if the open fails: the caller closes the link at the end of every operation.
    device = port;
    const bool opened = port->open(QIODevice::ReadWrite);
    lastOpenError = opened ? QString() : port->errorString();
    return opened;
}

bool DeviceLink::openTcp(const QString &host, quint16 port)
{
    close();
    auto *socket = new QTcpSocket;
    device = socket;
    socket->connectToHost(host, port, QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    const bool connected = socket->waitForConnected(Protocol::ConnectWaitMs);
    lastOpenError = connected ? QString() : socket->errorString();
    if (!connected)
        close();
    return connected;
}

void DeviceLink::close()
{
    flushTrace();
    if (!device)
        return;
    device->close();
    delete device;
    device = nullptr;
}

bool DeviceLink::isOpen() const
{
    return device && device->isOpen();
}

void DeviceLink::attachDevice(QIODevice *openDevice)
{
    close();
    device = openDevice;
}

void DeviceLink::setTrace(LinkTrace *listener)
{
    trace = listener;
}

bool DeviceLink::readBytes(quint8 *destination, int count, int timeoutMs)
{
    return readAwaited(destination, count, timeoutMs, LinkTrace::Awaited::ResponseByte);
}

bool DeviceLink::readAwaited(quint8 *destination, int count, int timeoutMs, LinkTrace::Awaited awaited)
{
    if (count <= 0)
        return true;
    if (!isOpen())
        return false;
    // The time-out bounds each gap, not the whole read: buffered bytes are taken without waiting.
    // A bound on the whole answer cuts the gap to what is left of it.
    for (int i = 0; i < count; ++i) {
        if (device->bytesAvailable() == 0) {
            const qint64 left = answerLeftMs();
            const bool cut = left >= 0 && left < timeoutMs;
            QElapsedTimer waited;
            waited.start();
            if (!device->waitForReadyRead(cut ? int(left) : timeoutMs)) {
                if (trace) {
                    flushTrace();
                    // A wait cut to what was left of the bound ran out with the bound (a
                    // system's timers may wake a tick early: the bound is still the cause).
                    if (cut)
                        trace->waitExpired(LinkTrace::Awaited::WholeAnswer, answerBoundMs,
                                           answerClock.elapsed(), device->errorString());
                    else
                        trace->waitExpired(awaited, timeoutMs, waited.elapsed(), device->errorString());
                }
                return false;
            }
        }
        if (device->read(reinterpret_cast<char *>(destination + i), 1) != 1)
            return false;
        if (trace)
            traceBytes.append(char(destination[i]));
    }
    return true;
}

void DeviceLink::flushTrace()
{
    if (trace && !traceBytes.isEmpty())
        trace->received(traceBytes);
    traceBytes.clear();
}

bool DeviceLink::sendFrame(const quint8 *data, quint8 length, int ackTimeoutMs)
{
    if (!isOpen())
        return false;
    const QByteArray frame =
        Frame::request(QByteArray(reinterpret_cast<const char *>(data), length));
    const char *bytes = frame.constData();
    if (device->write(bytes, 1) != 1 || device->write(bytes + 1, 1) != 1
        || device->write(bytes + 2, length) != length || device->write(bytes + 2 + length, 1) != 1)
        return false;

    // Both channels buffer writes; get the request onto the line before waiting for the answer.
    if (auto *socket = qobject_cast<QAbstractSocket *>(device))
        socket->flush();
    else if (auto *port = qobject_cast<QSerialPort *>(device))
        port->flush();

    flushTrace();
    if (trace)
        trace->sent(frame);

    quint8 ack = 0;
    const bool acknowledged = readAwaited(&ack, 1, ackTimeoutMs, LinkTrace::Awaited::Acknowledgement)
        && ack == Protocol::Ack;
    flushTrace();
    return acknowledged;
}

bool DeviceLink::receiveFrame(QByteArray &out, int firstTimeoutMs)
{
    const bool received = receiveFrameBytes(out, firstTimeoutMs);
    flushTrace();
    return received;
}

bool DeviceLink::receiveFrameBytes(QByteArray &out, int firstTimeoutMs)
{
    quint8 stx = 0;
    if (!readAwaited(&stx, 1, firstTimeoutMs, LinkTrace::Awaited::Response) || stx != Protocol::Stx)
        return false;
    quint8 length = 0;
    if (!readAwaited(&length, 1, Protocol::InterByteWaitMs, LinkTrace::Awaited::ResponseByte))
        return false;
    out.resize(length + 1);
    if (!readAwaited(reinterpret_cast<quint8 *>(out.data()), length + 1, Protocol::InterByteWaitMs,
                     LinkTrace::Awaited::ResponseByte))
        return false;
    const quint8 received = quint8(out.at(length));
    out.truncate(length);
    return Frame::checksum(out) == received;
}

bool DeviceLink::sendRequest(const QByteArray &data, int ackTimeoutMs)
{
    return sendFrame(reinterpret_cast<const quint8 *>(data.constData()), quint8(data.size()),
                     ackTimeoutMs);
}

bool DeviceLink::exchange(const QByteArray &data, int ackTimeoutMs, int firstTimeoutMs,
                          QByteArray &response)
{
    const AnswerBound bound(*this, Protocol::exchangeBoundMs(ackTimeoutMs, firstTimeoutMs));
    return sendRequest(data, ackTimeoutMs) && receiveFrame(response, firstTimeoutMs);
}

bool DeviceLink::readGroupFrame(quint8 group, int firstTimeoutMs, QByteArray &response)
{
    const AnswerBound bound(*this, commandBoundMs);
    return exchange(Frame::readGroupRequest(group), Protocol::AckWaitMs, firstTimeoutMs, response);
}

bool DeviceLink::requestGroup(quint8 group)
{
    return sendRequest(Frame::readGroupRequest(group), Protocol::AckWaitMs);
}

bool DeviceLink::readCashDeskState(CashDeskState &record)
{
    std::memset(&record, 0, sizeof record);
    QByteArray response;
    return readGroupFrame(Protocol::GroupCashDeskState, Protocol::ResponseWaitMs, response)
        && Frame::copyExact(response, record);
}

bool DeviceLink::readTimeouts(TimeoutSettings &record)
{
    QByteArray response;
    return readGroupFrame(Protocol::GroupTimeouts, Protocol::ResponseWaitMs, response)
        && Frame::copyExact(response, record);
}

bool DeviceLink::readServerAddress(ServerAddress &record)
{
    std::memset(&record, 0, sizeof record);
    QByteArray response;
    return readGroupFrame(Protocol::GroupServerAddress, Protocol::ResponseWaitMs, response)
        && Frame::parseServerAddress(response, record);
}

bool DeviceLink::readGprsSettings(GprsSettings &record)
{
    std::memset(&record, 0, sizeof record);
    QByteArray response;
    return readGroupFrame(Protocol::GroupGprsSettings, Protocol::LongResponseWaitMs, response)
        && Frame::parseGprsSettings(response, record);
}

bool DeviceLink::readEthernetSettings(EthernetSettings &record)
{
    std::memset(&record, 0, sizeof record);
    QByteArray response;
    return readGroupFrame(Protocol::GroupEthernetSettings, Protocol::ResponseWaitMs, response)
        && Frame::copyExact(response, record);
}

bool DeviceLink::readChannelPriority(ChannelPriority &record)
{
    QByteArray response;
    return readGroupFrame(Protocol::GroupChannelPriority, Protocol::ResponseWaitMs, response)
        && Frame::copyExact(response, record);
}

bool DeviceLink::writeCommand(const QByteArray &data, int ackTimeoutMs)
{
    const AnswerBound bound(*this, commandBoundMs);
    QByteArray response;
    return exchange(data, ackTimeoutMs, Protocol::ResponseWaitMs, response)
        && Frame::writeConfirmed(response);
}

bool DeviceLink::writeTimeouts(TimeoutSettings &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteTimeouts, record),
                        Protocol::AckWaitMs);
}

bool DeviceLink::writeToken(TokenRecord &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteToken, record),
                        Protocol::AckWaitMs);
}

bool DeviceLink::writeServerAddress(ServerAddress &record)
{
    return writeCommand(Frame::serverAddressWriteRequest(record), Protocol::AckWaitMs);
}

bool DeviceLink::writeGprsSettings(GprsSettings &record)
{
    return writeCommand(Frame::gprsWriteRequest(record), Protocol::GprsAckWaitMs);
}

bool DeviceLink::writeCashDeskId(CashDeskIdRecord &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteCashDeskId, record),
                        Protocol::AckWaitMs);
}

bool DeviceLink::writeEthernetSettings(EthernetSettings &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteEthernetSettings, record,
                                                 EthernetSettingsWriteSize),
                        Protocol::AckWaitMs);
}

bool DeviceLink::writeChannelPriority(ChannelPriority &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteChannelPriority, record),
                        Protocol::AckWaitMs);
}

bool DeviceLink::writeMac(MacRecord &record)
{
    return writeCommand(Frame::fixedWriteRequest(Protocol::CmdWriteMac, record),
                        Protocol::AckWaitMs);
}

bool DeviceLink::resetData(quint8 kind)
{
    QByteArray data;
    data.append(char(Protocol::CmdReset));
    data.append(char(kind));
    const AnswerBound bound(*this, commandBoundMs);
    QByteArray response;
    return exchange(data, Protocol::AckWaitMs, Protocol::ResetResponseWaitMs, response)
        && Frame::resultOk(response);
}

bool DeviceLink::statusDialogue(quint8 opening, QString &text)
{
    text.clear();
    const AnswerBound bound(*this, commandBoundMs);
    // However the dialogue ends, what arrived so far is the answer. A unit that never sends
    // its closing result byte is cut off after MaxStatusParts parts, or when the command's
    // bound runs out, rather than holding the window forever.
    QByteArray request(1, char(opening));
    for (int part = 1; part <= Protocol::MaxStatusParts; ++part) {
        QByteArray response;
        if (!exchange(request, Protocol::AckWaitMs, Protocol::LongResponseWaitMs, response)
            || !Frame::resultOk(response))
            break;
        const QString partText = Frame::statusPartText(response);
        if (!partText.isEmpty()) {
            text += partText;
            text += QLatin1Char('\n');
        }
        request = QByteArray(1, char(Protocol::CmdContinue));
    }
    return !text.isEmpty();
}

bool DeviceLink::readUnitStatus(QString &text)
{
    return statusDialogue(Protocol::CmdUnitStatus, text);
}

bool DeviceLink::readModemStatus(QString &text)
{
    return statusDialogue(Protocol::CmdModemStatus, text);
}

bool DeviceLink::measure(quint8 test, int &value)
{
    value = -1;
    QByteArray data;
    data.append(char(Protocol::CmdTest));
    data.append(char(test));
    const AnswerBound bound(*this, commandBoundMs);
    QByteArray response;
    int measured = -1;
    if (!exchange(data, Protocol::AckWaitMs, Protocol::LongResponseWaitMs, response)
        || !Frame::testValue(response, measured))
        return false;
    value = measured;
    return true;
}

bool DeviceLink::measureServerResponse(int &value)
{
    return measure(Protocol::TestServerResponse, value);
}

bool DeviceLink::measureSignalLevel(int &value)
{
    return measure(Protocol::TestSignalLevel, value);
}
