#ifndef HEXTEXT_H
#define HEXTEXT_H

#include <QByteArray>
#include <QString>

// Bytes as the unit's documentation writes them, and as the simulator's request log and
// tallyctl's trace show them: two upper-case hex digits each, single spaces between,
// "02 02 07 06 03". Header-only, so the simulator can share it without linking the link code.
inline QString hexText(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 3);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        const quint8 byte = quint8(bytes.at(i));
        text += QLatin1Char(digits[byte >> 4]);
        text += QLatin1Char(digits[byte & 0x0F]);
    }
    return text;
}

#endif // HEXTEXT_H
