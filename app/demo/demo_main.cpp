// sablefold-demo: the controller's real main window with two simulated cards, one per
// slot, on pseudo-terminals, for trying the controller without the box.
#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sablefold-demo"));
    Common::initResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the controller's window with two simulated cards: KIP 1, the master slot, holds a BNC MADI "
        "card with a rack on port A unless another type is chosen; KIP 2 holds the card chosen here."));
    parser.addHelpOption();
    const QStringList typeNames = DemoRig::cardTypes().keys();
    QCommandLineOption slaveOption({QStringLiteral("s"), QStringLiteral("slave-card")},
                                   QStringLiteral("Card type in KIP 2: %1 (default madi-cat5).")
                                       .arg(typeNames.join(QStringLiteral(", "))),
                                   QStringLiteral("type"), QStringLiteral("madi-cat5"));
    QCommandLineOption masterOption({QStringLiteral("m"), QStringLiteral("master-card")},
                                    QStringLiteral("Card type in KIP 1 (default madi-bnc); an optocore, hydra or aes "
                                                   "card there shows its sync controls."),
                                    QStringLiteral("type"), QStringLiteral("madi-bnc"));
    QCommandLineOption stillOption(QStringLiteral("still"),
                                   QStringLiteral("Keep the cards still: no temperature drift, no lock drops."));
    parser.addOptions({slaveOption, masterOption, stillOption});
    parser.process(application);

    QTextStream err(stderr);
    const QString slaveName = parser.value(slaveOption).toLower();
    const QString masterName = parser.value(masterOption).toLower();
    for (const QString &name : {slaveName, masterName}) {
        if (!DemoRig::cardTypes().contains(name)) {
            err << "sablefold-demo: unknown card type \"" << name << "\"; one of: " << typeNames.join(", ")
                << "\n";
            return 2;
        }
    }

    // The demo keeps its window position apart from the controller's own settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + QStringLiteral("/sablefold-demo"));

    DemoRig rig(DemoRig::cardTypes().value(slaveName), DemoRig::cardTypes().value(masterName));
    if (!rig.isReady()) {
        err << "sablefold-demo: could not open pseudo-terminals for the simulated cards: "
            << rig.card(0).terminal().errorString() << rig.card(1).terminal().errorString() << "\n";
        return 1;
    }
    rig.setLiving(!parser.isSet(stillOption));

    QTextStream out(stdout);
    out << "KIP 1: simulated " << masterName << " card on " << rig.card(0).portName() << "\n"
        << "KIP 2: simulated " << slaveName << " card on " << rig.card(1).portName() << "\n";
    out.flush();

    MainWindow window(nullptr, rig.lister());
    // The demo looks like the real program; its title says it is not.
    window.setWindowTitle(QCoreApplication::translate("Demo", "%1 - DEMO with simulated cards (no box connected)")
                              .arg(window.windowTitle()));
    window.show();
    return application.exec();
}
