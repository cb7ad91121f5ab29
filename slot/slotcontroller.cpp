#include "slot/slotcontroller.h"

#include "common/logcategories.h"
#include "update/kipupgrader.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

namespace EMS {

namespace {

struct PortCandidate
{
    int index = 0; // 1 + position in the port list; 0 = none
    QString name;  // empty when the port at this position is busy
};

// The n-th adapter of a kind takes the n-th position. A busy adapter still takes its
// position, so the slot that belongs to it does not grab the next adapter instead.
void takePosition(PortCandidate (&candidates)[2], int index, const SerialPortEntry &entry)
{
    for (PortCandidate &candidate : candidates) {
        if (candidate.index == 0) {
            candidate.index = index;
            if (!entry.busy)
                candidate.name = entry.portName;
            return;
        }
    }
}

QTimer *preciseTimer(QObject *parent, const char *name, int intervalMs, bool singleShot)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    return timer;
}

} // namespace

SlotController::SlotController(KipPort *port, QObject *parent, SerialPortLister portLister)
    : QObject(parent), port(port), portLister(std::move(portLister))
{
    attach();
}

SlotController::SlotController(int slotIndex, QObject *parent, SerialPortLister portLister)
    : QObject(parent), port(new KipPort(this, slotIndex)), portLister(std::move(portLister))
{
    attach();
}

void SlotController::attach()
{
    connect(port, &KipPort::hardwareStatusChanged, this, &SlotController::showHardwareStatus);
    connect(port, &KipPort::kipSyncSourceChanged, this, &SlotController::receiveSyncSource);
    connect(port, &KipPort::serialPortError, this, &SlotController::serialPortError);
    connect(port, &KipPort::clockLockedChanged, this, &SlotController::receiveClockLocked);
    connect(port, &KipPort::statusMessage, this, &SlotController::statusMessage);
    createUpgrader();

    updateTimer = preciseTimer(this, "updateTimer", UpdateWatchdogMs, false);
    connect(updateTimer, &QTimer::timeout, this, &SlotController::updateTimeout);
    scanTimer = preciseTimer(this, "portScanTimer", RescanDelayMs, true);
    connect(scanTimer, &QTimer::timeout, this, &SlotController::scanPorts);
    recoveryTimer = preciseTimer(this, "serialRecoveryTimer", SerialErrorRecoveryDelayMs, true);
    connect(recoveryTimer, &QTimer::timeout, this, &SlotController::recoverFromSerialPortError);
}

int SlotController::slotIndex() const
{
    return port->slotIndex();
}

int SlotController::firmwareVersion() const
{
    return port->hardwareStatus().firmwareVersion;
}

QString SlotController::fpgaVersion() const
{
    return port->hardwareStatus().fpgaVersionText();
}

int SlotController::temperature() const
{
    return firmwareVersion() == 0 ? 0 : port->hardwareStatus().temperature;
}

int SlotController::sampleRate() const
{
    return firmwareVersion() == 0 ? 0 : int(port->hardwareStatus().sampleRate);
}

KipPort::LinkState SlotController::linkState() const
{
    return port->linkState();
}

QStringList SlotController::missingFirmwareFiles() const
{
    QStringList missing;
    if (shownType == KipPort::NoCard)
        return missing;
    if (cardUpgrader->codeFilePath().isEmpty())
        missing << KipUpgrader::codeFileName(shownType);
    if (cardUpgrader->fpgaFilePath().isEmpty())
        missing << KipUpgrader::fpgaFileName(shownType);
    return missing;
}

QString SlotController::firmwareFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString SlotController::cardDisplayName(KipPort::KipCardType cardType)
{
    switch (cardType) {
    case KipPort::MadiBnc: return tr("BNC MADI");
    case KipPort::MadiCat5: return tr("CAT5 MADI");
    default: return KipPort::cardTypeName(cardType).toUpper();
    }
}

// ---------------------------------------------------------------------------------
// Adapter choice

int SlotController::adapterPosition(const QList<SerialPortEntry> &ports, int slotIndex)
{
    if (slotIndex != 0 && slotIndex != 1)
        return 0;
    PortCandidate ftdi[2];
    PortCandidate usb[2];
    for (int i = 0; i < ports.size(); ++i) {
        const SerialPortEntry &entry = ports.at(i);
        if (entry.manufacturer == QLatin1String("FTDI"))
            takePosition(ftdi, i + 1, entry);
        else if (entry.description.startsWith(QLatin1String("USB")))
            takePosition(usb, i + 1, entry);
    }
    // Another make only when the slot's FTDI position is missing or busy.
    if (ftdi[slotIndex].index != 0 && !ftdi[slotIndex].name.isEmpty())
        return ftdi[slotIndex].index;
    if (usb[slotIndex].index != 0 && !usb[slotIndex].name.isEmpty())
        return usb[slotIndex].index;
    return ftdi[slotIndex].index != 0 ? ftdi[slotIndex].index : usb[slotIndex].index;
}

void SlotController::setFixedPortName(const QString &portName)
{
    fixedPort = portName;
    // A device named by the user is the slot's, whatever the card says of its slot.
    userChosePort = userChosePort || !portName.isEmpty();
    if (!portName.isEmpty() && portName != port->serialPortName()) {
        if (port->isConnectionOpen())
            port->disconnectSerialPort();
        port->setSerialPortName(portName);
    }
}

void SlotController::scheduleScan(int delayMs)
{
    scanTimer->start(delayMs);
}

void SlotController::scanPorts()
{
    ports = portLister ? portLister() : QList<SerialPortEntry>();
    if (!fixedPort.isEmpty()) {
        // A pseudo-terminal, or an adapter the system does not list: shown all the same.
        const bool listed = std::any_of(ports.cbegin(), ports.cend(),
                                        [this](const SerialPortEntry &entry) { return entry.portName == fixedPort; });
        if (!listed) {
            SerialPortEntry entry;
            entry.portName = fixedPort;
            ports.append(entry);
        }
    }
    selected = 0;

    for (int i = 0; i < ports.size(); ++i) {
        const SerialPortEntry &entry = ports.at(i);
        if (entry.portName == port->serialPortName()) {
            // Busy because this program holds it is fine; busy because another
            // program holds it means the name must go.
            if (!entry.busy || port->isConnectionOpen())
                selected = i + 1;
            else
                port->setSerialPortName(QString());
        }
    }

    if (selected == 0 && fixedPort.isEmpty()) {
        const int position = adapterPosition(ports, takeOtherSlotsPort ? 1 - slotIndex() : slotIndex());
        if (position != 0 && !ports.at(position - 1).busy) {
            port->setSerialPortName(ports.at(position - 1).portName);
            selected = position;
        }
    }
    emit portsListed();

    if (selected == 0) {
        scheduleScan(serialErrorPending ? SerialErrorRescanDelayMs : RescanDelayMs);
    } else if (!port->isConnectionOpen()) {
        serialErrorPending = false;
        port->connectSerialPort();
    }
}

void SlotController::choosePort(const QString &portName)
{
    if (port->isConnectionOpen())
        port->disconnectSerialPort();
    port->setSerialPortName(portName);
    userChosePort = true;
    selected = 0;
    for (int i = 0; i < ports.size() && !portName.isEmpty(); ++i) {
        if (ports.at(i).portName == portName)
            selected = i + 1;
    }
    if (!portName.isEmpty())
        port->connectSerialPort();
}

void SlotController::serialPortError(QSerialPort::SerialPortError error)
{
    qCDebug(lcSlot).noquote() << QStringLiteral("KIP %1 SerialPortError %2").arg(slotIndex() + 1).arg(int(error));
    if (error == QSerialPort::NoError || serialErrorPending)
        return;
    serialErrorPending = true;
    recoveryTimer->start();
    port->disconnectSerialPort();
}

void SlotController::recoverFromSerialPortError()
{
    scanPorts();
    if (selected == 0 && port->isConnectionOpen())
        port->disconnectSerialPort();
}

// ---------------------------------------------------------------------------------
// What the card reports

void SlotController::showHardwareStatus()
{
    const KipPort::HardwareStatus status = port->hardwareStatus();
    auto shown = KipPort::KipCardType(status.cardType);

    if (status.firmwareVersion == 0) {
        emit sampleRateChanged(0);
        syncSourceName.clear();
        emit syncSourceChanged(QString());
        shown = KipPort::NoCard;
    } else {
        // A card that says it sits in the other slot is wired to the other slot's
        // adapter: try the other adapter position instead. Only cards whose FPGA
        // reports the master flag (version 2 onwards) can be trusted here.
        const bool inMasterSlot = slotIndex() == 0;
        if (!userChosePort && status.master != inMasterSlot
            && status.fpgaVersionText().startsWith(QLatin1Char('2'))) {
            port->disconnectSerialPort();
            port->setSerialPortName(QString());
            takeOtherSlotsPort = true;
            scheduleScan(SlotMismatchRescanDelayMs);
            return;
        }
        emit sampleRateChanged(int(status.sampleRate));
    }

    if (shown != shownType) {
        emit cardTypeShown(shown);
        shownType = shown;
        if (shown == KipPort::NoCard)
            forgetCard();
        // A fresh panel fills in from a full card status instead of waiting for a change.
        port->requestCardStatus();
        emit cardTypeChanged(slotIndex(), shown, cardDisplayName(shown));
        if (shown != KipPort::NoCard)
            emit port->statusMessage(tr("%1 ready").arg(cardDisplayName(shown)));
    }
    statusAfterUpdatePending = false;
    emit hardwareStatusShown();
    if (port->linkState() != shownLinkState) {
        shownLinkState = port->linkState();
        emit linkStateChanged(shownLinkState);
    }
}

void SlotController::forgetCard()
{
    // Locks the card reported belong to that card: a slot without one reports none.
    const QList<int> inputs = locks.keys();
    locks.clear();
    for (int input : inputs)
        emit lockStateChanged(input, SyncUnknown);
}

void SlotController::receiveSyncSource(QString name, bool isAuto)
{
    syncSourceName = name;
    syncAuto = isAuto;
    emit syncSourceChanged(name.toUpper());
}

void SlotController::receiveClockLocked(int input, bool locked)
{
    const SyncLockState state = locked ? SyncLocked : SyncUnlocked;
    if (locks.value(input, SyncUnknown) == state && locks.contains(input))
        return;
    locks.insert(input, state);
    emit lockStateChanged(input, state);
}

void SlotController::setOtherCardType(KipPort::KipCardType cardType)
{
    otherType = cardType;
    emit otherCardTypeChanged(cardType);
}

// ---------------------------------------------------------------------------------
// Firmware updates

void SlotController::createUpgrader()
{
    cardUpgrader = new KipUpgrader(port, this);
    connect(cardUpgrader, &KipUpgrader::updateProgress, this, &SlotController::receiveUpdateProgress);
    connect(cardUpgrader, &KipUpgrader::updateFinished, this, &SlotController::receiveUpdateFinished);
}

void SlotController::updateCode()
{
    cardUpgrader->upgradeCode();
    startUpdate(tr("please wait - updating code"), false);
}

void SlotController::updateFpga()
{
    cardUpgrader->upgradeFPGA();
    startUpdate(tr("please wait - updating FPGA"), false);
}

void SlotController::updateAsRequired()
{
    cardUpgrader->upgradeAsRequired();
    startUpdate(tr("please wait - updating as required"), false);
}

void SlotController::cancelUpdate()
{
    cardUpgrader->cancel();
}

void SlotController::updateCodeFrom(const QString &filePath)
{
    cardUpgrader->upgradeCode(filePath);
    startUpdate(tr("please wait - updating code"), false);
}

void SlotController::updateFpgaFrom(const QString &filePath)
{
    cardUpgrader->upgradeFPGA(filePath);
    startUpdate(tr("please wait - updating FPGA"), false);
}

void SlotController::optocoreUpdating(bool running)
{
    if (!running) {
        receiveUpdateFinished(true);
        return;
    }
    startUpdate(tr("please wait - updating Optocore"), true);
}

void SlotController::startUpdate(const QString &text, bool optocore)
{
    optocoreUpdateShown = optocore;
    progressPercent = 0;
    waitText = text;
    // Watched from the start: a card that never enters its boot loader, or never
    // answers the erase, reports no progress at all, and its port stops polling for
    // the update. Without the watchdog the slot would wait for ever.
    progressSeen = false;
    restingTicks = 0;
    setUpdating(true);
    updateTimer->start();
}

void SlotController::setUpdating(bool running)
{
    updating = running;
    emit updatingChanged(running);
}

void SlotController::receiveUpdateProgress(int percent)
{
    // Like a progress bar, a value outside 0 to 100 leaves the one shown.
    if (percent >= 0 && percent <= 100) {
        progressPercent = percent;
        emit updateProgressChanged(percent);
    }
    progressSeen = true;
    restingTicks = 0;
    updateTimer->start();
}

void SlotController::receiveUpdateFinished(bool success)
{
    // The flows report their own result in the status texts.
    statusAfterUpdatePending = statusAfterUpdatePending || success;
    waitText.clear();
    optocoreUpdateShown = false;
    setUpdating(false);
    updateTimer->stop();
}

void SlotController::updateTimeout()
{
    const int percent = progressPercent;
    if (percent == 50 || percent == 100 || (updating && !progressSeen)) {
        // Progress from an update this slot did not start (a card found in its boot
        // loader when the port opened) has no end this slot hears of: it is only
        // failed when it stalls away from the resting points.
        if (!updating)
            return;
        if (++restingTicks * UpdateWatchdogMs < UpdateRestLimitMs)
            return;
        qCWarning(lcSlot).noquote() << QStringLiteral("KIP %1 update: no progress for %2 s at %3 %, given up")
                                           .arg(slotIndex() + 1)
                                           .arg(restingTicks * UpdateWatchdogMs / 1000)
                                           .arg(progressSeen ? percent : 0);
    }
    failUpdate();
}

void SlotController::failUpdate()
{
    const bool slotRanUpdate = updating && !optocoreUpdateShown;
    port->finishCodeUpdate(false);
    port->finishFpgaUpdate(false);
    receiveUpdateFinished(false);
    emit port->statusMessage(tr("update failed"));
    emit updateAbandoned();
    if (slotRanUpdate) {
        // An upgrader between its two stages still waits for the card to come back and
        // would then start the FPGA stage on its own, after the slot has said the
        // update failed. A fresh one has nothing pending.
        cardUpgrader->disconnect();
        disconnect(port, nullptr, cardUpgrader, nullptr);
        cardUpgrader->deleteLater();
        createUpgrader();
        emit upgraderReplaced(cardUpgrader);
    }
}

} // namespace EMS
