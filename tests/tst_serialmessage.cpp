// The encoding's edges and the decoding of what a card may send (the port's frames: tst_kipport).
#include "link/serialmessage.h"

#include <QtTest>

using Common::MessageType;
using Common::SerialMessage;

static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

class SerialMessageTest : public QObject
{
    Q_OBJECT

private slots:
    // An empty frame: refused, as a length byte that cannot describe the frame desynchronises the card.
    void encode_data()
    {
        QTest::addColumn<SerialMessage>("message");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("short fixed payload is padded") << SerialMessage(MessageType::OptocoreChannelCount, 2, hex("10")) << hex("053a02100051");
        QTest::newRow("checksum wraps, param cut to a byte") << SerialMessage(MessageType::EchoData, 257, hex("ffff")) << hex("050501ffff09");
        QTest::newRow("longest variable payload")
            << SerialMessage(MessageType::EchoData, 0, QByteArray(252, 'x')) << hex("ff0500") + QByteArray(252, 'x') + hex("24");
        QTest::newRow("variable payload of 253 bytes") << SerialMessage(MessageType::EchoData, 0, QByteArray(253, 'a')) << QByteArray();
        QTest::newRow("sync source with two payload bytes") << SerialMessage(MessageType::SyncSource, 0, hex("0102")) << QByteArray();
        QTest::newRow("unnamed type 23") << SerialMessage(23, 0, {}) << QByteArray();
        QTest::newRow("type 59") << SerialMessage(59, 0, {}) << QByteArray();
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
        row("kip status longer than its table keeps every byte", hex("141e00") + seventeen + hex("cb"), 30, 0, seventeen);
        row("fixed type with extra payload", hex("040100070c"), 1, 0, hex("07"));
        row("unnamed type, param byte 255 unsigned", hex("0317ff19"), 23, 255);
        row("kip status one byte short", hex("0f1e00") + seventeen.left(12) + hex("7b"));
        row("checksum one too high", hex("042101fe25"));
        row("length byte past the end", hex("04010004"));
        row("bytes after the checksum", hex("0301000400"));
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
        QCOMPARE(message.valid ? message.type * 1000 + message.param : -1000, type * 1000 + param);
    }
};

QTEST_GUILESS_MAIN(SerialMessageTest)
#include "tst_serialmessage.moc"
