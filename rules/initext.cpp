#include "initext.h"

#include "fieldtext.h"

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
        } else if (byte >= 0x80 && (length = utf8SequenceAt(data.constData(), i, to, point)) > 0) {
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


// Raw UTF-8 of a key or a section name in Qt's key escapes: "%XX" up to U+00FF, "%UXXXX"
// beyond, a character past 16 bits as its two surrogates. Qt 5 reads raw bytes there as
// Latin-1, Qt 6 as UTF-8; both read the escapes alike.
void appendKey(QByteArray &out, const QByteArray &data, int from, int to)
{
    static const char digits[] = "0123456789ABCDEF";
    const auto appendUnit = [&out](uint unit) {
        out += "%U";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += digits[(unit >> shift) & 0xF];
    };
    int i = from;
    while (i < to) {
        uint point = 0;
        const int length = uchar(data.at(i)) >= 0x80 ? utf8SequenceAt(data.constData(), i, to, point) : 0;
        if (length == 0) {
            out += data.at(i++);
            continue;
        }
        if (point <= 0xFF) {
            out += '%';
            out += digits[point >> 4];
            out += digits[point & 0xF];
        } else if (point <= 0xFFFF) {
            appendUnit(point);
        } else {
            appendUnit(0xD800 + ((point - 0x10000) >> 10));
            appendUnit(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
        i += length;
    }
}

const char byteOrderMark[] = "\xEF\xBB\xBF";

// Where the first line starts: after a UTF-8 byte order mark, which QSettings skips.
int firstLineAt(const QByteArray &ini)
{
    return ini.startsWith(byteOrderMark) ? 3 : 0;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// What QSettings trims off a key's raw bytes: Qt 6 every ASCII white space, Qt 5 blanks and
// line ends only.
bool isKeySpace(char c)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (c == '\v' || c == '\f')
        return true;
#endif
    return isSpace(c);
}

// A key as QSettings reads it from its line: white space trimmed, raw UTF-8, "%XX" and
// "%UXXXX" escapes decoded, '\' for '/'.
QString iniKey(const QByteArray &data, int from, int to)
{
    while (from < to && isKeySpace(data.at(from)))
        ++from;
    while (to > from && isKeySpace(data.at(to - 1)))
        --to;
    // Qt 5's fromUtf8() drops a byte order mark that starts the text; in a key it is a character
    // of the key ("\uFEFFk" is not "k").
    const bool marked = data.mid(from, to - from).startsWith(byteOrderMark);
    QString raw = QString::fromUtf8(data.constData() + from + (marked ? 3 : 0), to - from - (marked ? 3 : 0));
    if (marked)
        raw.prepend(QChar(0xFEFF));
    QString key;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('\\')) {
            key += QLatin1Char('/');
            continue;
        }
        const bool wide = c == QLatin1Char('%') && i + 1 < raw.size() && raw.at(i + 1) == QLatin1Char('U');
        const int digits = wide ? 4 : 2;
        const int first = i + (wide ? 2 : 1);
        bool ok = false;
        const uint unit = c == QLatin1Char('%') && first + digits <= raw.size()
            ? raw.mid(first, digits).toUInt(&ok, 16)
            : 0;
        if (ok) {
            key += QChar(ushort(unit));
            i = first + digits - 1;
        } else {
            key += c;
        }
    }
    return key;
}

// Whether a section line opens the general section, as QSettings decides it: on the name's
// bytes, before any escape in it is read.
bool opensGeneral(const QByteArray &data, const IniLine &line)
{
    int close = data.indexOf(']', line.start);
    if (close < 0 || close > line.end)
        close = line.end;
    return data.mid(line.start + 1, close - line.start - 1).trimmed().toLower() == "general";
}

// Just past the line end that follows `at`: the end of the line as an editor shows it.
int physicalLineEnd(const QByteArray &data, int at)
{
    while (at < data.size() && data.at(at) != '\n' && data.at(at) != '\r')
        ++at;
    if (at < data.size() && data.at(at) == '\r')
        ++at;
    if (at < data.size() && data.at(at) == '\n')
        ++at;
    return at;
}

// The value of a key line without the blanks around it: [from, to).
void valueSpan(const QByteArray &data, const IniLine &line, int &from, int &to)
{
    from = line.equals + 1;
    to = line.end;
    while (from < to && isBlank(data.at(from)))
        ++from;
    while (to > from && isBlank(data.at(to - 1)))
        --to;
}

// The text as an editor shows its lines, in the form QSettings is given it but for the escapes.
QByteArray editorText(const QByteArray &ini)
{
    QByteArray text = ini.mid(firstLineAt(ini));
    text.replace("\r\n", "\n");
    return text;
}

} // namespace

QByteArray qt5IniText(const QByteArray &ini)
{
    QByteArray out;
    out.reserve(ini.size() + ini.size() / 2);
    int position = firstLineAt(ini);
    int copied = 0;
    IniLine line;
    while (nextLine(ini, position, line)) {
        out += ini.mid(copied, line.start - copied);
        if (ini.at(line.start) == '[') {
            appendKey(out, ini, line.start, line.end);
        } else if (line.equals >= 0) {
            appendKey(out, ini, line.start, line.equals);
            out += '=';
            appendValue(out, ini, line.equals + 1, line.end);
        } else {
            out += ini.mid(line.start, line.end - line.start);
        }
        copied = line.end;
    }
    out += ini.mid(copied);
    return out;
}

QByteArray portableIniText(const QByteArray &ini)
{
    if (firstNonUtf8Byte(ini) >= 0)
        return ini;
    return qt5IniText(editorText(ini));
}

QByteArray iniValueText(const QString &value)
{
    // A leading '@' would announce one of Qt's typed values, such as "@ByteArray("; a NUL
    // character makes Qt write the text as one of them.
    QString text = value;
    if (value.contains(QChar(0)))
        text = QStringLiteral("@String(") + value + QLatin1Char(')');
    else if (value.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    QByteArray out;
    bool needsQuotes = false;
    bool escapeHexDigit = false;
    for (const QChar c : text) {
        const ushort unit = c.unicode();
        if (unit == ';' || unit == ',' || unit == '=')
            needsQuotes = true;
        if (escapeHexDigit && unit < 0x80 && isHexDigit(char(unit))) {
            appendEscape(out, unit);
            continue;
        }
        escapeHexDigit = false;
        switch (unit) {
        case 0: out += "\\0"; escapeHexDigit = true; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += char(unit);
            break;
        default:
            if (unit <= 0x1F || unit >= 0x7F) {
                appendEscape(out, unit);
                escapeHexDigit = true;
            } else {
                out += char(unit);
            }
        }
    }
    if (needsQuotes || out.startsWith(' ') || out.endsWith(' '))
        return '"' + out + '"';
    return out;
}

QByteArray withIniValue(const QByteArray &ini, const QString &key, const QByteArray &valueText)
{
    int position = firstLineAt(ini);
    bool general = true;
    int valueFrom = -1;
    int valueTo = -1;
    int generalEnd = -1;        // past the last line of the general section
    int firstSection = -1;
    IniLine line;
    while (nextLine(ini, position, line)) {
        if (ini.at(line.start) == '[') {
            general = opensGeneral(ini, line);
            if (firstSection < 0)
                firstSection = line.start;
        }
        if (!general)
            continue;
        generalEnd = physicalLineEnd(ini, line.end);
        if (ini.at(line.start) != '[' && line.equals >= 0 && iniKey(ini, line.start, line.equals) == key)
            valueSpan(ini, line, valueFrom, valueTo);
    }

    QByteArray out = ini;
    if (valueFrom >= 0)
        return out.replace(valueFrom, valueTo - valueFrom, valueText);
    const QByteArray lineEnd = ini.contains("\r\n") ? "\r\n" : "\n";
    const QByteArray added = key.toLatin1() + '=' + valueText;
    if (generalEnd < 0 && firstSection >= 0)
        return out.insert(firstSection, added + lineEnd);
    const int at = generalEnd >= 0 ? generalEnd : ini.size();
    // The last line may have no line end of its own; the file keeps ending as it did.
    if (at > 0 && ini.at(at - 1) != '\n' && ini.at(at - 1) != '\r')
        return out.insert(at, lineEnd + added);
    return out.insert(at, added + lineEnd);
}

QByteArray qt5IniValue(const QByteArray &written)
{
    QByteArray out;
    appendValue(out, written, 0, written.size());
    return out;
}

int iniNonUtf8Line(const QByteArray &ini)
{
    const QByteArray text = editorText(ini);
    const int nonUtf8 = firstNonUtf8Byte(text);
    return nonUtf8 >= 0 ? text.left(nonUtf8).count('\n') + 1 : 0;
}

QList<IniKeyLine> iniGeneralLines(const QByteArray &ini)
{
    const QByteArray text = editorText(ini);
    QList<IniKeyLine> lines;
    int position = 0;
    int counted = 0;
    int number = 1;
    bool general = true;
    IniLine line;
    while (nextLine(text, position, line)) {
        number += text.mid(counted, line.start - counted).count('\n');
        counted = line.start;
        if (text.at(line.start) == '[') {
            general = opensGeneral(text, line);
            continue;
        }
        if (!general || line.equals < 0)
            continue;
        IniKeyLine entry;
        entry.key = iniKey(text, line.start, line.equals);
        entry.number = number;
        const int end = physicalLineEnd(text, line.equals);
        entry.text = text.mid(line.equals + 1, end - line.equals - 1).trimmed();
        entry.utf8 = firstNonUtf8Byte(text.mid(line.start, end - line.start)) < 0;
        // A backslash or an open quote at the end carries the value over to the next line.
        int stop = end;
        while (stop > line.equals + 1 && (text.at(stop - 1) == '\n' || text.at(stop - 1) == '\r'))
            --stop;
        entry.goesOn = line.end > stop;
        lines << entry;
    }
    return lines;
}
