#include "sim/cardfirmware.h"

#include "link/kipport.h"
#include "link/messagetype.h"

#include <QTimer>
#include <QtEndian>

using EMS::KipPort;

namespace {

using Common::MessageType;

constexpr quint8 NotBootLoader = 0xAA;
constexpr quint8 OwnClock = 255;
constexpr quint8 FreeRun = 253;
constexpr int FpgaTextSize = 10;
constexpr int MaxOptocoreChannels = 128;
constexpr int LivingMinTemperature = 35;
constexpr int LivingMaxTemperature = 60;
// One chance in this many per tick that the living card drops a lock.
constexpr int LivingDropOdds = 20;

quint8 bcd(int value)
{
    return quint8(((value / 10) % 10) << 4 | (value % 10));
}

int bigEndian16(const QByteArray &bytes, int offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int value : values)
        bytes.append(char(value));
    return bytes;
}

} // namespace

RackState RackState::typical(quint8 type)
{
    RackState rack;
    rack.type = type;
    // Converters and AES in the first slots, an Ethernet card last.
    const quint8 cards[SlotCount] = {2, 2, 1, 1, 4, 3, 0, 2, 1, 7, 0, 0, 0, 9};
    const QVector<int> rackSlots = slotsOf(type);
    for (int slot : rackSlots)
        rack.slotCards[slot] = cards[slot];
    // The smallest racks have no supply monitoring; the others two supplies a little
    // above nominal.
    if (type >= 2 && type <= 6) {
        const quint8 a[RailCount] = {51, 72, 152, 150};
        const quint8 b[RailCount] = {50, 71, 151, 149};
        for (int rail = 0; rail < RailCount; ++rail) {
            rack.voltageTenths[0][rail] = a[rail];
            rack.voltageTenths[1][rail] = b[rail];
        }
    }
    return rack;
}

QVector<int> RackState::slotsOf(quint8 type)
{
    auto range = [](QVector<int> &rackSlots, int first, int count) {
        for (int i = 0; i < count; ++i)
            rackSlots.append(first + i);
    };
    QVector<int> rackSlots;
    switch (type) {
    case 1: case 2: range(rackSlots, 0, 7); range(rackSlots, 7, 7); break;
    case 3: range(rackSlots, 0, 4); range(rackSlots, 7, 2); break;
    case 4: range(rackSlots, 0, 4); break;
    case 5: range(rackSlots, 0, 2); break;
    case 6: range(rackSlots, 0, 6); range(rackSlots, 7, 4); break;
    default: break;
    }
    return rackSlots;
}

qint8 RackState::nominalVolts(int rail)
{
    static const qint8 volts[RailCount] = {5, 7, 15, -15};
    return rail >= 0 && rail < RailCount ? volts[rail] : 0;
}

CardFirmware::CardFirmware(QObject *parent)
    : QObject(parent)
    , livingClock(new QTimer(this))
{
    livingClock->setInterval(LivingIntervalMs);
    connect(livingClock, &QTimer::timeout, this, &CardFirmware::liveTick);
    resetState(KipPort::MadiBnc);
}

bool CardFirmware::isMadi(int cardType)
{
    return cardType == KipPort::MadiBnc || cardType == KipPort::MadiCat5;
}

int CardFirmware::inputCount(int cardType)
{
    switch (cardType) {
    case KipPort::MadiBnc:
    case KipPort::MadiCat5:
        return 2;
    case KipPort::Aes:
        return 8;
    case KipPort::Waves:
    case KipPort::Dante:
    case KipPort::Optocore:
    case KipPort::Hydra:
        return 1;
    default:
        return 0; // converters and output-only cards have no digital input
    }
}

CardState CardFirmware::defaultState(int cardType)
{
    CardState state;
    state.cardType = cardType;
    state.inputs.resize(inputCount(cardType));
    if (isMadi(cardType)) {
        state.inputs[0] = {48000, true};
        state.madi[0].rxChannels = 57;
        state.madi[0].deviceType = KipPort::DeviceRack;
        state.madi[0].rack = RackState::typical(2);
    } else if (cardType == KipPort::Aes) {
        for (int input = 0; input < 4; ++input)
            state.inputs[input] = {48000, true};
    } else if (!state.inputs.isEmpty()) {
        state.inputs[0] = {48000, true};
    }
    return state;
}

void CardFirmware::resetState(int cardType)
{
    card = defaultState(cardType);
    lockReturnTicks.fill(0, card.inputs.size());
    restartApplication();
}

void CardFirmware::restartApplication()
{
    reader.reset();
    fpgaDownload.reset();
    card.optocore.loader = OptocoreState::Loader();
    rememberReported();
}

void CardFirmware::rememberReported()
{
    // A card that starts has told the host nothing yet; what it reports on its own from
    // now on is measured against its state at the start.
    reportedBlock = cardStatusBlock();
    reportedSync = syncSourceInUse();
    for (int port = 0; port < 2; ++port)
        reportedTransmit[port] = transmittedChannels(port);
}

quint8 CardFirmware::transmittedChannels(int port) const
{
    const MadiPortState &madi = card.madi[port];
    if (madi.txTracksRx)
        return madi.rxChannels != 0 ? madi.rxChannels : 64;
    return madi.txChannels;
}

quint8 CardFirmware::syncSourceInUse() const
{
    if (!card.syncAuto)
        return card.syncSource;
    for (int input = 0; input < card.inputs.size(); ++input) {
        if (!card.inputs[input].locked)
            continue;
        if (isMadi(card.cardType) && input < 2 && card.madi[input].rxChannels == 0)
            continue;
        return quint8(input);
    }
    return OwnClock;
}

QByteArray CardFirmware::cardStatusBlock() const
{
    QByteArray block;
    switch (card.cardType) {
    case KipPort::MadiBnc:
    case KipPort::MadiCat5:
        for (int port = 0; port < 2; ++port)
            block.append(char(code(card.madi[port].rxChannels, 0x7F)));
        for (int port = 0; port < 2; ++port)
            block.append(char(transmittedChannels(port)));
        for (int port = 0; port < 2; ++port) {
            const MadiPortState &madi = card.madi[port];
            quint8 flags = 0;
            if (hasInput(port) && card.inputs[port].locked)
                flags |= 0x01;
            if (madi.txTracksRx)
                flags |= 0x02;
            if (madi.smux)
                flags |= 0x04;
            if (madi.controlViaAudio)
                flags |= 0x08;
            block.append(char(flags));
        }
        for (int port = 0; port < 2; ++port)
            block.append(char(code(card.madi[port].deviceType, 9)));
        block.append(char(code(card.madiPortMode, 7)));
        for (int port = 0; port < 2; ++port)
            block.append(char(code(card.madi[port].redundantState, 9)));
        block.append(char(code(card.sampleRateOverride, 9)));
        break;
    case KipPort::Aes:
        for (bool src : card.aesSrc)
            block.append(char(src ? 1 : 0));
        block.append(char(card.aesOutputRate));
        break;
    case KipPort::Optocore:
        block.append(char(card.optocore.networkId));
        block.append(card.optocore.settings.size() > 4 ? card.optocore.settings.at(4) : char(0));
        break;
    case KipPort::Hydra:
        block.append(char(code(card.hydraId, 0)));
        break;
    default:
        block.append(char(!card.inputs.isEmpty() && card.inputs[0].locked ? 1 : 0));
        break;
    }
    return block;
}

QByteArray CardFirmware::fpgaTextField() const
{
    QByteArray text;
    switch (fpgaTextFault) {
    case FpgaTextAsIs:
        text = card.fpgaVersion.left(FpgaTextSize);
        break;
    case FpgaTextUnterminated:
        text = "ABCDEFGHIJ";
        break;
    case FpgaTextNonAscii:
        text = bytesOf({'V', 0xC3, 0xA9, 0xFF, 0x80, '2', '.', '1'});
        break;
    case FpgaTextControlChars:
        text = bytesOf({'V', '\t', '2', '\r', '\n', '.', '1', 0x1B});
        break;
    }
    text.append(QByteArray(FpgaTextSize - text.size(), '\0'));
    return text;
}

QByteArray CardFirmware::kipStatusPayload() const
{
    QByteArray payload;
    payload.append(char(card.cardType));
    payload.append(char(card.firmwareVersion));
    payload.append(char(card.temperature));
    payload.append(fpgaTextField());
    payload.append(littleEndian32(card.sampleRate));
    payload.append(char(card.master ? 1 : 0));
    return payload;
}

QByteArray CardFirmware::fpgaVersionMark(const QByteArray &image)
{
    const int slash = image.indexOf('/');
    if (slash < 0)
        return QByteArray();
    QByteArray text = image.mid(qMax(0, slash - 4), FpgaTextSize);
    const int end = text.indexOf('\0');
    if (end >= 0)
        text.truncate(end);
    return text;
}

// ---- the link ----

void CardFirmware::receiveBytes(const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); ++i) {
        switch (reader.push(quint8(bytes.at(i)))) {
        case CardFrameReader::FrameReady:
            if (framesToReject > 0) {
                --framesToReject;
                sendError();
                reader.resynchronise();
            } else if (!takeFrame(reader.message())) {
                if (i + 1 < bytes.size())
                    emit bytesForBootLoader(bytes.mid(i + 1));
                return;
            }
            break;
        case CardFrameReader::AutoBaud:
            emit bytesToHost(QByteArray(1, char(NotBootLoader)));
            break;
        case CardFrameReader::Rejected:
            sendError();
            break;
        case CardFrameReader::NeedMore:
        case CardFrameReader::Skipped:
            break;
        }
        if (++bytesSinceClearToSend >= ClearToSendInterval) {
            bytesSinceClearToSend = 0;
            if (!clearToSendSuppressed)
                send(MessageType::ClearToSend, 0);
        }
    }
}

void CardFirmware::send(MessageType type, int param, const QByteArray &payload)
{
    // Replies are framed by the card itself: the host's encoder writes "kip status" as
    // a bare request and cannot carry the longer replies of fixed-length types.
    // A frame's length byte cannot count more than 252 payload bytes; a longer payload
    // (a version text set from outside, say) is cut rather than sent with a length byte
    // that wrapped and would throw the host's scanner off.
    const QByteArray body = payload.left(Common::SerialMessage::MaxVariablePayload);
    QByteArray frame;
    int length = 3 + int(body.size());
    if (!Common::SerialMessage::hasVariablePayload(int(type)))
        length = qMax(length, Common::SerialMessage::frameLength(int(type)));
    frame.append(char(length));
    frame.append(char(type));
    frame.append(char(param));
    frame.append(body);
    frame.append(QByteArray(length - frame.size(), '\0'));
    frame.append(char(Common::byteSum(frame)));
    emit bytesToHost(frame);
}

void CardFirmware::sendByte(MessageType type, int param, quint8 value)
{
    send(type, param, QByteArray(1, char(value)));
}

void CardFirmware::sendError()
{
    ++errorCount;
    send(MessageType::Error, 0);
}

bool CardFirmware::takeFrame(const Common::SerialMessage &message)
{
    ++frameCount;
    const int param = message.param;
    const QByteArray &data = message.data;
    const quint8 first = data.isEmpty() ? 0 : quint8(data.at(0));

    switch (message.messageType()) {
    case MessageType::Restart:
        emit restartRequested();
        restartApplication();
        return true;
    case MessageType::BootLoader:
        emit bootLoaderRequested();
        return false;
    case MessageType::EchoData:
        send(MessageType::EchoData, param, data);
        break;
    case MessageType::KipStatus:
        send(MessageType::KipStatus, 0, kipStatusPayload());
        break;
    case MessageType::QuorixControl:
        handleQuorixControl(message);
        break;
    case MessageType::KipRoute:
        if (data.size() >= 4)
            card.routes.insert(quint16(bigEndian16(data, 0)), quint16(bigEndian16(data, 2)));
        break;
    case MessageType::SyncSource:
        handleSyncSource(message);
        break;
    case MessageType::TransmitMode:
        handleTransmitMode(message);
        break;
    case MessageType::DeviceType:
        if (isMadi(card.cardType)) {
            sendDeviceType(0);
            sendDeviceType(1);
        }
        break;
    case MessageType::InputSampleRate:
        for (int input = 0; input < card.inputs.size(); ++input)
            sendSampleRate(input);
        break;
    case MessageType::CardStatus:
        sendCardStatus();
        sendInputReports();
        break;
    case MessageType::UpdateFpga:
        handleFpga(message);
        break;
    case MessageType::ControlViaAudio:
        if (hasMadiPort(param)) {
            card.madi[param].controlViaAudio = first != 0;
            sendByte(MessageType::ControlViaAudio, param, first != 0);
        }
        break;
    case MessageType::InputSrc:
        if (card.cardType == KipPort::Aes && param < 8) {
            card.aesSrc[param] = first != 0;
            sendByte(MessageType::InputSrc, param, first != 0);
        }
        break;
    case MessageType::OutputSr:
        if (card.cardType == KipPort::Aes)
            card.aesOutputRate = first;
        break;
    case MessageType::OptocoreVersion:
        if (card.cardType == KipPort::Optocore)
            send(MessageType::OptocoreVersion, 0, card.optocore.version);
        break;
    case MessageType::OptocoreCommand:
        if (card.cardType == KipPort::Optocore) {
            const QVector<QByteArray> replies = optocoreModule.handleCommand(data);
            for (const QByteArray &reply : replies)
                send(MessageType::OptocoreCommand, 0, reply);
        }
        break;
    case MessageType::OptocoreUpdate:
        handleOptocoreUpdate(message);
        break;
    case MessageType::SampleRateOverride:
        card.sampleRateOverride = first;
        sendByte(MessageType::SampleRateOverride, 0, code(card.sampleRateOverride, 9));
        break;
    case MessageType::MadiMode:
        if (isMadi(card.cardType)) {
            if (first <= 1)
                card.madiPortMode = first;
            sendByte(MessageType::MadiMode, 0, code(card.madiPortMode, 7));
        }
        break;
    case MessageType::RedundantState:
        if (hasMadiPort(param)) {
            card.madi[param].redundantState = first;
            sendByte(MessageType::RedundantState, param, code(first, 9));
        }
        break;
    case MessageType::MadiSmux:
        if (hasMadiPort(param)) {
            card.madi[param].smux = first != 0;
            sendByte(MessageType::MadiSmux, param, first != 0);
        }
        break;
    case MessageType::HydraId:
        if (card.cardType == KipPort::Hydra) {
            // ID 0 is no Hydra network ID; the card keeps its own and says so.
            if (first != 0)
                card.hydraId = first;
            sendCardStatus();
        }
        break;
    case MessageType::OptocorePhase:
        if (card.cardType == KipPort::Optocore)
            card.optocore.phase += first != 0 ? 1 : -1;
        break;
    case MessageType::OptocoreChannelCount:
        if (card.cardType == KipPort::Optocore && param <= 1 && data.size() >= 2) {
            // The ring moves channels in groups of eight, at most 128 per port.
            const auto clamp = [](quint8 count) { return quint8(qMin(int(count), MaxOptocoreChannels) & ~7); };
            card.optocore.inserted[param] = clamp(quint8(data.at(0)));
            card.optocore.extracted[param] = clamp(quint8(data.at(1)));
            send(MessageType::OptocoreChannelCount, param,
                 bytesOf({card.optocore.inserted[param], card.optocore.extracted[param]}));
        }
        break;
    default:
        break;
    }
    settle();
    return true;
}

void CardFirmware::handleSyncSource(const Common::SerialMessage &message)
{
    if (message.data.isEmpty())
        return;
    if (message.param != 0) {
        card.syncAuto = true;
    } else {
        const quint8 source = quint8(message.data.at(0));
        if (source >= FreeRun || source < card.inputs.size()) {
            card.syncAuto = false;
            card.syncSource = source;
        }
    }
    sendSync();
}

void CardFirmware::handleTransmitMode(const Common::SerialMessage &message)
{
    const int port = message.param;
    if (!hasMadiPort(port) || message.data.size() < 2)
        return;
    const bool track = message.data.at(0) != 0;
    const quint8 mode = quint8(message.data.at(1));
    MadiPortState &madi = card.madi[port];
    if (track || mode == 0) {
        madi.txTracksRx = true;
    } else if (mode == 57 || mode == 64) {
        madi.txTracksRx = false;
        madi.txChannels = mode;
    }
    sendTransmitMode(port);
}

void CardFirmware::handleQuorixControl(const Common::SerialMessage &message)
{
    const int port = message.param;
    if (!hasMadiPort(port))
        return;
    const MadiPortState &madi = card.madi[port];
    QByteArray record;
    if (madi.deviceType == KipPort::DeviceRack) {
        const RackState &rack = madi.rack;
        record.append(char(rack.type));
        for (quint8 slotCard : rack.slotCards)
            record.append(char(slotCard));
        record.append(bytesOf({bcd(rack.codeDay), bcd(rack.codeMonth), bcd(rack.codeYear / 100),
                               bcd(rack.codeYear % 100)}));
        for (const auto &supply : rack.voltageTenths)
            for (quint8 tenths : supply)
                record.append(char(tenths));
    }
    send(MessageType::QuorixControl, port, record);
}

void CardFirmware::refuseFpgaStep(int param, quint8 result)
{
    if (result == LoaderAck)
        fpgaRefusals.remove(param);
    else
        fpgaRefusals.insert(param, result);
}

void CardFirmware::refuseOptocoreUpdateStep(int param, quint8 result)
{
    if (result == LoaderAck)
        optocoreRefusals.remove(param);
    else
        optocoreRefusals.insert(param, result);
}

void CardFirmware::handleFpga(const Common::SerialMessage &message)
{
    const int param = message.param;
    const QByteArray &data = message.data;
    if (fpgaRefusals.contains(param)) {
        const quint8 result = fpgaRefusals.take(param);
        if (param == 1)
            send(MessageType::UpdateFpga, param, PacketSequence::answer(result, data.size() >= 2 ? bigEndian16(data, 0) : 0));
        else
            sendByte(MessageType::UpdateFpga, param, result);
        return;
    }
    switch (param) {
    case 0: // erase, then expect the announced number of packets
        if (data.size() < 2) {
            sendByte(MessageType::UpdateFpga, 0, LoaderPacketLengthError);
        } else if (bigEndian16(data, 0) == 0) {
            fpgaDownload.reset();
            sendByte(MessageType::UpdateFpga, 0, LoaderFileSizeError);
        } else {
            fpgaDownload.start(bigEndian16(data, 0));
            sendByte(MessageType::UpdateFpga, 0, LoaderAck);
        }
        break;
    case 1: {
        QByteArray reply = fpgaDownload.take(data);
        if (fpgaAcksToMisnumber > 0 && quint8(reply.at(0)) == LoaderAck) {
            --fpgaAcksToMisnumber;
            reply = PacketSequence::answer(LoaderAck, (bigEndian16(reply, 1) - 1) & 0xFFFF);
        }
        send(MessageType::UpdateFpga, 1, reply);
        break;
    }
    case 2: {
        if (data.size() < 2) {
            sendByte(MessageType::UpdateFpga, 2, LoaderPacketLengthError);
            break;
        }
        if (!fpgaDownload.complete()) {
            sendByte(MessageType::UpdateFpga, 2, LoaderFileSizeError);
            break;
        }
        quint16 sum = 0;
        for (char byte : qAsConst(fpgaDownload.data))
            sum = quint16(sum + quint8(byte));
        if (sum != bigEndian16(data, 0)) {
            sendByte(MessageType::UpdateFpga, 2, LoaderFileChecksumError);
            break;
        }
        fpgaImage = fpgaDownload.data;
        card.fpgaVersion = fpgaVersionMark(fpgaImage);
        fpgaDownload.reset();
        sendByte(MessageType::UpdateFpga, 2, LoaderAck);
        break;
    }
    default:
        break;
    }
}

void CardFirmware::handleOptocoreUpdate(const Common::SerialMessage &message)
{
    if (card.cardType != KipPort::Optocore)
        return;
    const int param = message.param;
    if (optocoreRefusals.contains(param)) {
        const quint8 result = optocoreRefusals.take(param);
        if (param == 4)
            send(MessageType::OptocoreUpdate, param,
                 PacketSequence::answer(result, message.data.size() >= 2 ? bigEndian16(message.data, 0) : 0));
        else
            sendByte(MessageType::OptocoreUpdate, param, result);
        return;
    }
    QByteArray reply;
    if (optocoreModule.handleUpdate(param, message.data, &reply))
        send(MessageType::OptocoreUpdate, param, reply);
}

// ---- reports ----

void CardFirmware::sendSampleRate(int input)
{
    send(MessageType::InputSampleRate, input, littleEndian32(card.inputs[input].sampleRate));
}

void CardFirmware::sendLock(int input)
{
    sendByte(MessageType::RxClockLocked, input, card.inputs[input].locked);
}

void CardFirmware::sendSync()
{
    reportedSync = syncSourceInUse();
    sendByte(MessageType::SyncSource, card.syncAuto ? 1 : 0, code(quint8(reportedSync), 200));
}

void CardFirmware::sendTransmitMode(int port)
{
    reportedTransmit[port] = transmittedChannels(port);
    send(MessageType::TransmitMode, port,
         bytesOf({card.madi[port].txTracksRx ? 1 : 0, code(quint8(reportedTransmit[port]), 99)}));
}

void CardFirmware::sendDeviceType(int port)
{
    sendByte(MessageType::DeviceType, port, code(card.madi[port].deviceType, 9));
    if (card.madi[port].deviceType == KipPort::DeviceRack)
        sendRackInfo(port);
}

void CardFirmware::sendRackInfo(int port)
{
    const RackState &rack = card.madi[port].rack;
    // The type goes first: the host redraws the rack's rackSlots when it learns the type.
    sendByte(MessageType::RackType, port, code(rack.type, 9));
    const QVector<int> rackSlots = RackState::slotsOf(rack.type);
    for (int slot : rackSlots)
        send(MessageType::RackSlotType, port, bytesOf({slot, code(rack.slotCards[slot], 0x7F)}));
    send(MessageType::RackCodeDate, port,
         bytesOf({bcd(rack.codeDay), bcd(rack.codeMonth), bcd(rack.codeYear / 100), bcd(rack.codeYear % 100)}));
    for (int supply = 0; supply < RackState::SupplyCount; ++supply) {
        for (int rail = 0; rail < RackState::RailCount; ++rail) {
            const quint8 tenths = rack.voltageTenths[supply][rail];
            if (tenths != 0)
                send(MessageType::RackVoltage, port, bytesOf({supply, RackState::nominalVolts(rail), tenths}));
        }
    }
}

void CardFirmware::sendCardStatus()
{
    reportedBlock = cardStatusBlock();
    send(MessageType::CardStatus, card.cardType, reportedBlock);
}

void CardFirmware::sendInputReports()
{
    for (int input = 0; input < card.inputs.size(); ++input) {
        sendSampleRate(input);
        sendLock(input);
    }
    if (isMadi(card.cardType)) {
        for (int port = 0; port < 2; ++port) {
            const MadiPortState &madi = card.madi[port];
            sendTransmitMode(port);
            sendByte(MessageType::MadiSmux, port, madi.smux);
            sendByte(MessageType::ControlViaAudio, port, madi.controlViaAudio);
            sendByte(MessageType::RedundantState, port, code(madi.redundantState, 9));
        }
        sendByte(MessageType::MadiMode, 0, code(card.madiPortMode, 7));
        sendByte(MessageType::SampleRateOverride, 0, code(card.sampleRateOverride, 9));
    } else if (card.cardType == KipPort::Aes) {
        for (int input = 0; input < 8; ++input)
            sendByte(MessageType::InputSrc, input, card.aesSrc[input]);
    } else if (card.cardType == KipPort::Optocore) {
        for (int port = 0; port < 2; ++port)
            send(MessageType::OptocoreChannelCount, port, bytesOf({card.optocore.inserted[port], card.optocore.extracted[port]}));
    }
    sendSync();
}

void CardFirmware::settle()
{
    if (isMadi(card.cardType)) {
        for (int port = 0; port < 2; ++port) {
            if (transmittedChannels(port) != reportedTransmit[port])
                sendTransmitMode(port);
        }
    }
    if (syncSourceInUse() != reportedSync)
        sendSync();
    if (cardStatusBlock() != reportedBlock)
        sendCardStatus();
}

// ---- changes from outside ----

void CardFirmware::setTemperature(quint8 celsius)
{
    card.temperature = celsius;
}

void CardFirmware::setSampleRate(quint32 hertz)
{
    card.sampleRate = hertz;
}

void CardFirmware::setMaster(bool master)
{
    card.master = master;
}

void CardFirmware::setInputSampleRate(int input, quint32 hertz)
{
    if (!hasInput(input))
        return;
    card.inputs[input].sampleRate = hertz;
    sendSampleRate(input);
    settle();
}

void CardFirmware::setReceiveLocked(int input, bool locked)
{
    if (!hasInput(input) || card.inputs[input].locked == locked)
        return;
    card.inputs[input].locked = locked;
    sendLock(input);
    settle();
}

void CardFirmware::setRxChannels(int madiPort, quint8 channelByte)
{
    if (!hasMadiPort(madiPort))
        return;
    card.madi[madiPort].rxChannels = channelByte;
    settle();
}

void CardFirmware::plugRack(int madiPort, const RackState &rack, quint32 hertz)
{
    if (!hasMadiPort(madiPort))
        return;
    MadiPortState &madi = card.madi[madiPort];
    madi.deviceType = KipPort::DeviceRack;
    madi.rack = rack;
    madi.rxChannels = 57;
    card.inputs[madiPort] = {hertz, true};
    // The stream first: the host trusts rack reports only on a port that receives
    // the rack's 57-channel format.
    sendCardStatus();
    sendLock(madiPort);
    sendSampleRate(madiPort);
    sendDeviceType(madiPort);
    settle();
}

void CardFirmware::plugDevice(int madiPort, quint8 deviceType, quint8 channelByte, quint32 hertz)
{
    if (deviceType == KipPort::DeviceRack) {
        plugRack(madiPort, RackState::typical(2), hertz);
        return;
    }
    if (!hasMadiPort(madiPort))
        return;
    MadiPortState &madi = card.madi[madiPort];
    madi.deviceType = deviceType;
    madi.rxChannels = channelByte;
    card.inputs[madiPort] = {hertz, channelByte != 0};
    sendCardStatus();
    sendLock(madiPort);
    sendSampleRate(madiPort);
    sendDeviceType(madiPort);
    settle();
}

void CardFirmware::unplug(int madiPort)
{
    if (!hasMadiPort(madiPort))
        return;
    MadiPortState &madi = card.madi[madiPort];
    madi.deviceType = KipPort::DeviceNone;
    madi.rxChannels = 0;
    card.inputs[madiPort] = {0, false};
    sendDeviceType(madiPort);
    sendLock(madiPort);
    sendSampleRate(madiPort);
    settle();
}

void CardFirmware::setRackSlotCard(int madiPort, int slot, quint8 cardCode)
{
    if (!hasMadiPort(madiPort) || card.madi[madiPort].deviceType != KipPort::DeviceRack)
        return;
    RackState &rack = card.madi[madiPort].rack;
    if (!RackState::slotsOf(rack.type).contains(slot))
        return;
    rack.slotCards[slot] = cardCode;
    send(MessageType::RackSlotType, madiPort, bytesOf({slot, code(cardCode, 0x7F)}));
}

void CardFirmware::setRackVoltage(int madiPort, int supply, int rail, quint8 tenths)
{
    if (!hasMadiPort(madiPort) || card.madi[madiPort].deviceType != KipPort::DeviceRack)
        return;
    if (supply < 0 || supply >= RackState::SupplyCount || rail < 0 || rail >= RackState::RailCount)
        return;
    card.madi[madiPort].rack.voltageTenths[supply][rail] = tenths;
    send(MessageType::RackVoltage, madiPort, bytesOf({supply, RackState::nominalVolts(rail), tenths}));
}

// ---- the living card ----

void CardFirmware::setLiving(bool on)
{
    if (on)
        livingClock->start();
    else
        livingClock->stop();
}

bool CardFirmware::isLiving() const
{
    return livingClock->isActive();
}

void CardFirmware::liveTick()
{
    const int old = card.temperature;
    const int drifted = old + int(random.bounded(3)) - 1;
    card.temperature = quint8(qBound(qMin(old, LivingMinTemperature), drifted, qMax(old, LivingMaxTemperature)));

    if (lockReturnTicks.size() != card.inputs.size())
        lockReturnTicks.fill(0, card.inputs.size());
    for (int input = 0; input < card.inputs.size(); ++input) {
        if (lockReturnTicks[input] > 0 && --lockReturnTicks[input] == 0)
            setReceiveLocked(input, true);
    }

    if (random.bounded(LivingDropOdds) != 0)
        return;
    QVector<int> candidates;
    for (int input = 0; input < card.inputs.size(); ++input) {
        if (card.inputs[input].locked && lockReturnTicks[input] == 0)
            candidates.append(input);
    }
    if (candidates.isEmpty())
        return;
    const int input = candidates.at(int(random.bounded(candidates.size())));
    lockReturnTicks[input] = 2 + int(random.bounded(4));
    setReceiveLocked(input, false);
}
