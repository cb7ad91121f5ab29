// The frame scanner against a plain re-reading of the scan rule: from the oldest byte
// on, the first position whose whole frame is in the buffer, sums right and decodes
// as a valid message yields that message; the bytes before it are discarded with it;
// nothing else is dropped. The scanner keeps running sums and waiting lists to stay
// linear and bounds the junk it holds; whatever the chunking, it must find the same
// messages with the same bytes discarded before each.
//
// Input: byte 0 sets the chunk size (1 ... 256), the rest is the byte stream.

#include "fuzzsupport.h"

#include "link/framescanner.h"
#include "link/serialmessage.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Found
{
    qint64 discardedBefore = 0;
    Common::SerialMessage message;
};

// The scan rule, literally, with prefix sums only to keep it quick enough to fuzz.
class ReferenceScanner
{
public:
    std::vector<Found> feed(const QByteArray &chunk)
    {
        std::vector<Found> found;
        if (chunk.isEmpty())
            return found;
        buffer.append(chunk);
        if (buffer.size() < 4)
            return found;
        sums.assign(size_t(buffer.size()) + 1, 0);
        for (int k = 0; k < buffer.size(); ++k)
            sums[size_t(k) + 1] = quint8(sums[size_t(k)] + quint8(buffer.at(k)));
        int i = 0;
        while (i < buffer.size()) {
            const int length = quint8(buffer.at(i));
            const bool whole = length >= 3 && i + 3 < buffer.size() && i + length < buffer.size();
            if (whole && quint8(sums[size_t(i + length)] - sums[size_t(i)]) == quint8(buffer.at(i + length))) {
                Common::SerialMessage message(buffer.mid(i, length + 1));
                if (message.valid) {
                    found.push_back({i, message});
                    buffer.remove(0, i + length + 1);
                    sums.assign(size_t(buffer.size()) + 1, 0);
                    for (int k = 0; k < buffer.size(); ++k)
                        sums[size_t(k) + 1] = quint8(sums[size_t(k)] + quint8(buffer.at(k)));
                    i = 0;
                    continue;
                }
            }
            ++i;
        }
        return found;
    }

private:
    QByteArray buffer;
    std::vector<quint8> sums;
};

[[noreturn]] void fail(const char *what, int index)
{
    std::fprintf(stderr, "frame scanner differs from the scan rule at message %d: %s\n", index, what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int chunkSize = data[0] + 1;
    const QByteArray stream = FuzzSupport::bytesOf(data + 1, size - 1);

    Common::FrameScanner scanner;
    ReferenceScanner reference;
    std::vector<Found> expected;
    std::vector<Found> actual;
    qint64 junk = 0;
    qint64 handedOut = 0;
    for (const QByteArray &chunk : FuzzSupport::chunks(stream, chunkSize)) {
        for (Found &found : reference.feed(chunk))
            expected.push_back(found);
        for (const Common::FrameScanner::Item &item : scanner.feed(chunk)) {
            junk += item.discarded.size();
            handedOut += item.discarded.size();
            if (item.hasMessage) {
                if (!item.message.valid)
                    fail("invalid message handed out", int(actual.size()));
                actual.push_back({junk, item.message});
                handedOut += item.message.data.size() + 4; // L, type, param, payload, sum
                junk = 0;
            }
        }
        if (scanner.bufferedBytes() > Common::FrameScanner::MaxHeldBytes)
            fail("buffer beyond its bound", int(actual.size()));
    }
    // Nothing is lost or invented: what was handed out plus what is held is the input.
    if (handedOut + scanner.bufferedBytes() != stream.size())
        fail("bytes lost or invented", int(actual.size()));

    if (actual.size() != expected.size())
        fail("number of messages", int(qMin(actual.size(), expected.size())));
    for (size_t k = 0; k < actual.size(); ++k) {
        const Common::SerialMessage &a = actual[k].message;
        const Common::SerialMessage &e = expected[k].message;
        if (a.type != e.type || a.param != e.param || a.data != e.data)
            fail("message contents", int(k));
        if (actual[k].discardedBefore != expected[k].discardedBefore)
            fail("bytes discarded before the message", int(k));
    }
    return 0;
}
