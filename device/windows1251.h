#ifndef WINDOWS1251_H
#define WINDOWS1251_H

#include <QByteArray>
#include <QString>
#include <QVector>

// The unit's 8-bit code page for its status texts. A table of our own rather than a codec
// looked up by name: it is the same on every Qt and every platform, and needs no module that a
// Qt 6 kit may lack. Byte 0x98, unassigned in the code page, stands for U+0098 both ways.
// Header-only, so the simulator can share it without linking the link code.
namespace Windows1251 {

// Characters of bytes 0x80-0xFF; bytes below 0x80 are ASCII.
inline constexpr char16_t HighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88-8F
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98-9F
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0-A7
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8-AF
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0-B7
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8-BF
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0-C7
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8-CF
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0-D7
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8-DF
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0-E7
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8-EF
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0-F7
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8-FF
};

inline QChar charOf(quint8 byte)
{
    return byte < 0x80 ? QChar(ushort(byte)) : QChar(ushort(HighHalf[byte - 0x80]));
}

// One character per byte, zero bytes included.
inline QString toUnicode(const char *bytes, int size)
{
    QString text;
    text.reserve(qMax(0, size));
    for (int i = 0; i < size; ++i)
        text.append(charOf(quint8(bytes[i])));
    return text;
}

inline QString toUnicode(const QByteArray &bytes)
{
    return toUnicode(bytes.constData(), bytes.size());
}

// One byte per character; a character the code page lacks becomes '?'.
inline QByteArray fromUnicode(const QString &text)
{
    QByteArray bytes;
    const QVector<uint> points = text.toUcs4();
    bytes.reserve(points.size());
    for (uint point : points) {
        char byte = '?';
        if (point < 0x80) {
            byte = char(point);
        } else {
            for (int i = 0; i < 128; ++i) {
                if (HighHalf[i] == point) {
                    byte = char(0x80 + i);
                    break;
                }
            }
        }
        bytes.append(byte);
    }
    return bytes;
}

} // namespace Windows1251

#endif // WINDOWS1251_H
