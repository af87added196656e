#ifndef INITEXT_H
#define INITEXT_H

#include <QByteArray>
#include <QList>
#include <QString>

// The settings file's bytes as QSettings reads and Qt 5 writes them: bytes in, bytes or lines
// out, no file. settingsfile.h says why the file is kept in Qt 5's form.

// The INI text with every raw UTF-8 character of a value turned into Qt 5's escapes: "\x" and
// the lower-case hex of each UTF-16 code unit, and, as Qt 5 does, an ASCII hex digit right after
// such an escape escaped too (its reader would take it as part of the number). DEL becomes
// "\x7f". Raw UTF-8 in keys and section names becomes Qt's key escapes ("%E9", "%U0438").
// Comments, escapes already there and bytes that are not valid UTF-8 stay as they are. Lines
// are found the way QSettings reads them.
QByteArray qt5IniText(const QByteArray &ini);

// The INI text both builds read alike, for a file that is UTF-8 throughout: without its byte
// order mark, CR LF read as LF, in the form of qt5IniText(). A file that is not UTF-8 keeps its
// bytes and reads as each Qt has always read it.
QByteArray portableIniText(const QByteArray &ini);

// What Qt's INI writer puts after "key=" for this text, in Qt 5's form: the escapes of
// qt5IniText(), \" and \\, quotes around a text with ';', ',' or '=' or a space at either end,
// a second '@' in front of a leading one, "@String(...)" around a text with a NUL.
QByteArray iniValueText(const QString &value);

// The INI bytes with the key of the general section (its last line, the one QSettings reads)
// given `valueText` (in INI form, see iniValueText()) and nothing else changed: comments, other
// keys and their order, blanks around the value, line ends and a byte order mark stay. A key not
// there is added at the end of the general section (before the first section when there is
// none) with the file's own line end. `key` is one of the program's keys: ASCII letters.
QByteArray withIniValue(const QByteArray &ini, const QString &key, const QByteArray &valueText);

// What Qt 5 writes for the text that a value's bytes (`written`, raw UTF-8) read as: the value
// part of qt5IniText().
QByteArray qt5IniValue(const QByteArray &written);

// A line of the general section that gives a key a value.
struct IniKeyLine {
    QString key;
    QByteArray text;    // after '=' to the end of the line as written, blanks trimmed
    int number = 0;     // counted from 1
    bool utf8 = true;   // whether its bytes are valid UTF-8
    bool goesOn = false; // whether the INI format reads the value on over the line's end
};

// The key lines of the general section as an editor shows them (a byte order mark skipped,
// CR LF read as LF), found the way QSettings reads the text.
QList<IniKeyLine> iniGeneralLines(const QByteArray &ini);

// The first line holding bytes that are not UTF-8, or 0 when the whole text is UTF-8.
int iniNonUtf8Line(const QByteArray &ini);

#endif // INITEXT_H
