#pragma once

#include "link/updatejob.h"

#include <QPointer>

namespace EMS {

class OptocoreUpdater;

// A firmware load of an Optocore card's network module as one job. The updater is the
// caller's (the panel keeps it for version requests and its loader's exit); the job
// starts it, follows its progress and takes its one result.
class OptocoreUpdateJob : public UpdateJob
{
    Q_OBJECT

public:
    explicit OptocoreUpdateJob(OptocoreUpdater *updater, QObject *parent = nullptr);

    void start();

protected:
    void abort() override;

private:
    void takeResult(bool successful);

    QPointer<OptocoreUpdater> updater;
    QString lastMessage;
};

} // namespace EMS
