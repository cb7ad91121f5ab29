#include "link/bootloaderupdater.h"

#include "common/logcategories.h"
#include <QDebug>
#include <QFileInfo>
#include <QTimer>
#include <QtEndian>

namespace Common {

Updater::Updater(QObject *parent, const QString &fileName)
    : QObject(parent), file(fileName), autoBaudDelay(new QTimer(this))
{
    autoBaudDelay->setSingleShot(true);
    autoBaudDelay->setInterval(AutoBaudDelayMs);
    // A coarse timer may probe up to 50 ms early, while the card is still restarting.
    autoBaudDelay->setTimerType(Qt::PreciseTimer);
    connect(autoBaudDelay, &QTimer::timeout, this, &Updater::autoBaud);
}

Updater::~Updater() = default;

void Updater::send(const BootPacket &packet)
{
    current = std::make_unique<BootPacket>(packet);
    emit sendData(packet.encode());
}

void Updater::autoBaud()
{
    started = true;
    emit updating(false);
    send(BootPacket(BootPacket::AutoBaud));
}

void Updater::start()
{
    started = true;
    // A boot loader that answers AutoBaud in the middle of a download (the adapter was
    // pulled and plugged back, the card restarted) has lost its place: its image
    // starts again with a fresh Download. Going on with the next block would leave a
    // hole that nothing on the card notices, and the update would end as a success.
    if (file.isOpen())
        file.close();
    if (!QFile::exists(file.fileName())) {
        qCWarning(lcUpdate).noquote() << "Updater: Firmware file" << file.fileName()
                             << "not found in filesystem. Attempting to update from resource system";
        emit statusMessage(tr("Firmware file %1 not found in filesystem. Attempting to update from resource system")
                               .arg(file.fileName()));
        file.setFileName(QStringLiteral(":/firmware/%1").arg(QFileInfo(file.fileName()).fileName()));
        if (file.size() == 0) {
            qCWarning(lcUpdate).noquote() << "Updater: No firmware file" << file.fileName() << "found in resource system";
            emit statusMessage(tr("No firmware found in resource system"));
            finishDownload(false);
            return;
        }
    } else if (file.size() == 0) {
        // Writing nothing and then reporting success would leave the card's program as
        // it was while the user reads "Update successful".
        qCWarning(lcUpdate).noquote() << "Updater: Firmware file" << file.fileName() << "is empty";
        emit statusMessage(tr("Firmware file %1 is empty").arg(file.fileName()));
        finishDownload(false);
        return;
    }
    qCDebug(lcUpdate).noquote() << "Updater: Updating firmware using" << file.fileName();
    send(BootPacket(BootPacket::Ping));
}

void Updater::receiveData(QByteArray data)
{
    int leadingZeros = 0;
    while (leadingZeros < data.size() && data.at(leadingZeros) == '\0')
        ++leadingZeros;
    data.remove(0, leadingZeros);
    if (data.isEmpty())
        return;

    rxBuffer.append(data);
    while (!rxBuffer.isEmpty()) {
        const quint8 first = quint8(rxBuffer.at(0));
        BootPacket packet;
        if (first == 0) {
            // The boot loader may pad before any packet, and serial reads join its
            // answers arbitrarily: zeros can sit between two packets of one block. No
            // packet has size 0, so they are skipped rather than taken as a bad packet
            // (which would clear the buffer and lose the answer behind them).
            rxBuffer.remove(0, 1);
            continue;
        }
        if (first == BootPacket::NotBootLoader || first == BootPacket::CommandAck
            || first == BootPacket::CommandNak) {
            packet = BootPacket::decode(rxBuffer.left(1));
            rxBuffer.remove(0, 1);
        } else if (current && current->code == BootPacket::AutoBaud) {
            // The boot loader is still locking onto the baud rate: what it sends before
            // its answer is noise.
            rxBuffer.remove(0, 1);
            continue;
        } else {
            const int size = first;
            if (rxBuffer.size() < size)
                return;
            packet = BootPacket::decode(rxBuffer.left(size));
            rxBuffer.remove(0, size);
        }

        if (packet.valid) {
            handlePacket(packet);
        } else {
            QString dump;
            for (char byte : data)
                dump += QString::number(quint8(byte), 16) + QLatin1Char(' ');
            emit statusMessage(tr("Updater received %1 invalid bytes:").arg(data.size()) + dump);
            rxBuffer.clear();
        }
    }
}

void Updater::handlePacket(const BootPacket &packet)
{
    switch (packet.code) {
    case BootPacket::NotBootLoader:
        emit finished(successful);
        successful = false;
        return;
    case BootPacket::CommandAck:
        onAck();
        break;
    case BootPacket::CommandNak:
        onNak();
        break;
    default:
        onReply(packet);
        break;
    }

    if (!current) {
        if (!started)
            return;
        if (file.isOpen()) {
            if (file.atEnd())
                finishDownload(true);
            else
                sendNextBlock();
        } else {
            startDownload();
        }
    } else if (current->state == BootPacket::Failed) {
        finishDownload(false);
    }
}

void Updater::onAck()
{
    retries = 0;
    if (!current || current->state != BootPacket::AwaitAck)
        return;
    switch (current->code) {
    case BootPacket::GetStatus:
        current->state = BootPacket::AwaitStatus;
        break;
    case BootPacket::AutoBaud:
        // The boot loader has locked onto the baud rate.
        current.reset();
        start();
        break;
    default:
        current.reset();
        send(BootPacket(BootPacket::GetStatus));
        break;
    }
}

void Updater::onNak()
{
    if (!current || current->state != BootPacket::AwaitAck)
        return;
    if (retries < MaxResends) {
        ++retries;
        const BootPacket again = *current;
        send(again);
        return;
    }
    current->state = BootPacket::Failed;
    emit updating(false);
    emit statusMessage(tr("Update aborted: too many retries"));
    qCWarning(lcUpdate) << "Updater: Updater aborted: Too many retries";
}

void Updater::onReply(const BootPacket &reply)
{
    emit sendData(BootPacket(BootPacket::CommandAck).encode());
    if (!current || current->state != BootPacket::AwaitStatus)
        return;
    if (reply.code == BootPacket::Success) {
        current.reset();
        return;
    }
    current->state = BootPacket::Failed;
    emit statusMessage(tr("Update aborted: received %1 in reply to %2").arg(reply.describe(), current->describe()));
    emit updating(false);
}

void Updater::startDownload()
{
    qCDebug(lcUpdate) << "Updater: Start download";
    if (!file.open(QIODevice::ReadOnly)) {
        // Without this the next Success would land here again and the card would be
        // sent Download after Download.
        qCWarning(lcUpdate).noquote() << "Updater: Cannot read firmware file" << file.fileName() << file.errorString();
        emit statusMessage(tr("Cannot read firmware file %1").arg(file.fileName()));
        finishDownload(false);
        return;
    }

    const quint64 blocks = (quint64(file.size()) + BootPacket::BlockSize - 1) / BootPacket::BlockSize;
    const quint32 transferSize = quint32(blocks * BootPacket::BlockSize);
    QByteArray data(8, '\0');
    qToBigEndian<quint32>(0, data.data());
    qToBigEndian<quint32>(transferSize, data.data() + 4);
    send(BootPacket(BootPacket::Download, data));

    emit statusMessage(tr("Download started"));
    emit progress(0);
    emit updating(true);
}

void Updater::sendNextBlock()
{
    QByteArray block = file.read(BootPacket::BlockSize);
    if (block.isEmpty()) {
        // Not at the end, yet nothing to read: padding alone would be sent forever.
        qCWarning(lcUpdate).noquote() << "Updater: Cannot read firmware file" << file.fileName() << file.errorString();
        emit statusMessage(tr("Cannot read firmware file %1").arg(file.fileName()));
        finishDownload(false);
        return;
    }
    block.append(QByteArray(BootPacket::BlockSize - block.size(), char(0xFF)));
    send(BootPacket(BootPacket::SendData, block));

    const qint64 position = file.pos();
    const qint64 size = file.size();
    emit statusMessage(tr("Downloaded %1").arg(position));
    // The last block reports just under 100; finishDownload reports 100.
    emit progress(size > 0 ? int(((position - 1) * 100) / size) : 100);
    emit updating(true);
}

void Updater::finishDownload(bool ok)
{
    qCDebug(lcUpdate) << "Updater: Finished download";
    file.close();
    successful = ok;
    send(BootPacket(BootPacket::Reset));
    if (ok) {
        emit statusMessage(tr("Update successful. Resetting"));
        emit progress(100);
    }
    autoBaudDelay->start();
    emit updating(false);
}

} // namespace Common
