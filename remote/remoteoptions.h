#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class QCommandLineParser;
class QSettings;

namespace Common {
class UdpConnection;
}

namespace EMS {

class EventHistory;
class OscCommandReceiver;
class OscStatePublisher;
class SlotController;

// The OSC side of a running program: the publisher of the slots' state (when an OSC
// target is set) and the command receiver (when an OSC port to listen on is set).
class RemoteBridge : public QObject
{
    Q_OBJECT

public:
    explicit RemoteBridge(QObject *parent = nullptr);

    // Null while not set up.
    OscStatePublisher *publisher() const { return statePublisher; }
    OscCommandReceiver *receiver() const { return commandReceiver; }

    // Publishes the slots' state to the target.
    void publishTo(const QHostAddress &address, quint16 port, const QList<SlotController *> &controllers);
    // Takes commands for the controllers on this address and port; false with the reason.
    bool listenOn(const QHostAddress &address, quint16 port, const QList<SlotController *> &controllers, QString *error);
    // Publishes each new event of the history as /sablefold/kipN/event (when publishing).
    void publishEventsOf(EventHistory *history);

private:
    Common::UdpConnection *connection = nullptr;
    OscStatePublisher *statePublisher = nullptr;
    OscCommandReceiver *commandReceiver = nullptr;
};

// The command-line options that the window and sablefold-cli share:
//   --port1 DEVICE, --port2 DEVICE   the device of KIP 1 / KIP 2 (a pseudo-terminal
//                                    such as kipsim's), instead of the choice by position
//   --osc-out HOST:PORT              publish the slots' state over OSC (else the
//                                    setting Remote/OscOut, if any)
//   --osc-in PORT                    take OSC commands on this UDP port (off by default)
//   --osc-bind ADDRESS               the address --osc-in listens on (127.0.0.1)
namespace RemoteOptions {

constexpr const char *OscOutSettingKey = "Remote/OscOut";

void addTo(QCommandLineParser &parser);

// "HOST:PORT" with an IPv4 address, "localhost" or a host name; false for anything else.
bool parseTarget(const QString &text, QHostAddress *address, quint16 *port);

// Names the controllers' devices from --port1 / --port2 (either slot may be null).
void applyPorts(const QCommandLineParser &parser, SlotController *kip1, SlotController *kip2);

// Sets up the OSC side from the options and the settings (QSettings "Quorix"
// "Sablefold"). Returns the bridge (a child of parent), or null with the reason when an
// option is wrong or the port cannot be opened.
RemoteBridge *createBridge(const QCommandLineParser &parser, const QList<SlotController *> &controllers,
                           QObject *parent, QString *error);

} // namespace RemoteOptions
} // namespace EMS
