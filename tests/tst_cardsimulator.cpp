// The card simulator where the end-to-end tests would not notice it going wrong.
#include "link/framescanner.h"
#include "link/serialmessage.h"
#include "sim/bootloaderemulator.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "support/simulatedcard.h"
#include "link/bootpacket.h"

#include <QtTest>

using Common::BootPacket;
using Common::MessageType;
using Common::SerialMessage;

namespace {

QByteArray frame(MessageType type, int param, const QByteArray &data = {}) { return SerialMessage(type, param, data).encode(); }
QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }
QByteArray packet(int code, const QByteArray &data = QByteArray()) { return BootPacket(code, data).encode(); }

// What the card sent, read as the host reads it: "type param payload-hex" per frame, bytes
// outside frames as "junk <hex>", "clear to send" left out.
QStringList replies(const QByteArray &out)
{
    QStringList lines;
    for (const auto &item : Common::FrameScanner().feed(out + frame(MessageType::EchoData, 0xEE))) {
        if (!item.discarded.isEmpty())
            lines << "junk " + QString::fromLatin1(item.discarded.toHex());
        if (item.hasMessage && item.message.messageType() != MessageType::ClearToSend)
            lines << QStringLiteral("%1 %2 ").arg(item.message.type).arg(item.message.param) + item.message.data.toHex();
    }
    if (lines.isEmpty() || lines.takeLast() != "5 238 ")
        lines << "end marker lost";
    return lines;
}

} // namespace

class CardSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void firmwareAnswers_data()
    {
        QTest::addColumn<int>("fault"); // FPGA text fault
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("replies");
        const auto row = [](const char *name, const QList<QByteArray> &chunks, const QStringList &replies,
                            int fault = CardFirmware::FpgaTextAsIs) { QTest::newRow(name) << fault << chunks << replies; };
        // A frame the card cannot take is answered with "error"; until a run of 16 zero bytes
        // the card takes nothing, not even a good frame.
        row("bad checksum", {hex("031e0022"), frame(MessageType::EchoData, 0, "a"), QByteArray(256, '\0') + frame(MessageType::EchoData, 0, "b")},
            {"2 0 ", "5 0 62"});
        row("15 zeros do not resynchronise", {hex("02"), QByteArray(15, '\0') + frame(MessageType::EchoData, 0, "b")}, {"2 0 "});
        row("16 zeros do", {hex("02"), QByteArray(16, '\0') + frame(MessageType::EchoData, 0, "b")}, {"2 0 ", "5 0 62"});
        // The application answers AutoBaud with AA.
        row("probe between frames", {frame(MessageType::EchoData, 0, "a") + hex("5555") + frame(MessageType::EchoData, 0, "b")}, {"5 0 61", "junk aa", "5 0 62"});
        // An FPGA image is installed only when every packet came and the sum agrees.
        const QByteArray image = QByteArray("ab 2015/01/09").leftJustified(128, '\0');
        row("FPGA image, wrong sum", {frame(MessageType::UpdateFpga, 0, hex("0001")), frame(MessageType::UpdateFpga, 1, hex("0000") + image), frame(MessageType::UpdateFpga, 2, hex("02d4")),
                                      hex("031e0021")},
            {"39 0 00", "39 1 000000", "39 2 02", "30 0 140c2a56322e3100000000000080bb000001"});
        row("FPGA text unterminated", {hex("031e0021")}, {"30 0 140c2a4142434445464748494a80bb000001"},
            CardFirmware::FpgaTextUnterminated);
    }
    void firmwareAnswers()
    {
        QFETCH(int, fault);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, replies);
        CardFirmware firmware;
        firmware.resetState(20);
        firmware.state().fpgaVersion = "V2.1";
        firmware.setFpgaTextFault(CardFirmware::FpgaTextFault(fault));
        QByteArray out;
        connect(&firmware, &CardFirmware::bytesToHost, this, [&out](const QByteArray &bytes) { out += bytes; });
        for (const QByteArray &chunk : chunks)
            firmware.receiveBytes(chunk);
        QCOMPARE(::replies(out), replies);
    }

    // The host's send gate closes after 512 bytes and opens on "clear to send": the card
    // says it often enough for the largest frames, unless told not to.
    void hostSendGate()
    {
        for (const bool suppressed : {false, true}) {
            CardFirmware firmware;
            firmware.setClearToSendSuppressed(suppressed);
            int inFlight = 0, sent = 0;
            connect(&firmware, &CardFirmware::bytesToHost, this, [&](const QByteArray &b) {
                if (SerialMessage(b).messageType() == MessageType::ClearToSend)
                    inFlight = 0;
            });
            for (const QByteArray echo = frame(MessageType::EchoData, 0, QByteArray(252, 'e')); sent < 300 && inFlight <= 512; ++sent) {
                inFlight += echo.size();
                firmware.receiveBytes(echo);
            }
            QCOMPARE(sent == 300, !suppressed);
            QCOMPARE(firmware.errorsSent(), 0);
        }
    }

    // The boot loader naks a bad checksum, and acks data past the announced end but fails
    // the download (cc is Ack, 33 Nak, then GetStatus's status).
    void bootLoaderAnswers()
    {
        const auto answers = [](const QByteArray &input) {
            BootLoaderEmulator loader;
            QByteArrayList out;
            QObject::connect(&loader, &BootLoaderEmulator::bytesToHost, [&out](const QByteArray &b) { out << b.toHex(); });
            loader.receiveBytes(input);
            return out.join(' ');
        };
        QCOMPARE(answers(hex("032120")), QByteArray("33"));
        QByteArray download(8, '\0');
        qToBigEndian(quint32(100), download.data() + 4);
        QCOMPARE(answers(packet(BootPacket::Download, download) + packet(BootPacket::SendData, QByteArray(64, 'a'))
                         + packet(BootPacket::SendData, QByteArray(64, 'b')) + packet(BootPacket::GetStatus)),
                 QByteArray("cc cc cc cc 034343"));
    }

    // AutoBaud in the same write as the "boot loader" request reaches the boot loader.
    void bytesBehindBootLoaderRequest()
    {
        CardSimulator card;
        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, card.portName()));
        port.write(frame(MessageType::BootLoader, 0) + hex("5555"));
        QTRY_VERIFY(card.isInBootLoader());
        QByteArray answer;
        QTRY_VERIFY((answer += port.readAll()).contains(char(0xCC)));
        QVERIFY(!answer.contains(char(0xAA)));
    }

    // A host that never reads leaves a bounded backlog that can be dropped.
    void pseudoTerminalBacklog()
    {
        PseudoTerminal pty;
        int accepted = 0;
        for (int i = 0; i < 40; ++i)
            accepted += pty.write(QByteArray(64 * 1024, 'x')) ? 1 : 0;
        QVERIFY(accepted < 40);
        QVERIFY(pty.pendingBytes() <= PseudoTerminal::MaxPendingBytes);
        pty.discardUnreadByHost();
        QCOMPARE(pty.pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(CardSimulatorTest)
#include "tst_cardsimulator.moc"
