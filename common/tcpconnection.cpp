#include "common/tcpconnection.h"

#include "common/loggers.h"

#include <QTcpSocket>

namespace Common {

TcpConnection::TcpConnection(const QString &address, quint16 port, ILogger *logger, QObject *parent)
    : ConnectionSignals(parent)
    , tcpSocket(new QTcpSocket(this))
    , hostAddress(address)
    , hostPort(port)
    , logger(logger ? logger : NullLogger::instance())
{
    connect(tcpSocket, &QTcpSocket::readyRead, this, &TcpConnection::readData);
    connect(tcpSocket, &QTcpSocket::connected, this, &TcpConnection::onConnected);
    connect(tcpSocket, &QTcpSocket::errorOccurred, this, &TcpConnection::onError);
}

bool TcpConnection::isOpen() const
{
    return tcpSocket->isOpen();
}

QString TcpConnection::endpoint() const
{
    return hostAddress + QLatin1Char(':') + QString::number(hostPort);
}

void TcpConnection::open()
{
    // A connection under way counts as open: a second open must not restart it.
    if (tcpSocket->isOpen() || tcpSocket->state() != QAbstractSocket::UnconnectedState)
        return;
    connecting = true;
    // Whether the peer accepts is only known later; success and failure are logged
    // from connected() and errorOccurred(), not guessed here.
    tcpSocket->connectToHost(hostAddress, hostPort, QIODevice::ReadWrite);
}

void TcpConnection::onConnected()
{
    connecting = false;
    logger->debug(QStringLiteral("TCP connection opened to: ") + endpoint());
}

void TcpConnection::onError(QAbstractSocket::SocketError)
{
    if (!connecting)
        return;
    connecting = false;
    logger->critical(QStringLiteral("Unable to open TCP connection to: ") + endpoint());
    // The socket reports itself open from the start of the attempt; a refused attempt
    // must leave nothing that looks open to send on.
    tcpSocket->abort();
    tcpSocket->close();
}

void TcpConnection::close()
{
    connecting = false;
    tcpSocket->close();
}

void TcpConnection::send(QByteArray data)
{
    if (!tcpSocket->isOpen()) {
        logger->warning(QStringLiteral("Unable to send data to TCP socket: ") + endpoint()
                        + QStringLiteral(". The connection is not open."));
        return;
    }
    tcpSocket->write(data);
}

void TcpConnection::readData()
{
    if (!tcpSocket->isOpen())
        return;
    const QByteArray data = tcpSocket->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

} // namespace Common
