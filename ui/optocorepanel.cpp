#include "ui/optocorepanel.h"

#include "ui/framefont.h"
#include "ui_optocorepanel.h"

namespace EMS {

namespace {

// Above this system rate a MADI port carries half its channels.
constexpr quint32 SingleRateLimit = 50000;
constexpr int ChannelStep = 8;
constexpr int NetworkIdCount = 14;

// Settings block positions the controller writes: the code, the fibre speed, the
// module's setting that goes with the speed, and the speed again.
constexpr int LengthByte = 0;
constexpr int CodeByte = 1;
constexpr int ValueByte = 4;
constexpr int SpeedSettingByte = 12;
constexpr int SecondSpeedByte = 19;

} // namespace

OptocorePanel::ChannelCountPlan OptocorePanel::channelCountPlan(KipPort::KipCardType other, quint32 systemSampleRate,
                                                                bool twoPortMode)
{
    ChannelCountPlan plan;
    // Until the other slot is known, offer what a MADI port carries.
    plan.inputs = other == KipPort::NoCard ? 64 : KipPort::inputChannelCount(other);
    plan.outputs = other == KipPort::NoCard ? 64 : KipPort::outputChannelCount(other);
    const bool dualMadi = KipPort::isDualMadi(other);
    if (dualMadi && systemSampleRate > SingleRateLimit) {
        // At double rate the MADI card either sends one port's channels on both ports
        // or splits them between the two.
        plan.madiModeChoice = true;
        plan.portBInUse = twoPortMode;
        if (twoPortMode) {
            plan.inputs /= 2;
            plan.outputs /= 2;
        }
    } else {
        plan.portBInUse = dualMadi;
    }
    return plan;
}

int OptocorePanel::replyCode(const QByteArray &reply)
{
    if (reply.size() < 2)
        return -1;
    return quint8(reply.at(CodeByte));
}

bool OptocorePanel::networkIdIndex(const QByteArray &reply, int *index)
{
    if (reply.size() <= ValueByte)
        return false;
    const int position = int(qint8(reply.at(ValueByte))) - FirstNetworkId;
    *index = position >= 0 && position < NetworkIdCount ? position : -1;
    return true;
}

QByteArray OptocorePanel::settingsBlock(const QByteArray &reply)
{
    if (reply.isEmpty())
        return QByteArray();
    const int length = qint8(reply.at(LengthByte));
    return length > 0 ? reply.left(length) : QByteArray();
}

int OptocorePanel::fibreSpeed(const QByteArray &settings)
{
    if (settings.size() <= ValueByte)
        return -1;
    return quint8(settings.at(ValueByte));
}

QByteArray OptocorePanel::fibreSpeedBlock(QByteArray settings, int speed)
{
    const int originalSize = settings.size();
    // A short block is padded with zeros up to the speed bytes; its length byte then
    // has to count the padding, or the module drops the block as malformed.
    if (settings.size() <= SecondSpeedByte)
        settings.append(QByteArray(SecondSpeedByte + 1 - settings.size(), '\0'));
    if (settings.size() != originalSize)
        settings[LengthByte] = char(settings.size());
    settings[CodeByte] = char(WriteSettingsCode);
    settings[ValueByte] = char(speed);
    settings[SpeedSettingByte] = char(speed == 1 ? 0x7E : 0x3F);
    settings[SecondSpeedByte] = char(speed);
    return settings;
}

OptocorePanel::OptocorePanel(KipPort *port, QWidget *parent, KipPort::KipCardType otherCardType)
    : CardPanel(port, parent)
    , ui(new Ui::OptocorePanel)
    , otherCardType(otherCardType)
{
    ui->setupUi(this);
    passFrameFontDown(ui->optocoreFrame);

    // The clock phase controls are for the bench only.
    ui->clockDecButton->hide();
    ui->clockIncButton->hide();
    ui->clockLabel->hide();
    // The ID list shows once the module has said which ID it has.
    ui->idComboBox->hide();

    if (isOptocoreCard()) {
        ui->syncExternalButton->setText(tr("Optocore"));
    } else {
        // A Dante card has no Optocore module: only its rate and lock rows remain.
        for (QWidget *widget : std::initializer_list<QWidget *>{
                 ui->idLabel, ui->idLabel_4, ui->fibreSpeed1Button, ui->fibreSpeed2Button,
                 ui->channelCountsLabel, ui->channelCountsALabel, ui->channelCountsBLabel, ui->insertingLabel,
                 ui->insertingLabel_2, ui->insertingLabel_3, ui->extractingLabel, ui->insertingComboBox,
                 ui->extractingComboBox, ui->insertingBComboBox, ui->extractingBComboBox, ui->madiModeLabel,
                 ui->madiMode1Button, ui->madiMode2Button})
            widget->hide();
        ui->optocoreFrame->resize(169, 97);
    }

    if (!port)
        return;
    if (port->slotIndex() > 0) {
        ui->syncAutoButton->hide();
        ui->syncWordClockButton->hide();
        ui->syncExternalButton->hide();
    }

    connect(port, &KipPort::kipSyncSourceChanged, this, &OptocorePanel::receiveSyncSource);
    connect(port, &KipPort::clockLockedChanged, this, &OptocorePanel::receiveClockLocked);
    connect(port, &KipPort::optocoreMessageReceived, this, &OptocorePanel::receiveOptocoreMessage);
    connect(port, &KipPort::optocoreChannelCountsReceived, this, &OptocorePanel::receiveOptocoreChannelCounts);
    updateChannelCountLists();
    sendOptocoreRequest(NetworkIdCode);
}

OptocorePanel::~OptocorePanel()
{
    delete ui;
}

bool OptocorePanel::isOptocoreCard() const
{
    return port && port->cardType() == KipPort::Optocore;
}

quint32 OptocorePanel::systemSampleRate() const
{
    return port ? port->hardwareStatus().sampleRate : 0;
}

void OptocorePanel::receiveCardStatus(KipPort::KipCardType cardType, QByteArray)
{
    // Every status report walks the module's chain again, so the panel catches up with
    // settings changed elsewhere.
    if (cardType == KipPort::Optocore)
        sendOptocoreRequest(NetworkIdCode);
}

void OptocorePanel::receiveInputSampleRate(int, uint sampleRate)
{
    if (sampleRate == 0) {
        ui->sampleRateLabel->clear();
        return;
    }
    // The Optocore card reports the ring's base rate; at double rate the audio runs at
    // twice that.
    quint64 shown = sampleRate;
    if (isOptocoreCard() && systemSampleRate() > SingleRateLimit)
        shown *= 2;
    ui->sampleRateLabel->setText(QString::number(shown));
}

void OptocorePanel::receiveSystemSampleRate(int)
{
    updateChannelCountLists();
}

void OptocorePanel::receiveOtherCardType(KipPort::KipCardType cardType)
{
    otherCardType = cardType;
    const bool dualMadi = KipPort::isDualMadi(cardType);
    ui->channelCountsALabel->setVisible(dualMadi);
    ui->channelCountsBLabel->setVisible(dualMadi);
    ui->extractingBComboBox->setVisible(dualMadi);
    ui->insertingBComboBox->setVisible(dualMadi);
    if (dualMadi)
        ui->optocoreFrame->resize(213, 265);
    else
        ui->optocoreFrame->resize(169, 236); // room for the "outputs from fibre" row and the frame's edge
    updateChannelCountLists();
    if (port)
        port->requestCardStatus();
}

void OptocorePanel::receiveSyncSource(QString, bool)
{
    showNetworkSyncSource(ui->syncAutoButton, ui->syncWordClockButton, ui->syncExternalButton);
}

void OptocorePanel::receiveClockLocked(int port, bool receiveLocked)
{
    ui->rxSyncLockLabel->setText(receiveLocked ? tr("Locked") : tr("Not Locked"));
    emit syncLockStateChanged(port, receiveLocked ? SyncLocked : SyncUnlocked);
}

void OptocorePanel::receiveOptocoreMessage(QByteArray data)
{
    // A reply too short for what its code promises is dropped like a lost one: the
    // controls stay and the chain starts again with the next card status.
    switch (replyCode(data)) {
    case NetworkIdCode: {
        int index;
        if (!networkIdIndex(data, &index))
            return;
        ui->idComboBox->show();
        ui->idComboBox->setCurrentIndex(index);
        sendOptocoreRequest(SettingsCode);
        break;
    }
    case SettingsCode:
        optocoreSettings = settingsBlock(data);
        showFibreSpeed();
        sendOptocoreRequest(RegisterF0Code);
        break;
    case RegisterF0Code:
        // The controller keeps 0x32 in this register; a module that reports anything
        // else (one fresh from the factory, say) gets it written.
        if (port && data.size() > ValueByte && quint8(data.at(ValueByte)) != RegisterF0Value) {
            const char write[] = {5, char(WriteRegisterF0Code), char(0xFF), char(0xFF), char(RegisterF0Value)};
            port->sendOptocoreCommand(QByteArray(write, sizeof write));
        }
        break;
    default:
        break;
    }
}

void OptocorePanel::receiveOptocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted)
{
    const int p = madiPort != 0 ? PortB : PortA;
    QComboBox *insertingList = insertingCombo(p);
    QComboBox *extractingList = extractingCombo(p);
    const int i = inserted / ChannelStep;
    const int e = extracted / ChannelStep;
    insertingList->setCurrentIndex(qMin(i, insertingList->count() - 1));
    extractingList->setCurrentIndex(qMin(e, extractingList->count() - 1));
    // A count beyond what the other card has goes back to the card clamped.
    if (i >= insertingList->count() || e >= extractingList->count())
        sendChannelCounts(p);

    if (p == PortB) {
        // Port B carries channels only when the MADI card splits them over two ports.
        const bool bCarries = inserted != 0 || extracted != 0;
        ui->madiMode1Button->setChecked(!bCarries);
        ui->madiMode2Button->setChecked(bCarries);
        if (bCarries && ui->insertingBComboBox->isHidden())
            updateChannelCountLists();
    }
}

void OptocorePanel::on_idComboBox_activated(int index)
{
    if (port)
        port->sendNetworkId(index + FirstNetworkId);
}

void OptocorePanel::on_syncAutoButton_clicked() { requestSyncSource(SyncAuto); }
void OptocorePanel::on_syncWordClockButton_clicked() { requestSyncSource(SyncWordClock); }
void OptocorePanel::on_syncExternalButton_clicked() { requestSyncSource(NetworkInput); }

void OptocorePanel::on_fibreSpeed1Button_clicked()
{
    sendFibreSpeed(0);
}

void OptocorePanel::on_fibreSpeed2Button_clicked()
{
    sendFibreSpeed(1);
}

void OptocorePanel::on_clockDecButton_clicked()
{
    if (port)
        port->sendOptocorePhase(0);
}

void OptocorePanel::on_clockIncButton_clicked()
{
    if (port)
        port->sendOptocorePhase(1);
}

void OptocorePanel::on_insertingComboBox_activated(int) { sendChannelCounts(PortA); }
void OptocorePanel::on_extractingComboBox_activated(int) { sendChannelCounts(PortA); }
void OptocorePanel::on_insertingBComboBox_activated(int) { sendChannelCounts(PortB); }
void OptocorePanel::on_extractingBComboBox_activated(int) { sendChannelCounts(PortB); }

// The two mode buttons act as a switch; they are not grouped so that a report of the
// card can also leave both unchecked.
void OptocorePanel::on_madiMode1Button_clicked(bool checked)
{
    ui->madiMode2Button->setChecked(!checked);
    updateChannelCountLists();
}

void OptocorePanel::on_madiMode2Button_clicked(bool checked)
{
    ui->madiMode1Button->setChecked(!checked);
    updateChannelCountLists();
}

void OptocorePanel::sendOptocoreRequest(quint8 code)
{
    if (!port)
        return;
    // A read: length 4, the code, then 00 FF.
    const char request[] = {4, char(code), 0x00, char(0xFF)};
    port->sendOptocoreCommand(QByteArray(request, sizeof request));
}

void OptocorePanel::showFibreSpeed()
{
    // A block too short to hold the speed says nothing about it: neither button.
    const int speed = fibreSpeed(optocoreSettings);
    ui->fibreSpeed1Button->setChecked(speed == 0);
    ui->fibreSpeed2Button->setChecked(speed == 1);
}

void OptocorePanel::sendFibreSpeed(int speed)
{
    if (!port)
        return;
    if (optocoreSettings.size() > ValueByte) {
        optocoreSettings = fibreSpeedBlock(optocoreSettings, speed);
        port->sendOptocoreCommand(optocoreSettings);
    }
    // The buttons follow the module's answer, not the click.
    sendOptocoreRequest(SettingsCode);
}

void OptocorePanel::updateChannelCountLists()
{
    const ChannelCountPlan plan =
        channelCountPlan(otherCardType, systemSampleRate(), ui->madiMode2Button->isChecked());
    ui->madiModeLabel->setVisible(plan.madiModeChoice);
    ui->madiMode1Button->setVisible(plan.madiModeChoice);
    ui->madiMode2Button->setVisible(plan.madiModeChoice);
    ui->channelCountsALabel->setVisible(plan.portBInUse);
    ui->channelCountsBLabel->setVisible(plan.portBInUse);
    ui->insertingBComboBox->setVisible(plan.portBInUse);
    ui->extractingBComboBox->setVisible(plan.portBInUse);

    const int a = ui->insertingComboBox->currentIndex();
    const int b = ui->extractingComboBox->currentIndex();
    int c = ui->insertingBComboBox->currentIndex();
    int d = ui->extractingBComboBox->currentIndex();

    fillChannelCountCombo(ui->insertingComboBox, plan.inputs / ChannelStep + 1);
    fillChannelCountCombo(ui->insertingBComboBox, plan.inputs / ChannelStep + 1);
    fillChannelCountCombo(ui->extractingComboBox, plan.outputs / ChannelStep + 1);
    fillChannelCountCombo(ui->extractingBComboBox, plan.outputs / ChannelStep + 1);

    if (!plan.portBInUse) {
        // A port that carries nothing must not keep channels in the ring.
        ui->insertingBComboBox->setCurrentIndex(0);
        ui->extractingBComboBox->setCurrentIndex(0);
        if (c > 0 || d > 0)
            sendChannelCounts(PortB);
        c = 0;
        d = 0;
    }
    // A selection the shorter list cut back goes to the card as the count now shown.
    if (a >= ui->insertingComboBox->count() || b >= ui->extractingComboBox->count())
        sendChannelCounts(PortA);
    if (KipPort::isDualMadi(otherCardType)
        && (c >= ui->insertingBComboBox->count() || d >= ui->extractingBComboBox->count()))
        sendChannelCounts(PortB);
}

void OptocorePanel::fillChannelCountCombo(QComboBox *combo, int count)
{
    const int selected = combo->currentIndex();
    combo->setMaxCount(count);
    if (selected >= count)
        combo->setCurrentIndex(count - 1);
    for (int k = combo->count(); k < count; ++k)
        combo->addItem(QString::number(ChannelStep * k));
}

void OptocorePanel::sendChannelCounts(int madiPort)
{
    if (!port)
        return;
    const int inserted = ChannelStep * qMax(0, insertingCombo(madiPort)->currentIndex());
    const int extracted = ChannelStep * qMax(0, extractingCombo(madiPort)->currentIndex());
    port->sendOptocoreChannelCounts(uchar(madiPort), uchar(inserted), uchar(extracted));
}

QComboBox *OptocorePanel::insertingCombo(int madiPort) const
{
    return madiPort == PortA ? ui->insertingComboBox : ui->insertingBComboBox;
}

QComboBox *OptocorePanel::extractingCombo(int madiPort) const
{
    return madiPort == PortA ? ui->extractingComboBox : ui->extractingBComboBox;
}

} // namespace EMS
