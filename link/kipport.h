#pragma once

#include "link/framescanner.h"
#include "link/serialmessage.h"
#include "link/updatejob.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

namespace Common {
class Updater;
}

namespace EMS {

class CodeUpdateJob;
class EngineMessenger;
class FpgaUpdateJob;
class KipConnection;
class KipFpgaUpdater;
class KipSendQueue;

// Receive-lock state of one card input, as the panels show it. Any int is a valid
// value, so a state the window does not know is shown as unknown, not undefined.
enum SyncLockState : int {
    SyncUnknown = -1,
    SyncUnlocked = 0,
    SyncLocked = 1,
};

// The controller's whole view of the card in one slot of the box: it owns the serial
// transport and the send queue, keeps the link alive, turns the card's messages into
// notifications and the user's actions into commands, and runs the firmware updates.
// Forms and panels talk to the card only through this object.
class KipPort : public QObject
{
    Q_OBJECT

public:
    // The card's codes arrive as any byte value; a fixed underlying type makes every
    // one of them a valid value of the enumeration, not just the named ones.
    enum KipCardType : int {
        NoCard = 0,
        MadiBnc = 20,
        Adc = 21,
        Dac = 22,
        Aes = 23,
        MadiCat5 = 24,
        Waves = 25,
        Aviom = 26,
        Dante = 27,
        Optocore = 28,
        Hydra = 29,
    };
    Q_ENUM(KipCardType)

    enum LinkState {
        LinkConnected = 0,
        LinkBootLoader = 1,
        LinkProbing = 2,
        LinkClosed = 3,
    };
    Q_ENUM(LinkState)

    // What is connected to a MADI port; other codes are passed on unchanged.
    enum DeviceType : int { DeviceNone = 0, DeviceRack = 1, DeviceConsole = 2, DeviceGeneric = 3 };
    Q_ENUM(DeviceType)

    // The card's one-byte codes, passed on unchanged; the panels own their texts.
    typedef int RackType;
    typedef int RackCardType;
    typedef int MadiPortMode;
    typedef int SampleRateOverride;
    typedef int MadiRedundantState;

    // The card's status record. Packed, so two records compare byte for byte.
#pragma pack(push, 1)
    struct HardwareStatus
    {
        int linkState = LinkClosed;
        int cardType = NoCard;
        quint8 firmwareVersion = 0;
        quint8 temperature = 0;
        char fpgaVersion[11] = {};
        quint32 sampleRate = 0;
        bool master = false;

        bool operator==(const HardwareStatus &other) const;
        bool operator!=(const HardwareStatus &other) const { return !(*this == other); }
        QString fpgaVersionText() const;
    };
#pragma pack(pop)

    KipPort(QObject *parent, int slotIndex, EngineMessenger *engineMessenger = nullptr);
    ~KipPort() override;

    static QString cardTypeName(KipCardType cardType);
    static int inputChannelCount(KipCardType cardType);
    static int outputChannelCount(KipCardType cardType);
    static bool isDualMadi(KipCardType cardType);

    const HardwareStatus &hardwareStatus() const { return status; }
    KipCardType cardType() const { return KipCardType(status.cardType); }
    LinkState linkState() const { return LinkState(status.linkState); }
    quint8 syncSource() const { return syncSourceCode; }
    bool syncAuto() const { return syncIsAuto; }
    QString syncSourceName() const;

    KipConnection *connection() const { return kipConnection; }
    int slotIndex() const;
    QString serialPortName() const;
    bool isConnectionOpen() const;
    QString codeFileName() const { return codeFile; }

    int messagesReceivedCount() const { return receivedCount; }
    int messagesSentCount() const { return sentCount; }
    int errorsReceivedCount() const { return receiveErrorCount; }
    int errorsSentCount() const { return sendErrorCount; }

    // For tests and diagnostics: the timers and updaters this port runs.
    QTimer *keepAliveTimer() const { return keepAlive; }
    QTimer *watchdogTimer() const { return watchdog; }
    KipSendQueue *sendQueue() const { return queue; }
    Common::Updater *bootLoaderUpdater() const { return updater; }
    KipFpgaUpdater *fpgaDownloader() const;
    // Single-shot: gives the line back to framed messages after the boot loader's answer.
    QTimer *handBackTimer() const { return handBack; }
    // The code or FPGA update this port runs now, or null. The port owns it.
    UpdateJob *updateJob() const;
    int receiveBufferBytes() const { return scanner.bufferedBytes(); }

signals:
    void connectedChanged(bool connected);
    void logDataReceived(QString message);
    void logDataTransmitted(QString message);
    void messagesReceived(int count);
    void messagesSent(int count);
    void errorsReceived(int count);
    void errorsSent(int count);
    void statusMessage(QString message);
    void serialPortError(QSerialPort::SerialPortError errorCode);
    void echoReceived(QByteArray data);
    void updateProgress(int percent);
    void updateFinished(bool success);
    void updating(bool updating);
    // A code or FPGA update has started here; the job reports its one result.
    void updateJobStarted(EMS::UpdateJob *job);
    void optocoreUpdateMessage(Common::SerialMessage *message);
    void kipCardTypeChanged(KipPort::KipCardType cardType);
    void hardwareStatusChanged();
    void rackDataReceived(int madiPort, QByteArray rawData);
    void kipCardStatusChanged(KipPort::KipCardType cardType, QByteArray rawData);
    void kipSyncSourceChanged(QString syncSourceName, bool isAuto);
    void madiTransmitModeChanged(int madiPort, int transmitMode, bool trackReceived);
    void inputSampleRateChanged(int port, quint32 sampleRate);
    void controlViaAudioChanged(int port, bool controlViaAudio);
    void inputSRCChanged(int port, bool conversion);
    void clockLockedChanged(int port, bool receiveLocked);
    void sampleRateOverrideChanged(KipPort::SampleRateOverride override);
    void madiPortModeChanged(KipPort::MadiPortMode portMode);
    void madiRedundantStateChanged(int port, KipPort::MadiRedundantState redundantState);
    void madiSmuxChanged(int port, bool smux);
    void deviceTypeChanged(int madiPort, KipPort::DeviceType deviceType);
    void rackTypeChanged(int madiPort, KipPort::RackType rackType);
    void rackSlotChanged(int madiPort, int slot, KipPort::RackCardType cardType);
    void rackCodeDateChanged(int madiPort, quint8 day, quint8 month, quint16 year);
    void rackVoltageChanged(int madiPort, int psu, int nominalvolts, float voltage);
    void hydraIdChanged(int id);
    void optocoreVersionReceived(QByteArray &version);
    void optocoreMessageReceived(QByteArray data);
    void optocoreChannelCountsReceived(quint8 madiPort, quint8 inserted, quint8 extracted);

public slots:
    // Lifecycle, keep-alive and logging.
    void setSerialPortName(QString portName);
    void connectSerialPort();
    void disconnectSerialPort();
    void keepAliveTimeout();
    void watchdogTimeout();
    void logStatusMessages(bool logged);
    void receiveSerialEngineData(QByteArray data);
    void receiveKipData(QByteArray data);
    void receiveBootLoaderData(QByteArray data);
    void sendRawData(QByteArray data);

    // Firmware update flow.
    void updateCode(QString fileName);
    void updateStarted(bool started);
    void finishCodeUpdate(bool successful);
    void updateFpga(QString fileName);
    void finishFpgaUpdate(bool successful);
    void restartAfterCodeUpdate();

    // Commands.
    void requestStatus();
    void restart();
    void sendEcho(QByteArray data);
    void sendQuorixControl(uchar madiPort, QByteArray data);
    void sendAesInputConvert(uchar socketNumber, uchar value);
    void sendAesOutputSampleRate(uchar socketNumber, uchar value);
    void sendRoute(int destPort, int destSignal, int sourcePort, int sourceSignal);
    void sendSyncSource(signed char syncSource);
    void sendTransmitMode(uchar madiPort, uchar transmitMode);
    void sendControlViaAudio(uchar madiPort, bool viaAudio);
    void requestCardStatus();
    void requestInputSampleRates();
    void sendNetworkId(int id);
    void sendOptocoreVersionRequest();
    void sendOptocoreCommand(QByteArray data);
    void sendSampleRateOverride(KipPort::SampleRateOverride override);
    void sendMadiPortMode(KipPort::MadiPortMode portMode);
    void sendMadiRedundantState(uchar madiPort, KipPort::MadiRedundantState redundantState);
    void sendMadiSmux(uchar madiPort, bool smux);
    void sendOptocorePhase(uchar incdec);
    void sendOptocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted);

    // Sends a message through the send queue; the message is used during the call only.
    void sendMessage(Common::SerialMessage *message);

private slots:
    void restartAfterFpgaUpdate();

private:
    // The update jobs carry the update flow on the port's line and timers.
    friend class CodeUpdateJob;
    friend class FpgaUpdateJob;

    void setLinkState(LinkState state);
    void handleMessage(const Common::SerialMessage &message);
    void handleHardwareStatus(const Common::SerialMessage &message);
    void reportDiscardedBytes(const QByteArray &discarded);
    void startBootLoader(bool sendAutoBaud);
    void requestBootLoader();
    void startFpgaUpdate(const QString &fileName);
    void sendByteCommand(int type, int param, uchar value);
    void routeReceivedData(bool toBootLoader);
    void discardUpdater();
    void finishBootLoaderSession(bool successful);
    template <typename Job>
    Job *replaceJob(Job *&slot, Job *next);

    QString codeFile;
    KipConnection *kipConnection = nullptr;
    Common::Updater *updater = nullptr;
    CodeUpdateJob *codeJob = nullptr;
    FpgaUpdateJob *fpgaJob = nullptr;
    UpdateJob *latestJob = nullptr;
    Common::FrameScanner scanner;
    HardwareStatus status;
    quint8 syncSourceCode = 253;
    bool syncIsAuto = true;
    KipSendQueue *queue = nullptr;
    QTimer *keepAlive = nullptr;
    QTimer *watchdog = nullptr;
    QTimer *handBack = nullptr;
    int receivedCount = 0;
    int sentCount = 0;
    int receiveErrorCount = 0;
    int sendErrorCount = 0;
    bool logStatus = false;
    bool statusOutstanding = false;
    // An updater reports its result once; a second answer from a card that was probed
    // twice after its reset must not end the same update again.
    bool updaterResultTaken = false;
    // Watchdog expiries in a row with nothing at all heard from the card.
    int silentWatchdogExpiries = 0;
};

} // namespace EMS

Q_DECLARE_METATYPE(EMS::SyncLockState)
Q_DECLARE_METATYPE(EMS::KipPort::KipCardType)
