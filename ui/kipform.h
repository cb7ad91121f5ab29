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

// One slot of the box: finds and connects the slot's serial adapter, shows what the card
// reports, holds the card panel for the card's type and relays the card's sample rate,
// sync source and lock states to the main window.
class KipForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RescanDelayMs = 500;
    static constexpr int SerialErrorRescanDelayMs = 3000;
    static constexpr int SerialErrorRecoveryDelayMs = 1000;
    static constexpr int SlotMismatchRescanDelayMs = 3000;

    // A null port leaves the form inert: it shows its widgets and does nothing else.
    KipForm(KipPort *port, QWidget *parent, SerialPortLister portLister = systemSerialPorts);
    ~KipForm() override;

    KipPort *cardPort() const { return port; }
    CardPanel *cardPanel() const { return panel; }
    KipPort::KipCardType shownCardType() const { return cardType; }
    KipPort::KipCardType otherSlotCardType() const { return otherCardType; }

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
    void serialPortError(QSerialPort::SerialPortError error);
    void recoverFromSerialPortError();

private slots:
    void on_connectionComboBox_activated(int index);

private:
    int slotIndex() const;
    void scheduleScan(int delayMs);

    Ui::KipForm *ui;
    KipPort *port;
    CardPanel *panel = nullptr;
    KipPort::KipCardType cardType = KipPort::NoCard;
    KipPort::KipCardType otherCardType = KipPort::NoCard;
    bool serialErrorPending = false;
    bool takeOtherSlotsPort = false;
    bool userChosePort = false;
    SerialPortLister portLister;
    // One single-shot timer per kind of deferred work, so a later schedule replaces an
    // earlier one instead of starting a second chain of rescans.
    QTimer *portScanTimer = nullptr;
    QTimer *recoveryTimer = nullptr;
};

} // namespace EMS
