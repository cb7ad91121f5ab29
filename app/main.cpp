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
    QApplication application(argc, argv);
    Common::initResources();

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
