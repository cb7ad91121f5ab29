// sablefold-cli: the controller for scripts and machines without a display. Each run
// does one thing with the box's slots, through the same slot controller the window
// uses, and ends with an exit status a script can test.
#include "cli/clicommand.h"
#include "cli/interruptwatcher.h"
#include "cli/optocoreupdatecommand.h"
#include "cli/portscommand.h"
#include "cli/setcommand.h"
#include "cli/statuscommand.h"
#include "cli/updatecommand.h"
#include "cli/watchcommand.h"
#include "remote/remoteoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

const char *Description =
    "Controls the Sable Fold box without a window.\n"
    "\n"
    "Commands:\n"
    "  ports                       the serial ports, the slot each would serve, which are busy\n"
    "  status [--slot N] [--json]  both slots (or one) once, after the cards have answered\n"
    "  watch [--json]              events as they happen, until Ctrl-C (or --duration);\n"
    "                              with --osc-out/--osc-in also the OSC bridge\n"
    "  update --slot N (--code FILE | --fpga FILE | --all)\n"
    "                              one firmware update; succeeds when the card reports\n"
    "                              the file's version back\n"
    "  update --slot N --optocore DIR\n"
    "                              the Optocore module's firmware from DIR; succeeds when\n"
    "                              the module, out of its loader, reports its version\n"
    "  set --slot N sync-source auto|word-clock|madi-a|madi-b\n"
    "  set --slot N madi-tx A|B auto|57|64\n"
    "                              change a setting; succeeds when the card reports it\n"
    "\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 wrong usage.";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorix"));
    QCoreApplication::setApplicationName(QStringLiteral("sablefold-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SABLEFOLD_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("ports, status, watch, update or set"));
    parser.addOptions({
        {QStringLiteral("slot"), QStringLiteral("The slot: 1 (KIP 1, master) or 2 (KIP 2)."), QStringLiteral("N")},
        {QStringLiteral("json"), QStringLiteral("Print JSON instead of text.")},
        {QStringLiteral("timeout"), QStringLiteral("Longest wait for the cards, in seconds (default 10)."),
         QStringLiteral("seconds"), QStringLiteral("10")},
        {QStringLiteral("code"), QStringLiteral("update: the processor code file."), QStringLiteral("file")},
        {QStringLiteral("fpga"), QStringLiteral("update: the FPGA image."), QStringLiteral("file")},
        {QStringLiteral("all"), QStringLiteral("update: code and FPGA from the program folder, as required.")},
        {QStringLiteral("optocore"),
         QStringLiteral("update: the folder with the Optocore module's build.txt, udi71221.bin and pdi71221.sop."),
         QStringLiteral("dir")},
        {QStringLiteral("duration"), QStringLiteral("watch: stop after this many seconds."), QStringLiteral("seconds")},
        {QStringLiteral("verbose"), QStringLiteral("Print the program's debug log on standard error.")},
    });
    EMS::RemoteOptions::addTo(parser);
    parser.process(app);

    // The library's debug log is for diagnosis, not for a script's standard error;
    // QT_LOGGING_RULES still overrides this.
    if (!parser.isSet(QStringLiteral("verbose")))
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false\nsablefold.*.info=false"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        err << "sablefold-cli: no command given; see sablefold-cli --help\n";
        return Cli::CliCommand::UsageError;
    }

    Cli::CommandContext context;
    context.parser = &parser;
    context.arguments = positional.mid(1);
    context.json = parser.isSet(QStringLiteral("json"));
    context.out = &out;
    context.err = &err;
    bool ok = false;
    const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600) {
        err << "sablefold-cli: --timeout takes seconds, from more than 0 to 3600\n";
        return Cli::CliCommand::UsageError;
    }
    context.timeoutMs = int(seconds * 1000);

    const QString name = positional.first();
    std::unique_ptr<Cli::CliCommand> command;
    if (name == QLatin1String("ports"))
        command = std::make_unique<Cli::PortsCommand>(context, nullptr);
    else if (name == QLatin1String("status"))
        command = std::make_unique<Cli::StatusCommand>(context, nullptr);
    else if (name == QLatin1String("watch"))
        command = std::make_unique<Cli::WatchCommand>(context, nullptr);
    else if (name == QLatin1String("update") && parser.isSet(QStringLiteral("optocore"))
             && !parser.isSet(QStringLiteral("code")) && !parser.isSet(QStringLiteral("fpga"))
             && !parser.isSet(QStringLiteral("all")))
        // The module's update is a flow of its own; mixed with another choice, the update
        // command below refuses it.
        command = std::make_unique<Cli::OptocoreUpdateCommand>(context, nullptr);
    else if (name == QLatin1String("update"))
        command = std::make_unique<Cli::UpdateCommand>(context, nullptr);
    else if (name == QLatin1String("set"))
        command = std::make_unique<Cli::SetCommand>(context, nullptr);
    if (!command) {
        err << "sablefold-cli: unknown command " << name << "; see sablefold-cli --help\n";
        return Cli::CliCommand::UsageError;
    }
    if (name != QLatin1String("set") && !context.arguments.isEmpty()) {
        err << "sablefold-cli: " << name << " takes no further arguments: " << context.arguments.join(' ') << '\n';
        return Cli::CliCommand::UsageError;
    }

    Cli::InterruptWatcher interrupts;
    QObject::connect(&interrupts, &Cli::InterruptWatcher::interrupted, &app, [&] {
        // Stopping a watch is how it ends; stopping anything else is not success.
        if (name == QLatin1String("watch"))
            app.exit(Cli::CliCommand::Success);
        else
            app.exit(130);
    });
    QObject::connect(command.get(), &Cli::CliCommand::finished, &app, [&app](int code) { app.exit(code); });
    // Started from the loop, so a command that finishes at once still exits through it.
    QMetaObject::invokeMethod(command.get(), &Cli::CliCommand::start, Qt::QueuedConnection);
    return app.exec();
}
