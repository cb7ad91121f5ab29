#include "link/kipconnection.h"

#include "engine/serialenginelink.h"
#include "link/serialtransport.h"

#include <QTimer>
#include <QtEndian>

namespace EMS {

KipConnection::KipConnection(QObject *parent, int slotIndex, EngineMessenger *engineMessenger,
                             ByteTransport *transport)
    : QObject(parent)
    , engineMessenger(engineMessenger)
    , bytes(transport ? transport : new SerialTransport)
    , reopen(new QTimer(this))
    , slot(slotIndex)
{
    bytes->setParent(this);
    reopen->setSingleShot(true);
    reopen->setTimerType(Qt::PreciseTimer);
    reopen->setInterval(ReopenDelayMs);
    connect(reopen, &QTimer::timeout, this, &KipConnection::open);
    connect(bytes, &ByteTransport::errorOccurred, this, &KipConnection::serialError);
    connect(bytes, &ByteTransport::readyRead, this, &KipConnection::readData);
}

bool KipConnection::isSerialOpen() const
{
    return bytes->isOpen();
}

void KipConnection::open()
{
    if (bytes->isOpen()) {
        bytes->close();
        reopen->start();
        return;
    }
    reopen->stop();

    if (name == QLatin1String("EMS")) {
        // Without an engine messenger the engine path cannot carry a byte: say so
        // instead of claiming a connection that does not exist.
        if (!engineMessenger) {
            emit statusMessage(tr("No engine link for %1").arg(name));
            emit connectedChanged(false);
            return;
        }
        setEngineBaudRate(float(BaudRate));
        viaEngine = true;
        emit statusMessage(tr("Connected via engine"));
        emit connectedChanged(true);
        return;
    }

    emit statusMessage(tr("Connecting to port %1").arg(name));
    switch (bytes->open(name)) {
    case ByteTransport::OpenResult::PortUnavailable:
        emit statusMessage(tr("Could not open %1, config problem reported").arg(name));
        emit connectedChanged(false);
        return;
    case ByteTransport::OpenResult::LineSettingsRefused:
        emit statusMessage(tr("Could not open %1, error reported").arg(name));
        emit connectedChanged(false);
        return;
    case ByteTransport::OpenResult::Opened:
        break;
    }
    emit statusMessage(tr("Connected to %1").arg(name));
    emit connectedChanged(true);
}

void KipConnection::close()
{
    reopen->stop();
    if (bytes->isOpen()) {
        bytes->close();
        return;
    }
    if (name == QLatin1String("EMS")) {
        viaEngine = false;
        emit statusMessage(tr("disconnected from engine"));
    } else {
        emit statusMessage(tr("Serial port %1 closed").arg(name));
    }
    emit connectedChanged(false);
}

void KipConnection::readData()
{
    if (!bytes->isOpen())
        return;
    const QByteArray data = bytes->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

void KipConnection::writeData(QByteArray data)
{
    if (bytes->isOpen()) {
        if (bytes->write(data) == -1)
            emit statusMessage(tr("error sending data"));
        return;
    }
    if (viaEngine && engineMessenger)
        sendSerialEngineData(engineMessenger, slot, wrapEngineData(data));
}

void KipConnection::setPortName(QString portName)
{
    if (portName != name)
        name = portName;
}

void KipConnection::setEngineBaudRate(float baudRate)
{
    if (engineMessenger)
        sendSerialEngineBaud(engineMessenger, slot, baudRate);
}

QByteArray KipConnection::wrapEngineData(const QByteArray &data)
{
    QByteArray wrapped(4, '\0');
    qToLittleEndian<quint32>(quint32(data.size()), wrapped.data());
    wrapped.append(data);
    return wrapped;
}

QByteArray KipConnection::unwrapEngineData(const QByteArray &wrapped)
{
    if (wrapped.size() <= 3)
        return QByteArray();
    const quint32 count = qFromLittleEndian<quint32>(wrapped.constData());
    return wrapped.mid(4, int(qMin<quint32>(count, quint32(wrapped.size() - 4))));
}

} // namespace EMS
