#include "ui/madipanel.h"

#include "link/serialmessage.h"
#include "ui_madipanel.h"

#include <QAbstractItemModel>
#include <QStringList>

namespace EMS {

namespace {

constexpr int PortA = 0;
constexpr int PortB = 1;
constexpr int QuorixFormat = 57;
constexpr int FixedFormat = 64;
constexpr int RackSlotCount = 14;
constexpr int RackRows = 7;
constexpr int DeviceTypeMessage = 36;

// Checks exactly one button of an auto-exclusive group, or none: an exclusive group
// refuses to uncheck its last checked button, so exclusivity is lifted meanwhile.
void checkOnly(std::initializer_list<QAbstractButton *> buttons, QAbstractButton *checked)
{
    for (QAbstractButton *button : buttons) {
        if (button->isChecked() == (button == checked))
            continue;
        const bool exclusive = button->autoExclusive();
        button->setAutoExclusive(false);
        button->setChecked(button == checked);
        button->setAutoExclusive(exclusive);
    }
}

void setCellText(QTableWidget *table, int row, int column, const QString &text)
{
    QAbstractItemModel *model = table->model();
    model->setData(model->index(row, column), text, Qt::EditRole);
}

} // namespace

MadiPanel::MadiPanel(KipPort *port, QWidget *parent)
    : CardPanel(port, parent)
    , ui(new Ui::MadiPanel)
{
    ui->setupUi(this);

    if (port && port->slotIndex() > 0) {
        ui->syncAutoButton->hide();
        ui->syncWordClockButton->hide();
        ui->syncMadiAButton->hide();
        ui->syncMadiBButton->hide();
    }

    for (QTableWidget *table : {ui->madiASlotsTable, ui->madiBSlotsTable}) {
        table->setColumnWidth(0, 17);
        table->setColumnWidth(1, 57);
        table->setColumnWidth(2, 20);
        table->setColumnWidth(3, 57);
    }
    setupRackSlots(PortA);
    setupRackSlots(PortB);

    ui->madiAPsuTable->setColumnWidth(0, 27);
    ui->madiBPsuTable->setColumnWidth(0, 27);
    clearPsuVoltages(PortA);
    clearPsuVoltages(PortB);

    ui->aControlViaAudioCheckBox->hide();
    ui->bControlViaAudioCheckBox->hide();
    // No rate is known yet, so no port offers SMUX.
    ui->aSmuxCheckBox->hide();
    ui->bSmuxCheckBox->hide();

    if (!port)
        return;

    connect(port, &KipPort::kipSyncSourceChanged, this, &MadiPanel::receiveSyncSource);
    connect(port, &KipPort::madiTransmitModeChanged, this, &MadiPanel::receiveMadiTransmitStatus);
    connect(port, &KipPort::deviceTypeChanged, this, &MadiPanel::receiveDeviceType);
    connect(port, &KipPort::rackTypeChanged, this, &MadiPanel::receiveRackType);
    connect(port, &KipPort::rackSlotChanged, this, &MadiPanel::receiveRackSlot);
    connect(port, &KipPort::rackCodeDateChanged, this, &MadiPanel::receiveRackCodeDate);
    connect(port, &KipPort::rackVoltageChanged, this, &MadiPanel::receiveRackVoltage);
    connect(port, &KipPort::controlViaAudioChanged, this, &MadiPanel::receiveControlViaAudio);
    connect(port, &KipPort::clockLockedChanged, this, &MadiPanel::receiveClockLocked);
    connect(port, &KipPort::madiPortModeChanged, this, &MadiPanel::receiveMadiPortMode);
    connect(port, &KipPort::madiSmuxChanged, this, &MadiPanel::receiveMadiSmux);

    // The card reports what hangs on each MADI port only when asked.
    const Common::SerialMessage request(DeviceTypeMessage, 0, QByteArray());
    port->sendRawData(request.encode());
}

MadiPanel::~MadiPanel()
{
    delete ui;
}

QString MadiPanel::channelsText(quint8 channelByte)
{
    return tr("Channels: %1 %2")
        .arg(channelByte & 0x7F)
        .arg((channelByte & 0x80) ? tr("96k") : QString());
}

QString MadiPanel::rackTypeText(int rackType)
{
    switch (rackType) {
    case 1: return tr("Quorack");
    case 2: return tr("QX-rack");
    case 3: return tr("Q-rack");
    case 4: return tr("QX-mini");
    case 5: return tr("QX-nano");
    case 6: return tr("Q2-rack");
    default: return QString();
    }
}

QString MadiPanel::rackCardTypeText(int cardType)
{
    switch (cardType) {
    case 1: return tr("DAC");
    case 2: return tr("ADC");
    case 3: return tr("AES out");
    case 4: return tr("AES in");
    case 5: return tr("TDif");
    case 6: return tr("ADat");
    case 7: return tr("AES i/o");
    case 8: return tr("Aviom");
    case 9: return tr("Ether");
    case 10: return tr("AES 42");
    case 11: return tr("HD-SDI");
    case 12: return tr("Dante");
    default: return QString();
    }
}

QString MadiPanel::deviceTypeText(int madiPort) const
{
    switch (deviceType[madiPort]) {
    case KipPort::DeviceNone: return tr("none");
    case KipPort::DeviceRack: return tr("Rack");
    case KipPort::DeviceConsole: return tr("Console");
    case KipPort::DeviceGeneric: return tr("Generic");
    default:
        // An unlisted device on either port is taken for one of our own while port A
        // sends our 57-channel format.
        return txChannels[PortA] == QuorixFormat ? tr("Quorix") : QString();
    }
}

QString MadiPanel::transmitTrackingText(int madiPort) const
{
    if (!txTracksRx[madiPort])
        return tr("fixed");
    return rxChannels[madiPort] != 0 ? tr("track Rx") : QString();
}

void MadiPanel::receiveCardStatus(KipPort::KipCardType cardType, QByteArray data)
{
    if (!KipPort::isDualMadi(cardType))
        return;
    for (int p = PortA; p <= PortB; ++p) {
        // A block too short to hold this port's byte says nothing about the port.
        if (p >= data.size())
            continue;
        const quint8 channels = quint8(data.at(p));
        if (channels != rxChannels[p]) {
            rxChannels[p] = channels;
            emitLockState(p);
        }
        // Rack reports travel inside the 57-channel format; without it none can be trusted.
        if (rxChannels[p] != QuorixFormat)
            resetRack(p);
        displayMadiPort(p);
    }
}

void MadiPanel::receiveInputSampleRate(int port, uint sampleRate)
{
    if (!isMadiPort(port))
        return;
    rxSampleRate[port] = sampleRate;
    displayMadiPort(port);
}

void MadiPanel::receiveSyncSource(QString, bool)
{
    updateSyncButtons();
}

void MadiPanel::receiveMadiTransmitStatus(int madiPort, int transmitMode, bool tracksReceived)
{
    if (!isMadiPort(madiPort))
        return;
    txTracksRx[madiPort] = tracksReceived;
    txChannels[madiPort] = quint8(transmitMode);
    displayMadiPort(madiPort);
}

void MadiPanel::receiveDeviceType(int madiPort, KipPort::DeviceType type)
{
    if (!isMadiPort(madiPort))
        return;
    deviceType[madiPort] = int(type);
    if (deviceType[madiPort] != KipPort::DeviceRack)
        resetRack(madiPort);
    displayMadiPort(madiPort);
}

void MadiPanel::receiveRackType(int madiPort, KipPort::RackType type)
{
    if (!isMadiPort(madiPort) || type == rackType[madiPort])
        return;
    rackType[madiPort] = type;
    displayMadiPort(madiPort);
    setupRackSlots(madiPort);
    clearPsuVoltages(madiPort);
}

void MadiPanel::receiveRackSlot(int madiPort, int slot, KipPort::RackCardType cardType)
{
    if (!isMadiPort(madiPort))
        return;
    setRackSlotText(madiPort, slot, cardType);
}

void MadiPanel::receiveRackCodeDate(int madiPort, uchar day, uchar month, ushort year)
{
    if (!isMadiPort(madiPort))
        return;
    rackCodeDate[madiPort] = QStringLiteral("%1/%2/%3").arg(day).arg(month).arg(year);
    displayMadiPort(madiPort);
}

void MadiPanel::receiveRackVoltage(int madiPort, int psu, int nominalVolts, float voltage)
{
    if (!isMadiPort(madiPort) || (psu != 0 && psu != 1))
        return;
    int rail;
    switch (nominalVolts) {
    case 5: rail = 0; break;
    case 7: rail = 1; break;
    case 15: rail = 2; break;
    case -15: rail = 3; break;
    default: return;
    }
    setPsuVoltage(madiPort, psu, rail, voltage);
}

void MadiPanel::receiveControlViaAudio(int madiPort, bool controlViaAudio)
{
    if (madiPort == PortA)
        ui->aControlViaAudioCheckBox->setChecked(controlViaAudio);
    else if (madiPort == PortB)
        ui->bControlViaAudioCheckBox->setChecked(controlViaAudio);
}

void MadiPanel::receiveClockLocked(int madiPort, bool receiveLocked)
{
    if (!isMadiPort(madiPort))
        return;
    rxLocked[madiPort] = receiveLocked;
    displayMadiPort(madiPort);
    emitLockState(madiPort);
}

void MadiPanel::receiveMadiPortMode(KipPort::MadiPortMode portMode)
{
    madiPortMode = portMode;
    displayMadiPort(PortB);
    emitLockState(PortB);
}

void MadiPanel::receiveMadiSmux(int madiPort, bool smux)
{
    if (!isMadiPort(madiPort))
        return;
    smuxCheckBox(madiPort)->setChecked(smux);
    displayMadiPort(madiPort);
}

void MadiPanel::on_syncAutoButton_clicked() { requestSyncSource(SyncAuto); }
void MadiPanel::on_syncWordClockButton_clicked() { requestSyncSource(SyncWordClock); }
void MadiPanel::on_syncMadiAButton_clicked() { requestSyncSource(0); }
void MadiPanel::on_syncMadiBButton_clicked() { requestSyncSource(1); }

// The 57-channel format carries the rack's control data in the audio, so choosing it
// also turns control via audio on; the other formats turn it off.
void MadiPanel::on_aTxModeAutoButton_clicked()
{
    port->sendTransmitMode(PortA, 0);
    port->sendControlViaAudio(PortA, false);
}

void MadiPanel::on_aTxMode57Button_clicked()
{
    port->sendTransmitMode(PortA, QuorixFormat);
    port->sendControlViaAudio(PortA, true);
}

void MadiPanel::on_aTxMode64Button_clicked()
{
    port->sendTransmitMode(PortA, FixedFormat);
    port->sendControlViaAudio(PortA, false);
}

void MadiPanel::on_bTxModeAutoButton_clicked()
{
    port->sendTransmitMode(PortB, 0);
    port->sendControlViaAudio(PortB, false);
}

void MadiPanel::on_bTxMode57Button_clicked()
{
    port->sendTransmitMode(PortB, QuorixFormat);
    port->sendControlViaAudio(PortB, true);
}

void MadiPanel::on_bTxMode64Button_clicked()
{
    port->sendTransmitMode(PortB, FixedFormat);
    port->sendControlViaAudio(PortB, false);
}

void MadiPanel::on_aControlViaAudioCheckBox_clicked(bool checked)
{
    port->sendControlViaAudio(PortA, checked);
}

void MadiPanel::on_bControlViaAudioCheckBox_clicked(bool checked)
{
    port->sendControlViaAudio(PortB, checked);
}

void MadiPanel::on_aSmuxCheckBox_clicked(bool checked)
{
    port->sendMadiSmux(PortA, checked);
    displayMadiPort(PortA);
}

void MadiPanel::on_bSmuxCheckBox_clicked(bool checked)
{
    port->sendMadiSmux(PortB, checked);
    displayMadiPort(PortB);
}

void MadiPanel::emitLockState(int madiPort)
{
    SyncLockState state;
    if ((madiPort == PortB && madiPortMode == 0) || rxChannels[madiPort] == 0)
        state = SyncUnknown;
    else
        state = rxLocked[madiPort] ? SyncLocked : SyncUnlocked;
    emit syncLockStateChanged(madiPort, state);
}

void MadiPanel::displayMadiPort(int madiPort)
{
    QStringList lines;
    if (madiPort == PortB && madiPortMode == 0) {
        lines << tr("Disabled (single port mode)");
    } else {
        const bool smux = smuxCheckBox(madiPort)->isChecked() && isSingleRate(rxSampleRate[madiPort]);
        lines << tr("Rx ") + channelsText(rxChannels[madiPort]);
        if (smux)
            lines << tr("Rx Sample Rate: %1 smux").arg(2 * quint64(rxSampleRate[madiPort]));
        else
            lines << tr("Rx Sample Rate: %1").arg(rxSampleRate[madiPort]);
        lines << tr("Rx Sync: ") + (rxLocked[madiPort] ? tr("Locked") : tr("Not Locked"));
        lines << tr("Tx %1 %2").arg(channelsText(txChannels[madiPort]), transmitTrackingText(madiPort));
        lines << tr("Connection: ") + deviceTypeText(madiPort);
        if (rackType[madiPort] >= 1) {
            lines << tr("Rack type: ") + rackTypeText(rackType[madiPort]);
            lines << tr("Rack code: ") + rackCodeDate[madiPort];
        }
    }
    textEdit(madiPort)->setPlainText(lines.join(QLatin1Char('\n')));

    ui->aSmuxCheckBox->setVisible(isSingleRate(rxSampleRate[PortA]));
    ui->bSmuxCheckBox->setVisible(isSingleRate(rxSampleRate[PortB]));
    updateSyncButtons();
    updateTransmitButtons();
}

void MadiPanel::updateSyncButtons()
{
    if (!port)
        return;
    QAbstractButton *checked = nullptr;
    if (port->syncAuto())
        checked = ui->syncAutoButton;
    else if (port->syncSource() == ReportedWordClock)
        checked = ui->syncWordClockButton;
    else if (port->syncSource() == 0)
        checked = ui->syncMadiAButton;
    else if (port->syncSource() == 1)
        checked = ui->syncMadiBButton;
    checkOnly({ui->syncAutoButton, ui->syncWordClockButton, ui->syncMadiAButton, ui->syncMadiBButton},
              checked);
}

void MadiPanel::updateTransmitButtons()
{
    const struct {
        QAbstractButton *autoButton, *quorixButton, *fixedButton;
    } groups[2] = {
        {ui->aTxModeAutoButton, ui->aTxMode57Button, ui->aTxMode64Button},
        {ui->bTxModeAutoButton, ui->bTxMode57Button, ui->bTxMode64Button},
    };
    for (int p = PortA; p <= PortB; ++p) {
        QAbstractButton *checked = nullptr;
        if (txTracksRx[p])
            checked = groups[p].autoButton;
        else if (txChannels[p] == QuorixFormat)
            checked = groups[p].quorixButton;
        else if (txChannels[p] == FixedFormat)
            checked = groups[p].fixedButton;
        checkOnly({groups[p].autoButton, groups[p].quorixButton, groups[p].fixedButton}, checked);
    }
    ui->aControlViaAudioCheckBox->setEnabled(ui->aTxMode57Button->isChecked());
    ui->bControlViaAudioCheckBox->setEnabled(ui->bTxMode57Button->isChecked());
}

void MadiPanel::resetRack(int madiPort)
{
    rackType[madiPort] = 0;
    setupRackSlots(madiPort);
    clearPsuVoltages(madiPort);
}

void MadiPanel::setupRackSlots(int madiPort)
{
    for (int s = 0; s < RackSlotCount; ++s)
        setRackSlotText(madiPort, s, 0);
    switch (rackType[madiPort]) {
    case 1:
    case 2: numberRackSlots(madiPort, 7, 7); break;
    case 3: numberRackSlots(madiPort, 4, 2); break;
    case 4: numberRackSlots(madiPort, 4, 0); break;
    case 5: numberRackSlots(madiPort, 2, 0); break;
    case 6: numberRackSlots(madiPort, 6, 4); break;
    default:
        slotsTable(madiPort)->hide();
        slotsLabel(madiPort)->hide();
        break;
    }
}

void MadiPanel::numberRackSlots(int madiPort, int first, int second)
{
    QTableWidget *table = slotsTable(madiPort);
    for (int r = 0; r < RackRows; ++r) {
        setCellText(table, r, 0, r < first ? QString::number(r + 1) : QString());
        setCellText(table, r, 2, r < second ? QString::number(r + 8) : QString());
    }
    table->show();
    slotsLabel(madiPort)->show();
}

void MadiPanel::setRackSlotText(int madiPort, int slot, int cardType)
{
    // Slots the card counts beyond the table have no cell to show them in.
    if (slot < 0 || slot >= RackSlotCount)
        return;
    setCellText(slotsTable(madiPort), slot % RackRows, slot < RackRows ? 1 : 3,
                rackCardTypeText(cardType));
}

void MadiPanel::clearPsuVoltages(int madiPort)
{
    for (int supply = 0; supply < 2; ++supply)
        for (int rail = 0; rail < 4; ++rail)
            setPsuVoltage(madiPort, supply, rail, 0.0f);
    // The smallest rack carries no supply monitor.
    psuTable(madiPort)->setVisible(rackType[madiPort] > 1);
}

void MadiPanel::setPsuVoltage(int madiPort, int supply, int rail, float voltage)
{
    setCellText(psuTable(madiPort), supply + 1, rail + 1,
                voltage == 0.0f ? QString() : QString::number(double(voltage), 'f', 1));
}

QPlainTextEdit *MadiPanel::textEdit(int madiPort) const
{
    return madiPort == PortA ? ui->madiATextEdit : ui->madiBTextEdit;
}

QCheckBox *MadiPanel::smuxCheckBox(int madiPort) const
{
    return madiPort == PortA ? ui->aSmuxCheckBox : ui->bSmuxCheckBox;
}

QTableWidget *MadiPanel::slotsTable(int madiPort) const
{
    return madiPort == PortA ? ui->madiASlotsTable : ui->madiBSlotsTable;
}

QLabel *MadiPanel::slotsLabel(int madiPort) const
{
    return madiPort == PortA ? ui->rackASlotsLabel : ui->rackBSlotsLabel;
}

QTableWidget *MadiPanel::psuTable(int madiPort) const
{
    return madiPort == PortA ? ui->madiAPsuTable : ui->madiBPsuTable;
}

} // namespace EMS
