#include "ui/hydrapanel.h"

#include "ui/framefont.h"
#include "ui_hydrapanel.h"

namespace EMS {

HydraPanel::HydraPanel(KipPort *port, QWidget *parent)
    : CardPanel(port, parent)
    , ui(new Ui::HydraPanel)
{
    ui->setupUi(this);
    passFrameFontDown(ui->optocoreFrame);

    if (port && port->slotIndex() > 0) {
        ui->syncAutoButton->hide();
        ui->syncWordClockButton->hide();
        ui->syncHydraButton->hide();
        ui->masterWarningTextBrowser->hide();
    }

    for (int id = 1; id <= MaxHydraId; ++id)
        ui->idComboBox->addItem(QString::number(id));

    if (!port)
        return;
    connect(port, &KipPort::clockLockedChanged, this, &HydraPanel::receiveClockLocked);
    connect(port, &KipPort::kipSyncSourceChanged, this, &HydraPanel::receiveSyncSource);
}

HydraPanel::~HydraPanel()
{
    delete ui;
}

bool HydraPanel::idIndexFromCardStatus(const QByteArray &data, int *index)
{
    if (data.isEmpty())
        return false;
    *index = int(quint8(data.at(0))) - 1;
    return true;
}

void HydraPanel::receiveCardStatus(KipPort::KipCardType cardType, QByteArray data)
{
    if (cardType != KipPort::Hydra)
        return;
    // An empty block names no ID; the list keeps what the card said before.
    int index;
    if (idIndexFromCardStatus(data, &index))
        ui->idComboBox->setCurrentIndex(index);
}

void HydraPanel::receiveInputSampleRate(int, uint sampleRate)
{
    // The card has one network input, so the rate is shown whatever input it names.
    if (sampleRate == 0)
        ui->sampleRateLabel->clear();
    else
        ui->sampleRateLabel->setText(QString::number(sampleRate));
}

void HydraPanel::receiveClockLocked(int port, bool receiveLocked)
{
    ui->rxSyncLockLabel->setText(receiveLocked ? tr("Locked") : tr("Not Locked"));
    emit syncLockStateChanged(port, receiveLocked ? SyncLocked : SyncUnlocked);
}

void HydraPanel::receiveSyncSource(QString, bool)
{
    showNetworkSyncSource(ui->syncAutoButton, ui->syncWordClockButton, ui->syncHydraButton);
}

void HydraPanel::on_idComboBox_activated(int index)
{
    // The card takes the new ID at its next power cycle, as the note beside the list
    // says; until then it keeps reporting the old one.
    if (port)
        port->sendNetworkId(index + 1);
}

void HydraPanel::on_syncAutoButton_clicked() { requestSyncSource(SyncAuto); }
void HydraPanel::on_syncWordClockButton_clicked() { requestSyncSource(SyncWordClock); }
void HydraPanel::on_syncHydraButton_clicked() { requestSyncSource(NetworkInput); }

} // namespace EMS
