#pragma once

#include "link/serialmessage.h"

#include <QByteArray>
#include <QList>

namespace EMS {

// The host's commands to a card, one function per command, each returning the message
// to send. Nothing here writes a byte: the card port queues what these return, and
// tests read the frames straight from them.
namespace KipCommands {

// Echo data and quorix control blocks are cut to this many bytes before they go out.
constexpr int MaxCutPayload = 248;

Common::SerialMessage statusRequest();
Common::SerialMessage restart();
Common::SerialMessage bootLoaderRequest();
Common::SerialMessage echo(const QByteArray &data);
Common::SerialMessage quorixControl(uchar madiPort, const QByteArray &data);
Common::SerialMessage aesInputConvert(uchar socketNumber, uchar value);
Common::SerialMessage aesOutputSampleRate(uchar socketNumber, uchar value);
// Ports are numbered as the router sees them: 0 is the card itself, 1 and up its inputs.
Common::SerialMessage route(int destPort, int destSignal, int sourcePort, int sourceSignal);
// -1 asks the card to choose its clock itself.
Common::SerialMessage syncSource(signed char syncSource);
Common::SerialMessage transmitMode(uchar madiPort, uchar transmitMode);
Common::SerialMessage controlViaAudio(uchar madiPort, bool viaAudio);
Common::SerialMessage cardStatusRequest();
Common::SerialMessage inputSampleRateRequest();
// What sets a card's network identity: two module commands on an Optocore card, one
// message on a Hydra card (other cards have none).
QList<Common::SerialMessage> optocoreNetworkId(int id);
Common::SerialMessage hydraNetworkId(int id);
Common::SerialMessage optocoreVersionRequest();
// The command bytes for the Optocore module, followed by the module's own 8-bit sum.
Common::SerialMessage optocoreCommand(const QByteArray &command);
Common::SerialMessage sampleRateOverride(int override);
Common::SerialMessage madiPortMode(int portMode);
Common::SerialMessage madiRedundantState(uchar madiPort, int redundantState);
Common::SerialMessage madiSmux(uchar madiPort, bool smux);
Common::SerialMessage optocorePhase(uchar incdec);
Common::SerialMessage optocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted);

} // namespace KipCommands

} // namespace EMS
