#include "link/serialtransport.h"

namespace EMS {

SerialTransport::SerialTransport(QObject *parent)
    : ByteTransport(parent), port(new QSerialPort(this))
{
    connect(port, &QSerialPort::errorOccurred, this, &ByteTransport::errorOccurred);
    connect(port, &QSerialPort::readyRead, this, &ByteTransport::readyRead);
}

ByteTransport::OpenResult SerialTransport::open(const QString &portName)
{
    port->setPortName(portName);
    // A failed open is followed by close() all the same: QSerialPort then reports
    // NotOpenError, which the slot has always been told about.
    if (!port->open(QIODevice::ReadWrite)) {
        port->close();
        return OpenResult::PortUnavailable;
    }
    if (!configureLine()) {
        port->close();
        return OpenResult::LineSettingsRefused;
    }
    lowLatency.apply(qintptr(port->handle()), portName);
    return OpenResult::Opened;
}

bool SerialTransport::configureLine()
{
    return port->setBaudRate(BaudRate, QSerialPort::AllDirections)
        && port->setDataBits(QSerialPort::Data8)
        && port->setParity(QSerialPort::NoParity)
        && port->setStopBits(QSerialPort::OneStop)
        && port->setFlowControl(QSerialPort::NoFlowControl);
}

void SerialTransport::close()
{
    // The driver keeps the flag for whoever opens the adapter next: put it back first.
    if (port->isOpen())
        lowLatency.restore();
    port->close();
}

bool SerialTransport::isOpen() const
{
    return port->isOpen();
}

qint64 SerialTransport::write(const QByteArray &data)
{
    return port->write(data);
}

QByteArray SerialTransport::readAll()
{
    return port->readAll();
}

} // namespace EMS
