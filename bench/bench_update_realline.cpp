// How long a firmware update takes on a real line, by the wall clock, against what the
// line and the protocol make unavoidable.
//
// The card simulator runs on a thread of its own with its realistic line switched on:
// 115200 baud 8N1 both ways, the card's bytes passed on in USB packets as an FTDI adapter
// does, with its latency timer at 16 ms (the driver's default) and at 1 ms (what the
// controller asks the Linux driver for). A code update and an FPGA download run through
// the controller's own card port, each timed from the call that starts it to the port's
// updateFinished(true).
//
//   wire   the line time of every byte exchanged in the timed window, both directions
//          (requests, answers, clear-to-send, status polls), 10 bits a byte
//   fixed  the protocol's own waits inside the window:
//            code: 100 ms from the "boot loader" request to the boot loader's first
//                  command (KipPort's hand-over) and 1000 ms from the Reset to the
//                  AutoBaud that finds the restarted card (Updater::AutoBaudDelayMs);
//            FPGA: 5000 ms from the card's "image complete" to the port's result, while
//                  the card loads its new FPGA (KipPort's FpgaRestartDelayMs).
//          Not counted, because they lie outside the window: the 100 ms hand-back after
//          a code update and the first status poll a keep-alive period (1000 ms) later.
//   ratio  wall / (wire + fixed)
//
// The measured sizes are small enough to run in a few minutes. The projection to a full
// 256 KiB code file and a 2 MiB FPGA image scales the transfer phase (first block or
// packet out to the last one's answer in) by the number of blocks or packets, and
// keeps the rest of the window (hand-over, setup, reset, fixed waits) as measured; wire
// time is projected the same way.
//
// The last line holds the two ratios of code and FPGA together, by latency:
//   ratio_1ms=<(code + FPGA wall) / (code + FPGA wire + fixed) at 1 ms> ratio_16ms=<same at 16 ms>
#include "link/kipport.h"
#include "bench/updatebench.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/seriallinemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>

using EMS::KipPort;

namespace {

constexpr int CodeBlockSize = 64;
constexpr int FpgaPacketSize = 128;
constexpr qint64 MeasuredCodeSize = 32 * 1024;
constexpr qint64 MeasuredFpgaSize = 64 * 1024;
constexpr qint64 FullCodeSize = 256 * 1024;
constexpr qint64 FullFpgaSize = 2 * 1024 * 1024;
constexpr double CodeFixedS = 0.1 + 1.0;
constexpr double FpgaFixedS = 5.0;
constexpr int UpdateTimeoutMs = 600000;

double wireSeconds(qint64 bytes)
{
    return SerialLineModel::wireTimeNs(bytes) / 1e9;
}

struct Run
{
    bool successful = false;
    double wallS = 0;
    double transferS = 0; // first block or packet out to the last answer in
    qint64 bytes = 0;
    qint64 transferBytes = 0;
    double fixedS = 0;

    double idealS() const { return wireSeconds(bytes) + fixedS; }
    double ratio() const { return wallS / idealS(); }
    // The same update with its transfer phase `scale` times as long.
    double projectedWallS(double scale) const { return wallS - transferS + transferS * scale; }
    double projectedIdealS(double scale) const
    {
        return fixedS + wireSeconds(bytes - transferBytes) + wireSeconds(transferBytes) * scale;
    }
};

// Times one update from start() to updateFinished. The transfer phase opens at the
// progress report of the first block or packet sent (the code update reports 0 once
// before, with its Download request) and closes at 100.
Run timeUpdate(KipPort &port, SimulatorThread &sim, double fixedS, int reportsBeforeTransfer,
               const std::function<void()> &start)
{
    Run run;
    run.fixedS = fixedS;
    QElapsedTimer wall;
    qint64 transferStartNs = -1, transferStartBytes = 0;
    int reports = 0;
    bool finished = false;
    QMetaObject::Connection progress = QObject::connect(&port, &KipPort::updateProgress, [&](int percent) {
        if (percent < 100 && reports++ == reportsBeforeTransfer) {
            transferStartNs = wall.nsecsElapsed();
            transferStartBytes = sim.bytes();
        } else if (percent >= 100 && transferStartNs >= 0 && run.transferS == 0) {
            run.transferS = (wall.nsecsElapsed() - transferStartNs) / 1e9;
            run.transferBytes = sim.bytes() - transferStartBytes;
        }
    });
    QMetaObject::Connection result = QObject::connect(&port, &KipPort::updateFinished, [&](bool success) {
        run.wallS = wall.nsecsElapsed() / 1e9;
        run.successful = success;
        finished = true;
    });
    sim.resetBytes();
    wall.start();
    start();
    waitFor([&] { return finished; }, UpdateTimeoutMs);
    run.bytes = sim.bytes();
    QObject::disconnect(progress);
    QObject::disconnect(result);
    return run;
}

QString writeImage(const QTemporaryDir &dir, const QString &name, qint64 size, int seed)
{
    QByteArray bytes(int(size), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + seed) & 0xFF);
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void print(const char *line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void report(const char *what, int latencyMs, const Run &run, qint64 measured, qint64 full, int unit)
{
    // The transfer phase holds every block's or packet's exchange.
    const double scale = double(full / unit) / double(measured / unit);
    const QByteArray line =
        QStringLiteral("%1 %2 KiB at %3 ms: wall %4 s, wire %5 s, fixed %6 s, ratio %7; transfer %8 s for %9 bytes; "
                       "projected %10 KiB: %11 min (wire + fixed %12 min), ratio %13")
            .arg(QLatin1String(what)).arg(measured / 1024).arg(latencyMs)
            .arg(run.wallS, 0, 'f', 2).arg(wireSeconds(run.bytes), 0, 'f', 2).arg(run.fixedS, 0, 'f', 1)
            .arg(run.ratio(), 0, 'f', 3).arg(run.transferS, 0, 'f', 2).arg(run.transferBytes)
            .arg(full / 1024).arg(run.projectedWallS(scale) / 60, 0, 'f', 2)
            .arg(run.projectedIdealS(scale) / 60, 0, 'f', 2)
            .arg(run.projectedWallS(scale) / run.projectedIdealS(scale), 0, 'f', 3)
            .toUtf8();
    print(line.constData());
}

struct LatencyResult
{
    Run code;
    Run fpga;
    bool ok = false;
};

LatencyResult runAt(int latencyMs, const QString &codeFile, const QString &fpgaFile)
{
    LatencyResult result;
    SimulatorThread sim(KipPort::MadiBnc, [latencyMs](CardSimulator &card) { card.setRealisticLine(true, latencyMs); });
    KipPort port(nullptr, 0);
    port.setSerialPortName(sim.portName);
    port.connectSerialPort();
    const auto connected = [&] { return port.linkState() == KipPort::LinkConnected && port.cardType() != KipPort::NoCard; };
    if (!waitFor(connected, 15000)) {
        print("the card was not found");
        return result;
    }
    result.code = timeUpdate(port, sim, CodeFixedS, 1, [&] { port.updateCode(codeFile); });
    if (!result.code.successful) {
        print("the code update did not succeed");
        return result;
    }
    report("code", latencyMs, result.code, MeasuredCodeSize, FullCodeSize, CodeBlockSize);
    // The card restarts with its new code and is polled again before the FPGA goes.
    if (!waitFor([&] { return port.linkState() != KipPort::LinkConnected; }, 2000) || !waitFor(connected, 15000)) {
        print("the card did not come back after its code update");
        return result;
    }
    result.fpga = timeUpdate(port, sim, FpgaFixedS, 0, [&] { port.updateFpga(fpgaFile); });
    if (!result.fpga.successful) {
        print("the FPGA download did not succeed");
        return result;
    }
    report("FPGA", latencyMs, result.fpga, MeasuredFpgaSize, FullFpgaSize, FpgaPacketSize);
    result.ok = true;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\nsablefold.link.info=false"));
    QTemporaryDir dir;
    const QString codeFile = writeImage(dir, QStringLiteral("code.bin"), MeasuredCodeSize, 1);
    const QString fpgaFile = writeImage(dir, QStringLiteral("fpga.bit"), MeasuredFpgaSize, 2);
    if (codeFile.isEmpty() || fpgaFile.isEmpty()) {
        print("cannot write the images");
        return 1;
    }
    QMap<int, LatencyResult> results;
    for (int latencyMs : {16, 1}) {
        results[latencyMs] = runAt(latencyMs, codeFile, fpgaFile);
        if (!results[latencyMs].ok)
            return 1;
    }
    const auto together = [](const LatencyResult &r) {
        return (r.code.wallS + r.fpga.wallS) / (r.code.idealS() + r.fpga.idealS());
    };
    const LatencyResult &fast = results[1], &slow = results[16];
    print(QStringLiteral("code_ratio_1ms=%1 fpga_ratio_1ms=%2 code_ratio_16ms=%3 fpga_ratio_16ms=%4 "
                         "code_16ms_over_1ms=%5 fpga_16ms_over_1ms=%6")
              .arg(fast.code.ratio(), 0, 'f', 3).arg(fast.fpga.ratio(), 0, 'f', 3)
              .arg(slow.code.ratio(), 0, 'f', 3).arg(slow.fpga.ratio(), 0, 'f', 3)
              .arg(slow.code.wallS / fast.code.wallS, 0, 'f', 2).arg(slow.fpga.wallS / fast.fpga.wallS, 0, 'f', 2)
              .toUtf8().constData());
    print(QStringLiteral("ratio_1ms=%1 ratio_16ms=%2").arg(together(fast), 0, 'f', 3).arg(together(slow), 0, 'f', 3)
              .toUtf8().constData());
    return 0;
}
