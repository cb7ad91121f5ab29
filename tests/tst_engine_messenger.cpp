#include "engine/appconnection.h"
#include "engine/enginecatalogue.h"
#include "engine/engineconnection.h"
#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"
#include "link/kipconnection.h"
#include "link/kipport.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

using EMS::EngineMessage;
using EMS::EngineMessenger;
using Header = EMS::EngineMessage::EngineHeader;
namespace Engine = EMS::Engine;

namespace {
const QString Prefix = QStringLiteral("EngineMessenger ERROR: ");

QByteArray frameOn(int channel, int type = 0) { return EngineMessage(Header(channel, 0, Engine::Input, Engine::InputTrim), channel, type).toFrame(); }
QByteArray largestFrame(int channel) // 252 value words, 1024 bytes
{
    EngineMessage m(channel, 0, Engine::Input, Engine::InputTrim);
    return m.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords, char(channel))), m.toFrame();
}
quint32 sumOf(const QByteArray &f) { return qFromLittleEndian<quint32>(f.constData() + f.size() - 4); }
QByteArray withBadChecksum(QByteArray f) { return qToLittleEndian<quint32>(sumOf(f) + 1, f.data() + f.size() - 4), f; }
QString checksumReport(const QByteArray &good) { return Prefix + QString("Invalid checksum %1 != %2").arg(sumOf(good)).arg(sumOf(good) + 1); }
QString junkReport(const QByteArray &junk) { return Prefix + "Rx data error from engine: " + junk.toHex() + " ignored"; }

struct Recorder : QObject // everything a messenger tells, in order: "message <channel>" or the status text
{
    explicit Recorder(EngineMessenger *m)
    {
        connect(m, &EngineMessenger::messageReceived, this, [this](EngineMessage *e) { frames << e->toFrame(), events << QString("message %1").arg(e->channel()); });
        connect(m, &EngineMessenger::statusMessage, this, [this](const QString &text) { events.append(text); });
    }
    QStringList events;
    QByteArrayList frames;
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
        EngineMessage sequenced(Header(5, 1, Engine::Dynamics, Engine::DynRatio), 2, Engine::AckRequired);
        sequenced.setSequence(0x1234);
        EngineMessage two(0xffff, 0xffff, Engine::MixMinus, 0xff);
        two.setValues(0xffffffff, 0x80000000);
        EngineMessage odd(1, 0, Engine::System, Engine::SerialData);
        odd.setValueBytes("abcde");
        EngineMessage failed(0, 1, Engine::System, Engine::SerialData);
        failed.setSequence(0x1abcd); // 16 bits kept
        failed.setMessageType(0x100 + Engine::FlashDataError);
        QTest::newRow("one int value") << sequenced << QByteArray::fromHex("0401a5ff 34121003 01000500 02000000 3b13ba02");
        QTest::newRow("two values, sum wraps") << two << QByteArray::fromHex("0500a5ff 0000ff14 ffffffff ffffffff 00000080 0300a494");
        QTest::newRow("value bytes padded to words") << odd << QByteArray::fromHex("0500a5ff 00002c00 00000100 61626364 65000000 cb623564");
        QTest::newRow("error report") << failed << QByteArray::fromHex("0313a5ff cdab2c00 01000000 d1bed1ff");
    }
    // Exact frame, read back whole and cut short: a cut frame reads nothing past its end.
    void message()
    {
        QFETCH(EngineMessage, message);
        QFETCH(QByteArray, frame);
        QCOMPARE(message.toFrame().toHex(' '), frame.toHex(' '));
        QCOMPARE(EngineMessage(frame).toFrame(), frame);
        for (int length = 0; length <= frame.size(); ++length) {
            const EngineMessage cut(QByteArray(frame.constData(), length));
            QCOMPARE(cut.isValid(), length >= 12);
            QCOMPARE(cut.values(), length < 12 ? QByteArray() : frame.mid(12, qMin(length, frame.size() - 4) - 12));
        }
    }
    void reassembly_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("events");
        const QByteArray a = frameOn(1), threeWords = EngineMessage(1, 0, Engine::Input, 0).toFrame();
        const QByteArray module22 = EngineMessage(Header(3, 0, 22, 1), 5, 0).toFrame(), failed = frameOn(4, Engine::FlashProgramFailure);
        const QByteArray full = largestFrame(1) + largestFrame(2) + largestFrame(3) + largestFrame(4) + '\0';
        const QByteArray badLong = withBadChecksum(largestFrame(9));
        // A header announcing 1024 bytes keeps later positions under watch until it is complete.
        const QByteArray unfinished = QByteArray::fromHex("ff00a5ff 00000000 00000000") + withBadChecksum(frameOn(9));
        auto bytewise = [](QByteArrayList chunks, const QByteArray &bytes) { for (char c : bytes) chunks.append(QByteArray(1, c)); return chunks; };
        using Events = QStringList;
        QTest::newRow("damaged frame counted once while the next trickles in") << bytewise({badLong}, largestFrame(1))
            << Events{checksumReport(largestFrame(9)), "message 1", junkReport(badLong)};
        QTest::newRow("damaged frame counted once behind an unfinished long frame") << bytewise({unfinished}, a)
            << Events{checksumReport(frameOn(9)), "message 1", junkReport(unfinished)};
        QTest::newRow("too short to be accepted (N = 3)") << QByteArrayList{threeWords + a} << Events{"message 1", junkReport(threeWords)};
        QTest::newRow("module 22, then a good frame") << QByteArrayList{module22 + a}
            << Events{Prefix + "Invalid engine message: " + (module22.mid(1) + a).toHex(), "message 1", junkReport(module22.mid(1))};
        QTest::newRow("engine reports an error") << QByteArrayList{failed}
            << Events{"message 4", Prefix + "Engine reports error: " + EngineMessage(failed).toString()};
        QTest::newRow("4097 bytes are emptied, frames and all") << QByteArrayList{full} << Events{Prefix + "Buffer was too big: 4097 data ignored."};
    }
    void reassembly()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, events);
        EngineMessenger messenger;
        Recorder recorder(&messenger);
        for (const QByteArray &chunk : chunks)
            messenger.receiveData(chunk);
        QCOMPARE(recorder.events, events);
        const int reported = events.filter("Engine reports error").size(); // every error counted once
        QCOMPARE(messenger.reportedErrors(), reported);
        QCOMPARE(messenger.receiveErrors(), events.filter(Prefix).size() - reported);
    }
    // Junk and frames in random chunks; no junk or value byte is A5, so only real frames have a header.
    void randomStreamsFindEveryFrame()
    {
        QRandomGenerator random(2024);
        auto noHeaderBytes = [&random](int count) { QByteArray b; while (b.size() < count) b += char(random.bounded(0xA6, 0x1A5)); return b; };
        QByteArray stream;
        QByteArrayList sent;
        QStringList junkReports;
        for (int n = 0; n < 3000; ++n) {
            const QByteArray junk = noHeaderBytes(random.bounded(4) == 0 ? int(random.bounded(1, 40)) : 0);
            junkReports << (junk.isEmpty() ? QStringList() : QStringList(junkReport(junk)));
            EngineMessage message(int(random.bounded(0x10000)), int(random.bounded(0x10000)), int(random.bounded(22)), int(random.bounded(256)));
            message.setValueBytes(noHeaderBytes(4 * int(random.bounded(1, 24))));
            sent.append(message.toFrame());
            stream += junk + sent.last();
        }
        EngineMessenger messenger;
        Recorder recorder(&messenger);
        for (int offset = 0, length = 0; offset < stream.size(); offset += length)
            messenger.receiveData(stream.mid(offset, length = int(random.bounded(1, 300))));
        QCOMPARE(recorder.frames, sent);
        QCOMPARE(recorder.events.filter(Prefix), junkReports);
    }
    void receiverFeedsOrDeletes() // a receiver may feed more data in, or delete the messenger, from its slot
    {
        EngineMessenger messenger;
        Recorder recorder(&messenger);
        bool fed = false;
        QObject::connect(&messenger, &EngineMessenger::messageReceived, [&] { if (!fed && (fed = true)) messenger.receiveData(frameOn(3)); });
        messenger.receiveData(frameOn(1) + QByteArray::fromHex("0102") + frameOn(2));
        QCOMPARE(recorder.events, QStringList({"message 1", "message 2", junkReport(QByteArray::fromHex("0102")), "message 3"}));
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
        for (int i = 0; i <= 65536; ++i)
            messenger.sendMessage(&message);
        QCOMPARE(message.toFrame().mid(4, 2), QByteArray::fromHex("0000"));
        QCOMPARE(messenger.nextSequence(), 1);
    }
    // The controller's messenger over UDP to a stand-in engine; a card connection named "EMS" through it.
    void udpLinkAndCardPath()
    {
        EngineMessenger controller, engine;
        Recorder replies(&controller), heard(&engine);
        // close() disconnects both transports: only the file link's first frame arrives.
        QTest::ignoreMessage(QtWarningMsg, "Open called when not in console.");
        controller.open(QString(), 0);
        emit controller.fileConnection()->dataReceived(frameOn(1));
        controller.open("127.0.0.1", 9, 0); // closes the file link first
        emit controller.fileConnection()->dataReceived(frameOn(2));
        const quint16 controllerPort = controller.networkConnection()->localPort();
        engine.open("127.0.0.1", controllerPort, 0);
        controller.close();
        emit controller.networkConnection()->dataReceived(frameOn(3));
        QCOMPARE(replies.frames, QByteArrayList{frameOn(1)});
        EngineMessage closedSend(Header(12, 1, Engine::EQ, Engine::EqGain), -3.5f, Engine::AckRequired);
        controller.sendMessage(&closedSend); // numbered (0), not sent
        controller.open("127.0.0.1", engine.networkConnection()->localPort(), controllerPort);
        EngineMessage oversized(1, 0, Engine::Input, 0); // one byte over 252 value words
        oversized.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords + 1, 'x'));
        QVERIFY(oversized.toFrame().isEmpty());
        controller.sendMessage(&oversized); // numbered (1), reported, not sent
        QCOMPARE(replies.events.last(), Prefix + "Message too long to send: 253 value words");

        EMS::KipConnection connection(nullptr, 1, &controller);
        QByteArray image(3000, '\0');
        std::generate(image.begin(), image.end(), [i = 0]() mutable { return char(7 * i++); });
        connection.writeData("before open");
        connection.open();
        for (const QByteArray &write : {QByteArray::fromHex("031e0021"), QByteArray::fromHex("0a0b0c0d0e"), image, image.left(1004)})
            connection.writeData(write);
        connection.close();
        connection.writeData("late");
        EngineMessage marker(Header(0xbeef, 0, Engine::Input, 0), 0, 0); // loopback keeps the order
        controller.sendMessage(&marker);
        QTRY_VERIFY(heard.frames.endsWith(marker.toFrame()));
        QCOMPARE(heard.frames.size(), 8);
        // SerialBaud 115200.0f; SerialData: a 32-bit count, the bytes padded to words; slot 1.
        QCOMPARE(heard.frames.at(0), QByteArray::fromHex("0400a5ff 02002b00 01000000 0000e147 0700b147"));
        QCOMPARE(heard.frames.at(1), QByteArray::fromHex("0500a5ff 03002c00 01000000 04000000 031e0021 101ed120"));
        QCOMPARE(heard.frames.at(2).mid(12, 12), QByteArray::fromHex("05000000 0a0b0c0d 0e000000"));
        QByteArray arrived; // a long write goes out in messages of at most 1004 card bytes
        for (int i = 3; i < 7; ++i) {
            QCOMPARE(qFromLittleEndian<quint32>(heard.frames.at(i).constData() + 12), i == 5 ? 992u : 1004u);
            arrived += EngineMessage(heard.frames.at(i)).values().mid(4);
        }
        QCOMPARE(arrived, image + image.left(1004));
    }
    void cardPortUnwrapsEngineData() // only the counted bytes reach the card's link
    {
        EMS::KipPort port(nullptr, 1);
        QByteArrayList got;
        QObject::connect(port.connection(), &EMS::KipConnection::dataReceived, [&](const QByteArray &b) { got.append(b); });
        const QByteArray reply = QByteArray::fromHex("0f1e14000a0b0c0d0e0f10111213"), n14 = QByteArray::fromHex("0e000000");
        for (const QByteArray &values : {n14 + reply, n14 + reply + QByteArray(2, 0), QByteArray::fromHex("90010000") + reply, QByteArray(3, 1)})
            port.receiveSerialEngineData(values); // 14 bytes counted, 14 and 2 spare, 400 counted, cut short
        QCOMPARE(got, QByteArrayList({reply, reply, reply}));
    }
};

QTEST_GUILESS_MAIN(TestEngineMessenger)
#include "tst_engine_messenger.moc"
