#include "memorydevice.h"

#include <cstring>

MemoryDevice::MemoryDevice(const QByteArray &input, QObject *parent)
    : QIODevice(parent), input(input)
{
    // Unbuffered, so that what the link has taken is exactly what consumed() reports.
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

qint64 MemoryDevice::bytesAvailable() const
{
    return (input.size() - position) + QIODevice::bytesAvailable();
}

bool MemoryDevice::waitForReadyRead(int)
{
    return position < input.size();
}

bool MemoryDevice::waitForBytesWritten(int)
{
    return true;
}

qint64 MemoryDevice::readData(char *data, qint64 maxSize)
{
    const qint64 count = qMin<qint64>(maxSize, input.size() - position);
    if (count <= 0)
        return 0;
    std::memcpy(data, input.constData() + position, size_t(count));
    position += int(count);
    return count;
}

qint64 MemoryDevice::writeData(const char *data, qint64 maxSize)
{
    output.append(data, int(maxSize));
    return maxSize;
}
