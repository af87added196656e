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

// Write, reset and status answers: the first data byte is the result; no data at all counts
// as success.
bool resultOk(const QByteArray &response);

// Answer of a measuring test: -1 unless the result byte is 0x00; then the value byte, unsigned
// (0 when the unit sent the result byte alone).
int testValue(const QByteArray &response);

// One part of a status text: the bytes after the result byte, Windows-1251.
QString statusPartText(const QByteArray &response);

} // namespace Frame

#endif // FRAME_H
