#pragma once

#include "link/serialmessage.h"

#include <QByteArray>
#include <QVector>

#include <vector>

namespace Common {

// Finds the card's frames in the raw byte stream of one link, chunk by chunk.
//
// The scan looks, from the oldest byte on, for the first position that holds a whole
// frame with a correct checksum that decodes as a valid message; the bytes before it
// are handed out as discarded data together with the message. Stray bytes are thus
// reported only when a valid frame follows them, and a frame split over chunks is found
// when its last byte arrives.
//
// Two things keep the cost bounded whatever arrives:
// - A position whose whole frame is in the buffer and fails its checks can never start
//   a frame later, so it is not looked at again. Only the last 255 positions (whose
//   frames may still be incomplete) are rescanned when more bytes arrive, and frame
//   checksums come from running sums, so the scan is linear in the bytes received.
// - Bytes that can no longer start a frame are held, to be reported before the next
//   frame, only up to MaxHeldJunk bytes. Past that they are handed out as discarded
//   data without a message, so junk is never dropped unreported and the buffer stays
//   below MaxHeldJunk + 255 + SliceSize bytes.
class FrameScanner
{
public:
    static constexpr int MaxHeldJunk = 2048;
    static constexpr int SliceSize = 1024;

    struct Item
    {
        QByteArray discarded; // bytes dropped before the message, or junk over the bound
        bool hasMessage = false;
        SerialMessage message;
    };

    // Scans a received chunk; returns what it found, in stream order.
    QVector<Item> feed(const QByteArray &chunk);

    void clear();
    int bufferedBytes() const { return int(buffer.size()) - head; }
    int peakBufferedBytes() const { return peakBuffered; }

private:
    void scanSlice(const char *bytes, int count, QVector<Item> &items);
    void compact();

    QByteArray buffer;
    // runningSums[k] is the 8-bit sum of buffer[0 .. k-1]; size is buffer.size() + 1.
    std::vector<quint8> runningSums{0};
    int head = 0;       // first byte not yet handed out
    int scanResume = 0; // positions before this are known never to start a frame
    int peakBuffered = 0;
};

} // namespace Common
