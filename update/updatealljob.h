#pragma once

#include "link/updatejob.h"
#include "update/kipupgrader.h"

#include <QPointer>

namespace EMS {

// "Update all if required" as one job: the upgrader's run of the code stage, the pause
// while the card restarts, the wait for its type, the pause before the FPGA, and the
// FPGA stage, with progress on one 0-100 scale (code 0-50, FPGA 50-100 when both run).
// The stages and their timing are the upgrader's; this object gives the run the job's
// face, so a slot can hold it like any other update.
class UpdateAllJob : public UpdateJob
{
    Q_OBJECT

public:
    explicit UpdateAllJob(KipUpgrader *upgrader, QObject *parent = nullptr);

    KipUpgrader::State stage() const;

    void start();

protected:
    void abort() override;

private:
    void takeResult(bool successful);
    void release();

    QPointer<KipUpgrader> upgrader;
};

} // namespace EMS
