// What the controller itself adds to a firmware update, per boot-loader block and per
// FPGA packet, and what that makes of a whole update at 115200 baud.
//
// The card port runs a real update against the card simulator over a pseudo-terminal
// with no added latency. The simulator runs on a thread of its own, so the CPU time of
// the main thread is the controller's alone: the card port, the updater or downloader,
// the serial port and the event loop that carries them.
//
// Per exchange (one 64-byte code block: SendData, acknowledgement, GetStatus,
// acknowledgement, status, acknowledgement; or one 128-byte FPGA packet and its
// acknowledgement), measured over the transfer phase only:
//   wire_us      the line time of the bytes actually exchanged (both directions, the
//                card's clear-to-send and any status polls included), 10 bits a byte
//   host_cpu_us  the controller's CPU time
//   sim_cpu_us   the simulator's CPU time (the card's, for scale)
//   pty_wall_us  the whole round trip over the pseudo-terminal: controller, simulator,
//                the tty layer and the hand-offs between the two threads
// On a real line the controller's work happens while the line waits for it, so a
// transfer takes (wire + controller) per exchange. Projected for a 256 KiB code file
// and a 2 MiB FPGA image:
//   ratio_cpu    (wire + host_cpu) / wire
//   ratio_wall   (wire + pty_wall) / wire: an upper bound that counts the simulator,
//                the tty and the thread hand-offs as if they were the controller's
// The protocol's own fixed waits (100 ms hand-over, 1 s AutoBaud after the reset and
// 100 ms hand-back for the code; 5 s after the FPGA image) are reported apart, in
// fixed_s, and are not part of either ratio.
#include "link/kipport.h"
#include "bench/updatebench.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <atomic>
#include <functional>
#include <pthread.h>
#include <time.h>

using EMS::KipPort;

namespace {

constexpr double LineBitsPerSecond = 115200.0;
constexpr double BitsPerByte = 10.0; // start, 8 data, stop
constexpr int CodeBlockSize = 64;
constexpr int FpgaPacketSize = 128;
constexpr qint64 CodeFileSize = 256 * 1024;
constexpr qint64 FpgaImageSize = 2 * 1024 * 1024;
constexpr double CodeFixedWaitsS = 0.1 + 1.0 + 0.1;
constexpr double FpgaFixedWaitsS = 5.0;
constexpr int UpdateTimeoutMs = 120000;

qint64 cpuNs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// One transfer phase: from the first block or packet sent to the progress report that
// follows the last one's answer.
struct Phase
{
    int exchanges = 0;
    qint64 wallNs = 0;
    qint64 hostCpuNs = 0;
    qint64 simCpuNs = 0;
    qint64 bytes = 0;
    bool finished = false;
    bool successful = false;

    void add(const Phase &other)
    {
        exchanges += other.exchanges;
        wallNs += other.wallNs;
        hostCpuNs += other.hostCpuNs;
        simCpuNs += other.simCpuNs;
        bytes += other.bytes;
    }
};

// Runs one update on the port and measures its transfer phase. A progress report goes
// out with every block or packet sent, so the n-th report (n >= 1) marks the n-th
// exchange's start; 100 comes once the last answer is in.
Phase measure(KipPort &port, SimulatorThread &sim, const std::function<void()> &startUpdate)
{
    Phase phase;
    const clockid_t host = CLOCK_THREAD_CPUTIME_ID;
    QElapsedTimer wall;
    qint64 hostStart = 0;
    qint64 simStart = 0;
    int reports = 0;
    bool ended = false;
    // The first report announces the download (code) or rides with the first packet
    // (FPGA); the window opens at the first report whose value is below 100.
    QMetaObject::Connection progress = QObject::connect(&port, &KipPort::updateProgress, [&](int percent) {
        if (ended)
            return;
        if (percent >= 100) {
            phase.wallNs = wall.nsecsElapsed();
            phase.hostCpuNs = cpuNs(host) - hostStart;
            phase.simCpuNs = cpuNs(sim.clock) - simStart;
            sim.counting = false;
            phase.exchanges = reports;
            ended = true;
            return;
        }
        if (reports++ == 0) {
            sim.resetBytes();
            sim.counting = true;
            wall.start();
            hostStart = cpuNs(host);
            simStart = cpuNs(sim.clock);
        }
    });
    QMetaObject::Connection result = QObject::connect(&port, &KipPort::updateFinished, [&](bool success) {
        phase.finished = true;
        phase.successful = success;
    });
    startUpdate();
    waitFor([&] { return phase.finished; }, UpdateTimeoutMs);
    QObject::disconnect(progress);
    QObject::disconnect(result);
    phase.bytes = sim.fromHost + sim.toHost;
    return phase;
}

bool connectToCard(KipPort &port, SimulatorThread &sim)
{
    port.setSerialPortName(sim.portName);
    port.connectSerialPort();
    return waitFor([&] { return port.linkState() == KipPort::LinkConnected; }, 5000);
}

QString writeImage(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

QByteArray image(qint64 size, int seed)
{
    QByteArray bytes(int(size), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + seed) & 0xFF);
    return bytes;
}

// Figures per exchange over all runs.
void report(benchmark::State &state, const Phase &phase, int exchangesPerUpdate, double fixedWaitsS)
{
    const double n = phase.exchanges;
    const double wireUs = phase.bytes * BitsPerByte / LineBitsPerSecond * 1e6 / n;
    const double hostUs = phase.hostCpuNs / 1000.0 / n;
    const double wallUs = phase.wallNs / 1000.0 / n;
    const double wireS = exchangesPerUpdate * wireUs / 1e6;
    state.counters["exchanges"] = n;
    state.counters["bytes_per_exchange"] = phase.bytes / n;
    state.counters["wire_us"] = wireUs;
    state.counters["host_cpu_us"] = hostUs;
    state.counters["sim_cpu_us"] = phase.simCpuNs / 1000.0 / n;
    state.counters["pty_wall_us"] = wallUs;
    state.counters["wire_s"] = wireS;
    state.counters["projected_s"] = exchangesPerUpdate * (wireUs + hostUs) / 1e6;
    state.counters["fixed_s"] = fixedWaitsS;
    state.counters["ratio_cpu"] = (wireUs + hostUs) / wireUs;
    state.counters["ratio_wall"] = (wireUs + wallUs) / wireUs;
}

// One update of `size` bytes, started by `start(port, file)`, run for each iteration.
template <typename Start>
void runUpdate(benchmark::State &state, const QString &fileName, qint64 size, int seed, int exchanges,
               double fixedWaitsS, const char *failure, Start start)
{
    QTemporaryDir dir;
    const QString file = writeImage(dir, fileName, image(size, seed));
    SimulatorThread sim(KipPort::MadiBnc);
    sim.counting = false;
    KipPort port(nullptr, 0);
    if (file.isEmpty() || !connectToCard(port, sim)) {
        state.SkipWithError("no file or no card");
        return;
    }
    Phase total;
    for (auto _ : state) {
        const Phase phase = measure(port, sim, [&] { start(port, file); });
        if (!phase.successful || phase.exchanges == 0) {
            state.SkipWithError(failure);
            return;
        }
        state.SetIterationTime(phase.wallNs / 1e9);
        total.add(phase);
        // The card restarts and is polled again before the next run.
        waitFor([&] { return port.linkState() == KipPort::LinkConnected; }, 5000);
    }
    report(state, total, exchanges, fixedWaitsS);
}

void CodeUpdate256KiB(benchmark::State &state)
{
    runUpdate(state, QStringLiteral("code.bin"), CodeFileSize, 1, int(CodeFileSize / CodeBlockSize),
              CodeFixedWaitsS, "the code update did not succeed",
              [](KipPort &port, const QString &file) { port.updateCode(file); });
}
BENCHMARK(CodeUpdate256KiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void FpgaUpdate2MiB(benchmark::State &state)
{
    runUpdate(state, QStringLiteral("fpga.bit"), FpgaImageSize, 2, int(FpgaImageSize / FpgaPacketSize),
              FpgaFixedWaitsS, "the FPGA update did not succeed",
              [](KipPort &port, const QString &file) { port.updateFpga(file); });
}
BENCHMARK(FpgaUpdate2MiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
