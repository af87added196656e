#include "settingsfile.h"

#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

struct IniLine {
    int start = 0;      // first byte of the line (after blanks and comments)
    int end = 0;        // one past its last byte
    int equals = -1;    // the '=' between key and value, or -1
};

// The next line as QSettings reads an INI file: a line ends at CR or LF outside quotes, or before
// a ';' that is not its first byte; a backslash keeps the next byte (and a CR LF or LF CR pair
// after it) in the line; a ';' at the start makes the rest of the line a comment. Returns false
// at the end of the text.
bool nextLine(const QByteArray &data, int &position, IniLine &line)
{
    const int size = data.size();
    bool inQuotes = false;
    line.equals = -1;
    line.start = position;
    while (line.start < size && isSpace(data.at(line.start)))
        ++line.start;

    int i = line.start;
    while (i < size) {
        const char c = data.at(i++);
        if (c == '=') {
            if (!inQuotes && line.equals == -1)
                line.equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == line.start + 1) {
                ++line.start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char after = data.at(i);
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == line.start + 1) {
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isSpace(data.at(i)))
                    ++i;
                line.start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    position = i;
    line.end = i;
    return line.end > line.start;
}

// Length of the valid UTF-8 sequence at `at` and its code point; 0 when there is none.
int utf8Sequence(const QByteArray &data, int at, int end, uint &point)
{
    const uchar lead = uchar(data.at(at));
    int length = 0;
    uint minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
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
        const uchar next = uchar(data.at(at + i));
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

void appendEscape(QByteArray &out, uint unit)
{
    out += "\\x";
    out += QByteArray::number(unit, 16);
}

void appendValue(QByteArray &out, const QByteArray &data, int from, int to)
{
    bool escapeHexDigit = false;
    int i = from;
    while (i < to) {
        const char c = data.at(i);
        const uchar byte = uchar(c);
        uint point = 0;
        int length = 0;
        if (c == '\\') {
            // An escape already there, with all the hex digits a \x escape reads.
            out += c;
            if (++i < to) {
                const char kind = data.at(i++);
                out += kind;
                if (kind == 'x') {
                    while (i < to && isHexDigit(data.at(i)))
                        out += data.at(i++);
                }
            }
            escapeHexDigit = false;
        } else if (byte == 0x7F) {
            appendEscape(out, byte);
            escapeHexDigit = true;
            ++i;
        } else if (byte >= 0x80 && (length = utf8Sequence(data, i, to, point)) > 0) {
            if (point > 0xFFFF) {
                appendEscape(out, 0xD800 + ((point - 0x10000) >> 10));
                appendEscape(out, 0xDC00 + ((point - 0x10000) & 0x3FF));
            } else {
                appendEscape(out, point);
            }
            escapeHexDigit = true;
            i += length;
        } else if (escapeHexDigit && isHexDigit(c)) {
            appendEscape(out, byte);
            ++i;
        } else {
            out += c;
            escapeHexDigit = false;
            ++i;
        }
    }
}

} // namespace

QByteArray qt5IniText(const QByteArray &ini)
{
    QByteArray out;
    out.reserve(ini.size() + ini.size() / 2);
    int position = 0;
    // QSettings skips a UTF-8 byte order mark before the first line.
    if (ini.startsWith("\xEF\xBB\xBF"))
        position = 3;
    int copied = 0;
    IniLine line;
    while (nextLine(ini, position, line)) {
        if (ini.at(line.start) == '[' || line.equals < 0)
            continue;
        out += ini.mid(copied, line.equals + 1 - copied);
        appendValue(out, ini, line.equals + 1, line.end);
        copied = line.end;
    }
    out += ini.mid(copied);
    return out;
}

bool syncSettings(QSettings &settings)
{
    settings.sync();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (settings.status() != QSettings::NoError || settings.format() != QSettings::IniFormat)
        return settings.status() == QSettings::NoError;
    // Another writer may come between sync() and the rewrite; under the lock the file is read
    // afresh, and a file already in Qt 5's form is left alone.
    QLockFile lock(settings.fileName() + QStringLiteral(".lock"));
    if (!lock.lock())
        return false;
    QFile file(settings.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return !file.exists();
    const QByteArray written = file.readAll();
    file.close();
    const QByteArray portable = qt5IniText(written);
    if (portable == written)
        return true;
    QSaveFile rewritten(settings.fileName());
    return rewritten.open(QIODevice::WriteOnly) && rewritten.write(portable) == portable.size()
        && rewritten.commit();
#else
    return settings.status() == QSettings::NoError;
#endif
}
