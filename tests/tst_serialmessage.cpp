#include "link/serialmessage.h"

#include <QtTest>

using Common::SerialMessage;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class SerialMessageTest : public QObject
{
    Q_OBJECT

private slots:
    void encode_data()
    {
        QTest::addColumn<SerialMessage>("message");
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("kip status request") << SerialMessage(30, 0, {}) << hex("031e0021");
        QTest::newRow("status request") << SerialMessage(0, 0, {}) << hex("03000003");
        QTest::newRow("restart") << SerialMessage(1, 0, {}) << hex("03010004");
        QTest::newRow("input sample rate request is padded") << SerialMessage(37, 0, {}) << hex("072500000000002c");
        QTest::newRow("short fixed payload is padded") << SerialMessage(58, 2, hex("10")) << hex("053a02100051");
        QTest::newRow("quorix control") << SerialMessage(31, 1, hex("0102")) << hex("051f01010228");
        QTest::newRow("sync source automatic") << SerialMessage(33, 1, hex("ff")) << hex("042101ff25");
        QTest::newRow("transmit mode") << SerialMessage(35, 1, hex("0100")) << hex("05230101002a");
        QTest::newRow("kip route") << SerialMessage(32, 0, hex("04050543")) << hex("0720000405054378");
        QTest::newRow("Optocore command of one sum byte") << SerialMessage(48, 0, hex("00")) << hex("0430000034");
        QTest::newRow("checksum wraps around") << SerialMessage(5, 0, hex("ffff")) << hex("050500ffff08");
        QTest::newRow("param is cut to one byte") << SerialMessage(33, 257, hex("01")) << hex("0421010127");
        QTest::newRow("line-control bytes pass") << SerialMessage(5, 0x13, hex("0a0d1113")) << hex("0705130a0d11135a");
        QTest::newRow("longest variable payload")
            << SerialMessage(5, 0, QByteArray(252, 'x')) << hex("ff0500") + QByteArray(252, 'x') + hex("24");
    }

    void encode()
    {
        QFETCH(SerialMessage, message);
        QFETCH(QByteArray, frame);
        QVERIFY(message.isEncodable());
        QCOMPARE(message.encode().toHex(' '), frame.toHex(' '));
    }

    // A frame whose length byte cannot describe the message would desynchronise the card.
    void unframeableMessageIsRefused_data()
    {
        QTest::addColumn<SerialMessage>("message");

        QTest::newRow("variable payload of 253 bytes") << SerialMessage(5, 0, QByteArray(253, 'a'));
        QTest::newRow("Optocore command of 253 bytes") << SerialMessage(48, 0, QByteArray(253, 'a'));
        QTest::newRow("sync source with two payload bytes") << SerialMessage(33, 0, hex("0102"));
        QTest::newRow("kip status request with a payload") << SerialMessage(30, 0, hex("01"));
        QTest::newRow("unnamed type 23") << SerialMessage(23, 0, {});
        QTest::newRow("type 59") << SerialMessage(59, 0, {});
        QTest::newRow("negative type") << SerialMessage(-1, 0, {});
        QTest::newRow("default message") << SerialMessage();
        QTest::newRow("failed decode") << SerialMessage(hex("03010005"));
    }

    void unframeableMessageIsRefused()
    {
        QFETCH(SerialMessage, message);
        QVERIFY(!message.isEncodable());
        QVERIFY(message.encode().isEmpty());
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("param");
        QTest::addColumn<QByteArray>("payload");

        const QByteArray seventeen = hex("0102030405060708090a0b0c0d0e0f1011");
        const QByteArray bad;
        QTest::newRow("sync source reply") << hex("042101fe24") << true << 33 << 1 << hex("fe");
        QTest::newRow("kip status at its table length")
            << hex("101e00") + seventeen.left(13) + hex("89") << true << 30 << 0 << seventeen.left(13);
        QTest::newRow("kip status longer than its table keeps every byte")
            << hex("141e00") + seventeen + hex("cb") << true << 30 << 0 << seventeen;
        QTest::newRow("kip status one byte short") << hex("0f1e00") + seventeen.left(12) + hex("7b") << false << 0 << 0 << bad;
        QTest::newRow("kip status request is no reply") << hex("031e0021") << false << 0 << 0 << bad;
        QTest::newRow("fixed type with extra payload") << hex("040100070c") << true << 1 << 0 << hex("07");
        QTest::newRow("checksum one too high") << hex("042101fe25") << false << 0 << 0 << bad;
        QTest::newRow("checksum one too low") << hex("042101fe23") << false << 0 << 0 << bad;
        QTest::newRow("three bytes") << hex("030100") << false << 0 << 0 << bad;
        QTest::newRow("empty") << QByteArray() << false << 0 << 0 << bad;
        QTest::newRow("length byte past the end") << hex("04010004") << false << 0 << 0 << bad;
        QTest::newRow("bytes after the checksum") << hex("0301000400") << false << 0 << 0 << bad;
        QTest::newRow("type 59") << hex("033b003e") << false << 0 << 0 << bad;
        QTest::newRow("type byte 255 read unsigned") << hex("03ff0002") << false << 0 << 0 << bad;
        QTest::newRow("unnamed type has no minimum") << hex("03170a24") << true << 23 << 10 << QByteArray();
        QTest::newRow("param byte 255 read unsigned") << hex("0301ff03") << true << 1 << 255 << QByteArray();
        QTest::newRow("longest frame") << hex("ff0500") + QByteArray(252, 'x') + hex("24") << true << 5 << 0
                                       << QByteArray(252, 'x');
    }

    void decode()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(int, param);
        QFETCH(QByteArray, payload);

        const SerialMessage message(frame);
        QCOMPARE(message.valid, valid);
        QCOMPARE(message.data.toHex(' '), payload.toHex(' '));
        if (!valid)
            return;
        QCOMPARE(message.type, type);
        QCOMPARE(message.param, param);
        // Whatever decodes and can be sent again goes out as the same frame.
        if (message.isEncodable())
            QCOMPARE(message.encode().toHex(' '), frame.toHex(' '));
    }

    // A missing or shifted entry in either table shows up as a gap or a duplicate.
    void typeTables()
    {
        QStringList names;
        for (int type = 0; type < SerialMessage::TypeCount; ++type) {
            const bool unnamed = type >= 23 && type <= 29;
            QCOMPARE(SerialMessage::typeName(type).isEmpty(), unnamed);
            QCOMPARE(SerialMessage::frameLength(type) >= 3, !unnamed);
            if (SerialMessage::hasVariablePayload(type))
                QCOMPARE(SerialMessage::frameLength(type), 3);
            if (!unnamed)
                names.append(SerialMessage::typeName(type));
        }
        names.removeDuplicates();
        QCOMPARE(names.size(), 52);
        QCOMPARE(SerialMessage::typeName(58) + ' ' + QString::number(SerialMessage::frameLength(58)),
                 QStringLiteral("Optocore channel count 5"));
        QCOMPARE(SerialMessage::frameLength(34), 26);
        for (int outside : {-1, 59, 255})
            QVERIFY(SerialMessage::typeName(outside).isEmpty() && SerialMessage::frameLength(outside) == 0);
    }
};

QTEST_GUILESS_MAIN(SerialMessageTest)
#include "tst_serialmessage.moc"
