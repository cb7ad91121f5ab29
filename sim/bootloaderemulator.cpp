#include "sim/bootloaderemulator.h"

#include "link/framefields.h"

#include <QtEndian>

namespace {

constexpr quint8 AutoBaud = 0x55;
constexpr quint8 Ack = 0xCC;
constexpr quint8 Nak = 0x33;
constexpr quint8 Ping = 0x20;
constexpr quint8 Download = 0x21;
constexpr quint8 Run = 0x22;
constexpr quint8 GetStatus = 0x23;
constexpr quint8 SendData = 0x24;
constexpr quint8 Reset = 0x25;
constexpr int BlockSize = 64;
constexpr int LargestPacket = 3 + BlockSize;

// The size byte each command must carry; 0 for codes the loader does not know.
int commandSize(quint8 code)
{
    switch (code) {
    case Ping:
    case GetStatus:
    case Reset:
        return 3;
    case Download:
        return 11;
    case Run:
        return 7;
    case SendData:
        return LargestPacket;
    default:
        return 0;
    }
}

} // namespace

BootLoaderEmulator::BootLoaderEmulator(QObject *parent) : QObject(parent)
{
}

void BootLoaderEmulator::restart()
{
    buffer.clear();
    received.clear();
    announced = 0;
    address = 0;
    downloading = false;
    spoiled = false;
    status = Success;
    leaving = false;
}

void BootLoaderEmulator::receiveBytes(const QByteArray &bytes)
{
    buffer.append(bytes);
    leaving = false;
    while (!buffer.isEmpty() && !leaving) {
        if (!takeNext())
            break;
    }
    // After a Reset the application owns the link; what followed in the same block is
    // not the boot loader's to read.
    if (leaving)
        buffer.clear();
}

// Takes one unit from the buffer; false when it needs more bytes.
bool BootLoaderEmulator::takeNext()
{
    const quint8 first = quint8(buffer.at(0));
    if (first == 0 || first == Ack || first == Nak) {
        buffer.remove(0, 1);
        return true;
    }
    if (first == AutoBaud) {
        if (buffer.size() < 2)
            return false;
        if (quint8(buffer.at(1)) == AutoBaud) {
            buffer.remove(0, 2);
            sendAck();
        } else {
            buffer.remove(0, 1);
        }
        return true;
    }
    if (first < 3 || first > LargestPacket) {
        buffer.remove(0, 1);
        sendNak();
        return true;
    }
    if (buffer.size() < first)
        return false;

    const QByteArray packet = buffer.left(first);
    buffer.remove(0, first);
    const quint8 code = quint8(packet.at(2));
    const QByteArray data = packet.mid(3);
    const quint8 sum = quint8(code + Common::byteSum(data));

    const int size = commandSize(code);
    const bool sizeFits = size == 0 ? first == 3 : size == first;
    if (naksToSend > 0) {
        --naksToSend;
        sendNak();
    } else if (sum != quint8(packet.at(1)) || !sizeFits) {
        sendNak();
    } else {
        ++taken;
        carryOut(code, data);
    }
    return true;
}

void BootLoaderEmulator::carryOut(quint8 code, const QByteArray &data)
{
    sendAck();
    switch (code) {
    case Ping:
        status = Success;
        break;
    case Download: {
        const quint32 start = qFromBigEndian<quint32>(data.constData());
        const quint32 size = qFromBigEndian<quint32>(data.constData() + 4);
        if (size > FlashSize || start > FlashSize - size) {
            status = BadAddress;
            downloading = false;
            break;
        }
        address = start;
        announced = size;
        received.clear();
        received.reserve(int(size));
        downloading = true;
        spoiled = false;
        status = Success;
        break;
    }
    case SendData: {
        if (!downloading) {
            status = BadCommand;
            break;
        }
        const int room = int(announced) - received.size();
        received.append(data.left(room));
        // More data than was announced is refused, as a flash past its end would be.
        status = data.size() <= room ? Success : BadAddress;
        break;
    }
    case GetStatus: {
        quint8 reply = status;
        if (statusOverride != 0) {
            reply = statusOverride;
            statusOverride = 0;
        }
        if (reply != Success)
            spoiled = true;
        QByteArray packet(3, char(reply));
        packet[0] = 3;
        emit bytesToHost(packet);
        break;
    }
    case Reset:
    case Run:
        leaving = true;
        emit resetRequested();
        break;
    default:
        status = UnknownCommand;
        break;
    }
}

void BootLoaderEmulator::sendAck()
{
    emit bytesToHost(QByteArray(1, char(Ack)));
}

void BootLoaderEmulator::sendNak()
{
    ++naks;
    emit bytesToHost(QByteArray(1, char(Nak)));
}
