#pragma once

#include "link/kipport.h"
#include "link/serialmessage.h"

#include <QByteArray>

namespace EMS {

// Turns what a card sends into values. Pure functions over one message: a short payload
// reads as zero bytes where it ends, because older card firmware sends short replies and
// the window must still show what there is.
namespace InboundDecoder {

// A payload byte as the card's signed code, unsigned value or on/off flag.
int signedByte(const QByteArray &data, int index);
quint8 unsignedByte(const QByteArray &data, int index);
bool flagByte(const QByteArray &data, int index);

// The "kip status" reply: card type (signed), firmware version, temperature, ten bytes
// of FPGA version text, sample rate (32 bits, least significant byte first), master flag.
// The link state is the port's own and is carried over unchanged.
KipPort::HardwareStatus hardwareStatus(const Common::SerialMessage &message, int linkState);

struct SyncSource
{
    bool isAuto;
    quint8 code;
};
SyncSource syncSource(const Common::SerialMessage &message);

struct TransmitMode
{
    int mode;
    bool trackReceived;
};
TransmitMode transmitMode(const Common::SerialMessage &message);

// 32 bits, least significant byte first; 0 when the card sent fewer than four bytes.
quint32 inputSampleRate(const Common::SerialMessage &message);

struct RackSlot
{
    int slot;
    KipPort::RackCardType cardType;
};
RackSlot rackSlot(const Common::SerialMessage &message);

// Day, month, century and year, each one BCD byte.
struct RackCodeDate
{
    quint8 day;
    quint8 month;
    quint16 year;
};
RackCodeDate rackCodeDate(const Common::SerialMessage &message);

// The supply's number, its nominal volts and its measured volts in tenths.
struct RackVoltage
{
    int psu;
    int nominalVolts;
    float volts;
};
RackVoltage rackVoltage(const Common::SerialMessage &message);

struct ChannelCounts
{
    quint8 inserted;
    quint8 extracted;
};
ChannelCounts optocoreChannelCounts(const Common::SerialMessage &message);

} // namespace InboundDecoder

} // namespace EMS
