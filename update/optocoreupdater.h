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
// files lie in the program's folder, or in the firmware folder the caller gives (the
// command-line tool's --optocore DIR). Driven only by the module's replies.
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

    // An empty firmware folder is the program's folder.
    explicit OptocoreUpdater(QObject *parent, const QString &firmwareFolder = QString());

    // The files in the program's folder.
    static QString buildInfoPath();
    static QString firstFilePath();
    static QString secondFilePath();
    // The first 64 bytes of "build.txt", padded with zero bytes; all zero without a file.
    static QByteArray readBuildInfo();
    static QByteArray readBuildInfo(const QString &path);

    // The folder this updater loads from; empty for the program's folder. Takes effect
    // at the next start().
    void setFirmwareFolder(const QString &folder) { loadFolder = folder; }
    QString firmwareFolder() const { return loadFolder; }
    // The files in this updater's firmware folder.
    QString buildInfoFile() const;
    QString firstFile() const;
    QString secondFile() const;
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

    QString loadFolder;
    QByteArray versionData;
    QFile file;
    qint64 fileSize = 0;
    int currentStage = 0;
    int packetNumber = 0;
    State state = Idle;
};

} // namespace EMS
