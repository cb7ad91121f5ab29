#include "engine/appconnection.h"
#include "engine/enginecatalogue.h"
#include "engine/engineconnection.h"
#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"
#include "link/kipconnection.h"
#include "link/kipport.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using EMS::EngineMessage;
using EMS::EngineMessenger;
using Header = EMS::EngineMessage::EngineHeader;
namespace Engine = EMS::Engine;

namespace {

const QString Prefix = QStringLiteral("EngineMessenger ERROR: ");

// A one-value frame on the given channel: the channel tells the frames apart.
QByteArray frameOn(int channel, int type = Engine::NoAckRequired)
{
    return EngineMessage(Header(channel, 0, Engine::Input, Engine::InputTrim), channel * 10, type).toFrame();
}

// The largest frame: 252 value words, 1024 bytes.
QByteArray largestFrame(int channel)
{
    EngineMessage message(channel, 0, Engine::Input, Engine::InputTrim);
    message.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords, char(channel)));
    return message.toFrame();
}

QByteArray withBadChecksum(QByteArray frame)
{
    const int at = frame.size() - 4;
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(frame.constData() + at) + 1, frame.data() + at);
    return frame;
}

QString checksumReport(const QByteArray &goodFrame)
{
    const quint32 sum = qFromLittleEndian<quint32>(goodFrame.constData() + goodFrame.size() - 4);
    return Prefix + QString("Invalid checksum %1 != %2").arg(sum).arg(quint32(sum + 1));
}

QString junkReport(const QByteArray &junk)
{
    return Prefix + "Rx data error from engine: " + QString::fromLatin1(junk.toHex()) + " ignored";
}

QByteArrayList bytewise(const QByteArray &bytes)
{
    QByteArrayList chunks;
    for (char c : bytes)
        chunks.append(QByteArray(1, c));
    return chunks;
}

// Card bytes behind their 32-bit count, as a SerialData message carries them.
QByteArray wrapped(const QByteArray &bytes, quint32 count)
{
    QByteArray result(4, '\0');
    qToLittleEndian<quint32>(count, result.data());
    return result + bytes;
}

// Everything a messenger tells, in order: "message <channel>" or the status text.
class Recorder : public QObject
{
public:
    explicit Recorder(EngineMessenger *messenger)
    {
        connect(messenger, &EngineMessenger::messageReceived, this, [this](EngineMessage *message) {
            messages.append(*message);
            events.append(QString("message %1").arg(message->channel()));
        });
        connect(messenger, &EngineMessenger::statusMessage, this, [this](const QString &text) { events.append(text); });
    }

    QStringList events;
    QList<EngineMessage> messages;
};

class StatusOwner : public QObject
{
    Q_OBJECT
signals:
    void statusMessage(QString status);
};

} // namespace

class TestEngineMessenger : public QObject
{
    Q_OBJECT

private slots:
    void message_data();
    void message();
    void frameHoldsAtMost252ValueWords();
    void cutFramesDecodeSafely();
    void errorKinds();
    void reassembly_data();
    void reassembly();
    void randomStreamsFindEveryFrame();
    void receiverFeedingMoreData();
    void receiverDeletingTheMessenger();
    void sequenceNumbersWrap();
    void closeDisconnectsBothTransports();
    void udpLinkAndCardPath();
    void cardPortUnwrapsEngineData();
};

void TestEngineMessenger::message_data()
{
    QTest::addColumn<EngineMessage>("message");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("text");

    EngineMessage sequenced(Header(5, 1, Engine::Dynamics, Engine::DynRatio), 2, Engine::AckRequired);
    sequenced.setSequence(0x1234);
    EngineMessage two(0xffff, 0xffff, Engine::MixMinus, 0xff);
    two.setValues(0xffffffff, 0x80000000);
    EngineMessage odd(1, 0, Engine::System, Engine::SerialData);
    odd.setValueBytes("abcde");
    EngineMessage meters(0, 0, Engine::Meters, Engine::UpdateRate);
    meters.setValues(1, 2);
    EngineMessage failed(0, 1, Engine::System, Engine::SerialData);
    failed.setSequence(0x1abcd); // 16 bits kept
    failed.setMessageType(0x100 + Engine::FlashDataError);
    EngineMessage sequenceAlone(0, 0, 0, 0);
    sequenceAlone.setSequence(1);
    sequenceAlone.validate(); // only the constructors, decoding and setModule validate by themselves
    EngineMessage moduleChanged(1, 0, Engine::Input, 0);
    moduleChanged.setModule(22);

    // One int value: checksum 0xffa50104 + 0x03101234 + 0x00050001 + 2, modulo 2^32.
    QTest::newRow("one int value") << sequenced
        << QByteArray::fromHex("0401a5ff 34121003 01000500 02000000 3b13ba02") << true
        << "03101234 00050001 00000002 (2.8026e-45) // channel 5 Dynamics [1] DynRatio";
    QTest::newRow("serial baud as float") << EngineMessage(Header(0, 1, Engine::System, Engine::SerialBaud), 38400.0f, 0)
        << QByteArray::fromHex("0400a5ff 00002b00 01000000 00001647 0500e646") << true
        << "002b0000 00000001 47160000 (38400) // System SerialBaud";
    QTest::newRow("two values, sum wraps") << two
        << QByteArray::fromHex("0500a5ff 0000ff14 ffffffff ffffffff 00000080 0300a494") << true
        << "14ff0000 ffffffff ffffffff 80000000  // channel 65535 MixMinus [65535] ";
    QTest::newRow("no values") << EngineMessage(3, 0, Engine::Fader, Engine::FaderGain)
        << QByteArray::fromHex("0300a5ff 00002110 00000300 0300c90f") << true
        << "10210000 00030000  // channel 3 Fader [0] FaderGain";
    QTest::newRow("value bytes padded to words") << odd
        << QByteArray::fromHex("0500a5ff 00002c00 00000100 61626364 65000000 cb623564") << true
        << "002c0000 00010000 64636261 00000065  // System SerialData";
    QTest::newRow("meters") << meters
        << QByteArray::fromHex("0500a5ff 0000100c 00000000 01000000 02000000 0800b50b") << true
        << "0c100000 00000000 00000001 00000002  // Meters UpdateRate";
    QTest::newRow("fx channel") << EngineMessage(Header(7, 3, Engine::FXcontrol, 4), 0.5f, 0)
        << QByteArray::fromHex("0400a5ff 00000412 03000700 0000003f 0700b050") << true
        << "12040000 00070003 3f000000 (0.5) // fx channel 7 FXcontrol";
    QTest::newRow("error report") << failed
        << QByteArray::fromHex("0313a5ff cdab2c00 01000000 d1bed1ff") << true
        << "002cabcd 00000001  // System SerialData ** FlashDataError";
    QTest::newRow("all zero") << EngineMessage(0, 0, 0, 0)
        << QByteArray::fromHex("0300a5ff 00000000 00000000 0300a5ff") << false << "00000000 00000000  // System ";
    QTest::newRow("sequence alone") << sequenceAlone
        << QByteArray::fromHex("0300a5ff 01000000 00000000 0400a5ff") << true << "00000001 00000000  // System ";
    QTest::newRow("module 21") << EngineMessage(0, 0, 21, 0)
        << QByteArray::fromHex("0300a5ff 00000015 00000000 0300a514") << true
        << "15000000 00000000  // channel 0  [0] InputSource";
    QTest::newRow("module 22") << EngineMessage(1, 1, 22, 1)
        << QByteArray::fromHex("0300a5ff 00000116 01000100 0400a715") << false
        << "16010000 00010001  // channel 1  [1] InputTrim";
    QTest::newRow("module set to 22") << moduleChanged
        << QByteArray::fromHex("0300a5ff 00000016 00000100 0300a615") << false
        << "16000000 00010000  // channel 1  [0] InputSource";
}

// Each message's frame, validity and log text, and the same read back from the frame.
void TestEngineMessenger::message()
{
    QFETCH(EngineMessage, message);
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QFETCH(QString, text);
    QCOMPARE(message.toFrame().toHex(' '), frame.toHex(' '));
    QCOMPARE(message.isValid(), valid);
    QCOMPARE(message.toString(), text);
    const EngineMessage decoded(frame);
    QCOMPARE(decoded.isValid(), valid);
    QCOMPARE(decoded.toFrame(), frame);
}

void TestEngineMessenger::frameHoldsAtMost252ValueWords()
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

void TestEngineMessenger::cutFramesDecodeSafely()
{
    EngineMessage message(1, 2, Engine::Input, Engine::InputTrim);
    message.setValues(7, 9);
    const QByteArray frame = message.toFrame();
    for (int length = 0; length < frame.size(); ++length) {
        const EngineMessage cut(frame.left(length));
        QCOMPARE(cut.isValid(), length >= 12); // the header's bytes
        QCOMPARE(cut.values(), length < 12 ? QByteArray() : frame.mid(12, qMin(8, length - 12)));
    }
}

void TestEngineMessenger::errorKinds()
{
    const QList<int> errors = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20};
    for (int kind = -1; kind < 300; ++kind) {
        EngineMessage message(1, 0, Engine::Input, 0);
        message.setMessageType(kind);
        QVERIFY2(message.isError() == errors.contains(kind & 0xff), qPrintable(QString::number(kind)));
    }
}

void TestEngineMessenger::reassembly_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("buffered");

    const QByteArray a = frameOn(1);
    const QByteArray b = frameOn(2);
    const QByteArray junk = QByteArray::fromHex("0a0b0c");
    const QByteArray threeWords = EngineMessage(1, 0, Engine::Input, 0).toFrame();
    const QByteArray module22 = EngineMessage(Header(3, 0, 22, 1), 5, 0).toFrame();
    const QByteArray failed = frameOn(4, Engine::FlashProgramFailure);
    const QByteArray full = largestFrame(1) + largestFrame(2) + largestFrame(3) + largestFrame(4);
    const QByteArray badLong = withBadChecksum(largestFrame(9));
    // A header announcing 1024 bytes keeps every later position under watch until its
    // frame is complete, so the damaged frame behind it is looked at on every chunk.
    const QByteArray unfinished = QByteArray::fromHex("ff00a5ff 00000000 00000000") + withBadChecksum(frameOn(9));
    const QString tooBig = Prefix + "Buffer was too big: 4097 data ignored.";

    QTest::newRow("two frames in one chunk") << QByteArrayList{a + b} << QStringList{"message 1", "message 2"} << 0;
    QTest::newRow("frame split over two chunks") << QByteArrayList{a.left(7), a.mid(7)} << QStringList{"message 1"}
                                                 << 0;
    QTest::newRow("incomplete frame waits") << QByteArrayList{a + b.left(19)} << QStringList{"message 1"} << 19;
    QTest::newRow("junk before a frame") << QByteArrayList{junk + a} << QStringList{"message 1", junkReport(junk)} << 0;
    QTest::newRow("bad checksum, then a good frame")
        << QByteArrayList{withBadChecksum(b) + a}
        << QStringList{checksumReport(b), "message 1", junkReport(withBadChecksum(b))} << 0;
    QTest::newRow("damaged frame counted once while the next trickles in")
        << QByteArrayList{badLong} + bytewise(largestFrame(1))
        << QStringList{checksumReport(largestFrame(9)), "message 1", junkReport(badLong)} << 0;
    QTest::newRow("damaged frame counted once behind an unfinished long frame")
        << QByteArrayList{unfinished} + bytewise(a)
        << QStringList{checksumReport(frameOn(9)), "message 1", junkReport(unfinished)} << 0;
    QTest::newRow("too short to be accepted (N = 3)")
        << QByteArrayList{threeWords + a} << QStringList{"message 1", junkReport(threeWords)} << 0;
    QTest::newRow("module 22, then a good frame")
        << QByteArrayList{module22 + a}
        << QStringList{Prefix + "Invalid engine message: " + QString::fromLatin1((module22.mid(1) + a).toHex()),
                       "message 1", junkReport(module22.mid(1))}
        << 0;
    QTest::newRow("engine reports an error")
        << QByteArrayList{failed}
        << QStringList{"message 4", Prefix + "Engine reports error: " + EngineMessage(failed).toString()} << 0;
    QTest::newRow("4096 bytes of frames")
        << QByteArrayList{full} << QStringList{"message 1", "message 2", "message 3", "message 4"} << 0;
    QTest::newRow("4097 bytes are emptied, frames and all")
        << QByteArrayList{full + QByteArray(1, '\0')} << QStringList{tooBig} << 0;
    QTest::newRow("buffer grown to 4097, then a frame")
        << QByteArrayList{QByteArray(4000, '\0'), QByteArray(97, '\0'), a} << QStringList{tooBig, "message 1"} << 0;
}

void TestEngineMessenger::reassembly()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, events);
    QFETCH(int, buffered);

    EngineMessenger messenger;
    Recorder recorder(&messenger);
    QSignalSpy received(&messenger, &EngineMessenger::errorsReceived);
    QSignalSpy reported(&messenger, &EngineMessenger::errorsReported);
    for (const QByteArray &chunk : chunks)
        messenger.receiveData(chunk);
    QCOMPARE(recorder.events, events);
    QCOMPARE(messenger.bufferedBytes(), buffered);

    // Every error is counted, and announced, once.
    const int reportedErrors = events.filter("Engine reports error").size();
    const int receiveErrors = events.filter(Prefix).size() - reportedErrors;
    QCOMPARE(messenger.reportedErrors(), reportedErrors);
    QCOMPARE(reported.count(), reportedErrors);
    QCOMPARE(messenger.receiveErrors(), receiveErrors);
    QCOMPARE(received.count(), receiveErrors);
    if (receiveErrors > 0)
        QCOMPARE(received.last().at(0).toInt(), receiveErrors);
}

void TestEngineMessenger::randomStreamsFindEveryFrame()
{
    QRandomGenerator random(2024);
    // Neither junk nor values hold A5, so nothing but a real frame has a frame header.
    auto noHeaderBytes = [&random](int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            const char byte = char(random.bounded(256));
            bytes.append(byte == char(0xA5) ? char(0x5A) : byte);
        }
        return bytes;
    };
    QByteArray stream;
    QByteArrayList sent;
    QStringList junkReports;
    for (int n = 0; n < 3000; ++n) {
        const QByteArray junk = noHeaderBytes(random.bounded(4) == 0 ? int(random.bounded(1, 40)) : 0);
        if (!junk.isEmpty())
            junkReports.append(junkReport(junk));
        EngineMessage message(int(random.bounded(0x10000)), int(random.bounded(0x10000)), int(random.bounded(22)),
                              int(random.bounded(256)));
        message.setSequence(n);
        message.setValueBytes(noHeaderBytes(4 * int(random.bounded(1, 24))));
        sent.append(message.toFrame());
        stream += junk + sent.last();
    }

    EngineMessenger messenger;
    Recorder recorder(&messenger);
    for (int offset = 0; offset < stream.size();) {
        const int length = int(random.bounded(1, 300));
        messenger.receiveData(stream.mid(offset, length));
        QVERIFY(messenger.bufferedBytes() <= EngineMessenger::MaxBufferBytes);
        offset += length;
    }
    QCOMPARE(recorder.messages.size(), sent.size());
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(recorder.messages.at(i).toFrame(), sent.at(i));
    QCOMPARE(recorder.events.filter(Prefix), junkReports);
    QCOMPARE(messenger.bufferedBytes(), 0);
}

// A receiver may feed more data in, or delete the messenger, from its slot.
void TestEngineMessenger::receiverFeedingMoreData()
{
    EngineMessenger messenger;
    Recorder recorder(&messenger);
    bool fed = false;
    QObject::connect(&messenger, &EngineMessenger::messageReceived, [&] {
        if (!fed) {
            fed = true;
            messenger.receiveData(frameOn(3));
        }
    });
    messenger.receiveData(frameOn(1) + QByteArray::fromHex("0102") + frameOn(2));
    QCOMPARE(recorder.events,
             QStringList({"message 1", "message 2", junkReport(QByteArray::fromHex("0102")), "message 3"}));
    QCOMPARE(messenger.bufferedBytes(), 0);
}

void TestEngineMessenger::receiverDeletingTheMessenger()
{
    auto *messenger = new EngineMessenger;
    int received = 0;
    QObject::connect(messenger, &EngineMessenger::messageReceived, [&] {
        ++received;
        delete messenger;
    });
    messenger->receiveData(frameOn(1) + frameOn(2));
    QCOMPARE(received, 1);
}

void TestEngineMessenger::sequenceNumbersWrap()
{
    EngineMessenger messenger;
    EngineMessage message(1, 0, Engine::Input, Engine::InputTrim);
    const QByteArray first = message.toFrame(); // sequence 0
    for (int i = 0; i < 65536; ++i)
        messenger.sendMessage(&message);
    QCOMPARE(message.toFrame().mid(4, 4), QByteArray::fromHex("ffff0101"));
    messenger.sendMessage(&message);
    QCOMPARE(message.toFrame(), first);
    QCOMPARE(messenger.nextSequence(), 1);
}

void TestEngineMessenger::closeDisconnectsBothTransports()
{
    EngineMessenger messenger;
    Recorder recorder(&messenger);
    QTest::ignoreMessage(QtWarningMsg, "Open called when not in console.");
    messenger.open(QString(), 0); // outside the console the file link stays shut
    QVERIFY(!messenger.isOpen());
    emit messenger.fileConnection()->dataReceived(frameOn(1));
    messenger.close();
    emit messenger.fileConnection()->dataReceived(frameOn(2));
    messenger.open("127.0.0.1", 9, 0);
    emit messenger.networkConnection()->dataReceived(frameOn(3));
    messenger.close();
    emit messenger.networkConnection()->dataReceived(frameOn(4));
    QCOMPARE(recorder.events.filter("message"), QStringList({"message 1", "message 3"}));
}

// The controller's messenger over UDP to a stand-in engine, and the card link's engine
// path through it: a card connection named "EMS" sends SerialBaud, then SerialData.
void TestEngineMessenger::udpLinkAndCardPath()
{
    StatusOwner owner; // having a statusMessage signal, it hears the messenger's
    QSignalSpy ownerStatus(&owner, &StatusOwner::statusMessage);
    EngineMessenger controller(&owner);
    EngineMessenger engine;
    QList<EngineMessage> heard;
    QObject::connect(&engine, &EngineMessenger::messageReceived, [&](EngineMessage *m) { heard.append(*m); });
    controller.open("127.0.0.1", 9, 0);
    QCOMPARE(ownerStatus.last().at(0).toString(), QString("engine network opened"));
    const quint16 controllerPort = controller.networkConnection()->localPort();
    engine.open("127.0.0.1", controllerPort, 0);
    controller.close();
    QCOMPARE(ownerStatus.last().at(0).toString(), QString("engine network disconnected"));
    EngineMessage message(Header(12, 1, Engine::EQ, Engine::EqGain), -3.5f, Engine::AckRequired);
    controller.sendMessage(&message); // numbered (0) while closed, though nothing leaves
    controller.open("127.0.0.1", engine.networkConnection()->localPort(), controllerPort);
    EngineMessage oversized(1, 0, Engine::Input, 0);
    oversized.setValueBytes(QByteArray(4 * 253, 'x'));
    controller.sendMessage(&oversized); // numbered (1), reported, not sent
    QCOMPARE(ownerStatus.last().at(0).toString(), Prefix + "Message too long to send: 253 value words");

    EMS::KipConnection connection(nullptr, 1, &controller); // named "EMS": the engine path
    QSignalSpy status(&connection, &EMS::KipConnection::statusMessage);
    connection.writeData("before open");
    connection.open();
    QByteArray image;
    for (int i = 0; i < 3000; ++i)
        image.append(char(i * 7));
    for (const QByteArray &write : {QByteArray::fromHex("031e0021"), QByteArray::fromHex("0a0b0c0d0e"), image})
        connection.writeData(write);
    connection.writeData(image.left(1004));
    connection.close();
    connection.writeData("late");
    // Once a marker sent last arrives (loopback keeps the order), all else has.
    EngineMessage marker(Header(0xbeef, 0, Engine::Input, 0), 0, 0);
    controller.sendMessage(&marker);
    QTRY_COMPARE(heard.isEmpty() ? 0 : heard.last().channel(), 0xbeef);
    QCOMPARE(heard.size(), 8);
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.at(0).at(0).toString(), QString("Connected via engine"));
    QCOMPARE(status.at(1).at(0).toString(), QString("disconnected from engine"));

    // System SerialBaud 115200.0f, then SerialData: a 32-bit count, the card's bytes,
    // padded to words; slot 1 in the index.
    QCOMPARE(heard.at(0).toFrame(), QByteArray::fromHex("0400a5ff 02002b00 01000000 0000e147 0700b147"));
    QCOMPARE(heard.at(1).toFrame(), QByteArray::fromHex("0500a5ff 03002c00 01000000 04000000 031e0021 101ed120"));
    QCOMPARE(heard.at(2).values(), QByteArray::fromHex("05000000 0a0b0c0d 0e000000"));
    // A long write goes out in messages of at most 1004 card bytes, each with its count.
    const QList<int> sizes = {1004, 1004, 992, 1004};
    QByteArray arrived;
    for (int i = 0; i < sizes.size(); ++i) {
        const QByteArray values = heard.at(3 + i).values();
        QCOMPARE(heard.at(3 + i).header().word2, 1u);
        QCOMPARE(values.left(4), wrapped(QByteArray(), quint32(sizes.at(i))));
        arrived += values.mid(4);
    }
    QCOMPARE(arrived, image + image.left(1004));
    QCOMPARE(engine.receiveErrors(), 0);

    QList<EngineMessage> replies;
    QObject::connect(&controller, &EngineMessenger::messageReceived, [&](EngineMessage *m) { replies.append(*m); });
    EngineMessage reply(Header(0, 0, Engine::System, Engine::KeepAlive), 1, Engine::MessageAck);
    engine.sendMessage(&reply);
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0).toFrame(), reply.toFrame());
}

// Bytes from the engine for a card port: only the counted bytes reach the card's link.
void TestEngineMessenger::cardPortUnwrapsEngineData()
{
    EMS::KipPort port(nullptr, 1);
    QByteArrayList got;
    QObject::connect(port.connection(), &EMS::KipConnection::dataReceived, [&](const QByteArray &b) { got.append(b); });
    const QByteArray reply = QByteArray::fromHex("0f1e14000a0b0c0d0e0f10111213");
    for (const QByteArray &values :
         {wrapped(reply, 14), wrapped(reply + QByteArray(2, 0), 14), wrapped(reply, 400), QByteArray(3, 1)})
        port.receiveSerialEngineData(values);
    QCOMPARE(got, QByteArrayList({reply, reply, reply}));
}

QTEST_GUILESS_MAIN(TestEngineMessenger)
#include "tst_engine_messenger.moc"
