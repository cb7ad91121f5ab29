#pragma once

#include <QString>

class QObject;

namespace Common {

class IConnection;

class IConnectionFactory
{
public:
    virtual ~IConnectionFactory() = default;

    virtual IConnection *createNullConnection(QObject *parent) = 0;
    virtual IConnection *createSerialConnection(const QString &portName, QObject *parent) = 0;
    virtual IConnection *createTcpConnection(const QString &address, const QString &port,
                                             QObject *parent) = 0;
};

} // namespace Common
