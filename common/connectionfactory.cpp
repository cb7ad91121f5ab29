#include "common/connectionfactory.h"

#include "common/nullconnection.h"
#include "common/serialconnection.h"
#include "common/tcpconnection.h"

namespace Common {

ConnectionFactory::ConnectionFactory(ILogger *logger, QObject *parent)
    : QObject(parent)
    , sharedLogger(logger)
{
}

IConnection *ConnectionFactory::createNullConnection(QObject *parent)
{
    return new NullConnection(sharedLogger, parent);
}

IConnection *ConnectionFactory::createSerialConnection(const QString &portName, QObject *parent)
{
    return new SerialConnection(portName, sharedLogger, parent);
}

IConnection *ConnectionFactory::createTcpConnection(const QString &address, const QString &port,
                                                    QObject *parent)
{
    bool ok = false;
    const quint16 number = port.toUShort(&ok, 10);
    return new TcpConnection(address, ok ? number : quint16(0), sharedLogger, parent);
}

} // namespace Common
