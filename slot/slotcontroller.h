#pragma once

#include "link/kipport.h"
#include "slot/serialportlister.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QStringList>

class QTimer;

namespace EMS {

class KipUpgrader;

// One slot of the box without a window: it finds the slot's serial adapter and keeps the
// card port connected to it, recovers from serial errors, moves to the other adapter
// when the card says it sits in the other slot, keeps what the card last reported, and
// starts and watches the slot's firmware updates. The slot form shows it; a program
// without a window drives it directly.
class SlotController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int slotIndex READ slotIndex CONSTANT)
    Q_PROPERTY(EMS::KipPort::KipCardType cardType READ cardType NOTIFY cardTypeShown)
    Q_PROPERTY(int firmwareVersion READ firmwareVersion NOTIFY hardwareStatusShown)
    Q_PROPERTY(QString fpgaVersion READ fpgaVersion NOTIFY hardwareStatusShown)
    Q_PROPERTY(int temperature READ temperature NOTIFY hardwareStatusShown)
    Q_PROPERTY(int sampleRate READ sampleRate NOTIFY sampleRateChanged)
    Q_PROPERTY(QString syncSource READ syncSource NOTIFY syncSourceChanged)
    Q_PROPERTY(EMS::KipPort::LinkState linkState READ linkState NOTIFY linkStateChanged)
    Q_PROPERTY(bool updating READ isUpdating NOTIFY updatingChanged)
    Q_PROPERTY(int updateProgress READ updateProgress NOTIFY updateProgressChanged)

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

    // Drives the given port (not owned).
    SlotController(KipPort *port, QObject *parent, SerialPortLister portLister = systemSerialPorts);
    // Creates and owns the slot's card port.
    SlotController(int slotIndex, QObject *parent, SerialPortLister portLister = systemSerialPorts);

    KipPort *cardPort() const { return port; }
    KipUpgrader *upgrader() const { return cardUpgrader; }
    int slotIndex() const;

    // What the card last reported; a slot without an answering card reports NoCard,
    // firmware 0, no FPGA version, 0 °C and sample rate 0.
    KipPort::KipCardType cardType() const { return shownType; }
    int firmwareVersion() const;
    QString fpgaVersion() const;
    int temperature() const;
    int sampleRate() const;
    QString syncSource() const { return syncSourceName; }
    bool isSyncAuto() const { return syncAuto; }
    KipPort::LinkState linkState() const;
    // The receive lock of each input the card has reported on since it was found.
    QMap<int, SyncLockState> lockStates() const { return locks; }
    SyncLockState lockState(int input) const { return locks.value(input, SyncUnknown); }
    KipPort::KipCardType otherSlotCardType() const { return otherType; }

    // The serial ports of the last scan, and the one the slot uses: 0 for none,
    // otherwise 1 + its position in the list.
    QList<SerialPortEntry> listedPorts() const { return ports; }
    int selectedPort() const { return selected; }
    // A device the slot takes whatever the port list says (a pseudo-terminal, say);
    // empty to choose by position again.
    void setFixedPortName(const QString &portName);
    QString fixedPortName() const { return fixedPort; }

    static QString cardDisplayName(KipPort::KipCardType cardType);
    // The position (1 + index in the list) of the adapter that the choice by position
    // gives a slot in this port list, busy or not; 0 when none would be taken. What
    // scanPorts() picks on a first scan, for a program that lists ports without
    // opening them.
    static int adapterPosition(const QList<SerialPortEntry> &ports, int slotIndex);

    // The update the slot shows: started from this slot (or by the Optocore module's
    // panel) and not yet ended.
    bool isUpdating() const { return updating; }
    bool isOptocoreUpdate() const { return optocoreUpdateShown; }
    int updateProgress() const { return progressPercent; }
    QString updateWaitText() const { return waitText; }
    // A successful update has ended and the card has not reported since: the versions
    // it would be compared with are still those from before the update.
    bool isAwaitingStatusAfterUpdate() const { return statusAfterUpdatePending; }
    // The firmware files for the card shown that are in neither the program's folder nor
    // the built-in ones, and the folder looked in.
    QStringList missingFirmwareFiles() const;
    static QString firmwareFolder();

    QTimer *portScanTimer() const { return scanTimer; }
    QTimer *serialRecoveryTimer() const { return recoveryTimer; }
    QTimer *updateWatchdog() const { return updateTimer; }

signals:
    // The card's hardware status has been taken in (labels may change).
    void hardwareStatusShown();
    // The card type now shown changed: a view replaces its card panel here, before the
    // card is asked for its full status and cardTypeChanged is emitted.
    void cardTypeShown(EMS::KipPort::KipCardType cardType);
    void cardTypeChanged(int slotNumber, EMS::KipPort::KipCardType cardType, QString cardName);
    // The firmware found for the card type shown has been looked up.
    void availableFirmwareChanged();
    void sampleRateChanged(int sampleRate);
    void syncSourceChanged(QString description);
    void lockStateChanged(int input, EMS::SyncLockState lockState);
    void linkStateChanged(EMS::KipPort::LinkState linkState);
    void otherCardTypeChanged(KipPort::KipCardType cardType);
    void portsListed();
    void statusMessage(QString message);

    void updatingChanged(bool updating);
    void updateProgressChanged(int percent);
    // An update was ended as failed by the watchdog: whatever else runs an update for
    // this slot (the Optocore module's panel) must stop too.
    void updateAbandoned();
    // The upgrader was replaced (after a failed update); views that listen to it
    // connect again.
    void upgraderReplaced(EMS::KipUpgrader *upgrader);

public slots:
    // Lists the serial ports and connects the slot's adapter; until one is there it
    // looks again every 500 ms. The first call starts the slot.
    void scanPorts();
    // The user picked a port by name; an empty name disconnects the slot.
    void choosePort(const QString &portName);
    void showHardwareStatus();
    void receiveSyncSource(QString syncSourceName, bool isAuto);
    void setOtherCardType(KipPort::KipCardType cardType);
    void serialPortError(QSerialPort::SerialPortError error);
    void recoverFromSerialPortError();

    void updateCode();
    void updateFpga();
    void updateAsRequired();
    // Gives the running update up: its job ends as cancelled, the slot reports the
    // update as not successful once.
    void cancelUpdate();
    // The same updates from a file the caller names instead of the one found for the
    // card type (a technician's file on the command line).
    void updateCodeFrom(const QString &filePath);
    void updateFpgaFrom(const QString &filePath);
    void optocoreUpdating(bool running);
    void receiveUpdateProgress(int percent);
    void receiveUpdateFinished(bool success);
    void updateTimeout();
    void failUpdate();

private:
    void attach();
    void scheduleScan(int delayMs);
    void createUpgrader();
    void startUpdate(const QString &text, bool optocore);
    void setUpdating(bool running);
    void forgetCard();
    void receiveClockLocked(int input, bool locked);

    KipPort *port = nullptr;
    KipUpgrader *cardUpgrader = nullptr;
    SerialPortLister portLister;
    QString fixedPort;
    QList<SerialPortEntry> ports;
    int selected = 0;

    KipPort::KipCardType shownType = KipPort::NoCard;
    KipPort::KipCardType otherType = KipPort::NoCard;
    QString syncSourceName;
    bool syncAuto = true;
    QMap<int, SyncLockState> locks;
    KipPort::LinkState shownLinkState = KipPort::LinkClosed;

    bool serialErrorPending = false;
    bool takeOtherSlotsPort = false;
    bool userChosePort = false;

    bool updating = false;
    int progressPercent = 0;
    QString waitText;
    // The update shown has reported progress since it started.
    bool progressSeen = false;
    // Watchdog ticks in a row that found the update resting (see UpdateRestLimitMs).
    int restingTicks = 0;
    bool optocoreUpdateShown = false;
    bool statusAfterUpdatePending = false;

    // One single-shot timer per kind of deferred work, so a later schedule replaces an
    // earlier one instead of starting a second chain of rescans.
    QTimer *scanTimer = nullptr;
    QTimer *recoveryTimer = nullptr;
    QTimer *updateTimer = nullptr;
};

} // namespace EMS
