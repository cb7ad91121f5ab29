#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

namespace EMS {

class SlotController;

// Takes commands for the slots from OSC senders: only
//   /sablefold/kipN/set/syncsource s        auto, word-clock, madi-a, madi-b
//   /sablefold/kipN/set/madi/txmode i i     MADI port (0 A, 1 B), format (0 auto, 57, 64)
//   /sablefold/kipN/request/status          (no argument) publish the slot's state now
// Every other packet, and any of these with other arguments, is refused: counted and
// logged, at most one line a second however many arrive, and never acted on. Nothing
// here starts a firmware update. It listens on the loopback address unless told
// otherwise: anyone who can reach the port can change the box's clock.
class OscCommandReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr int RefusalLogIntervalMs = 1000;

    explicit OscCommandReceiver(QObject *parent = nullptr);

    // Opens the UDP port; false (with errorString()) when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return lastError; }
    quint16 localPort() const;

    void addSlot(SlotController *slot);

    int acceptedCount() const { return accepted; }
    int refusedCount() const { return refusedTotal; }
    QTimer *refusalLogTimer() const { return logTimer; }

public slots:
    // One datagram as it came in.
    void receivePacket(const QByteArray &packet);

signals:
    // A sender asked for a slot's state (/request/status).
    void statusRequested(int slotIndex);
    void commandTaken(const QString &address);

private:
    void readDatagrams();
    void refuse(const QString &reason);
    void logRefusals();
    SlotController *slotNamed(const QString &name) const;

    QUdpSocket *socket = nullptr;
    QList<SlotController *> slotList;
    QString lastError;
    int accepted = 0;
    int refusedTotal = 0;
    int refusedSinceLog = 0;
    QString lastRefusal;
    QTimer *logTimer;
};

} // namespace EMS
