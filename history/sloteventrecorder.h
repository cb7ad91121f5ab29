#pragma once

#include "history/slotevent.h"
#include "link/kipport.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>

#include <functional>

namespace EMS {

class EventHistory;
class KipUpgrader;
class SlotController;

// Turns one slot controller's changes (and those of its card port and upgrader) into
// events in the history: the card coming and going, its versions, each input's lock,
// the clock, the card's temperature and its rack's supplies, the serial link and the
// firmware updates. It records changes, not states: a value the card repeats on every
// status makes no event.
class SlotEventRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTemperatureLimit = 70;
    // A hot card is back to normal only this far below the limit, so a card sitting at
    // the limit does not fill the history with crossings.
    static constexpr int TemperatureHysteresis = 3;
    // Above this a card's temperature byte is not a temperature.
    static constexpr int PlausibleTemperatureMax = 125;
    // A rack supply rail may stray this far from its nominal volts.
    static constexpr double RailTolerance = 0.10;

    SlotEventRecorder(EMS::SlotController *slot, EMS::EventHistory *history, QObject *parent = nullptr);

    void setTemperatureLimit(int celsius); // default 70
    int temperatureLimit() const { return tempLimit; }
    // The wall clock events are stamped with; replaceable for tests.
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }

    // The master card takes its clock from this input now (slot 0 only).
    bool clocksFrom(int input) const;
    // The name the window gives the card's input: "MADI A", or the card type for a card
    // with one input.
    QString inputName(int input) const;

    // Records an event of this slot stamped now (for what the window itself sees, such
    // as being closed during an update).
    void record(SlotEvent::Kind kind, SlotEvent::Severity severity, const QString &text);

private:
    enum class Reading { Normal, OutOfRange, Implausible };

    void cardTypeChanged(KipPort::KipCardType type);
    void hardwareStatusShown();
    void checkTemperature();
    void lockStateChanged(int input, SyncLockState state);
    void syncSourceChanged(const QString &source);
    void sampleRateChanged(int rate);
    void connectedChanged(bool connected);
    void serialPortError(QSerialPort::SerialPortError error);
    void linkStateChanged(KipPort::LinkState state);
    void rackVoltageChanged(int madiPort, int psu, int nominalVolts, float voltage);
    void watchUpgrader(KipUpgrader *upgrader);
    void updateStageStarted(const QString &what, const QString &filePath, const QString &version);
    void updateFinished(bool success);
    void updateAbandoned();
    void updatingChanged(bool updating);
    QString durationText() const;

    SlotController *controller;
    QPointer<EventHistory> history;
    std::function<qint64()> now;
    int tempLimit = DefaultTemperatureLimit;

    KipPort::KipCardType cardType = KipPort::NoCard;
    int firmwareVersion = 0;
    QString fpgaVersion;
    Reading temperatureReading = Reading::Normal;
    QMap<int, SyncLockState> locks;
    QString syncSource;
    QString previousSyncSource;
    qint64 syncSourceChangedMs = 0;
    int sampleRate = 0;
    bool connected = false;
    QString failedPortName;
    QMap<int, Reading> railReadings; // by madiPort, psu and rail
    QString lastStatusText;

    bool updateRunning = false;
    bool optocoreUpdateRunning = false;
    qint64 updateStartMs = 0;
};

} // namespace EMS
