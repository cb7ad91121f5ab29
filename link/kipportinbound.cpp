// What the card port makes of each message the card sends: it keeps the card's state and
// turns the message into the port's notifications. The bytes are read by InboundDecoder.
#include "link/kipport.h"

#include "link/fpgadownloader.h"
#include "link/fpgaupdatejob.h"
#include "link/inbounddecoder.h"
#include "link/kipsendqueue.h"

#include <QTimer>

namespace EMS {

using Common::MessageType;

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

void KipPort::handleMessage(const Common::SerialMessage &message)
{
    namespace Decode = InboundDecoder;
    const int p = message.param;
    const QByteArray &d = message.data;
    switch (message.messageType()) {
    case MessageType::Error:
        // The card rejected a frame of ours; a run of zero bytes lets its scanner
        // find the start of the next frame again.
        sendRawData(QByteArray(ResyncZeroBytes, '\0'));
        emit errorsSent(++sendErrorCount);
        break;
    case MessageType::EchoData:
        emit echoReceived(d);
        break;
    case MessageType::KipStatus:
        handleHardwareStatus(message);
        break;
    case MessageType::QuorixControl:
        emit rackDataReceived(p, d);
        break;
    case MessageType::SyncSource: {
        const Decode::SyncSource source = Decode::syncSource(message);
        syncIsAuto = source.isAuto;
        syncSourceCode = source.code;
        emit kipSyncSourceChanged(syncSourceName(), syncIsAuto);
        break;
    }
    case MessageType::TransmitMode: {
        const Decode::TransmitMode mode = Decode::transmitMode(message);
        emit madiTransmitModeChanged(p, mode.mode, mode.trackReceived);
        break;
    }
    case MessageType::DeviceType:
        emit deviceTypeChanged(p, DeviceType(Decode::signedByte(d, 0)));
        break;
    case MessageType::InputSampleRate:
        emit inputSampleRateChanged(p, Decode::inputSampleRate(message));
        break;
    case MessageType::CardStatus:
        emit kipCardStatusChanged(KipCardType(p), d);
        if (p == Hydra)
            emit hydraIdChanged(Decode::signedByte(d, 0));
        break;
    case MessageType::UpdateFpga: {
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
    case MessageType::RackType:
        emit rackTypeChanged(p, Decode::signedByte(d, 0));
        break;
    case MessageType::RackSlotType: {
        const Decode::RackSlot slot = Decode::rackSlot(message);
        emit rackSlotChanged(p, slot.slot, slot.cardType);
        break;
    }
    case MessageType::RackCodeDate: {
        const Decode::RackCodeDate date = Decode::rackCodeDate(message);
        emit rackCodeDateChanged(p, date.day, date.month, date.year);
        break;
    }
    case MessageType::RackVoltage: {
        const Decode::RackVoltage supply = Decode::rackVoltage(message);
        emit rackVoltageChanged(p, supply.psu, supply.nominalVolts, supply.volts);
        break;
    }
    case MessageType::ControlViaAudio:
        emit controlViaAudioChanged(p, Decode::flagByte(d, 0));
        break;
    case MessageType::InputSrc:
        emit inputSRCChanged(p, Decode::flagByte(d, 0));
        break;
    case MessageType::OptocoreVersion: {
        QByteArray version = d;
        emit optocoreVersionReceived(version);
        break;
    }
    case MessageType::OptocoreCommand:
        emit optocoreMessageReceived(d);
        break;
    case MessageType::OptocoreUpdate: {
        Common::SerialMessage update(MessageType::OptocoreUpdate, p, d);
        emit optocoreUpdateMessage(&update);
        break;
    }
    case MessageType::ClearToSend:
        queue->release();
        break;
    case MessageType::RxClockLocked:
        emit clockLockedChanged(p, Decode::flagByte(d, 0));
        break;
    case MessageType::SampleRateOverride:
        emit sampleRateOverrideChanged(Decode::signedByte(d, 0));
        break;
    case MessageType::MadiMode:
        emit madiPortModeChanged(Decode::signedByte(d, 0));
        break;
    case MessageType::RedundantState:
        emit madiRedundantStateChanged(p, Decode::signedByte(d, 0));
        break;
    case MessageType::MadiSmux:
        emit madiSmuxChanged(p, Decode::flagByte(d, 0));
        break;
    case MessageType::OptocoreChannelCount: {
        const Decode::ChannelCounts counts = Decode::optocoreChannelCounts(message);
        emit optocoreChannelCountsReceived(quint8(p), counts.inserted, counts.extracted);
        break;
    }
    default:
        break;
    }
}

void KipPort::handleHardwareStatus(const Common::SerialMessage &message)
{
    const HardwareStatus next = InboundDecoder::hardwareStatus(message, status.linkState);
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

} // namespace EMS
