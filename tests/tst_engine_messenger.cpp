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
quint32 sumOf(const QByteArray &frame) { return qFromLittleEndian<quint32>(frame.constData() + frame.size() - 4); }
QByteArray withBadChecksum(QByteArray frame)
{
    qToLittleEndian<quint32>(sumOf(frame) + 1, frame.data() + frame.size() - 4);
    return frame;
}
QString checksumReport(const QByteArray &good)
{
    return Prefix + QString("Invalid checksum %1 != %2").arg(sumOf(good)).arg(quint32(sumOf(good) + 1));
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
QStringList texts(const QSignalSpy &spy)
{
    QStringList all;
    for (const QList<QVariant> &call : spy)
        all << call.at(0).toString();
    return all;
}
// Card bytes behind their 32-bit count, as a SerialData message carries them.
QByteArray wrapped(const QByteArray &bytes, quint32 count)
{
    QByteArray result(4, '\0');
    qToLittleEndian<quint32>(count, result.data());
    return result + bytes;
}

// Everything a messenger tells, in order: "message <channel>" or the status text.
struct Recorder : QObject
{
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
    void message_data()
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
        EngineMessage failed(0, 1, Engine::System, Engine::SerialData);
        failed.setSequence(0x1abcd); // 16 bits kept
        failed.setMessageType(0x100 + Engine::FlashDataError);
        EngineMessage sequenceAlone(0, 0, 0, 0);
        sequenceAlone.setSequence(1);
        sequenceAlone.validate(); // only the constructors, decoding and setModule validate by themselves
        EngineMessage moduleChanged(1, 0, Engine::Input, 0);
        moduleChanged.setModule(22);
        // One int value: checksum 0xffa50104 + 0x03101234 + 0x00050001 + 2, modulo 2^32.
        QTest::newRow("one int value") << sequenced << QByteArray::fromHex("0401a5ff 34121003 01000500 02000000 3b13ba02")
            << true << "03101234 00050001 00000002 (2.8026e-45) // channel 5 Dynamics [1] DynRatio";
        QTest::newRow("two values, sum wraps") << two << QByteArray::fromHex("0500a5ff 0000ff14 ffffffff ffffffff 00000080 0300a494")
            << true << "14ff0000 ffffffff ffffffff 80000000  // channel 65535 MixMinus [65535] ";
        QTest::newRow("value bytes padded to words") << odd << QByteArray::fromHex("0500a5ff 00002c00 00000100 61626364 65000000 cb623564")
            << true << "002c0000 00010000 64636261 00000065  // System SerialData";
        QTest::newRow("fx channel") << EngineMessage(Header(7, 3, Engine::FXcontrol, 4), 0.5f, 0)
            << QByteArray::fromHex("0400a5ff 00000412 03000700 0000003f 0700b050") << true << "12040000 00070003 3f000000 (0.5) // fx channel 7 FXcontrol";
        QTest::newRow("error report") << failed << QByteArray::fromHex("0313a5ff cdab2c00 01000000 d1bed1ff") << true
            << "002cabcd 00000001  // System SerialData ** FlashDataError";
        QTest::newRow("all zero") << EngineMessage(0, 0, 0, 0) << QByteArray::fromHex("0300a5ff 00000000 00000000 0300a5ff") << false
            << "00000000 00000000  // System ";
        QTest::newRow("sequence alone") << sequenceAlone << QByteArray::fromHex("0300a5ff 01000000 00000000 0400a5ff") << true
            << "00000001 00000000  // System ";
        QTest::newRow("module 21") << EngineMessage(0, 0, 21, 0) << QByteArray::fromHex("0300a5ff 00000015 00000000 0300a514") << true
            << "15000000 00000000  // channel 0  [0] InputSource";
        QTest::newRow("module 22") << EngineMessage(1, 1, 22, 1) << QByteArray::fromHex("0300a5ff 00000116 01000100 0400a715") << false
            << "16010000 00010001  // channel 1  [1] InputTrim";
        QTest::newRow("module set to 22") << moduleChanged << QByteArray::fromHex("0300a5ff 00000016 00000100 0300a615") << false
            << "16000000 00010000  // channel 1  [0] InputSource";
    }
    // Each message's frame, validity and log text, and the same read back from the frame,
    // whole and cut short: a cut frame reads no byte beyond its end.
    void message()
    {
        QFETCH(EngineMessage, message);
        QFETCH(QByteArray, frame);
        QFETCH(bool, valid);
        QFETCH(QString, text);
        QCOMPARE(message.toFrame().toHex(' '), frame.toHex(' '));
        QCOMPARE(message.isValid(), valid);
        QCOMPARE(message.toString(), text);
        QCOMPARE(EngineMessage(frame).toFrame(), frame);
        for (int length = 0; length <= frame.size(); ++length) {
            const EngineMessage cut(QByteArray(frame.constData(), length)); // no spare capacity
            QCOMPARE(cut.isValid(), valid && length >= 12); // the header's bytes
            QCOMPARE(cut.values(), length < 12 ? QByteArray() : frame.mid(12, qMin(length, frame.size() - 4) - 12));
        }
    }
    void errorKinds()
    {
        const QList<int> errors = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20};
        EngineMessage message(1, 0, Engine::Input, 0);
        for (int kind = -1; kind < 300; ++kind) {
            message.setMessageType(kind);
            QVERIFY2(message.isError() == errors.contains(kind & 0xff), qPrintable(QString::number(kind)));
        }
    }
    void reassembly_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("buffered");
        const QByteArray a = frameOn(1), b = frameOn(2), junk = QByteArray::fromHex("0a0b0c");
        const QByteArray threeWords = EngineMessage(1, 0, Engine::Input, 0).toFrame();
        const QByteArray module22 = EngineMessage(Header(3, 0, 22, 1), 5, 0).toFrame();
        const QByteArray failed = frameOn(4, Engine::FlashProgramFailure);
        const QByteArray full = largestFrame(1) + largestFrame(2) + largestFrame(3) + largestFrame(4);
        const QByteArray badLong = withBadChecksum(largestFrame(9));
        // A header announcing 1024 bytes keeps every later position under watch until its
        // frame is complete, so the damaged frame behind it is looked at on every chunk.
        const QByteArray unfinished = QByteArray::fromHex("ff00a5ff 00000000 00000000") + withBadChecksum(frameOn(9));
        const QString tooBig = Prefix + "Buffer was too big: 4097 data ignored.";
        using Events = QStringList;
        QTest::newRow("incomplete frame waits") << QByteArrayList{a + b.left(19)} << Events{"message 1"} << 19;
        QTest::newRow("junk before a frame") << QByteArrayList{junk + a} << Events{"message 1", junkReport(junk)} << 0;
        QTest::newRow("bad checksum, then a good frame") << QByteArrayList{withBadChecksum(b) + a}
            << Events{checksumReport(b), "message 1", junkReport(withBadChecksum(b))} << 0;
        QTest::newRow("damaged frame counted once while the next trickles in") << QByteArrayList{badLong} + bytewise(largestFrame(1))
            << Events{checksumReport(largestFrame(9)), "message 1", junkReport(badLong)} << 0;
        QTest::newRow("damaged frame counted once behind an unfinished long frame") << QByteArrayList{unfinished} + bytewise(a)
            << Events{checksumReport(frameOn(9)), "message 1", junkReport(unfinished)} << 0;
        QTest::newRow("too short to be accepted (N = 3)") << QByteArrayList{threeWords + a}
            << Events{"message 1", junkReport(threeWords)} << 0;
        QTest::newRow("module 22, then a good frame") << QByteArrayList{module22 + a}
            << Events{Prefix + "Invalid engine message: " + QString::fromLatin1((module22.mid(1) + a).toHex()), "message 1",
                      junkReport(module22.mid(1))} << 0;
        QTest::newRow("engine reports an error") << QByteArrayList{failed}
            << Events{"message 4", Prefix + "Engine reports error: " + EngineMessage(failed).toString()} << 0;
        QTest::newRow("4096 bytes of frames") << QByteArrayList{full} << Events{"message 1", "message 2", "message 3", "message 4"} << 0;
        QTest::newRow("4097 bytes are emptied, frames and all") << QByteArrayList{full + QByteArray(1, '\0')} << Events{tooBig} << 0;
        QTest::newRow("buffer grown to 4097, then a frame") << QByteArrayList{QByteArray(4000, '\0'), QByteArray(97, '\0'), a}
            << Events{tooBig, "message 1"} << 0;
    }
    void reassembly()
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
    // Junk and frames in random chunks; neither junk nor values hold A5, so nothing but a
    // real frame has a frame header.
    void randomStreamsFindEveryFrame()
    {
        QRandomGenerator random(2024);
        auto noHeaderBytes = [&random](int count) {
            QByteArray bytes(4 * ((count + 3) / 4), '\0');
            random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
            return bytes.left(count).replace(char(0xA5), char(0x5A));
        };
        QByteArray stream;
        QByteArrayList sent;
        QStringList junkReports;
        for (int n = 0; n < 3000; ++n) {
            const QByteArray junk = noHeaderBytes(random.bounded(4) == 0 ? int(random.bounded(1, 40)) : 0);
            if (!junk.isEmpty())
                junkReports.append(junkReport(junk));
            EngineMessage message(int(random.bounded(0x10000)), int(random.bounded(0x10000)), int(random.bounded(22)), int(random.bounded(256)));
            message.setSequence(n);
            message.setValueBytes(noHeaderBytes(4 * int(random.bounded(1, 24))));
            sent.append(message.toFrame());
            stream += junk + sent.last();
        }
        EngineMessenger messenger;
        Recorder recorder(&messenger);
        for (int offset = 0, length = 0; offset < stream.size(); offset += length) {
            length = int(random.bounded(1, 300));
            messenger.receiveData(stream.mid(offset, length));
            QVERIFY(messenger.bufferedBytes() <= EngineMessenger::MaxBufferBytes);
        }
        QCOMPARE(recorder.messages.size(), sent.size());
        for (int i = 0; i < sent.size(); ++i)
            QCOMPARE(recorder.messages.at(i).toFrame(), sent.at(i));
        QCOMPARE(recorder.events.filter(Prefix), junkReports);
        QCOMPARE(messenger.bufferedBytes(), 0);
    }
    // A receiver may feed more data in, or delete the messenger, from its slot.
    void receiverFeedsOrDeletes()
    {
        EngineMessenger messenger;
        Recorder recorder(&messenger);
        bool fed = false;
        QObject::connect(&messenger, &EngineMessenger::messageReceived, [&] {
            if (!fed && (fed = true))
                messenger.receiveData(frameOn(3));
        });
        messenger.receiveData(frameOn(1) + QByteArray::fromHex("0102") + frameOn(2));
        QCOMPARE(recorder.events, QStringList({"message 1", "message 2", junkReport(QByteArray::fromHex("0102")), "message 3"}));
        QCOMPARE(messenger.bufferedBytes(), 0);
        auto *doomed = new EngineMessenger;
        int received = 0;
        QObject::connect(doomed, &EngineMessenger::messageReceived, [&] { ++received, delete doomed; });
        doomed->receiveData(frameOn(1) + frameOn(2));
        QCOMPARE(received, 1);
    }
    void sequenceNumbersWrap()
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
    // The controller's messenger over UDP to a stand-in engine, and the card link's engine
    // path through it: a card connection named "EMS" sends SerialBaud, then SerialData.
    void udpLinkAndCardPath()
    {
        StatusOwner owner; // having a statusMessage signal, it hears the messenger's
        QSignalSpy ownerStatus(&owner, &StatusOwner::statusMessage);
        EngineMessenger controller(&owner), engine;
        QList<EngineMessage> heard, replies;
        QObject::connect(&engine, &EngineMessenger::messageReceived, [&](EngineMessage *m) { heard.append(*m); });
        QObject::connect(&controller, &EngineMessenger::messageReceived, [&](EngineMessage *m) { replies.append(*m); });
        // Outside the console the file link stays shut, yet delivers until close().
        QTest::ignoreMessage(QtWarningMsg, "Open called when not in console.");
        controller.open(QString(), 0);
        QVERIFY(!controller.isOpen());
        emit controller.fileConnection()->dataReceived(frameOn(1));
        controller.open("127.0.0.1", 9, 0); // closes the file link first
        emit controller.fileConnection()->dataReceived(frameOn(2));
        const quint16 controllerPort = controller.networkConnection()->localPort();
        engine.open("127.0.0.1", controllerPort, 0);
        controller.close();
        emit controller.networkConnection()->dataReceived(frameOn(3));
        QCOMPARE(replies.size(), 1);
        QCOMPARE(replies.at(0).channel(), 1);
        EngineMessage message(Header(12, 1, Engine::EQ, Engine::EqGain), -3.5f, Engine::AckRequired);
        controller.sendMessage(&message); // numbered (0) while closed, though nothing leaves
        controller.open("127.0.0.1", engine.networkConnection()->localPort(), controllerPort);
        // 252 value words fill a frame (N = 255, 1024 bytes); one byte more is refused.
        EngineMessage oversized(1, 0, Engine::Input, 0);
        oversized.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords + 1, 'x'));
        QVERIFY(oversized.toFrame().isEmpty());
        controller.sendMessage(&oversized); // numbered (1), reported, not sent
        QCOMPARE(texts(ownerStatus), QStringList({"engine network opened", "engine network closing...", "engine network disconnected",
                                                  "engine network opened", Prefix + "Message too long to send: 253 value words"}));

        EMS::KipConnection connection(nullptr, 1, &controller); // named "EMS": the engine path
        QSignalSpy status(&connection, &EMS::KipConnection::statusMessage);
        QByteArray image;
        for (int i = 0; i < 3000; ++i)
            image.append(char(i * 7));
        connection.writeData("before open");
        connection.open();
        for (const QByteArray &write : {QByteArray::fromHex("031e0021"), QByteArray::fromHex("0a0b0c0d0e"), image, image.left(1004)})
            connection.writeData(write);
        connection.close();
        connection.writeData("late");
        // Once a marker sent last arrives (loopback keeps the order), all else has.
        EngineMessage marker(Header(0xbeef, 0, Engine::Input, 0), 0, 0);
        controller.sendMessage(&marker);
        QTRY_COMPARE(heard.isEmpty() ? 0 : heard.last().channel(), 0xbeef);
        QCOMPARE(heard.size(), 8);
        QCOMPARE(texts(status), QStringList({"Connected via engine", "disconnected from engine"}));
        // SerialBaud 115200.0f, then SerialData: a 32-bit count, the card's bytes padded to
        // words; slot 1 in the index.
        QCOMPARE(heard.at(0).toFrame(), QByteArray::fromHex("0400a5ff 02002b00 01000000 0000e147 0700b147"));
        QCOMPARE(heard.at(1).toFrame(), QByteArray::fromHex("0500a5ff 03002c00 01000000 04000000 031e0021 101ed120"));
        QCOMPARE(heard.at(2).values(), QByteArray::fromHex("05000000 0a0b0c0d 0e000000"));
        // A long write goes out in messages of at most 1004 card bytes, each with its count.
        QByteArray arrived;
        for (int i = 3; i < 7; ++i) {
            QCOMPARE(heard.at(i).header().word2, 1u);
            QCOMPARE(heard.at(i).values().left(4), wrapped(QByteArray(), i == 5 ? 992 : 1004));
            arrived += heard.at(i).values().mid(4);
        }
        QCOMPARE(arrived, image + image.left(1004));
        QCOMPARE(engine.receiveErrors(), 0);
        EngineMessage reply(Header(0, 0, Engine::System, Engine::KeepAlive), 1, Engine::MessageAck);
        engine.sendMessage(&reply);
        QTRY_COMPARE(replies.size(), 2);
        QCOMPARE(replies.at(1).toFrame(), reply.toFrame());
    }
    // Bytes from the engine for a card port: only the counted bytes reach the card's link.
    void cardPortUnwrapsEngineData()
    {
        EMS::KipPort port(nullptr, 1);
        QByteArrayList got;
        QObject::connect(port.connection(), &EMS::KipConnection::dataReceived, [&](const QByteArray &b) { got.append(b); });
        const QByteArray reply = QByteArray::fromHex("0f1e14000a0b0c0d0e0f10111213");
        for (const QByteArray &values : {wrapped(reply, 14), wrapped(reply + QByteArray(2, 0), 14), wrapped(reply, 400), QByteArray(3, 1)})
            port.receiveSerialEngineData(values);
        QCOMPARE(got, QByteArrayList({reply, reply, reply}));
    }
};

QTEST_GUILESS_MAIN(TestEngineMessenger)
#include "tst_engine_messenger.moc"
