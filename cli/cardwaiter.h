#pragma once

#include <QObject>
#include <QString>

class QTimer;

namespace EMS {
class SlotController;
}

namespace Cli {

// Waits for the card of one slot to be ready for a command: its type reported, and a
// moment for the full card status (sync source, locks, transmit modes) that the slot
// asks for right after to come in.
class CardWaiter : public QObject
{
    Q_OBJECT

public:
    static constexpr int SettleMs = 700;

    explicit CardWaiter(EMS::SlotController *slot, QObject *parent = nullptr);

    EMS::SlotController *slot() const { return watched; }
    bool isReady() const { return ready; }
    // The slot's last status message ("Could not open ...", "Connected to ..."), for
    // a failure that needs to say what was going on.
    QString lastMessage() const { return lastStatus; }
    // Whether the slot has a device to talk through: named, or chosen from the list.
    bool hasAdapter() const;
    // Why the card is not ready yet, in a sentence.
    QString whyNotReady() const;
    QTimer *settleTimer() const { return settle; }

signals:
    void cardReady();

private:
    void cardTypeShown();

    EMS::SlotController *watched;
    QTimer *settle;
    bool ready = false;
    QString lastStatus;
};

} // namespace Cli
