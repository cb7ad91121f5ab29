#pragma once

#include "common/iconnection.h"

namespace Common {

class ILogger;

// A connection to nowhere: always open, swallows what it is given, never receives.
class NullConnection : public ConnectionSignals, public IConnection
{
    Q_OBJECT

public:
    explicit NullConnection(ILogger *logger = nullptr, QObject *parent = nullptr);

    bool isOpen() const override { return true; }
    ConnectionSignals *connectionSignals() override { return this; }

public slots:
    void open() override {}
    void close() override {}
    void send(QByteArray) override {}

private:
    ILogger *logger;
};

} // namespace Common
