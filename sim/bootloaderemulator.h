#pragma once

#include <QByteArray>
#include <QObject>

// The card's serial boot loader, as the controller meets it on the link.
//
// - AutoBaud (55 55) is acknowledged with CC, at any time.
// - A packet is a size byte, a checksum (8-bit sum of code and data), the code and the
//   data. A packet whose checksum or size does not fit its command is refused with 33
//   (NAK) and forgotten; every other packet is acknowledged with CC and carried out.
// - Ping does nothing; Download (address, size, both 32-bit big-endian) starts a new
//   image of the announced size; SendData (64 bytes) appends to it; GetStatus is
//   answered, after its CC, with the status packet of the last command (03 40 40 when
//   it went well); Reset (and Run) leave the boot loader: resetRequested() follows the
//   CC, and the image stays available.
// - Single CC / 33 bytes from the host (its acknowledgements of status packets) and
//   zero bytes between packets are taken silently.
// - A byte that cannot start a packet (a size of 1 or 2, or one larger than any
//   command) is refused with 33 and dropped, so the loader finds the next packet.
//
// Each answer goes out in its own bytesToHost() call, so a simulator that adds noise
// or delay can do so per answer.
class BootLoaderEmulator : public QObject
{
    Q_OBJECT

public:
    enum Status : quint8 {
        Success = 0x40,
        UnknownCommand = 0x41,
        BadCommand = 0x42,
        BadAddress = 0x43,
        FlashFailure = 0x44,
    };

    // The largest image the card's flash takes; a larger Download is answered with
    // BadAddress in the status that follows.
    static constexpr quint32 FlashSize = 1u << 20;

    explicit BootLoaderEmulator(QObject *parent = nullptr);

    // Forget any partial packet and any image in progress (power cycle).
    void restart();

    // The image of the last Download, as far as it was received (at most the announced
    // size; the padding the host sends is part of it).
    QByteArray image() const { return received; }
    quint32 announcedSize() const { return announced; }
    quint32 downloadAddress() const { return address; }
    // The whole announced image arrived and no status of its download reported a
    // failure: what a card would start after its reset.
    bool isImageComplete() const { return downloading && !spoiled && quint32(received.size()) == announced; }
    quint8 lastStatus() const { return status; }
    int packetsTaken() const { return taken; }
    int naksSent() const { return naks; }

    // Fault switches.
    // Refuse the next count packets with NAK, whatever they hold (AutoBaud excepted).
    void nakNextPackets(int count) { naksToSend = qMax(0, count); }
    int pendingNaks() const { return naksToSend; }
    // Answer the next GetStatus with this status code instead of the real one.
    void failNextStatus(quint8 statusCode) { statusOverride = statusCode; }
    bool hasPendingStatusFailure() const { return statusOverride != 0; }

public slots:
    void receiveBytes(const QByteArray &bytes);

signals:
    void bytesToHost(QByteArray bytes);
    // The host reset the card (or told it to run): its application starts.
    void resetRequested();

private:
    bool takeNext();
    void carryOut(quint8 code, const QByteArray &data);
    void sendAck();
    void sendNak();

    QByteArray buffer;
    QByteArray received;
    quint32 announced = 0;
    quint32 address = 0;
    bool downloading = false;
    bool spoiled = false;
    quint8 status = Success;
    int taken = 0;
    int naks = 0;
    int naksToSend = 0;
    quint8 statusOverride = 0;
    bool leaving = false;
};
