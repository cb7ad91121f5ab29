#pragma once

#include "common/iconnection.h"

#include <QAbstractSocket>
#include <QString>

class QTcpSocket;

namespace Common {

class ILogger;

// A TCP client connection. Opening never blocks: the connection attempt runs on the
// event loop, and its outcome is logged when it is known.
class TcpConnection : public ConnectionSignals, public IConnection
{
    Q_OBJECT

public:
    TcpConnection(const QString &address, quint16 port, ILogger *logger = nullptr,
                  QObject *parent = nullptr);

    bool isOpen() const override;
    ConnectionSignals *connectionSignals() override { return this; }

    QString address() const { return hostAddress; }
    quint16 port() const { return hostPort; }
    QTcpSocket *socket() const { return tcpSocket; }

public slots:
    void open() override;
    void close() override;
    void send(QByteArray data) override;

private slots:
    void readData();
    void onConnected();
    void onError(QAbstractSocket::SocketError error);

private:
    QString endpoint() const;

    QTcpSocket *tcpSocket;
    QString hostAddress;
    quint16 hostPort;
    ILogger *logger;
    bool connecting = false;
};

} // namespace Common
