#include "settingsfile.h"

#include "filelock.h"

#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>
#include <QThread>
#include <QVariant>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// Another writer may come between Qt's own save and this rewrite: under the lock QSettings
// takes the file is read afresh and saved only when the conversion changes it. False when it
// could not be read or saved; a missing file stays missing.
bool rewriteLocked(const QString &path, QByteArray (*convert)(const QByteArray &))
{
    FileLock lock(path, QString(), FileLock::SettingsStaleMs);
    if (!lock.acquire(FileLock::Forever))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return !file.exists();
    const QByteArray written = file.readAll();
    file.close();
    const QByteArray converted = convert(written);
    return converted == written || saveIniBytes(path, converted);
}

// Windows lets no program replace a file that another has open (a station taking a look at the
// profile, a virus scanner, an editor's preview), nor open one while it is being replaced (a
// station storing the next MAC). Either lasts milliseconds, so both sides try again for a
// while before they count as failed.
#ifdef Q_OS_WIN
constexpr qint64 SharingRetryMs = 2000;
#else
constexpr qint64 SharingRetryMs = 0;    // a rename or an open here fails for good (folder, disk)
#endif
constexpr int SharingRetryPauseMs = 20;

} // namespace

bool saveIniBytes(const QString &path, const QByteArray &bytes)
{
    // The new file is the old one to anyone but a reader of its bytes: its mode, its owner where
    // this process may give it (a profile root's station stores stays the line's), and on
    // Windows its attributes (hidden, for one).
    const QFileInfo old(path);
    const bool existed = old.exists();
#ifdef Q_OS_WIN
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = existed ? GetFileAttributesW(native.c_str()) : INVALID_FILE_ATTRIBUTES;
#endif
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
#ifdef Q_OS_UNIX
            if (existed) {
                if (::fchown(file.handle(), old.ownerId(), old.groupId()) != 0) {
                    // Only root may give a file away; the file is then this process's, as before.
                }
                file.setPermissions(old.permissions()
                                    & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser));
            }
#endif
        }
        if (file.isOpen() && file.write(bytes) == bytes.size() && file.commit()) {
#ifdef Q_OS_WIN
            const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kept))
                SetFileAttributesW(native.c_str(), attributes & kept);
#endif
            return true;
        }
        if (file.error() != QFileDevice::RenameError || clock.elapsed() >= SharingRetryMs)
            return false;
        QThread::msleep(SharingRetryPauseMs);
    }
}

SettingsFile::SettingsFile(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            data = file.readAll();
            readable = true;
            break;
        }
        readable = !file.exists();
        if (readable || clock.elapsed() >= SharingRetryMs)
            break;
        QThread::msleep(SharingRetryPauseMs);
    }

    // Qt's parser is given a copy of the bytes just read, never the file itself: QSettings keeps
    // what it parsed of a file and reuses it while the file's size and time stay the same, and
    // another station can store a profile of the same size within the same tick of the clock.
    // It has read the copy once it is constructed, so the copy, which holds the profile's
    // password in clear, goes again at once (a temporary file is for its owner's eyes only while
    // it lasts).
    const QByteArray portable = portableIniText(data);
    QTemporaryFile copy;
    if (copy.open() && copy.write(portable) == portable.size() && copy.flush()) {
        copy.close();
        reader.reset(new QSettings(copy.fileName(), QSettings::IniFormat));
    } else {
        readable = false;
        reader.reset(new QSettings(path, QSettings::IniFormat));
    }

    // QSettings parses a section when a key of it is first asked for, finding it by the key's
    // group; a key with a backslash ('/') in the general section would not be found that way.
    reader->allKeys();

    firstNonUtf8Line = iniNonUtf8Line(data);
    lines = iniGeneralLines(data);
}

SettingsFile::~SettingsFile() = default;

const SettingsFile::Line *SettingsFile::line(const QString &key) const
{
    for (int i = lines.size() - 1; i >= 0; --i) {
        if (lines.at(i).key == key)
            return &lines.at(i);
    }
    return nullptr;
}

bool SettingsFile::readsAsWritten(const QString &key) const
{
    // A file that is not UTF-8 is no text as written: Qt reads such bytes as Latin-1 or U+FFFD,
    // and the file as it is, where the lines here are those of its UTF-8 reading.
    const Line *written = line(key);
    if (!written || firstNonUtf8Line > 0 || written->goesOn)
        return false;
    // A list (a ',' outside quotes) or a typed value is never the text of its line.
    const QVariant read = reader->value(key);
    if (read.userType() != QMetaType::QString)
        return false;
    const QString value = read.toString();
    // Every byte counts: fromUtf8() of a QByteArray stops at a NUL on Qt 5.
    if (value == QString::fromUtf8(written->text.constData(), written->text.size()))
        return true;
    return iniValueText(value) == qt5IniValue(written->text);
}

bool syncSettings(QSettings &settings)
{
    if (settings.format() != QSettings::IniFormat) {
        settings.sync();
        return settings.status() == QSettings::NoError;
    }
    // Qt re-reads a file that changed since it last read it and writes the keys set here into
    // what it finds: in the portable form a hand-edited file keeps its other texts.
    rewriteLocked(settings.fileName(), portableIniText);
    settings.sync();
    // Qt 6 writes raw UTF-8, and so does Qt 5 once it has read a file with a byte order mark.
    return settings.status() == QSettings::NoError && rewriteLocked(settings.fileName(), qt5IniText);
}
