#include "remote/oscstatepublisher.h"

#include "common/iconnection.h"
#include "common/logcategories.h"
#include "common/oscclient.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

#include <QTimer>

namespace EMS {

namespace {

int lockValue(SyncLockState state)
{
    switch (state) {
    case SyncLocked: return 1;
    case SyncUnlocked: return 0;
    default: return -1;
    }
}

} // namespace

OscStatePublisher::OscStatePublisher(Common::IConnection *connection, QObject *parent)
    : QObject(parent), connection(connection), refresh(new QTimer(this))
{
    refresh->setObjectName(QStringLiteral("oscRefreshTimer"));
    // Dashboards show a value as stale when its refresh is late; keep the rhythm exact.
    refresh->setTimerType(Qt::PreciseTimer);
    refresh->setInterval(RefreshIntervalMs);
    connect(refresh, &QTimer::timeout, this, &OscStatePublisher::publishAll);
    refresh->start();
}

QString OscStatePublisher::slotAddress(int slotIndex, const QString &leaf)
{
    return QStringLiteral("/sablefold/%1/%2").arg(SlotReport::oscSlotName(slotIndex), leaf);
}

void OscStatePublisher::addSlot(SlotController *slot)
{
    slotList.append(slot);
    const auto changed = [this, slot] { publishState(slot, false); };
    connect(slot, &SlotController::hardwareStatusShown, this, changed);
    connect(slot, &SlotController::cardTypeChanged, this, changed);
    connect(slot, &SlotController::sampleRateChanged, this, changed);
    connect(slot, &SlotController::syncSourceChanged, this, changed);
    connect(slot, &SlotController::linkStateChanged, this, changed);
    // A card that goes away takes its inputs with it: their locks become unknown, which
    // the lock map no longer lists, so the change itself is sent.
    connect(slot, &SlotController::lockStateChanged, this, [this, slot](int input, SyncLockState state) {
        publish(slotAddress(slot->slotIndex(), QStringLiteral("lock/") + SlotReport::inputName(input)),
                lockValue(state), false);
    });
    connect(slot, &SlotController::updateProgressChanged, this, [this, slot](int percent) {
        publish(slotAddress(slot->slotIndex(), QStringLiteral("update/progress")), percent, false);
    });
    publishState(slot, true);
}

void OscStatePublisher::publishAll()
{
    for (const SlotController *slot : qAsConst(slotList))
        publishState(slot, true);
}

void OscStatePublisher::publishSlot(int slotIndex)
{
    for (const SlotController *slot : qAsConst(slotList)) {
        if (slot->slotIndex() == slotIndex)
            publishState(slot, true);
    }
}

void OscStatePublisher::publishEvent(int slotIndex, const QString &text)
{
    // Every event is news, even when it reads like the one before.
    publish(slotAddress(slotIndex, QStringLiteral("event")), text, true);
}

void OscStatePublisher::publishState(const SlotController *slot, bool always)
{
    const int index = slot->slotIndex();
    const bool card = slot->cardType() != KipPort::NoCard;
    publish(slotAddress(index, QStringLiteral("cardtype")),
            card ? SlotController::cardDisplayName(slot->cardType()) : QString(), always);
    publish(slotAddress(index, QStringLiteral("firmware")), slot->firmwareVersion(), always);
    publish(slotAddress(index, QStringLiteral("fpga")), slot->fpgaVersion(), always);
    publish(slotAddress(index, QStringLiteral("temperature")), slot->temperature(), always);
    publish(slotAddress(index, QStringLiteral("samplerate")), slot->sampleRate(), always);
    publish(slotAddress(index, QStringLiteral("syncsource")), slot->syncSource().toUpper(), always);
    publish(slotAddress(index, QStringLiteral("syncauto")), int(card && slot->isSyncAuto()), always);
    publish(slotAddress(index, QStringLiteral("link")), SlotReport::linkStateName(slot->linkState()), always);
    const QMap<int, SyncLockState> locks = slot->lockStates();
    for (auto it = locks.cbegin(); it != locks.cend(); ++it)
        publish(slotAddress(index, QStringLiteral("lock/") + SlotReport::inputName(it.key())), lockValue(it.value()),
                always);
    publish(slotAddress(index, QStringLiteral("update/progress")), slot->updateProgress(), always);
}

void OscStatePublisher::publish(const QString &address, const QVariant &value, bool always)
{
    if (!always && lastSent.value(address) == value && lastSent.contains(address))
        return;
    lastSent.insert(address, value);
    connection->send(Common::OscClient::encode(Common::OscMessage::fromAddress(address, value)));
    ++sentCount;
    qCDebug(lcOsc).noquote() << "OSC out" << address << value.toString();
}

} // namespace EMS
