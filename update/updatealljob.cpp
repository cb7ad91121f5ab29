#include "update/updatealljob.h"

namespace EMS {

UpdateAllJob::UpdateAllJob(KipUpgrader *upgrader, QObject *parent)
    : UpdateJob(parent), upgrader(upgrader)
{
}

KipUpgrader::State UpdateAllJob::stage() const
{
    return upgrader ? upgrader->state() : KipUpgrader::State::Idle;
}

void UpdateAllJob::start()
{
    if (!upgrader) {
        finish(UpdateResult::failure(tr("No upgrader")));
        return;
    }
    connect(upgrader, &KipUpgrader::updateProgress, this, &UpdateAllJob::setProgress);
    connect(upgrader, &KipUpgrader::updateFinished, this, &UpdateAllJob::takeResult);
    connect(upgrader, &KipUpgrader::stateChanged, this, [this](KipUpgrader::State state) {
        if (state == KipUpgrader::State::CodeStage || state == KipUpgrader::State::FpgaStage)
            setState(State::Running);
        else if (state != KipUpgrader::State::Idle)
            setState(State::Restarting); // between the stages the card restarts with its new code
    });
    setState(State::Running);
    upgrader->upgradeAsRequired();
}

void UpdateAllJob::takeResult(bool successful)
{
    release();
    // The upgrader has put the reason in the status bar already.
    finish(successful ? UpdateResult::success() : UpdateResult::failure(tr("Update failed")));
}

void UpdateAllJob::abort()
{
    // Released first: the upgrader's own report of the cancelled run is not this job's
    // result, Cancelled is.
    release();
    if (upgrader)
        upgrader->cancel();
}

void UpdateAllJob::release()
{
    if (upgrader)
        upgrader->disconnect(this);
}

} // namespace EMS
