#include "link/kipport.h"

#include "common/logcategories.h"
#include "link/kipconnection.h"
#include "link/kipsendqueue.h"
#include "link/fpgadownloader.h"
#include "link/bootloaderupdater.h"
#include "link/codeupdatejob.h"
#include "link/fpgaupdatejob.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <cstring>

namespace EMS {

namespace {

constexpr int KeepAliveIntervalMs = 1000;
constexpr int WatchdogIntervalMs = 3000;
constexpr int FpgaKeepAliveIntervalMs = 3000;
constexpr int FpgaWatchdogIntervalMs = 9000;
constexpr int HandBackDelayMs = 100;
// A card that polls do not reach may sit in its boot loader, half an image in it (an
// update that failed), where framed requests get no answer. After this many watchdog
// expiries without a byte from it the port probes for a boot loader again. One or two
// are not enough: a slow card's late status replies still arrive within them.
constexpr int SilentWatchdogsBeforeReprobe = 3;
// Zero bytes complete any frame the card's reader still waits on, and a boot loader
// skips them between packets: both then hear the next thing sent from its start.
constexpr int ResyncZeroBytes = 256;
constexpr int MaxCutPayload = 248;

constexpr int TypeError = 2;
constexpr int TypeBootLoader = 4;
constexpr int TypeEcho = 5;
constexpr int TypeKipStatus = 30;
constexpr int TypeClearToSend = 50;

// "hex:" and each byte in lower-case hex without leading zeros: 55 0A 00 -> hex: 55 a 0
QString rawLogText(const QByteArray &data)
{
    QString text = QStringLiteral("hex:");
    for (char byte : data)
        text += QLatin1Char(' ') + QString::number(quint8(byte), 16);
    return text;
}

int signedByte(const QByteArray &data, int index)
{
    return index < data.size() ? int(qint8(data.at(index))) : 0;
}

quint8 unsignedByte(const QByteArray &data, int index)
{
    return index < data.size() ? quint8(data.at(index)) : 0;
}

bool flagByte(const QByteArray &data, int index)
{
    return unsignedByte(data, index) != 0;
}

int bcd(quint8 value)
{
    return (value & 0x0F) + (value >> 4) * 10;
}

} // namespace

bool KipPort::HardwareStatus::operator==(const HardwareStatus &other) const
{
    return std::memcmp(this, &other, sizeof(HardwareStatus)) == 0;
}

QString KipPort::HardwareStatus::fpgaVersionText() const
{
    return QString::fromLatin1(fpgaVersion, int(qstrnlen(fpgaVersion, sizeof(fpgaVersion))));
}

KipPort::KipPort(QObject *parent, int slotIndex, EngineMessenger *engineMessenger)
    : QObject(parent)
    , codeFile(QCoreApplication::applicationDirPath() + QStringLiteral("/quorix_kip.bin"))
{
    qRegisterMetaType<EMS::SyncLockState>("EMS::SyncLockState");
    qRegisterMetaType<EMS::KipPort::KipCardType>("KipPort::KipCardType");
    qRegisterMetaType<EMS::KipPort::KipCardType>("EMS::KipPort::KipCardType");
    qRegisterMetaType<QSerialPort::SerialPortError>("QSerialPort::SerialPortError");
    qRegisterMetaType<EMS::KipPort::DeviceType>("KipPort::DeviceType");
    // The card's one-byte codes travel as plain ints under their own names.
    for (const char *name : {"KipPort::RackType", "KipPort::RackCardType", "KipPort::MadiPortMode",
                             "KipPort::SampleRateOverride", "KipPort::MadiRedundantState"})
        qRegisterMetaType<int>(name);

    kipConnection = new KipConnection(this, slotIndex, engineMessenger);
    connect(kipConnection, &KipConnection::connectedChanged, this, &KipPort::connectedChanged);
    connect(kipConnection, &KipConnection::statusMessage, this, &KipPort::statusMessage);
    connect(kipConnection, &KipConnection::serialError, this, &KipPort::serialPortError);

    queue = new KipSendQueue(kipConnection, this);

    keepAlive = new QTimer(this);
    keepAlive->setTimerType(Qt::PreciseTimer);
    keepAlive->setInterval(KeepAliveIntervalMs);
    connect(keepAlive, &QTimer::timeout, this, &KipPort::keepAliveTimeout);

    watchdog = new QTimer(this);
    watchdog->setTimerType(Qt::PreciseTimer);
    watchdog->setInterval(WatchdogIntervalMs);
    connect(watchdog, &QTimer::timeout, this, &KipPort::watchdogTimeout);

    handBack = new QTimer(this);
    handBack->setSingleShot(true);
    handBack->setInterval(HandBackDelayMs);
    handBack->setTimerType(Qt::PreciseTimer);
    connect(handBack, &QTimer::timeout, this, &KipPort::restartAfterCodeUpdate);
}

KipPort::~KipPort()
{
    delete updater;
}

// ---------------------------------------------------------------------------------
// Card types

namespace {

struct CardTypeInfo
{
    KipPort::KipCardType type;
    const char *name;
    int inputs;
    int outputs;
};

const CardTypeInfo cardTypes[] = {
    {KipPort::MadiBnc, "madi", 64, 64},      {KipPort::Adc, "adc", 16, 0},
    {KipPort::Dac, "dac", 0, 16},            {KipPort::Aes, "aes", 16, 16},
    {KipPort::MadiCat5, "madi", 64, 64},     {KipPort::Waves, "waves", 64, 64},
    {KipPort::Aviom, "aviom", 0, 16},        {KipPort::Dante, "dante", 64, 64},
    {KipPort::Optocore, "optocore", 128, 128}, {KipPort::Hydra, "hydra", 128, 128},
};

// Any other code, NoCard included, has no name and no channels.
const CardTypeInfo *cardTypeInfo(KipPort::KipCardType cardType)
{
    for (const CardTypeInfo &info : cardTypes) {
        if (info.type == cardType)
            return &info;
    }
    return nullptr;
}

} // namespace

QString KipPort::cardTypeName(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? QString::fromLatin1(info->name) : QString();
}

int KipPort::inputChannelCount(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? info->inputs : 0;
}

int KipPort::outputChannelCount(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? info->outputs : 0;
}

bool KipPort::isDualMadi(KipCardType cardType)
{
    return cardType == MadiBnc || cardType == MadiCat5;
}

QString KipPort::syncSourceName() const
{
    switch (syncSourceCode) {
    case 255:
        return QStringLiteral("kip-clock");
    case 254:
        return QStringLiteral("word-clock");
    case 253:
        return QStringLiteral("free-run");
    default:
        break;
    }
    const KipCardType type = cardType();
    if (isDualMadi(type))
        return QStringLiteral("madi ") + QChar(QLatin1Char('A').unicode() + syncSourceCode);
    if (type == Aes)
        return QStringLiteral("aes ") + QString::number(syncSourceCode + 1);
    if (type == Adc || type == Dac)
        return QString();
    return cardTypeName(type);
}

int KipPort::slotIndex() const
{
    return kipConnection->slotIndex();
}

QString KipPort::serialPortName() const
{
    return kipConnection->portName();
}

bool KipPort::isConnectionOpen() const
{
    return kipConnection->isOpen();
}

// ---------------------------------------------------------------------------------
// Lifecycle and keep-alive

void KipPort::setSerialPortName(QString portName)
{
    kipConnection->setPortName(portName);
}

void KipPort::connectSerialPort()
{
    kipConnection->open();
    setLinkState(LinkProbing);
    startBootLoader(true);
    keepAlive->start();
}

void KipPort::disconnectSerialPort()
{
    kipConnection->close();
    keepAlive->stop();
    watchdog->stop();
    setLinkState(LinkClosed);
}

void KipPort::keepAliveTimeout()
{
    if (!kipConnection->isOpen())
        return;
    if (updater) {
        // No card has answered yet, or the card is restarting: probe again.
        updater->autoBaud();
        return;
    }
    requestStatus();
    if (statusOutstanding)
        queue->release(); // the card's "clear to send" may have been lost
    else
        statusOutstanding = true;
}

void KipPort::watchdogTimeout()
{
    if (!kipConnection->isOpen()) {
        setLinkState(LinkClosed);
        return;
    }
    emit statusMessage(tr("Card removed from KIP %1").arg(slotIndex() + 1));
    if (linkState() == LinkConnected) {
        silentWatchdogExpiries = 0;
        setLinkState(LinkProbing);
        startBootLoader(true);
        return;
    }
    // Polling after a hand-back that nothing answers: the card may be in its boot loader.
    if (linkState() == LinkProbing && !updater
        && ++silentWatchdogExpiries >= SilentWatchdogsBeforeReprobe) {
        silentWatchdogExpiries = 0;
        startBootLoader(true);
    }
}

void KipPort::logStatusMessages(bool logged)
{
    logStatus = logged;
}

void KipPort::setLinkState(LinkState state)
{
    if (status.linkState == state)
        return;
    status.linkState = state;
    if ((state == LinkProbing || state == LinkClosed) && status.cardType != NoCard) {
        qCWarning(lcLink).noquote() << QStringLiteral("KIPPort: KIP %1 connection timed out").arg(slotIndex() + 1);
        status.cardType = NoCard;
        status.firmwareVersion = 0;
        status.temperature = 0;
        std::memset(status.fpgaVersion, 0, sizeof(status.fpgaVersion));
        emit kipCardTypeChanged(NoCard);
        emit hardwareStatusChanged();
        return;
    }
    emit hardwareStatusChanged();
}

// ---------------------------------------------------------------------------------
// Receiving

void KipPort::receiveSerialEngineData(QByteArray data)
{
    if (data.size() <= 3)
        return;
    emit kipConnection->dataReceived(KipConnection::unwrapEngineData(data));
}

void KipPort::receiveKipData(QByteArray data)
{
    if (data.isEmpty())
        return;
    const QVector<Common::FrameScanner::Item> items = scanner.feed(data);
    for (const Common::FrameScanner::Item &item : items) {
        if (item.hasMessage) {
            silentWatchdogExpiries = 0;
            const Common::SerialMessage &message = item.message;
            handleMessage(message);
            const bool isPolling = message.type == TypeKipStatus || message.type == TypeClearToSend;
            if (!isPolling || logStatus)
                emit logDataReceived(message.toString());
            emit messagesReceived(++receivedCount);
            setLinkState(LinkConnected);
        }
        if (!item.discarded.isEmpty())
            reportDiscardedBytes(item.discarded);
    }
}

void KipPort::reportDiscardedBytes(const QByteArray &discarded)
{
    emit errorsReceived(++receiveErrorCount);
    emit statusMessage(tr("KIP Rx Data Error: ") + QString::fromLatin1(discarded.toHex())
                       + tr(" ignored"));
}

void KipPort::receiveBootLoaderData(QByteArray data)
{
    if (data.isEmpty() || !updater)
        return;
    silentWatchdogExpiries = 0;
    updater->receiveData(data);
    setLinkState(LinkBootLoader);
    emit logDataReceived(rawLogText(data));
}

void KipPort::handleMessage(const Common::SerialMessage &message)
{
    const int p = message.param;
    const QByteArray &d = message.data;
    switch (message.type) {
    case TypeError:
        // The card rejected a frame of ours; a run of zero bytes lets its scanner
        // find the start of the next frame again.
        sendRawData(QByteArray(ResyncZeroBytes, '\0'));
        emit errorsSent(++sendErrorCount);
        break;
    case TypeEcho:
        emit echoReceived(d);
        break;
    case TypeKipStatus:
        handleHardwareStatus(message);
        break;
    case 31:
        emit rackDataReceived(p, d);
        break;
    case 33:
        syncIsAuto = p != 0;
        syncSourceCode = unsignedByte(d, 0);
        emit kipSyncSourceChanged(syncSourceName(), syncIsAuto);
        break;
    case 35:
        emit madiTransmitModeChanged(p, signedByte(d, 1), flagByte(d, 0));
        break;
    case 36:
        emit deviceTypeChanged(p, DeviceType(signedByte(d, 0)));
        break;
    case 37:
        emit inputSampleRateChanged(p, d.size() >= 4 ? qFromLittleEndian<quint32>(d.constData()) : 0);
        break;
    case 38:
        emit kipCardStatusChanged(KipCardType(p), d);
        if (p == Hydra)
            emit hydraIdChanged(signedByte(d, 0));
        break;
    case 39: {
        if (p == KipFpgaUpdater::StepErase) {
            // The card has erased its flash (or refused to): from now on it is busy
            // writing, so poll it gently. Set before the downloader sees the reply,
            // because a refusal ends the update and puts the normal rhythm back.
            keepAlive->start(FpgaKeepAliveIntervalMs);
            watchdog->start(FpgaWatchdogIntervalMs);
        }
        if (fpgaJob)
            fpgaJob->receiveReply(message);
        break;
    }
    case 40:
        emit rackTypeChanged(p, signedByte(d, 0));
        break;
    case 41:
        emit rackSlotChanged(p, signedByte(d, 0), signedByte(d, 1));
        break;
    case 42:
        emit rackCodeDateChanged(p, quint8(bcd(unsignedByte(d, 0))), quint8(bcd(unsignedByte(d, 1))),
                                 quint16(bcd(unsignedByte(d, 2)) * 100 + bcd(unsignedByte(d, 3))));
        break;
    case 43:
        emit rackVoltageChanged(p, signedByte(d, 0), signedByte(d, 1), unsignedByte(d, 2) / 10.0f);
        break;
    case 44:
        emit controlViaAudioChanged(p, flagByte(d, 0));
        break;
    case 45:
        emit inputSRCChanged(p, flagByte(d, 0));
        break;
    case 47: {
        QByteArray version = d;
        emit optocoreVersionReceived(version);
        break;
    }
    case 48:
        emit optocoreMessageReceived(d);
        break;
    case 49: {
        Common::SerialMessage update(49, p, d);
        emit optocoreUpdateMessage(&update);
        break;
    }
    case TypeClearToSend:
        queue->release();
        break;
    case 51:
        emit clockLockedChanged(p, flagByte(d, 0));
        break;
    case 52:
        emit sampleRateOverrideChanged(signedByte(d, 0));
        break;
    case 53:
        emit madiPortModeChanged(signedByte(d, 0));
        break;
    case 54:
        emit madiRedundantStateChanged(p, signedByte(d, 0));
        break;
    case 55:
        emit madiSmuxChanged(p, flagByte(d, 0));
        break;
    case 58:
        emit optocoreChannelCountsReceived(quint8(p), unsignedByte(d, 0), unsignedByte(d, 1));
        break;
    default:
        break;
    }
}

void KipPort::handleHardwareStatus(const Common::SerialMessage &message)
{
    const QByteArray &d = message.data;
    HardwareStatus next;
    next.linkState = status.linkState;
    next.cardType = signedByte(d, 0);
    next.firmwareVersion = unsignedByte(d, 1);
    next.temperature = unsignedByte(d, 2);
    for (int i = 0; i < 10; ++i)
        next.fpgaVersion[i] = char(unsignedByte(d, 3 + i));
    next.fpgaVersion[10] = '\0';
    next.sampleRate = d.size() >= 17 ? qFromLittleEndian<quint32>(d.constData() + 13) : 0;
    next.master = d.size() >= 18 ? d.at(17) != 0 : false;

    if (next.cardType != status.cardType) {
        status = next;
        emit kipCardTypeChanged(KipCardType(next.cardType));
        emit hardwareStatusChanged();
    } else if (next != status) {
        status = next;
        emit hardwareStatusChanged();
    }
    watchdog->start();
    statusOutstanding = false;
}

// ---------------------------------------------------------------------------------
// Sending

void KipPort::sendMessage(Common::SerialMessage *message)
{
    if (!message)
        return;
    const QByteArray frame = message->encode();
    if (frame.isEmpty()) {
        // A frame whose length byte cannot describe it would desynchronise the card.
        qCWarning(lcLink).noquote() << QStringLiteral("KIP Port: %1 message with %2 payload bytes not sent: too long for a frame")
                                    .arg(Common::SerialMessage::typeName(message->type))
                                    .arg(message->data.size());
        return;
    }
    queue->send(frame);
    if (message->type != TypeKipStatus || logStatus)
        emit logDataTransmitted(message->toString());
    emit messagesSent(++sentCount);
}

void KipPort::sendRawData(QByteArray data)
{
    kipConnection->writeData(data);
    emit logDataTransmitted(rawLogText(data));
    emit messagesSent(++sentCount);
}

void KipPort::sendByteCommand(int type, int param, uchar value)
{
    Common::SerialMessage message(type, param, QByteArray(1, char(value)));
    sendMessage(&message);
}

void KipPort::requestStatus()
{
    Common::SerialMessage message(TypeKipStatus, 0, QByteArray());
    sendMessage(&message);
}

void KipPort::restart()
{
    Common::SerialMessage message(1, 0, QByteArray());
    sendMessage(&message);
}

void KipPort::sendEcho(QByteArray data)
{
    Common::SerialMessage message(TypeEcho, 0, data.left(MaxCutPayload));
    sendMessage(&message);
}

void KipPort::sendQuorixControl(uchar madiPort, QByteArray data)
{
    Common::SerialMessage message(31, madiPort, data.left(MaxCutPayload));
    sendMessage(&message);
}

void KipPort::sendAesInputConvert(uchar socketNumber, uchar value)
{
    sendByteCommand(45, socketNumber, value);
}

void KipPort::sendAesOutputSampleRate(uchar socketNumber, uchar value)
{
    sendByteCommand(46, socketNumber, value);
}

void KipPort::sendRoute(int destPort, int destSignal, int sourcePort, int sourceSignal)
{
    // Port 0 is the card itself, at 1024 and up; ports from 1 on are 64 signals each.
    const auto address = [](int port, int signal) {
        return quint16(port == 0 ? signal + 1024 : (port + 19) * 64 + signal);
    };
    QByteArray payload(4, '\0');
    qToBigEndian<quint16>(address(destPort, destSignal), payload.data());
    qToBigEndian<quint16>(address(sourcePort, sourceSignal), payload.data() + 2);
    Common::SerialMessage message(32, 0, payload);
    sendMessage(&message);
}

void KipPort::sendSyncSource(signed char syncSource)
{
    Common::SerialMessage message(33, syncSource == -1 ? 1 : 0, QByteArray(1, char(syncSource)));
    sendMessage(&message);
}

void KipPort::sendTransmitMode(uchar madiPort, uchar transmitMode)
{
    // Mode 0 follows the received MADI format: the first byte says so.
    QByteArray payload;
    payload.append(char(transmitMode == 0 ? 1 : 0));
    payload.append(char(transmitMode));
    Common::SerialMessage message(35, madiPort, payload);
    sendMessage(&message);
}

void KipPort::sendControlViaAudio(uchar madiPort, bool viaAudio)
{
    sendByteCommand(44, madiPort, viaAudio ? 1 : 0);
}

void KipPort::requestCardStatus()
{
    Common::SerialMessage message(38, 0, QByteArray());
    sendMessage(&message);
}

void KipPort::requestInputSampleRates()
{
    Common::SerialMessage message(37, 0, QByteArray());
    sendMessage(&message);
}

void KipPort::sendNetworkId(int id)
{
    switch (cardType()) {
    case Optocore: {
        QByteArray setId = QByteArray::fromHex("080000ff");
        setId.append(char(id));
        setId.append(char(~id));
        setId.append(QByteArray::fromHex("55aa"));
        sendOptocoreCommand(setId);
        sendOptocoreCommand(QByteArray::fromHex("048000ff"));
        break;
    }
    case Hydra:
        sendByteCommand(56, 0, uchar(id));
        break;
    default:
        break;
    }
}

void KipPort::sendOptocoreVersionRequest()
{
    Common::SerialMessage message(47, 0, QByteArray());
    sendMessage(&message);
}

void KipPort::sendOptocoreCommand(QByteArray data)
{
    // The Optocore module checks its own sum over the command bytes.
    quint8 sum = 0;
    for (char byte : qAsConst(data))
        sum = quint8(sum + quint8(byte));
    data.append(char(sum));
    Common::SerialMessage message(48, 0, data);
    sendMessage(&message);
}

void KipPort::sendSampleRateOverride(SampleRateOverride override)
{
    sendByteCommand(52, 0, uchar(override));
}

void KipPort::sendMadiPortMode(MadiPortMode portMode)
{
    sendByteCommand(53, 0, uchar(portMode));
}

void KipPort::sendMadiRedundantState(uchar madiPort, MadiRedundantState redundantState)
{
    sendByteCommand(54, madiPort, uchar(redundantState));
}

void KipPort::sendMadiSmux(uchar madiPort, bool smux)
{
    sendByteCommand(55, madiPort, smux ? 1 : 0);
}

void KipPort::sendOptocorePhase(uchar incdec)
{
    sendByteCommand(57, 0, incdec);
}

void KipPort::sendOptocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted)
{
    QByteArray payload;
    payload.append(char(inserted));
    payload.append(char(extracted));
    Common::SerialMessage message(58, madiPort, payload);
    sendMessage(&message);
}

// ---------------------------------------------------------------------------------
// Code update through the boot loader

void KipPort::routeReceivedData(bool toBootLoader)
{
    disconnect(kipConnection, &KipConnection::dataReceived, this, &KipPort::receiveKipData);
    disconnect(kipConnection, &KipConnection::dataReceived, this, &KipPort::receiveBootLoaderData);
    if (toBootLoader) {
        connect(kipConnection, &KipConnection::dataReceived, this, &KipPort::receiveBootLoaderData);
    } else {
        // Whatever was half-read before the boot loader had the line is stale now; left
        // in the scanner it would be reported as junk in front of the card's first reply.
        scanner.clear();
        connect(kipConnection, &KipConnection::dataReceived, this, &KipPort::receiveKipData);
    }
}

void KipPort::startBootLoader(bool sendAutoBaud)
{
    if (!updater) {
        updater = new Common::Updater(nullptr, codeFile);
        updaterResultTaken = false;
        routeReceivedData(true);
        connect(updater, &Common::Updater::sendData, this, &KipPort::sendRawData);
        connect(updater, &Common::Updater::progress, this, &KipPort::updateProgress);
        connect(updater, &Common::Updater::finished, this, &KipPort::finishCodeUpdate);
        connect(updater, &Common::Updater::updating, this, &KipPort::updateStarted);
        connect(updater, &Common::Updater::updating, this, &KipPort::updating);
        connect(updater, &Common::Updater::statusMessage, this, &KipPort::statusMessage);
    }
    // No framed message may reach a boot loader.
    queue->block();
    queue->clear();
    if (sendAutoBaud) {
        // Not a message of ours, so neither logged nor counted: only the line's reset.
        kipConnection->writeData(QByteArray(ResyncZeroBytes, '\0'));
        updater->autoBaud();
    }
    // Otherwise the code update job starts the boot loader once it has come up.
}

void KipPort::discardUpdater()
{
    if (!updater)
        return;
    updater->disconnect(this);
    updater->deleteLater();
    updater = nullptr;
    routeReceivedData(false);
    queue->release();
}

void KipPort::requestBootLoader()
{
    keepAlive->stop();
    watchdog->stop();
    Common::SerialMessage message(TypeBootLoader, 0, QByteArray());
    sendMessage(&message);
    setLinkState(LinkBootLoader);
}

UpdateJob *KipPort::updateJob() const
{
    return latestJob && !latestJob->isFinished() ? latestJob : nullptr;
}

KipFpgaUpdater *KipPort::fpgaDownloader() const
{
    return fpgaJob ? fpgaJob->downloader() : nullptr;
}

template <typename Job>
Job *KipPort::replaceJob(Job *&slot, Job *next)
{
    if (slot) {
        slot->supersede();
        slot->deleteLater();
    }
    slot = next;
    latestJob = next;
    return next;
}

void KipPort::updateCode(QString fileName)
{
    if (!QFile::exists(fileName)) {
        qCWarning(lcLink) << "KIP Port: Code file" << fileName << "not found";
        emit statusMessage(tr("Code file not found: ") + fileName);
        return;
    }
    codeFile = fileName;
    CodeUpdateJob *job = replaceJob(codeJob, new CodeUpdateJob(this, fileName));
    job->start();
    emit updateJobStarted(job);
}

void KipPort::updateStarted(bool started)
{
    if (started) {
        keepAlive->stop();
        return;
    }
    // Once the updater's result is in, the hand-back restarts the timers; a late
    // AutoBaud from the updater must not start a second probe rhythm meanwhile.
    if (updater && updaterResultTaken)
        return;
    if (!keepAlive->isActive())
        keepAlive->start();
}

void KipPort::finishCodeUpdate(bool successful)
{
    // One update ends exactly once. After a reset the updater's own AutoBaud and the
    // keep-alive's probe can both reach the restarted card, which then answers twice;
    // only the first answer carries the update's result. Without an updater there is
    // no update to end, and stopping the timers would leave the slot deaf for good.
    if (!updater || updaterResultTaken)
        return;
    if (codeJob && !codeJob->isFinished()) {
        codeJob->takeResult(successful);
        return;
    }
    // The connection probe: a card running its application answers it with 0xAA. Its
    // end is the port's own; no update job hears of it.
    finishBootLoaderSession(successful);
}

void KipPort::finishBootLoaderSession(bool successful)
{
    if (!updater || updaterResultTaken)
        return;
    updaterResultTaken = true;
    keepAlive->stop();
    watchdog->stop();
    if (successful)
        emit statusMessage(tr("Code update successful"));
    handBack->start();
    emit updateFinished(successful);
}

void KipPort::restartAfterCodeUpdate()
{
    if (updater) {
        routeReceivedData(false);
        emit updating(false);
        updater->disconnect(this);
        updater->deleteLater();
        updater = nullptr;
    }
    keepAlive->start();
    watchdog->start();
    setLinkState(LinkProbing);
    queue->release();
}

// ---------------------------------------------------------------------------------
// FPGA update

void KipPort::updateFpga(QString fileName)
{
    if (!QFile::exists(fileName)) {
        emit statusMessage(tr("FPGA file not found: ") + fileName);
        return;
    }
    // The card erases its flash now: no status traffic until it answers. Stopped
    // before the download starts, so a download that fails at once leaves the timers
    // as its failure set them.
    keepAlive->stop();
    watchdog->stop();
    startFpgaUpdate(fileName);
    if (!fpgaDownloader()) {
        // The file went away between the two looks: nothing runs, keep listening.
        keepAlive->start(KeepAliveIntervalMs);
        watchdog->start(WatchdogIntervalMs);
    }
}

void KipPort::startFpgaUpdate(const QString &fileName)
{
    if (!QFile::exists(fileName)) {
        emit statusMessage(tr("File not found: ") + fileName);
        return;
    }
    // A download already running starts over from its first packet, as one job.
    if (fpgaDownloader()) {
        fpgaJob->start();
        return;
    }
    FpgaUpdateJob *job = replaceJob(fpgaJob, new FpgaUpdateJob(this, fileName));
    job->start();
    emit updateJobStarted(job);
}

void KipPort::finishFpgaUpdate(bool successful)
{
    if (fpgaJob)
        fpgaJob->finishDownload(successful);
}

void KipPort::restartAfterFpgaUpdate()
{
    if (fpgaJob)
        fpgaJob->finishRestart();
}

} // namespace EMS
