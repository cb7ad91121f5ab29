#pragma once

#include "link/kipport.h"
#include "slot/serialportlister.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>

#include <functional>

class QLabel;
class LogDialog;

namespace Ui {
class MainWindow;
}

namespace EMS {
class KipForm;
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

public slots:
    void kip1StatusMessage(QString message);
    void kip2StatusMessage(QString message);
    void cardTypeChanged(int slotNumber, EMS::KipPort::KipCardType cardType, QString cardName);
    void sampleRateChanged(int sampleRate);
    void syncSourceChanged(QString description);
    void masterClockLockedChanged(int port, EMS::SyncLockState lockState);
    void slaveClockLockedChanged(int port, EMS::SyncLockState lockState);

private slots:
    void on_masterLogCheckBox_clicked(bool checked);
    void on_slaveLogCheckBox_clicked(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    EMS::KipForm *createSlot(int slot);
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
};
