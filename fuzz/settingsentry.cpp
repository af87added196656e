// The settings-file rewrite, the one reader and the change of one value, checked through
// QSettings itself.
#include "fuzzentries.h"

#include "settingsfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A fresh name for every file: QSettings keeps files it has read and trusts their size and
// time.
QString freshPath(const char *stem)
{
    static QTemporaryDir folder;
    static int serial = 0;
    return folder.isValid() ? folder.filePath(QStringLiteral("%1%2.ini").arg(QLatin1String(stem)).arg(++serial))
                            : QString();
}

// Whether QSettings finds the key under its own name: it looks a key up with leading, trailing
// and doubled slashes dropped, so a line "/k=" or "\\k=" is listed but not reached by its name;
// nor are names with control characters looked up as they are listed.
bool reachable(const QString &key)
{
    for (const QChar c : key) {
        if (c.unicode() < 0x20)
            return false;
    }
    return !key.isEmpty() && !key.startsWith(QLatin1Char('/')) && !key.endsWith(QLatin1Char('/'))
        && !key.contains(QLatin1String("//"));
}

// The one reader both front ends use, and the command line's change of one value: the text a
// line shows is what Qt reads wherever the reader says so, and a value set in a file that reads
// as written changes that value alone, every other byte and key kept.
QString readerAndChange(const QByteArray &input)
{
    const QString path = freshPath("read");
    if (path.isEmpty() || !writeFile(path, input))
        return QStringLiteral("cannot write the file to read");
    QString fault;
    {
        const SettingsFile file(path);
        if (!file.isReadable() || file.bytes() != input)
            fault = QStringLiteral("the reader does not hold the file's bytes");
        const QSettings &settings = file.settings();
        // A line that reads as written says all of its value: the text alone, on a line of its
        // own (the file's last, as the line may be), reads the same. A few lines each, to keep the runs quick.
        QString changed;
        int tried = 0;
        for (const SettingsFile::Line &line : file.generalLines()) {
            if (!fault.isEmpty() || tried == 3 || !reachable(line.key) || !file.readsAsWritten(line.key)
                || file.line(line.key) != &line)
                continue;
            ++tried;
            const QString alonePath = freshPath("alone");
            if (!writeFile(alonePath, "[General]\nk=" + line.text))
                return QStringLiteral("cannot write the file to read");
            const QVariant alone = SettingsFile(alonePath).settings().value(QStringLiteral("k"));
            if (alone != settings.value(line.key))
                fault = QStringLiteral("%1 reads as written, but \"%2\" alone reads \"%3\"")
                            .arg(line.key, QString::fromUtf8(line.text), alone.toString());
            QFile::remove(alonePath);
            // The command line changes keys of its own, named in ASCII letters.
            static const QRegularExpression programsKey(QStringLiteral("^[A-Za-z]+$"));
            if (changed.isEmpty() && programsKey.match(line.key).hasMatch())
                changed = line.key;
        }
        if (fault.isEmpty() && !changed.isEmpty()) {
            const QString value = QStringLiteral(" a;b \"я\\1,");
            const QByteArray out = withIniValue(input, changed, iniValueText(value));
            int same = 0;
            while (same < out.size() && same < input.size() && out.at(same) == input.at(same))
                ++same;
            int sameEnd = 0;
            while (sameEnd < out.size() - same && sameEnd < input.size() - same
                   && out.at(out.size() - 1 - sameEnd) == input.at(input.size() - 1 - sameEnd))
                ++sameEnd;
            const QString changedPath = freshPath("changed");
            if (out.size() - same - sameEnd > iniValueText(value).size())
                fault = QStringLiteral("setting %1 changes more than its value").arg(changed);
            else if (!writeFile(changedPath, out))
                fault = QStringLiteral("cannot write the changed file");
            if (fault.isEmpty()) {
                const SettingsFile after(changedPath);
                if (after.settings().value(changed).toString() != value)
                    fault = QStringLiteral("%1 reads \"%2\" once set").arg(changed, after.settings().value(changed).toString());
                for (const QString &key : settings.allKeys()) {
                    if (fault.isEmpty() && key != changed && reachable(key)
                        && after.settings().value(key) != settings.value(key))
                        fault = QStringLiteral("setting %1 changes %2").arg(changed, key);
                }
                if (fault.isEmpty() && after.settings().allKeys() != settings.allKeys())
                    fault = QStringLiteral("setting %1 changes the keys").arg(changed);
            }
            QFile::remove(changedPath);
        }
    }
    QFile::remove(path);
    return fault;
}

} // namespace

namespace FuzzEntry {

QString settingsFile(const QByteArray &input)
{
    const QString readerFault = readerAndChange(input);
    if (!readerFault.isEmpty())
        return readerFault;

    const QByteArray rewritten = qt5IniText(input);
    if (qt5IniText(rewritten) != rewritten)
        return QStringLiteral("a second rewrite changes the file");
    if (rewritten == input)
        return QString();
    // What Qt 6 writes is UTF-8; other bytes are left as they are and read as each Qt reads
    // them. @Variant values are Qt's own serialisation, not text, and are not looked into. Both
    // Qt 5 and Qt 6 drop a raw U+FEFF where a run of raw text starts, taking it for a byte order
    // mark; the rewrite keeps it as an escape, so there the file reads better than before, not
    // the same.
    if (QString::fromUtf8(input).toUtf8() != input || input.contains("@Variant(")
        || input.indexOf("\xEF\xBB\xBF", 1) >= 0)
        return QString();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 reads the original as UTF-8 only through a codec that applies to the whole file's
    // values, so files left with raw bytes (in comments, after a backslash) and files with raw
    // bytes in keys and section names (read as Latin-1 even so) are compared on Qt 6 only.
    for (char byte : rewritten) {
        if (quint8(byte) >= 0x80)
            return QString();
    }
#endif

    const QString original = freshPath("original");
    const QString portable = freshPath("portable");
    if (original.isEmpty() || !writeFile(original, input) || !writeFile(portable, rewritten))
        return QStringLiteral("cannot write the files to compare");

    QString fault;
    {
        QSettings asWritten(original, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        asWritten.setIniCodec("UTF-8");
#endif
        QSettings asRewritten(portable, QSettings::IniFormat);
        const QStringList keys = asWritten.allKeys();
        bool compared = true;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        for (const QString &key : keys) {
            for (const QChar c : key)
                compared = compared && c.unicode() < 0x80;
        }
#endif
        if (compared && asRewritten.allKeys() != keys) {
            fault = QStringLiteral("keys differ: %1 / %2")
                        .arg(keys.join(QLatin1Char('|')), asRewritten.allKeys().join(QLatin1Char('|')));
        }
        for (const QString &key : keys) {
            // A line "=x" lists an empty key that value() refuses to look up.
            if (compared && fault.isEmpty() && !key.isEmpty() && asWritten.value(key) != asRewritten.value(key)) {
                fault = QStringLiteral("%1 reads \"%2\", was \"%3\"")
                            .arg(key, asRewritten.value(key).toString(), asWritten.value(key).toString());
            }
        }
    }
    QFile::remove(original);
    QFile::remove(portable);
    return fault;
}

} // namespace FuzzEntry
