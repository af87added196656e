#ifndef QSERIALPORT_H
#define QSERIALPORT_H

#include <QByteArray>
#include <QIODevice>
#include <QString>

class QSerialPortInfo;

// A serial port opened through the Win32 communications API, blocking, with the line settings
// the unit uses (the only ones it offers). Writes go straight to the driver; bytes are taken in
// only by waitForReadyRead(), which waits for the first of them and takes what came with it, as
// Qt's port does without an event loop. A wait of -1 has no limit.
class QSerialPort : public QIODevice
{
    Q_OBJECT

public:
    enum Direction { Input = 1, Output = 2, AllDirections = Input | Output };
    Q_DECLARE_FLAGS(Directions, Direction)
    enum DataBits { Data8 = 8 };
    enum Parity { NoParity = 0 };
    enum StopBits { OneStop = 1 };
    enum FlowControl { NoFlowControl = 0 };
    // Numbered as in Qt's module.
    enum SerialPortError {
        NoError = 0,
        DeviceNotFoundError = 1,
        PermissionError = 2,
        OpenError = 3,
        WriteError = 7,
        ReadError = 8,
        ResourceError = 9,
        UnknownError = 11,
        TimeoutError = 12,
        NotOpenError = 13,
    };

    explicit QSerialPort(QObject *parent = nullptr);
    explicit QSerialPort(const QSerialPortInfo &port, QObject *parent = nullptr);
    ~QSerialPort() override;

    // COM3, COM12 or \\.\COM12.
    void setPortName(const QString &name);
    QString portName() const;

    // The unit's line is 8N1 without flow control, the only frame these enumerations offer, so
    // only the speed is a choice.
    bool setBaudRate(qint32 baudRate, Directions directions = AllDirections);
    bool setDataBits(DataBits) { return true; }
    bool setParity(Parity) { return true; }
    bool setStopBits(StopBits) { return true; }
    bool setFlowControl(FlowControl) { return true; }

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool waitForReadyRead(int msecs) override;
    // Writes are not buffered here: whatever write() accepted is with the driver already.
    bool flush();

    SerialPortError error() const { return lastError; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    bool applyLineSettings();
    bool setReadWait(int msecs);
    void readFailed();
    void setSystemError(SerialPortError kind);
    void setError(SerialPortError kind, const QString &text);

    QString location;
    qint32 baud = 9600;
    void *handle = nullptr;
    bool readWaitSet = false;       // whether the driver's read time-outs are those of readWaitMs
    int readWaitMs = 0;
    QByteArray received;            // taken from the driver, not yet read
    SerialPortError lastError = NoError;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QSerialPort::Directions)

#endif // QSERIALPORT_H
