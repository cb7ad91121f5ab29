// The remote layer without a network: the strict OSC command decoder, the command
// receiver's choice of what to act on and how it reports what it refuses, the state
// publisher's on-change and refresh rules, the shared command names, the OSC target
// option, and the adapter choice the `ports` command shows.
#include "support/uitestsupport.h"

#include "common/iconnection.h"
#include "common/oscclient.h"
#include "common/oscmessageparser.h"
#include "remote/osccommandpacket.h"
#include "remote/osccommandreceiver.h"
#include "remote/oscstatepublisher.h"
#include "remote/remoteoptions.h"
#include "remote/slotcommands.h"
#include "slot/slotcontroller.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(QList<EMS::SerialPortEntry>)

using namespace EMS;

namespace {

// Keeps what a publisher sends instead of sending it.
class RecordingConnection : public Common::ConnectionSignals, public Common::IConnection
{
public:
    QList<QByteArray> sent;
    bool isOpen() const override { return true; }
    void open() override {}
    void close() override {}
    Common::ConnectionSignals *connectionSignals() override { return this; }
    void send(QByteArray data) override { sent << data; }

    // address -> value of every message sent since index `from`.
    QList<QPair<QString, QVariant>> messages(int from = 0) const
    {
        QList<QPair<QString, QVariant>> list;
        for (int i = from; i < sent.size(); ++i) {
            const Common::OscMessage message = Common::OscMessageParser::decode(sent.at(i));
            list << qMakePair(message.address(), message.parameter.value);
        }
        return list;
    }
    QVariant last(const QString &address) const
    {
        QVariant value;
        for (const auto &message : messages())
            if (message.first == address)
                value = message.second;
        return value;
    }
};

// An OSC packet built by hand: padded address, type tags, arguments.
QByteArray padded(const QByteArray &text)
{
    QByteArray bytes = text;
    do {
        bytes.append('\0');
    } while (bytes.size() % 4);
    return bytes;
}

QByteArray intWord(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<qint32>(value, bytes.data());
    return bytes;
}

QByteArray packet(const QByteArray &address, const QByteArray &tags = QByteArray(), const QByteArray &args = QByteArray())
{
    return padded(address) + (tags.isNull() ? QByteArray() : padded(',' + tags)) + args;
}

// A single-shot timer running out: stopped, then its timeout delivered.
void expire(QTimer *timer)
{
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
}

SlotController *controllerWithoutPorts(int slotIndex, QObject *parent)
{
    return new SlotController(slotIndex, parent, [] { return QList<SerialPortEntry>(); });
}

} // namespace

class RemoteTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false\nsablefold.*.info=false"));
    }

    void decodesCommandPackets_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QVariantList>("arguments");
        const QByteArray sync = "/sablefold/kip1/set/syncsource";
        QTest::newRow("one string") << packet(sync, "s", padded("word-clock")) << true << QString(sync)
                                    << QVariantList{QStringLiteral("word-clock")};
        QTest::newRow("two ints") << packet("/x/txmode", "ii", intWord(1) + intWord(-57)) << true << "/x/txmode"
                                  << QVariantList{1, -57};
        QTest::newRow("no type tags") << packet("/a/request/status") << true << "/a/request/status" << QVariantList{};
        QTest::newRow("empty type tags") << packet("/a/b", "") << true << "/a/b" << QVariantList{};
        QTest::newRow("address case kept") << packet("/Kip1", "") << true << "/Kip1" << QVariantList{};
        QTest::newRow("empty") << QByteArray() << false << QString() << QVariantList{};
        QTest::newRow("not whole words") << packet(sync, "s", padded("auto")).append('\0') << false << QString()
                                         << QVariantList{};
        QTest::newRow("no leading slash") << packet("abc", "") << false << QString() << QVariantList{};
        QTest::newRow("bundle") << (padded("#bundle") + QByteArray(8, '\0')) << false << QString() << QVariantList{};
        QTest::newRow("address unterminated") << QByteArray("/abc/def") << false << QString() << QVariantList{};
        QTest::newRow("junk in padding") << QByteArray("/ab\0x\0\0\0", 8) << false << QString() << QVariantList{};
        QTest::newRow("float argument") << packet("/a", "f", intWord(0)) << false << QString() << QVariantList{};
        QTest::newRow("int cut short") << packet("/a", "ii", intWord(1)) << false << QString() << QVariantList{};
        QTest::newRow("string unterminated") << packet("/a", "s", "abcd") << false << QString() << QVariantList{};
        QTest::newRow("bytes after arguments") << packet("/a", "i", intWord(1) + intWord(2)) << false << QString()
                                               << QVariantList{};
        QTest::newRow("tags without comma") << (padded("/a") + padded("ii") + intWord(1) + intWord(2)) << false
                                            << QString() << QVariantList{};
        QTest::newRow("too many arguments") << packet("/a", "iiiiiiiii", QByteArray(36, '\0')) << false << QString()
                                            << QVariantList{};
    }
    void decodesCommandPackets()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QFETCH(QString, address);
        QFETCH(QVariantList, arguments);
        const OscCommandPacket decoded = OscCommandPacket::decode(bytes);
        QCOMPARE(decoded.valid, valid);
        QCOMPARE(decoded.problem.isEmpty(), valid);
        QCOMPARE(decoded.address, address);
        QCOMPARE(decoded.arguments, arguments);
    }

    // What the receiver takes and what it refuses; refusals never reach the card port.
    void receiverActsOnlyOnItsCommands_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<int>("statusRequestFor"); // -1 none
        const QByteArray kip1 = "/sablefold/kip1";
        QTest::newRow("sync source") << packet(kip1 + "/set/syncsource", "s", padded("madi-b")) << true << -1;
        QTest::newRow("sync source, any case") << packet(kip1 + "/set/syncsource", "s", padded("Word-Clock")) << true << -1;
        QTest::newRow("status request") << packet("/sablefold/kip2/request/status", "") << true << 1;
        QTest::newRow("unknown sync source") << packet(kip1 + "/set/syncsource", "s", padded("madi-c")) << false << -1;
        QTest::newRow("sync source as int") << packet(kip1 + "/set/syncsource", "i", intWord(0)) << false << -1;
        QTest::newRow("third slot") << packet("/sablefold/kip3/request/status", "") << false << -1;
        QTest::newRow("status with argument") << packet(kip1 + "/request/status", "i", intWord(1)) << false << -1;
        QTest::newRow("transmit mode without MADI card") << packet(kip1 + "/set/madi/txmode", "ii", intWord(0) + intWord(57))
                                                         << false << -1;
        QTest::newRow("transmit mode out of range") << packet(kip1 + "/set/madi/txmode", "ii", intWord(2) + intWord(57))
                                                    << false << -1;
        QTest::newRow("transmit mode, one int") << packet(kip1 + "/set/madi/txmode", "i", intWord(0)) << false << -1;
        QTest::newRow("update is never remote") << packet(kip1 + "/update/code", "s", padded("/tmp/x.bin")) << false << -1;
        QTest::newRow("other program's address") << packet("/mixer/fader/1", "i", intWord(3)) << false << -1;
        QTest::newRow("prefix only") << packet("/sablefold/kip1", "") << false << -1;
        QTest::newRow("malformed") << QByteArray("\x01\x02\x03", 3) << false << -1;
    }
    void receiverActsOnlyOnItsCommands()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, taken);
        QFETCH(int, statusRequestFor);
        QObject owner;
        OscCommandReceiver receiver;
        receiver.addSlot(controllerWithoutPorts(0, &owner));
        receiver.addSlot(controllerWithoutPorts(1, &owner));
        QSignalSpy commands(&receiver, &OscCommandReceiver::commandTaken);
        QSignalSpy requests(&receiver, &OscCommandReceiver::statusRequested);
        receiver.receivePacket(bytes);
        QCOMPARE(commands.count(), int(taken));
        QCOMPARE(receiver.acceptedCount(), int(taken));
        QCOMPARE(receiver.refusedCount(), int(!taken));
        QCOMPARE(receiver.refusalLogTimer()->isActive(), !taken);
        QCOMPARE(requests.count(), int(statusRequestFor >= 0));
        if (statusRequestFor >= 0)
            QCOMPARE(requests.at(0).at(0).toInt(), statusRequestFor);
    }

    void refusalsAreLoggedOnceASecond()
    {
        OscCommandReceiver receiver;
        QTimer *timer = receiver.refusalLogTimer();
        QCOMPARE(timer->interval(), 1000);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QVERIFY(timer->isSingleShot());
        for (int i = 0; i < 500; ++i)
            receiver.receivePacket(packet("/junk", "i", intWord(i)));
        QCOMPARE(receiver.refusedCount(), 500);
        // One line for the whole second, however many packets it had.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("OSC: 500 packet\\(s\\) refused in the last second, the last: unknown address /junk"));
        expire(timer);
        // Nothing refused since: nothing to say.
        expire(timer);
        receiver.receivePacket(QByteArray("x"));
        QVERIFY(timer->isActive());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("OSC: 1 packet\\(s\\) refused .*malformed"));
        expire(timer);
        QCOMPARE(receiver.refusedCount(), 501);
    }

    void publishesChangesAndRefreshesEverything()
    {
        QObject owner;
        SlotController *slot = controllerWithoutPorts(0, &owner);
        RecordingConnection connection;
        OscStatePublisher publisher(&connection);
        QTimer *refresh = publisher.refreshTimer();
        QCOMPARE(refresh->interval(), 10000);
        QCOMPARE(refresh->timerType(), Qt::PreciseTimer);
        QVERIFY(refresh->isActive() && !refresh->isSingleShot());

        publisher.addSlot(slot);
        QCOMPARE(connection.last("/sablefold/kip1/cardtype"), QVariant(QString()));
        const int afterStart = connection.sent.size();

        UiTest::deliverKipStatus(slot->cardPort(), KipPort::MadiBnc, 12, 42, "2014/05/12", 48000, true);
        QCOMPARE(connection.last("/sablefold/kip1/cardtype"), QVariant(QStringLiteral("BNC MADI")));
        QCOMPARE(connection.last("/sablefold/kip1/samplerate"), QVariant(48000));
        QCOMPARE(connection.last("/sablefold/kip1/temperature"), QVariant(42));
        QCOMPARE(connection.last("/sablefold/kip1/fpga"), QVariant(QStringLiteral("2014/05/12")));
        UiTest::deliver(slot->cardPort(), Common::MessageType::RxClockLocked, 1, QByteArray(1, '\x01'));
        UiTest::deliver(slot->cardPort(), Common::MessageType::SyncSource, 0, QByteArray(1, '\xfe'));
        QCOMPARE(connection.last("/sablefold/kip1/lock/b"), QVariant(1));
        QCOMPARE(connection.last("/sablefold/kip1/syncsource"), QVariant(QStringLiteral("WORD-CLOCK")));
        QCOMPARE(connection.last("/sablefold/kip1/syncauto"), QVariant(0));

        // The same status again changes nothing, so nothing goes out; one change, one message.
        int before = connection.sent.size();
        UiTest::deliverKipStatus(slot->cardPort(), KipPort::MadiBnc, 12, 42, "2014/05/12", 48000, true);
        QCOMPARE(connection.sent.size(), before);
        UiTest::deliverKipStatus(slot->cardPort(), KipPort::MadiBnc, 12, 43, "2014/05/12", 48000, true);
        QCOMPARE(connection.messages(before), (QList<QPair<QString, QVariant>>{{"/sablefold/kip1/temperature", 43}}));
        UiTest::deliver(slot->cardPort(), Common::MessageType::RxClockLocked, 1, QByteArray(1, '\x00'));
        QCOMPARE(connection.last("/sablefold/kip1/lock/b"), QVariant(0));

        // The refresh sends every value, changed or not.
        before = connection.sent.size();
        QMetaObject::invokeMethod(refresh, "timeout");
        QStringList refreshed;
        for (const auto &message : connection.messages(before))
            refreshed << message.first;
        for (const char *leaf : {"cardtype", "firmware", "fpga", "temperature", "samplerate", "syncsource", "syncauto",
                                 "link", "lock/b", "update/progress"})
            QVERIFY2(refreshed.contains(QStringLiteral("/sablefold/kip1/") + leaf), leaf);
        QVERIFY(afterStart > 0);

        // Events always go out, even the same text twice.
        before = connection.sent.size();
        publisher.publishEvent(0, "warning clock: MADI B lost lock");
        publisher.publishEvent(0, "warning clock: MADI B lost lock");
        QCOMPARE(connection.messages(before).size(), 2);
        QCOMPARE(connection.last("/sablefold/kip1/event"), QVariant(QStringLiteral("warning clock: MADI B lost lock")));

        // A card that goes away leaves its locks unknown.
        UiTest::deliverKipStatus(slot->cardPort(), KipPort::NoCard, 0, 0, "", 0, true);
        QCOMPARE(connection.last("/sablefold/kip1/lock/b"), QVariant(-1));
        QCOMPARE(connection.last("/sablefold/kip1/cardtype"), QVariant(QString()));
    }

    void publishedPacketsAreTheCodecs()
    {
        // One argument per message: exactly the common encoder's bytes.
        RecordingConnection connection;
        OscStatePublisher publisher(&connection);
        publisher.publishEvent(1, "info card: DANTE found");
        QCOMPARE(connection.sent.size(), 1);
        QCOMPARE(connection.sent.at(0), packet("/sablefold/kip2/event", "s", padded("info card: DANTE found")));
    }

    void commandNames_data()
    {
        QTest::addColumn<QString>("syncName");
        QTest::addColumn<int>("syncCode"); // -99: refused
        QTest::newRow("auto") << "auto" << -1;
        QTest::newRow("word clock") << "WORD-CLOCK" << -2;
        QTest::newRow("madi a") << "madi-a" << 0;
        QTest::newRow("madi b") << " madi-b " << 1;
        QTest::newRow("madi c") << "madi-c" << -99;
        QTest::newRow("code") << "254" << -99;
        QTest::newRow("empty") << "" << -99;
    }
    void commandNames()
    {
        QFETCH(QString, syncName);
        QFETCH(int, syncCode);
        int code = -99;
        QCOMPARE(SlotCommands::syncSourceCode(syncName, &code), syncCode != -99);
        QCOMPARE(code, syncCode);
    }

    void transmitModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode"); // -1 refused
        QTest::addColumn<int>("reportedMode");
        QTest::addColumn<bool>("tracking");
        QTest::addColumn<bool>("reportMatches");
        QTest::newRow("auto, tracking") << "auto" << 0 << 57 << true << true;
        QTest::newRow("auto, fixed report") << "Auto" << 0 << 64 << false << false;
        QTest::newRow("57") << "57" << 57 << 57 << false << true;
        QTest::newRow("quorix, tracking report") << "quorix" << 57 << 57 << true << false;
        QTest::newRow("64") << "fixed" << 64 << 64 << false << true;
        QTest::newRow("64, 57 reported") << "64" << 64 << 57 << false << false;
        QTest::newRow("56") << "56" << -1 << 0 << false << false;
    }
    void transmitModes()
    {
        QFETCH(QString, name);
        QFETCH(int, mode);
        QFETCH(int, reportedMode);
        QFETCH(bool, tracking);
        QFETCH(bool, reportMatches);
        int code = -1;
        QCOMPARE(SlotCommands::transmitModeCode(name, &code), mode >= 0);
        QCOMPARE(code, mode);
        if (mode >= 0) {
            QVERIFY(SlotCommands::isTransmitMode(mode));
            QCOMPARE(SlotCommands::reportsTransmitMode(mode, reportedMode, tracking), reportMatches);
        }
    }

    void oscTargets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("address") << "127.0.0.1:9000" << true << "127.0.0.1" << 9000;
        QTest::newRow("localhost") << "localhost:57120" << true << "127.0.0.1" << 57120;
        QTest::newRow("no port") << "127.0.0.1" << false << "" << 0;
        QTest::newRow("port 0") << "127.0.0.1:0" << false << "" << 0;
        QTest::newRow("port too big") << "127.0.0.1:65536" << false << "" << 0;
        QTest::newRow("port not a number") << "127.0.0.1:x" << false << "" << 0;
        QTest::newRow("no host") << ":9000" << false << "" << 0;
    }
    void oscTargets()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, address);
        QFETCH(int, port);
        QHostAddress parsed;
        quint16 parsedPort = 0;
        QCOMPARE(RemoteOptions::parseTarget(text, &parsed, &parsedPort), valid);
        if (valid) {
            QCOMPARE(parsed.toString(), address);
            QCOMPARE(int(parsedPort), port);
        }
    }

    // The `ports` command's answer is the slot controller's own first choice.
    void adapterPositionIsTheSlotsChoice_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("ports");
        QTest::addColumn<int>("kip1");
        QTest::addColumn<int>("kip2");
        const SerialPortEntry serial{"ttyS0", "", "", false};
        const SerialPortEntry other{"ttyACM0", "USB Modem", "Acme", false};
        QTest::newRow("none") << QList<SerialPortEntry>{serial} << 0 << 0;
        QTest::newRow("two FTDI") << QList<SerialPortEntry>{serial, UiTest::ftdiAdapter("ttyUSB0"), UiTest::ftdiAdapter("ttyUSB1")}
                                  << 2 << 3;
        QTest::newRow("FTDI before another make") << QList<SerialPortEntry>{other, UiTest::ftdiAdapter("ttyUSB0")} << 2 << 0;
        QTest::newRow("busy FTDI keeps its place") << QList<SerialPortEntry>{UiTest::ftdiAdapter("ttyUSB0", true),
                                                                             UiTest::ftdiAdapter("ttyUSB1")}
                                                   << 1 << 2;
    }
    void adapterPositionIsTheSlotsChoice()
    {
        QFETCH(QList<SerialPortEntry>, ports);
        QFETCH(int, kip1);
        QFETCH(int, kip2);
        QCOMPARE(SlotController::adapterPosition(ports, 0), kip1);
        QCOMPARE(SlotController::adapterPosition(ports, 1), kip2);
        for (int slotIndex : {0, 1}) {
            // A busy adapter is shown as the slot's, but the slot does not take it.
            const int expected = slotIndex == 0 ? kip1 : kip2;
            const bool busy = expected > 0 && ports.at(expected - 1).busy;
            QObject owner;
            SlotController slot(slotIndex, &owner, [ports] { return ports; });
            slot.scanPorts();
            QCOMPARE(slot.selectedPort(), busy ? 0 : expected);
        }
    }
};


QTEST_MAIN(RemoteTest)
#include "tst_remote.moc"
