#include "history/sloteventrecorder.h"

#include "history/eventhistory.h"
#include "slot/slotcontroller.h"
#include "update/kipupgrader.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

namespace EMS {

using Kind = SlotEvent::Kind;
using Severity = SlotEvent::Severity;

namespace {

QString serialErrorText(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return SlotEventRecorder::tr("device not found");
    case QSerialPort::PermissionError: return SlotEventRecorder::tr("permission denied, or another program holds it");
    case QSerialPort::OpenError: return SlotEventRecorder::tr("already open");
    case QSerialPort::ResourceError: return SlotEventRecorder::tr("the adapter went away");
    case QSerialPort::ReadError: return SlotEventRecorder::tr("read error");
    case QSerialPort::WriteError: return SlotEventRecorder::tr("write error");
    case QSerialPort::TimeoutError: return SlotEventRecorder::tr("timeout");
    case QSerialPort::NotOpenError: return SlotEventRecorder::tr("not open");
    default: return SlotEventRecorder::tr("error %1").arg(int(error));
    }
}

// The link is gone (not just one refused request): the card is out of reach.
bool linkLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError
           || error == QSerialPort::WriteError || error == QSerialPort::DeviceNotFoundError;
}

QString railName(int nominalVolts)
{
    return nominalVolts > 0 ? QStringLiteral("+%1 V").arg(nominalVolts)
                            : QStringLiteral("\u2212%1 V").arg(-nominalVolts);
}

} // namespace

SlotEventRecorder::SlotEventRecorder(SlotController *slot, EventHistory *history, QObject *parent)
    : QObject(parent), controller(slot), history(history), now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    cardType = controller->cardType();
    firmwareVersion = controller->firmwareVersion();
    fpgaVersion = controller->fpgaVersion();
    locks = controller->lockStates();
    syncSource = controller->syncSource().toUpper();
    sampleRate = controller->sampleRate();
    KipPort *port = controller->cardPort();
    connected = port->isConnectionOpen();

    connect(controller, &SlotController::cardTypeShown, this, &SlotEventRecorder::cardTypeChanged);
    connect(controller, &SlotController::hardwareStatusShown, this, &SlotEventRecorder::hardwareStatusShown);
    connect(controller, &SlotController::lockStateChanged, this, &SlotEventRecorder::lockStateChanged);
    connect(controller, &SlotController::syncSourceChanged, this, &SlotEventRecorder::syncSourceChanged);
    connect(controller, &SlotController::sampleRateChanged, this, &SlotEventRecorder::sampleRateChanged);
    connect(controller, &SlotController::linkStateChanged, this, &SlotEventRecorder::linkStateChanged);
    connect(controller, &SlotController::updatingChanged, this, &SlotEventRecorder::updatingChanged);
    connect(controller, &SlotController::updateAbandoned, this, &SlotEventRecorder::updateAbandoned);
    connect(controller, &SlotController::upgraderReplaced, this, &SlotEventRecorder::watchUpgrader);
    connect(port, &KipPort::connectedChanged, this, &SlotEventRecorder::connectedChanged);
    connect(port, &KipPort::serialPortError, this, &SlotEventRecorder::serialPortError);
    connect(port, &KipPort::rackVoltageChanged, this, &SlotEventRecorder::rackVoltageChanged);
    connect(port, &KipPort::statusMessage, this, [this](const QString &text) { lastStatusText = text; });
    watchUpgrader(controller->upgrader());
}

void SlotEventRecorder::setTemperatureLimit(int celsius)
{
    tempLimit = celsius;
    checkTemperature();
}

void SlotEventRecorder::record(Kind kind, Severity severity, const QString &text)
{
    if (!history)
        return;
    SlotEvent event;
    event.timeMs = now();
    event.slot = controller->slotIndex();
    event.kind = kind;
    event.severity = severity;
    event.text = text;
    history->record(event);
}

// ---------------------------------------------------------------------------------
// The card

void SlotEventRecorder::cardTypeChanged(KipPort::KipCardType type)
{
    const KipPort::KipCardType before = cardType;
    cardType = type;
    if (type == before)
        return;
    const QString name = SlotController::cardDisplayName(type);
    const QString beforeName = SlotController::cardDisplayName(before);
    if (type == KipPort::NoCard) {
        // With the port open the card stopped answering: it left its slot, or the box
        // went off. With the port closed the link went, and the link says why.
        if (controller->cardPort()->isConnectionOpen())
            record(Kind::Card, Severity::Alarm, tr("%1 card removed: no answer").arg(beforeName));
        else
            record(Kind::Card, Severity::Warning, tr("%1 card out of reach: port closed").arg(beforeName));
        firmwareVersion = 0;
        fpgaVersion.clear();
        temperatureReading = Reading::Normal;
        railReadings.clear();
        return;
    }
    firmwareVersion = controller->firmwareVersion();
    fpgaVersion = controller->fpgaVersion();
    if (before == KipPort::NoCard) {
        record(Kind::Card, Severity::Info,
               tr("%1 card found (firmware %2, FPGA %3)").arg(name).arg(firmwareVersion).arg(fpgaVersion));
    } else {
        railReadings.clear();
        record(Kind::Card, Severity::Warning, tr("Card type changed from %1 to %2").arg(beforeName, name));
    }
}

void SlotEventRecorder::hardwareStatusShown()
{
    if (cardType == KipPort::NoCard)
        return;
    const int firmware = controller->firmwareVersion();
    if (firmware != 0 && firmware != firmwareVersion) {
        record(Kind::Card, Severity::Info, tr("Firmware version changed from %1 to %2").arg(firmwareVersion).arg(firmware));
        firmwareVersion = firmware;
    }
    const QString fpga = controller->fpgaVersion();
    if (!fpga.isEmpty() && fpga != fpgaVersion) {
        record(Kind::Card, Severity::Info, tr("FPGA version changed from %1 to %2").arg(fpgaVersion, fpga));
        fpgaVersion = fpga;
    }
    checkTemperature();
}

void SlotEventRecorder::checkTemperature()
{
    if (cardType == KipPort::NoCard || controller->firmwareVersion() == 0)
        return;
    const int celsius = controller->temperature();
    Reading reading = temperatureReading;
    if (celsius > PlausibleTemperatureMax)
        reading = Reading::Implausible;
    else if (celsius > tempLimit)
        reading = Reading::OutOfRange;
    else if (temperatureReading == Reading::Implausible || celsius <= tempLimit - TemperatureHysteresis)
        reading = Reading::Normal;
    if (reading == temperatureReading)
        return;
    temperatureReading = reading;
    switch (reading) {
    case Reading::Implausible:
        record(Kind::Health, Severity::Warning, tr("Card reports an implausible temperature: raw value %1").arg(celsius));
        break;
    case Reading::OutOfRange:
        record(Kind::Health, Severity::Alarm, tr("Temperature %1 °C, above the limit of %2 °C").arg(celsius).arg(tempLimit));
        break;
    case Reading::Normal:
        record(Kind::Health, Severity::Info, tr("Temperature back to %1 °C").arg(celsius));
        break;
    }
}

void SlotEventRecorder::rackVoltageChanged(int madiPort, int psu, int nominalVolts, float voltage)
{
    if (voltage == 0.0f)
        return; // a supply that is not fitted reports nothing
    const QString where = tr("Rack on %1, PSU %2, %3 rail").arg(inputName(madiPort)).arg(psu + 1).arg(railName(nominalVolts));
    const int key = (madiPort & 0xff) << 16 | (psu & 0xff) << 8 | (nominalVolts & 0xff);
    const Reading before = railReadings.value(key, Reading::Normal);
    Reading reading = Reading::Normal;
    const bool knownRail = nominalVolts == 5 || nominalVolts == 7 || nominalVolts == 15 || nominalVolts == -15;
    if (!knownRail || !std::isfinite(voltage) || (psu != 0 && psu != 1) || (madiPort != 0 && madiPort != 1))
        reading = Reading::Implausible;
    else if (std::abs(std::abs(double(voltage)) - std::abs(nominalVolts)) > RailTolerance * std::abs(nominalVolts))
        reading = Reading::OutOfRange;
    if (reading == before)
        return;
    railReadings.insert(key, reading);
    const QString volts = QString::number(double(voltage), 'f', 1);
    switch (reading) {
    case Reading::Implausible:
        record(Kind::Health, Severity::Warning,
               tr("Rack supply report not understood: port %1, PSU %2, rail %3 V, raw value %4 V")
                   .arg(madiPort).arg(psu).arg(nominalVolts).arg(double(voltage)));
        break;
    case Reading::OutOfRange:
        record(Kind::Health, Severity::Alarm, tr("%1 at %2 V, outside ±10 %").arg(where, volts));
        break;
    case Reading::Normal:
        record(Kind::Health, Severity::Info, tr("%1 back to %2 V").arg(where, volts));
        break;
    }
}

// ---------------------------------------------------------------------------------
// Clock and lock

QString SlotEventRecorder::inputName(int input) const
{
    if (KipPort::isDualMadi(cardType) || cardType == KipPort::NoCard)
        return input == 0 ? tr("MADI A") : input == 1 ? tr("MADI B") : tr("input %1").arg(input + 1);
    if (input == 0)
        return SlotController::cardDisplayName(cardType);
    return tr("%1 input %2").arg(SlotController::cardDisplayName(cardType)).arg(input + 1);
}

bool SlotEventRecorder::clocksFrom(int input) const
{
    if (controller->slotIndex() != 0)
        return false;
    // The sync source names the input in the card's words ("MADI A", "OPTOCORE"). A card
    // in automatic mode may move its clock off an input in the same breath as it reports
    // the lock lost: the source it had until a moment ago counts too.
    const QString name = inputName(input).toUpper();
    if (syncSource == name)
        return true;
    return previousSyncSource == name && now() - syncSourceChangedMs <= EventHistory::FoldWindowMs;
}

void SlotEventRecorder::lockStateChanged(int input, SyncLockState state)
{
    const SyncLockState before = locks.value(input, SyncUnknown);
    locks.insert(input, state);
    if (state == before)
        return;
    const QString name = inputName(input);
    if (state == SyncUnlocked && before == SyncLocked) {
        if (clocksFrom(input))
            record(Kind::Clock, Severity::Alarm, tr("%1 lost lock: the box's clock source").arg(name));
        else
            record(Kind::Clock, Severity::Warning, tr("%1 lost lock").arg(name));
    } else if (state == SyncUnlocked && before == SyncUnknown) {
        record(Kind::Clock, Severity::Warning, tr("%1 not locked").arg(name));
    } else if (state == SyncLocked && before == SyncUnlocked) {
        record(Kind::Clock, Severity::Info, tr("%1 locked again").arg(name));
    }
}

void SlotEventRecorder::syncSourceChanged(const QString &source)
{
    if (source == syncSource)
        return;
    const QString before = syncSource;
    previousSyncSource = before;
    syncSource = source;
    syncSourceChangedMs = now();
    // Empty while the slot has no card: that is the card's event, not the clock's.
    if (before.isEmpty() || source.isEmpty())
        return;
    const bool freeRunning = controller->slotIndex() == 0 && source == QLatin1String("FREE-RUN");
    record(Kind::Clock, freeRunning ? Severity::Warning : Severity::Info,
           tr("Sync source changed from %1 to %2").arg(before, source));
}

void SlotEventRecorder::sampleRateChanged(int rate)
{
    if (rate == sampleRate)
        return;
    const int before = sampleRate;
    sampleRate = rate;
    if (before != 0 && rate != 0)
        record(Kind::Clock, Severity::Info, tr("Sample rate changed from %1 Hz to %2 Hz").arg(before).arg(rate));
}

// ---------------------------------------------------------------------------------
// The serial link

void SlotEventRecorder::connectedChanged(bool isConnected)
{
    const QString portName = controller->cardPort()->serialPortName();
    const bool before = connected;
    connected = isConnected;
    if (isConnected) {
        failedPortName.clear();
        record(Kind::Link, Severity::Info, tr("Port %1 opened").arg(portName));
    } else if (before) {
        record(Kind::Link, Severity::Info, tr("Port %1 closed").arg(portName));
    } else if (portName != failedPortName) {
        // A slot retries a port it cannot open; the first refusal says it all.
        failedPortName = portName;
        record(Kind::Link, Severity::Warning,
               tr("Could not open %1: busy (the other slot or another program holds it) or not available").arg(portName));
    }
}

void SlotEventRecorder::serialPortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    const QString portName = controller->cardPort()->serialPortName();
    if (linkLost(error))
        record(Kind::Link, Severity::Alarm, tr("Link lost on %1: %2").arg(portName, serialErrorText(error)));
    else
        record(Kind::Link, Severity::Warning, tr("Serial error on %1: %2").arg(portName, serialErrorText(error)));
}

void SlotEventRecorder::linkStateChanged(KipPort::LinkState state)
{
    if (state == KipPort::LinkBootLoader)
        record(Kind::Link, Severity::Warning, tr("The card answers from its boot loader, without its program"));
}

// ---------------------------------------------------------------------------------
// Firmware updates

void SlotEventRecorder::watchUpgrader(KipUpgrader *upgrader)
{
    if (!upgrader)
        return;
    connect(upgrader, &KipUpgrader::startARMUpdate, this, [this, upgrader](const QString &filePath) {
        updateStageStarted(tr("Code"), filePath, QString::number(upgrader->codeVersion()));
    });
    connect(upgrader, &KipUpgrader::startFPGAUpdate, this, [this, upgrader](const QString &filePath) {
        updateStageStarted(tr("FPGA"), filePath, upgrader->fpgaVersion());
    });
    connect(upgrader, &KipUpgrader::updateFinished, this, &SlotEventRecorder::updateFinished);
}

void SlotEventRecorder::updateStageStarted(const QString &what, const QString &filePath, const QString &version)
{
    if (!updateRunning) {
        updateRunning = true;
        updateStartMs = now();
    }
    record(Kind::Update, Severity::Info,
           tr("%1 update started: %2, version %3").arg(what, QFileInfo(filePath).fileName(), version));
}

QString SlotEventRecorder::durationText() const
{
    return QString::number((now() - updateStartMs) / 1000.0, 'f', 1);
}

void SlotEventRecorder::updateFinished(bool success)
{
    if (!updateRunning) {
        // Refused before it began: the upgrader has just said why.
        if (!success)
            record(Kind::Update, Severity::Warning, tr("Update not started: %1").arg(lastStatusText));
        return;
    }
    updateRunning = false;
    if (success)
        record(Kind::Update, Severity::Info, tr("Update successful after %1 s").arg(durationText()));
    else
        record(Kind::Update, Severity::Warning, tr("Update failed after %1 s").arg(durationText()));
}

void SlotEventRecorder::updateAbandoned()
{
    if (optocoreUpdateRunning) {
        optocoreUpdateRunning = false;
        record(Kind::Update, Severity::Warning,
               tr("Optocore module update failed after %1 s: no progress").arg(durationText()));
        return;
    }
    if (!updateRunning)
        return;
    updateRunning = false;
    record(Kind::Update, Severity::Warning, tr("Update failed after %1 s: no progress").arg(durationText()));
}

void SlotEventRecorder::updatingChanged(bool updating)
{
    if (updating && controller->isOptocoreUpdate() && !optocoreUpdateRunning) {
        optocoreUpdateRunning = true;
        updateStartMs = now();
        record(Kind::Update, Severity::Info, tr("Optocore module update started"));
    } else if (!updating && optocoreUpdateRunning) {
        // A watchdog's end says so right after this signal: wait for it before calling
        // the update ended.
        const QString duration = durationText();
        QMetaObject::invokeMethod(this, [this, duration]() {
            if (!optocoreUpdateRunning)
                return;
            optocoreUpdateRunning = false;
            record(Kind::Update, Severity::Info, tr("Optocore module update ended after %1 s").arg(duration));
        }, Qt::QueuedConnection);
    }
}

} // namespace EMS
