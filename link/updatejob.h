#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace EMS {

// How one firmware update ended: the text says why it failed, for a log or a dialog;
// the status bar has had its own messages already.
struct UpdateResult
{
    enum class Outcome { Succeeded, Failed, Cancelled };

    Outcome outcome = Outcome::Failed;
    QString text;

    bool succeeded() const { return outcome == Outcome::Succeeded; }
    static UpdateResult success() { return {Outcome::Succeeded, QString()}; }
    static UpdateResult failure(const QString &text) { return {Outcome::Failed, text}; }
    static UpdateResult cancelled() { return {Outcome::Cancelled, QString()}; }
};

// One firmware update from its start to its one result, in the manner of a network
// reply: progress while it runs, cancel() to give it up, and exactly one finished().
// Whoever started it reads the result from the object; nobody has to guess from a
// progress value or a shared "finished" signal whose update has ended.
class UpdateJob : public QObject
{
    Q_OBJECT

public:
    enum class State {
        NotStarted,
        Running,
        // The image is in; the card restarts with it before the job can say it worked.
        Restarting,
        Succeeded,
        Failed,
        Cancelled,
    };
    Q_ENUM(State)

    explicit UpdateJob(QObject *parent = nullptr);

    State state() const { return currentState; }
    int progress() const { return percent; }
    bool isFinished() const;
    // Meaningful once finished.
    UpdateResult result() const { return outcome; }

public slots:
    // Gives the update up; a job that has already ended stays as it ended.
    void cancel();

signals:
    void progressChanged(int percent);
    void stateChanged(EMS::UpdateJob::State state);
    void finished(EMS::UpdateResult result);

protected:
    void setState(State state);
    void setProgress(int percent);
    // Ends the job with this result. Only the first call counts: a card that answers
    // twice after its reset, or a watchdog that fires after the answer, ends nothing.
    void finish(const UpdateResult &result);
    // Stops what the job drives on the card's side; finish() follows with Cancelled.
    virtual void abort() = 0;

private:
    State currentState = State::NotStarted;
    int percent = 0;
    UpdateResult outcome;
};

} // namespace EMS

Q_DECLARE_METATYPE(EMS::UpdateResult)
