#include "ui/kipform.h"

#include "ui/cardpanel.h"
#include "ui/cardpanelfactory.h"
#include "ui/optocorepanel.h"
#include "ui/optocoreupdatepanel.h"
#include "ui_kipform.h"
#include "update/kipupgrader.h"

#include <QTimer>

namespace EMS {

KipForm::KipForm(KipPort *port, QWidget *parent, SerialPortLister portLister)
    : QWidget(parent)
    , ui(new Ui::KipForm)
    , port(port)
{
    ui->setupUi(this);
    ui->progressBar->hide();
    ui->updateRecommendedLabel->hide();

    if (!port)
        return;

    controller = new SlotController(port, this, std::move(portLister));
    connect(controller, &SlotController::portsListed, this, &KipForm::showPorts);
    connect(controller, &SlotController::cardTypeShown, this, &KipForm::selectPanel);
    connect(controller, &SlotController::cardTypeChanged, this, &KipForm::cardTypeChanged);
    connect(controller, &SlotController::sampleRateChanged, this, &KipForm::sampleRateChanged);
    connect(controller, &SlotController::syncSourceChanged, this, &KipForm::syncSourceChanged);
    connect(controller, &SlotController::otherCardTypeChanged, this, &KipForm::otherCardTypeChanged);
    connect(controller, &SlotController::hardwareStatusShown, this, &KipForm::showStatus);
    connect(controller, &SlotController::updatingChanged, this, &KipForm::showUpdating);
    connect(controller, &SlotController::updateProgressChanged, ui->progressBar, &QProgressBar::setValue);
    connect(controller, &SlotController::updateAbandoned, this, [this]() {
        if (optocoreUpdatePanel)
            optocoreUpdatePanel->finishUpdate(false);
    });
    connect(port, &KipPort::connectedChanged, this, &KipForm::enableUpdateButtons);

    controller->scanPorts();
}

KipForm::~KipForm()
{
    delete ui;
}

// ---------------------------------------------------------------------------------
// The slots the window and the generated form call: the slot controller does the work.

void KipForm::setupSerialPorts() { if (controller) controller->scanPorts(); }
void KipForm::serialPortError(QSerialPort::SerialPortError error) { if (controller) controller->serialPortError(error); }
void KipForm::recoverFromSerialPortError() { if (controller) controller->recoverFromSerialPortError(); }
void KipForm::displaySlotStatus() { if (controller) controller->showHardwareStatus(); }
void KipForm::displaySyncSource(QString name, bool isAuto) { if (controller) controller->receiveSyncSource(name, isAuto); }
void KipForm::setOtherCardType(KipPort::KipCardType type) { if (controller) controller->setOtherCardType(type); }
void KipForm::updateProgress(int percent) { if (controller) controller->receiveUpdateProgress(percent); }
void KipForm::updateFinished(bool success) { if (controller) controller->receiveUpdateFinished(success); }
void KipForm::updateTimeout() { if (controller) controller->updateTimeout(); }
void KipForm::on_codeUpdateButton_clicked() { if (controller) controller->updateCode(); }
void KipForm::on_fpgaUpdateButton_clicked() { if (controller) controller->updateFpga(); }
void KipForm::on_updateRequiredButton_clicked() { if (controller) controller->updateAsRequired(); }
void KipForm::optocoreUpdating(bool updating) { if (controller) controller->optocoreUpdating(updating); }

// ---------------------------------------------------------------------------------
// Serial ports

void KipForm::on_connectionComboBox_activated(int)
{
    // The item's text is the port name, a blank and the port's description.
    if (controller)
        controller->choosePort(ui->connectionComboBox->currentText().section(QLatin1Char(' '), 0, 0));
}

void KipForm::showPorts()
{
    QComboBox *combo = ui->connectionComboBox;
    combo->clear();
    combo->addItem(QString());
    for (const SerialPortEntry &entry : controller->listedPorts())
        combo->addItem(entry.portName + QLatin1Char(' ') + entry.description);
    combo->setCurrentIndex(controller->selectedPort());
}

// ---------------------------------------------------------------------------------
// What the card reports

void KipForm::showStatus()
{
    const KipPort::HardwareStatus status = port->hardwareStatus();
    if (status.firmwareVersion == 0) {
        ui->cardTypeLabel->clear();
        ui->updateCardTypeLabel->clear();
        ui->firmwareVersionLabel->clear();
        ui->temperatureLabel->clear();
    } else {
        const QString name = cardDisplayName(controller->cardType());
        ui->cardTypeLabel->setText(name);
        ui->updateCardTypeLabel->setText(name);
        ui->firmwareVersionLabel->setText(QString::number(status.firmwareVersion));
        ui->temperatureLabel->setText(tr("%1°C").arg(status.temperature));
    }

    const QString fpgaVersion = status.fpgaVersionText();
    if (fpgaVersion.isEmpty())
        ui->fpgaVersionLabel->clear();
    else
        ui->fpgaVersionLabel->setText(fpgaVersion);

    // Only the master slot offers sync source controls.
    const bool syncVisible = controller->slotIndex() == 0;
    if (ui->syncSourceLabel->isHidden() == syncVisible)
        ui->syncSourceLabel->setVisible(syncVisible);
    if (ui->syncSourceFrame->isHidden() == syncVisible)
        ui->syncSourceFrame->setVisible(syncVisible);

    // A file that is not there says so where its version would be: the reason its
    // button stays disabled.
    const KipUpgrader *upgrader = controller->upgrader();
    const KipPort::KipCardType shown = controller->cardType();
    const QStringList missing = controller->missingFirmwareFiles();
    const QString notFound = tr("not found");
    if (missing.contains(KipUpgrader::codeFileName(shown)))
        ui->firmwareAvailableLabel->setText(notFound);
    else if (upgrader->codeVersion() < 1)
        ui->firmwareAvailableLabel->clear();
    else
        ui->firmwareAvailableLabel->setText(QString::number(upgrader->codeVersion()));
    const bool fpgaMissing = missing.contains(KipUpgrader::fpgaFileName(shown));
    ui->fpgaAvailableLabel->setText(fpgaMissing ? notFound : upgrader->fpgaVersion());
    if (shown != KipPort::NoCard) {
        QString text = tr("To update this card please ensure the firmware code %1 and the fpga code %2 are in the same "
                          "folder as the SablefoldController. Then use the buttons above.")
                           .arg(KipUpgrader::codeFileName(shown), KipUpgrader::fpgaFileName(shown));
        if (!missing.isEmpty())
            text += tr(" Looked in %1: %2 not found.").arg(SlotController::firmwareFolder(), missing.join(tr(" and ")));
        ui->updateMessageLabel->setText(text);
    }

    enableUpdateButtons(true);
}

void KipForm::selectPanel(KipPort::KipCardType type)
{
    if (optocoreUpdatePanel) {
        // The module's update dies with its panel; a card that goes away in the middle
        // of it has not been updated.
        const bool updateLost = controller->isOptocoreUpdate() && controller->isUpdating();
        delete optocoreUpdatePanel;
        optocoreUpdatePanel = nullptr;
        ui->progressBar->move(8, 352);
        if (updateLost)
            controller->failUpdate();
    }
    if (panel) {
        delete panel;
        panel = nullptr;
    }

    CardPanel *created = createCardPanel(type, port, ui->controlTab, controller->otherSlotCardType());
    if (!created)
        return;
    if (type == KipPort::Optocore) {
        // The Optocore card carries the other slot's channels, so its panel follows
        // that card's type and the system rate.
        auto *optocore = static_cast<OptocorePanel *>(created);
        connect(this, &KipForm::sampleRateChanged, optocore, &OptocorePanel::receiveSystemSampleRate);
        connect(this, &KipForm::otherCardTypeChanged, optocore, &OptocorePanel::receiveOtherCardType);
        emit otherCardTypeChanged(controller->otherSlotCardType());
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

void KipForm::enableUpdateButtons(bool enabled)
{
    if (!controller)
        return;
    const KipUpgrader *upgrader = controller->upgrader();
    const KipPort::KipCardType cardType = controller->cardType();
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
        if (controller->isAwaitingStatusAfterUpdate()) {
            // The versions compared are still those from before the update just made.
            ui->updateRecommendedLabel->hide();
            ui->tabWidget->setTabText(updateTabIndex, tr("Update Code"));
            return;
        }
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

void KipForm::showUpdating(bool updating)
{
    if (updating) {
        ui->progressBar->setValue(controller->updateProgress());
        ui->progressBar->show();
        ui->updatingLabel->setText(controller->updateWaitText());
        enableUpdateButtons(false);
    } else {
        ui->progressBar->hide();
        ui->updatingLabel->clear();
        enableUpdateButtons(true);
    }
}

} // namespace EMS
