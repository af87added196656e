#include "commands.h"

#include "console.h"
#include "hextext.h"
#include "settingsfile.h"
#include "unitcontext.h"
#include "unitsession.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace {

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// The first of the unit's values that KEY=value lines (`asLines`) or a settings file cannot
// carry as the unit holds it: bytes that are not UTF-8 (a text would send U+FFFD back), and for
// lines a line break or another control character.
bool carriesUnitValues(const Profile &values, bool asLines, Rejection &rejection)
{
    const QString form = asLines ? QStringLiteral("KEY=value lines") : QStringLiteral("a settings file");
    for (const QString &key : Profile::keys()) {
        const QByteArray bytes = values.nonUtf8Bytes(key);
        // The bytes themselves stay out of the message, which also goes to the journal: the
        // password is one of these texts.
        if (!bytes.isEmpty()) {
            rejection = {key, QStringLiteral("the unit holds bytes that are not UTF-8 text, which %1 "
                                             "cannot carry; --json shows them").arg(form)};
            return false;
        }
        if (asLines && hasControlCharacter(values.value(key))) {
            rejection = {key, QStringLiteral("the unit's value holds a line break or another control "
                                             "character, which %1 cannot show; --json shows it").arg(form)};
            return false;
        }
    }
    return true;
}

} // namespace

int readCommand(UnitContext &context)
{
    const Invocation &invocation = context.invocation;
    Outcome outcome;
    Profile values;
    if (context.openChannel(outcome)) {
        const QString failure = readGroups(context.link, readAllOrder(), values, [&outcome](ReadGroup group) {
            outcome.groups << readGroupName(group);
        });
        outcome.mac = values.value(QLatin1String(ProfileKey::EthMAC));
        outcome.cashDeskId = values.value(QLatin1String(ProfileKey::CashDeskID));
        if (!failure.isEmpty())
            context.failUnit(outcome, failure);
    }
    // With --json stdout holds one object, printed once the journal has the unit's line: the
    // values, or, when the unit failed, its outcome as write prints it.
    QString jsonValues;
    // A text that is not what the unit holds would go to the next unit as it stands.
    Rejection rejection;
    if (outcome.exitCode == ExitOk && (!invocation.json || !invocation.output.isEmpty())
        && !carriesUnitValues(values, invocation.output.isEmpty(), rejection)) {
        outcome.exitCode = ExitNotText;
        outcome.message = rejectionLine(rejection);
    }
    if (outcome.exitCode == ExitOk && !invocation.output.isEmpty()) {
        QSettings file(invocation.output, QSettings::IniFormat);
        values.store(file);
        if (!syncSettings(file)) {
            outcome.exitCode = ExitProfile;
            outcome.message = QStringLiteral("tallyctl: cannot write %1").arg(invocation.output);
        }
    } else if (outcome.exitCode == ExitOk && invocation.json) {
        QJsonObject object;
        for (const QString &key : Profile::keys())
            object.insert(key, values.value(key));
        object.insert(QLatin1String(ProfileKey::UseDHCP), values.useDhcp());
        object.insert(QLatin1String(ProfileKey::Priority), values.priority());
        // The text shows U+FFFD for bytes that are not UTF-8; the bytes themselves stand here.
        QJsonObject nonUtf8;
        for (const QString &key : Profile::keys()) {
            if (!values.nonUtf8Bytes(key).isEmpty())
                nonUtf8.insert(key, hexText(values.nonUtf8Bytes(key)));
        }
        if (!nonUtf8.isEmpty())
            object.insert(QStringLiteral("notUtf8"), nonUtf8);
        jsonValues = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
    } else if (outcome.exitCode == ExitOk) {
        QString lines;
        for (const QString &key : Profile::keys())
            lines += key + QLatin1Char('=') + values.value(key) + QLatin1Char('\n');
        Console::out(lines);
    }
    context.recordUnit(outcome);
    if (invocation.json) {
        const QString printed = outcome.exitCode == ExitOk ? jsonValues : jsonLine(outcome.toJson());
        if (!printed.isEmpty())
            Console::out(printed);
    }
    return context.reportUnit(outcome);
}
