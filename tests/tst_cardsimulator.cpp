// The card simulator's parts where the end-to-end tests would not notice them going
// wrong: the boot loader's answers to bad input, fault switches that only delay or
// pad, and the pseudo-terminal's limits.
#include "sim/bootloaderemulator.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "support/simulatedcard.h"
#include "update/bootpacket.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using Common::BootPacket;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

QByteArray packet(int code, const QByteArray &data = QByteArray())
{
    return BootPacket(code, data).encode();
}

QByteArray download(quint32 address, quint32 size)
{
    QByteArray data(8, '\0');
    qToBigEndian(address, data.data());
    qToBigEndian(size, data.data() + 4);
    return packet(BootPacket::Download, data);
}

// Everything the emulator answered, one entry per answer.
QList<QByteArray> answers(const QSignalSpy &spy)
{
    QList<QByteArray> list;
    for (const QList<QVariant> &call : spy)
        list.append(call.at(0).toByteArray());
    return list;
}

const QByteArray Ack = bytes({0xCC});
const QByteArray Nak = bytes({0x33});

} // namespace

class CardSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    void bootLoaderAnswers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("expected");

        QTest::newRow("AutoBaud") << bytes({0x55, 0x55}) << QList<QByteArray>{Ack};
        QTest::newRow("Ping, GetStatus") << packet(BootPacket::Ping) + packet(BootPacket::GetStatus)
                                         << QList<QByteArray>{Ack, Ack, bytes({3, 0x40, 0x40})};
        QTest::newRow("bad checksum") << bytes({3, 0x21, 0x20}) << QList<QByteArray>{Nak};
        QTest::newRow("Download with a short size") << bytes({7, 0x21, 0x21, 0, 0, 0, 0}) << QList<QByteArray>{Nak};
        QTest::newRow("size bytes no packet has") << bytes({2, 1, 0x50}) << QList<QByteArray>{Nak, Nak, Nak};
        QTest::newRow("unknown command") << bytes({3, 0x30, 0x30}) + packet(BootPacket::GetStatus)
                                         << QList<QByteArray>{Ack, Ack, bytes({3, 0x41, 0x41})};
        QTest::newRow("data without Download")
            << packet(BootPacket::SendData, QByteArray(64, 'x')) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x42, 0x42})};
        QTest::newRow("Download larger than the flash")
            << download(0, BootLoaderEmulator::FlashSize + 64) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x43, 0x43})};
        QTest::newRow("data past the announced end")
            << download(0, 100) + packet(BootPacket::SendData, QByteArray(64, 'a'))
                   + packet(BootPacket::SendData, QByteArray(64, 'b')) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, Ack, Ack, bytes({3, 0x43, 0x43})};
        QTest::newRow("address wraps past the flash") << download(0xFFFFFFC0u, 128) + packet(BootPacket::GetStatus)
                                                      << QList<QByteArray>{Ack, Ack, bytes({3, 0x43, 0x43})};
        QTest::newRow("host acks and padding are silent") << bytes({0, 0, 0xCC, 0x33, 0}) << QList<QByteArray>{};
        QTest::newRow("split packet") << bytes({3, 0x20}) << QList<QByteArray>{};
    }

    void bootLoaderAnswers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, expected);
        BootLoaderEmulator loader;
        QSignalSpy out(&loader, &BootLoaderEmulator::bytesToHost);
        loader.receiveBytes(input);
        QCOMPARE(answers(out), expected);
    }

    // Answers leave late, in order, each behind the junk asked for.
    void junkAndLatencyBeforeAnswers()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        card.setJunkBeforeReplies(bytes({1, 2}));
        card.setReplyLatency(150);
        QSerialPort host;
        QVERIFY(SimTest::openCardPort(host, card.portName()));
        QByteArray received;
        connect(&host, &QSerialPort::readyRead, [&] { received += host.readAll(); });
        QElapsedTimer clock;
        clock.start();
        // Ping, then GetStatus: three answers.
        host.write(packet(BootPacket::Ping) + packet(BootPacket::GetStatus));
        QTRY_COMPARE(received.toHex(' '), bytes({1, 2, 0xCC, 1, 2, 0xCC, 1, 2, 3, 0x40, 0x40}).toHex(' '));
        QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    }

    // Replies written before the controller opens the port are not echoed back into the
    // simulator's own input, and can be dropped.
    void noEchoBeforeTheHostOpens()
    {
        PseudoTerminal pty;
        QSignalSpy received(&pty, &PseudoTerminal::bytesReceived);
        QVERIFY(pty.write(QByteArray("\x55\x55\r\n", 4)));
        QVERIFY(!received.wait(100));
        pty.discardUnreadByHost();

        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, pty.slavePath()));
        QVERIFY(!port.waitForReadyRead(50));
    }

    // A host that never reads: the simulator keeps a bounded backlog instead of growing
    // or blocking.
    void backlogIsBounded()
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
