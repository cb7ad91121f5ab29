#pragma once

#include "common/iconnection.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QString>

class QUdpSocket;

namespace EMS {

// The engine link over the network: datagrams to one engine (host, remote port),
// datagrams from anyone on the local port.
class AppConnection : public Common::ConnectionSignals, public Common::IConnection
{
    Q_OBJECT

public:
    explicit AppConnection(QObject *parent = nullptr, const QString &name = QString());

    // Binds the local port (0: any free port) and sends to host:remotePort.
    void open(const QString &host, quint16 remotePort, quint16 localPort);

    bool isOpen() const override;
    Common::ConnectionSignals *connectionSignals() override { return this; }

    QString name() const { return connectionName; }
    QString hostAddress() const { return host; }
    quint16 remotePort() const { return port; }
    // The bound local port, or 0 while unbound.
    quint16 localPort() const;

    // This machine's address on the engine network: the first local address in
    // 192.168.2.x, else the loopback address.
    static QString localAddress();
    static QString chooseLocalAddress(const QList<QHostAddress> &addresses);

    // The text reported after the name for a socket state; empty for an unknown state.
    static QString stateText(QAbstractSocket::SocketState state);

signals:
    void statusMessage(QString data);
    void connectedChanged(bool connected);

public slots:
    void open() override;
    void close() override;
    void send(QByteArray data) override;

private slots:
    void readDatagrams();
    void socketStateChanged(QAbstractSocket::SocketState state);

private:
    QUdpSocket *socket;
    QString host;
    quint16 port = 0;
    QString connectionName;
};

} // namespace EMS
