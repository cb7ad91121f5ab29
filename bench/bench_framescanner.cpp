// Throughput of the card link's frame scanner, and how far its buffer grows under junk.
//
// A serial driver hands over whatever has arrived: a few dozen bytes per readyRead at
// 115200 baud, up to a few kilobytes after the event loop was busy. The scanner must
// keep up with far more than the line can carry, whatever the mix of junk and frames.

#include "link/framescanner.h"
#include "link/serialmessage.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

#include <random>

namespace {

using Common::FrameScanner;
using Common::SerialMessage;

QByteArray randomFrame(std::mt19937 &random)
{
    using T = Common::MessageType;
    static const T variableTypes[] = {T::EchoData, T::QuorixControl, T::CardStatus,
                                      T::UpdateFpga, T::OptocoreCommand, T::OptocoreUpdate};
    static const T fixedTypes[] = {T::SyncSource, T::TransmitMode, T::InputSampleRate, T::RackType, T::RackSlotType,
                                   T::RackCodeDate, T::RackVoltage, T::RxClockLocked, T::OptocoreChannelCount};
    const bool variable = random() % 2 == 0;
    const T type = variable ? variableTypes[random() % 6] : fixedTypes[random() % 9];
    const int size = variable ? int(random() % 64) : SerialMessage::frameLength(int(type)) - 3;
    QByteArray payload(size, '\0');
    for (char &byte : payload)
        byte = char(random());
    return SerialMessage(type, int(random() % 256), payload).encode();
}

struct Stream
{
    QByteArray bytes;
    int frames = 0;
};

// Random junk (every byte value) with valid frames embedded, about half of each.
// Junk can by chance hold a frame or swallow the start of a real one; the counters
// show how many frames were put in and how many came out.
Stream junkWithFrames(int totalBytes, int maxJunkRun)
{
    std::mt19937 random(20240611);
    Stream stream;
    stream.bytes.reserve(totalBytes + 512);
    while (stream.bytes.size() < totalBytes) {
        const int junk = int(random() % (maxJunkRun + 1));
        for (int i = 0; i < junk; ++i)
            stream.bytes.append(char(random()));
        stream.bytes.append(randomFrame(random));
        ++stream.frames;
    }
    return stream;
}

void scanStream(benchmark::State &state, const Stream &stream)
{
    const int chunkSize = int(state.range(0));
    long long found = 0;
    int peak = 0;
    for (auto _ : state) {
        FrameScanner scanner;
        long long messages = 0;
        for (int offset = 0; offset < stream.bytes.size(); offset += chunkSize) {
            const QByteArray chunk = QByteArray::fromRawData(
                stream.bytes.constData() + offset, qMin(chunkSize, int(stream.bytes.size()) - offset));
            for (const FrameScanner::Item &item : scanner.feed(chunk))
                messages += item.hasMessage ? 1 : 0;
        }
        benchmark::DoNotOptimize(messages);
        found = messages;
        peak = qMax(peak, scanner.peakBufferedBytes());
    }
    state.SetBytesProcessed(state.iterations() * stream.bytes.size());
    state.counters["frames_in"] = stream.frames;
    state.counters["frames_out"] = double(found);
    state.counters["peak_buffer"] = peak;
}

void BM_JunkWithFrames(benchmark::State &state)
{
    static const Stream stream = junkWithFrames(8 << 20, 64);
    scanStream(state, stream);
}
BENCHMARK(BM_JunkWithFrames)->Arg(1)->Arg(32)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

// Ordinary traffic: frames back to back, nothing in between.
void BM_FramesOnly(benchmark::State &state)
{
    static const Stream stream = junkWithFrames(8 << 20, 0);
    scanStream(state, stream);
}
BENCHMARK(BM_FramesOnly)->Arg(32)->Arg(4096)->Unit(benchmark::kMillisecond);

// Mostly junk: long runs between rare frames, so junk is reported in pieces.
void BM_SparseFrames(benchmark::State &state)
{
    static const Stream stream = junkWithFrames(8 << 20, 8192);
    scanStream(state, stream);
}
BENCHMARK(BM_SparseFrames)->Arg(32)->Arg(4096)->Unit(benchmark::kMillisecond);

// 100 MB of junk without a frame that could ever decode (every byte is above the
// highest type code, so no position has a valid type byte after it): the buffer must
// stay bounded and every junk byte must come back out as discarded data.
void BM_JunkFlood100MB(benchmark::State &state)
{
    const int chunkSize = int(state.range(0));
    const long long total = 100LL << 20;
    std::mt19937 random(7);
    QByteArray block(1 << 20, '\0');
    for (char &byte : block)
        byte = char(SerialMessage::TypeCount + int(random() % (256 - SerialMessage::TypeCount)));

    int peak = 0;
    long long reported = 0;
    long long pieces = 0;
    for (auto _ : state) {
        FrameScanner scanner;
        reported = 0;
        pieces = 0;
        for (long long sent = 0; sent < total; sent += block.size()) {
            for (int offset = 0; offset < block.size(); offset += chunkSize) {
                const QByteArray chunk = QByteArray::fromRawData(block.constData() + offset, chunkSize);
                for (const FrameScanner::Item &item : scanner.feed(chunk)) {
                    reported += item.discarded.size();
                    ++pieces;
                }
            }
        }
        reported += scanner.bufferedBytes(); // still held, waiting for a frame
        peak = scanner.peakBufferedBytes();
    }
    if (reported != total)
        state.SkipWithError("junk bytes lost or duplicated");
    state.SetBytesProcessed(state.iterations() * total);
    state.counters["peak_buffer"] = peak;
    state.counters["bound"] = FrameScanner::MaxHeldBytes + chunkSize;
    state.counters["junk_pieces"] = double(pieces);
}
BENCHMARK(BM_JunkFlood100MB)->Arg(32)->Arg(4096)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
