// The card port without a card: over a fake transport, what it writes checked byte for byte,
// timers fired by hand. The frames of each command are checked in tst_kipframes.
#include "support/uitestsupport.h"

#include "link/bootloaderupdater.h"
#include "link/faketransport.h"
#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/messagetype.h"
#include "link/serialmessage.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <type_traits>

using Common::MessageType;
using Common::SerialMessage;
using EMS::FakeTransport;
using EMS::KipPort;
using UiTest::cardFrame;
using UiTest::deliverKipStatus;

using Command = std::function<void(KipPort &)>;
Q_DECLARE_METATYPE(Command)

// A card sends any byte as a code: every one must be a valid value of the enumeration.
static_assert(std::is_same<std::underlying_type_t<KipPort::KipCardType>, int>::value, "");
static_assert(std::is_same<std::underlying_type_t<KipPort::DeviceType>, int>::value, "");
static_assert(std::is_same<std::underlying_type_t<EMS::SyncLockState>, int>::value, "");

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// What a probe writes: zero bytes that end any frame the card was still reading, then AutoBaud.
const QByteArray ProbeBytes = QByteArray(256, '\0') + hex("5555");

// The poll and watchdog timers: their intervals while running, "-" while stopped.
QString timers(const KipPort &port)
{
    // The card's rhythm: a coarse timer may fire 5 % early or late, so one is marked.
    const auto one = [](const QTimer *t) {
        return !t->isActive() ? QStringLiteral("-")
                              : (t->timerType() == Qt::PreciseTimer ? QString() : QStringLiteral("coarse "))
                + QString::number(t->interval());
    };
    return one(port.keepAliveTimer()) + ' ' + one(port.watchdogTimer());
}

// Fires the pending hand-back from the boot loader to the card's program; true when it
// was pending as a precise 100 ms single shot and the boot-loader updater is gone after it.
bool handBack(KipPort &port)
{
    QTimer *timer = port.handBackTimer();
    if (!timer->isActive() || timer->interval() != KipPort::HandBackDelayMs || !timer->isSingleShot()
        || timer->timerType() != Qt::PreciseTimer)
        return false;
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !port.bootLoaderUpdater();
}

QString writeFile(const QTemporaryDir &dir, const char *name, int size)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'f')) == size ? file.fileName() : QString();
}

// A port whose connection is open on a fake transport; what it writes is taken from the front.
struct WiredPort
{
    FakeTransport *line = new FakeTransport;
    KipPort port{nullptr, 0, nullptr, line};
    QByteArray written;
    WiredPort()
    {
        port.setSerialPortName(QStringLiteral("ttyUSB0"));
        port.connection()->open();
    }
    QByteArray take(int count)
    {
        written += line->takeWritten();
        return std::exchange(written, written.mid(count)).left(count);
    }
    bool quiet() { return take(1).isEmpty(); }
    // The card was found (and sent the start of a frame), then taken for gone by the watchdog: the port probes.
    bool probe(const QByteArray &cutOff = {})
    {
        deliverKipStatus(&port, KipPort::MadiBnc);
        port.receiveKipData(cutOff);
        QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
        port.watchdogTimeout();
        return take(ProbeBytes.size()) == ProbeBytes;
    }
};

} // namespace

class KipPortTest : public QObject
{
    Q_OBJECT

private slots:
    // What the port itself decides about a command: whether the card has a network identity
    // to set, and that a frame too long to describe is not sent at all.
    void commandFrames_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<Command>("command");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, int type, const Command &c, const QByteArray &out) {
            QTest::newRow(name) << type << c << out;
        };
        const int madi = KipPort::MadiBnc;
        row("status request", madi, [](KipPort &p) { p.requestStatus(); }, hex("031e0021"));
        // Only Optocore and Hydra cards have a network identity.
        row("network id, MADI", madi, [](KipPort &p) { p.sendNetworkId(3); }, {});
        row("network id, Optocore", KipPort::Optocore, [](KipPort &p) { p.sendNetworkId(3); },
            hex("0c3000080000ff03fc55aa0546" "083000048000ff833e"));
        row("network id, Hydra", KipPort::Hydra, [](KipPort &p) { p.sendNetworkId(200); }, hex("043800c804"));
        row("optocore command too long", madi, [](KipPort &p) {
            QTest::ignoreMessage(QtWarningMsg, "KIP Port: Optocore command message with 253 payload bytes not sent: "
                                               "too long for a frame");
            p.sendOptocoreCommand(QByteArray(252, 'y'));
        }, {});
    }
    void commandFrames()
    {
        QFETCH(int, cardType);
        QFETCH(Command, command);
        QFETCH(QByteArray, expected);
        WiredPort wired;
        deliverKipStatus(&wired.port, cardType);
        command(wired.port);
        QCOMPARE(wired.take(expected.size()).toHex(' '), expected.toHex(' '));
        QVERIFY(wired.quiet());
    }

    // The connection over its transport: each way an open ends is said in the user's words;
    // a second open closes the port and opens it again when the 2.5 s single shot fires; a
    // failed write and a serial error reach the port.
    void connectionOverItsTransport()
    {
        auto *line = new FakeTransport;
        KipPort port(nullptr, 0, nullptr, line);
        EMS::KipConnection *connection = port.connection();
        QSignalSpy status(&port, &KipPort::statusMessage);
        QSignalSpy connected(&port, &KipPort::connectedChanged);
        QSignalSpy errors(&port, &KipPort::serialPortError);
        const auto said = [&status] {
            QStringList texts;
            for (const QVariantList &call : qAsConst(status))
                texts << call.at(0).toString();
            status.clear();
            return texts;
        };
        port.setSerialPortName(QStringLiteral("ttyUSB1"));

        line->refuseOpen(EMS::ByteTransport::OpenResult::PortUnavailable);
        connection->open();
        QCOMPARE(said(), QStringList({"Connecting to port ttyUSB1", "Could not open ttyUSB1, config problem reported"}));
        QCOMPARE(errors, (QList<QVariantList>{{QVariant::fromValue(QSerialPort::PermissionError)}}));
        line->refuseOpen(EMS::ByteTransport::OpenResult::LineSettingsRefused, QSerialPort::NoError);
        connection->open();
        QCOMPARE(said(), QStringList({"Connecting to port ttyUSB1", "Could not open ttyUSB1, error reported"}));
        QVERIFY(!port.isConnectionOpen());

        line->acceptOpen();
        connection->open();
        QCOMPARE(said(), QStringList({"Connecting to port ttyUSB1", "Connected to ttyUSB1"}));
        QCOMPARE(connected.takeLast().at(0).toBool(), true);
        connection->open(); // already open: closed now, opened again later
        QVERIFY(!line->isOpen());
        QTimer *reopen = connection->reopenTimer();
        QVERIFY(reopen->isActive() && reopen->isSingleShot());
        QCOMPARE(reopen->interval(), 2500);
        reopen->stop();
        QMetaObject::invokeMethod(reopen, "timeout");
        QVERIFY(line->isOpen());
        QCOMPARE(line->openedPorts().size(), 4);

        line->failWrites(true);
        port.sendRawData(hex("00"));
        QCOMPARE(said(), QStringList({"Connecting to port ttyUSB1", "Connected to ttyUSB1", "error sending data"}));
        line->raiseError(QSerialPort::ResourceError);
        QCOMPARE(errors.takeLast().at(0).value<QSerialPort::SerialPortError>(), QSerialPort::ResourceError);

        connection->close(); // an open port closes silently; closing again says so
        QVERIFY(!line->isOpen());
        QCOMPARE(said(), QStringList());
        connection->close();
        QCOMPARE(said(), QStringList({"Serial port ttyUSB1 closed"}));
    }

    // A short status reply: what it lacks reads as zero. A card type no program knows
    // passes unchanged, signed as the card's byte is.
    void hardwareStatusOfStrangeReplies()
    {
        KipPort port(nullptr, 0);
        port.receiveKipData(cardFrame(MessageType::KipStatus, 0, hex("c8") + QByteArray(17, '\0')));
        QCOMPARE(int(port.cardType()), -56);
        port.receiveKipData(cardFrame(MessageType::KipStatus, 0, UiTest::kipStatusPayload(KipPort::Aes, 3, 30, "V1", 96000, true).left(13)));
        const KipPort::HardwareStatus &s = port.hardwareStatus();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6").arg(port.cardType()).arg(s.firmwareVersion).arg(s.temperature)
                     .arg(s.fpgaVersionText()).arg(s.sampleRate).arg(s.master), QStringLiteral("23 3 30 V1 0 0"));
    }

    // Junk is reported once with its bytes; the card's rejection ("error") is answered with
    // zero bytes that let its scanner find the next frame's start.
    void receiveErrorsBothWays()
    {
        WiredPort wired;
        QSignalSpy errors(&wired.port, &KipPort::errorsReceived);
        QSignalSpy status(&wired.port, &KipPort::statusMessage);
        QSignalSpy received(&wired.port, &KipPort::messagesReceived);
        const MessageType locked = MessageType::RxClockLocked;
        wired.port.receiveKipData(hex("00ff") + cardFrame(locked, 0, hex("01")) + cardFrame(locked, 1, hex("00")));
        QCOMPARE(received.count(), 2);
        QCOMPARE(errors, (QList<QVariantList>{{1}}));
        QCOMPARE(status, (QList<QVariantList>{{QStringLiteral("KIP Rx Data Error: 00ff ignored")}}));
        wired.port.receiveKipData(cardFrame(MessageType::Error, 0));
        QCOMPARE(wired.take(256), QByteArray(256, '\0'));
        QVERIFY(wired.quiet());
    }

    // Ten 60-byte echo frames: the ninth crosses 512 bytes and still goes whole, the tenth
    // waits for the card's "clear to send".
    void sendGateAndItsRelease()
    {
        WiredPort wired;
        for (int i = 0; i < 10; ++i)
            wired.port.sendEcho(QByteArray(56, char('a' + i)));
        QCOMPARE(wired.take(9 * 60).size(), 9 * 60);
        QVERIFY(wired.quiet());
        wired.port.receiveKipData(cardFrame(MessageType::ClearToSend, 0));
        QCOMPARE(wired.take(60).at(3), 'j');
    }

    // The card taken for gone is forgotten and probed for; its hand-back ends the probe's
    // update once, though the card answers twice. After a hand-back that nothing answers,
    // the third silent watchdog period probes for a boot loader again.
    void probeHandBackAndUpdate()
    {
        WiredPort wired;
        KipPort &port = wired.port;
        QSignalSpy status(&port, &KipPort::statusMessage);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QVERIFY(wired.probe(cardFrame(MessageType::EchoData, 0, QByteArray(200, 'e')).left(20)));
        QCOMPARE(status.takeLast().at(0).toString(), QString("Card removed from KIP 1"));
        QCOMPARE(types.takeLast().at(0).value<KipPort::KipCardType>(), KipPort::NoCard);
        types.clear();
        QCOMPARE(port.linkState(), KipPort::LinkProbing);
        QCOMPARE(int(port.hardwareStatus().firmwareVersion), 0);
        port.requestStatus(); // no framed message may reach a boot loader
        port.watchdogTimeout(); // while the card stays silent nothing else happens
        QVERIFY(wired.quiet());
        QCOMPARE(types.count(), 0);

        QSignalSpy finished(&port, &KipPort::updateFinished);
        wired.line->receive(hex("aaaa"));
        // The hand-back to the card's program follows the boot loader's answer by 100 ms.
        QVERIFY(handBack(port));
        QCOMPARE(finished, (QList<QVariantList>{{false}}));
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
        port.keepAliveTimer()->stop();
        QCOMPARE(wired.take(4).toHex(), QByteArray("031e0021")); // the poll held back during the probe
        // The frame cut off before the probe is forgotten: the first reply comes without a junk report.
        QSignalSpy errors(&port, &KipPort::errorsReceived);
        QSignalSpy echoes(&port, &KipPort::echoReceived);
        wired.line->receive(cardFrame(MessageType::EchoData, 0, "e"));
        QCOMPARE(echoes.count(), 1);
        QCOMPARE(errors.count(), 0);

        QVERIFY(wired.probe()); // the card answered: the first expiry probes at once
        wired.line->receive(hex("aa"));
        QVERIFY(handBack(port));
        port.keepAliveTimer()->stop();
        port.watchdogTimeout();
        port.watchdogTimeout();
        QVERIFY(wired.quiet());
        QVERIFY(!port.bootLoaderUpdater());
        port.watchdogTimeout();
        QVERIFY(port.bootLoaderUpdater());
        QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);

        // The probe was made for the default file: an update writes the file asked for, and
        // its "boot loader" request does not wait behind the probe.
        QTemporaryDir dir;
        const QString file = writeFile(dir, "chosen.bin", 200);
        QVERIFY(port.bootLoaderUpdater()->fileName() != file);
        port.updateCode(file);
        QCOMPARE(port.bootLoaderUpdater()->fileName(), file);
        QCOMPARE(wired.take(4).toHex(' '), hex("03040007").toHex(' '));
        QCOMPARE(port.linkState(), KipPort::LinkBootLoader);
    }

    // Without a code update finishCodeUpdate() does nothing. The FPGA downloader starts with the
    // timers stopped; while the card writes its flash it is polled gently; a failure after the
    // erase puts the normal rhythm back and is reported once.
    void failedFpgaDownloadRestoresPolling()
    {
        QTemporaryDir dir;
        KipPort port(nullptr, 0);
        QSignalSpy finished(&port, &KipPort::updateFinished);
        port.keepAliveTimer()->start();
        port.watchdogTimer()->start();
        port.finishCodeUpdate(false);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
        port.updateFpga(writeFile(dir, "fpga.bit", 300));
        QVERIFY(port.fpgaDownloader());
        QCOMPARE(timers(port), QStringLiteral("- -"));
        const MessageType fpga = MessageType::UpdateFpga;
        UiTest::deliver(&port, fpga, 0, hex("00")); // erased
        QCOMPARE(timers(port), QStringLiteral("3000 9000"));
        UiTest::deliver(&port, fpga, 1, hex("04"));
        QCOMPARE(finished, (QList<QVariantList>{{false}}));
        QVERIFY(!port.fpgaDownloader());
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
    }
};

QTEST_MAIN(KipPortTest)
#include "tst_kipport.moc"
