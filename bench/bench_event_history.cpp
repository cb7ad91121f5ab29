// Pushes 1,000,000 events through the event history (the table model with its per-slot
// rings) and the rotating log file, as a long run of the program would over weeks, and
// reports the time each event costs and the process's memory: the resident size is
// sampled every 100,000 events and must level off once the rings are full.
//
//   bench_event_history [events]
#include "history/eventhistory.h"
#include "history/eventlogfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace EMS;

namespace {

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 where there is none.
qint64 statusKb(const char *key)
{
#ifdef Q_OS_LINUX
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
#else
    Q_UNUSED(key);
#endif
    return -1;
}

SlotEvent eventNumber(qint64 i)
{
    static const char *const texts[] = {"MADI A lost lock", "MADI A locked again", "Temperature 71 °C, above the limit of 70 °C",
                                        "Rack on MADI A, PSU 1, +15 V rail at 13.1 V, outside ±10 %", "Port ttyUSB0 opened"};
    SlotEvent event;
    // 1.1 s apart per slot, so no repeat folds and every event is a new row.
    event.timeMs = 1700000000000 + i * 550;
    event.slot = int(i % 2);
    event.kind = SlotEvent::Kind(i % 5);
    event.severity = SlotEvent::Severity(i % 3);
    event.text = QString::fromUtf8(texts[i % 5]) + QStringLiteral(" #%1").arg(i);
    return event;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir dir;
    QTextStream out(stdout);

    const qint64 startHwm = statusKb("VmHWM");
    EventHistory history;
    EventLogFile log(dir.path());
    QObject::connect(&history, &EventHistory::eventRecorded, &log, &EventLogFile::append);

    out << "events: " << total << ", capacity " << EventHistory::DefaultCapacityPerSlot << " per slot, log "
        << EventLogFile::DefaultFileCount << " files of " << EventLogFile::DefaultMaxBytes / 1024 << " kB\n";
    out << "start: VmRSS " << statusKb("VmRSS") << " kB, VmHWM " << startHwm << " kB\n";
    out.flush();

    QElapsedTimer timer;
    timer.start();
    qint64 sliceStartNs = 0;
    double worstSliceUs = 0;
    for (qint64 i = 0; i < total; ++i) {
        history.record(eventNumber(i));
        if ((i + 1) % 100000 == 0) {
            const qint64 nowNs = timer.nsecsElapsed();
            const double sliceUs = (nowNs - sliceStartNs) / 1000.0 / 100000;
            worstSliceUs = std::max(worstSliceUs, sliceUs);
            sliceStartNs = nowNs;
            out << "after " << (i + 1) << ": " << QString::number(sliceUs, 'f', 2) << " us/event, rows "
                << history.size() << ", VmRSS " << statusKb("VmRSS") << " kB\n";
            out.flush();
        }
    }
    const double perEventUs = timer.nsecsElapsed() / 1000.0 / total;

    qint64 logBytes = 0;
    for (int age = 0; age < EventLogFile::DefaultFileCount + 1; ++age)
        logBytes += QFile(log.filePath(age)).size();

    out << "mean: " << QString::number(perEventUs, 'f', 2) << " us/event (model + log file, line flushed each event)"
        << ", worst 100k slice " << QString::number(worstSliceUs, 'f', 2) << " us/event\n";
    out << "rows kept: " << history.size() << ", log on disk: " << logBytes / 1024 << " kB\n";
    out << "peak: VmHWM " << statusKb("VmHWM") << " kB (at start " << startHwm << " kB)\n";

    // The model alone, for comparison.
    EventHistory modelOnly;
    timer.restart();
    for (qint64 i = 0; i < total; ++i)
        modelOnly.record(eventNumber(i));
    out << "model alone: " << QString::number(timer.nsecsElapsed() / 1000.0 / total, 'f', 2) << " us/event\n";
    out << "end: VmRSS " << statusKb("VmRSS") << " kB, VmHWM " << statusKb("VmHWM") << " kB\n";
    return 0;
}
