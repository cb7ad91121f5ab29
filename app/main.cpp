#include "app/commandline.h"
#include "app/mainwindow.h"
#include "common/resources.h"
#include "remote/remoteoptions.h"
#include "ui/kipform.h"

#include <QApplication>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

#ifndef SABLEFOLD_INSTALLED_TRANSLATIONS
#define SABLEFOLD_INSTALLED_TRANSLATIONS "translations"
#endif

int main(int argc, char *argv[])
{
    CommandLine::handleInformationOptions(argc, argv);

    QApplication application(argc, argv);
    // Names the folder of the event log (QStandardPaths::AppDataLocation), the same on
    // every system whatever the program file is called.
    QCoreApplication::setApplicationName(QStringLiteral("sablefold-controller"));
    Common::initResources();

    CommandLine commandLine;
    commandLine.parser().process(application);

    // The catalogue for the user's language sits beside the program in the build tree
    // and under share/ once installed; without one the texts stay in English.
    QTranslator translator;
    const QString programDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    for (const QString &dir : {programDir + QStringLiteral("translations"),
                               programDir + QStringLiteral(SABLEFOLD_INSTALLED_TRANSLATIONS)}) {
        if (translator.load(QLocale(), QStringLiteral("sablefold"), QStringLiteral("_"), dir)) {
            application.installTranslator(&translator);
            break;
        }
    }

    MainWindow window;
    // A device named on the command line (kipsim's pseudo-terminal, say) replaces the
    // choice by position; the OSC side starts only when asked for.
    const QList<EMS::SlotController *> controllers{window.slotForm(0)->slotController(),
                                             window.slotForm(1)->slotController()};
    EMS::RemoteOptions::applyPorts(commandLine.parser(), controllers[0], controllers[1]);
    for (EMS::SlotController *slot : controllers) {
        if (!slot->fixedPortName().isEmpty())
            slot->scanPorts();
    }
    QString error;
    EMS::RemoteBridge *bridge = EMS::RemoteOptions::createBridge(commandLine.parser(), controllers, &window, &error);
    if (!bridge) {
        QTextStream(stderr) << "sablefold-controller: " << error << '\n';
        return 2;
    }
    bridge->publishEventsOf(window.eventHistory());

    window.show();
    return application.exec();
}
