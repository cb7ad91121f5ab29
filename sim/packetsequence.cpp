#include "sim/packetsequence.h"

#include "link/loadererrors.h"

#include <QtEndian>

using EMS::LoaderAck;
using EMS::LoaderFileSizeError;
using EMS::LoaderPacketLengthError;

void PacketSequence::start(int packetCount)
{
    reset();
    active = true;
    count = packetCount;
}

QByteArray PacketSequence::answer(quint8 result, int packetNumber)
{
    QByteArray reply;
    reply.append(char(result));
    char number[2];
    qToBigEndian(quint16(packetNumber), number);
    reply.append(number, 2);
    return reply;
}

QByteArray PacketSequence::take(const QByteArray &payload)
{
    if (payload.size() < 2)
        return answer(LoaderPacketLengthError, next - 1);
    const int number = qFromBigEndian<quint16>(payload.constData());
    const int size = int(payload.size()) - 2;
    if (!active || number >= count)
        return answer(LoaderFileSizeError, number);
    if (number != next)
        return answer(LoaderAck, next - 1);
    const bool last = number == count - 1;
    if (size > PacketSize || size == 0 || (!last && size != PacketSize))
        return answer(LoaderPacketLengthError, number);
    data.append(payload.mid(2));
    ++next;
    return answer(LoaderAck, number);
}
