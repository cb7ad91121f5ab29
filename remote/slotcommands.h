#pragma once

#include <QString>

namespace EMS {

class KipPort;
class SlotController;

// The settings a script or a show-control system may change, in the words of the
// command line and the OSC address space, turned into the same card port calls the
// window's panels make. Both remote entry points go through here, so a name means
// the same thing everywhere.
namespace SlotCommands {

// The sync source codes KipPort::sendSyncSource takes.
constexpr int SyncAuto = -1;
constexpr int SyncWordClock = -2;

// MADI transmit formats: follow the input, 57 channels (rack control in the audio),
// 64 channels.
constexpr int TransmitTracking = 0;
constexpr int TransmitQuorix = 57;
constexpr int TransmitFixed = 64;

// "auto", "word-clock", "madi-a", "madi-b" (any case) to a sync source code; false for
// anything else.
bool syncSourceCode(const QString &name, int *code);
// Whether what the slot reports now is the source asked for by code.
bool reportsSyncSource(const SlotController &slot, int code);

// "a"/"b" (any case) or "0"/"1" to a MADI port; false for anything else.
bool madiPortOf(const QString &text, int *madiPort);
// "auto", "57", "quorix", "64", "fixed" (any case) to a transmit format code.
bool transmitModeCode(const QString &name, int *mode);
bool isTransmitMode(int mode);

// Sends a transmit format the way the MADI panel does: the 57-channel format carries
// the rack's control data in the audio, so it turns control via audio on, the others
// turn it off.
void sendMadiTransmitMode(KipPort *port, int madiPort, int mode);
// Whether a transmit report (KipPort::madiTransmitModeChanged) shows the format asked for.
bool reportsTransmitMode(int mode, int reportedMode, bool trackReceived);

} // namespace SlotCommands
} // namespace EMS
