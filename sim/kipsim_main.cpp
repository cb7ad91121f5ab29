// kipsim: one simulated interface card on a pseudo-terminal, for trying the controller
// without hardware. Prints the port to open, then serves the card until stopped.
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    ssize_t ignored = ::write(stopPipe[1], &byte, 1);
    (void)ignored;
}

const QMap<QString, int> &cardTypes()
{
    static const QMap<QString, int> types{
        {"madi-bnc", 20}, {"adc", 21},   {"dac", 22},      {"aes", 23},      {"madi-cat5", 24},
        {"waves", 25},    {"aviom", 26}, {"dante", 27},    {"optocore", 28}, {"hydra", 29},
    };
    return types;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kipsim");

    QCommandLineParser parser;
    parser.setApplicationDescription("Simulates one interface card behind a pseudo-terminal.");
    parser.addHelpOption();
    const QStringList typeNames = cardTypes().keys();
    QCommandLineOption typeOption({"t", "card-type"},
                                  QString("Card type: %1, or its code (default madi-bnc).").arg(typeNames.join(", ")),
                                  "type", "madi-bnc");
    QCommandLineOption bootOption({"b", "boot-loader"}, "Start in the boot loader, as a card without its program.");
    QCommandLineOption linkOption({"l", "link"}, "Also make the port reachable through a symbolic link at this path.",
                                  "path");
    QCommandLineOption livingOption("living", "Let the temperature drift and locks come and go now and then.");
    QCommandLineOption latencyOption("latency", "Answer every request this many milliseconds late.", "ms", "0");
    QCommandLineOption lineOption("line-model",
                                  "Pace bytes at 115200 baud and pass the card's bytes on as an FTDI adapter does.");
    QCommandLineOption latencyTimerOption("latency-timer",
                                          "The adapter's latency timer with --line-model, 1 to 255 ms (default 16).",
                                          "ms", "16");
    parser.addOptions({typeOption, bootOption, linkOption, livingOption, latencyOption, lineOption, latencyTimerOption});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);

    const QString typeText = parser.value(typeOption).toLower();
    bool numeric = false;
    int cardType = typeText.toInt(&numeric);
    if (!numeric) {
        if (!cardTypes().contains(typeText)) {
            err << "kipsim: unknown card type " << typeText << "\n";
            return 2;
        }
        cardType = cardTypes().value(typeText);
    }

    CardSimulator card(nullptr, parser.isSet(bootOption) ? CardSimulator::StartBootLoader
                                                         : CardSimulator::StartApplication);
    if (!card.isLinkUp()) {
        err << "kipsim: cannot open a pseudo-terminal\n";
        return 1;
    }
    card.firmware().resetState(cardType);
    card.firmware().setLiving(parser.isSet(livingOption));
    card.setReplyLatency(parser.value(latencyOption).toInt());
    card.setRealisticLine(parser.isSet(lineOption), parser.value(latencyTimerOption).toInt());
    if (parser.isSet(linkOption) && !card.setLinkPath(parser.value(linkOption))) {
        err << "kipsim: cannot make the link " << parser.value(linkOption) << "\n";
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, stopPipe) != 0) {
        err << "kipsim: cannot set up signal handling\n";
        return 1;
    }
    QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    out << card.portName() << "\n";
    out.flush();
    QObject::connect(&card, &CardSimulator::bootLoaderChanged, [&err](bool inBootLoader) {
        err << (inBootLoader ? "kipsim: boot loader\n" : "kipsim: application running\n");
        err.flush();
    });

    return app.exec();
}
