#include "sim/cardframereader.h"
#include "link/framefields.h"

namespace {

constexpr quint8 AutoBaudByte = 0x55;

// "kip status", "device type" and "input sample rate" come from the host as bare
// requests (L = 3), shorter than the table's length for the type.
bool isBareRequest(int type)
{
    using Common::MessageType;
    const MessageType t = MessageType(type);
    return t == MessageType::KipStatus || t == MessageType::DeviceType || t == MessageType::InputSampleRate;
}

} // namespace

bool CardFrameReader::takesType(int type)
{
    using Common::MessageType;
    // Out of range, a type would wrap into the enumeration's byte.
    if (type < 0 || type >= Common::SerialMessage::TypeCount)
        return false;
    switch (MessageType(type)) {
    case MessageType::Restart: case MessageType::BootLoader: case MessageType::EchoData:
    case MessageType::KipStatus: case MessageType::QuorixControl: case MessageType::KipRoute:
    case MessageType::SyncSource: case MessageType::TransmitMode: case MessageType::DeviceType:
    case MessageType::InputSampleRate: case MessageType::CardStatus: case MessageType::UpdateFpga:
    case MessageType::ControlViaAudio: case MessageType::InputSrc: case MessageType::OutputSr:
    case MessageType::OptocoreVersion: case MessageType::OptocoreCommand: case MessageType::OptocoreUpdate:
    case MessageType::SampleRateOverride: case MessageType::MadiMode: case MessageType::RedundantState:
    case MessageType::MadiSmux: case MessageType::HydraId: case MessageType::OptocorePhase:
    case MessageType::OptocoreChannelCount:
        return true;
    default:
        return false;
    }
}

bool CardFrameReader::acceptsLength(int type, int length)
{
    if (!takesType(type) || length < 3 || length > 255)
        return false;
    if (Common::SerialMessage::hasVariablePayload(type))
        return true;
    return length == Common::SerialMessage::frameLength(type) || (length == 3 && isBareRequest(type));
}

void CardFrameReader::reset()
{
    pending.clear();
    resyncing = false;
    zeroRun = 0;
    previousWas55 = false;
}

void CardFrameReader::resynchronise()
{
    pending.clear();
    resyncing = true;
    zeroRun = 0;
    previousWas55 = false;
}

CardFrameReader::Result CardFrameReader::reject()
{
    resynchronise();
    return Rejected;
}

CardFrameReader::Result CardFrameReader::push(quint8 byte)
{
    if (resyncing) {
        if (byte == 0) {
            previousWas55 = false;
            if (++zeroRun >= ResyncZeroRun)
                resyncing = false;
            return Skipped;
        }
        zeroRun = 0;
        if (byte == AutoBaudByte && previousWas55) {
            reset();
            return AutoBaud;
        }
        previousWas55 = byte == AutoBaudByte;
        return Skipped;
    }

    if (pending.isEmpty()) {
        if (byte == 0)
            return Skipped;
        if (byte < 3)
            return reject();
        pending.append(char(byte));
        return NeedMore;
    }

    if (pending.size() == 1) {
        const int length = quint8(pending.at(0));
        if (length == AutoBaudByte && byte == AutoBaudByte) {
            pending.clear();
            return AutoBaud;
        }
        if (!acceptsLength(byte, length))
            return reject();
    }

    pending.append(char(byte));
    const int length = quint8(pending.at(0));
    if (pending.size() < length + 1)
        return NeedMore;

    if (Common::byteSum(pending.constData(), length) != byte)
        return reject();

    lastFrame = pending;
    pending.clear();
    lastMessage = Common::SerialMessage(quint8(lastFrame.at(1)), quint8(lastFrame.at(2)),
                                        lastFrame.mid(3, length - 3));
    return FrameReady;
}
