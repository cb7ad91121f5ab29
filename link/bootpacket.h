#pragma once

#include <QByteArray>
#include <QString>

namespace Common {

// One packet of the card's serial boot loader. On the wire a packet is a size byte
// (counting itself, the checksum, the code and the data), a checksum byte (8-bit sum of
// the code and the data), the code and the data; the handshake codes (ack, nak, the
// application's "not the boot loader" answer) travel as single bytes, and AutoBaud as
// two 0x55 bytes from which the boot loader measures the bit rate.
class BootPacket
{
public:
    enum Code {
        Ping = 0x20,
        Download = 0x21,
        Run = 0x22,
        GetStatus = 0x23,
        SendData = 0x24,
        Reset = 0x25,
        Success = 0x40,
        UnknownCommand = 0x41,
        BadCommand = 0x42,
        BadAddress = 0x43,
        FlashFailure = 0x44,
        CommandNak = 0x33,
        AutoBaud = 0x55,
        NotBootLoader = 0xAA,
        CommandAck = 0xCC,
    };

    // What the updater waits for after sending this packet.
    enum State {
        NoReply = 0,
        AwaitAck = 1,
        AwaitStatus = 2,
        Failed = 3,
    };

    // The boot loader takes code in blocks of this many bytes.
    static constexpr int BlockSize = 64;

    bool valid = false;
    int code = 0;
    QByteArray data;
    int state = NoReply;

    BootPacket() = default;
    // An outgoing packet. It is valid when the code is known and carries exactly the
    // data bytes its size demands.
    explicit BootPacket(int code, const QByteArray &data = QByteArray());

    // A packet received from the card: one handshake byte, or a whole sized packet.
    static BootPacket decode(const QByteArray &bytes);

    // The value of the size byte for a code (1 for single-byte codes, 2 for AutoBaud,
    // 0 for codes the boot loader does not know).
    static int expectedLength(int code);
    static QString codeName(int code);
    static quint8 checksum(int code, const QByteArray &data);

    // The bytes to send; empty for a packet that is not valid.
    QByteArray encode() const;
    // "Download 0,0,0,0,0,0,22,40": the code's name and the data bytes in hex.
    QString describe() const;
};

} // namespace Common
