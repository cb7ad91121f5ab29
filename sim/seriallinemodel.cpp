#include "sim/seriallinemodel.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace {

constexpr qint64 NsPerMs = 1000000;

} // namespace

SerialLineModel::SerialLineModel(QObject *parent, Clock clock)
    : QObject(parent), clock(std::move(clock)), toCardTimer(new QTimer(this)), toHostTimer(new QTimer(this))
{
    if (!this->clock) {
        auto elapsed = std::make_shared<QElapsedTimer>();
        elapsed->start();
        this->clock = [elapsed] { return elapsed->nsecsElapsed(); };
    }
    // The card and the controller both time their exchanges in milliseconds; a coarse
    // timer could shift a byte by 5 % of the wait.
    for (QTimer *timer : {toCardTimer, toHostTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(toCardTimer, &QTimer::timeout, this, &SerialLineModel::deliverToCard);
    connect(toHostTimer, &QTimer::timeout, this, &SerialLineModel::deliverToHost);
}

qint64 SerialLineModel::wireTimeNs(qint64 count)
{
    return count * BitsPerByte * 1000000000 / BaudRate;
}

void SerialLineModel::setLatencyMs(int milliseconds)
{
    latency = qBound(MinLatencyMs, milliseconds, MaxLatencyMs);
}

int SerialLineModel::bytesOnTheWayToHost() const
{
    int count = openPacket.bytes.size();
    for (const Packet &packet : closedPackets)
        count += packet.bytes.size();
    return count;
}

void SerialLineModel::sendFromHost(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // The adapter's transmitter starts on the bytes at once when it is idle, else right
    // behind what it is still sending; the card has each byte one byte time later.
    const qint64 start = qMax(now(), toCardLineFreeNs);
    for (int i = 0; i < bytes.size(); ++i)
        toCardArrivals.enqueue(start + wireTimeNs(i + 1));
    toCardBytes.append(bytes);
    toCardLineFreeNs = toCardArrivals.last();
    if (!toCardTimer->isActive())
        schedule(toCardTimer, toCardArrivals.head(), now());
}

void SerialLineModel::deliverToCard()
{
    const qint64 nowNs = now();
    while (!toCardArrivals.isEmpty() && toCardArrivals.head() <= nowNs) {
        cardTimeNs = toCardArrivals.dequeue();
        const char byte = toCardBytes.at(0);
        toCardBytes.remove(0, 1);
        emit byteAtCard(byte);
    }
    cardTimeNs = -1;
    if (!toCardArrivals.isEmpty())
        schedule(toCardTimer, toCardArrivals.head(), nowNs);
    else
        toCardTimer->stop();
}

void SerialLineModel::sendFromCard(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 start = qMax(cardTimeNs >= 0 ? cardTimeNs : now(), toHostLineFreeNs);
    const qint64 latencyNs = latency * NsPerMs;
    for (int i = 0; i < bytes.size(); ++i) {
        const qint64 arrival = start + wireTimeNs(i + 1);
        // The latency timer ran out before this byte came: what the adapter held went.
        if (!openPacket.bytes.isEmpty() && arrival > openPacket.dueNs)
            closeOpenPacket(openPacket.dueNs);
        if (openPacket.bytes.isEmpty())
            openPacket.dueNs = arrival + latencyNs;
        openPacket.bytes.append(bytes.at(i));
        if (openPacket.bytes.size() == UsbPacketBytes)
            closeOpenPacket(arrival);
    }
    toHostLineFreeNs = start + wireTimeNs(bytes.size());
    deliverToHost();
}

void SerialLineModel::closeOpenPacket(qint64 dueNs)
{
    openPacket.dueNs = dueNs;
    closedPackets.enqueue(openPacket);
    openPacket = Packet();
}

void SerialLineModel::deliverToHost()
{
    const qint64 nowNs = now();
    if (!openPacket.bytes.isEmpty() && openPacket.dueNs <= nowNs)
        closeOpenPacket(openPacket.dueNs);
    while (!closedPackets.isEmpty() && closedPackets.head().dueNs <= nowNs)
        emit packetAtHost(closedPackets.dequeue().bytes);
    if (!closedPackets.isEmpty())
        schedule(toHostTimer, closedPackets.head().dueNs, nowNs);
    else if (!openPacket.bytes.isEmpty())
        schedule(toHostTimer, openPacket.dueNs, nowNs);
    else
        toHostTimer->stop();
}

void SerialLineModel::schedule(QTimer *timer, qint64 dueNs, qint64 nowNs)
{
    // Whole milliseconds, rounded up: a byte is never handed over before it is due.
    timer->start(int((qMax<qint64>(0, dueNs - nowNs) + NsPerMs - 1) / NsPerMs));
}

void SerialLineModel::clear()
{
    toCardTimer->stop();
    toHostTimer->stop();
    toCardBytes.clear();
    toCardArrivals.clear();
    closedPackets.clear();
    openPacket = Packet();
    toCardLineFreeNs = 0;
    toHostLineFreeNs = 0;
    cardTimeNs = -1;
}
