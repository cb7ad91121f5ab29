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
// card reports. The updates themselves run in the card port; this object starts them,
// scales their progress when both run, and waits for the card to come back between them.
class KipUpgrader : public QObject
{
    Q_OBJECT

public:
    static constexpr int StageDelayMs = 2000;

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
    int stage() const { return currentStage; }
    bool isUpdating() const { return running != NoStage; }

    // For tests: the pause after the processor stage and the pause before the FPGA stage.
    QTimer *stageDelayTimer() const { return afterCodeTimer; }
    QTimer *fpgaDelayTimer() const { return beforeFpgaTimer; }

signals:
    void startARMUpdate(QString filePath);
    void startFPGAUpdate(QString filePath);
    void updateStarted();
    void updateProgress(int percent);
    void updateFinished(bool success);

public slots:
    void receiveProgress(int percent);
    void receiveFinished(bool success);
    void upgradeCode(QString filePath);
    void upgradeFPGA(QString filePath);
    void upgradeCode();
    void upgradeFPGA();

private slots:
    void receiveKipCardType(KipPort::KipCardType cardType);
    void attemptToUpgradeFPGA();

private:
    enum Stage { NoStage, CodeStage, FpgaStage };

    void startCodeStage(const QString &filePath);
    void startFpgaStage(const QString &filePath);
    bool checkFile(const QString &filePath, Stage stage);
    void endRun();
    void refuse(const QString &reason);

    QPointer<KipPort> port;
    int cardType = KipPort::NoCard;
    QString codePath;
    QString fpgaPath;
    int availableCodeVersion = 0;
    QString availableFpgaVersion;
    bool upgradeCpu = false;
    bool upgradeFpga = false;
    bool fpgaPending = false;
    int currentStage = 0;

    // The stage this upgrader has started and whose result it waits for. The port also
    // reports the result of the boot-loader probe it runs on every connection; with no
    // stage of ours running, such a result is not ours to relay.
    Stage running = NoStage;
    // The code stage reaches the port through a queued call: until the port has taken
    // it, a result can only belong to something that ran before it.
    bool codeStageHandedOver = false;

    QTimer *afterCodeTimer = nullptr;
    QTimer *beforeFpgaTimer = nullptr;
};

} // namespace EMS
