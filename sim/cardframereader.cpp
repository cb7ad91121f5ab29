#include "sim/cardframereader.h"
#include "link/messagetype.h"

namespace {

constexpr quint8 AutoBaudByte = 0x55;

// "kip status", "device type" and "input sample rate" come from the host as bare
// requests (L = 3), shorter than the table's length for the type.
bool isBareRequest(int type)
{
    return type == 30 || type == 36 || type == 37;
}

} // namespace

bool CardFrameReader::takesType(int type)
{
    switch (type) {
    case 1: case 4: case 5:
    case 30: case 31: case 32: case 33: case 35: case 36: case 37: case 38: case 39:
    case 44: case 45: case 46: case 47: case 48: case 49:
    case 52: case 53: case 54: case 55: case 56: case 57: case 58:
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
