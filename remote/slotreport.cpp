#include "remote/slotreport.h"

#include "slot/slotcontroller.h"

namespace EMS {
namespace SlotReport {

QString slotName(int slotIndex)
{
    return QStringLiteral("KIP %1").arg(slotIndex + 1);
}

QString oscSlotName(int slotIndex)
{
    return QStringLiteral("kip%1").arg(slotIndex + 1);
}

QString inputName(int input)
{
    if (input >= 0 && input < 26)
        return QString(QChar(QLatin1Char('a').unicode() + input));
    return QString::number(input);
}

QString lockName(SyncLockState state)
{
    switch (state) {
    case SyncLocked: return QStringLiteral("locked");
    case SyncUnlocked: return QStringLiteral("unlocked");
    default: return QStringLiteral("unknown");
    }
}

QString linkStateName(KipPort::LinkState state)
{
    switch (state) {
    case KipPort::LinkConnected: return QStringLiteral("connected");
    case KipPort::LinkBootLoader: return QStringLiteral("boot-loader");
    case KipPort::LinkProbing: return QStringLiteral("probing");
    default: return QStringLiteral("closed");
    }
}

namespace {
// The device the slot talks through; empty while it has none (the card port's name is
// then not a device).
QString deviceOf(const SlotController &slot)
{
    if (slot.fixedPortName().isEmpty() && slot.selectedPort() == 0)
        return QString();
    return slot.cardPort()->serialPortName();
}
} // namespace

QJsonObject statusJson(const SlotController &slot)
{
    QJsonObject object;
    object.insert(QStringLiteral("slot"), slot.slotIndex() + 1);
    object.insert(QStringLiteral("name"), slotName(slot.slotIndex()));
    object.insert(QStringLiteral("port"), deviceOf(slot));
    object.insert(QStringLiteral("link"), linkStateName(slot.linkState()));
    const bool card = slot.cardType() != KipPort::NoCard;
    object.insert(QStringLiteral("cardType"), card ? SlotController::cardDisplayName(slot.cardType()) : QString());
    object.insert(QStringLiteral("cardCode"), int(slot.cardType()));
    object.insert(QStringLiteral("firmwareVersion"), slot.firmwareVersion());
    object.insert(QStringLiteral("fpgaVersion"), slot.fpgaVersion());
    object.insert(QStringLiteral("temperature"), slot.temperature());
    object.insert(QStringLiteral("sampleRate"), slot.sampleRate());
    object.insert(QStringLiteral("syncSource"), slot.syncSource().toUpper());
    object.insert(QStringLiteral("syncAuto"), card && slot.isSyncAuto());
    QJsonObject locks;
    const QMap<int, SyncLockState> states = slot.lockStates();
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        locks.insert(inputName(it.key()), lockName(it.value()));
    object.insert(QStringLiteral("locks"), locks);
    return object;
}

QStringList statusLines(const SlotController &slot)
{
    const QString name = slotName(slot.slotIndex());
    const QString port = deviceOf(slot);
    QStringList lines;
    if (slot.cardType() == KipPort::NoCard) {
        lines << QStringLiteral("%1  no card (port %2, link %3)")
                     .arg(name, port.isEmpty() ? QStringLiteral("none") : port, linkStateName(slot.linkState()));
        return lines;
    }
    lines << QStringLiteral("%1  %2 on %3, link %4")
                 .arg(name, SlotController::cardDisplayName(slot.cardType()), port, linkStateName(slot.linkState()));
    lines << QStringLiteral("  firmware %1, FPGA %2, %3 °C")
                 .arg(slot.firmwareVersion())
                 .arg(slot.fpgaVersion())
                 .arg(slot.temperature());
    QString sync = slot.syncSource().toUpper();
    if (sync.isEmpty())
        sync = QStringLiteral("-");
    else if (slot.isSyncAuto())
        sync += QStringLiteral(" (auto)");
    lines << QStringLiteral("  sample rate %1 Hz, sync source %2").arg(slot.sampleRate()).arg(sync);
    QStringList locks;
    const QMap<int, SyncLockState> states = slot.lockStates();
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        locks << QStringLiteral("%1 %2").arg(inputName(it.key()), lockName(it.value()));
    lines << QStringLiteral("  lock: %1").arg(locks.isEmpty() ? QStringLiteral("-") : locks.join(QStringLiteral(", ")));
    return lines;
}

} // namespace SlotReport
} // namespace EMS
