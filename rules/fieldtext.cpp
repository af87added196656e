#include "fieldtext.h"

#include <QStringList>

#include <cstring>

namespace {

QString byteToText(quint8 value, int base)
{
    QString text = QString::number(value, base);
    if (base == 16 && text.size() < 2)
        text.prepend(QLatin1Char('0'));
    return text;
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QString bytesToText(const quint8 *data, int count, QChar separator, int base)
{
    QString text = byteToText(data[0], base);
    for (int i = 1; i < count; ++i) {
        text.append(separator);
        text.append(byteToText(data[i], base));
    }
    return text;
}

QString bcdToText(const quint8 *data, int count)
{
    QString text;
    text.reserve(2 * count);
    for (int i = count - 1; i >= 0; --i) {
        text.append(QLatin1Char(char('0' + (data[i] >> 4))));
        text.append(QLatin1Char(char('0' + (data[i] & 0x0F))));
    }
    return text;
}

bool textToBcd(QString text, quint8 *destination, int count)
{
    // Five BCD bytes hold every ten-digit number, so the text is checked digit by digit rather
    // than through a 32-bit conversion (a token above 4294967295 must still be writable).
    if (text.isEmpty() || text.size() > 2 * count)
        return false;
    for (int i = 0; i < text.size(); ++i) {
        if (!isAsciiDigit(text.at(i)))
            return false;
    }
    if (text.size() % 2 != 0)
        text.prepend(QLatin1Char('0'));

    std::memset(destination, 0, size_t(count));
    int out = 0;
    for (int pos = text.size() - 2; pos >= 0 && out < count; pos -= 2, ++out) {
        const int high = text.at(pos).digitValue();
        const int low = text.at(pos + 1).digitValue();
        destination[out] = quint8(high * 16 + low);
    }
    return true;
}

bool textToBytes(const QString &text, QChar separator, quint8 *destination, int count, int base)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    const QStringList parts = text.split(separator, Qt::KeepEmptyParts, Qt::CaseSensitive);
#else
    const QStringList parts = text.split(separator, QString::KeepEmptyParts, Qt::CaseSensitive);
#endif
    if (parts.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, base);
        if (!ok || value > 255)
            return false;
        destination[i] = quint8(value);
    }
    return true;
}

int utf8SequenceAt(const char *data, int at, int end, uint &point)
{
    const uchar lead = uchar(data[at]);
    int length = 0;
    uint minimum = 0;
    if (lead < 0x80) {
        point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (end - at < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        const uchar next = uchar(data[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

int firstNonUtf8Byte(const QByteArray &bytes)
{
    uint point = 0;
    for (int i = 0; i < bytes.size();) {
        const int length = utf8SequenceAt(bytes.constData(), i, bytes.size(), point);
        if (length == 0)
            return i;
        i += length;
    }
    return -1;
}
