#include "link/kipport.h"

#include "common/logcategories.h"
#include "link/bootloaderupdater.h"
#include "link/kipcommands.h"
#include "link/kipconnection.h"
#include "link/kipsendqueue.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cstring>

namespace EMS {

namespace {

// A card that polls do not reach may sit in its boot loader, half an image in it (an
// update that failed), where framed requests get no answer. After this many watchdog
// expiries without a byte from it the port probes for a boot loader again. One or two
// are not enough: a slow card's late status replies still arrive within them.
constexpr int SilentWatchdogsBeforeReprobe = 3;

using Common::MessageType;

// "hex:" and each byte in lower-case hex without leading zeros: 55 0A 00 -> hex: 55 a 0
QString rawLogText(const QByteArray &data)
{
    QString text = QStringLiteral("hex:");
    for (char byte : data)
        text += QLatin1Char(' ') + QString::number(quint8(byte), 16);
    return text;
}

} // namespace

KipPort::KipPort(QObject *parent, int slotIndex, EngineMessenger *engineMessenger)
    : KipPort(parent, slotIndex, engineMessenger, nullptr)
{
}

KipPort::KipPort(QObject *parent, int slotIndex, EngineMessenger *engineMessenger, ByteTransport *transport)
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

    kipConnection = new KipConnection(this, slotIndex, engineMessenger, transport);
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
            const bool isPolling = message.messageType() == MessageType::KipStatus
                || message.messageType() == MessageType::ClearToSend;
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
    if (message->messageType() != MessageType::KipStatus || logStatus)
        emit logDataTransmitted(message->toString());
    emit messagesSent(++sentCount);
}

void KipPort::sendRawData(QByteArray data)
{
    kipConnection->writeData(data);
    emit logDataTransmitted(rawLogText(data));
    emit messagesSent(++sentCount);
}

void KipPort::send(const Common::SerialMessage &message)
{
    Common::SerialMessage copy = message;
    sendMessage(&copy);
}

void KipPort::requestStatus() { send(KipCommands::statusRequest()); }
void KipPort::restart() { send(KipCommands::restart()); }
void KipPort::sendEcho(QByteArray data) { send(KipCommands::echo(data)); }
void KipPort::sendQuorixControl(uchar madiPort, QByteArray data) { send(KipCommands::quorixControl(madiPort, data)); }
void KipPort::sendAesInputConvert(uchar socketNumber, uchar value)
{
    send(KipCommands::aesInputConvert(socketNumber, value));
}
void KipPort::sendAesOutputSampleRate(uchar socketNumber, uchar value)
{
    send(KipCommands::aesOutputSampleRate(socketNumber, value));
}
void KipPort::sendRoute(int destPort, int destSignal, int sourcePort, int sourceSignal)
{
    send(KipCommands::route(destPort, destSignal, sourcePort, sourceSignal));
}
void KipPort::sendSyncSource(signed char syncSource) { send(KipCommands::syncSource(syncSource)); }
void KipPort::sendTransmitMode(uchar madiPort, uchar transmitMode)
{
    send(KipCommands::transmitMode(madiPort, transmitMode));
}
void KipPort::sendControlViaAudio(uchar madiPort, bool viaAudio)
{
    send(KipCommands::controlViaAudio(madiPort, viaAudio));
}
void KipPort::requestCardStatus() { send(KipCommands::cardStatusRequest()); }
void KipPort::requestInputSampleRates() { send(KipCommands::inputSampleRateRequest()); }
void KipPort::sendNetworkId(int id)
{
    if (cardType() == Optocore) {
        for (const Common::SerialMessage &message : KipCommands::optocoreNetworkId(id))
            send(message);
    } else if (cardType() == Hydra) {
        send(KipCommands::hydraNetworkId(id));
    }
}
void KipPort::sendOptocoreVersionRequest() { send(KipCommands::optocoreVersionRequest()); }
void KipPort::sendOptocoreCommand(QByteArray data) { send(KipCommands::optocoreCommand(data)); }
void KipPort::sendSampleRateOverride(SampleRateOverride override) { send(KipCommands::sampleRateOverride(override)); }
void KipPort::sendMadiPortMode(MadiPortMode portMode) { send(KipCommands::madiPortMode(portMode)); }
void KipPort::sendMadiRedundantState(uchar madiPort, MadiRedundantState redundantState)
{
    send(KipCommands::madiRedundantState(madiPort, redundantState));
}
void KipPort::sendMadiSmux(uchar madiPort, bool smux) { send(KipCommands::madiSmux(madiPort, smux)); }
void KipPort::sendOptocorePhase(uchar incdec) { send(KipCommands::optocorePhase(incdec)); }
void KipPort::sendOptocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted)
{
    send(KipCommands::optocoreChannelCounts(madiPort, inserted, extracted));
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
        kipConnection->writeData(QByteArray(KipPort::ResyncZeroBytes, '\0'));
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
    Common::SerialMessage message(MessageType::BootLoader, 0, QByteArray());
    sendMessage(&message);
    setLinkState(LinkBootLoader);
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

} // namespace EMS
