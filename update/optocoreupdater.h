#pragma once

#include "link/serialmessage.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

namespace EMS {

// Loads new firmware into the Optocore network module of an Optocore card, through the
// card, in "Optocore update" messages (type 49): a 64-byte build description, then
// "udi71221.bin" and "pdi71221.sop" in numbered 128-byte packets, each acknowledged by
// number. Also asks for the module's version and tells its loader to exit. The three
// files lie in the program's folder. Driven only by the module's replies.
class OptocoreUpdater : public QObject
{
    Q_OBJECT

public:
    static constexpr int MessageType = int(Common::MessageType::OptocoreUpdate);
    static constexpr int PacketSize = 128;
    static constexpr int BuildInfoSize = 64;
    static constexpr int MaxPackets = 65535;

    enum Step {
        StepVersion = 0,
        StepBuildInfo = 1,
        StepFirstFile = 2,
        StepSecondFile = 3,
        StepPacket = 4,
        StepExitLoader = 5,
    };

    explicit OptocoreUpdater(QObject *parent);

    static QString buildInfoPath();
    static QString firstFilePath();
    static QString secondFilePath();
    // The first 64 bytes of "build.txt", padded with zero bytes; all zero without a file.
    static QByteArray readBuildInfo();
    static QString errorText(int result);
    // Why a firmware file cannot be sent, or empty when it can.
    static QString fileProblem(const QString &path);

    bool isRunning() const { return state != Idle; }
    int stage() const { return currentStage; }

    void requestVersion();
    void exitLoader();
    // Stops a transfer that someone else has already declared failed, without a report
    // of its own: the module's further replies then change nothing.
    void cancel();

signals:
    void sendMessage(Common::SerialMessage *message);
    void progress(int percent);
    void finished(bool successful);
    void statusMessage(QString message);
    void versionString(QByteArray &version);
    void exitLoaderAcknowledge();

public slots:
    void start();
    void receiveMessage(Common::SerialMessage *message);

private:
    enum State { Idle, Refusing, BuildInfoSent, FileAnnounced, SendingFile };

    void send(int step, const QByteArray &payload);
    void startFile(int fileStage);
    void sendPacket();
    void finishSuccess();
    void abortUpdate(const QString &reason);

    QByteArray versionData;
    QFile file;
    qint64 fileSize = 0;
    int currentStage = 0;
    int packetNumber = 0;
    State state = Idle;
};

} // namespace EMS
