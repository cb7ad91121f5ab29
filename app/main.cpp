#include "common/resources.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Common::initResources();
    return application.exec();
}
