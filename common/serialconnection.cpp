#include "common/serialconnection.h"

#include "common/loggers.h"

namespace Common {

SerialConnection::SerialConnection(const QString &portName, ILogger *logger, QObject *parent)
    : ConnectionSignals(parent)
    , port(new QSerialPort(this))
    , name(portName)
    , logger(logger ? logger : NullLogger::instance())
{
    connect(port, &QSerialPort::readyRead, this, &SerialConnection::readData);
    connect(port, &QSerialPort::errorOccurred, this, &SerialConnection::onError);
}

bool SerialConnection::isOpen() const
{
    return port->isOpen();
}

QString SerialConnection::errorLine(int errorCode) const
{
    return QStringLiteral("Error in serial port: ") + name + QLatin1Char(' ') + QString::number(errorCode);
}

bool SerialConnection::configureLine()
{
    return port->setBaudRate(BaudRate, QSerialPort::AllDirections)
        && port->setDataBits(QSerialPort::Data8)
        && port->setParity(QSerialPort::NoParity)
        && port->setStopBits(QSerialPort::OneStop)
        && port->setFlowControl(QSerialPort::NoFlowControl);
}

void SerialConnection::open()
{
    if (port->isOpen())
        return;

    port->setPortName(name);
    if (!port->open(QIODevice::ReadWrite)) {
        logger->critical(QStringLiteral("Unable open serial port: ") + name + QStringLiteral("."));
        logger->critical(errorLine(port->error()));
        return;
    }
    if (!configureLine()) {
        // Closing may reset the port's error; the refused setting's code is the one to log.
        const int errorCode = port->error();
        port->close();
        logger->critical(QStringLiteral("Unable open serial port: ") + name
                         + QStringLiteral(". The properties could not be set."));
        logger->critical(errorLine(errorCode));
        return;
    }
    logger->critical(QStringLiteral("Serial port: ") + name + QStringLiteral(" ready and open."));
}

void SerialConnection::close()
{
    if (port->isOpen())
        port->close();
}

void SerialConnection::send(QByteArray data)
{
    if (!port->isOpen()) {
        logger->warning(QStringLiteral("Unable to write data to serial port: ") + name
                        + QStringLiteral(". The port is not open."));
        return;
    }
    if (port->write(data) == -1)
        logger->critical(QStringLiteral("Unable to write data to serial port: ") + name
                         + QStringLiteral(". Error occurred."));
}

void SerialConnection::readData()
{
    if (!port->isOpen())
        return;
    const QByteArray data = port->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

void SerialConnection::onError(QSerialPort::SerialPortError error)
{
    // A vanished device (unplugged adapter, closed far end) keeps reporting read
    // errors for as long as the port stays open, hundreds of thousands a second:
    // close it on the first one.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!port->isOpen())
        return;
    port->close();
    logger->critical(errorLine(error));
}

} // namespace Common
