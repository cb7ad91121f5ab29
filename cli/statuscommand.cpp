#include "cli/statuscommand.h"

#include "cli/cardwaiter.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

void StatusCommand::start()
{
    const QList<int> indexes = chosenSlots();
    if (indexes.isEmpty())
        return;
    for (int index : indexes) {
        auto *waiter = new CardWaiter(openSlot(index), this);
        connect(waiter, &CardWaiter::cardReady, this, &StatusCommand::checkAllReady);
        waiters.append(waiter);
    }
    armDeadline(context.timeoutMs);
    checkAllReady();
}

void StatusCommand::checkAllReady()
{
    // A slot without any adapter has nothing to wait for.
    for (const CardWaiter *waiter : qAsConst(waiters)) {
        if (!waiter->isReady() && waiter->hasAdapter())
            return;
    }
    report();
}

void StatusCommand::expired()
{
    report();
}

void StatusCommand::report()
{
    if (hasFinished())
        return;
    QJsonArray slotObjects;
    QStringList problems;
    int cards = 0;
    for (const CardWaiter *waiter : qAsConst(waiters)) {
        const EMS::SlotController &slot = *waiter->slot();
        if (context.json)
            slotObjects.append(EMS::SlotReport::statusJson(slot));
        else
            for (const QString &line : EMS::SlotReport::statusLines(slot))
                printLine(line);
        if (slot.cardType() != EMS::KipPort::NoCard)
            ++cards;
        else if (waiter->hasAdapter() || waiters.size() == 1)
            problems << waiter->whyNotReady();
    }
    if (context.json)
        printLine(QString::fromUtf8(QJsonDocument(QJsonObject{{"slots", slotObjects}}).toJson(QJsonDocument::Compact)));
    if (cards == 0 && problems.isEmpty()) {
        for (const CardWaiter *waiter : qAsConst(waiters))
            problems << waiter->whyNotReady();
    }
    if (!problems.isEmpty())
        fail(problems.join(QStringLiteral("; ")));
    else
        succeed();
}

} // namespace Cli
