#pragma once

#include "link/loadererrors.h"
#include "sim/packetsequence.h"

#include <QByteArray>
#include <QVector>

// Result byte of the card's answers during an FPGA or Optocore module download: the
// codes the controller reads.
using EMS::LoaderResult;
using EMS::LoaderAck;
using EMS::LoaderPacketLengthError;
using EMS::LoaderFileChecksumError;
using EMS::LoaderFileSizeError;
using EMS::LoaderFlashVerifyError;

// What the Optocore network module on an Optocore card holds.
struct OptocoreState
{
    quint8 networkId = 10;
    // The settings block as the module reports it for code 0xE0: byte 0 its length,
    // byte 1 the code, bytes 2-3 00 FF, byte 4 the fibre speed (0 = 1 Gb, 1 = 2 Gb),
    // byte 12 0x3F / 0x7E with that speed, byte 19 the speed again; the other bytes
    // are the module's own and are kept as written.
    QByteArray settings = defaultSettings();
    // The register behind code 0xF0. A module fresh from the factory holds 0; the
    // controller writes 0x32 into it.
    quint8 registerF0 = 0x00;
    // Channels inserted into and extracted from the fibre ring, per MADI port A and B.
    quint8 inserted[2] = {64, 0};
    quint8 extracted[2] = {64, 0};
    QByteArray version = "OCM 4.21 b1207";
    int phase = 0;

    // The module's loader, used while new module firmware comes in.
    struct Loader
    {
        QByteArray buildDescription;
        int stage = 0; // 1 description taken, 2 / 3 first / second file announced
        PacketSequence file;
        bool filesComplete[2] = {false, false};
    } loader;

    static QByteArray defaultSettings();
};

// The Optocore module's command protocol, as the card relays it in "Optocore command"
// messages. Every message, both ways, is: length (this byte included, the sum byte
// not), code, the code's bytes, and a trailing 8-bit sum of all bytes before it.
//
// Reads (04 code 00 FF) answer with the code's value: 0x80 the network ID
// (05 80 00 FF id), 0xE0 the settings block, 0xF0 the register (05 F0 00 FF value).
// Writes answer with the written message itself as acknowledgement:
//   08 00 00 FF id ~id 55 AA   network ID (refused unless the complement and the
//                              55 AA marker check)
//   <block> with code 0x60     settings block; byte 4 must be a speed (0 or 1) and the
//                              block at least 20 bytes long
//   05 70 FF FF value          the 0xF0 register
// A message whose sum or length byte is wrong, or whose code the module does not
// know, is dropped without an answer, as the module does on its own bus.
class OptocoreModule
{
public:
    static constexpr int SettingsBlockSize = 24;

    explicit OptocoreModule(OptocoreState *state) : module(state) {}

    // Takes one command (its sum byte included); returns the answers, each with its
    // sum byte appended.
    QVector<QByteArray> handleCommand(const QByteArray &command);

    // The module's loader takes new firmware in "Optocore update" messages:
    //   0  version request          -> the version bytes
    //   1  64-byte build description -> result
    //   2, 3  packet count of the first / second file (16-bit big-endian) -> result
    //   4  packet number (big-endian) and up to 128 bytes -> result, number taken
    //   5  leave the loader          -> result; when a description and both files came
    //                                   in whole, the module now reports the
    //                                   description's text as its version
    // Packets are taken in order; every packet but a file's last carries 128 bytes
    // (else Packet Length error), a number beyond the announced count gives File Size
    // error, and any other out-of-order packet is answered with the number of the last
    // packet taken, so the sender sees the gap.
    //
    // The loader's answer to an "Optocore update" message with this parameter: the
    // reply payload (result byte first, then for a packet its number; the version
    // bytes for parameter 0). False for a parameter the loader does not know.
    bool handleUpdate(int param, const QByteArray &payload, QByteArray *reply);

    static quint8 byteSum(const QByteArray &bytes);
    static QByteArray withSum(QByteArray bytes);

private:
    OptocoreState *module;
};
