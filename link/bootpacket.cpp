#include "link/bootpacket.h"

#include "link/framefields.h"

#include <QStringList>

namespace Common {

namespace {

bool isSingleByte(int code)
{
    return BootPacket::expectedLength(code) == 1;
}

} // namespace

BootPacket::BootPacket(int code, const QByteArray &data) : code(code), data(data)
{
    const int length = expectedLength(code);
    if (isSingleByte(code) || code == Reset || code == Run)
        state = NoReply;
    else
        state = AwaitAck;
    valid = length > 0 && (length <= 3 || data.size() == length - 3);
}

int BootPacket::expectedLength(int code)
{
    switch (code) {
    case Ping:
    case GetStatus:
    case Reset:
    case Success:
    case UnknownCommand:
    case BadCommand:
    case BadAddress:
    case FlashFailure:
        return 3;
    case Download:
        return 11;
    case Run:
        return 7;
    case SendData:
        return 3 + BlockSize;
    case CommandNak:
    case NotBootLoader:
    case CommandAck:
        return 1;
    case AutoBaud:
        return 2;
    default:
        return 0;
    }
}

QString BootPacket::codeName(int code)
{
    switch (code) {
    case Ping: return QStringLiteral("Ping");
    case Download: return QStringLiteral("Download");
    case Run: return QStringLiteral("Run");
    case GetStatus: return QStringLiteral("GetStatus");
    case SendData: return QStringLiteral("SendData");
    case Reset: return QStringLiteral("Reset");
    case Success: return QStringLiteral("Success");
    case UnknownCommand: return QStringLiteral("UnknownCommand");
    case BadCommand: return QStringLiteral("BadCommand");
    case BadAddress: return QStringLiteral("BadAddress");
    case FlashFailure: return QStringLiteral("FlashFailure");
    case CommandNak: return QStringLiteral("CommandNak");
    case NotBootLoader: return QStringLiteral("NotBootLoader");
    case CommandAck: return QStringLiteral("CommandAck");
    case AutoBaud: return QStringLiteral("AutoBaud");
    default: return QString();
    }
}

quint8 BootPacket::checksum(int code, const QByteArray &data)
{
    return quint8(code + Common::byteSum(data));
}

QByteArray BootPacket::encode() const
{
    const int length = expectedLength(code);
    if (!valid || length < 1)
        return QByteArray();
    if (length == 1)
        return QByteArray(1, char(code));
    if (code == AutoBaud)
        return QByteArray(2, char(AutoBaud));

    // The size byte promises exactly length - 3 data bytes; send those (zeros for any
    // that are missing) and nothing more, so the boot loader's framing stays intact.
    QByteArray payload = data.left(length - 3);
    payload.append(QByteArray(length - 3 - payload.size(), '\0'));

    QByteArray bytes;
    bytes.reserve(length);
    bytes.append(char(length));
    bytes.append(char(checksum(code, payload)));
    bytes.append(char(code));
    bytes.append(payload);
    return bytes;
}

BootPacket BootPacket::decode(const QByteArray &bytes)
{
    BootPacket packet;
    const int n = bytes.size();
    if (n == 1) {
        packet.code = quint8(bytes.at(0));
        packet.state = NoReply;
        packet.valid = isSingleByte(packet.code);
    } else if (n >= 3) {
        packet.code = quint8(bytes.at(2));
        packet.data = bytes.mid(3);
        packet.state = AwaitAck;
        packet.valid = expectedLength(packet.code) == n
            && quint8(bytes.at(1)) == checksum(packet.code, packet.data);
    }
    return packet;
}

QString BootPacket::describe() const
{
    QStringList bytes;
    for (char byte : data)
        bytes.append(QString::number(quint8(byte), 16));
    return codeName(code) + QLatin1Char(' ') + bytes.join(QLatin1Char(','));
}

} // namespace Common
