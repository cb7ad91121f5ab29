#include "common/udpconnection.h"

#include <QUdpSocket>

namespace Common {

UdpConnection::UdpConnection(const QHostAddress &address, quint16 port, QObject *parent)
    : ConnectionSignals(parent)
    , socket(new QUdpSocket(this))
    , destination(address)
    , destinationPort(port)
{
}

bool UdpConnection::isOpen() const
{
    return socket->isOpen();
}

void UdpConnection::send(QByteArray data)
{
    // An unbound socket binds itself to an ephemeral port on the first datagram.
    socket->writeDatagram(data, destination, destinationPort);
}

} // namespace Common
