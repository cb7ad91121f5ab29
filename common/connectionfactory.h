#pragma once

#include "common/iconnectionfactory.h"

#include <QObject>

namespace Common {

class ILogger;

// Builds connections that all log through one shared logger (not owned).
class ConnectionFactory : public QObject, public IConnectionFactory
{
    Q_OBJECT

public:
    explicit ConnectionFactory(ILogger *logger, QObject *parent = nullptr);

    ILogger *logger() const { return sharedLogger; }

    IConnection *createNullConnection(QObject *parent) override;
    IConnection *createSerialConnection(const QString &portName, QObject *parent) override;
    // The port is decimal text; anything else, or a number beyond 65535, gives port 0.
    IConnection *createTcpConnection(const QString &address, const QString &port,
                                     QObject *parent) override;

private:
    ILogger *sharedLogger;
};

} // namespace Common
