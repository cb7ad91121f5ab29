// The card simulator's parts where the end-to-end tests would not notice them going
// wrong: the boot loader's answers to bad input and the pseudo-terminal's limits.
#include "link/serialmessage.h"
#include "sim/bootloaderemulator.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "support/simulatedcard.h"
#include "update/bootpacket.h"

#include <QSignalSpy>
#include <QtTest>

using Common::BootPacket;

namespace {

QByteArray packet(int code, const QByteArray &data = QByteArray()) { return BootPacket(code, data).encode(); }

QByteArray download(quint32 address, quint32 size)
{
    QByteArray data(8, '\0');
    qToBigEndian(address, data.data());
    qToBigEndian(size, data.data() + 4);
    return packet(BootPacket::Download, data);
}

} // namespace

class CardSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    // Answers in hex, one per answer, blank-separated; cc is Ack, 33 Nak, then GetStatus's status.
    void bootLoaderAnswers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray status = packet(BootPacket::GetStatus);
        QTest::newRow("bad checksum") << QByteArray::fromHex("032120") << QByteArray("33");
        QTest::newRow("Download with a short size") << QByteArray::fromHex("07212100000000") << QByteArray("33");
        QTest::newRow("size bytes no packet has") << QByteArray::fromHex("020150") << QByteArray("33 33 33");
        QTest::newRow("unknown command") << QByteArray::fromHex("033030") + status << QByteArray("cc cc 034141");
        QTest::newRow("data without Download") << packet(BootPacket::SendData, QByteArray(64, 'x')) + status
                                               << QByteArray("cc cc 034242");
        QTest::newRow("Download larger than the flash") << download(0, BootLoaderEmulator::FlashSize + 64) + status
                                                        << QByteArray("cc cc 034343");
        QTest::newRow("data past the announced end")
            << download(0, 100) + packet(BootPacket::SendData, QByteArray(64, 'a'))
                   + packet(BootPacket::SendData, QByteArray(64, 'b')) + status
            << QByteArray("cc cc cc cc 034343");
        QTest::newRow("address wraps past the flash") << download(0xFFFFFFC0u, 128) + status << QByteArray("cc cc 034343");
        QTest::newRow("host acks and padding are silent") << QByteArray::fromHex("0000cc3300") << QByteArray();
        QTest::newRow("split packet") << QByteArray::fromHex("0320") << QByteArray();
    }
    void bootLoaderAnswers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        BootLoaderEmulator loader;
        QSignalSpy out(&loader, &BootLoaderEmulator::bytesToHost);
        loader.receiveBytes(input);
        QByteArrayList answers;
        for (const QList<QVariant> &call : out)
            answers << call.at(0).toByteArray().toHex();
        QCOMPARE(answers.join(' '), expected);
    }

    // A host that sends AutoBaud in the same write as its "boot loader" request reaches
    // the boot loader with it.
    void bytesBehindBootLoaderRequest()
    {
        CardSimulator card;
        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, card.portName()));
        port.write(Common::SerialMessage(4, 0, QByteArray()).encode() + QByteArray::fromHex("5555"));
        QTRY_VERIFY(card.isInBootLoader());
        QByteArray answer;
        QTRY_VERIFY((answer += port.readAll()).contains(char(0xCC)));
        QVERIFY(!answer.contains(char(0xAA)));
    }

    // Replies written before the controller opens the port are not echoed back into the
    // simulator's own input, and can be dropped. A host that never reads leaves a bounded
    // backlog instead of growing or blocking.
    void pseudoTerminalBacklog()
    {
        PseudoTerminal pty;
        QSignalSpy received(&pty, &PseudoTerminal::bytesReceived);
        QVERIFY(pty.write(QByteArray("\x55\x55\r\n", 4)));
        QVERIFY(!received.wait(100));
        pty.discardUnreadByHost();
        {
            QSerialPort port;
            QVERIFY(SimTest::openCardPort(port, pty.slavePath()));
            QVERIFY(!port.waitForReadyRead(50));
        }
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
