#pragma once

#include "link/kipport.h"
#include "slot/serialportlister.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class LogDialog;

namespace Ui {
class MainWindow;
}

namespace EMS {
class EventHistory;
class EventLogFile;
class EventsWindow;
class KipForm;
class SlotEventRecorder;
struct SlotEvent;
}

// The controller's one window: the two slots of the box side by side under a status
// strip that shows the master card's clock and each slot's MADI receive locks.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Two slots reporting within this time share the status bar.
    static constexpr qint64 CombinedStatusMs = 999;

    explicit MainWindow(QWidget *parent = nullptr,
                        EMS::SerialPortLister portLister = EMS::systemSerialPorts);
    ~MainWindow() override;

    EMS::KipForm *slotForm(int slot) const { return forms[slot]; }
    LogDialog *logDialog(int slot) const { return logDialogs[slot]; }

    // The clock the status bar rule reads; replaceable so the rule can be checked
    // without waiting.
    void setClock(std::function<QDateTime()> clock) { now = std::move(clock); }

    // What happened in both slots, kept while the program runs and written to the
    // event log file.
    EMS::EventHistory *eventHistory() const { return history; }
    EMS::SlotEventRecorder *eventRecorder(int slot) const { return recorders[slot]; }
    EMS::EventLogFile *eventLogFile() const { return logFile; }
    // Null until first opened.
    EMS::EventsWindow *eventsWindow() const { return events; }
    // The red alarm in the status bar; hidden while no alarm waits for the user.
    QLabel *alarmLabel() const { return alarm; }
    int unacknowledgedAlarms() const { return alarmCount; }

    // Asked before the window closes while an update runs: true closes. A question box
    // unless replaced (by tests).
    void setCloseConfirmation(std::function<bool(const QString &question)> confirm) { confirmClose = std::move(confirm); }
    // The settings key of the card temperature that raises an alarm, in °C.
    static const char *temperatureLimitKey();

public slots:
    void kip1StatusMessage(QString message);
    void kip2StatusMessage(QString message);
    void cardTypeChanged(int slotNumber, EMS::KipPort::KipCardType cardType, QString cardName);
    void sampleRateChanged(int sampleRate);
    void syncSourceChanged(QString description);
    void masterClockLockedChanged(int port, EMS::SyncLockState lockState);
    void slaveClockLockedChanged(int port, EMS::SyncLockState lockState);
    void showEventsWindow();
    // Opens (or brings to the front) the slot's serial log.
    void openLogDialog(int slot);
    // The user has seen the alarms: the status bar lets go of them.
    void acknowledgeAlarms();

private slots:
    void on_masterLogCheckBox_clicked(bool checked);
    void on_slaveLogCheckBox_clicked(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    EMS::KipForm *createSlot(int slot);
    void createEventHistory();
    void createActions();
    void showStripMenu(const QPoint &position);
    void showAlarm(const EMS::SlotEvent &event);
    void checkAdapters();
    QString statusText(int slot, const QString &message);
    void showStatus(int slot);
    void setLockDisplay(QLabel *label, int lockState);
    void showLogDialog(int slot, bool show);
    void readSettings();
    void writeSettings();

    Ui::MainWindow *ui;
    EMS::KipForm *forms[2] = {nullptr, nullptr};
    LogDialog *logDialogs[2] = {nullptr, nullptr};
    QString statusTexts[2];
    QDateTime lastStatusTimes[2];
    EMS::SerialPortLister portLister;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    EMS::EventHistory *history = nullptr;
    EMS::SlotEventRecorder *recorders[2] = {nullptr, nullptr};
    EMS::EventLogFile *logFile = nullptr;
    EMS::EventsWindow *events = nullptr;
    QLabel *alarm = nullptr;
    int alarmCount = 0;
    QAction *eventsAction = nullptr;
    QAction *logActions[2] = {nullptr, nullptr};
    // The no-adapter hint is shown once each time the last adapter goes.
    bool adapterHintShown = false;
    // The port whose refusal has had its hint, per slot: said once, not every retry.
    QString busyHintPort[2];
    std::function<bool(const QString &)> confirmClose;
};
