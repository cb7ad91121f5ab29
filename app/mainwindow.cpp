#include "app/mainwindow.h"

#include "common/logcategories.h"
#include "history/eventhistory.h"
#include "history/eventlogfile.h"
#include "history/sloteventrecorder.h"
#include "link/bootloaderupdater.h"
#include "link/kipconnection.h"
#include "slot/slotcontroller.h"
#include "ui/eventswindow.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>

namespace {

const char *const PositionKey = "SablefoldController/Position";
const char *const SerialPortKey = "KIP/SerialPort";
const char *const TemperatureLimitKey = "Events/TemperatureLimit";

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

// A USB serial adapter of any make: what the slots choose from (see SlotController).
bool anyUsbSerialAdapter(const QList<EMS::SerialPortEntry> &ports)
{
    return std::any_of(ports.cbegin(), ports.cend(), [](const EMS::SerialPortEntry &entry) {
        return entry.manufacturer == QLatin1String("FTDI") || entry.description.startsWith(QLatin1String("USB"));
    });
}

// The part of a translated "%1" text before the argument, and the part after.
QPair<QString, QString> around(const QString &text)
{
    return {text.section(QLatin1String("%1"), 0, 0), text.section(QLatin1String("%1"), 1)};
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

    createEventHistory();
    createActions();
    for (EMS::KipForm *form : forms)
        connect(form->slotController(), &EMS::SlotController::portsListed, this, &MainWindow::checkAdapters);
    checkAdapters();

    readSettings();
}

const char *MainWindow::temperatureLimitKey()
{
    return TemperatureLimitKey;
}

void MainWindow::createEventHistory()
{
    history = new EMS::EventHistory(this);
    logFile = new EMS::EventLogFile(EMS::EventLogFile::defaultFolder(), this);
    connect(history, &EMS::EventHistory::eventRecorded, logFile, &EMS::EventLogFile::append);
    const int limit = openSettings()
                          .value(QLatin1String(TemperatureLimitKey), EMS::SlotEventRecorder::DefaultTemperatureLimit)
                          .toInt();
    for (int slot = 0; slot < 2; ++slot) {
        recorders[slot] = new EMS::SlotEventRecorder(forms[slot]->slotController(), history, this);
        recorders[slot]->setTemperatureLimit(limit);
    }

    // An alarm stays in the status bar, in red, until the user clicks it; the slots'
    // messages go on beside it under their usual rules.
    alarm = new QLabel(this);
    alarm->setObjectName(QStringLiteral("alarmLabel"));
    alarm->setStyleSheet(QStringLiteral("background-color:#C80000;color:#FFFFFF;padding:0px 4px"));
    QFont bold = alarm->font();
    bold.setBold(true);
    alarm->setFont(bold);
    alarm->setToolTip(tr("Click to acknowledge; the Events window (Ctrl+E) lists every alarm"));
    alarm->hide();
    ui->statusBar->addPermanentWidget(alarm);
    connect(history, &EMS::EventHistory::eventRecorded, this, [this](const EMS::SlotEvent &event) {
        if (event.severity == EMS::SlotEvent::Severity::Alarm)
            showAlarm(event);
    });
}

void MainWindow::createActions()
{
    eventsAction = new QAction(tr("Events..."), this);
    eventsAction->setObjectName(QStringLiteral("eventsAction"));
    eventsAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_E));
    connect(eventsAction, &QAction::triggered, this, &MainWindow::showEventsWindow);
    addAction(eventsAction);
    for (int slot = 0; slot < 2; ++slot) {
        logActions[slot] = new QAction(tr("KIP %1 serial log...").arg(slot + 1), this);
        logActions[slot]->setObjectName(QStringLiteral("logAction%1").arg(slot + 1));
        logActions[slot]->setShortcut(QKeySequence(Qt::CTRL + (slot == 0 ? Qt::Key_1 : Qt::Key_2)));
        connect(logActions[slot], &QAction::triggered, this, [this, slot] { openLogDialog(slot); });
        addAction(logActions[slot]);
    }
    // The labels of the top strip lie on the central widget beside the strip's frame.
    ui->centralWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->centralWidget, &QWidget::customContextMenuRequested, this, &MainWindow::showStripMenu);
}

void MainWindow::showStripMenu(const QPoint &position)
{
    if (!ui->frame->geometry().contains(position))
        return;
    QMenu menu(this);
    menu.addAction(eventsAction);
    menu.addSeparator();
    menu.addAction(logActions[0]);
    menu.addAction(logActions[1]);
    menu.exec(ui->centralWidget->mapToGlobal(position));
}

void MainWindow::showEventsWindow()
{
    if (!events)
        events = new EMS::EventsWindow(history, logFile->filePath(), this);
    events->show();
    events->raise();
    events->activateWindow();
}

void MainWindow::openLogDialog(int slot)
{
    if (slot != 0 && slot != 1)
        return;
    if (!logDialogs[slot])
        showLogDialog(slot, true);
    logDialogs[slot]->show();
    logDialogs[slot]->raise();
    logDialogs[slot]->activateWindow();
}

void MainWindow::showAlarm(const EMS::SlotEvent &event)
{
    ++alarmCount;
    QString text = tr("KIP %1 ALARM %2: %3")
                       .arg(event.slot + 1)
                       .arg(QDateTime::fromMSecsSinceEpoch(event.timeMs).toString(QStringLiteral("HH:mm:ss")), event.text);
    if (alarmCount > 1)
        text += tr(" (%1 more in Events)").arg(alarmCount - 1);
    // Most of the bar at most: the slots' own messages keep the rest. The whole text is
    // in the tooltip and the Events window.
    const int room = width() * 3 / 4;
    alarm->setMaximumWidth(room);
    alarm->setText(alarm->fontMetrics().elidedText(text, Qt::ElideRight, room - 12));
    alarm->setToolTip(text + QLatin1Char('\n') + tr("Click to acknowledge; the Events window (Ctrl+E) lists every alarm"));
    alarm->show();
}

void MainWindow::acknowledgeAlarms()
{
    alarmCount = 0;
    alarm->clear();
    alarm->hide();
}

void MainWindow::checkAdapters()
{
    bool found = false;
    for (const EMS::KipForm *form : forms) {
        const EMS::SlotController *slot = form->slotController();
        found = found || anyUsbSerialAdapter(slot->listedPorts()) || !slot->fixedPortName().isEmpty()
                || form->cardPort()->isConnectionOpen();
    }
    if (found) {
        adapterHintShown = false;
        return;
    }
    if (adapterHintShown)
        return;
    adapterHintShown = true;
    ui->statusBar->showMessage(tr("No USB serial adapter found: connect the box's two USB cables to this computer; "
                                  "the slots connect by themselves. To try the controller without the box, start "
                                  "sablefold-demo."));
}

QString MainWindow::statusText(int slot, const QString &message)
{
    // The slot's form reports while it is being made.
    if (!forms[slot])
        return message;
    EMS::KipPort *port = forms[slot]->cardPort();
    EMS::SlotController *controller = forms[slot]->slotController();
    // The boot-loader probe of every new connection is not an update: its complaints
    // about a card that answers with its program do not belong in the status bar.
    if (!controller->isUpdating() && port->linkState() == EMS::KipPort::LinkProbing) {
        const auto invalid = around(Common::Updater::tr("Updater received %1 invalid bytes:"));
        const auto aborted = around(Common::Updater::tr("Update aborted: received %1 in reply to %2"));
        if ((message.startsWith(invalid.first) && message.contains(invalid.second))
            || message == Common::Updater::tr("Update aborted: too many retries")
            || message.startsWith(aborted.first)) {
            qCDebug(lcUi).noquote() << QStringLiteral("KIP %1 probe: %2").arg(slot + 1).arg(message);
            return QString();
        }
    }
    // A port that will not open is retried; the first refusal says why it may be.
    const auto refused = around(EMS::KipConnection::tr("Could not open %1, config problem reported"));
    const QString portName = port->serialPortName();
    if (message == refused.first + portName + refused.second) {
        if (busyHintPort[slot] != portName) {
            busyHintPort[slot] = portName;
            return message + tr(" - the other slot or another program holds the port");
        }
    } else if (port->isConnectionOpen()) {
        busyHintPort[slot].clear();
    }
    return message;
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
    message = statusText(0, message);
    if (message.isEmpty())
        return;
    statusTexts[0] = tr("KIP 1 ") + message;
    showStatus(0);
}

void MainWindow::kip2StatusMessage(QString message)
{
    message = statusText(1, message);
    if (message.isEmpty())
        return;
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
    // A click on the status bar clears its message, and lets go of the alarm.
    if (ui->statusBar->y() < qRound(event->localPos().y())) {
        ui->statusBar->clearMessage();
        acknowledgeAlarms();
    }
    QMainWindow::mousePressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QStringList updating;
    for (int slot = 0; slot < 2; ++slot) {
        if (forms[slot]->slotController()->isUpdating())
            updating << tr("KIP %1").arg(slot + 1);
    }
    if (!updating.isEmpty()) {
        const QString question =
            tr("%1: a firmware update is running. Closing now stops it: the card may be left in its boot loader "
               "without its program. The controller finds such a card at its next start and loads its code again. "
               "Close anyway?").arg(updating.join(tr(" and ")));
        const bool close = confirmClose ? confirmClose(question)
                                        : QMessageBox::question(this, windowTitle(), question,
                                                                QMessageBox::Close | QMessageBox::Cancel,
                                                                QMessageBox::Cancel) == QMessageBox::Close;
        if (!close) {
            event->ignore();
            return;
        }
        for (int slot = 0; slot < 2; ++slot) {
            if (forms[slot]->slotController()->isUpdating())
                recorders[slot]->record(EMS::SlotEvent::Kind::Update, EMS::SlotEvent::Severity::Warning,
                                        tr("Window closed during the update: the card may be left in its boot loader, "
                                           "to be found and loaded at the next start"));
        }
    }
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
