#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include "initext.h"

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
    using Line = IniKeyLine;

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
