// The card port's firmware updates: each code or FPGA update runs as a job the port
// owns and announces; the port's own probe of the boot loader is kept apart from them.
#include "link/kipport.h"

#include "common/logcategories.h"
#include "link/codeupdatejob.h"
#include "link/fpgaupdatejob.h"

#include <QFile>
#include <QTimer>

namespace EMS {

UpdateJob *KipPort::updateJob() const
{
    return latestJob && !latestJob->isFinished() ? latestJob : nullptr;
}

KipFpgaUpdater *KipPort::fpgaDownloader() const
{
    return fpgaJob ? fpgaJob->downloader() : nullptr;
}

template <typename Job>
Job *KipPort::replaceJob(Job *&slot, Job *next)
{
    if (slot) {
        slot->supersede();
        slot->deleteLater();
    }
    slot = next;
    latestJob = next;
    return next;
}

void KipPort::updateCode(QString fileName)
{
    if (!QFile::exists(fileName)) {
        qCWarning(lcLink) << "KIP Port: Code file" << fileName << "not found";
        emit statusMessage(tr("Code file not found: ") + fileName);
        return;
    }
    codeFile = fileName;
    CodeUpdateJob *job = replaceJob(codeJob, new CodeUpdateJob(this, fileName));
    job->start();
    emit updateJobStarted(job);
}

void KipPort::finishCodeUpdate(bool successful)
{
    // One update ends exactly once. After a reset the updater's own AutoBaud and the
    // keep-alive's probe can both reach the restarted card, which then answers twice;
    // only the first answer carries the update's result. Without an updater there is
    // no update to end, and stopping the timers would leave the slot deaf for good.
    if (!updater || updaterResultTaken)
        return;
    if (codeJob && !codeJob->isFinished()) {
        codeJob->takeResult(successful);
        return;
    }
    // The connection probe: a card running its application answers it with 0xAA. Its
    // end is the port's own; no update job hears of it.
    finishBootLoaderSession(successful);
}

void KipPort::updateFpga(QString fileName)
{
    if (!QFile::exists(fileName)) {
        emit statusMessage(tr("FPGA file not found: ") + fileName);
        return;
    }
    // The card erases its flash now: no status traffic until it answers. Stopped
    // before the download starts, so a download that fails at once leaves the timers
    // as its failure set them.
    keepAlive->stop();
    watchdog->stop();
    startFpgaUpdate(fileName);
    if (!fpgaDownloader()) {
        // The file went away between the two looks: nothing runs, keep listening.
        keepAlive->start(KeepAliveIntervalMs);
        watchdog->start(WatchdogIntervalMs);
    }
}

void KipPort::startFpgaUpdate(const QString &fileName)
{
    if (!QFile::exists(fileName)) {
        emit statusMessage(tr("File not found: ") + fileName);
        return;
    }
    // A download already running starts over from its first packet, as one job.
    if (fpgaDownloader()) {
        fpgaJob->start();
        return;
    }
    FpgaUpdateJob *job = replaceJob(fpgaJob, new FpgaUpdateJob(this, fileName));
    job->start();
    emit updateJobStarted(job);
}

void KipPort::finishFpgaUpdate(bool successful)
{
    if (fpgaJob)
        fpgaJob->finishDownload(successful);
}

void KipPort::restartAfterFpgaUpdate()
{
    if (fpgaJob)
        fpgaJob->finishRestart();
}

} // namespace EMS
