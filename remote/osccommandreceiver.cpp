#include "remote/osccommandreceiver.h"

#include "common/logcategories.h"
#include "remote/osccommandpacket.h"
#include "remote/slotcommands.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace EMS {

namespace {
const QString Prefix = QStringLiteral("/sablefold/");
}

OscCommandReceiver::OscCommandReceiver(QObject *parent)
    : QObject(parent), logTimer(new QTimer(this))
{
    logTimer->setObjectName(QStringLiteral("oscRefusalLogTimer"));
    logTimer->setTimerType(Qt::PreciseTimer);
    logTimer->setSingleShot(true);
    logTimer->setInterval(RefusalLogIntervalMs);
    connect(logTimer, &QTimer::timeout, this, &OscCommandReceiver::logRefusals);
}

bool OscCommandReceiver::listen(const QHostAddress &address, quint16 port)
{
    delete socket;
    socket = new QUdpSocket(this);
    if (!socket->bind(address, port)) {
        lastError = socket->errorString();
        delete socket;
        socket = nullptr;
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, &OscCommandReceiver::readDatagrams);
    qCInfo(lcOsc).noquote() << "OSC commands taken on" << address.toString() << socket->localPort();
    return true;
}

quint16 OscCommandReceiver::localPort() const
{
    return socket ? socket->localPort() : 0;
}

void OscCommandReceiver::addSlot(SlotController *slot)
{
    slotList.append(slot);
}

void OscCommandReceiver::readDatagrams()
{
    while (socket && socket->hasPendingDatagrams())
        receivePacket(socket->receiveDatagram().data());
}

SlotController *OscCommandReceiver::slotNamed(const QString &name) const
{
    for (SlotController *slot : slotList) {
        if (SlotReport::oscSlotName(slot->slotIndex()) == name)
            return slot;
    }
    return nullptr;
}

void OscCommandReceiver::receivePacket(const QByteArray &packet)
{
    const OscCommandPacket command = OscCommandPacket::decode(packet);
    if (!command.valid) {
        refuse(QStringLiteral("malformed packet (%1)").arg(command.problem));
        return;
    }
    if (!command.address.startsWith(Prefix)) {
        refuse(QStringLiteral("unknown address %1").arg(command.address));
        return;
    }
    // kipN / the command's own path
    const int slash = command.address.indexOf(QLatin1Char('/'), Prefix.size());
    SlotController *slot = slash < 0 ? nullptr : slotNamed(command.address.mid(Prefix.size(), slash - Prefix.size()));
    if (!slot) {
        refuse(QStringLiteral("unknown address %1").arg(command.address));
        return;
    }
    const QString action = command.address.mid(slash);
    KipPort *port = slot->cardPort();

    if (action == QLatin1String("/set/syncsource") && command.typeTags == "s") {
        int code = 0;
        if (!SlotCommands::syncSourceCode(command.arguments.at(0).toString(), &code)) {
            refuse(QStringLiteral("unknown sync source %1").arg(command.arguments.at(0).toString()));
            return;
        }
        port->sendSyncSource(static_cast<signed char>(code));
    } else if (action == QLatin1String("/set/madi/txmode") && command.typeTags == "ii") {
        const int madiPort = command.arguments.at(0).toInt();
        const int mode = command.arguments.at(1).toInt();
        if ((madiPort != 0 && madiPort != 1) || !SlotCommands::isTransmitMode(mode)) {
            refuse(QStringLiteral("transmit mode %1 %2 out of range").arg(madiPort).arg(mode));
            return;
        }
        if (!KipPort::isDualMadi(slot->cardType())) {
            refuse(QStringLiteral("%1 has no MADI card").arg(SlotReport::slotName(slot->slotIndex())));
            return;
        }
        SlotCommands::sendMadiTransmitMode(port, madiPort, mode);
    } else if (action == QLatin1String("/request/status") && command.typeTags.isEmpty()) {
        port->requestStatus();
        emit statusRequested(slot->slotIndex());
    } else {
        refuse(QStringLiteral("unknown command %1 ,%2").arg(command.address, QString::fromLatin1(command.typeTags)));
        return;
    }
    ++accepted;
    qCInfo(lcOsc).noquote() << "OSC command" << command.address << command.arguments;
    emit commandTaken(command.address);
}

void OscCommandReceiver::refuse(const QString &reason)
{
    ++refusedTotal;
    ++refusedSinceLog;
    lastRefusal = reason;
    // A flood of junk must not become a flood of log lines: one summary a second.
    if (!logTimer->isActive())
        logTimer->start();
}

void OscCommandReceiver::logRefusals()
{
    if (refusedSinceLog == 0)
        return;
    qCWarning(lcOsc).noquote() << QStringLiteral("OSC: %1 packet(s) refused in the last second, the last: %2")
                                      .arg(refusedSinceLog)
                                      .arg(lastRefusal);
    refusedSinceLog = 0;
}

} // namespace EMS
