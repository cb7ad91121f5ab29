#include "common/loggers.h"

#include <QtGlobal>

namespace Common {

// "%s" keeps a stray % in the text from being read as a format directive.
void SimpleLogger::debug(const QString &text)
{
    qDebug("%s", text.toLocal8Bit().constData());
}

void SimpleLogger::warning(const QString &text)
{
    qWarning("%s", text.toLocal8Bit().constData());
}

void SimpleLogger::critical(const QString &text)
{
    qCritical("%s", text.toLocal8Bit().constData());
}

ILogger *NullLogger::instance()
{
    static NullLogger logger;
    return &logger;
}

} // namespace Common
