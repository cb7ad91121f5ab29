#include "update/optocoreupdatejob.h"

#include "update/optocoreupdater.h"

namespace EMS {

OptocoreUpdateJob::OptocoreUpdateJob(OptocoreUpdater *updater, QObject *parent)
    : UpdateJob(parent), updater(updater)
{
}

void OptocoreUpdateJob::start()
{
    if (!updater) {
        finish(UpdateResult::failure(tr("No Optocore updater")));
        return;
    }
    connect(updater, &OptocoreUpdater::progress, this, &OptocoreUpdateJob::setProgress);
    connect(updater, &OptocoreUpdater::statusMessage, this, [this](const QString &text) { lastMessage = text; });
    connect(updater, &OptocoreUpdater::finished, this, &OptocoreUpdateJob::takeResult);
    setState(State::Running);
    updater->start();
}

void OptocoreUpdateJob::takeResult(bool successful)
{
    if (updater)
        updater->disconnect(this);
    finish(successful ? UpdateResult::success() : UpdateResult::failure(lastMessage));
}

void OptocoreUpdateJob::abort()
{
    if (!updater)
        return;
    updater->disconnect(this);
    // Stopped without a report of its own; the module's further replies change nothing,
    // and its loader is told to exit so the module runs its old firmware again.
    updater->cancel();
    updater->exitLoader();
}

} // namespace EMS
