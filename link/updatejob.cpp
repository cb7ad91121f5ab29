#include "link/updatejob.h"

namespace EMS {

UpdateJob::UpdateJob(QObject *parent)
    : QObject(parent)
{
    // Queued connections to finished() carry the result by value.
    qRegisterMetaType<EMS::UpdateResult>("EMS::UpdateResult");
    qRegisterMetaType<EMS::UpdateJob::State>("EMS::UpdateJob::State");
}

bool UpdateJob::isFinished() const
{
    return currentState == State::Succeeded || currentState == State::Failed
           || currentState == State::Cancelled;
}

void UpdateJob::cancel()
{
    if (isFinished())
        return;
    abort();
    finish(UpdateResult::cancelled());
}

void UpdateJob::setState(State state)
{
    if (currentState == state || isFinished())
        return;
    currentState = state;
    emit stateChanged(state);
}

void UpdateJob::setProgress(int value)
{
    value = qBound(0, value, 100);
    if (value == percent || isFinished())
        return;
    percent = value;
    emit progressChanged(value);
}

void UpdateJob::finish(const UpdateResult &result)
{
    if (isFinished())
        return;
    outcome = result;
    switch (result.outcome) {
    case UpdateResult::Outcome::Succeeded:
        currentState = State::Succeeded;
        break;
    case UpdateResult::Outcome::Failed:
        currentState = State::Failed;
        break;
    case UpdateResult::Outcome::Cancelled:
        currentState = State::Cancelled;
        break;
    }
    emit stateChanged(currentState);
    emit finished(result);
}

} // namespace EMS
