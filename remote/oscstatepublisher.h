#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class QTimer;

namespace Common {
class IConnection;
}

namespace EMS {

class SlotController;

// Publishes what each slot reports to an OSC receiver (a show-control system, a
// monitoring dashboard): every value when it changes, and all of them again every
// 10 s, so a receiver started late, or one that lost a datagram, catches up.
//
//   /sablefold/kipN/cardtype s       "BNC MADI", ... ; "" for no card
//   /sablefold/kipN/firmware i       /sablefold/kipN/fpga s
//   /sablefold/kipN/temperature i    /sablefold/kipN/samplerate i
//   /sablefold/kipN/syncsource s     "MADI A", "WORD-CLOCK", ... ; "" unknown
//   /sablefold/kipN/syncauto i       1 while the card picks its source itself
//   /sablefold/kipN/lock/a i         1 locked, 0 not locked, -1 unknown (a, b, ...)
//   /sablefold/kipN/link s           connected, boot-loader, probing, closed
//   /sablefold/kipN/update/progress i  0 ... 100 while an update runs
//   /sablefold/kipN/event s          one line per event of the slot's history
class OscStatePublisher : public QObject
{
    Q_OBJECT

public:
    static constexpr int RefreshIntervalMs = 10000;

    // Sends through the connection (not owned; it must outlive the publisher).
    OscStatePublisher(Common::IConnection *connection, QObject *parent = nullptr);

    void addSlot(SlotController *slot);
    QTimer *refreshTimer() const { return refresh; }
    int messagesSent() const { return sentCount; }

    static QString slotAddress(int slotIndex, const QString &leaf);

public slots:
    // Every value of every slot, changed or not.
    void publishAll();
    // Every value of one slot, changed or not (an OSC status request).
    void publishSlot(int slotIndex);
    void publishEvent(int slotIndex, const QString &text);

private:
    void publishState(const SlotController *slot, bool always);
    void publish(const QString &address, const QVariant &value, bool always);

    Common::IConnection *connection;
    QList<SlotController *> slotList;
    // The last value sent to each address: a change is what differs from it.
    QHash<QString, QVariant> lastSent;
    QTimer *refresh;
    int sentCount = 0;
};

} // namespace EMS
