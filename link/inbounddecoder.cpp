#include "link/inbounddecoder.h"

#include <QtEndian>

namespace EMS {

namespace InboundDecoder {

namespace {

int bcd(quint8 value)
{
    return (value & 0x0F) + (value >> 4) * 10;
}

constexpr int FpgaTextOffset = 3;
constexpr int FpgaTextSize = 10;
constexpr int SampleRateOffset = 13;
constexpr int MasterOffset = 17;

} // namespace

int signedByte(const QByteArray &data, int index)
{
    return index < data.size() ? int(qint8(data.at(index))) : 0;
}

quint8 unsignedByte(const QByteArray &data, int index)
{
    return index < data.size() ? quint8(data.at(index)) : 0;
}

bool flagByte(const QByteArray &data, int index)
{
    return unsignedByte(data, index) != 0;
}

KipPort::HardwareStatus hardwareStatus(const Common::SerialMessage &message, int linkState)
{
    const QByteArray &d = message.data;
    KipPort::HardwareStatus status;
    status.linkState = linkState;
    status.cardType = signedByte(d, 0);
    status.firmwareVersion = unsignedByte(d, 1);
    status.temperature = unsignedByte(d, 2);
    for (int i = 0; i < FpgaTextSize; ++i)
        status.fpgaVersion[i] = char(unsignedByte(d, FpgaTextOffset + i));
    status.fpgaVersion[FpgaTextSize] = '\0';
    status.sampleRate = d.size() >= SampleRateOffset + 4
        ? qFromLittleEndian<quint32>(d.constData() + SampleRateOffset) : 0;
    status.master = d.size() > MasterOffset ? d.at(MasterOffset) != 0 : false;
    return status;
}

SyncSource syncSource(const Common::SerialMessage &message)
{
    return {message.param != 0, unsignedByte(message.data, 0)};
}

TransmitMode transmitMode(const Common::SerialMessage &message)
{
    return {signedByte(message.data, 1), flagByte(message.data, 0)};
}

quint32 inputSampleRate(const Common::SerialMessage &message)
{
    return message.data.size() >= 4 ? qFromLittleEndian<quint32>(message.data.constData()) : 0;
}

RackSlot rackSlot(const Common::SerialMessage &message)
{
    return {signedByte(message.data, 0), signedByte(message.data, 1)};
}

RackCodeDate rackCodeDate(const Common::SerialMessage &message)
{
    const QByteArray &d = message.data;
    return {quint8(bcd(unsignedByte(d, 0))), quint8(bcd(unsignedByte(d, 1))),
            quint16(bcd(unsignedByte(d, 2)) * 100 + bcd(unsignedByte(d, 3)))};
}

RackVoltage rackVoltage(const Common::SerialMessage &message)
{
    const QByteArray &d = message.data;
    return {signedByte(d, 0), signedByte(d, 1), unsignedByte(d, 2) / 10.0f};
}

ChannelCounts optocoreChannelCounts(const Common::SerialMessage &message)
{
    return {unsignedByte(message.data, 0), unsignedByte(message.data, 1)};
}

} // namespace InboundDecoder

} // namespace EMS
