#include "app/commandline.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QLocale>
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
    window.show();
    return application.exec();
}
