#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Common::initResources();
    MainWindow window;
    window.show();
    return application.exec();
}
