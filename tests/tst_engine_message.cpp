#include "engine/enginecatalogue.h"
#include "engine/enginemessage.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstring>

using EMS::EngineMessage;
using Header = EMS::EngineMessage::EngineHeader;
namespace Engine = EMS::Engine;

Q_DECLARE_METATYPE(EMS::EngineMessage::EngineHeader)

namespace {

quint32 bitsOf(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

EngineMessage withSequence(EngineMessage message, int sequence)
{
    message.setSequence(sequence);
    return message;
}

EngineMessage withType(EngineMessage message, int type)
{
    message.setMessageType(type);
    return message;
}

EngineMessage withTwoValues(EngineMessage message, quint32 first, quint32 second)
{
    message.setValues(first, second);
    return message;
}

} // namespace

class TestEngineMessage : public QObject
{
    Q_OBJECT

private slots:
    void frame_data();
    void frame();
    void framesRoundTrip();
    void valueBytesArePaddedToWords();
    void tooManyValueWordsGiveNoFrame();
    void shortOrCutFramesDecodeSafely();
    void validity_data();
    void validity();
    void onlyModuleAndValidateRevalidate();
    void valuesReadBack();
    void toString_data();
    void toString();
    void errorKinds();
    void tableSizes();
};

void TestEngineMessage::frame_data()
{
    QTest::addColumn<EngineMessage>("message");
    QTest::addColumn<QByteArray>("frame");

    // Checksum 0xffa50104 + 0x03101234 + 0x00050001 + 2, modulo 2^32.
    QTest::newRow("one int value")
        << withSequence(EngineMessage(Header(5, 1, Engine::Dynamics, Engine::DynRatio), 2, Engine::AckRequired), 0x1234)
        << QByteArray::fromHex("0401a5ff 34121003 01000500 02000000 3b13ba02");
    QTest::newRow("serial baud as float")
        << EngineMessage(Header(0, 1, Engine::System, Engine::SerialBaud), 38400.0f, Engine::NoAckRequired)
        << QByteArray::fromHex("0400a5ff 00002b00 01000000 00001647 0500e646");
    QTest::newRow("two values")
        << withTwoValues(EngineMessage(0xffff, 0xffff, 20, 0xff), 0xffffffff, 0x80000000)
        << QByteArray::fromHex("0500a5ff 0000ff14 ffffffff ffffffff 00000080 0300a494");
    QTest::newRow("no values")
        << EngineMessage(3, 0, Engine::Fader, Engine::FaderGain)
        << QByteArray::fromHex("0300a5ff 00002110 00000300 0300c90f");
}

void TestEngineMessage::frame()
{
    QFETCH(EngineMessage, message);
    QFETCH(QByteArray, frame);
    QCOMPARE(message.toFrame().toHex(' '), frame.toHex(' '));
    QCOMPARE(message.toFrame().size(), 4 * quint8(frame.at(0)) + 4);
}

void TestEngineMessage::framesRoundTrip()
{
    QRandomGenerator random(7);
    for (int round = 0; round < 500; ++round) {
        const Header header(int(random.bounded(0x10000)), int(random.bounded(0x10000)),
                            int(random.bounded(22)), int(random.bounded(256)));
        EngineMessage message(header, int(random.generate()), int(random.bounded(26)));
        message.setSequence(int(random.bounded(0x10000)));
        QByteArray values;
        const int words = int(random.bounded(EngineMessage::MaxValueWords + 1));
        for (int i = 0; i < words; ++i) {
            const quint32 word = random.generate();
            values.append(reinterpret_cast<const char *>(&word), 4);
        }
        message.setValueBytes(values);

        const QByteArray frame = message.toFrame();
        QCOMPARE(frame.size(), 4 * (3 + words) + 4);
        QCOMPARE(int(quint8(frame.at(0))), 3 + words);
        const EngineMessage decoded(frame);
        QCOMPARE(decoded.messageType(), message.messageType());
        QCOMPARE(decoded.sequence(), message.sequence());
        QCOMPARE(decoded.parameter(), message.parameter());
        QCOMPARE(decoded.module(), message.module());
        QCOMPARE(decoded.index(), message.index());
        QCOMPARE(decoded.channel(), message.channel());
        QCOMPARE(decoded.values(), values);
        QCOMPARE(decoded.isValid(), message.isValid());
        QCOMPARE(decoded.toFrame(), frame);
    }
}

void TestEngineMessage::valueBytesArePaddedToWords()
{
    EngineMessage message(1, 0, Engine::System, Engine::SerialData);
    message.setValueBytes("abcde");
    QCOMPARE(message.valueCount(), 2);
    QCOMPARE(message.value(1), quint32('e'));
    const QByteArray frame = message.toFrame();
    QCOMPARE(frame.size(), 12 + 8 + 4);
    QCOMPARE(frame.mid(12, 8), QByteArray("abcde\0\0\0", 8));
    // The message itself keeps its bytes; only the frame is padded.
    QCOMPARE(message.values(), QByteArray("abcde"));
}

void TestEngineMessage::tooManyValueWordsGiveNoFrame()
{
    EngineMessage message(1, 0, Engine::System, Engine::SerialData);
    message.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords, 'x'));
    QCOMPARE(message.toFrame().size(), 1024);
    QCOMPARE(quint8(message.toFrame().at(0)), quint8(255));
    // One byte more would need N = 256, which the length byte cannot hold.
    message.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords + 1, 'x'));
    QVERIFY(!message.isFramable());
    QVERIFY(message.toFrame().isEmpty());
}

void TestEngineMessage::shortOrCutFramesDecodeSafely()
{
    const QByteArray frame = withTwoValues(EngineMessage(1, 2, Engine::Input, Engine::InputTrim), 7, 9).toFrame();
    for (int length = 0; length < frame.size(); ++length) {
        const EngineMessage message(frame.left(length));
        if (length < EngineMessage::HeaderBytes) {
            QVERIFY(!message.isValid());
            QCOMPARE(message.valueCount(), 0);
        } else {
            QCOMPARE(message.channel(), 1);
            QVERIFY(message.values().size() <= length - EngineMessage::HeaderBytes);
        }
    }
}

void TestEngineMessage::validity_data()
{
    QTest::addColumn<EngineMessage>("message");
    QTest::addColumn<bool>("valid");

    QTest::newRow("default") << EngineMessage() << false;
    QTest::newRow("all zero") << EngineMessage(0, 0, 0, 0) << false;
    QTest::newRow("parameter") << EngineMessage(0, 0, 0, 1) << true;
    QTest::newRow("channel") << EngineMessage(1, 0, 0, 0) << true;
    QTest::newRow("module 21") << EngineMessage(0, 0, 21, 0) << true;
    QTest::newRow("module 22") << EngineMessage(1, 1, 22, 1) << false;
    QTest::newRow("sequence alone, decoded")
        << EngineMessage(withSequence(EngineMessage(0, 0, 0, 0), 1).toFrame()) << true;
    QTest::newRow("module 22, decoded")
        << EngineMessage(EngineMessage(Header(4, 0, 22, 0), 1, 0).toFrame()) << false;
}

void TestEngineMessage::validity()
{
    QFETCH(EngineMessage, message);
    QFETCH(bool, valid);
    QCOMPARE(message.isValid(), valid);
}

void TestEngineMessage::onlyModuleAndValidateRevalidate()
{
    EngineMessage message(0, 0, 0, 0);
    message.setChannel(3);
    message.setSequence(9);
    QVERIFY(!message.isValid());
    message.validate();
    QVERIFY(message.isValid());
    message.setModule(22);
    QVERIFY(!message.isValid());
    message.setModule(Engine::MixMinus);
    QVERIFY(message.isValid());
    QCOMPARE(message.header().word1, 0x14000009u);
    QCOMPARE(message.header().word2, 0x00030000u);
}

void TestEngineMessage::valuesReadBack()
{
    EngineMessage message(1, 0, Engine::Input, Engine::InputTrim);
    message.setValues(0xdeadbeef, bitsOf(-2.5f));
    QCOMPARE(message.value(0), 0xdeadbeefu);
    QCOMPARE(message.floatValue(1), -2.5f);
    QCOMPARE(message.value(2), 0u);
    QCOMPARE(message.value(-1), 0u);
    QCOMPARE(message.floatValue(2), 0.0f);
}

void TestEngineMessage::toString_data()
{
    QTest::addColumn<EngineMessage>("message");
    QTest::addColumn<QString>("text");

    QTest::newRow("serial baud")
        << EngineMessage(Header(0, 1, Engine::System, Engine::SerialBaud), 38400.0f, 0)
        << "002b0000 00000001 47160000 (38400) // System SerialBaud";
    QTest::newRow("dynamics ratio")
        << EngineMessage(Header(5, 0, Engine::Dynamics, Engine::DynRatio), 2, 0)
        << "03100000 00050000 00000002 (2.8026e-45) // channel 5 Dynamics [0] DynRatio";
    QTest::newRow("meters, two values, no float part")
        << withTwoValues(EngineMessage(0, 0, Engine::Meters, Engine::UpdateRate), 1, 2)
        << "0c100000 00000000 00000001 00000002  // Meters UpdateRate";
    QTest::newRow("fx channel")
        << EngineMessage(Header(7, 3, Engine::FXcontrol, 4), 0.5f, 0)
        << "12040000 00070003 3f000000 (0.5) // fx channel 7 FXcontrol";
    QTest::newRow("checksum error report")
        << EngineMessage(Header(0, 0, Engine::System, Engine::KeepAlive), 0, Engine::CheckSumError)
        << "00010000 00000000 00000000 (0) // System KeepAlive ** CheckSumError";
    QTest::newRow("unnamed module")
        << EngineMessage(0, 0, 10, Engine::InputTrim)
        << "0a010000 00000000  // channel 0  [0] InputTrim";
    QTest::newRow("unnamed parameter")
        << EngineMessage(2, 3, Engine::Input, 21)
        << "01150000 00020003  // channel 2 Input [3] ";
    QTest::newRow("sequence shows in the header")
        << withType(withSequence(EngineMessage(0, 1, Engine::System, Engine::SerialData), 0xabcd), Engine::FlashDataError)
        << "002cabcd 00000001  // System SerialData ** FlashDataError";
}

void TestEngineMessage::toString()
{
    QFETCH(EngineMessage, message);
    QFETCH(QString, text);
    QCOMPARE(message.toString(), text);
}

void TestEngineMessage::errorKinds()
{
    const QList<int> errors = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20};
    for (int kind = -1; kind < 300; ++kind) {
        EngineMessage message(1, 0, Engine::Input, 0);
        message.setMessageType(kind);
        QVERIFY2(message.isError() == errors.contains(kind & 0xff), qPrintable(QString::number(kind)));
    }
}

// Each table has exactly its rows: a lost or doubled entry changes the count.
void TestEngineMessage::tableSizes()
{
    auto named = [](QString (*table)(int)) {
        int count = 0;
        for (int code = 0; code < 256; ++code)
            count += table(code).isEmpty() ? 0 : 1;
        return count;
    };
    QCOMPARE(named(Engine::messageTypeName), 26);
    QCOMPARE(named(Engine::moduleName), 17);
    QCOMPARE(named(Engine::systemMessageName), 29);
    QCOMPARE(named(Engine::parameterName), 48);
    QCOMPARE(named(Engine::meterFieldName), 11);
}

QTEST_GUILESS_MAIN(TestEngineMessage)
#include "tst_engine_message.moc"
