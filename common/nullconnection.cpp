#include "common/nullconnection.h"

#include "common/loggers.h"

namespace Common {

NullConnection::NullConnection(ILogger *logger, QObject *parent)
    : ConnectionSignals(parent)
    , logger(logger ? logger : NullLogger::instance())
{
}

} // namespace Common
