// The settings-file rewrite, checked through QSettings itself.
#include "fuzzentries.h"

#include "settingsfile.h"

#include <QFile>
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

} // namespace

namespace FuzzEntry {

QString settingsFile(const QByteArray &input)
{
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
    // Qt 5 reads the original as UTF-8 only through a codec that applies to the whole file, so
    // files left with raw bytes (in keys, comments, after a backslash) are compared on Qt 6 only.
    for (char byte : rewritten) {
        if (quint8(byte) >= 0x80)
            return QString();
    }
#endif

    // A fresh name for every input: QSettings keeps files it has read and trusts their size and
    // time.
    static QTemporaryDir folder;
    static int serial = 0;
    ++serial;
    const QString original = folder.filePath(QStringLiteral("original%1.ini").arg(serial));
    const QString portable = folder.filePath(QStringLiteral("portable%1.ini").arg(serial));
    if (!folder.isValid() || !writeFile(original, input) || !writeFile(portable, rewritten))
        return QStringLiteral("cannot write the files to compare");

    QString fault;
    {
        QSettings asWritten(original, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        asWritten.setIniCodec("UTF-8");
#endif
        QSettings asRewritten(portable, QSettings::IniFormat);
        const QStringList keys = asWritten.allKeys();
        if (asRewritten.allKeys() != keys) {
            fault = QStringLiteral("keys differ: %1 / %2")
                        .arg(keys.join(QLatin1Char('|')), asRewritten.allKeys().join(QLatin1Char('|')));
        }
        for (const QString &key : keys) {
            // A line "=x" lists an empty key that value() refuses to look up.
            if (fault.isEmpty() && !key.isEmpty() && asWritten.value(key) != asRewritten.value(key)) {
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
