#ifndef FIELDTEXT_H
#define FIELDTEXT_H

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QtGlobal>

// Conversions between the texts of the form's fields and the bytes of the unit's records.
// Pure functions: no widgets, no I/O.

// Bytes joined by a separator, each in the given base; base 16 pads every byte to two lower-case
// digits (MAC 00-1a-2b-...), other bases use no leading zeros (IP 192.168.0.1).
QString bytesToText(const quint8 *data, int count, QChar separator, int base);

// Packed BCD, least significant byte first, as 2 * count digits with leading zeros kept.
QString bcdToText(const quint8 *data, int count);

// Decimal text to packed BCD, least significant byte first; the destination is zeroed first.
// Accepts 1 to 2 * count ASCII digits.
bool textToBcd(QString text, quint8 *destination, int count);

// Exactly count numbers 0..255 in the given base, joined by the separator.
bool textToBytes(const QString &text, QChar separator, quint8 *destination, int count, int base);

// The length of the UTF-8 sequence that starts at `at` and ends before `end`, with its code
// point; 0 when the bytes there are not valid UTF-8 (a stray continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF, a sequence cut short). ASCII is one byte.
int utf8SequenceAt(const char *data, int at, int end, uint &point);

// Offset of the first byte of `bytes` that is not part of valid UTF-8, or -1 when all are.
// The unit's strings and the settings files are UTF-8; QString::fromUtf8() turns what is not
// into U+FFFD without a word, so the bytes themselves are looked at.
int firstNonUtf8Byte(const QByteArray &bytes);

#endif // FIELDTEXT_H
