#pragma once

#include "link/serialmessage.h"

#include <QFile>
#include <QObject>
#include <QString>

#include <memory>

namespace EMS {

// Sends an FPGA image to a card in "update fpga" messages (type 39): the card erases its
// flash, takes the image in numbered 128-byte packets, acknowledging each by number, and
// finally checks a 16-bit sum of the whole image. Driven only by the card's replies; the
// card port creates one per download, feeds it every type 39 message and sends what it
// emits.
class KipFpgaUpdater : public QObject
{
    Q_OBJECT

public:
    static constexpr int MessageType = int(Common::MessageType::UpdateFpga);
    static constexpr int PacketSize = 128;
    // Packet count and packet numbers travel as 16 bits.
    static constexpr int MaxPackets = 65535;
    static constexpr qint64 MaxImageSize = qint64(MaxPackets) * PacketSize;

    enum Step { StepErase = 0, StepPacket = 1, StepFinish = 2 };

    KipFpgaUpdater(QObject *parent, const QString &fileName);
    ~KipFpgaUpdater() override;

    static QString errorText(int result);

    quint16 imageChecksum() const { return checksum; }
    int nextPacketNumber() const { return packetNumber; }

signals:
    void sendMessage(Common::SerialMessage *message);
    void progress(int percent);
    void finished(bool successful);
    void statusMessage(QString message);

public slots:
    void start();
    void receiveMessage(Common::SerialMessage message);

private:
    enum State { Idle, Erasing, Sending, Finishing, Done };

    void emitMessage(int step, const QByteArray &payload);
    void sendFirstPacket();
    void sendPacket();
    void finishDownload();
    void abortDownload(const QString &reason);
    // Ends a download that never reached the card: nothing was sent, the result is
    // reported once control is back in the event loop.
    void refuse(const QString &reason);

    QFile file;
    std::unique_ptr<Common::SerialMessage> pendingMessage;
    quint16 checksum = 0;
    int packetNumber = 0;
    // The size announced in the erase request; the download sends exactly this many
    // bytes even if the file changes on disk meanwhile.
    qint64 imageSize = 0;
    State state = Idle;
};

} // namespace EMS
