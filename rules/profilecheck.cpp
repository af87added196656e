#include "profilecheck.h"

#include "profile.h"
#include "settingsfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QVariant>

namespace {

const QString priorityKey = QLatin1String(ProfileKey::Priority);

bool isFlagKey(const QString &key)
{
    return key == QLatin1String(ProfileKey::UseDHCP) || key == QLatin1String(ProfileKey::IncrementMac);
}

// A text in double quotes with its line breaks and other controls escaped, so that it shows on
// one line.
QString quoted(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

bool reject(Rejection &rejection, const QString &key, const QString &message)
{
    rejection.key = key;
    rejection.message = message;
    return false;
}

// What a flag or the priority is written as, for the messages that ask for it.
QString valueAdvice(const QString &key)
{
    if (isFlagKey(key))
        return QStringLiteral("write %1=true or %1=false").arg(key);
    return QStringLiteral("write Priority=0 (GPRS), 1 (Ethernet), 2 (GPRS+Ethernet) or 3 (Ethernet+GPRS)");
}

// Qt reads any text as a boolean (only "", "0" and "false" as false) and the priority as 0
// when it is no number; the line must say the value in so many words.
bool checkValueForm(const SettingsFile &file, const QString &key, Rejection &rejection)
{
    if (!isFlagKey(key) && key != priorityKey)
        return true;
    const SettingsFile::Line *line = file.line(key);
    const QString written = line ? QString::fromUtf8(line->text.constData(), line->text.size()) : QString();
    bool ok = false;
    if (isFlagKey(key)) {
        ok = QStringList{QStringLiteral("true"), QStringLiteral("false"), QStringLiteral("1"),
                         QStringLiteral("0")}.contains(written);
    } else {
        // Digits alone: toUInt() would also take blanks and a sign. One past the list is the
        // value rules' to refuse, as the window does.
        ok = !written.isEmpty();
        for (const QChar c : written)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (ok)
            written.toUInt(&ok, 10);
    }
    if (ok)
        return true;
    const QString what = isFlagKey(key) ? QStringLiteral("neither true nor false")
                                        : QStringLiteral("not a channel priority");
    return reject(rejection, key, QStringLiteral("%1 is %2; %3").arg(quoted(written), what, valueAdvice(key)));
}

// A text in double quotes that Qt writes without them (APN="internet"): the quotes are INI
// syntax, as the manual asks for, and what goes to the unit is the text within them.
bool readsAsQuoted(const SettingsFile &file, const QString &key)
{
    const SettingsFile::Line *line = file.line(key);
    const QVariant read = file.settings().value(key);
    if (!line || line->goesOn || read.userType() != QMetaType::QString || line->text.size() < 2
        || !line->text.startsWith('"') || !line->text.endsWith('"'))
        return false;
    QByteArray form = iniValueText(read.toString());
    if (!form.startsWith('"') || !form.endsWith('"') || form.size() < 2)
        form = '"' + form + '"';
    return "k=" + form == qt5IniText("k=" + line->text);
}

bool checkSyntax(const SettingsFile &file, const QString &key, Rejection &rejection)
{
    if (file.readsAsWritten(key) || readsAsQuoted(file, key))
        return true;
    const SettingsFile::Line *line = file.line(key);
    if (!line || isSecretKey(key))
        return reject(rejection, key,
                      QStringLiteral("the INI format reads this line otherwise than it is written "
                                     "(; , \" \\ and a leading @ are INI syntax); write the value in "
                                     "double quotes, with \\\" for a quote, \\\\ for a backslash and "
                                     "@@ for a leading @"));
    const QString written = QString::fromUtf8(line->text.constData(), line->text.size());
    return reject(rejection, key,
                  QStringLiteral("the INI format reads this line as %1, not as it is written; to send "
                                 "the text as written, write %2=%3")
                      .arg(quoted(file.settings().value(key).toString()), key,
                           QString::fromUtf8(iniValueText(written))));
}

// UTF-16 holds a NUL beside every ASCII character; UTF-8 text holds none.
QString utf16Form(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("UTF-16 (little-endian) text");
    if (bytes.startsWith("\xFE\xFF"))
        return QStringLiteral("UTF-16 (big-endian) text");
    const int pairs = qMin(bytes.size() / 2, 64);
    int little = 0;
    int big = 0;
    for (int i = 0; i < pairs; ++i) {
        const char first = bytes.at(2 * i);
        const char second = bytes.at(2 * i + 1);
        little += first != 0 && second == 0;
        big += first == 0 && second != 0;
    }
    if (pairs > 0 && 2 * little > pairs)
        return QStringLiteral("UTF-16 (little-endian) text without a byte order mark");
    if (pairs > 0 && 2 * big > pairs)
        return QStringLiteral("UTF-16 (big-endian) text without a byte order mark");
    return QString();
}

} // namespace

bool isSecretKey(const QString &key)
{
    return Profile::isSecret(key);
}

bool checkProfileEncoding(const SettingsFile &file, Rejection &rejection)
{
    rejection = Rejection();
    const QString form = utf16Form(file.bytes());
    return form.isEmpty()
        || reject(rejection, QString(), QStringLiteral("the profile is %1; save it as UTF-8").arg(form));
}

const QStringList &profileFileKeys()
{
    static const QStringList keys = Profile::keys()
        + QStringList{QLatin1String(ProfileKey::IncrementMac), QLatin1String(ProfileKey::portNumber),
                      QLatin1String(ProfileKey::portName), QLatin1String(ProfileKey::deviceAddress),
                      QLatin1String(ProfileKey::LastMAC)};
    return keys;
}

bool checkProfileFile(const SettingsFile &file, const QStringList &needed, const QStringList &optional,
                      Rejection &rejection)
{
    if (!checkProfileEncoding(file, rejection))
        return false;
    if (file.nonUtf8Line() > 0) {
        for (const SettingsFile::Line &line : file.generalLines()) {
            if (!line.utf8)
                return reject(rejection, line.key,
                              QStringLiteral("line %1 is not UTF-8 text; save the profile as UTF-8")
                                  .arg(line.number));
        }
        return reject(rejection, QString(),
                      QStringLiteral("line %1 of the profile is not UTF-8 text; save the profile as UTF-8")
                          .arg(file.nonUtf8Line()));
    }

    for (const SettingsFile::Line &line : file.generalLines()) {
        if (profileFileKeys().contains(line.key))
            continue;
        for (const QString &known : profileFileKeys()) {
            if (line.key.compare(known, Qt::CaseInsensitive) == 0)
                return reject(rejection, line.key,
                              QStringLiteral("no such key; the profile's key is %1 (keys are "
                                             "case-sensitive)").arg(known));
        }
    }

    // Qt takes the last of them, and the engineer may have edited the first.
    const QList<SettingsFile::Line> &lines = file.generalLines();
    for (int i = 0; i < lines.size(); ++i) {
        for (int j = i + 1; j < lines.size(); ++j) {
            if (lines.at(j).key == lines.at(i).key && profileFileKeys().contains(lines.at(i).key))
                return reject(rejection, lines.at(i).key,
                              QStringLiteral("given twice, on lines %1 and %2; keep one")
                                  .arg(lines.at(i).number).arg(lines.at(j).number));
        }
    }

    const QSettings &settings = file.settings();
    for (const QString &key : needed) {
        if (!settings.contains(key))
            return reject(rejection, key,
                          isFlagKey(key) || key == priorityKey
                              ? QStringLiteral("missing from the profile; ") + valueAdvice(key)
                              : QStringLiteral("missing from the profile (an empty value is written %1=)").arg(key));
        if (!checkValueForm(file, key, rejection) || !checkSyntax(file, key, rejection))
            return false;
        const int length = settings.value(key).toString().size();
        const int limit = Profile::maxLength(key);
        if (limit > 0 && length > limit)
            return reject(rejection, key,
                          QStringLiteral("%1 characters, more than the %2 of its field; nothing is "
                                         "cut on the command line").arg(length).arg(limit));
    }
    for (const QString &key : optional) {
        if (settings.contains(key) && (!checkValueForm(file, key, rejection) || !checkSyntax(file, key, rejection)))
            return false;
    }
    return true;
}

bool checkWriteProfile(const SettingsFile &file, const QList<WriteGroup> &groups, const QStringList &optional,
                       Profile &profile, WriteRecords &records, Rejection &rejection)
{
    QStringList needed;
    for (WriteGroup group : groups)
        needed += writeGroupKeys(group);
    if (!checkProfileFile(file, needed, optional, rejection))
        return false;
    profile = Profile::load(file.settings());
    return encodeGroups(profile, groups, records, rejection);
}
