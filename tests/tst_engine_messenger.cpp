#include "engine/appconnection.h"
#include "engine/enginecatalogue.h"
#include "engine/engineconnection.h"
#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
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

// The largest frame: 252 value words, 1024 bytes.
QByteArray largestFrame(int channel)
{
    EngineMessage message(channel, 0, Engine::Input, Engine::InputTrim);
    message.setValueBytes(QByteArray(4 * EngineMessage::MaxValueWords, char(channel)));
    return message.toFrame();
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
        connect(messenger, &EngineMessenger::statusMessage, this,
                [this](const QString &status) { events.append(status); });
        connect(messenger, &EngineMessenger::errorsReceived, this, [this](int count) {
            receiveCounts.append(count);
        });
        connect(messenger, &EngineMessenger::errorsReported, this, [this](int count) {
            reportedCounts.append(count);
        });
    }

    QStringList events;
    QList<EngineMessage> messages;
    QList<int> receiveCounts;
    QList<int> reportedCounts;
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
    void reassembly_data();
    void reassembly();
    void damagedFrameReportedOnceWhileWaiting_data();
    void damagedFrameReportedOnceWhileWaiting();
    void randomStreamsFindEveryFrame();
    void hostileBytesStayWithinTheBuffer();
    void receiverFeedingMoreData();
    void receiverDeletingTheMessenger();
    void sequenceNumbersWrap();
    void talksToAnotherMessengerOverUdp();
    void relaysStatusToItsOwner();
    void fileTransport();
};

void TestEngineMessenger::reassembly_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("receiveErrors");
    QTest::addColumn<int>("reportedErrors");
    QTest::addColumn<int>("buffered");

    const QByteArray a = frameOn(1);
    const QByteArray b = frameOn(2);
    QVERIFY(a.size() == 20);

    QTest::newRow("two frames in one chunk") << QByteArrayList{a + b}
                                             << QStringList{"message 1", "message 2"} << 0 << 0 << 0;
    QTest::newRow("frame split over two chunks") << QByteArrayList{a.left(7), a.mid(7)}
                                                 << QStringList{"message 1"} << 0 << 0 << 0;
    QTest::newRow("incomplete frame waits") << QByteArrayList{a + b.left(19)}
                                            << QStringList{"message 1"} << 0 << 0 << 19;
    QTest::newRow("three junk bytes before a frame")
        << QByteArrayList{QByteArray::fromHex("0a0b0c") + a}
        << QStringList{"message 1", junkReport(QByteArray::fromHex("0a0b0c"))} << 1 << 0 << 0;
    QTest::newRow("bad checksum, then a good frame")
        << QByteArrayList{withBadChecksum(b) + a}
        << QStringList{checksumReport(b), "message 1", junkReport(withBadChecksum(b))} << 2 << 0 << 0;
    QTest::newRow("too short to be accepted (N = 3)")
        << QByteArrayList{EngineMessage(1, 0, Engine::Input, 0).toFrame() + a}
        << QStringList{"message 1", junkReport(EngineMessage(1, 0, Engine::Input, 0).toFrame())} << 1 << 0 << 0;

    const QByteArray module22 = EngineMessage(Header(3, 0, 22, 1), 5, 0).toFrame();
    QTest::newRow("module 22, then a good frame")
        << QByteArrayList{module22 + a}
        << QStringList{Prefix + "Invalid engine message: " + QString::fromLatin1((module22.mid(1) + a).toHex()),
                       "message 1", junkReport(module22.mid(1))}
        << 2 << 0 << 0;

    const QByteArray failed = frameOn(4, Engine::FlashProgramFailure);
    QTest::newRow("engine reports an error")
        << QByteArrayList{failed}
        << QStringList{"message 4", Prefix + "Engine reports error: " + EngineMessage(failed).toString()}
        << 0 << 1 << 0;

    const QByteArray full = largestFrame(1) + largestFrame(2) + largestFrame(3) + largestFrame(4);
    QVERIFY(full.size() == 4096);
    QTest::newRow("4096 bytes of frames") << QByteArrayList{full}
                                          << QStringList{"message 1", "message 2", "message 3", "message 4"}
                                          << 0 << 0 << 0;
    QTest::newRow("4097 bytes are emptied, frames and all")
        << QByteArrayList{full + QByteArray(1, '\0')}
        << QStringList{Prefix + "Buffer was too big: 4097 data ignored."} << 1 << 0 << 0;
    QTest::newRow("buffer grown to 4097, then a frame")
        << QByteArrayList{QByteArray(4000, '\0'), QByteArray(97, '\0'), a}
        << QStringList{Prefix + "Buffer was too big: 4097 data ignored.", "message 1"} << 1 << 0 << 0;
}

void TestEngineMessenger::reassembly()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, events);
    QFETCH(int, receiveErrors);
    QFETCH(int, reportedErrors);
    QFETCH(int, buffered);

    EngineMessenger messenger;
    Recorder recorder(&messenger);
    for (const QByteArray &chunk : chunks)
        messenger.receiveData(chunk);

    QCOMPARE(recorder.events, events);
    QCOMPARE(messenger.receiveErrors(), receiveErrors);
    QCOMPARE(messenger.reportedErrors(), reportedErrors);
    QCOMPARE(messenger.bufferedBytes(), buffered);
    // Each error event carries the new count.
    QList<int> counting;
    for (int i = 1; i <= receiveErrors; ++i)
        counting.append(i);
    QCOMPARE(recorder.receiveCounts, counting);
    QCOMPARE(recorder.reportedCounts.size(), reportedErrors);
}

void TestEngineMessenger::damagedFrameReportedOnceWhileWaiting_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("goodFrame");
    QTest::addColumn<QByteArray>("damagedFrame");

    QTest::newRow("damaged frame first") << QByteArray() << largestFrame(1) << largestFrame(9);
    // A header announcing 1024 bytes keeps every later position under watch until
    // its frame is complete, so the damaged frame behind it is looked at again on
    // every chunk.
    QTest::newRow("behind an unfinished long frame")
        << QByteArray::fromHex("ff00a5ff 00000000 00000000") << frameOn(1) << frameOn(9);
}

void TestEngineMessenger::damagedFrameReportedOnceWhileWaiting()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, goodFrame);
    QFETCH(QByteArray, damagedFrame);

    // The damaged frame stays in the buffer until a good frame carries it off as junk;
    // the chunks in between must not count it again.
    EngineMessenger messenger;
    Recorder recorder(&messenger);
    const QByteArray bad = withBadChecksum(damagedFrame);
    messenger.receiveData(before + bad);
    for (char c : goodFrame)
        messenger.receiveData(QByteArray(1, c));
    QCOMPARE(recorder.events, QStringList({checksumReport(damagedFrame), "message 1", junkReport(before + bad)}));
    QCOMPARE(messenger.receiveErrors(), 2);
    QCOMPARE(messenger.bufferedBytes(), 0);
}

void TestEngineMessenger::randomStreamsFindEveryFrame()
{
    QRandomGenerator random(2024);
    EngineMessenger messenger;
    Recorder recorder(&messenger);

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
    QList<EngineMessage> sent;
    QStringList junkReports;
    for (int n = 0; n < 3000; ++n) {
        const QByteArray junk = noHeaderBytes(random.bounded(4) == 0 ? int(random.bounded(1, 40)) : 0);
        if (!junk.isEmpty())
            junkReports.append(junkReport(junk));
        EngineMessage message(int(random.bounded(0x10000)), int(random.bounded(0x10000)),
                              int(random.bounded(22)), int(random.bounded(256)));
        message.setSequence(n);
        message.setValueBytes(noHeaderBytes(4 * int(random.bounded(1, 24))));
        sent.append(message);
        stream += junk + message.toFrame();
    }

    QStringList reports;
    connect(&messenger, &EngineMessenger::statusMessage, [&](const QString &text) { reports.append(text); });
    for (int offset = 0; offset < stream.size();) {
        const int length = int(random.bounded(1, 300));
        messenger.receiveData(stream.mid(offset, length));
        QVERIFY(messenger.bufferedBytes() <= EngineMessenger::MaxBufferBytes);
        offset += length;
    }

    QCOMPARE(recorder.messages.size(), sent.size());
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(recorder.messages.at(i).toFrame(), sent.at(i).toFrame());
        QCOMPARE(recorder.messages.at(i).sequence(), i);
    }
    QCOMPARE(reports, junkReports);
    QCOMPARE(messenger.receiveErrors(), junkReports.size());
    QCOMPARE(messenger.bufferedBytes(), 0);
}

void TestEngineMessenger::hostileBytesStayWithinTheBuffer()
{
    // Frames cut, corrupted, spliced and mixed with noise biased towards header bytes.
    // Whatever arrives, the buffer keeps to its bound (AddressSanitizer builds also
    // check that nothing is read outside it).
    QRandomGenerator random(99);
    // Thousands of error reports would flood the test log: keep the debug lines out.
    static QtMessageHandler previous;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type != QtDebugMsg)
            previous(type, context, text);
    });
    EngineMessenger messenger;
    QSignalSpy errors(&messenger, &EngineMessenger::errorsReceived);
    int messages = 0;
    connect(&messenger, &EngineMessenger::messageReceived, [&] { ++messages; });
    const char headerish[] = {char(0xA5), char(0xFF), 4, 5, char(255), 0};

    for (int round = 0; round < 4000; ++round) {
        QByteArray chunk;
        switch (random.bounded(5)) {
        case 0:
            chunk = largestFrame(int(random.bounded(1, 100)));
            break;
        case 1:
            chunk = frameOn(int(random.bounded(1, 100))).left(int(random.bounded(20)));
            break;
        case 2: {
            chunk = largestFrame(3);
            for (int flips = 0; flips < 3; ++flips)
                chunk[int(random.bounded(chunk.size()))] = char(random.bounded(256));
            break;
        }
        case 3:
            for (int i = int(random.bounded(600)); i > 0; --i)
                chunk.append(headerish[random.bounded(int(sizeof headerish))]);
            break;
        default:
            for (int i = int(random.bounded(1500)); i > 0; --i)
                chunk.append(char(random.bounded(256)));
            break;
        }
        messenger.receiveData(chunk);
        QVERIFY(messenger.bufferedBytes() <= EngineMessenger::MaxBufferBytes);
    }
    qInstallMessageHandler(previous);
    QVERIFY(messenger.peakBufferedBytes() <= EngineMessenger::MaxBufferBytes);
    QVERIFY(messages > 0);
    QVERIFY(errors.count() > 0);
    QCOMPARE(errors.last().at(0).toInt(), messenger.receiveErrors());
}

void TestEngineMessenger::receiverFeedingMoreData()
{
    EngineMessenger messenger;
    Recorder recorder(&messenger);
    bool fed = false;
    connect(&messenger, &EngineMessenger::messageReceived, [&] {
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
    connect(messenger, &EngineMessenger::messageReceived, [&] {
        ++received;
        delete messenger;
    });
    messenger->receiveData(frameOn(1) + frameOn(2));
    QCOMPARE(received, 1);
}

void TestEngineMessenger::sequenceNumbersWrap()
{
    EngineMessenger messenger;
    EngineMessage message(1, 0, Engine::Input, 0);
    for (int i = 0; i < 65536; ++i)
        messenger.sendMessage(&message);
    QCOMPARE(message.toFrame().mid(4, 2), QByteArray::fromHex("ffff"));
    messenger.sendMessage(&message);
    QCOMPARE(message.toFrame().mid(4, 2), QByteArray::fromHex("0000"));
    QCOMPARE(message.channel(), 1);
    messenger.sendMessage(&message);
    messenger.resetSequence();
    messenger.sendMessage(&message);
    QCOMPARE(message.sequence(), 0);
}

void TestEngineMessenger::talksToAnotherMessengerOverUdp()
{
    EngineMessenger controller;
    EngineMessenger engine;
    Recorder heardByEngine(&engine);
    Recorder heardByController(&controller);
    QSignalSpy controllerStatus(&controller, &EngineMessenger::statusMessage);

    // Numbered while closed, though nothing leaves.
    EngineMessage message(Header(12, 1, Engine::EQ, Engine::EqGain), -3.5f, Engine::AckRequired);
    for (int i = 0; i < 5; ++i)
        controller.sendMessage(&message);

    // Each needs the other's port: bind the controller first, then point each at the other.
    controller.open("127.0.0.1", 9, 0);
    const quint16 controllerPort = controller.networkConnection()->localPort();
    engine.open("127.0.0.1", controllerPort, 0);
    controller.open("127.0.0.1", engine.networkConnection()->localPort(), controllerPort);
    QCOMPARE(controller.networkConnection()->localPort(), controllerPort);
    QCOMPARE(controllerStatus.last().at(0).toString(), QString("engine network opened"));

    for (int i = 0; i < 100; ++i) {
        message.setChannel(i);
        controller.sendMessage(&message);
    }
    QTRY_COMPARE(heardByEngine.messages.size(), 100);
    for (int i = 0; i < 100; ++i) {
        const EngineMessage &got = heardByEngine.messages.at(i);
        QCOMPARE(got.channel(), i);
        QCOMPARE(got.sequence(), 5 + i);
        QCOMPARE(got.header().word1 >> 16, message.header().word1 >> 16);
        QCOMPARE(got.index(), 1);
        QCOMPARE(got.messageType(), int(Engine::AckRequired));
        QCOMPARE(got.floatValue(0), -3.5f);
    }

    EngineMessage reply(Header(0, 0, Engine::System, Engine::KeepAlive), 1, Engine::MessageAck);
    engine.sendMessage(&reply);
    QTRY_COMPARE(heardByController.messages.size(), 1);
    QCOMPARE(heardByController.messages.at(0).parameter(), int(Engine::KeepAlive));

    // A message no frame can count is reported, not sent.
    EngineMessage oversized(1, 0, Engine::Input, 0);
    oversized.setValueBytes(QByteArray(4 * 253, 'x'));
    controller.sendMessage(&oversized);
    QCOMPARE(controllerStatus.last().at(0).toString(), Prefix + "Message too long to send: 253 value words");

    controller.close();
    QCOMPARE(controllerStatus.last().at(0).toString(), QString("engine network disconnected"));
    controller.sendMessage(&message);
    QTest::qWait(50);
    QCOMPARE(heardByEngine.messages.size(), 100);
    QCOMPARE(engine.receiveErrors(), 0);
    QCOMPARE(engine.bufferedBytes(), 0);
}

void TestEngineMessenger::relaysStatusToItsOwner()
{
    StatusOwner owner;
    QSignalSpy ownerStatus(&owner, &StatusOwner::statusMessage);
    auto *messenger = new EngineMessenger(&owner);
    messenger->receiveData(QByteArray(4097, '\0'));
    QCOMPARE(ownerStatus.count(), 1);
    QCOMPARE(ownerStatus.at(0).at(0).toString(), Prefix + "Buffer was too big: 4097 data ignored.");

}

void TestEngineMessenger::fileTransport()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    const QString fileName = home.filePath("engine.dat");

    {
        // Outside the console the file is never touched and messages go nowhere.
        EngineMessenger messenger;
        QCOMPARE(QDir::toNativeSeparators(messenger.fileConnection()->fileName()),
                 QDir::toNativeSeparators(fileName));
        QTest::ignoreMessage(QtWarningMsg, "Open called when not in console.");
        messenger.open(QString(), 0);
        QVERIFY(!messenger.isOpen());
        EngineMessage message(1, 0, Engine::Input, 0);
        messenger.sendMessage(&message);
        QVERIFY(!QFile::exists(fileName));
        QCOMPARE(messenger.nextSequence(), 1);
    }
    {
        QFile old(fileName);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("stale bytes from an earlier run");
        old.close();

        EngineMessenger messenger;
        messenger.fileConnection()->setInConsole(true);
        QTest::ignoreMessage(QtWarningMsg, "Open called when not in console.");
        QTest::ignoreMessage(QtDebugMsg, "Opened engine.dat file for writing.");
        messenger.open(QString(), 0);
        QVERIFY(messenger.isOpen());

        EngineMessage first(Header(1, 0, Engine::Input, Engine::InputTrim), 7, 0);
        EngineMessage second(Header(2, 0, Engine::Input, Engine::InputTrim), 8, 0);
        messenger.sendMessage(&first);
        messenger.sendMessage(&second);
        QFile written(fileName);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), first.toFrame() + second.toFrame());
        QCOMPARE(second.sequence(), 1);

        QTest::ignoreMessage(QtWarningMsg, "Desktop engine connection closed");
        messenger.close();
        QVERIFY(!messenger.isOpen());
    }
    qputenv("HOME", savedHome);
}

QTEST_GUILESS_MAIN(TestEngineMessenger)
#include "tst_engine_messenger.moc"
