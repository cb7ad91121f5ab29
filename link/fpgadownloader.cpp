#include "link/fpgadownloader.h"

#include "common/logcategories.h"
#include "link/loadererrors.h"

#include <QDebug>
#include <QFileInfo>
#include <QtEndian>

namespace EMS {

KipFpgaUpdater::KipFpgaUpdater(QObject *parent, const QString &fileName)
    : QObject(parent), file(fileName)
{
}

KipFpgaUpdater::~KipFpgaUpdater() = default;

QString KipFpgaUpdater::errorText(int result)
{
    return LoaderErrors::text(result);
}

void KipFpgaUpdater::start()
{
    // Every start erases the card's flash, so the image must go out again from its
    // first byte: carrying a packet number or sum over from an earlier run would leave
    // the card with half an image.
    if (file.isOpen())
        file.close();
    checksum = 0;
    packetNumber = 0;
    imageSize = 0;
    state = Idle;

    // Everything that would make the card erase its flash for nothing is refused here,
    // before the erase request goes out.
    const QString name = QFileInfo(file).fileName();
    if (!file.open(QIODevice::ReadOnly)) {
        refuse(tr("Cannot open FPGA image %1").arg(name));
        return;
    }
    const qint64 size = file.size();
    file.close();
    if (size <= 0) {
        refuse(tr("FPGA image %1 is empty").arg(name));
        return;
    }
    if (size > MaxImageSize) {
        refuse(tr("FPGA image %1 is too large: %2 bytes, at most %3 fit")
                   .arg(name).arg(size).arg(MaxImageSize));
        return;
    }

    imageSize = size;
    const int packetCount = int((size + PacketSize - 1) / PacketSize);
    state = Erasing;
    emitMessage(StepErase, Common::bigEndian16(quint16(packetCount)));
    emit statusMessage(tr("Erasing flash..."));
}

void KipFpgaUpdater::receiveMessage(Common::SerialMessage message)
{
    if (state == Idle || state == Done)
        return;

    const int result = message.data.isEmpty() ? 0 : quint8(message.data.at(0));
    if (result != 0) {
        qCDebug(lcUpdate).noquote() << "KIPFPGAUpdater: NAK Received";
        abortDownload(errorText(result));
        return;
    }

    switch (message.param) {
    case StepErase:
        if (state != Erasing) {
            qCDebug(lcUpdate).noquote() << "KIPFPGAUpdater: erase reply ignored during the download";
            return;
        }
        sendFirstPacket();
        break;
    case StepPacket: {
        if (message.data.size() < 3) {
            abortDownload(tr("Packet number not received"));
            return;
        }
        const int acknowledged = qFromBigEndian<quint16>(message.data.constData() + 1);
        if (acknowledged != packetNumber - 1) {
            abortDownload(tr("Packet number sequence error: %1 received").arg(acknowledged));
            return;
        }
        if (state == Finishing) {
            // A repeated acknowledgement of the last packet; the end message is out.
            return;
        }
        if (state != Sending) {
            abortDownload(tr("Packet number sequence error: %1 received").arg(acknowledged));
            return;
        }
        if (file.pos() >= imageSize)
            finishDownload();
        else
            sendPacket();
        break;
    }
    case StepFinish:
        if (state != Finishing) {
            // The card claims a complete image that was never completely sent: whatever
            // it holds now is not this image.
            abortDownload(tr("Image complete reply before the image was sent"));
            return;
        }
        qCDebug(lcUpdate).noquote() << "KIPFPGAUpdater: Finish Acknowledged";
        state = Done;
        emit finished(true);
        break;
    default:
        break;
    }
}

void KipFpgaUpdater::emitMessage(int step, const QByteArray &payload)
{
    // The previous message is released only now: a receiver may still have been
    // holding on to it until this point.
    pendingMessage.reset(new Common::SerialMessage(MessageType, step, payload));
    emit sendMessage(pendingMessage.get());
}

void KipFpgaUpdater::sendFirstPacket()
{
    if (!file.open(QIODevice::ReadOnly)) {
        abortDownload(tr("Cannot open FPGA image %1").arg(QFileInfo(file).fileName()));
        return;
    }
    state = Sending;
    sendPacket();
}

void KipFpgaUpdater::sendPacket()
{
    const qint64 wanted = qMin<qint64>(PacketSize, imageSize - file.pos());
    const QByteArray bytes = file.read(wanted);
    if (bytes.size() != wanted) {
        // The file shrank or became unreadable after the erase was announced.
        abortDownload(tr("FPGA image read error"));
        return;
    }

    QByteArray payload = Common::bigEndian16(quint16(packetNumber));
    payload.append(bytes);
    ++packetNumber;
    for (const char byte : bytes)
        checksum = quint16(checksum + quint8(byte));

    emitMessage(StepPacket, payload);

    const qint64 position = file.pos();
    emit statusMessage(tr("Downloaded %1").arg(position));
    emit progress(int(((position - 1) * 100) / imageSize));
}

void KipFpgaUpdater::finishDownload()
{
    qCDebug(lcUpdate).noquote() << "KipFpgaUpdater::finishDownload";
    state = Finishing;
    emitMessage(StepFinish, Common::bigEndian16(checksum));
    file.close();
    emit progress(100);
}

void KipFpgaUpdater::abortDownload(const QString &reason)
{
    file.close();
    state = Done;
    const int lastPacket = packetNumber - 1;
    qCDebug(lcUpdate).noquote().nospace() << "KIPFPGAUpdater: Aborting download: " << reason
                                 << " at packet " << lastPacket << ". Update aborted";
    emit statusMessage(tr("%1 at packet %2. Update aborted").arg(reason).arg(lastPacket));
    emit finished(false);
}

void KipFpgaUpdater::refuse(const QString &reason)
{
    file.close();
    state = Done;
    qCDebug(lcUpdate).noquote() << "KIPFPGAUpdater: Refusing download:" << reason;
    // Reported from the event loop, not from inside start(): the caller of start()
    // settles its own state (the port stops its timers for the erase) first, and the
    // failure then finds it ready to recover.
    QMetaObject::invokeMethod(this, [this, reason]() {
        emit statusMessage(reason);
        emit finished(false);
    }, Qt::QueuedConnection);
}

} // namespace EMS
