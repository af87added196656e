#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QSettings;

// tallyconf.ini is shared by builds on Qt 5 and Qt 6 and by other Qt 5 programs. Qt 5's INI
// writer stores every character from U+007F up as a \x escape of its UTF-16 code unit, and
// its reader takes raw bytes of 0x80 and up as Latin-1; Qt 6 writes such characters as raw
// UTF-8. So every writer of the file flushes it with syncSettings(), which leaves it in Qt 5's
// form on either build, and every reader reads it through SettingsFile, which reads raw UTF-8
// (the form any text editor saves) the same on either build.

// Flushes the settings like QSettings::sync(), then rewrites an INI file into the very bytes
// Qt 5 writes for the same keys and values (Qt 6 writes raw UTF-8, and so does Qt 5 after it
// has read a byte order mark), under the lock QSettings itself takes. A file edited by hand
// (raw UTF-8, a byte order mark) is first put into the form both builds read alike, so that the
// keys this save does not set keep their texts. False when the file could not be written.
bool syncSettings(QSettings &settings);

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

// Puts the bytes in place of the file at once (QSaveFile): a reader sees the old file or the
// new one, never a part. Takes no lock: a caller that reads, changes and saves holds the
// file's lock (the name QSettings locks, file + ".lock") around all three. On Windows a file
// that another program has open is waited for up to 2 s.
bool saveIniBytes(const QString &path, const QByteArray &bytes);

// A settings file read the one way both front ends and both builds read it: the bytes of
// portableIniText() read by QSettings, Qt's own INI parser. Beside Qt's reading it keeps what
// the file says line by line in its general section, for the checks of a profile that goes to
// a unit unseen.
class SettingsFile
{
public:
    // A line of the general section that gives a key a value.
    struct Line {
        QString key;
        QByteArray text;    // after '=' to the end of the line as written, blanks trimmed
        int number = 0;     // counted from 1
        bool utf8 = true;   // whether its bytes are valid UTF-8
        bool goesOn = false; // whether the INI format reads the value on over the line's end
    };

    explicit SettingsFile(const QString &path);
    ~SettingsFile();
    SettingsFile(const SettingsFile &) = delete;
    SettingsFile &operator=(const SettingsFile &) = delete;

    // False when the file is there but could not be read (the settings are then what Qt reads
    // of it directly). A missing file reads as one without keys, as QSettings reads it. On
    // Windows a file that another program is replacing this moment is waited for up to 2 s.
    bool isReadable() const { return readable; }
    const QSettings &settings() const { return *reader; }
    // The file's bytes as they are on disk.
    const QByteArray &bytes() const { return data; }
    // The first line holding bytes that are not UTF-8, or 0 when the whole file is UTF-8.
    int nonUtf8Line() const { return firstNonUtf8Line; }
    const QList<Line> &generalLines() const { return lines; }
    // The line QSettings takes the key's value from, or null.
    const Line *line(const QString &key) const;
    // Whether QSettings reads the key as its line says: the text as written, or the very form
    // Qt writes for what it reads (quotes, escapes). False for a ';' or ',' outside quotes, a
    // stray quote or backslash, "@ByteArray(...)" or a value that goes on over the next line,
    // each of which Qt reads as something else, and for every line of a file that is not UTF-8.
    bool readsAsWritten(const QString &key) const;

private:
    QByteArray data;
    bool readable = true;
    int firstNonUtf8Line = 0;
    QList<Line> lines;
    std::unique_ptr<QSettings> reader;
};

#endif // SETTINGSFILE_H
