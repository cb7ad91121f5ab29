#pragma once

#include "link/serialmessage.h"

#include <QByteArray>

// The card's own reading of the host's byte stream. Unlike the host's scanner, which
// hunts for the next valid frame and skips what lies before it, the card takes frames
// one after the other: a length byte, then exactly that many bytes more, then the
// checksum. Whatever cannot be a frame is rejected at once; the card answers it with
// "error", and the reader then ignores everything until the host's resynchronisation
// run of zero bytes.
//
// The card's frame check also differs in what it accepts: the host's requests are
// often shorter than the card's replies of the same type ("kip status" 03 1E 00 21,
// "card status" without payload, "input sample rate" with or without its padding,
// "device type" with or without its pad byte).
//
// Rules at a frame's start:
// - a zero byte is idle fill (and the tail of a resynchronisation run): skipped;
// - 55 55 is the boot loader's AutoBaud: the application answers it (type 85 is no
//   frame type, so it never hides a frame);
// - a length below 3, a type the card does not take, or a length the type cannot
//   have is rejected as soon as the type byte is in, so a corrupted length byte does
//   not make the card wait for up to 255 bytes that never come as a frame;
// - otherwise the frame is read to its checksum, and a wrong checksum is rejected.
// While resynchronising, two 55 bytes in a row are still taken as AutoBaud (and end
// the resynchronisation): a host that lost the "error" would otherwise probe a deaf
// card for ever.
class CardFrameReader
{
public:
    // Zero bytes in a row that end a resynchronisation. The host sends 256; a shorter
    // run is enough, and leaves room for bytes lost on the line.
    static constexpr int ResyncZeroRun = 16;

    enum Result {
        NeedMore,   // the byte was taken into a frame that is not complete yet
        Skipped,    // idle fill, or ignored while resynchronising
        FrameReady, // message() holds the frame just completed
        AutoBaud,   // the two AutoBaud bytes came in
        Rejected,   // the bytes so far cannot be a frame; the reader now resynchronises
    };

    Result push(quint8 byte);

    // The last frame completed, as a message (valid) and as the raw bytes.
    const Common::SerialMessage &message() const { return lastMessage; }
    const QByteArray &frame() const { return lastFrame; }

    // Drops a partial frame and ignores input until the resynchronisation run.
    void resynchronise();
    bool isResynchronising() const { return resyncing; }
    int pendingBytes() const { return int(pending.size()); }
    void reset();

    // Types the card's application acts on.
    static bool takesType(int type);
    // Frame lengths the card accepts for a type.
    static bool acceptsLength(int type, int length);

private:
    Result reject();

    QByteArray pending;
    bool resyncing = false;
    int zeroRun = 0;
    bool previousWas55 = false;
    Common::SerialMessage lastMessage;
    QByteArray lastFrame;
};
