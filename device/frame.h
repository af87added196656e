#ifndef FRAME_H
#define FRAME_H

#include "records.h"

#include <QByteArray>
#include <QString>

// The unit's frames and records as plain byte work: no device, no waiting. DeviceLink moves the
// bytes; everything it decides about them is decided here, so tests and fuzzers can feed these
// functions any bytes at all.
namespace Frame {

// XOR of the LEN byte and every data byte; STX is not part of it.
quint8 checksum(const QByteArray &data);

// 02 LEN data CHK. Data longer than a LEN byte can count yields an empty array.
QByteArray request(const QByteArray &data);

// Request data of a parameter read: 07 group.
QByteArray readGroupRequest(quint8 group);

// Fixed-size groups (timeouts, Ethernet, cash desk state, channel priority): the response must
// be exactly the record's size. The record is only touched when it is.
bool copyExact(const QByteArray &data, quint8 *record, int recordSize);

template <typename Record>
bool copyExact(const QByteArray &data, Record &record)
{
    return copyExact(data, reinterpret_cast<quint8 *>(&record), int(sizeof(Record)));
}

// Server address: anything up to the record's 137 bytes, the rest of the record zero.
bool parseServerAddress(const QByteArray &data, ServerAddress &record);

// GPRS settings: four length-prefixed strings packed behind two leading bytes, unpacked into the
// record's zero-terminated slots. Fails on an overlong string, on a string or length byte past
// the end, and on bytes left over. The record is zeroed first.
bool parseGprsSettings(const QByteArray &data, GprsSettings &record);

// Request data of the server-address write: 0x62, IP, port, URL length n, n URL bytes. Puts the
// command code into byte 0, a terminating zero into byte 136 (so the URL is at most 128 bytes)
// and n into byte 7 of the record.
QByteArray serverAddressWriteRequest(ServerAddress &record);

// Request data of the GPRS write: 0x63, 0x00, then each string slot as length byte + bytes.
// Puts the command code and the four string lengths into the record. A slot is read up to its
// terminating zero but never past the unit's limit for it (32 bytes, 8 for the balance code), so
// a slot that lost its terminator cannot drag the neighbouring field onto the line.
QByteArray gprsWriteRequest(GprsSettings &record);

// Puts the command code into byte 0 and returns the first `length` bytes of the record.
QByteArray fixedWriteRequest(quint8 command, quint8 *record, int length);

template <typename Record>
QByteArray fixedWriteRequest(quint8 command, Record &record, int length = int(sizeof(Record)))
{
    return fixedWriteRequest(command, reinterpret_cast<quint8 *>(&record), length);
}

// Reset and status answers: the first data byte is the result; no data at all counts as
// success.
bool resultOk(const QByteArray &response);

// Write answers: the result byte must be there and be 0x00; bytes after it do not count.
bool writeConfirmed(const QByteArray &response);

// Answer of a measuring test. False when it is short of what its result byte promises: no
// result byte at all, or 0x00 without the value byte. Otherwise `value` is the value byte,
// unsigned, or -1 when the result byte is not 0x00 (the unit could not measure).
bool testValue(const QByteArray &response, int &value);

// One part of a status text: the bytes after the result byte, Windows-1251.
QString statusPartText(const QByteArray &response);

} // namespace Frame

#endif // FRAME_H
