#include "update/bootpacket.h"

#include <QtTest>

using Common::BootPacket;


static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

class BootPacketTest : public QObject
{
    Q_OBJECT

private slots:
    void encode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("Ping") << 0x20 << QByteArray() << true << int(BootPacket::AwaitAck) << bytes({0x03, 0x20, 0x20});
        QTest::newRow("GetStatus") << 0x23 << QByteArray() << true << int(BootPacket::AwaitAck)
                                   << bytes({0x03, 0x23, 0x23});
        QTest::newRow("Reset") << 0x25 << QByteArray() << true << int(BootPacket::NoReply) << bytes({0x03, 0x25, 0x25});
        QTest::newRow("ack") << 0xCC << QByteArray() << true << int(BootPacket::NoReply) << bytes({0xCC});
        QTest::newRow("nak") << 0x33 << QByteArray() << true << int(BootPacket::NoReply) << bytes({0x33});
        QTest::newRow("AutoBaud") << 0x55 << QByteArray() << true << int(BootPacket::AwaitAck) << bytes({0x55, 0x55});
        QTest::newRow("Download 128 bytes")
            << 0x21 << bytes({0, 0, 0, 0, 0, 0, 0, 0x80}) << true << int(BootPacket::AwaitAck)
            << bytes({0x0B, 0xA1, 0x21, 0, 0, 0, 0, 0, 0, 0, 0x80});
        // The checksum keeps only the low 8 bits of the sum.
        QTest::newRow("Download checksum wraps")
            << 0x21 << bytes({0, 0, 0x10, 0, 0xFF, 0xFF, 0xFF, 0xC0}) << true << int(BootPacket::AwaitAck)
            << bytes({0x0B, 0xEE, 0x21, 0, 0, 0x10, 0, 0xFF, 0xFF, 0xFF, 0xC0});
        QTest::newRow("Run") << 0x22 << bytes({0, 0, 0x20, 0}) << true << int(BootPacket::NoReply)
                             << bytes({0x07, 0x42, 0x22, 0, 0, 0x20, 0});
        QTest::newRow("Download short") << 0x21 << bytes({0, 0, 0, 0x80}) << false << int(BootPacket::AwaitAck)
                                        << QByteArray();
        QTest::newRow("SendData 65 bytes") << 0x24 << QByteArray(65, 'x') << false << int(BootPacket::AwaitAck)
                                           << QByteArray();
        QTest::newRow("unknown code") << 0x26 << QByteArray() << false << int(BootPacket::AwaitAck) << QByteArray();
        // A code without data never puts stray bytes after its size byte's promise.
        QTest::newRow("Ping with data") << 0x20 << bytes({1, 2}) << true << int(BootPacket::AwaitAck)
                                        << bytes({0x03, 0x20, 0x20});
    }
    void encode()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, data);
        QFETCH(bool, valid);
        QFETCH(int, state);
        QFETCH(QByteArray, wire);

        const BootPacket packet(code, data);
        QCOMPARE(packet.valid, valid);
        QCOMPARE(packet.state, state);
        QCOMPARE(packet.encode(), wire);
    }

    void sendDataBlock()
    {
        QByteArray block;
        for (int i = 0; i < 64; ++i)
            block.append(char(0xC0 + i));
        const QByteArray wire = BootPacket(BootPacket::SendData, block).encode();
        QCOMPARE(wire.size(), 67);
        QCOMPARE(quint8(wire.at(0)), quint8(67));
        QCOMPARE(quint8(wire.at(2)), quint8(0x24));
        QCOMPARE(wire.mid(3), block);
        int sum = 0x24;
        for (char b : block)
            sum += quint8(b);
        QCOMPARE(quint8(wire.at(1)), quint8(sum & 0xFF));

        // What the host encodes, the same decoder accepts.
        const BootPacket back = BootPacket::decode(wire);
        QVERIFY(back.valid);
        QCOMPARE(back.code, int(BootPacket::SendData));
        QCOMPARE(back.data, block);
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("state");

        QTest::newRow("empty") << QByteArray() << false << 0 << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("ack") << bytes({0xCC}) << true << 0xCC << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("nak") << bytes({0x33}) << true << 0x33 << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("not boot loader") << bytes({0xAA}) << true << 0xAA << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("single status byte") << bytes({0x40}) << false << 0x40 << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("single AutoBaud byte") << bytes({0x55}) << false << 0x55 << QByteArray()
                                              << int(BootPacket::NoReply);
        QTest::newRow("two bytes") << bytes({0x55, 0x55}) << false << 0 << QByteArray() << int(BootPacket::NoReply);
        QTest::newRow("Success") << bytes({0x03, 0x40, 0x40}) << true << 0x40 << QByteArray()
                                 << int(BootPacket::AwaitAck);
        QTest::newRow("FlashFailure") << bytes({0x03, 0x44, 0x44}) << true << 0x44 << QByteArray()
                                      << int(BootPacket::AwaitAck);
        QTest::newRow("bad checksum") << bytes({0x03, 0x41, 0x40}) << false << 0x40 << QByteArray()
                                      << int(BootPacket::AwaitAck);
        QTest::newRow("status with a data byte") << bytes({0x04, 0x41, 0x40, 0x01}) << false << 0x40 << bytes({0x01})
                                                 << int(BootPacket::AwaitAck);
        QTest::newRow("size byte not compared") << bytes({0x07, 0x40, 0x40}) << true << 0x40 << QByteArray()
                                                << int(BootPacket::AwaitAck);
        QTest::newRow("unknown code") << bytes({0x03, 0x26, 0x26}) << false << 0x26 << QByteArray()
                                      << int(BootPacket::AwaitAck);
        QTest::newRow("Download") << bytes({0x0B, 0x22, 0x21, 0, 0, 0, 0, 0, 0, 0, 0x01}) << true << 0x21
                                  << bytes({0, 0, 0, 0, 0, 0, 0, 0x01}) << int(BootPacket::AwaitAck);
    }
    void decode()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, valid);
        QFETCH(int, code);
        QFETCH(QByteArray, data);
        QFETCH(int, state);

        const BootPacket packet = BootPacket::decode(wire);
        QCOMPARE(packet.valid, valid);
        QCOMPARE(packet.code, code);
        QCOMPARE(packet.data, data);
        QCOMPARE(packet.state, state);
    }

    void describe_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        QTest::newRow("Download") << 0x21 << bytes({0, 0, 0, 0, 0, 0, 0x22, 0x40}) << "Download 0,0,0,0,0,0,22,40";
        QTest::newRow("no data") << 0x23 << QByteArray() << "GetStatus ";
        QTest::newRow("status") << 0x44 << QByteArray() << "FlashFailure ";
        QTest::newRow("hex without leading zeros") << 0x22 << bytes({0x0F, 0xA0, 0xFF, 0x01}) << "Run f,a0,ff,1";
        QTest::newRow("unknown code") << 0x27 << bytes({0x05}) << " 5";
    }
    void describe()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        BootPacket packet(code, data);
        QCOMPARE(packet.describe(), text);
    }
};

QTEST_GUILESS_MAIN(BootPacketTest)
#include "tst_bootpacket.moc"
