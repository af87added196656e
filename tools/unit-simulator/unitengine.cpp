#include "unitengine.h"

#include "protocol.h"
#include "records.h"

#include <cstddef>

namespace {

// The unit's refusal of a well-formed but unacceptable write or service request, and the
// result byte that tells the configurator a status text has no more parts.
constexpr quint8 ResultRefused = 0x01;

// What badstx puts where the STX belongs: the STX with every bit flipped, a line gone bad.
constexpr quint8 CorruptStx = quint8(~Protocol::Stx);

// The in-memory log is for tests and short sessions; a simulator left running for days must
// not grow without bound.
constexpr int MaxLoggedRequests = 10000;

// Beyond the end of an "endless" status text the unit keeps talking in plain ASCII, which reads
// the same in Windows-1251.
QByteArray endlessPart(int index)
{
    return QByteArrayLiteral("part ") + QByteArray::number(index + 1);
}

quint8 checksum(const QByteArray &lengthAndData)
{
    quint8 sum = 0;
    for (char byte : lengthAndData)
        sum ^= quint8(byte);
    return sum;
}

bool validGprsWrite(const QByteArray &data)
{
    const int limits[] = {Protocol::MaxGprsStringBytes, Protocol::MaxGprsStringBytes,
                          Protocol::MaxGprsStringBytes, Protocol::MaxBalanceCodeBytes};
    int pos = int(offsetof(GprsSettings, apnLength));
    for (int limit : limits) {
        if (pos >= data.size())
            return false;
        const int length = quint8(data.at(pos));
        if (length > limit)
            return false;
        pos += 1 + length;
    }
    return pos == data.size();
}

} // namespace

struct UnitEngine::Effects
{
    bool nak = false;
    bool noAck = false;
    bool silent = false;
    bool badSum = false;
    bool badStx = false;
    bool badLen = false;
    bool shortData = false;
    bool endless = false;
    bool forget = false;
    int result = -1;
    int delayMs = 0;
    int gapMs = 0;
    int dripMs = 0;
    int priority = -1;
};

struct UnitEngine::Reply
{
    bool refused = false;
    QByteArray data;
};

UnitEngine::UnitEngine()
    : UnitEngine(UnitState::builtIn())
{
}

UnitEngine::UnitEngine(const UnitState &initial)
    : initial(initial), current(initial), requestLogLimit(MaxLoggedRequests)
{
}

void UnitEngine::restart()
{
    current = initial;
    activeFaults.clear();
    requestLog.clear();
    input.clear();
    dialogue = Dialogue();
}

bool UnitEngine::addFault(const QString &text, QString *error)
{
    UnitFault fault;
    if (!UnitFault::parse(text, &fault, error))
        return false;
    activeFaults.append(fault);
    return true;
}

bool UnitEngine::hasPartialInput(int channel) const
{
    return !input.value(channel).isEmpty();
}

void UnitEngine::discardPartialInput(int channel)
{
    input.remove(channel);
}

void UnitEngine::connectionLost(int channel)
{
    input.remove(channel);
    dialogue = Dialogue();
}

QByteArray UnitEngine::frame(const QByteArray &data)
{
    QByteArray bytes;
    bytes.reserve(data.size() + 3);
    bytes.append(char(Protocol::Stx));
    bytes.append(char(quint8(data.size())));
    bytes.append(data);
    bytes.append(char(checksum(bytes.mid(1))));
    return bytes;
}

QList<UnitAction> UnitEngine::feed(const QByteArray &bytes, int channel)
{
    QList<UnitAction> actions;
    QByteArray &buffer = input[channel];
    buffer.append(bytes);

    int pos = 0;
    for (;;) {
        // Whatever precedes an STX is line noise; a unit listens for the next frame start.
        while (pos < buffer.size() && quint8(buffer.at(pos)) != Protocol::Stx)
            ++pos;
        if (buffer.size() - pos < 2)
            break;
        const int frameSize = 2 + quint8(buffer.at(pos + 1)) + 1;
        if (buffer.size() - pos < frameSize)
            break;
        const QByteArray request = buffer.mid(pos, frameSize);
        pos += frameSize;
        actions += answerFrame(request);
    }
    buffer.remove(0, pos);
    if (buffer.isEmpty())
        input.remove(channel);
    return actions;
}

QList<UnitAction> UnitEngine::answerFrame(const QByteArray &request)
{
    while (requestLog.size() >= requestLogLimit)
        requestLog.removeFirst();
    requestLog.append(request);
    if (requestObserver)
        requestObserver(request);

    const QByteArray nak(1, char(Protocol::Nak));
    // A corrupt request is dropped whole and refused; the next frame starts after its CHK.
    if (checksum(request.mid(1, request.size() - 2)) != quint8(request.at(request.size() - 1)))
        return {UnitAction{0, nak}};

    const QByteArray data = request.mid(2, request.size() - 3);
    const Effects effects = effectsFor(data);
    if (effects.noAck)
        return {};
    if (effects.nak)
        return {UnitAction{0, nak}};

    const Reply reply = respond(data, effects);
    if (reply.refused)
        return {UnitAction{0, nak}};

    QList<UnitAction> actions{UnitAction{0, QByteArray(1, char(Protocol::Ack))}};
    if (effects.silent)
        return actions;

    QByteArray body = reply.data;
    if (effects.badLen && body.size() < Protocol::MaxFrameData)
        body.append('\0');
    if (effects.shortData && !body.isEmpty())
        body.chop(1);
    QByteArray response = frame(body);
    if (effects.badSum)
        response[response.size() - 1] = char(~quint8(response.at(response.size() - 1)));
    if (effects.badStx)
        response[0] = char(CorruptStx);

    if (effects.dripMs > 0) {
        for (int i = 0; i < response.size(); ++i) {
            const int pause = i == 0 ? effects.delayMs + effects.dripMs
                                     : qMax(effects.dripMs, i == 1 ? effects.gapMs : 0);
            actions.append(UnitAction{pause, response.mid(i, 1)});
        }
    } else if (effects.gapMs > 0) {
        actions.append(UnitAction{effects.delayMs, response.left(1)});
        actions.append(UnitAction{effects.gapMs, response.mid(1)});
    } else {
        actions.append(UnitAction{effects.delayMs, response});
    }
    return actions;
}

UnitEngine::Effects UnitEngine::effectsFor(const QByteArray &data) const
{
    Effects effects;
    for (const UnitFault &fault : activeFaults) {
        if (!fault.appliesTo(data))
            continue;
        switch (fault.kind) {
        case UnitFault::Nak: effects.nak = true; break;
        case UnitFault::NoAck: effects.noAck = true; break;
        case UnitFault::Silent: effects.silent = true; break;
        case UnitFault::BadSum: effects.badSum = true; break;
        case UnitFault::BadStx: effects.badStx = true; break;
        case UnitFault::BadLen: effects.badLen = true; break;
        case UnitFault::Short: effects.shortData = true; break;
        case UnitFault::Endless: effects.endless = true; break;
        case UnitFault::Forget: effects.forget = true; break;
        case UnitFault::Result: effects.result = fault.value; break;
        case UnitFault::Delay: effects.delayMs = qMax(effects.delayMs, fault.value); break;
        case UnitFault::Gap: effects.gapMs = qMax(effects.gapMs, fault.value); break;
        case UnitFault::Drip: effects.dripMs = qMax(effects.dripMs, fault.value); break;
        case UnitFault::Priority: effects.priority = fault.value; break;
        }
    }
    return effects;
}

UnitEngine::Reply UnitEngine::respond(const QByteArray &data, const Effects &effects)
{
    Reply reply;
    if (data.isEmpty()) {
        reply.refused = true;
        return reply;
    }
    const quint8 command = quint8(data.at(0));
    const quint8 argument = data.size() > 1 ? quint8(data.at(1)) : 0;
    if (command != Protocol::CmdContinue)
        dialogue = Dialogue();

    switch (command) {
    case Protocol::CmdReadGroup:
        if (data.size() != 2 || !current.groups.contains(argument)) {
            reply.refused = true;
        } else {
            reply.data = current.groups.value(argument);
            if (argument == Protocol::GroupChannelPriority && effects.priority >= 0) {
                if (reply.data.size() < int(sizeof(ChannelPriority)))
                    reply.data.append(QByteArray(int(sizeof(ChannelPriority)) - reply.data.size(), '\0'));
                reply.data[int(offsetof(ChannelPriority, priority))] = char(effects.priority);
            }
        }
        break;

    case Protocol::CmdWriteTimeouts:
    case Protocol::CmdWriteToken:
    case Protocol::CmdWriteServerAddress:
    case Protocol::CmdWriteGprsSettings:
    case Protocol::CmdWriteCashDeskId:
    case Protocol::CmdWriteEthernetSettings:
    case Protocol::CmdWriteChannelPriority:
    case Protocol::CmdWriteMac:
        reply.data = QByteArray(1, char(applyWrite(data, effects)));
        break;

    case Protocol::CmdReset: {
        int result = Protocol::ResultOk;
        if (data.size() != 2 || argument > Protocol::MaxResetKind)
            result = ResultRefused;
        else if (effects.result >= 0)
            result = effects.result;
        // Kinds 0 (everything) and 3 (settings) bring the settings back to the unit's defaults.
        if (result == Protocol::ResultOk && (argument == 0 || argument == 3))
            current.groups = initial.groups;
        reply.data = QByteArray(1, char(result));
        break;
    }

    case Protocol::CmdUnitStatus:
    case Protocol::CmdModemStatus:
        if (data.size() != 1) {
            reply.refused = true;
            break;
        }
        dialogue.open = true;
        dialogue.command = command;
        dialogue.endless = effects.endless;
        reply.data = nextStatusPart(effects);
        break;

    case Protocol::CmdContinue:
        if (data.size() != 1)
            reply.refused = true;
        else if (!dialogue.open)
            reply.data = QByteArray(1, char(ResultRefused));
        else
            reply.data = nextStatusPart(effects);
        break;

    case Protocol::CmdTest:
        if (data.size() != 2 || !current.testResponses.contains(argument)) {
            reply.refused = true;
        } else {
            reply.data = current.testResponses.value(argument);
            if (effects.result >= 0) {
                if (reply.data.isEmpty())
                    reply.data.append(char(effects.result));
                else
                    reply.data[0] = char(effects.result);
            }
        }
        break;

    default:
        // Includes 0x66 and 0x68: the unit knows no such commands.
        reply.refused = true;
        break;
    }
    return reply;
}

QByteArray UnitEngine::nextStatusPart(const Effects &effects)
{
    const QList<QByteArray> &parts =
        dialogue.command == Protocol::CmdUnitStatus ? current.unitStatus : current.modemStatus;
    const bool endless = dialogue.endless || effects.endless;
    if (dialogue.next >= parts.size() && !endless) {
        dialogue = Dialogue();
        return QByteArray(1, char(ResultRefused));
    }
    QByteArray part = parts.value(dialogue.next);
    if (part.isEmpty() && dialogue.next >= parts.size())
        part = endlessPart(dialogue.next);
    // An endless dialogue is bounded only by the configurator; keep the index from overflowing.
    dialogue.next = dialogue.next < (1 << 30) ? dialogue.next + 1 : 0;
    const char result = char(effects.result >= 0 ? effects.result : Protocol::ResultOk);
    return QByteArray(1, result) + part.left(Protocol::MaxFrameData - 1);
}

void UnitEngine::patchGroup(quint8 group, int offset, const QByteArray &bytes, int minimumSize)
{
    QByteArray &block = current.groups[group];
    if (block.size() < minimumSize)
        block.append(QByteArray(minimumSize - block.size(), '\0'));
    block.replace(offset, bytes.size(), bytes);
}

int UnitEngine::applyWrite(const QByteArray &data, const Effects &effects)
{
    const quint8 command = quint8(data.at(0));
    bool valid = false;
    switch (command) {
    case Protocol::CmdWriteTimeouts: valid = data.size() == int(sizeof(TimeoutSettings)); break;
    case Protocol::CmdWriteToken: valid = data.size() == int(sizeof(TokenRecord)); break;
    case Protocol::CmdWriteCashDeskId: valid = data.size() == int(sizeof(CashDeskIdRecord)); break;
    case Protocol::CmdWriteEthernetSettings: valid = data.size() == EthernetSettingsWriteSize; break;
    case Protocol::CmdWriteMac: valid = data.size() == int(sizeof(MacRecord)); break;
    case Protocol::CmdWriteGprsSettings: valid = validGprsWrite(data); break;
    case Protocol::CmdWriteChannelPriority:
        valid = data.size() == int(sizeof(ChannelPriority))
             && quint8(data.at(1)) <= Protocol::MaxPriority;
        break;
    case Protocol::CmdWriteServerAddress: {
        const int urlAt = int(offsetof(ServerAddress, url));
        if (data.size() >= urlAt) {
            const int urlLength = quint8(data.at(int(offsetof(ServerAddress, urlLength))));
            valid = urlLength <= Protocol::MaxUrlBytes && data.size() == urlAt + urlLength;
        }
        break;
    }
    }
    if (!valid)
        return ResultRefused;
    // A refused write leaves the setting as it was.
    if (effects.result >= 0 && effects.result != Protocol::ResultOk)
        return effects.result;
    if (effects.forget)
        return Protocol::ResultOk;

    const QByteArray payload = data.mid(1);
    switch (command) {
    case Protocol::CmdWriteTimeouts:
        patchGroup(Protocol::GroupTimeouts, 1, payload, int(sizeof(TimeoutSettings)));
        break;
    case Protocol::CmdWriteToken:
        patchGroup(Protocol::GroupCashDeskState, int(offsetof(CashDeskState, serverToken)), payload,
                   int(sizeof(CashDeskState)));
        break;
    case Protocol::CmdWriteCashDeskId:
        patchGroup(Protocol::GroupCashDeskState, int(offsetof(CashDeskState, cashDeskId)), payload,
                   int(sizeof(CashDeskState)));
        break;
    case Protocol::CmdWriteServerAddress: {
        // The unit keeps the whole record: a shorter URL leaves zeros behind, not the old tail.
        QByteArray &block = current.groups[Protocol::GroupServerAddress];
        const char first = block.isEmpty() ? '\0' : block.at(0);
        block = QByteArray(1, first) + payload;
        block.append(QByteArray(int(sizeof(ServerAddress)) - block.size(), '\0'));
        break;
    }
    case Protocol::CmdWriteGprsSettings:
        current.groups[Protocol::GroupGprsSettings] = QByteArray(2, '\0') + data.mid(2);
        break;
    case Protocol::CmdWriteEthernetSettings:
        patchGroup(Protocol::GroupEthernetSettings, 1, payload, int(sizeof(EthernetSettings)));
        break;
    case Protocol::CmdWriteChannelPriority:
        patchGroup(Protocol::GroupChannelPriority, 1, payload, int(sizeof(ChannelPriority)));
        break;
    case Protocol::CmdWriteMac:
        patchGroup(Protocol::GroupEthernetSettings, int(offsetof(EthernetSettings, mac)), payload,
                   int(sizeof(EthernetSettings)));
        break;
    }
    return Protocol::ResultOk;
}
