#include "ui/kipform.h"

#include "ui/aespanel.h"
#include "ui/cardpanel.h"
#include "ui/hydrapanel.h"
#include "ui/madipanel.h"
#include "ui/optocorepanel.h"
#include "ui_kipform.h"

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
    qDebug().noquote() << QStringLiteral("KIP %1 SerialPortError %2").arg(slotIndex() + 1).arg(int(error));
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
        if (shown != KipPort::NoCard)
            emit port->statusMessage(tr("%1 ready").arg(name));
    }
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
}

} // namespace EMS
