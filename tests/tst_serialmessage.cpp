// Frames the card port sends are checked byte for byte in the card port's test; here are
// the encoding's edges and the decoding of what a card may send.
#include "link/serialmessage.h"

#include <QtTest>

using Common::SerialMessage;

static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

class SerialMessageTest : public QObject
{
    Q_OBJECT

private slots:
    // An empty frame: the message is refused, since a frame whose length byte cannot
    // describe it would desynchronise the card.
    void encode_data()
    {
        QTest::addColumn<SerialMessage>("message");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("restart") << SerialMessage(1, 0, {}) << hex("03010004");
        QTest::newRow("short fixed payload is padded") << SerialMessage(58, 2, hex("10")) << hex("053a02100051");
        QTest::newRow("quorix control") << SerialMessage(31, 1, hex("0102")) << hex("051f01010228");
        QTest::newRow("checksum wraps around") << SerialMessage(5, 0, hex("ffff")) << hex("050500ffff08");
        QTest::newRow("param is cut to one byte") << SerialMessage(33, 257, hex("01")) << hex("0421010127");
        QTest::newRow("line-control bytes pass") << SerialMessage(5, 0x13, hex("0a0d1113")) << hex("0705130a0d11135a");
        QTest::newRow("longest variable payload")
            << SerialMessage(5, 0, QByteArray(252, 'x')) << hex("ff0500") + QByteArray(252, 'x') + hex("24");
        QTest::newRow("variable payload of 253 bytes") << SerialMessage(5, 0, QByteArray(253, 'a')) << QByteArray();
        QTest::newRow("sync source with two payload bytes") << SerialMessage(33, 0, hex("0102")) << QByteArray();
        QTest::newRow("unnamed type 23") << SerialMessage(23, 0, {}) << QByteArray();
        QTest::newRow("type 59") << SerialMessage(59, 0, {}) << QByteArray();
        QTest::newRow("negative type") << SerialMessage(-1, 0, {}) << QByteArray();
        QTest::newRow("failed decode") << SerialMessage(hex("03010005")) << QByteArray();
    }
    void encode()
    {
        QFETCH(SerialMessage, message);
        QFETCH(QByteArray, frame);
        QCOMPARE(message.isEncodable(), !frame.isEmpty());
        QCOMPARE(message.encode().toHex(' '), frame.toHex(' '));
    }

    // Type -1: the frame is refused.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("param");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](const char *name, const QByteArray &frame, int type = -1, int param = 0,
                            const QByteArray &payload = {}) { QTest::newRow(name) << frame << type << param << payload; };
        const QByteArray seventeen = hex("0102030405060708090a0b0c0d0e0f1011");
        row("sync source reply", hex("042101fe24"), 33, 1, hex("fe"));
        row("kip status at its table length", hex("101e00") + seventeen.left(13) + hex("89"), 30, 0, seventeen.left(13));
        row("kip status longer than its table keeps every byte", hex("141e00") + seventeen + hex("cb"), 30, 0, seventeen);
        row("fixed type with extra payload", hex("040100070c"), 1, 0, hex("07"));
        row("unnamed type has no minimum", hex("03170a24"), 23, 10);
        row("param byte 255 read unsigned", hex("0301ff03"), 1, 255);
        row("longest frame", hex("ff0500") + QByteArray(252, 'x') + hex("24"), 5, 0, QByteArray(252, 'x'));
        row("kip status one byte short", hex("0f1e00") + seventeen.left(12) + hex("7b"));
        row("checksum one too high", hex("042101fe25"));
        row("three bytes", hex("030100"));
        row("empty", QByteArray());
        row("length byte past the end", hex("04010004"));
        row("bytes after the checksum", hex("0301000400"));
        row("type 59", hex("033b003e"));
        row("type byte 255 read unsigned", hex("03ff0002"));
    }
    void decode()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, type);
        QFETCH(int, param);
        QFETCH(QByteArray, payload);
        const SerialMessage message(frame);
        QCOMPARE(message.valid, type >= 0);
        QCOMPARE(message.data.toHex(' '), payload.toHex(' '));
        if (!message.valid)
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
        for (int type = -1; type <= 255; ++type) {
            const bool named = type >= 0 && type < SerialMessage::TypeCount && (type < 23 || type > 29);
            QCOMPARE(!SerialMessage::typeName(type).isEmpty(), named);
            QCOMPARE(SerialMessage::frameLength(type) >= 3, named);
            if (SerialMessage::hasVariablePayload(type))
                QCOMPARE(SerialMessage::frameLength(type), 3);
            names << SerialMessage::typeName(type);
        }
        names.removeDuplicates();
        QCOMPARE(names.size(), 52 + 1); // and the empty name
        QCOMPARE(SerialMessage::typeName(58) + ' ' + QString::number(SerialMessage::frameLength(58)),
                 QStringLiteral("Optocore channel count 5"));
        QCOMPARE(SerialMessage::frameLength(34), 26);
    }
};

QTEST_GUILESS_MAIN(SerialMessageTest)
#include "tst_serialmessage.moc"
