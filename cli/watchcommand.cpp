#include "cli/watchcommand.h"

#include "cli/cardwaiter.h"
#include "history/eventhistory.h"
#include "history/slotevent.h"
#include "history/sloteventrecorder.h"
#include "remote/remoteoptions.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QTimer>

namespace Cli {

using namespace EMS;

QString WatchCommand::eventLine(const SlotEvent &event)
{
    return QStringLiteral("%1 %2 %3 %4: %5")
        .arg(QDateTime::fromMSecsSinceEpoch(event.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
             SlotReport::slotName(event.slot), SlotEvent::severityName(event.severity),
             SlotEvent::kindName(event.kind), event.text);
}

void WatchCommand::start()
{
    const QList<int> indexes = chosenSlots();
    if (indexes.isEmpty())
        return;
    history = new EventHistory(this);
    connect(history, &EventHistory::eventRecorded, this, &WatchCommand::print);
    for (int index : indexes) {
        SlotController *slot = openSlot(index);
        controllers << slot;
        new SlotEventRecorder(slot, history, slot);
        waiters << new CardWaiter(slot, this);
    }

    QString error;
    bridge = RemoteOptions::createBridge(*context.parser, controllers, this, &error);
    if (!bridge) {
        fail(error, UsageError);
        return;
    }
    bridge->publishEventsOf(history);

    armDeadline(context.timeoutMs);
    if (context.parser->isSet(QStringLiteral("duration"))) {
        const int seconds = context.parser->value(QStringLiteral("duration")).toInt();
        auto *stop = new QTimer(this);
        stop->setTimerType(Qt::PreciseTimer);
        stop->setSingleShot(true);
        connect(stop, &QTimer::timeout, this, &WatchCommand::succeed);
        stop->start(qMax(1, seconds) * 1000);
    }
}

void WatchCommand::print(const SlotEvent &event)
{
    printLine(context.json ? event.toJson() : eventLine(event));
}

void WatchCommand::expired()
{
    // Watching goes on as long as some slot has a way to its card.
    for (const CardWaiter *waiter : qAsConst(waiters)) {
        if (waiter->hasAdapter())
            return;
    }
    QStringList reasons;
    for (const CardWaiter *waiter : qAsConst(waiters))
        reasons << waiter->whyNotReady();
    fail(reasons.join(QStringLiteral("; ")));
}

} // namespace Cli
