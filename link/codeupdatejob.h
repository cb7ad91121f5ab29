#pragma once

#include "link/updatejob.h"

#include <QPointer>
#include <QString>

class QTimer;

namespace Common {
class Updater;
}

namespace EMS {

class KipPort;

// Writes a new processor program into the card of one port: asks the card's
// application for its boot loader, gives the boot loader a moment to come up, and lets
// the port's boot-loader updater write the file. The result is the boot loader's
// answer after it has reset the card: the restarted card's application answers the
// next AutoBaud with 0xAA. Created and owned by the port (KipPort::updateCode), which
// also hands the line back to framed messages afterwards.
class CodeUpdateJob : public UpdateJob
{
    Q_OBJECT

public:
    static constexpr int BootLoaderStartDelayMs = 100;

    CodeUpdateJob(KipPort *port, const QString &fileName);

    QString fileName() const { return file; }
    // Single-shot: the boot loader's first packet goes out when it fires.
    QTimer *bootLoaderStartTimer() const { return startDelay; }

    // For the port.
    void start();
    // The boot loader's answer after the reset, or the slot's watchdog giving up.
    void takeResult(bool successful);
    // A newer code update has taken the line over: this one ends without touching it.
    void supersede();

protected:
    void abort() override;

private:
    void startBootLoader();

    KipPort *port;
    QString file;
    QTimer *startDelay;
    // The updater this job started; one that replaced it is not started from here.
    QPointer<Common::Updater> bootLoader;
    QString lastMessage;
};

} // namespace EMS
