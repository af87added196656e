#include "unitstate.h"

#include "hextext.h"
#include "protocol.h"
#include "records.h"
#include "windows1251.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <cstddef>
#include <cstring>

namespace {

// Status texts travel in the unit's own 8-bit code page.
QByteArray toUnitText(const QString &text)
{
    return Windows1251::fromUnicode(text);
}

template <typename Record>
QByteArray recordBytes(const Record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(Record)));
}

// The group's current block as a record; a short block leaves the rest zero.
template <typename Record>
Record currentRecord(const UnitState &state, quint8 group)
{
    Record record = {};
    const QByteArray block = state.groups.value(group);
    std::memcpy(&record, block.constData(), size_t(qMin(block.size(), int(sizeof record))));
    return record;
}

bool parseBcd(const QString &digits, quint8 *out)
{
    static const QRegularExpression tenDigits(QStringLiteral("^[0-9]{10}$"));
    if (!tenDigits.match(digits).hasMatch())
        return false;
    // Least significant byte first; the high nibble is the more significant digit.
    for (int i = 0; i < 5; ++i) {
        const int pos = 8 - 2 * i;
        out[i] = quint8((digits.at(pos).digitValue() << 4) | digits.at(pos + 1).digitValue());
    }
    return true;
}

bool parseIp(const QString &text, quint8 *out)
{
    static const QRegularExpression dotted(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch match = dotted.match(text);
    if (!match.hasMatch())
        return false;
    quint8 bytes[4];
    for (int i = 0; i < 4; ++i) {
        const uint number = match.captured(i + 1).toUInt();
        if (number > 0xFF)
            return false;
        bytes[i] = quint8(number);
    }
    std::memcpy(out, bytes, sizeof bytes);
    return true;
}

bool parseMac(const QString &text, quint8 *out)
{
    static const QRegularExpression mac(
        QStringLiteral("^([0-9A-Fa-f]{2})[-:]([0-9A-Fa-f]{2})[-:]([0-9A-Fa-f]{2})[-:]"
                       "([0-9A-Fa-f]{2})[-:]([0-9A-Fa-f]{2})[-:]([0-9A-Fa-f]{2})$"));
    const QRegularExpressionMatch match = mac.match(text);
    if (!match.hasMatch())
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = quint8(match.captured(i + 1).toUInt(nullptr, 16));
    return true;
}

QByteArray gprsBlock(const QByteArray &apn, const QByteArray &login, const QByteArray &password,
                     const QByteArray &balanceCode)
{
    QByteArray data(2, '\0');
    for (const QByteArray *field : {&apn, &login, &password, &balanceCode}) {
        data.append(char(field->size()));
        data.append(*field);
    }
    return data;
}

// Walks a JSON object, remembering the path for error messages and refusing keys it does not
// know, so a misspelt field is reported instead of silently keeping the default.
class Reader
{
public:
    Reader(const QJsonObject &object, const QString &path, QString *error)
        : object(object), path(path), error(error) {}

    bool onlyKeys(const QStringList &known)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!known.contains(it.key()))
                return fail(it.key(), QStringLiteral("unknown field"));
        }
        return true;
    }

    bool has(const QString &key) const { return object.contains(key); }

    bool integer(const QString &key, int min, int max, int *out)
    {
        if (!has(key))
            return true;
        const QJsonValue value = object.value(key);
        const double number = value.toDouble();
        // Range first: converting a double beyond the integer range is undefined.
        if (!value.isDouble() || !(number >= min && number <= max)
            || number != double(qint64(number)))
            return fail(key, QStringLiteral("expected a whole number from %1 to %2").arg(min).arg(max));
        *out = int(number);
        return true;
    }

    bool boolean(const QString &key, bool *out)
    {
        if (!has(key))
            return true;
        if (!object.value(key).isBool())
            return fail(key, QStringLiteral("expected true or false"));
        *out = object.value(key).toBool();
        return true;
    }

    bool string(const QString &key, int maxBytes, QByteArray *utf8)
    {
        if (!has(key))
            return true;
        if (!object.value(key).isString())
            return fail(key, QStringLiteral("expected a string"));
        const QByteArray bytes = object.value(key).toString().toUtf8();
        if (bytes.size() > maxBytes)
            return fail(key, QStringLiteral("longer than %1 bytes").arg(maxBytes));
        *utf8 = bytes;
        return true;
    }

    bool hex(const QString &key, int minBytes, int maxBytes, QByteArray *out)
    {
        if (!has(key))
            return true;
        bool ok = false;
        const QByteArray bytes = unitsimFromHex(object.value(key).toString(), &ok);
        if (!object.value(key).isString() || !ok)
            return fail(key, QStringLiteral("expected hex bytes such as \"00 4B\""));
        if (bytes.size() < minBytes || bytes.size() > maxBytes)
            return fail(key, QStringLiteral("expected %1 to %2 bytes").arg(minBytes).arg(maxBytes));
        *out = bytes;
        return true;
    }

    template <typename Parse>
    bool text(const QString &key, Parse parse, const QString &expected)
    {
        if (!has(key))
            return true;
        if (!object.value(key).isString() || !parse(object.value(key).toString()))
            return fail(key, QStringLiteral("expected ") + expected);
        return true;
    }

    bool child(const QString &key, QJsonObject *out)
    {
        if (!object.value(key).isObject())
            return fail(key, QStringLiteral("expected an object"));
        *out = object.value(key).toObject();
        return true;
    }

    QString childPath(const QString &key) const { return path.isEmpty() ? key : path + '.' + key; }

    bool fail(const QString &key, const QString &why)
    {
        *error = childPath(key) + QStringLiteral(": ") + why;
        return false;
    }

    QJsonObject object;
    QString path;
    QString *error;
};

bool readStatusParts(Reader &parent, const QString &key, QList<QByteArray> *parts)
{
    if (!parent.has(key))
        return true;
    const QJsonValue value = parent.object.value(key);
    if (!value.isArray())
        return parent.fail(key, QStringLiteral("expected an array of strings or {\"hex\": ...}"));
    QList<QByteArray> result;
    const QJsonArray array = value.toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QJsonValue part = array.at(i);
        const QString where = QStringLiteral("%1[%2]").arg(key).arg(i);
        if (part.isString()) {
            result.append(toUnitText(part.toString()));
        } else if (part.isObject() && part.toObject().keys() == QStringList{QStringLiteral("hex")}) {
            bool ok = false;
            result.append(unitsimFromHex(part.toObject().value(QStringLiteral("hex")).toString(), &ok));
            if (!ok)
                return parent.fail(where, QStringLiteral("bad hex bytes"));
        } else {
            return parent.fail(where, QStringLiteral("expected a string or {\"hex\": ...}"));
        }
        if (result.last().size() >= Protocol::MaxFrameData)
            return parent.fail(where, QStringLiteral("a part must fit one frame"));
    }
    *parts = result;
    return true;
}

bool readState(const QJsonObject &root, UnitState *state, QString *error)
{
    Reader top(root, QString(), error);
    if (!top.onlyKeys({QStringLiteral("timeouts"), QStringLiteral("server"), QStringLiteral("gprs"),
                       QStringLiteral("ethernet"), QStringLiteral("cashDesk"),
                       QStringLiteral("priority"), QStringLiteral("unitStatus"),
                       QStringLiteral("modemStatus"), QStringLiteral("tests"),
                       QStringLiteral("groups")}))
        return false;
    QJsonObject object;

    if (top.has(QStringLiteral("timeouts"))) {
        if (!top.child(QStringLiteral("timeouts"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("timeouts")), error);
        TimeoutSettings rec = currentRecord<TimeoutSettings>(*state, Protocol::GroupTimeouts);
        int full = le16(rec.fullTimeout), command = le16(rec.commandTimeout),
            retry = le16(rec.retryPeriod);
        if (!r.onlyKeys({QStringLiteral("full"), QStringLiteral("command"), QStringLiteral("retry")})
            || !r.integer(QStringLiteral("full"), 0, 0xFFFF, &full)
            || !r.integer(QStringLiteral("command"), 0, 0xFFFF, &command)
            || !r.integer(QStringLiteral("retry"), 0, 0xFFFF, &retry))
            return false;
        setLe16(rec.fullTimeout, quint16(full));
        setLe16(rec.commandTimeout, quint16(command));
        setLe16(rec.retryPeriod, quint16(retry));
        state->groups[Protocol::GroupTimeouts] = recordBytes(rec);
    }

    if (top.has(QStringLiteral("server"))) {
        if (!top.child(QStringLiteral("server"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("server")), error);
        ServerAddress rec = currentRecord<ServerAddress>(*state, Protocol::GroupServerAddress);
        int port = le16(rec.port);
        QByteArray url(reinterpret_cast<const char *>(rec.url), qMin(int(rec.urlLength), int(sizeof rec.url)));
        if (!r.onlyKeys({QStringLiteral("ip"), QStringLiteral("port"), QStringLiteral("url")})
            || !r.text(QStringLiteral("ip"), [&](const QString &t) { return parseIp(t, rec.ip); },
                       QStringLiteral("a dotted IPv4 address"))
            || !r.integer(QStringLiteral("port"), 0, 0xFFFF, &port)
            || !r.string(QStringLiteral("url"), Protocol::MaxUrlBytes, &url))
            return false;
        setLe16(rec.port, quint16(port));
        rec.urlLength = quint8(url.size());
        std::memset(rec.url, 0, sizeof rec.url);
        std::memcpy(rec.url, url.constData(), size_t(url.size()));
        state->groups[Protocol::GroupServerAddress] = recordBytes(rec);
    }

    if (top.has(QStringLiteral("gprs"))) {
        if (!top.child(QStringLiteral("gprs"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("gprs")), error);
        QByteArray apn, login, password, balanceCode;
        // Start from the unit's current strings, so a file may change only one of them.
        const QByteArray current = state->groups.value(Protocol::GroupGprsSettings);
        int pos = 2;
        for (QByteArray *field : {&apn, &login, &password, &balanceCode}) {
            const int length = pos < current.size() ? quint8(current.at(pos)) : 0;
            *field = current.mid(pos + 1, length);
            pos += 1 + length;
        }
        if (!r.onlyKeys({QStringLiteral("apn"), QStringLiteral("login"), QStringLiteral("password"),
                         QStringLiteral("balanceCode")})
            || !r.string(QStringLiteral("apn"), Protocol::MaxGprsStringBytes, &apn)
            || !r.string(QStringLiteral("login"), Protocol::MaxGprsStringBytes, &login)
            || !r.string(QStringLiteral("password"), Protocol::MaxGprsStringBytes, &password)
            || !r.string(QStringLiteral("balanceCode"), Protocol::MaxBalanceCodeBytes, &balanceCode))
            return false;
        state->groups[Protocol::GroupGprsSettings] = gprsBlock(apn, login, password, balanceCode);
    }

    if (top.has(QStringLiteral("ethernet"))) {
        if (!top.child(QStringLiteral("ethernet"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("ethernet")), error);
        EthernetSettings rec = currentRecord<EthernetSettings>(*state, Protocol::GroupEthernetSettings);
        bool dhcp = rec.dhcp != 0;
        const QString ipText = QStringLiteral("a dotted IPv4 address");
        if (!r.onlyKeys({QStringLiteral("ip"), QStringLiteral("mask"), QStringLiteral("gateway"),
                         QStringLiteral("dns"), QStringLiteral("dhcp"), QStringLiteral("mac")})
            || !r.text(QStringLiteral("ip"), [&](const QString &t) { return parseIp(t, rec.ip); }, ipText)
            || !r.text(QStringLiteral("mask"), [&](const QString &t) { return parseIp(t, rec.mask); }, ipText)
            || !r.text(QStringLiteral("gateway"), [&](const QString &t) { return parseIp(t, rec.gateway); }, ipText)
            || !r.text(QStringLiteral("dns"), [&](const QString &t) { return parseIp(t, rec.dns); }, ipText)
            || !r.boolean(QStringLiteral("dhcp"), &dhcp)
            || !r.text(QStringLiteral("mac"), [&](const QString &t) { return parseMac(t, rec.mac); },
                       QStringLiteral("six hex pairs such as 00-1a-2b-3c-4d-5e")))
            return false;
        rec.dhcp = dhcp ? 1 : 0;
        state->groups[Protocol::GroupEthernetSettings] = recordBytes(rec);
    }

    if (top.has(QStringLiteral("cashDesk"))) {
        if (!top.child(QStringLiteral("cashDesk"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("cashDesk")), error);
        CashDeskState rec = currentRecord<CashDeskState>(*state, Protocol::GroupCashDeskState);
        QByteArray unitBytes(reinterpret_cast<const char *>(rec.unitState), sizeof rec.unitState);
        const QString bcdText = QStringLiteral("exactly 10 decimal digits");
        if (!r.onlyKeys({QStringLiteral("id"), QStringLiteral("token"), QStringLiteral("unitState")})
            || !r.text(QStringLiteral("id"), [&](const QString &t) { return parseBcd(t, rec.cashDeskId); }, bcdText)
            || !r.text(QStringLiteral("token"), [&](const QString &t) { return parseBcd(t, rec.serverToken); }, bcdText)
            || !r.hex(QStringLiteral("unitState"), int(sizeof rec.unitState), int(sizeof rec.unitState), &unitBytes))
            return false;
        std::memcpy(rec.unitState, unitBytes.constData(), sizeof rec.unitState);
        state->groups[Protocol::GroupCashDeskState] = recordBytes(rec);
    }

    if (top.has(QStringLiteral("priority"))) {
        // Values above 3 are allowed on purpose: they let the engineer see the window refuse them.
        int priority = 0;
        if (!top.integer(QStringLiteral("priority"), 0, 0xFF, &priority))
            return false;
        ChannelPriority rec = currentRecord<ChannelPriority>(*state, Protocol::GroupChannelPriority);
        rec.priority = quint8(priority);
        state->groups[Protocol::GroupChannelPriority] = recordBytes(rec);
    }

    if (!readStatusParts(top, QStringLiteral("unitStatus"), &state->unitStatus)
        || !readStatusParts(top, QStringLiteral("modemStatus"), &state->modemStatus))
        return false;

    if (top.has(QStringLiteral("tests"))) {
        if (!top.child(QStringLiteral("tests"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("tests")), error);
        if (!r.onlyKeys({QStringLiteral("signal"), QStringLiteral("server")})
            || !r.hex(QStringLiteral("signal"), 0, Protocol::MaxFrameData,
                      &state->testResponses[Protocol::TestSignalLevel])
            || !r.hex(QStringLiteral("server"), 0, Protocol::MaxFrameData,
                      &state->testResponses[Protocol::TestServerResponse]))
            return false;
    }

    // Raw blocks come last and win: they are how a malformed answer is staged.
    if (top.has(QStringLiteral("groups"))) {
        if (!top.child(QStringLiteral("groups"), &object))
            return false;
        Reader r(object, top.childPath(QStringLiteral("groups")), error);
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool ok = false;
            const uint group = it.key().toUInt(&ok);
            if (!ok || !state->groups.contains(quint8(group)) || group > 0xFF)
                return r.fail(it.key(), QStringLiteral("not a group the unit answers (4, 6, 7, 8, 9, 10)"));
            if (!r.hex(it.key(), 0, Protocol::MaxFrameData, &state->groups[quint8(group)]))
                return false;
        }
    }
    return true;
}

} // namespace

QByteArray unitsimFromHex(const QString &text, bool *ok)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:-]")));
    static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    *ok = hexDigits.match(digits).hasMatch();
    return *ok ? QByteArray::fromHex(digits.toLatin1()) : QByteArray();
}

UnitState UnitState::builtIn()
{
    UnitState state;

    TimeoutSettings timeouts = {};
    setLe16(timeouts.fullTimeout, 1000);
    setLe16(timeouts.commandTimeout, 500);
    setLe16(timeouts.retryPeriod, 60);
    state.groups[Protocol::GroupTimeouts] = recordBytes(timeouts);

    ServerAddress server = {};
    parseIp(QStringLiteral("192.0.2.10"), server.ip);
    setLe16(server.port, 7777);
    const QByteArray url("reports.example.net");
    server.urlLength = quint8(url.size());
    std::memcpy(server.url, url.constData(), size_t(url.size()));
    state.groups[Protocol::GroupServerAddress] = recordBytes(server);

    state.groups[Protocol::GroupGprsSettings] =
        gprsBlock(QByteArrayLiteral("internet"), QByteArrayLiteral("guest"),
                  QByteArrayLiteral("guest"), QByteArrayLiteral("*100#"));

    EthernetSettings ethernet = {};
    parseIp(QStringLiteral("192.168.0.100"), ethernet.ip);
    parseIp(QStringLiteral("255.255.255.0"), ethernet.mask);
    parseIp(QStringLiteral("192.168.0.1"), ethernet.gateway);
    parseIp(QStringLiteral("8.8.8.8"), ethernet.dns);
    parseMac(QStringLiteral("00-1a-2b-3c-4d-5e"), ethernet.mac);
    state.groups[Protocol::GroupEthernetSettings] = recordBytes(ethernet);

    CashDeskState cashDesk = {};
    // The unit's own bookkeeping; the configurator never looks at it, but a live unit is never
    // all zeros here.
    const quint8 bookkeeping[] = {0x01, 0x02, 0x0E, 0x00, 0x00, 0x00, 0x17, 0x03,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    static_assert(sizeof bookkeeping == sizeof cashDesk.unitState, "unit bookkeeping size");
    std::memcpy(cashDesk.unitState, bookkeeping, sizeof bookkeeping);
    parseBcd(QStringLiteral("0000123456"), cashDesk.cashDeskId);
    parseBcd(QStringLiteral("1234567890"), cashDesk.serverToken);
    state.groups[Protocol::GroupCashDeskState] = recordBytes(cashDesk);

    ChannelPriority priority = {};
    priority.priority = 2;
    state.groups[Protocol::GroupChannelPriority] = recordBytes(priority);

    state.unitStatus = {toUnitText(QStringLiteral("БМКС: версия ПО 2.14")),
                        toUnitText(QStringLiteral("ККМ: на связи")),
                        toUnitText(QStringLiteral("Неотправленных документов: 0"))};
    state.modemStatus = {toUnitText(QStringLiteral("Модем: зарегистрирован в сети")),
                         toUnitText(QStringLiteral("Сеть: домашняя, GPRS подключен"))};

    state.testResponses[Protocol::TestSignalLevel] = QByteArray::fromHex("004B");
    state.testResponses[Protocol::TestServerResponse] = QByteArray::fromHex("0078");
    return state;
}

bool UnitState::fromJson(const QByteArray &json, UnitState *out, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("not valid JSON at offset %1: %2")
                     .arg(parseError.offset).arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("the top level must be an object");
        return false;
    }
    UnitState state = builtIn();
    if (!readState(document.object(), &state, error))
        return false;
    *out = state;
    return true;
}

bool UnitState::loadFile(const QString &path, UnitState *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    if (!fromJson(file.readAll(), out, error)) {
        *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

QString UnitState::jsonFormatHelp()
{
    return QStringLiteral(
        "State file (--state FILE.json): a JSON object; every field is optional and\n"
        "overrides the built-in unit. Strings are UTF-8; status parts are sent in\n"
        "Windows-1251; hex values are byte strings such as \"00 4B\".\n"
        "{\n"
        "  \"timeouts\":    {\"full\": 1000, \"command\": 500, \"retry\": 60},\n"
        "  \"server\":      {\"ip\": \"192.0.2.10\", \"port\": 7777, \"url\": \"reports.example.net\"},\n"
        "  \"gprs\":        {\"apn\": \"internet\", \"login\": \"guest\", \"password\": \"guest\",\n"
        "                  \"balanceCode\": \"*100#\"},\n"
        "  \"ethernet\":    {\"ip\": \"192.168.0.100\", \"mask\": \"255.255.255.0\",\n"
        "                  \"gateway\": \"192.168.0.1\", \"dns\": \"8.8.8.8\", \"dhcp\": false,\n"
        "                  \"mac\": \"00-1a-2b-3c-4d-5e\"},\n"
        "  \"cashDesk\":    {\"id\": \"0000123456\", \"token\": \"1234567890\",\n"
        "                  \"unitState\": \"15 hex bytes the configurator ignores\"},\n"
        "  \"priority\":    2,\n"
        "  \"unitStatus\":  [\"first part\", \"second part\", {\"hex\": \"CC EE E4 E5 EC\"}],\n"
        "  \"modemStatus\": [\"first part\", \"second part\"],\n"
        "  \"tests\":       {\"signal\": \"00 4B\", \"server\": \"00 78\"},\n"
        "  \"groups\":      {\"10\": \"00 04\"}\n"
        "}\n"
        "\"groups\" gives the raw data block a read of group 4, 6, 7, 8, 9 or 10 is\n"
        "answered with (any length, even a malformed one) and wins over the named fields.\n");
}

QJsonObject UnitState::toJson() const
{
    QJsonObject blocks;
    for (auto it = groups.begin(); it != groups.end(); ++it)
        blocks.insert(QString::number(it.key()), hexText(it.value()));
    const auto parts = [](const QList<QByteArray> &list) {
        QJsonArray array;
        for (const QByteArray &part : list)
            array.append(QJsonObject{{QStringLiteral("hex"), hexText(part)}});
        return array;
    };
    QJsonObject tests;
    if (testResponses.contains(Protocol::TestSignalLevel))
        tests.insert(QStringLiteral("signal"), hexText(testResponses.value(Protocol::TestSignalLevel)));
    if (testResponses.contains(Protocol::TestServerResponse))
        tests.insert(QStringLiteral("server"), hexText(testResponses.value(Protocol::TestServerResponse)));
    return QJsonObject{{QStringLiteral("groups"), blocks},
                       {QStringLiteral("unitStatus"), parts(unitStatus)},
                       {QStringLiteral("modemStatus"), parts(modemStatus)},
                       {QStringLiteral("tests"), tests}};
}

bool UnitState::operator==(const UnitState &other) const
{
    return groups == other.groups && unitStatus == other.unitStatus
        && modemStatus == other.modemStatus && testResponses == other.testResponses;
}
