#include "link/serialmessage.h"

#include <QStringList>

namespace Common {

namespace {

const char *const typeNames[SerialMessage::TypeCount] = {
    "status", "restart", "error", "calibration", "boot loader", "echo data",
    "led brightness", "fader position", "fader backstop", "fader detent", "fader mode",
    "led", "rgb led", "vu meter", "peak meter", "led fade time", "fader touch",
    "pot position", "rotary steps", "rotary touch", "switch", "buzz fader",
    "overbridge brightness",
    "", "", "", "", "", "", "",
    "kip status", "quorix control", "kip route", "sync source", "status block",
    "transmit mode", "device type", "input sample rate", "card status", "update fpga",
    "rack type", "rack slot type", "rack code date", "rack voltage", "control via audio",
    "input src", "output sr", "Optocore version", "Optocore command", "Optocore update",
    "clear to send", "rx clock locked", "sample rate override", "madi mode",
    "redundant state", "madi smux", "Hydra id", "Optocore phase", "Optocore channel count",
};

// Length byte of each type's frame; 3 + n types list their minimum, 3.
const int frameLengths[SerialMessage::TypeCount] = {
    6, 3, 3, 3, 3, 3, 4, 5, 5, 5, 4, 5, 7, 4, 4, 4, 4, 3, 4, 4, 4, 6, 4,
    0, 0, 0, 0, 0, 0, 0,
    16, 3, 7, 4, 26, 5, 4, 7, 3, 3, 4, 5, 7, 6, 4, 4, 4, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 5,
};

} // namespace

SerialMessage::SerialMessage(int type, int param, const QByteArray &data)
    : valid(true), type(type), param(param), data(data)
{
}

SerialMessage::SerialMessage(const QByteArray &frame)
{
    if (frame.size() < 4)
        return;
    const int length = quint8(frame.at(0));
    if (length + 1 != frame.size())
        return;
    const int frameType = quint8(frame.at(1));
    if (frameType >= TypeCount)
        return;
    if (length < frameLengths[frameType])
        return;
    if (quint8(frame.at(length)) != byteSum(frame.constData(), length))
        return;
    type = frameType;
    param = quint8(frame.at(2));
    if (frame.size() > 4)
        data = frame.mid(3, length - 3);
    valid = true;
}

bool SerialMessage::hasVariablePayload(int type)
{
    // Out of range, a type would wrap into the enumeration's byte.
    if (type < 0 || type >= TypeCount)
        return false;
    switch (MessageType(type)) {
    case MessageType::EchoData:
    case MessageType::QuorixControl:
    case MessageType::CardStatus:
    case MessageType::UpdateFpga:
    case MessageType::OptocoreCommand:
    case MessageType::OptocoreUpdate:
        return true;
    default:
        return false;
    }
}

int SerialMessage::encodedLength() const
{
    // The host's "status" and "kip status" frames are requests without payload,
    // although the card's replies are longer.
    if (messageType() == MessageType::Status || messageType() == MessageType::KipStatus)
        return 3;
    if (hasVariablePayload(type))
        return 3 + data.size();
    return frameLength(type);
}

bool SerialMessage::isEncodable() const
{
    if (!valid || type < 0 || type >= TypeCount)
        return false;
    const int length = encodedLength();
    if (length < 3 || length > 255)
        return false;
    return data.size() <= length - 3;
}

QByteArray SerialMessage::encode() const
{
    if (!isEncodable())
        return QByteArray();
    const int length = encodedLength();
    QByteArray frame;
    frame.reserve(length + 1);
    frame.append(char(length));
    frame.append(char(type));
    frame.append(char(param));
    if (length >= 4)
        frame.append(data);
    if (frame.size() < length)
        frame.append(QByteArray(length - frame.size(), '\0'));
    frame.append(char(byteSum(frame.constData(), length)));
    return frame;
}

QString SerialMessage::toString() const
{
    QStringList bytes;
    bytes.reserve(data.size());
    for (char byte : data)
        bytes.append(QString::number(quint8(byte)));
    return typeName(type) + QLatin1Char(' ') + QString::number(param) + QLatin1Char(' ')
        + bytes.join(QLatin1Char(','));
}

QString SerialMessage::typeName(int type)
{
    if (type < 0 || type >= TypeCount)
        return QString();
    return QString::fromLatin1(typeNames[type]);
}

int SerialMessage::frameLength(int type)
{
    if (type < 0 || type >= TypeCount)
        return 0;
    return frameLengths[type];
}

} // namespace Common
