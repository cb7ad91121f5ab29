#include "ui/kipform.h"

#include "common/logcategories.h"
#include "ui/aespanel.h"
#include "ui/cardpanel.h"
#include "ui/hydrapanel.h"
#include "ui/madipanel.h"
#include "ui/optocorepanel.h"
#include "ui_kipform.h"
#include "update/kipupgrader.h"
#include "ui/optocoreupdatepanel.h"

#include <QDebug>
#include <QTimer>

namespace EMS {

namespace {

struct PortCandidate
{
    int index = 0; // combo index; 0 = no port
    QString name;  // empty when the port at this position is busy
};

// The n-th adapter of a kind takes the n-th position. A busy adapter still takes its
// position, so the slot that belongs to it does not grab the next adapter instead.
void takePosition(PortCandidate (&candidates)[2], int comboIndex, const SerialPortEntry &entry)
{
    for (PortCandidate &candidate : candidates) {
        if (candidate.index == 0) {
            candidate.index = comboIndex;
            if (!entry.busy)
                candidate.name = entry.portName;
            return;
        }
    }
}

} // namespace

KipForm::KipForm(KipPort *port, QWidget *parent, SerialPortLister portLister)
    : QWidget(parent)
    , ui(new Ui::KipForm)
    , port(port)
    , portLister(std::move(portLister))
{
    ui->setupUi(this);
    ui->progressBar->hide();
    ui->updateRecommendedLabel->hide();

    if (!port)
        return;

    connect(port, &KipPort::hardwareStatusChanged, this, &KipForm::displaySlotStatus);
    connect(port, &KipPort::kipSyncSourceChanged, this, &KipForm::displaySyncSource);
    connect(port, &KipPort::serialPortError, this, &KipForm::serialPortError);

    connect(port, &KipPort::connectedChanged, this, &KipForm::enableUpdateButtons);
    createUpgrader();
    updateTimer = new QTimer(this);
    updateTimer->setObjectName(QStringLiteral("updateTimer"));
    updateTimer->setInterval(UpdateWatchdogMs);
    connect(updateTimer, &QTimer::timeout, this, &KipForm::updateTimeout);

    portScanTimer = new QTimer(this);
    portScanTimer->setObjectName(QStringLiteral("portScanTimer"));
    portScanTimer->setSingleShot(true);
    connect(portScanTimer, &QTimer::timeout, this, &KipForm::setupSerialPorts);

    recoveryTimer = new QTimer(this);
    recoveryTimer->setObjectName(QStringLiteral("serialRecoveryTimer"));
    recoveryTimer->setSingleShot(true);
    recoveryTimer->setInterval(SerialErrorRecoveryDelayMs);
    connect(recoveryTimer, &QTimer::timeout, this, &KipForm::recoverFromSerialPortError);

    setupSerialPorts();
}

KipForm::~KipForm()
{
    delete ui;
}

int KipForm::slotIndex() const
{
    return port ? port->slotIndex() : 0;
}

QString KipForm::cardDisplayName(KipPort::KipCardType cardType)
{
    switch (cardType) {
    case KipPort::MadiBnc: return tr("BNC MADI");
    case KipPort::MadiCat5: return tr("CAT5 MADI");
    default: return KipPort::cardTypeName(cardType).toUpper();
    }
}

void KipForm::scheduleScan(int delayMs)
{
    portScanTimer->start(delayMs);
}

void KipForm::setupSerialPorts()
{
    if (!port)
        return;
    QComboBox *combo = ui->connectionComboBox;
    combo->clear();
    combo->addItem(QString());

    PortCandidate ftdi[2];
    PortCandidate usb[2];
    const QList<SerialPortEntry> entries = portLister ? portLister() : QList<SerialPortEntry>();
    for (const SerialPortEntry &entry : entries) {
        combo->addItem(entry.portName + QLatin1Char(' ') + entry.description);
        const int index = combo->count() - 1;
        if (entry.manufacturer == QLatin1String("FTDI"))
            takePosition(ftdi, index, entry);
        else if (entry.description.startsWith(QLatin1String("USB")))
            takePosition(usb, index, entry);

        if (entry.portName == port->serialPortName()) {
            // Busy because this program holds it is fine; busy because another
            // program holds it means the name must go.
            if (!entry.busy || port->isConnectionOpen())
                combo->setCurrentIndex(index);
            else
                port->setSerialPortName(QString());
        }
    }

    if (combo->currentIndex() == 0) {
        const int k = takeOtherSlotsPort ? 1 - slotIndex() : slotIndex();
        if (k == 0 || k == 1) {
            if (ftdi[k].index != 0 && !ftdi[k].name.isEmpty()) {
                port->setSerialPortName(ftdi[k].name);
                combo->setCurrentIndex(ftdi[k].index);
            } else if (usb[k].index != 0 && !usb[k].name.isEmpty()) {
                port->setSerialPortName(usb[k].name);
                combo->setCurrentIndex(usb[k].index);
            }
        }
    }

    if (combo->currentIndex() == 0) {
        scheduleScan(serialErrorPending ? SerialErrorRescanDelayMs : RescanDelayMs);
    } else if (!port->isConnectionOpen()) {
        serialErrorPending = false;
        port->connectSerialPort();
    }
}

void KipForm::on_connectionComboBox_activated(int)
{
    if (!port)
        return;
    if (port->isConnectionOpen())
        port->disconnectSerialPort();
    const QString name = ui->connectionComboBox->currentText().section(QLatin1Char(' '), 0, 0);
    port->setSerialPortName(name);
    userChosePort = true;
    if (!name.isEmpty())
        port->connectSerialPort();
}

void KipForm::serialPortError(QSerialPort::SerialPortError error)
{
    qCDebug(lcSlot).noquote() << QStringLiteral("KIP %1 SerialPortError %2").arg(slotIndex() + 1).arg(int(error));
    if (error == QSerialPort::NoError || serialErrorPending)
        return;
    serialErrorPending = true;
    recoveryTimer->start();
    port->disconnectSerialPort();
}

void KipForm::recoverFromSerialPortError()
{
    setupSerialPorts();
    if (ui->connectionComboBox->currentIndex() == 0 && port->isConnectionOpen())
        port->disconnectSerialPort();
}

void KipForm::displaySlotStatus()
{
    if (!port)
        return;
    const KipPort::HardwareStatus status = port->hardwareStatus();
    auto shown = KipPort::KipCardType(status.cardType);
    const QString fpgaVersion = status.fpgaVersionText();

    if (status.firmwareVersion == 0) {
        ui->cardTypeLabel->clear();
        ui->updateCardTypeLabel->clear();
        ui->firmwareVersionLabel->clear();
        ui->temperatureLabel->clear();
        emit sampleRateChanged(0);
        emit syncSourceChanged(QString());
        shown = KipPort::NoCard;
    } else {
        // A card that says it sits in the other slot is wired to the other slot's
        // adapter: let this form try the other adapter position instead. Only cards
        // whose FPGA reports the master flag (version 2 onwards) can be trusted here.
        const bool inMasterSlot = slotIndex() == 0;
        if (!userChosePort && status.master != inMasterSlot && fpgaVersion.startsWith(QLatin1Char('2'))) {
            port->disconnectSerialPort();
            port->setSerialPortName(QString());
            takeOtherSlotsPort = true;
            scheduleScan(SlotMismatchRescanDelayMs);
            return;
        }
        const QString name = cardDisplayName(shown);
        ui->cardTypeLabel->setText(name);
        ui->updateCardTypeLabel->setText(name);
        ui->firmwareVersionLabel->setText(QString::number(status.firmwareVersion));
        ui->temperatureLabel->setText(tr("%1°C").arg(status.temperature));
        emit sampleRateChanged(int(status.sampleRate));
    }

    if (fpgaVersion.isEmpty())
        ui->fpgaVersionLabel->clear();
    else
        ui->fpgaVersionLabel->setText(fpgaVersion);

    // Only the master slot offers sync source controls.
    const bool syncVisible = slotIndex() == 0;
    if (ui->syncSourceLabel->isHidden() == syncVisible)
        ui->syncSourceLabel->setVisible(syncVisible);
    if (ui->syncSourceFrame->isHidden() == syncVisible)
        ui->syncSourceFrame->setVisible(syncVisible);

    if (shown != cardType) {
        selectPanel(shown);
        cardType = shown;
        // A fresh panel fills in from a full card status instead of waiting for a change.
        port->requestCardStatus();
        const QString name = cardDisplayName(shown);
        emit cardTypeChanged(slotIndex(), shown, name);

        // The upgrader has already looked up the files for the new type.
        if (upgrader->codeVersion() < 1)
            ui->firmwareAvailableLabel->clear();
        else
            ui->firmwareAvailableLabel->setText(QString::number(upgrader->codeVersion()));
        ui->fpgaAvailableLabel->setText(upgrader->fpgaVersion());
        if (shown != KipPort::NoCard) {
            ui->updateMessageLabel->setText(
                tr("To update this card please ensure the firmware code %1 and the fpga code %2 are in the same "
                   "folder as the SablefoldController. Then use the buttons above.")
                    .arg(KipUpgrader::codeFileName(shown), KipUpgrader::fpgaFileName(shown)));
            emit port->statusMessage(tr("%1 ready").arg(name));
        }
    }

    enableUpdateButtons(true);
}

void KipForm::displaySyncSource(QString syncSourceName, bool)
{
    emit syncSourceChanged(syncSourceName.toUpper());
}

void KipForm::setOtherCardType(KipPort::KipCardType type)
{
    otherCardType = type;
    emit otherCardTypeChanged(type);
}

void KipForm::selectPanel(KipPort::KipCardType type)
{
    if (optocoreUpdatePanel) {
        // The module's update dies with its panel; a card that goes away in the middle
        // of it has not been updated.
        const bool updateLost = optocoreUpdateShown && isShowingUpdate();
        delete optocoreUpdatePanel;
        optocoreUpdatePanel = nullptr;
        ui->progressBar->move(8, 352);
        if (updateLost)
            failUpdate();
    }
    if (panel) {
        delete panel;
        panel = nullptr;
    }

    CardPanel *created = nullptr;
    switch (type) {
    case KipPort::MadiBnc:
    case KipPort::MadiCat5:
        created = new MadiPanel(port, ui->controlTab);
        break;
    case KipPort::Aes:
        created = new AesPanel(port, ui->controlTab);
        break;
    case KipPort::Dante:
        created = new OptocorePanel(port, ui->controlTab, KipPort::NoCard);
        break;
    case KipPort::Optocore: {
        // The Optocore card carries the other slot's channels, so its panel follows
        // that card's type and the system rate.
        OptocorePanel *optocore = new OptocorePanel(port, ui->controlTab, otherCardType);
        connect(this, &KipForm::sampleRateChanged, optocore, &OptocorePanel::receiveSystemSampleRate);
        connect(this, &KipForm::otherCardTypeChanged, optocore, &OptocorePanel::receiveOtherCardType);
        emit otherCardTypeChanged(otherCardType);
        created = optocore;
        break;
    }
    case KipPort::Hydra:
        created = new HydraPanel(port, ui->controlTab);
        break;
    default:
        return;
    }

    panel = created;
    connect(panel, &CardPanel::syncLockStateChanged, this, &KipForm::syncLockStateChanged);
    panel->move(16, 58);
    panel->show();

    if (type == KipPort::Optocore)
        createOptocoreUpdatePanel();
}

// ---------------------------------------------------------------------------------
// Update page

void KipForm::createUpgrader()
{
    upgrader = new KipUpgrader(port, this);
    connect(upgrader, &KipUpgrader::updateProgress, this, &KipForm::updateProgress);
    connect(upgrader, &KipUpgrader::updateFinished, this, &KipForm::updateFinished);
}

void KipForm::createOptocoreUpdatePanel()
{
    optocoreUpdatePanel = new OptocoreUpdatePanel(port, ui->updateTab);
    optocoreUpdatePanel->move(0, 340);
    ui->progressBar->move(8, 312);
    optocoreUpdatePanel->show();
    if (panel)
        connect(optocoreUpdatePanel, &OptocoreUpdatePanel::cardStatus, panel, &CardPanel::receiveCardStatus);
    connect(optocoreUpdatePanel, &OptocoreUpdatePanel::updating, this, &KipForm::optocoreUpdating);
    connect(optocoreUpdatePanel, &OptocoreUpdatePanel::updateProgress, this, &KipForm::updateProgress);
}

bool KipForm::isShowingUpdate() const
{
    // Not isVisible(): the bar counts as shown while another tab is in front.
    return !ui->progressBar->isHidden();
}

void KipForm::enableUpdateButtons(bool enabled)
{
    if (!upgrader)
        return;
    bool may = false;
    if (!isShowingUpdate() && cardType != KipPort::NoCard && enabled) {
        ui->codeUpdateButton->setEnabled(upgrader->codeVersion() != 0);
        ui->fpgaUpdateButton->setEnabled(!upgrader->fpgaVersion().isEmpty());
        may = true;
    } else {
        ui->codeUpdateButton->setEnabled(false);
        ui->fpgaUpdateButton->setEnabled(false);
    }

    const int updateTabIndex = ui->tabWidget->indexOf(ui->updateTab);
    if (cardType != KipPort::NoCard && upgrader->updateRecommended()) {
        ui->updateRequiredButton->setEnabled(may);
        // Brought to the front once per recommendation, not on every status.
        if (ui->tabWidget->tabText(updateTabIndex).endsWith(QLatin1Char('*')))
            return;
        ui->updateRecommendedLabel->show();
        ui->tabWidget->setCurrentWidget(ui->updateTab);
        ui->tabWidget->setTabText(updateTabIndex, tr("Update Code *"));
    } else {
        ui->updateRequiredButton->setEnabled(false);
        ui->updateRecommendedLabel->hide();
        ui->tabWidget->setTabText(updateTabIndex, tr("Update Code"));
    }
}

void KipForm::showUpdateStarted(const QString &waitText)
{
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    ui->updatingLabel->setText(waitText);
    enableUpdateButtons(false);
    // Watched from the start: a card that never enters its boot loader, or never
    // answers the erase, reports no progress at all, and its port stops polling for
    // the update. Without the watchdog the page and the slot would wait for ever.
    progressSeen = false;
    restingTicks = 0;
    updateTimer->start();
}

void KipForm::on_codeUpdateButton_clicked()
{
    upgrader->upgradeCode();
    optocoreUpdateShown = false;
    showUpdateStarted(tr("please wait - updating code"));
}

void KipForm::on_fpgaUpdateButton_clicked()
{
    upgrader->upgradeFPGA();
    optocoreUpdateShown = false;
    showUpdateStarted(tr("please wait - updating FPGA"));
}

void KipForm::on_updateRequiredButton_clicked()
{
    upgrader->upgradeAsRequired();
    optocoreUpdateShown = false;
    showUpdateStarted(tr("please wait - updating as required"));
}

void KipForm::optocoreUpdating(bool updating)
{
    if (!updating) {
        updateFinished(true);
        return;
    }
    optocoreUpdateShown = true;
    showUpdateStarted(tr("please wait - updating Optocore"));
}

void KipForm::updateProgress(int percent)
{
    ui->progressBar->setValue(percent);
    progressSeen = true;
    restingTicks = 0;
    updateTimer->start();
}

void KipForm::updateFinished(bool)
{
    // The flows report their own result in the status bar.
    ui->progressBar->hide();
    ui->updatingLabel->clear();
    optocoreUpdateShown = false;
    enableUpdateButtons(true);
    updateTimer->stop();
}

void KipForm::updateTimeout()
{
    const int percent = ui->progressBar->value();
    const bool shown = isShowingUpdate();
    if (percent == 50 || percent == 100 || (shown && !progressSeen)) {
        // Progress from an update this page did not start (a card found in its boot
        // loader when the port opened) has no end this page hears of: it is only
        // failed when it stalls away from the resting points.
        if (!shown)
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

void KipForm::failUpdate()
{
    const bool pageRanUpdate = isShowingUpdate() && !optocoreUpdateShown;
    port->finishCodeUpdate(false);
    port->finishFpgaUpdate(false);
    updateFinished(false);
    emit port->statusMessage(tr("update failed"));
    if (optocoreUpdatePanel)
        optocoreUpdatePanel->finishUpdate(false);
    if (pageRanUpdate) {
        // An upgrader between its two stages still waits for the card to come back and
        // would then start the FPGA stage on its own, after the page has said the
        // update failed. A fresh one has nothing pending.
        upgrader->disconnect();
        disconnect(port, nullptr, upgrader, nullptr);
        upgrader->deleteLater();
        createUpgrader();
    }
}

} // namespace EMS
