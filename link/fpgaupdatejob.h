#pragma once

#include "link/serialmessage.h"
#include "link/updatejob.h"

#include <QString>

class QTimer;

namespace EMS {

class KipFpgaUpdater;
class KipPort;

// Sends an FPGA image to the card of one port through the FPGA downloader, then gives
// the card five seconds to load the new image before the job counts as a success and
// the port polls it again. Created and owned by the port (KipPort::updateFpga), which
// feeds it the card's "update fpga" replies.
class FpgaUpdateJob : public UpdateJob
{
    Q_OBJECT

public:
    static constexpr int RestartPauseMs = 5000;

    FpgaUpdateJob(KipPort *port, const QString &fileName);

    QString fileName() const { return file; }
    // Present while the image is being sent, gone once the card has answered its end.
    KipFpgaUpdater *downloader() const { return download; }
    // Single-shot: the card loads its new image meanwhile.
    QTimer *restartPauseTimer() const { return restartPause; }

    // For the port.
    void start();
    void receiveReply(const Common::SerialMessage &message);
    void finishDownload(bool successful);
    void finishRestart();
    // A newer FPGA update has taken over: this one ends without touching the port.
    void supersede();

protected:
    void abort() override;

private:
    void dropDownloader();
    void resumePolling();

    KipPort *port;
    QString file;
    KipFpgaUpdater *download = nullptr;
    QTimer *restartPause;
    QString lastMessage;
};

} // namespace EMS
