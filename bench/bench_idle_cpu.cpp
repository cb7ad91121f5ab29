// bench_idle_cpu: the processor time the controller's window takes while both slots
// hold a connected card and nothing changes, measured over a stretch of wall time.
//
//   bench_idle_cpu [--seconds 60] [--slave-card madi-cat5] [--no-cards]
//
// The two simulated cards run in a child process (this program started again with
// --serve-cards), so the figure is the controller's alone: its status polls, its
// decoding, its redraws. The child's own figure is printed beside it. --no-cards
// measures the window with no adapter at all, when the slot forms rescan every 500 ms.
//
// Besides the processor time it counts the events the window's objects receive and the
// paint events per widget, so that a redraw of something that did not change shows up
// by name. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "common/resources.h"
#include "link/kipport.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

const char *const ServeOption = "serve-cards";

double cpuSecondsOfThisProcess()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
         + usage.ru_stime.tv_usec / 1e6;
}

// Time on the processor of every thread of another process, from the scheduler's
// nanosecond counts (/proc/<pid>/task/*/schedstat); -1 when unreadable. The clock-tick
// figures of /proc/<pid>/stat are too coarse for a process this quiet.
double cpuSecondsOf(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return -1;
    qint64 nanoseconds = 0;
    for (const QString &thread : threads) {
        QFile stat(tasks.filePath(thread + QStringLiteral("/schedstat")));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        nanoseconds += stat.readAll().split(' ').value(0).toLongLong();
    }
    return nanoseconds / 1e9;
}

// Counts every event that reaches an object of the application, and paint events per
// widget (by object name and class).
class EventCounter : public QObject
{
public:
    qint64 events = 0;
    qint64 timerEvents = 0;
    QHash<QString, int> paints;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        ++events;
        if (event->type() == QEvent::Timer)
            ++timerEvents;
        else if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            const QString name = watched->objectName().isEmpty() ? QStringLiteral("(unnamed)") : watched->objectName();
            ++paints[name + QStringLiteral(" (") + QLatin1String(watched->metaObject()->className()) + QLatin1Char(')')];
        }
        return false;
    }

    void reset()
    {
        events = timerEvents = 0;
        paints.clear();
    }
};

// The child: two simulated cards on pseudo-terminals, slot 0's the master. Prints one
// port name per line and serves until its standard input closes (the parent is gone).
int serveCards(QApplication &app, int slaveType)
{
    DemoRig rig(slaveType);
    QTextStream out(stdout);
    if (!rig.isReady()) {
        out << "error\n";
        return 1;
    }
    rig.setLiving(false);
    out << rig.card(0).portName() << "\n" << rig.card(1).portName() << "\n";
    out.flush();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    return app.exec();
}

bool bothSlotsConnected(const MainWindow &window)
{
    const auto ports = window.findChildren<EMS::KipPort *>();
    int connected = 0;
    for (const EMS::KipPort *port : ports)
        if (port->linkState() == EMS::KipPort::LinkConnected && port->cardType() != EMS::KipPort::NoCard)
            ++connected;
    return connected == 2;
}

void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench_idle_cpu"));
    Common::initResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures the controller's processor time while idle."));
    parser.addHelpOption();
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Wall time to measure (default 60)."),
                                     QStringLiteral("s"), QStringLiteral("60"));
    QCommandLineOption slaveOption(QStringLiteral("slave-card"),
                                   QStringLiteral("Card type in KIP 2 (default madi-cat5)."), QStringLiteral("type"),
                                   QStringLiteral("madi-cat5"));
    QCommandLineOption noCardsOption(QStringLiteral("no-cards"), QStringLiteral("No adapter at all."));
    QCommandLineOption serveOption(QLatin1String(ServeOption), QStringLiteral("Internal: serve the cards."),
                                   QStringLiteral("type"));
    parser.addOptions({secondsOption, slaveOption, noCardsOption, serveOption});
    parser.process(app);

    const QString slaveName = parser.value(parser.isSet(serveOption) ? serveOption : slaveOption);
    if (!DemoRig::cardTypes().contains(slaveName)) {
        std::fprintf(stderr, "unknown card type %s\n", qPrintable(slaveName));
        return 2;
    }
    const int slaveType = DemoRig::cardTypes().value(slaveName);
    if (parser.isSet(serveOption))
        return serveCards(app, slaveType);

    // The window reads and writes the settings store: keep it away from the user's.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    const bool noCards = parser.isSet(noCardsOption);

    QProcess cards;
    QStringList portNames;
    if (!noCards) {
        cards.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cards.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--") + QLatin1String(ServeOption), slaveName});
        while (portNames.size() < 2 && cards.waitForReadyRead(10000)) {
            while (cards.canReadLine() && portNames.size() < 2)
                portNames.append(QString::fromLocal8Bit(cards.readLine()).trimmed());
        }
        if (portNames.size() < 2 || portNames.contains(QStringLiteral("error"))) {
            std::fprintf(stderr, "the simulated cards did not start\n");
            return 1;
        }
    }

    EMS::SerialPortLister lister = [portNames] {
        QList<EMS::SerialPortEntry> ports;
        for (const QString &name : portNames) {
            EMS::SerialPortEntry entry;
            entry.portName = name;
            entry.description = QStringLiteral("USB Serial Port (simulated card)");
            entry.manufacturer = QStringLiteral("FTDI");
            ports.append(entry);
        }
        return ports;
    };
    EventCounter counter;
    app.installEventFilter(&counter);
    MainWindow window(nullptr, lister);
    window.show();

    if (!noCards) {
        QElapsedTimer waited;
        waited.start();
        while (!bothSlotsConnected(window) && waited.elapsed() < 20000)
            runFor(100);
        if (!bothSlotsConnected(window)) {
            std::fprintf(stderr, "the slots did not connect within 20 s\n");
            return 1;
        }
    }
    // Let the panels come up and the first card statuses settle.
    runFor(3000);

    // Start-up paints every widget: proof that the counting sees paint events at all.
    const qint64 startupEvents = counter.events;
    const int startupPainted = counter.paints.size();
    counter.reset();
    // The card port counts the messages it has received; the rise over the measurement
    // shows that the polling went on all the while.
    int messagesReceived = 0;
    for (EMS::KipPort *port : window.findChildren<EMS::KipPort *>())
        QObject::connect(port, &EMS::KipPort::messagesReceived, &counter, [&messagesReceived] { ++messagesReceived; });
    QStringList statusTexts;
    for (EMS::KipPort *port : window.findChildren<EMS::KipPort *>())
        QObject::connect(port, &EMS::KipPort::statusMessage, &counter,
                         [&statusTexts, port](const QString &text) {
                             statusTexts << QStringLiteral("KIP %1 %2").arg(port->slotIndex() + 1).arg(text);
                         });
    const double childStart = noCards ? 0 : cpuSecondsOf(cards.processId());
    const double start = cpuSecondsOfThisProcess();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    const double used = cpuSecondsOfThisProcess() - start;
    const double childUsed = noCards ? 0 : cpuSecondsOf(cards.processId()) - childStart;
    app.removeEventFilter(&counter);
    const bool stillConnected = noCards || bothSlotsConnected(window);

    QTextStream out(stdout);
    out << "idle controller, " << (noCards ? QStringLiteral("no adapters")
                                           : QStringLiteral("KIP 1 madi-bnc, KIP 2 ") + slaveName)
        << ", platform " << QGuiApplication::platformName() << "\n";
    out << QStringLiteral("start-up             %1 events, %2 widgets painted (not measured)\n")
               .arg(startupEvents)
               .arg(startupPainted);
    out << QStringLiteral("wall time            %1 s\n").arg(wallSeconds, 0, 'f', 2);
    out << QStringLiteral("controller CPU time  %1 s = %2 % of one core\n")
               .arg(used, 0, 'f', 3)
               .arg(100.0 * used / wallSeconds, 0, 'f', 3);
    if (!noCards)
        out << QStringLiteral("simulated cards CPU  %1 s = %2 % of one core (other process, not counted above)\n")
                   .arg(childUsed, 0, 'f', 3)
                   .arg(100.0 * childUsed / wallSeconds, 0, 'f', 3);
    out << QStringLiteral("events               %1 (%2 per second), of them timer events %3\n")
               .arg(counter.events)
               .arg(counter.events / wallSeconds, 0, 'f', 1)
               .arg(counter.timerEvents);
    out << QStringLiteral("card messages read   %1 (%2 per second; each slot polls its card once a second)\n")
               .arg(messagesReceived)
               .arg(messagesReceived / wallSeconds, 0, 'f', 2);
    int paintTotal = 0;
    for (int count : qAsConst(counter.paints))
        paintTotal += count;
    out << QStringLiteral("paint events         %1 (%2 per second)\n").arg(paintTotal).arg(paintTotal / wallSeconds, 0, 'f', 1);
    QMultiMap<int, QString> byCount;
    for (auto it = counter.paints.constBegin(); it != counter.paints.constEnd(); ++it)
        byCount.insert(it.value(), it.key());
    int shown = 0;
    for (auto it = byCount.constEnd(); it != byCount.constBegin() && shown < 15; ++shown) {
        --it;
        out << QStringLiteral("  %1  %2\n").arg(it.key(), 6).arg(it.value());
    }
    out << QStringLiteral("status messages      %1\n").arg(statusTexts.size());
    for (const QString &text : qAsConst(statusTexts).mid(0, 10))
        out << "  " << text << "\n";
    if (!stillConnected)
        out << "WARNING: a slot lost its card during the measurement\n";
    out.flush();

    if (!noCards) {
        cards.closeWriteChannel();
        if (!cards.waitForFinished(3000)) {
            cards.kill();
            cards.waitForFinished(1000);
        }
    }
    return stillConnected ? 0 : 1;
}
