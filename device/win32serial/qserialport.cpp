#include "qserialport.h"

#include "qserialportinfo.h"

#include <qt_windows.h>

#include <cstring>

namespace {

// What one wait takes from the driver at most beyond its first byte; the unit's longest frame
// is 258 bytes.
constexpr DWORD ReadChunkBytes = 4096;
// A write gives up when the driver has not sent it by then: ten times what 9600 baud needs for
// the bytes, plus a second.
constexpr DWORD WriteWaitMsPerByte = 10;
constexpr DWORD WriteWaitMs = 1000;

HANDLE portHandle(void *handle)
{
    return handle ? static_cast<HANDLE>(handle) : INVALID_HANDLE_VALUE;
}

} // namespace

QSerialPort::QSerialPort(QObject *parent)
    : QIODevice(parent)
{
}

QSerialPort::QSerialPort(const QSerialPortInfo &port, QObject *parent)
    : QIODevice(parent)
{
    setPortName(port.systemLocation());
}

QSerialPort::~QSerialPort()
{
    close();
}

void QSerialPort::setPortName(const QString &name)
{
    location = QSerialPortInfo::locationOf(name);
}

QString QSerialPort::portName() const
{
    return QSerialPortInfo::nameOf(location);
}

bool QSerialPort::setBaudRate(qint32 baudRate, Directions)
{
    baud = baudRate;
    return !isOpen() || applyLineSettings();
}

bool QSerialPort::open(OpenMode mode)
{
    if (isOpen()) {
        setError(OpenError, QStringLiteral("The port is already open"));
        return false;
    }
    DWORD access = 0;
    if (mode & ReadOnly)
        access |= GENERIC_READ;
    if (mode & WriteOnly)
        access |= GENERIC_WRITE;
    // No sharing: a port belongs to one program at a time, as everywhere on Windows.
    const HANDLE opened = CreateFileW(reinterpret_cast<const wchar_t *>(location.utf16()), access, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        setSystemError(code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                               ? DeviceNotFoundError
                           : code == ERROR_ACCESS_DENIED ? PermissionError
                                                         : OpenError);
        return false;
    }
    handle = opened;
    readWaitSet = false;
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;    // until the first wait: reads return at once
    timeouts.WriteTotalTimeoutMultiplier = WriteWaitMsPerByte;
    timeouts.WriteTotalTimeoutConstant = WriteWaitMs;
    if (!applyLineSettings() || !SetCommTimeouts(opened, &timeouts)) {
        if (lastError == NoError)
            setSystemError(OpenError);
        CloseHandle(opened);
        handle = nullptr;
        return false;
    }
    // Line errors a previous program left pending would hold up the first transfer.
    DWORD errors = 0;
    ClearCommError(opened, &errors, nullptr);
    received.clear();
    lastError = NoError;
    return QIODevice::open(mode | Unbuffered);
}

void QSerialPort::close()
{
    if (handle) {
        CloseHandle(portHandle(handle));
        handle = nullptr;
    }
    received.clear();
    if (isOpen())
        QIODevice::close();
}

bool QSerialPort::applyLineSettings()
{
    DCB line = {};
    line.DCBlength = sizeof line;
    if (!GetCommState(portHandle(handle), &line)) {
        setSystemError(UnknownError);
        return false;
    }
    line.BaudRate = DWORD(baud);
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    // No flow control of either kind; DTR and RTS held up, as a Linux port raises them on open.
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDsrSensitivity = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fAbortOnError = FALSE;
    if (!SetCommState(portHandle(handle), &line)) {
        setSystemError(UnknownError);
        return false;
    }
    return true;
}

bool QSerialPort::setReadWait(int msecs)
{
    if (readWaitSet && msecs == readWaitMs)
        return true;
    COMMTIMEOUTS timeouts = {};
    if (!GetCommTimeouts(portHandle(handle), &timeouts)) {
        setSystemError(UnknownError);
        return false;
    }
    // A total time-out alone: a read returns once it has all it asked for or msecs have passed.
    // No wait at all is an interval time-out of MAXDWORD; all zero means no time-out.
    timeouts.ReadIntervalTimeout = msecs == 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = msecs > 0 ? DWORD(msecs) : 0;
    if (!SetCommTimeouts(portHandle(handle), &timeouts)) {
        setSystemError(UnknownError);
        return false;
    }
    readWaitMs = msecs;
    readWaitSet = true;
    return true;
}

qint64 QSerialPort::bytesAvailable() const
{
    return received.size() + QIODevice::bytesAvailable();
}

bool QSerialPort::waitForReadyRead(int msecs)
{
    if (!isOpen()) {
        setError(NotOpenError, QStringLiteral("The port is not open"));
        return false;
    }
    if (!setReadWait(msecs))
        return false;
    // One byte is what is waited for; Windows' "return as soon as anything is there" setting
    // (interval and multiplier MAXDWORD) is not honoured by every driver, Wine's among them.
    char first = 0;
    DWORD got = 0;
    if (!ReadFile(portHandle(handle), &first, 1, &got, nullptr)) {
        readFailed();
        return false;
    }
    if (got == 0) {
        setError(TimeoutError, QStringLiteral("Operation timed out"));
        return false;
    }
    received.append(first);
    // What came with it is taken too, without waiting: it is all in the driver already.
    DWORD errors = 0;
    COMSTAT status = {};
    if (ClearCommError(portHandle(handle), &errors, &status) && status.cbInQue > 0) {
        char buffer[ReadChunkBytes];
        if (ReadFile(portHandle(handle), buffer, qMin(status.cbInQue, ReadChunkBytes), &got, nullptr))
            received.append(buffer, int(got));
    }
    emit readyRead();
    return true;
}

void QSerialPort::readFailed()
{
    setSystemError(ReadError);
    DWORD errors = 0;
    ClearCommError(portHandle(handle), &errors, nullptr);
}

bool QSerialPort::flush()
{
    return isOpen();
}

qint64 QSerialPort::readData(char *data, qint64 maxSize)
{
    const int count = int(qMin<qint64>(maxSize, received.size()));
    if (count > 0) {
        std::memcpy(data, received.constData(), size_t(count));
        received.remove(0, count);
    }
    return count;
}

qint64 QSerialPort::writeData(const char *data, qint64 maxSize)
{
    DWORD written = 0;
    if (!WriteFile(portHandle(handle), data, DWORD(maxSize), &written, nullptr)) {
        setSystemError(WriteError);
        return -1;
    }
    if (qint64(written) < maxSize)
        setError(TimeoutError, QStringLiteral("Operation timed out"));
    return written;
}

void QSerialPort::setSystemError(SerialPortError kind)
{
    setError(kind, qt_error_string(int(GetLastError())));
}

void QSerialPort::setError(SerialPortError kind, const QString &text)
{
    lastError = kind;
    setErrorString(text);
}
