#include "link/codeupdatejob.h"

#include "link/bootloaderupdater.h"
#include "link/kipport.h"

#include <QTimer>

namespace EMS {

CodeUpdateJob::CodeUpdateJob(KipPort *port, const QString &fileName)
    : UpdateJob(port), port(port), file(fileName), startDelay(new QTimer(this))
{
    startDelay->setSingleShot(true);
    startDelay->setInterval(BootLoaderStartDelayMs);
    startDelay->setTimerType(Qt::PreciseTimer);
    connect(startDelay, &QTimer::timeout, this, &CodeUpdateJob::startBootLoader);
}

void CodeUpdateJob::start()
{
    setState(State::Running);
    // A result already in and waiting for its hand-back belongs to the run before:
    // hand the line back now, so that hand-back cannot tear down this job's boot loader.
    if (port->handBack->isActive()) {
        port->handBack->stop();
        port->restartAfterCodeUpdate();
    }
    // A probe that no boot loader has answered yet was made with the old file name:
    // replace it, so the card gets the file that was asked for and nothing else. Its
    // queue block is lifted too, so the "boot loader" request reaches the card.
    if (port->updater && (port->updaterResultTaken || port->linkState() != KipPort::LinkBootLoader))
        port->discardUpdater();
    port->requestBootLoader();
    port->startBootLoader(false);
    bootLoader = port->updater;
    connect(bootLoader, &Common::Updater::progress, this, &CodeUpdateJob::setProgress);
    connect(bootLoader, &Common::Updater::statusMessage, this, [this](const QString &text) { lastMessage = text; });
    startDelay->start();
}

void CodeUpdateJob::startBootLoader()
{
    if (bootLoader)
        bootLoader->start();
}

void CodeUpdateJob::takeResult(bool successful)
{
    if (isFinished())
        return;
    startDelay->stop();
    port->finishBootLoaderSession(successful);
    finish(successful ? UpdateResult::success()
                      : UpdateResult::failure(lastMessage.isEmpty() ? KipPort::tr("Code update failed") : lastMessage));
}

void CodeUpdateJob::supersede()
{
    if (isFinished())
        return;
    startDelay->stop();
    finish(UpdateResult::cancelled());
}

void CodeUpdateJob::abort()
{
    // Ended as the slot's watchdog ends a code update: the line goes back to framed
    // messages, and whatever the boot loader still does is no longer listened to.
    startDelay->stop();
    port->finishBootLoaderSession(false);
}

} // namespace EMS
