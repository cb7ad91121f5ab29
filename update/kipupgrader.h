#pragma once

#include "link/kipport.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

namespace EMS {

// Decides which firmware a slot's card should get and runs the updates in order: the
// processor code through the boot loader first, then the FPGA image. It finds the files
// that fit the card type, reads the versions they carry and compares them with what the
// card reports. The updates themselves are jobs of the card port; this object asks the
// port for them, takes the job the port announces, and hears each stage's end only from
// that job. Between the stages it waits for the card to come back with its new code.
//
//   Idle -> CodeStage -> AfterCodePause -> [WaitingForCard] -> BeforeFpgaPause -> FpgaStage -> Idle
//
// A single-stage run goes from CodeStage or FpgaStage straight back to Idle; a failure
// or cancel() from any state.
class KipUpgrader : public QObject
{
    Q_OBJECT

public:
    static constexpr int StageDelayMs = 2000;

    enum class State {
        Idle,
        CodeStage,
        // The card restarts with its new code.
        AfterCodePause,
        // The card has not reported its type since its restart.
        WaitingForCard,
        BeforeFpgaPause,
        FpgaStage,
    };
    Q_ENUM(State)

    KipUpgrader(KipPort *port, QObject *parent);

    static QString codeFileName(int cardType);
    static QString fpgaFileName(int cardType);
    // The version marks inside the firmware files.
    static int codeVersionOf(const QByteArray &contents);
    static QString fpgaVersionOf(const QByteArray &contents);
    // The program's folder first, then the built-in ":/firmware/"; empty if neither has it.
    static QString findFirmware(const QString &name);

    void upgradeAsRequired();
    bool updateRecommended() const;

    int codeVersion() const { return availableCodeVersion; }
    QString fpgaVersion() const { return availableFpgaVersion; }
    QString codeFilePath() const { return codePath; }
    QString fpgaFilePath() const { return fpgaPath; }
    // 1 once the code stage of a run of both stages is done, else 0.
    int stage() const;
    bool isUpdating() const { return currentState != State::Idle; }
    State state() const { return currentState; }
    // The port's job of the stage that runs now, or null.
    UpdateJob *stageJob() const { return job; }

    // For tests: the pause after the processor stage and the pause before the FPGA stage.
    QTimer *stageDelayTimer() const { return afterCodeTimer; }
    QTimer *fpgaDelayTimer() const { return beforeFpgaTimer; }

signals:
    void startARMUpdate(QString filePath);
    void startFPGAUpdate(QString filePath);
    void updateStarted();
    void updateProgress(int percent);
    void updateFinished(bool success);
    void stateChanged(EMS::KipUpgrader::State state);

public slots:
    void receiveProgress(int percent);
    // The running stage's result from whoever ran it outside a job of the port; ends
    // that stage as its job's end would. Without a stage running it is ignored: the
    // port's probe of every connection ends "unsuccessfully" and is no update.
    void receiveFinished(bool success);
    void upgradeCode(QString filePath);
    void upgradeFPGA(QString filePath);
    void upgradeCode();
    void upgradeFPGA();
    // Gives the run up, whatever stage it is in, and reports it failed once.
    void cancel();

private slots:
    void receiveKipCardType(KipPort::KipCardType cardType);
    void attemptToUpgradeFPGA();
    void takeJob(EMS::UpdateJob *started);
    void stageFinished(const EMS::UpdateResult &result);

private:
    enum FileKind { CodeFile, FpgaFile };

    void beginRun(bool bothStages);
    void setState(State state);
    void startCodeStage(const QString &filePath);
    void startFpgaStage(const QString &filePath);
    bool checkFile(const QString &filePath, FileKind kind);
    void dropJob();
    void endStage(bool success);
    void endRun();
    void refuse(const QString &reason);

    QPointer<KipPort> port;
    int cardType = KipPort::NoCard;
    QString codePath;
    QString fpgaPath;
    int availableCodeVersion = 0;
    QString availableFpgaVersion;
    State currentState = State::Idle;
    // Code and FPGA in one run: progress goes 0-50 for the code, 50-100 for the FPGA.
    bool bothStages = false;
    // The file the running stage asked the port for; the port's job for it is ours.
    QString requestedFile;
    QPointer<UpdateJob> job;
    // A code stage cancelled before the port took it: the port still starts it from its
    // queued call, and the job it announces for this file is cancelled at once.
    QString cancelledCodeFile;

    QTimer *afterCodeTimer = nullptr;
    QTimer *beforeFpgaTimer = nullptr;
};

} // namespace EMS
