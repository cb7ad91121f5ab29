#pragma once

#include "link/serialmessage.h"

#include <QByteArray>
#include <QVector>

#include <array>
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
// - Each position is looked at when it arrives and, if its frame is not complete yet,
//   once more when the frame's last byte arrives; a position whose whole frame is in
//   the buffer and fails its checks can never start a frame later. Checksums come from
//   running sums. The scan is thus linear in the bytes received, whatever the chunking.
// - Bytes that can no longer start a frame are held, to be reported before the next
//   frame, only up to MaxHeldJunk bytes. Past that they are handed out as discarded
//   data without a message, so junk is never dropped unreported. Between chunks the
//   buffer holds at most MaxHeldJunk + 255 bytes; while a chunk is scanned, the chunk
//   is added to that.
class FrameScanner
{
public:
    static constexpr int MaxHeldJunk = 2048;
    // Bytes held between chunks, at most: settled junk up to the bound plus the last
    // 255 positions, whose frames may not be complete yet.
    static constexpr int MaxHeldBytes = MaxHeldJunk + 255;

    struct Item
    {
        QByteArray discarded; // bytes dropped before the message, or junk over the bound
        bool hasMessage = false;
        SerialMessage message;
    };

    FrameScanner();

    // Scans a received chunk; returns what it found, in stream order.
    QVector<Item> feed(const QByteArray &chunk);

    // Forgets every byte held (the link was reopened); the peak is kept.
    void clear();
    int bufferedBytes() const { return int(buffer.size()) - head; }
    int peakBufferedBytes() const { return peakBuffered; }

private:
    // Bytes already handed out are removed from the front only once this many have
    // gathered, so a stream of short frames does not move the buffer on every chunk.
    static constexpr int CompactThreshold = 4096;

    void scan(const QByteArray &chunk, QVector<Item> &items);
    // The whole frame at position is in the buffer and would decode as a valid message.
    static inline bool frameChecksOut(const quint8 *data, const quint8 *sums, int position);
    void takeFrameAt(int position, QVector<Item> &items);
    void compact();

    QByteArray buffer;
    // runningSums[k] is the 8-bit sum of buffer[0 .. k-1] plus a constant that
    // compaction leaves behind; differences are the sums of the bytes between.
    std::vector<quint8> runningSums;
    qint64 bufferStart = 0; // stream offset of buffer[0]
    int head = 0;           // first byte not yet handed out
    int nextUnseen = 0;     // first position not yet looked at
    // Positions whose frame is still incomplete, in 256 lists filed under the stream
    // offset of their checksum byte modulo 256. A frame is at most 256 bytes, so a
    // list holds only positions whose frames end at the same offset. Each list runs
    // from the highest position down through nextWaiting (indexed by position); -1 ends it.
    std::array<int, 256> waitingHead;
    std::vector<int> nextWaiting;
    std::vector<int> completed; // scratch: valid frames ended by the current chunk
    int peakBuffered = 0;
};

} // namespace Common
