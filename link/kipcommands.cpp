#include "link/kipcommands.h"

#include "link/messagetype.h"

#include <QtEndian>

namespace EMS {

namespace KipCommands {

using Common::MessageType;
using Common::SerialMessage;

namespace {

SerialMessage byteCommand(MessageType type, int param, uchar value)
{
    return SerialMessage(type, param, QByteArray(1, char(value)));
}

// The router's address of a signal: the card's own signals from 1024 up, every other
// port 64 signals wide from port 1 at 1280.
quint16 routeAddress(int port, int signal)
{
    return quint16(port == 0 ? signal + 1024 : (port + 19) * 64 + signal);
}

} // namespace

SerialMessage statusRequest()
{
    return SerialMessage(MessageType::KipStatus, 0);
}

SerialMessage restart()
{
    return SerialMessage(MessageType::Restart, 0);
}

SerialMessage bootLoaderRequest()
{
    return SerialMessage(MessageType::BootLoader, 0);
}

SerialMessage echo(const QByteArray &data)
{
    return SerialMessage(MessageType::EchoData, 0, data.left(MaxCutPayload));
}

SerialMessage quorixControl(uchar madiPort, const QByteArray &data)
{
    return SerialMessage(MessageType::QuorixControl, madiPort, data.left(MaxCutPayload));
}

SerialMessage aesInputConvert(uchar socketNumber, uchar value)
{
    return byteCommand(MessageType::InputSrc, socketNumber, value);
}

SerialMessage aesOutputSampleRate(uchar socketNumber, uchar value)
{
    return byteCommand(MessageType::OutputSr, socketNumber, value);
}

SerialMessage route(int destPort, int destSignal, int sourcePort, int sourceSignal)
{
    QByteArray payload(4, '\0');
    qToBigEndian<quint16>(routeAddress(destPort, destSignal), payload.data());
    qToBigEndian<quint16>(routeAddress(sourcePort, sourceSignal), payload.data() + 2);
    return SerialMessage(MessageType::KipRoute, 0, payload);
}

SerialMessage syncSource(signed char syncSource)
{
    return SerialMessage(MessageType::SyncSource, syncSource == -1 ? 1 : 0, QByteArray(1, char(syncSource)));
}

SerialMessage transmitMode(uchar madiPort, uchar transmitMode)
{
    // Mode 0 follows the received MADI format: the first byte says so.
    QByteArray payload;
    payload.append(char(transmitMode == 0 ? 1 : 0));
    payload.append(char(transmitMode));
    return SerialMessage(MessageType::TransmitMode, madiPort, payload);
}

SerialMessage controlViaAudio(uchar madiPort, bool viaAudio)
{
    return byteCommand(MessageType::ControlViaAudio, madiPort, viaAudio ? 1 : 0);
}

SerialMessage cardStatusRequest()
{
    return SerialMessage(MessageType::CardStatus, 0);
}

SerialMessage inputSampleRateRequest()
{
    return SerialMessage(MessageType::InputSampleRate, 0);
}

QList<SerialMessage> optocoreNetworkId(int id)
{
    // The module stores the new identity, then is told to take it on.
    QByteArray setId = QByteArray::fromHex("080000ff");
    setId.append(char(id));
    setId.append(char(~id));
    setId.append(QByteArray::fromHex("55aa"));
    return {optocoreCommand(setId), optocoreCommand(QByteArray::fromHex("048000ff"))};
}

SerialMessage hydraNetworkId(int id)
{
    return byteCommand(MessageType::HydraId, 0, uchar(id));
}

SerialMessage optocoreVersionRequest()
{
    return SerialMessage(MessageType::OptocoreVersion, 0);
}

SerialMessage optocoreCommand(const QByteArray &command)
{
    // The card passes the bytes on untouched; the Optocore module checks its own sum.
    return SerialMessage(MessageType::OptocoreCommand, 0, command + char(Common::byteSum(command)));
}

SerialMessage sampleRateOverride(int override)
{
    return byteCommand(MessageType::SampleRateOverride, 0, uchar(override));
}

SerialMessage madiPortMode(int portMode)
{
    return byteCommand(MessageType::MadiMode, 0, uchar(portMode));
}

SerialMessage madiRedundantState(uchar madiPort, int redundantState)
{
    return byteCommand(MessageType::RedundantState, madiPort, uchar(redundantState));
}

SerialMessage madiSmux(uchar madiPort, bool smux)
{
    return byteCommand(MessageType::MadiSmux, madiPort, smux ? 1 : 0);
}

SerialMessage optocorePhase(uchar incdec)
{
    return byteCommand(MessageType::OptocorePhase, 0, incdec);
}

SerialMessage optocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted)
{
    QByteArray payload;
    payload.append(char(inserted));
    payload.append(char(extracted));
    return SerialMessage(MessageType::OptocoreChannelCount, madiPort, payload);
}

} // namespace KipCommands

} // namespace EMS
