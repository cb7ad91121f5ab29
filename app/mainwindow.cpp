#include "app/mainwindow.h"

#include "common/logcategories.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>

namespace {

const char *const PositionKey = "SablefoldController/Position";
const char *const SerialPortKey = "KIP/SerialPort";

QSettings openSettings()
{
    return QSettings(QStringLiteral("Quorix"), QStringLiteral("Sablefold"));
}

// Enough of the window's top edge lies on some screen to grab it with the mouse.
bool titleBarInSight(const QRect &window)
{
    const QRect titleBar(window.topLeft(), QSize(window.width(), 30));
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect seen = screen->availableGeometry().intersected(titleBar);
        if (seen.width() >= 100 && seen.height() >= 10)
            return true;
    }
    return false;
}

} // namespace

MainWindow::MainWindow(QWidget *parent, EMS::SerialPortLister portLister)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , portLister(std::move(portLister))
{
    ui->setupUi(this);
    // Nothing in the program shows the log boxes; their slots stay for diagnostics.
    ui->masterLogCheckBox->hide();
    ui->slaveLogCheckBox->hide();

    forms[0] = createSlot(0);
    forms[0]->move(6, 72);
    forms[1] = createSlot(1);
    forms[1]->move(forms[1]->width() + 15, 72);

    cardTypeChanged(0, EMS::KipPort::NoCard, QString());
    cardTypeChanged(1, EMS::KipPort::NoCard, QString());

    for (EMS::KipForm *form : forms)
        connect(form, &EMS::KipForm::cardTypeChanged, this, &MainWindow::cardTypeChanged);
    // The strip's clock always shows the master card's.
    connect(forms[0], &EMS::KipForm::sampleRateChanged, this, &MainWindow::sampleRateChanged);
    connect(forms[0], &EMS::KipForm::syncSourceChanged, this, &MainWindow::syncSourceChanged);
    connect(forms[0], &EMS::KipForm::syncLockStateChanged, this, &MainWindow::masterClockLockedChanged);
    connect(forms[1], &EMS::KipForm::syncLockStateChanged, this, &MainWindow::slaveClockLockedChanged);

    readSettings();
}

MainWindow::~MainWindow()
{
    delete ui;
}

EMS::KipForm *MainWindow::createSlot(int slot)
{
    auto *port = new EMS::KipPort(this, slot, nullptr);
    if (slot == 0)
        connect(port, &EMS::KipPort::statusMessage, this, &MainWindow::kip1StatusMessage);
    else
        connect(port, &EMS::KipPort::statusMessage, this, &MainWindow::kip2StatusMessage);
    auto *form = new EMS::KipForm(port, this, portLister);
    form->show();
    return form;
}

void MainWindow::kip1StatusMessage(QString message)
{
    statusTexts[0] = tr("KIP 1 ") + message;
    showStatus(0);
}

void MainWindow::kip2StatusMessage(QString message)
{
    statusTexts[1] = tr("KIP 2 ") + message;
    showStatus(1);
}

void MainWindow::showStatus(int slot)
{
    const QDateTime current = now();
    // A slot that has never reported has a null time, whose distance to now reads as 0.
    const qint64 sinceOther = lastStatusTimes[1 - slot].msecsTo(current);
    if (sinceOther <= CombinedStatusMs)
        ui->statusBar->showMessage(statusTexts[0] + QStringLiteral("; ") + statusTexts[1]);
    else
        ui->statusBar->showMessage(statusTexts[slot]);
    qCDebug(lcUi).noquote() << statusTexts[slot];
    lastStatusTimes[slot] = current;
}

void MainWindow::cardTypeChanged(int slotNumber, EMS::KipPort::KipCardType cardType, QString cardName)
{
    if (slotNumber != 0 && slotNumber != 1)
        return;
    const bool master = slotNumber == 0;
    QLabel *typeLabel = master ? ui->masterTypeLabel : ui->slaveTypeLabel;
    QLabel *lockLabel = master ? ui->masterRxSyncLabel : ui->slaveRxSyncLabel;
    QLabel *madiBLabel = master ? ui->masterMadiBLabel : ui->slaveMadiBLabel;
    QLabel *madiBLockLabel = master ? ui->masterMadiBRxSyncLabel : ui->slaveMadiBRxSyncLabel;

    if (cardType == EMS::KipPort::NoCard) {
        lockLabel->hide();
    } else {
        lockLabel->show();
        // These cards report no receive lock of their own.
        if (cardType == EMS::KipPort::Adc || cardType == EMS::KipPort::Dac || cardType == EMS::KipPort::Aes)
            setLockDisplay(lockLabel, EMS::SyncUnknown);
    }

    if (EMS::KipPort::isDualMadi(cardType)) {
        typeLabel->setText(tr("MADI A"));
        typeLabel->move(master ? 50 : 495, 2);
        lockLabel->move(master ? 60 : 505, 19);
        madiBLabel->show();
        madiBLockLabel->show();
    } else {
        typeLabel->setText(cardName.toUpper());
        typeLabel->move(master ? 104 : 549, 2);
        lockLabel->move(master ? 114 : 559, 19);
        madiBLabel->hide();
        madiBLockLabel->hide();
    }

    forms[1 - slotNumber]->setOtherCardType(cardType);
}

void MainWindow::sampleRateChanged(int sampleRate)
{
    if (sampleRate == 0)
        ui->sampleRateLabel->clear();
    else
        ui->sampleRateLabel->setText(QString::number(sampleRate));
}

void MainWindow::syncSourceChanged(QString description)
{
    ui->syncSourceLabel->setText(description);
}

void MainWindow::masterClockLockedChanged(int port, EMS::SyncLockState lockState)
{
    if (port == 0)
        setLockDisplay(ui->masterRxSyncLabel, lockState);
    else if (port == 1)
        setLockDisplay(ui->masterMadiBRxSyncLabel, lockState);
}

void MainWindow::slaveClockLockedChanged(int port, EMS::SyncLockState lockState)
{
    if (port == 0)
        setLockDisplay(ui->slaveRxSyncLabel, lockState);
    else if (port == 1)
        setLockDisplay(ui->slaveMadiBRxSyncLabel, lockState);
}

void MainWindow::setLockDisplay(QLabel *label, int lockState)
{
    switch (lockState) {
    case EMS::SyncLocked:
        label->setText(tr("Rx OK"));
        label->setStyleSheet(QStringLiteral("background-color:#00C800;color:#FFFFFF;border: 1px solid #004000"));
        break;
    case EMS::SyncUnlocked:
        label->setText(tr("Rx ERR"));
        label->setStyleSheet(QStringLiteral("background-color:#C80000;color:#FFFFFF;border: 1px solid #400000"));
        break;
    case EMS::SyncUnknown:
        label->setText(tr("Rx OK"));
        label->setStyleSheet(QStringLiteral("background-color:#C0C0C0;color:#FFFFFF;border: 1px solid #404040"));
        break;
    default:
        label->setText(tr("Rx OK"));
        label->setStyleSheet(QString());
        break;
    }
}

void MainWindow::on_masterLogCheckBox_clicked(bool checked)
{
    showLogDialog(0, checked);
}

void MainWindow::on_slaveLogCheckBox_clicked(bool checked)
{
    showLogDialog(1, checked);
}

void MainWindow::showLogDialog(int slot, bool show)
{
    if (show && !logDialogs[slot]) {
        logDialogs[slot] = new LogDialog(forms[slot]->cardPort(), this);
        logDialogs[slot]->show();
    } else if (!show && logDialogs[slot]) {
        // A forgotten dialog would go on collecting its port's lines for ever.
        logDialogs[slot]->close();
        logDialogs[slot]->deleteLater();
        logDialogs[slot] = nullptr;
    }
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    // A click on the status bar clears its message.
    if (ui->statusBar->y() < qRound(event->localPos().y()))
        ui->statusBar->clearMessage();
    QMainWindow::mousePressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
}

void MainWindow::readSettings()
{
    QSettings settings = openSettings();
    QPoint position = settings.value(QLatin1String(PositionKey), QPoint(0, 0)).toPoint();

    // A position saved on a monitor that has since been removed would open the window
    // where nobody can see it, or with its title bar out of reach: fall back to the top
    // left of the primary screen.
    if (!titleBarInSight(QRect(position, frameGeometry().size()))) {
        if (const QScreen *primary = QGuiApplication::primaryScreen())
            position = primary->availableGeometry().topLeft();
    }
    move(position);

    for (int slot = 0; slot < 2; ++slot) {
        const QString name = settings.value(QLatin1String(SerialPortKey) + QString::number(slot)).toString();
        if (!name.isEmpty())
            forms[slot]->cardPort()->setSerialPortName(name);
    }
}

void MainWindow::writeSettings()
{
    QSettings settings = openSettings();
    settings.setValue(QLatin1String(PositionKey), pos());
}
