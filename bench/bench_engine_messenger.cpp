// Throughput of the engine messenger's stream reassembly, and how far its buffer grows.
//
// UDP hands over one datagram per chunk (usually one frame, up to a few); a desktop
// engine file or a busy loop may hand over less or more. The messenger must find every
// frame at any chunk size, and junk or damaged frames must neither slow it to a crawl
// nor grow its buffer past 4096 bytes.

#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QCoreApplication>

#include <random>

namespace {

using EMS::EngineMessage;
using EMS::EngineMessenger;

QByteArray randomFrame(std::mt19937 &random, int maxWords)
{
    EngineMessage message(int(random() % 64), int(random() % 2), int(1 + random() % 20), int(random() % 148));
    message.setSequence(int(random() % 65536));
    QByteArray values(4 * int(1 + random() % maxWords), '\0');
    for (char &byte : values)
        byte = char(random());
    message.setValueBytes(values);
    return message.toFrame();
}

struct Stream
{
    QByteArray bytes;
    int frames = 0;
};

// Frames of 1 to maxWords value words; between them, with the given odds, a run of
// junk (every byte value) or a frame with a wrong checksum.
Stream makeStream(int totalBytes, int maxWords, int junkPercent, int damagedPercent)
{
    std::mt19937 random(424242);
    Stream stream;
    stream.bytes.reserve(totalBytes + 2048);
    while (stream.bytes.size() < totalBytes) {
        if (int(random() % 100) < junkPercent) {
            for (int i = int(1 + random() % 40); i > 0; --i)
                stream.bytes.append(char(random()));
        }
        if (int(random() % 100) < damagedPercent) {
            QByteArray damaged = randomFrame(random, maxWords);
            damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x01);
            stream.bytes.append(damaged);
        }
        stream.bytes.append(randomFrame(random, maxWords));
        ++stream.frames;
    }
    return stream;
}

Stream randomBytes(int totalBytes)
{
    std::mt19937 random(777);
    Stream stream;
    stream.bytes.resize(totalBytes);
    for (char &byte : stream.bytes)
        byte = char(random());
    return stream;
}

// A header announcing a 1024-byte frame, then junk that never completes it: every
// chunk rescans the positions behind the unfinished header, the messenger's worst case.
Stream unfinishedLongFrame(int totalBytes)
{
    std::mt19937 random(31337);
    Stream stream;
    while (stream.bytes.size() < totalBytes) {
        stream.bytes.append(QByteArray::fromHex("ff00a5ff"));
        for (int i = 0; i < 1000; ++i)
            stream.bytes.append(char(random() % 4)); // too small to start a frame
    }
    return stream;
}

void feed(benchmark::State &state, const Stream &stream)
{
    const int chunkSize = int(state.range(0));
    qint64 messages = 0;
    int peak = 0;
    for (auto _ : state) {
        EngineMessenger messenger;
        int received = 0;
        QObject::connect(&messenger, &EngineMessenger::messageReceived, [&received] { ++received; });
        for (int offset = 0; offset < stream.bytes.size(); offset += chunkSize)
            messenger.receiveData(stream.bytes.mid(offset, chunkSize));
        messages += received;
        peak = qMax(peak, messenger.peakBufferedBytes());
        benchmark::DoNotOptimize(received);
    }
    if (peak > EngineMessenger::MaxBufferBytes)
        state.SkipWithError("receive buffer grew past its bound");
    state.SetBytesProcessed(state.iterations() * stream.bytes.size());
    state.counters["messages/s"] = benchmark::Counter(double(messages), benchmark::Counter::kIsRate);
    state.counters["found/sent"] = double(messages) / double(qMax<qint64>(1, qint64(stream.frames) * state.iterations()));
    state.counters["peak buffer"] = peak;
}

const Stream &cleanStream()
{
    static const Stream stream = makeStream(1 << 20, 16, 0, 0);
    return stream;
}

const Stream &dirtyStream()
{
    static const Stream stream = makeStream(1 << 20, 16, 30, 10);
    return stream;
}

const Stream &largeFrames()
{
    static const Stream stream = makeStream(1 << 20, 252, 0, 0);
    return stream;
}

void BM_CleanFrames(benchmark::State &state) { feed(state, cleanStream()); }
void BM_FramesWithJunkAndDamage(benchmark::State &state) { feed(state, dirtyStream()); }
void BM_LargeFrames(benchmark::State &state) { feed(state, largeFrames()); }
void BM_RandomBytes(benchmark::State &state)
{
    static const Stream stream = randomBytes(1 << 20);
    feed(state, stream);
}
void BM_UnfinishedLongFrame(benchmark::State &state)
{
    static const Stream stream = unfinishedLongFrame(1 << 20);
    feed(state, stream);
}

BENCHMARK(BM_CleanFrames)->Arg(1)->Arg(16)->Arg(256)->Arg(1400);
BENCHMARK(BM_FramesWithJunkAndDamage)->Arg(16)->Arg(256)->Arg(1400);
BENCHMARK(BM_LargeFrames)->Arg(256)->Arg(1400);
BENCHMARK(BM_RandomBytes)->Arg(16)->Arg(1400);
BENCHMARK(BM_UnfinishedLongFrame)->Arg(1)->Arg(64);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Every damaged frame is also written to the debug log; the benchmark measures the
    // reassembly (status texts included), not the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
