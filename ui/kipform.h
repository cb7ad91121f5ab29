#pragma once

#include "link/kipport.h"
#include "slot/slotcontroller.h"

#include <QSerialPort>
#include <QString>
#include <QWidget>

class QTimer;

namespace Ui {
class KipForm;
}

namespace EMS {

class CardPanel;
class KipUpgrader;
class OptocoreUpdatePanel;

// One slot of the box on the screen: shows what the slot's controller knows (the serial
// ports, what the card reports, the update under way), holds the card panel for the
// card's type, relays the card's sample rate, sync source and lock states to the main
// window, and passes the user's choices to the controller.
class KipForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RescanDelayMs = SlotController::RescanDelayMs;
    static constexpr int SerialErrorRescanDelayMs = SlotController::SerialErrorRescanDelayMs;
    static constexpr int SerialErrorRecoveryDelayMs = SlotController::SerialErrorRecoveryDelayMs;
    static constexpr int SlotMismatchRescanDelayMs = SlotController::SlotMismatchRescanDelayMs;
    static constexpr int UpdateWatchdogMs = SlotController::UpdateWatchdogMs;
    static constexpr int UpdateRestLimitMs = SlotController::UpdateRestLimitMs;

    // A null port leaves the form inert: it shows its widgets and does nothing else.
    KipForm(KipPort *port, QWidget *parent, SerialPortLister portLister = systemSerialPorts);
    ~KipForm() override;

    KipPort *cardPort() const { return port; }
    // The slot this form shows; null for an inert form.
    SlotController *slotController() const { return controller; }
    CardPanel *cardPanel() const { return panel; }
    KipPort::KipCardType shownCardType() const { return controller ? controller->cardType() : KipPort::NoCard; }
    KipPort::KipCardType otherSlotCardType() const
    {
        return controller ? controller->otherSlotCardType() : KipPort::NoCard;
    }
    KipUpgrader *cardUpgrader() const { return controller ? controller->upgrader() : nullptr; }
    OptocoreUpdatePanel *updatePanel() const { return optocoreUpdatePanel; }
    QTimer *updateWatchdog() const { return controller ? controller->updateWatchdog() : nullptr; }
    // The update page shows an update under way.
    bool isShowingUpdate() const { return controller && controller->isUpdating(); }

    static QString cardDisplayName(KipPort::KipCardType cardType) { return SlotController::cardDisplayName(cardType); }

    // Replaces the card panel by the one for the card type (none for types without one).
    void selectPanel(KipPort::KipCardType cardType);

signals:
    void cardTypeChanged(int slotNumber, EMS::KipPort::KipCardType cardType, QString cardName);
    void sampleRateChanged(int sampleRate);
    void syncSourceChanged(QString description);
    void syncLockStateChanged(int port, EMS::SyncLockState lockState);
    void otherCardTypeChanged(KipPort::KipCardType cardType);

public slots:
    void setupSerialPorts();
    void displaySlotStatus();
    void displaySyncSource(QString syncSourceName, bool isAuto);
    void setOtherCardType(KipPort::KipCardType cardType);
    void enableUpdateButtons(bool enabled);
    void updateProgress(int percent);
    void updateFinished(bool success);
    void updateTimeout();
    void serialPortError(QSerialPort::SerialPortError error);
    void recoverFromSerialPortError();

private slots:
    void on_codeUpdateButton_clicked();
    void on_fpgaUpdateButton_clicked();
    void on_updateRequiredButton_clicked();
    void optocoreUpdating(bool updating);
    void on_connectionComboBox_activated(int index);

private:
    void showPorts();
    void showStatus();
    void showUpdating(bool updating);
    void createOptocoreUpdatePanel();

    Ui::KipForm *ui;
    KipPort *port;
    SlotController *controller = nullptr;
    CardPanel *panel = nullptr;
    OptocoreUpdatePanel *optocoreUpdatePanel = nullptr;
    // False from a successful update's end until the card's next status: until then
    // the card still reports the versions it had before, and the page would recommend
    // the update just made.
};

} // namespace EMS
