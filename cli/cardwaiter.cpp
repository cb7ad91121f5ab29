#include "cli/cardwaiter.h"

#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

#include <QTimer>

namespace Cli {

using EMS::KipPort;
using EMS::SlotController;

CardWaiter::CardWaiter(SlotController *slot, QObject *parent)
    : QObject(parent), watched(slot), settle(new QTimer(this))
{
    settle->setTimerType(Qt::PreciseTimer);
    settle->setSingleShot(true);
    settle->setInterval(SettleMs);
    connect(settle, &QTimer::timeout, this, [this] {
        if (watched->cardType() == KipPort::NoCard)
            return;
        ready = true;
        emit cardReady();
    });
    connect(slot, &SlotController::cardTypeChanged, this, &CardWaiter::cardTypeShown);
    connect(slot, &SlotController::statusMessage, this, [this](const QString &message) { lastStatus = message; });
    if (slot->cardType() != KipPort::NoCard)
        cardTypeShown();
}

void CardWaiter::cardTypeShown()
{
    if (watched->cardType() == KipPort::NoCard) {
        ready = false;
        settle->stop();
    } else if (!ready) {
        settle->start();
    }
}

bool CardWaiter::hasAdapter() const
{
    return !watched->fixedPortName().isEmpty() || watched->selectedPort() != 0;
}

QString CardWaiter::whyNotReady() const
{
    const QString name = EMS::SlotReport::slotName(watched->slotIndex());
    if (!hasAdapter())
        return tr("%1: no serial adapter (give one with --port%2)").arg(name).arg(watched->slotIndex() + 1);
    QString text = tr("%1: no card answered on %2").arg(name, watched->cardPort()->serialPortName());
    if (!lastStatus.isEmpty())
        text += tr(" (last: %1)").arg(lastStatus);
    return text;
}

} // namespace Cli
