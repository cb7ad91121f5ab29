#include "link/kipsendqueue.h"

#include "link/kipconnection.h"

#include <QMutexLocker>

namespace EMS {

KipSendQueue::KipSendQueue(KipConnection *connection, QObject *parent)
    : QObject(parent), connection(connection)
{
}

void KipSendQueue::send(const QByteArray &frame)
{
    QMutexLocker lock(&mutex);
    if (sendGateOpen)
        writeLocked(frame);
    else
        frames.append(frame);
}

void KipSendQueue::release()
{
    QMutexLocker lock(&mutex);
    sendGateOpen = true;
    bytesSinceRelease = 0;
    while (!frames.isEmpty() && sendGateOpen)
        writeLocked(frames.takeFirst());
}

void KipSendQueue::block()
{
    QMutexLocker lock(&mutex);
    sendGateOpen = false;
}

void KipSendQueue::clear()
{
    QMutexLocker lock(&mutex);
    frames.clear();
}

bool KipSendQueue::isGateOpen() const
{
    QMutexLocker lock(&mutex);
    return sendGateOpen;
}

int KipSendQueue::queuedFrames() const
{
    QMutexLocker lock(&mutex);
    return frames.size();
}

int KipSendQueue::bytesSentSinceRelease() const
{
    QMutexLocker lock(&mutex);
    return bytesSinceRelease;
}

void KipSendQueue::writeLocked(const QByteArray &frame)
{
    // The frame that crosses the budget still goes out whole; the card has room for
    // a little more than 512 bytes before it must say "clear to send".
    connection->writeData(frame);
    bytesSinceRelease += frame.size();
    if (bytesSinceRelease > ReleaseBudget)
        sendGateOpen = false;
}

} // namespace EMS
