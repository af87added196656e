#include "profilecheck.h"

#include "profile.h"
#include "settingsfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

namespace {

// Values a message does not repeat: they end up on terminals and in the journal.
bool isSecret(const QString &key)
{
    return key == QLatin1String("Password") || key == QLatin1String("ServerToken");
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

bool checkSyntax(const SettingsFile &file, const QString &key, Rejection &rejection)
{
    if (file.readsAsWritten(key))
        return true;
    const SettingsFile::Line *line = file.line(key);
    if (!line || isSecret(key))
        return reject(rejection, key,
                      QStringLiteral("the INI format reads this line otherwise than it is written "
                                     "(; , \" \\ and a leading @ are INI syntax); write the value in "
                                     "double quotes, with \\\" for a quote and \\\\ for a backslash"));
    const QString written = QString::fromUtf8(line->text.constData(), line->text.size());
    return reject(rejection, key,
                  QStringLiteral("the INI format reads this line as %1, not as it is written; to send "
                                 "the text as written, write %2=%3")
                      .arg(quoted(file.settings().value(key).toString()), key,
                           QString::fromUtf8(iniValueText(written))));
}

} // namespace

const QStringList &profileFileKeys()
{
    static const QStringList keys = Profile::keys()
        + QStringList{QStringLiteral("IncrementMac"), QStringLiteral("portNumber"),
                      QStringLiteral("deviceAddress"), QStringLiteral("LastMAC")};
    return keys;
}

bool checkProfileFile(const SettingsFile &file, const QStringList &needed, const QStringList &optional,
                      Rejection &rejection)
{
    rejection = Rejection();
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

    const QSettings &settings = file.settings();
    for (const QString &key : needed) {
        if (!settings.contains(key))
            return reject(rejection, key,
                          QStringLiteral("missing from the profile (an empty value is written %1=)").arg(key));
        if (!checkSyntax(file, key, rejection))
            return false;
        const int length = settings.value(key).toString().size();
        const int limit = Profile::maxLength(key);
        if (limit > 0 && length > limit)
            return reject(rejection, key,
                          QStringLiteral("%1 characters, more than the %2 of its field; nothing is "
                                         "cut on the command line").arg(length).arg(limit));
    }
    for (const QString &key : optional) {
        if (settings.contains(key) && !checkSyntax(file, key, rejection))
            return false;
    }
    return true;
}
