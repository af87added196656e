#ifndef TESTBYTES_H
#define TESTBYTES_H

// Byte strings in the tests, written as the unit's documentation writes them: "02 02 07 06 03".

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// Back into that notation, upper case: "02 02 07 06 03".
inline QString spaced(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Whole frames, one string each, lower case: handy for comparing request logs.
inline QStringList hexList(const QList<QByteArray> &frames)
{
    QStringList result;
    for (const QByteArray &frame : frames)
        result << QString::fromLatin1(frame.toHex(' '));
    return result;
}

// A record's bytes as they lie in memory.
template <typename Record>
QByteArray bytesOf(const Record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record));
}

#endif // TESTBYTES_H
