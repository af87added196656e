#include "simulatorfleet.h"

#include "simulatorserver.h"

#include "hextext.h"
#include "protocol.h"
#include "records.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

constexpr quint32 LoopbackNet = 0x7F000000;     // 127.0.0.0/8
// The /8's own network and broadcast addresses are left out: not every system binds them.
constexpr quint32 LowestUnit = LoopbackNet + 1;
constexpr quint32 HighestUnit = LoopbackNet + 0x00FFFFFE;

// Each unit keeps this many request frames in memory; the log file has them all.
constexpr int FramesKeptPerUnit = 100;

constexpr quint64 MacSpace = quint64(1) << 48;
constexpr quint64 CashDeskIdSpace = 10000000000ULL;     // ten BCD digits

// A generator whose every output is fixed by its seed on every system and compiler, so that a
// share names the same units wherever the fleet runs.
quint64 splitMix(quint64 *state)
{
    quint64 z = (*state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

bool fail(QString *error, const QString &why)
{
    *error = why;
    return false;
}

bool holds(const QByteArray &block, std::size_t offset, std::size_t size)
{
    return std::size_t(block.size()) >= offset + size;
}

} // namespace

QString SimulatorFleet::rangeError(const QHostAddress &first, int count)
{
    bool isIpv4 = false;
    const quint32 start = first.toIPv4Address(&isIpv4);
    if (!isIpv4 || (start & 0xFF000000) != LoopbackNet)
        return QStringLiteral("--units listens on loopback addresses only (127.0.0.0/8), not on %1")
            .arg(first.toString());
    if (count < 1 || count > MaxUnits)
        return QStringLiteral("--units expects 1 to %1 units").arg(MaxUnits);
    if (start < LowestUnit || quint64(start) + quint64(count) - 1 > HighestUnit)
        return QStringLiteral("%1 units from %2 run out of 127.0.0.0/8").arg(count).arg(first.toString());
    return QString();
}

bool SimulatorFleet::parseUnitList(const QString &text, int count, quint32 seed, QVector<int> *units,
                                   QString *error)
{
    static const QRegularExpression share(QStringLiteral("^([0-9]{1,3}(?:\\.[0-9]+)?)%$"));
    static const QRegularExpression item(QStringLiteral("^([0-9]{1,9})(?:-([0-9]{1,9}))?$"));
    QVector<int> chosen;
    const QRegularExpressionMatch shareMatch = share.match(text.trimmed());
    if (shareMatch.hasMatch()) {
        const double percent = shareMatch.captured(1).toDouble();
        if (percent <= 0 || percent > 100)
            return fail(error, QStringLiteral("\"%1\": a share is above 0% and at most 100%").arg(text));
        const int take = qMin(count, int(std::ceil(count * percent / 100 - 1e-9)));
        QVector<int> order(count);
        for (int i = 0; i < count; ++i)
            order[i] = i + 1;
        quint64 state = seed;
        for (int i = 0; i < take; ++i)
            std::swap(order[i], order[i + int(splitMix(&state) % quint64(count - i))]);
        chosen = order.mid(0, take);
    } else {
        const QStringList parts = text.split(QLatin1Char(','));
        for (const QString &part : parts) {
            const QRegularExpressionMatch match = item.match(part.trimmed());
            if (!match.hasMatch())
                return fail(error, QStringLiteral("\"%1\": expected unit numbers and ranges such as 3,10-19, or a share such as 5%").arg(text));
            const int from = match.captured(1).toInt();
            const int to = match.capturedLength(2) ? match.captured(2).toInt() : from;
            if (from < 1 || to < from)
                return fail(error, QStringLiteral("\"%1\": units count from 1, a range from low to high").arg(text));
            if (to > count)
                return fail(error, QStringLiteral("\"%1\": unit %2 is beyond the %3 units").arg(text).arg(to).arg(count));
            for (int unit = from; unit <= to; ++unit)
                chosen.append(unit);
        }
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    *units = chosen;
    return true;
}

UnitState SimulatorFleet::unitState(const UnitState &base, int index, const QHostAddress &address)
{
    UnitState state = base;
    const quint64 step = quint64(index - 1);

    QByteArray &ethernet = state.groups[Protocol::GroupEthernetSettings];
    const std::size_t ipAt = offsetof(EthernetSettings, ip);
    if (holds(ethernet, ipAt, 4)) {
        const quint32 ip = address.toIPv4Address();
        for (int i = 0; i < 4; ++i)
            ethernet[int(ipAt) + i] = char(ip >> (24 - 8 * i));
    }
    const std::size_t macAt = offsetof(EthernetSettings, mac);
    if (holds(ethernet, macAt, 6)) {
        quint64 mac = 0;
        for (int i = 0; i < 6; ++i)
            mac = (mac << 8) | quint8(ethernet.at(int(macAt) + i));
        mac = (mac + step) % MacSpace;
        for (int i = 0; i < 6; ++i)
            ethernet[int(macAt) + i] = char(mac >> (40 - 8 * i));
    }

    QByteArray &cashDesk = state.groups[Protocol::GroupCashDeskState];
    const std::size_t idAt = offsetof(CashDeskState, cashDeskId);
    if (holds(cashDesk, idAt, 5)) {
        // BCD, least significant byte first; a nibble above 9 counts as 9.
        quint64 id = 0;
        for (int i = 4; i >= 0; --i) {
            const quint8 byte = quint8(cashDesk.at(int(idAt) + i));
            id = id * 100 + qMin(byte >> 4, 9) * 10 + qMin(byte & 0x0F, 9);
        }
        id = (id + step) % CashDeskIdSpace;
        for (int i = 0; i < 5; ++i) {
            const int pair = int(id % 100);
            id /= 100;
            cashDesk[int(idAt) + i] = char(((pair / 10) << 4) | (pair % 10));
        }
    }
    return state;
}

SimulatorFleet::SimulatorFleet(const QHostAddress &first, int count, const UnitState &state,
                               QObject *parent)
    : QObject(parent),
      firstAddress(first.toIPv4Address()),
      offline(count, false)
{
    units.reserve(count);
    for (int index = 1; index <= count; ++index) {
        auto *server = new SimulatorServer(this);
        const UnitState own = unitState(state, index, address(index));
        server->engine().setInitialState(own);
        server->engine().setState(own);
        server->engine().setRequestLogLimit(FramesKeptPerUnit);
        server->engine().setRequestObserver([this, index](const QByteArray &frame) { logRequest(index, frame); });
        server->setSharesLoop(true);
        units.append(server);
    }
}

SimulatorFleet::~SimulatorFleet()
{
    for (SimulatorServer *server : qAsConst(units))
        server->engine().setRequestObserver(nullptr);
}

QHostAddress SimulatorFleet::address(int index) const
{
    return QHostAddress(firstAddress + quint32(index - 1));
}

void SimulatorFleet::setBaudRate(int baud)
{
    for (SimulatorServer *server : qAsConst(units))
        server->setBaudRate(baud);
}

void SimulatorFleet::setOffline(const QVector<int> &indices)
{
    for (int index : indices)
        offline[index - 1] = true;
}

bool SimulatorFleet::setLogFile(const QString &path)
{
    delete logFile;
    logFile = SimulatorServer::openRequestLog(path, this, lastError);
    return logFile != nullptr;
}

void SimulatorFleet::logRequest(int index, const QByteArray &frame)
{
    if (!logFile)
        return;
    logFile->write(QStringLiteral("%1 %2 %3\n").arg(index).arg(address(index).toString(), hexText(frame)).toLatin1());
    logFile->flush();
}

bool SimulatorFleet::listen(quint16 port)
{
    for (int index = 1; index <= size(); ++index) {
        if (isOffline(index))
            continue;
        if (!unit(index).listen(address(index), port)) {
            lastError = unit(index).errorString();
            return false;
        }
    }
    return true;
}

QByteArray SimulatorFleet::statesJson() const
{
    QJsonArray list;
    for (int index = 1; index <= size(); ++index) {
        list.append(QJsonObject{{QStringLiteral("unit"), index},
                                {QStringLiteral("address"), address(index).toString()},
                                {QStringLiteral("online"), !isOffline(index)},
                                {QStringLiteral("state"), units.at(index - 1)->engine().state().toJson()}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("units"), list}}).toJson(QJsonDocument::Indented);
}

bool SimulatorFleet::dumpStates(const QString &path)
{
    // A reader never sees half a dump: the file is replaced whole.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(statesJson()) >= 0 && file.commit())
        return true;
    lastError = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}
