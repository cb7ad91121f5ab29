#include "app/commandline.h"

#include "remote/remoteoptions.h"

#include <QCoreApplication>

#ifndef SABLEFOLD_VERSION
#define SABLEFOLD_VERSION "unknown"
#endif

CommandLine::CommandLine()
{
    QCoreApplication::setApplicationVersion(QStringLiteral(SABLEFOLD_VERSION));
    commandParser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine",
        "Sable Fold Controller: finds the box's two USB serial adapters (KIP 1, the master slot, and KIP 2), "
        "shows what each slot's card reports, changes its settings and updates its firmware. The events of "
        "both slots are kept in the Events window (Ctrl+E) and in events.log under the program's data folder."));
    commandParser.addHelpOption();
    commandParser.addVersionOption();
    EMS::RemoteOptions::addTo(commandParser);
}

void CommandLine::handleInformationOptions(int argc, char *argv[])
{
    // Only a look at the words: Qt's own options (-platform, -style, ...) are taken by
    // QApplication later, and must not be refused here as unknown.
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        asked = asked || word == "-h" || word == "--help" || word == "-?" || word == "--help-all" || word == "-v"
                || word == "--version";
    }
    if (!asked)
        return;
    QCoreApplication application(argc, argv);
    CommandLine commandLine;
    commandLine.parser().process(application); // prints and exits
}
