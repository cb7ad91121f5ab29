#include "link/framescanner.h"
#include "link/serialmessage.h"

#include <QRandomGenerator>
#include <QtTest>

using Common::FrameScanner;
using Common::SerialMessage;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A fresh seed each run, printed with every failure; TEST_SEED replays one.
quint32 testSeed()
{
    bool given = false;
    const quint32 seed = qEnvironmentVariable("TEST_SEED").toUInt(&given);
    return given ? seed : QRandomGenerator::global()->generate();
}

// The whole frame at position lies before limit and decodes as a valid message.
bool holdsValidFrame(const QByteArray &bytes, int position, int limit)
{
    const int length = quint8(bytes.at(position));
    if (length < 3 || position + length >= limit)
        return false;
    quint8 sum = 0;
    for (int k = position; k < position + length; ++k)
        sum = quint8(sum + quint8(bytes.at(k)));
    if (sum != quint8(bytes.at(position + length)))
        return false;
    return SerialMessage(bytes.mid(position, length + 1)).valid;
}

struct PlannedMessage
{
    SerialMessage message;
    int junkStart = 0;
    int junkSize = 0;
};

// A stream of junk and frames that reads the same however it is cut into chunks:
// no junk position starts a valid frame, and no frame carries a shorter valid frame
// that ends before it does (the scan would rightly take that one if the chunk ended
// there). Junk runs are mostly short, some exceed the scanner's bound on held junk.
class StreamPlan
{
public:
    StreamPlan(QRandomGenerator &random, int messageCount) : random(random)
    {
        for (int type = 0; type < SerialMessage::TypeCount; ++type) {
            // "status" and "kip status" go out as bare requests that no card reply
            // looks like; unnamed codes have no frame length to encode with.
            if (type != 0 && type != 30 && SerialMessage::frameLength(type) >= 3)
                types.append(type);
        }
        QVector<bool> junk; // per stream byte: part of a junk run
        for (int n = 0; n < messageCount; ++n) {
            PlannedMessage planned;
            planned.junkStart = int(stream.size());
            planned.junkSize = junkRunSize();
            for (int k = 0; k < planned.junkSize; ++k) {
                stream.append(char(random.bounded(256)));
                junk.append(true);
            }
            QByteArray frame;
            do {
                planned.message = randomMessage();
                frame = planned.message.encode();
            } while (carriesShorterFrame(frame));
            stream.append(frame);
            junk.insert(junk.size(), frame.size(), false);
            messages.append(planned);
        }
        // Break every frame that junk happens to hold: a junk byte below 3 cannot be a
        // length byte. Changing a byte can complete another candidate, so repeat.
        for (bool changed = true; changed;) {
            changed = false;
            for (int position = 0; position < stream.size(); ++position) {
                if (junk.at(position) && holdsValidFrame(stream, position, int(stream.size()))) {
                    stream[position] = char(random.bounded(3));
                    changed = true;
                }
            }
        }
    }

    QByteArray junkBefore(int n) const
    {
        return stream.mid(messages.at(n).junkStart, messages.at(n).junkSize);
    }

    QByteArray stream;
    QVector<PlannedMessage> messages;

private:
    int junkRunSize()
    {
        const int kind = random.bounded(100);
        if (kind < 60)
            return random.bounded(0, 9);
        if (kind < 97)
            return random.bounded(9, 300);
        return random.bounded(300, 5000);
    }

    SerialMessage randomMessage()
    {
        const int type = types.at(random.bounded(types.size()));
        const int size = SerialMessage::hasVariablePayload(type)
            ? (random.bounded(10) == 0 ? SerialMessage::MaxVariablePayload : random.bounded(0, 64))
            : SerialMessage::frameLength(type) - 3;
        QByteArray payload(size, '\0');
        for (char &byte : payload)
            byte = char(random.bounded(256));
        return SerialMessage(type, random.bounded(256), payload);
    }

    static bool carriesShorterFrame(const QByteArray &frame)
    {
        for (int position = 1; position < frame.size() - 1; ++position) {
            if (holdsValidFrame(frame, position, int(frame.size()) - 1))
                return true;
        }
        return false;
    }

    QRandomGenerator &random;
    QVector<int> types;
};

} // namespace

class SerialMessageTest : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void oversizeOrUnframeablePayloadIsRefused_data();
    void oversizeOrUnframeablePayloadIsRefused();
    void decode_data();
    void decode();
    void logText_data();
    void logText();
    void tables_data();
    void tables();
    void everyNamedTypeHasAFrameLength();
    void roundTripThroughJunkAndChunks_data();
    void roundTripThroughJunkAndChunks();
};

void SerialMessageTest::encode_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("kip status request") << 30 << 0 << QByteArray() << hex("031e0021");
    QTest::newRow("status request") << 0 << 0 << QByteArray() << hex("03000003");
    QTest::newRow("restart") << 1 << 0 << QByteArray() << hex("03010004");
    QTest::newRow("input sample rate request is padded to its length")
        << 37 << 0 << QByteArray() << hex("072500000000002c");
    QTest::newRow("short payload of a fixed type is padded")
        << 58 << 2 << hex("10") << hex("053a02100051");
    QTest::newRow("quorix control") << 31 << 1 << hex("0102") << hex("051f01010228");
    QTest::newRow("sync source word clock") << 33 << 0 << hex("fe") << hex("042100fe23");
    QTest::newRow("sync source automatic") << 33 << 1 << hex("ff") << hex("042101ff25");
    QTest::newRow("transmit mode") << 35 << 1 << hex("0100") << hex("05230101002a");
    QTest::newRow("kip route") << 32 << 0 << hex("04050543") << hex("0720000405054378");
    QTest::newRow("Optocore command of one sum byte") << 48 << 0 << hex("00") << hex("0430000034");
    QTest::newRow("checksum wraps around") << 5 << 0 << hex("ffff") << hex("050500ffff08");
    QTest::newRow("param is cut to one byte") << 33 << 257 << hex("01") << hex("0421010127");
    QTest::newRow("line-control bytes pass unchanged")
        << 5 << 0x13 << hex("0a0d1113") << hex("0705130a0d11135a");
    QTest::newRow("longest variable payload")
        << 5 << 0 << QByteArray(252, 'x') << hex("ff0500") + QByteArray(252, 'x') + hex("24");
}

void SerialMessageTest::encode()
{
    QFETCH(int, type);
    QFETCH(int, param);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);

    const SerialMessage message(type, param, payload);
    QVERIFY(message.valid);
    QVERIFY(message.isEncodable());
    QCOMPARE(message.encode().toHex(' '), frame.toHex(' '));
}

void SerialMessageTest::oversizeOrUnframeablePayloadIsRefused_data()
{
    QTest::addColumn<SerialMessage>("message");

    QTest::newRow("variable payload of 253 bytes") << SerialMessage(5, 0, QByteArray(253, 'a'));
    QTest::newRow("Optocore command of 252 bytes plus its sum byte")
        << SerialMessage(48, 0, QByteArray(253, 'a'));
    QTest::newRow("sync source with two payload bytes") << SerialMessage(33, 0, hex("0102"));
    QTest::newRow("kip status request with a payload") << SerialMessage(30, 0, hex("01"));
    QTest::newRow("unnamed type 23") << SerialMessage(23, 0, QByteArray());
    QTest::newRow("type 59") << SerialMessage(59, 0, QByteArray());
    QTest::newRow("negative type") << SerialMessage(-1, 0, QByteArray());
    QTest::newRow("default message") << SerialMessage();
    QTest::newRow("failed decode") << SerialMessage(hex("03010005"));
}

void SerialMessageTest::oversizeOrUnframeablePayloadIsRefused()
{
    QFETCH(SerialMessage, message);
    QVERIFY(!message.isEncodable());
    QVERIFY(message.encode().isEmpty());
}

void SerialMessageTest::decode_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray seventeen = hex("0102030405060708090a0b0c0d0e0f1011");
    const QByteArray twelve = seventeen.left(12);
    const QByteArray thirteen = seventeen.left(13);
    // Sum of 01 .. 0C is 0x4E, of 01 .. 0D is 0x5B, of 01 .. 11 is 0x99.
    QTest::newRow("sync source reply") << hex("042101fe24") << true << 33 << 1 << hex("fe");
    QTest::newRow("kip status at its table length")
        << hex("101e00") + thirteen + hex("89") << true << 30 << 0 << thirteen;
    QTest::newRow("kip status longer than its table keeps every byte")
        << hex("141e00") + seventeen + hex("cb") << true << 30 << 0 << seventeen;
    QTest::newRow("kip status one byte short of its table")
        << hex("0f1e00") + twelve + hex("7b") << false << 0 << 0 << QByteArray();
    QTest::newRow("kip status request shape is not a reply")
        << hex("031e0021") << false << 0 << 0 << QByteArray();
    QTest::newRow("fixed type with extra payload") << hex("040100070c") << true << 1 << 0 << hex("07");
    QTest::newRow("checksum one too high") << hex("042101fe25") << false << 0 << 0 << QByteArray();
    QTest::newRow("checksum one too low") << hex("042101fe23") << false << 0 << 0 << QByteArray();
    QTest::newRow("three bytes") << hex("030100") << false << 0 << 0 << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << 0 << 0 << QByteArray();
    QTest::newRow("length byte past the end") << hex("04010004") << false << 0 << 0 << QByteArray();
    QTest::newRow("bytes after the checksum") << hex("0301000400") << false << 0 << 0 << QByteArray();
    QTest::newRow("type 59") << hex("033b003e") << false << 0 << 0 << QByteArray();
    QTest::newRow("type byte 255 read unsigned") << hex("03ff0002") << false << 0 << 0 << QByteArray();
    QTest::newRow("unnamed type has no minimum length") << hex("03170a24") << true << 23 << 10 << QByteArray();
    QTest::newRow("param byte 255 read unsigned") << hex("0301ff03") << true << 1 << 255 << QByteArray();
    QTest::newRow("longest frame")
        << hex("ff0500") + QByteArray(252, 'x') + hex("24") << true << 5 << 0 << QByteArray(252, 'x');
}

void SerialMessageTest::decode()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QFETCH(int, type);
    QFETCH(int, param);
    QFETCH(QByteArray, payload);

    const SerialMessage message(frame);
    QCOMPARE(message.valid, valid);
    if (!valid) {
        QVERIFY(message.data.isEmpty());
        return;
    }
    QCOMPARE(message.type, type);
    QCOMPARE(message.param, param);
    QCOMPARE(message.data.toHex(' '), payload.toHex(' '));
    // Whatever decodes and can be sent again goes out as the same frame.
    if (message.isEncodable())
        QCOMPARE(message.encode().toHex(' '), frame.toHex(' '));
}

void SerialMessageTest::logText_data()
{
    QTest::addColumn<SerialMessage>("message");
    QTest::addColumn<QString>("text");

    QTest::newRow("no payload ends in a blank") << SerialMessage(30, 0, QByteArray()) << "kip status 0 ";
    QTest::newRow("one payload byte") << SerialMessage(33, 1, hex("fe")) << "sync source 1 254";
    QTest::newRow("bytes unsigned, comma separated")
        << SerialMessage(5, 200, hex("000aff")) << "echo data 200 0,10,255";
    QTest::newRow("unnamed type starts with a blank") << SerialMessage(23, 0, hex("01")) << " 0 1";
    QTest::newRow("capitals kept") << SerialMessage(47, 0, QByteArray()) << "Optocore version 0 ";
}

void SerialMessageTest::logText()
{
    QFETCH(SerialMessage, message);
    QFETCH(QString, text);
    QCOMPARE(message.toString(), text);
}

void SerialMessageTest::tables_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("length");

    QTest::newRow("0") << 0 << "status" << 6;
    QTest::newRow("5") << 5 << "echo data" << 3;
    QTest::newRow("22") << 22 << "overbridge brightness" << 4;
    QTest::newRow("23") << 23 << "" << 0;
    QTest::newRow("29") << 29 << "" << 0;
    QTest::newRow("30") << 30 << "kip status" << 16;
    QTest::newRow("34") << 34 << "status block" << 26;
    QTest::newRow("37") << 37 << "input sample rate" << 7;
    QTest::newRow("56") << 56 << "Hydra id" << 4;
    QTest::newRow("58") << 58 << "Optocore channel count" << 5;
    QTest::newRow("59") << 59 << "" << 0;
    QTest::newRow("255") << 255 << "" << 0;
    QTest::newRow("-1") << -1 << "" << 0;
}

void SerialMessageTest::tables()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(int, length);
    QCOMPARE(SerialMessage::typeName(type), name);
    QCOMPARE(SerialMessage::frameLength(type), length);
}

// A missing or shifted entry in either table shows up here as a gap.
void SerialMessageTest::everyNamedTypeHasAFrameLength()
{
    QStringList names;
    for (int type = 0; type < SerialMessage::TypeCount; ++type) {
        const bool unnamed = type >= 23 && type <= 29;
        QCOMPARE(SerialMessage::typeName(type).isEmpty(), unnamed);
        QCOMPARE(SerialMessage::frameLength(type) >= 3, !unnamed);
        if (SerialMessage::hasVariablePayload(type))
            QCOMPARE(SerialMessage::frameLength(type), 3);
        names.append(SerialMessage::typeName(type));
    }
    names.removeAll(QString());
    QCOMPARE(names.size(), 52);
    names.removeDuplicates();
    QCOMPARE(names.size(), 52);
}

void SerialMessageTest::roundTripThroughJunkAndChunks_data()
{
    QTest::addColumn<int>("minChunk");
    QTest::addColumn<int>("maxChunk");

    QTest::newRow("serial-sized chunks") << 1 << 64;
    QTest::newRow("byte by byte") << 1 << 1;
    QTest::newRow("up to 4 KiB") << 1 << 4096;
    QTest::newRow("whole stream at once") << INT_MAX << INT_MAX;
}

// Random messages, encoded, with random junk between them and cut at random chunk
// boundaries, must come out of the scanner as the same messages in the same order,
// each with exactly the junk that preceded it.
void SerialMessageTest::roundTripThroughJunkAndChunks()
{
    QFETCH(int, minChunk);
    QFETCH(int, maxChunk);
    const quint32 seed = testSeed();
    QRandomGenerator random(seed);
    const StreamPlan plan(random, 5000);
    const auto where = [seed](int n) { return QStringLiteral("message %1, seed %2").arg(n).arg(seed); };

    FrameScanner scanner;
    QByteArray junk;
    int n = 0;
    for (qint64 offset = 0; offset < plan.stream.size();) {
        const int size = maxChunk == INT_MAX ? int(plan.stream.size()) : random.bounded(minChunk, maxChunk + 1);
        const QByteArray chunk = plan.stream.mid(int(offset), size);
        offset += size;
        for (const FrameScanner::Item &item : scanner.feed(chunk)) {
            junk += item.discarded;
            if (!item.hasMessage)
                continue;
            QVERIFY2(n < plan.messages.size(), qPrintable(where(n)));
            const SerialMessage &sent = plan.messages.at(n).message;
            QVERIFY2(item.message.valid, qPrintable(where(n)));
            QVERIFY2(item.message.type == sent.type && item.message.param == sent.param
                         && item.message.data == sent.data,
                     qPrintable(where(n) + ": got " + item.message.toString() + ", sent " + sent.toString()));
            QVERIFY2(junk == plan.junkBefore(n),
                     qPrintable(where(n) + QStringLiteral(": %1 junk bytes reported, %2 sent")
                                               .arg(junk.size()).arg(plan.junkBefore(n).size())));
            junk.clear();
            ++n;
        }
    }
    QVERIFY2(n == plan.messages.size(), qPrintable(where(n)));
    QCOMPARE(scanner.bufferedBytes(), 0);
}

QTEST_GUILESS_MAIN(SerialMessageTest)
#include "tst_serialmessage.moc"
