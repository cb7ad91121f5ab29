#pragma once

#include "common/iconnection.h"

#include <QHostAddress>

class QUdpSocket;

namespace Common {

// Sends each chunk as one datagram to a fixed destination. Send-only: it neither
// needs opening nor ever receives.
class UdpConnection : public ConnectionSignals, public IConnection
{
    Q_OBJECT

public:
    UdpConnection(const QHostAddress &address, quint16 port, QObject *parent = nullptr);

    bool isOpen() const override;
    ConnectionSignals *connectionSignals() override { return this; }

    QHostAddress address() const { return destination; }
    quint16 port() const { return destinationPort; }

public slots:
    void open() override {}
    void close() override {}
    void send(QByteArray data) override;

private:
    QUdpSocket *socket;
    QHostAddress destination;
    quint16 destinationPort;
};

} // namespace Common
