#pragma once

#include "link/kipport.h"
#include "ui/serialportlister.h"

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

// One slot of the box: finds and connects the slot's serial adapter, shows what the card
// reports, holds the card panel for the card's type and relays the card's sample rate,
// sync source and lock states to the main window. Its update page starts and watches
// the card's firmware updates.
class KipForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RescanDelayMs = 500;
    static constexpr int SerialErrorRescanDelayMs = 3000;
    static constexpr int SerialErrorRecoveryDelayMs = 1000;
    static constexpr int SlotMismatchRescanDelayMs = 3000;
    // An update that reports no progress for this long has stopped.
    static constexpr int UpdateWatchdogMs = 5000;
    // At 50 % (between the code and the FPGA stage) and at 100 % (after the last) the
    // card restarts, and before the first progress it enters its boot loader or erases
    // its flash: quiet is normal there, so the watchdog waits longer. A restart with its
    // FPGA load takes seconds; a minute without progress means the card is not coming.
    static constexpr int UpdateRestLimitMs = 60000;

    // A null port leaves the form inert: it shows its widgets and does nothing else.
    KipForm(KipPort *port, QWidget *parent, SerialPortLister portLister = systemSerialPorts);
    ~KipForm() override;

    KipPort *cardPort() const { return port; }
    CardPanel *cardPanel() const { return panel; }
    KipPort::KipCardType shownCardType() const { return cardType; }
    KipPort::KipCardType otherSlotCardType() const { return otherCardType; }
    KipUpgrader *cardUpgrader() const { return upgrader; }
    OptocoreUpdatePanel *updatePanel() const { return optocoreUpdatePanel; }
    QTimer *updateWatchdog() const { return updateTimer; }
    // The update page shows an update under way.
    bool isShowingUpdate() const;

    static QString cardDisplayName(KipPort::KipCardType cardType);

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
    int slotIndex() const;
    void scheduleScan(int delayMs);
    void createUpgrader();
    void createOptocoreUpdatePanel();
    void showUpdateStarted(const QString &waitText);
    void failUpdate();

    Ui::KipForm *ui;
    KipPort *port;
    KipUpgrader *upgrader = nullptr;
    CardPanel *panel = nullptr;
    OptocoreUpdatePanel *optocoreUpdatePanel = nullptr;
    KipPort::KipCardType cardType = KipPort::NoCard;
    KipPort::KipCardType otherCardType = KipPort::NoCard;
    bool serialErrorPending = false;
    bool takeOtherSlotsPort = false;
    bool userChosePort = false;
    QTimer *updateTimer = nullptr;
    // The update the page shows has reported progress since it started.
    bool progressSeen = false;
    // Watchdog ticks in a row that found the update resting (see UpdateRestLimitMs).
    int restingTicks = 0;
    // The update the page shows is the Optocore module's.
    bool optocoreUpdateShown = false;
    SerialPortLister portLister;
    // One single-shot timer per kind of deferred work, so a later schedule replaces an
    // earlier one instead of starting a second chain of rescans.
    QTimer *portScanTimer = nullptr;
    QTimer *recoveryTimer = nullptr;
};

} // namespace EMS
