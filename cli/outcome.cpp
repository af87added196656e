#include "outcome.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

bool Outcome::macSent() const
{
    return macState >= MacState::Sent;
}

bool Outcome::macUsedUp() const
{
    return macSource != MacSource::AsLoaded
        && (macState == MacState::Sent || macState == MacState::NotVerified);
}

QJsonObject Outcome::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("exit"), exitCode);
    object.insert(QStringLiteral("message"), message.split(QLatin1Char('\n')).join(QStringLiteral("; ")));
    object.insert(QStringLiteral("groups"), QJsonArray::fromStringList(groups));
    object.insert(QStringLiteral("mac"), textOrNull(mac));
    object.insert(QStringLiteral("cashDeskId"), textOrNull(cashDeskId));
    if (macState != MacState::None) {
        const bool sent = macSent();
        object.insert(QStringLiteral("macConfirmed"),
                      sent ? QJsonValue(macState >= MacState::Confirmed) : QJsonValue());
        object.insert(QStringLiteral("macVerified"),
                      sent && macReadBack ? QJsonValue(macState == MacState::Verified) : QJsonValue());
    }
    return object;
}

QString Outcome::macStateText() const
{
    switch (macState) {
    case MacState::Confirmed:
        return QStringLiteral("confirmed");
    case MacState::Verified:
        return QStringLiteral("confirmed, verified");
    case MacState::NotVerified:
        return QStringLiteral("confirmed, not verified");
    default:
        return QStringLiteral("sent, not confirmed");
    }
}

QString Outcome::summary(int unit, bool json) const
{
    if (json) {
        QJsonObject object = toJson();
        if (unit > 0)
            object.insert(QStringLiteral("unit"), unit);
        return jsonLine(object);
    }
    const QString result = exitCode == ExitOk
        ? QStringLiteral("ok")
        : QStringLiteral("failed (exit %1: %2)")
              .arg(exitCode)
              .arg(message.split(QLatin1Char('\n')).join(QStringLiteral(", ")));
    const auto shown = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    const QString shownMac = mac.isEmpty() ? QStringLiteral("-")
                                           : QStringLiteral("%1 (%2)").arg(mac, macStateText());
    return QStringLiteral("unit %1: %2; MAC %3; cash-desk ID %4\n")
        .arg(unit)
        .arg(result, shownMac, shown(cashDeskId));
}
