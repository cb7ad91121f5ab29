#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QVector>

#include <functional>

class QTimer;

// The line between the controller and a card as it behaves with real hardware, for a
// simulator whose pseudo-terminal would otherwise hand over every byte at once.
//
// - Both directions run at 115200 baud 8N1: ten bits, 86.8 µs, a byte. A byte from the
//   host reaches the card when its stop bit is in, and the card sees each byte at that
//   moment, so it acts on a frame only once the frame's last byte has arrived.
// - The card's bytes reach the host the way an FTDI USB serial adapter passes them on:
//   the adapter collects them and sends a USB packet when it holds 62, or when its
//   latency timer runs out with fewer. The timer starts with the first byte into an empty
//   buffer, so a short reply always waits the whole period (16 ms unless set lower):
//   the slow case of the chip, whose timer also runs between packets.
//
// Time is kept in nanoseconds on a clock that tests may replace; the two timers only
// wake the model when something is due, and tests fire them by hand. Bytes the card
// sends while it is being handed a byte leave at that byte's arrival time, not at the
// moment the timer happened to run, so timer lateness does not add up along a
// request/reply chain.
class SerialLineModel : public QObject
{
    Q_OBJECT

public:
    static constexpr int BaudRate = 115200;
    static constexpr int BitsPerByte = 10; // start, 8 data, stop
    static constexpr int UsbPacketBytes = 62; // a 64-byte USB packet less the 2 modem status bytes
    static constexpr int DefaultLatencyMs = 16;
    static constexpr int MinLatencyMs = 1;
    static constexpr int MaxLatencyMs = 255;

    using Clock = std::function<qint64()>; // nanoseconds, never going back

    explicit SerialLineModel(QObject *parent = nullptr, Clock clock = Clock());

    // The wire time of count bytes.
    static qint64 wireTimeNs(qint64 count);

    // The adapter's latency timer, clamped to 1-255 ms as the driver takes it.
    void setLatencyMs(int milliseconds);
    int latencyMs() const { return latency; }

    // The host wrote these bytes to the adapter now.
    void sendFromHost(const QByteArray &bytes);
    // The card starts sending these bytes now (or, while it is being handed a byte, at
    // that byte's arrival).
    void sendFromCard(const QByteArray &bytes);
    // Forgets everything on the way (the adapter is pulled, the card power-cycled).
    void clear();

    // Wakes the model when the next byte reaches the card.
    QTimer *cardTimer() const { return toCardTimer; }
    // Wakes the model when the adapter's next packet is due.
    QTimer *hostTimer() const { return toHostTimer; }
    int bytesOnTheWayToCard() const { return int(toCardBytes.size()); }
    int bytesOnTheWayToHost() const;

signals:
    // One byte, at the moment its stop bit reaches the card.
    void byteAtCard(char byte);
    // One USB packet of the adapter, as the host's driver receives it.
    void packetAtHost(QByteArray bytes);

private:
    struct Packet
    {
        qint64 dueNs = 0;
        QByteArray bytes;
    };

    qint64 now() const { return clock(); }
    void deliverToCard();
    void deliverToHost();
    void closeOpenPacket(qint64 dueNs);
    static void schedule(QTimer *timer, qint64 dueNs, qint64 nowNs);

    Clock clock;
    int latency = DefaultLatencyMs;
    QTimer *toCardTimer;
    QTimer *toHostTimer;

    // Host to card: each byte with the time its stop bit arrives.
    QByteArray toCardBytes;
    QQueue<qint64> toCardArrivals;
    qint64 toCardLineFreeNs = 0;
    // While a byte is being handed to the card: its arrival, the card's "now".
    qint64 cardTimeNs = -1;

    // Card to host: the packets the adapter has closed, and the one it is filling.
    QQueue<Packet> closedPackets;
    Packet openPacket; // dueNs: its latency deadline
    qint64 toHostLineFreeNs = 0;
};
