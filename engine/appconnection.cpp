#include "engine/appconnection.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace EMS {

AppConnection::AppConnection(QObject *parent, const QString &name)
    : Common::ConnectionSignals(parent)
    , socket(new QUdpSocket(this))
    , connectionName(name.isEmpty() ? QStringLiteral("app") : name)
{
    connect(socket, &QUdpSocket::readyRead, this, &AppConnection::readDatagrams);
    connect(socket, &QUdpSocket::stateChanged, this, &AppConnection::socketStateChanged);
}

void AppConnection::open(const QString &hostAddress, quint16 remotePort, quint16 localPort)
{
    host = hostAddress;
    port = remotePort;
    if (socket->isOpen() || socket->state() != QAbstractSocket::UnconnectedState)
        socket->close();
    // A port that cannot be bound leaves the link send-only: the first datagram binds
    // an ephemeral port, so the engine can still be driven, if not heard.
    socket->bind(QHostAddress::Any, localPort, QAbstractSocket::DefaultForPlatform);
    if (!socket->isOpen())
        socket->open(QIODevice::ReadWrite);
}

bool AppConnection::isOpen() const
{
    return socket->isOpen();
}

quint16 AppConnection::localPort() const
{
    return socket->localPort();
}

void AppConnection::open()
{
    if (!socket->isOpen())
        socket->open(QIODevice::ReadWrite);
}

void AppConnection::close()
{
    socket->close();
}

void AppConnection::send(QByteArray data)
{
    if (!socket->isOpen())
        return;
    if (socket->writeDatagram(data, QHostAddress(host), port) == -1)
        emit statusMessage(tr("error sending data to ") + connectionName);
}

void AppConnection::readDatagrams()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        // A failed read leaves the datagram queued; stop rather than spin on it.
        if (!datagram.isValid())
            break;
        emit dataReceived(datagram.data());
    }
}

QString AppConnection::stateText(QAbstractSocket::SocketState state)
{
    switch (state) {
    case QAbstractSocket::UnconnectedState:
        return tr(" network disconnected");
    case QAbstractSocket::HostLookupState:
        return tr(" network looking up host...");
    case QAbstractSocket::ConnectingState:
        return tr(" network connecting...");
    case QAbstractSocket::ConnectedState:
        return tr(" network connected");
    case QAbstractSocket::BoundState:
        return tr(" network opened");
    case QAbstractSocket::ListeningState:
        return tr(" network listening...");
    case QAbstractSocket::ClosingState:
        return tr(" network closing...");
    }
    return QString();
}

void AppConnection::socketStateChanged(QAbstractSocket::SocketState state)
{
    emit statusMessage(connectionName + stateText(state));
    if (state == QAbstractSocket::BoundState || state == QAbstractSocket::ConnectedState)
        emit connectedChanged(true);
    else if (state == QAbstractSocket::UnconnectedState)
        emit connectedChanged(false);
}

QString AppConnection::chooseLocalAddress(const QList<QHostAddress> &addresses)
{
    for (const QHostAddress &address : addresses) {
        const QString text = address.toString();
        if (text.startsWith(QLatin1String("192.168.2")))
            return text;
    }
    return QStringLiteral("127.0.0.1");
}

QString AppConnection::localAddress()
{
    return chooseLocalAddress(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
}

} // namespace EMS
