#include "remote/remoteoptions.h"

#include "common/logcategories.h"
#include "common/udpconnection.h"
#include "history/eventhistory.h"
#include "remote/osccommandreceiver.h"
#include "remote/oscstatepublisher.h"
#include "slot/slotcontroller.h"

#include <QCommandLineParser>
#include <QHostInfo>
#include <QSettings>

namespace EMS {

RemoteBridge::RemoteBridge(QObject *parent)
    : QObject(parent)
{
}

void RemoteBridge::publishTo(const QHostAddress &address, quint16 port, const QList<SlotController *> &controllers)
{
    delete statePublisher;
    delete connection;
    connection = new Common::UdpConnection(address, port, this);
    statePublisher = new OscStatePublisher(connection, this);
    for (SlotController *slot : controllers)
        statePublisher->addSlot(slot);
    if (commandReceiver)
        connect(commandReceiver, &OscCommandReceiver::statusRequested, statePublisher, &OscStatePublisher::publishSlot);
    qCInfo(lcOsc).noquote() << "OSC state published to" << address.toString() << port;
}

bool RemoteBridge::listenOn(const QHostAddress &address, quint16 port, const QList<SlotController *> &controllers,
                            QString *error)
{
    delete commandReceiver;
    commandReceiver = new OscCommandReceiver(this);
    if (!commandReceiver->listen(address, port)) {
        *error = commandReceiver->errorString();
        delete commandReceiver;
        commandReceiver = nullptr;
        return false;
    }
    for (SlotController *slot : controllers)
        commandReceiver->addSlot(slot);
    if (statePublisher)
        connect(commandReceiver, &OscCommandReceiver::statusRequested, statePublisher, &OscStatePublisher::publishSlot);
    return true;
}

void RemoteBridge::publishEventsOf(EventHistory *history)
{
    if (!statePublisher)
        return;
    connect(history, &EventHistory::eventRecorded, statePublisher, [this](const SlotEvent &event) {
        statePublisher->publishEvent(event.slot, QStringLiteral("%1 %2: %3")
                                                     .arg(SlotEvent::severityName(event.severity),
                                                          SlotEvent::kindName(event.kind), event.text));
    });
}

namespace RemoteOptions {

namespace {
const QString Port1 = QStringLiteral("port1");
const QString Port2 = QStringLiteral("port2");
const QString OscOut = QStringLiteral("osc-out");
const QString OscIn = QStringLiteral("osc-in");
const QString OscBind = QStringLiteral("osc-bind");
} // namespace

void addTo(QCommandLineParser &parser)
{
    parser.addOption({Port1, QCoreApplication::translate("RemoteOptions",
                                                         "Serial device of KIP 1 (e.g. a kipsim pseudo-terminal)."),
                      QStringLiteral("device")});
    parser.addOption({Port2, QCoreApplication::translate("RemoteOptions", "Serial device of KIP 2."),
                      QStringLiteral("device")});
    parser.addOption({OscOut, QCoreApplication::translate("RemoteOptions", "Publish the controllers' state over OSC to HOST:PORT."),
                      QStringLiteral("host:port")});
    parser.addOption({OscIn, QCoreApplication::translate("RemoteOptions",
                                                         "Take OSC commands on this UDP port (off by default)."),
                      QStringLiteral("port")});
    parser.addOption({OscBind, QCoreApplication::translate("RemoteOptions",
                                                           "Address the OSC command port listens on (default 127.0.0.1)."),
                      QStringLiteral("address"), QStringLiteral("127.0.0.1")});
}

bool parseTarget(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    const QString host = text.left(colon);
    QHostAddress parsed;
    if (host == QLatin1String("localhost")) {
        parsed = QHostAddress(QHostAddress::LocalHost);
    } else if (!parsed.setAddress(host)) {
        // A name: looked up once, at start.
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.addresses().isEmpty())
            return false;
        parsed = info.addresses().constFirst();
    }
    *address = parsed;
    *port = quint16(number);
    return true;
}

void applyPorts(const QCommandLineParser &parser, SlotController *kip1, SlotController *kip2)
{
    if (kip1 && parser.isSet(Port1))
        kip1->setFixedPortName(parser.value(Port1));
    if (kip2 && parser.isSet(Port2))
        kip2->setFixedPortName(parser.value(Port2));
}

RemoteBridge *createBridge(const QCommandLineParser &parser, const QList<SlotController *> &controllers, QObject *parent,
                           QString *error)
{
    QString target = parser.value(OscOut);
    if (!parser.isSet(OscOut))
        target = QSettings(QStringLiteral("Quorix"), QStringLiteral("Sablefold")).value(QLatin1String(OscOutSettingKey)).toString();

    auto *bridge = new RemoteBridge(parent);
    if (!target.isEmpty()) {
        QHostAddress address;
        quint16 port = 0;
        if (!parseTarget(target, &address, &port)) {
            *error = QCoreApplication::translate("RemoteOptions", "OSC target %1 is not HOST:PORT").arg(target);
            delete bridge;
            return nullptr;
        }
        bridge->publishTo(address, port, controllers);
    }
    if (parser.isSet(OscIn)) {
        bool ok = false;
        const uint port = parser.value(OscIn).toUInt(&ok);
        QHostAddress bindAddress;
        if (!ok || port == 0 || port > 65535) {
            *error = QCoreApplication::translate("RemoteOptions", "OSC port %1 is not a port number").arg(parser.value(OscIn));
        } else if (!bindAddress.setAddress(parser.value(OscBind))) {
            *error = QCoreApplication::translate("RemoteOptions", "OSC address %1 is not an IP address").arg(parser.value(OscBind));
        } else if (bridge->listenOn(bindAddress, quint16(port), controllers, error)) {
            return bridge;
        } else {
            *error = QCoreApplication::translate("RemoteOptions", "Cannot take OSC commands on %1 port %2: %3")
                         .arg(bindAddress.toString())
                         .arg(port)
                         .arg(*error);
        }
        delete bridge;
        return nullptr;
    }
    return bridge;
}

} // namespace RemoteOptions
} // namespace EMS
