#ifndef MEMORYDEVICE_H
#define MEMORYDEVICE_H

#include <QByteArray>
#include <QIODevice>

// A unit that exists only as bytes: reads hand out the given input in order, writes are kept
// for inspection and go nowhere. When the input runs out the line is simply quiet, and
// waitForReadyRead() says so at once, so a 30-second or 3-minute wait costs nothing.
class MemoryDevice : public QIODevice
{
    Q_OBJECT

public:
    explicit MemoryDevice(const QByteArray &input, QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int msecs) override;

    // Everything the link wrote, in order.
    const QByteArray &written() const { return output; }
    // How many input bytes the link has taken so far.
    int consumed() const { return position; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    QByteArray input;
    int position = 0;
    QByteArray output;
};

#endif // MEMORYDEVICE_H
