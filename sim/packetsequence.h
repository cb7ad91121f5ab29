#pragma once

#include <QByteArray>

// A file coming into the card in numbered packets of 128 bytes, as both the FPGA
// download and the Optocore module's loader send it. Each packet is answered with a
// result byte and the number of the packet taken (16-bit, big-endian).
struct PacketSequence
{
    static constexpr int PacketSize = 128;

    bool active = false;
    int count = 0;    // packets announced
    int next = 0;     // number of the packet expected next
    QByteArray data;  // the packets taken, in order

    void start(int packetCount);
    void reset() { *this = PacketSequence(); }
    bool complete() const { return active && next == count; }

    // Takes one packet (number, then its bytes) and returns the answer:
    // - the expected packet: Ack and its number;
    // - a short or long packet (every packet but the last carries 128 bytes):
    //   Packet Length error;
    // - no file announced, or a number beyond the count: File Size error;
    // - any other number (a gap, or a packet sent twice): Ack with the number of the
    //   last packet taken (FFFF when none), which the sender sees as out of sequence.
    // Only the expected packet is stored.
    QByteArray take(const QByteArray &payload);

    static QByteArray answer(quint8 result, int packetNumber);
};
