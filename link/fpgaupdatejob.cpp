#include "link/fpgaupdatejob.h"

#include "link/fpgadownloader.h"
#include "link/kipport.h"

#include <QTimer>

namespace EMS {

namespace {

constexpr int KeepAliveIntervalMs = 1000;
constexpr int WatchdogIntervalMs = 3000;

} // namespace

FpgaUpdateJob::FpgaUpdateJob(KipPort *port, const QString &fileName)
    : UpdateJob(port), port(port), file(fileName), restartPause(new QTimer(this))
{
    restartPause->setSingleShot(true);
    restartPause->setInterval(RestartPauseMs);
    // A coarse timer may fire a quarter second early, before the card is back.
    restartPause->setTimerType(Qt::PreciseTimer);
    connect(restartPause, &QTimer::timeout, port, &KipPort::restartAfterFpgaUpdate);
}

void FpgaUpdateJob::start()
{
    setState(State::Running);
    if (!download) {
        download = new KipFpgaUpdater(this, file);
        connect(download, &KipFpgaUpdater::sendMessage, port, &KipPort::sendMessage);
        connect(download, &KipFpgaUpdater::progress, port, &KipPort::updateProgress);
        connect(download, &KipFpgaUpdater::finished, port, &KipPort::finishFpgaUpdate);
        connect(download, &KipFpgaUpdater::statusMessage, port, &KipPort::statusMessage);
        connect(download, &KipFpgaUpdater::progress, this, &FpgaUpdateJob::setProgress);
        connect(download, &KipFpgaUpdater::statusMessage, this, [this](const QString &text) { lastMessage = text; });
    }
    download->start();
}

void FpgaUpdateJob::receiveReply(const Common::SerialMessage &message)
{
    if (download)
        download->receiveMessage(message);
}

void FpgaUpdateJob::finishDownload(bool successful)
{
    if (!download)
        return;
    dropDownloader();
    if (!successful) {
        // Whatever the card did with its flash, the slot must keep listening to it at
        // the normal rhythm; an erase that was never answered would otherwise leave
        // both timers stopped for good.
        resumePolling();
        emit port->updateFinished(false);
        finish(UpdateResult::failure(lastMessage.isEmpty() ? KipPort::tr("FPGA update failed") : lastMessage));
        return;
    }
    emit port->statusMessage(KipPort::tr("FPGA update successful"));
    port->keepAlive->stop();
    port->watchdog->stop();
    setState(State::Restarting);
    restartPause->start();
}

void FpgaUpdateJob::finishRestart()
{
    if (state() != State::Restarting)
        return;
    restartPause->stop();
    emit port->updateFinished(true);
    resumePolling();
    finish(UpdateResult::success());
}

void FpgaUpdateJob::supersede()
{
    if (isFinished())
        return;
    // The newer download drives the same card; a pause left running here would report
    // a success and restart the polling in the middle of it.
    restartPause->stop();
    dropDownloader();
    finish(UpdateResult::cancelled());
}

void FpgaUpdateJob::abort()
{
    restartPause->stop();
    dropDownloader();
    resumePolling();
    emit port->updateFinished(false);
}

void FpgaUpdateJob::dropDownloader()
{
    if (!download)
        return;
    // Reached from inside the downloader's own signal: delete it once control is back
    // in the event loop.
    download->disconnect(port);
    download->disconnect(this);
    download->deleteLater();
    download = nullptr;
}

void FpgaUpdateJob::resumePolling()
{
    port->keepAlive->start(KeepAliveIntervalMs);
    port->watchdog->start(WatchdogIntervalMs);
}

} // namespace EMS
