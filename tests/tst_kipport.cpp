// The card port without a card: commands are checked byte for byte on a pseudo-terminal,
// inbound messages are fed in as frames, and timers are fired by hand.
#include "support/uitestsupport.h"

#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/kipsendqueue.h"
#include "link/serialmessage.h"
#include "sim/pseudoterminal.h"
#include "update/updater.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <type_traits>

using Common::SerialMessage;
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

// A signal argument as text: enumerations and small integers as numbers, bytes in hex.
QString text(const QVariant &value)
{
    const int type = value.userType();
    if (QMetaType::typeFlags(type) & QMetaType::IsEnumeration)
        return QString::number(*static_cast<const int *>(value.constData()));
    if (type == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray().toHex());
    if (type == QMetaType::UChar || type == QMetaType::Char || type == QMetaType::SChar)
        return QString::number(value.toInt());
    return value.toString();
}

// The poll and watchdog timers: their intervals while running, "-" while stopped.
QString timers(const KipPort &port)
{
    const auto one = [](const QTimer *t) { return t->isActive() ? QString::number(t->interval()) : QStringLiteral("-"); };
    return one(port.keepAliveTimer()) + ' ' + one(port.watchdogTimer());
}

// A port whose connection is open on a pseudo-terminal, with the far end's bytes collected.
struct WiredPort
{
    PseudoTerminal far;
    KipPort port{nullptr, 0};
    QByteArray written;

    WiredPort()
    {
        QObject::connect(&far, &PseudoTerminal::bytesReceived, [this](const QByteArray &bytes) { written += bytes; });
        port.setSerialPortName(far.slavePath());
        port.connection()->open();
    }
    // Waits until at least `count` bytes reached the far end and takes them; a short take fails the comparison.
    QByteArray take(int count)
    {
        (void)QTest::qWaitFor([&] { return written.size() >= count; }, 3000);
        const QByteArray bytes = written.left(count);
        written.remove(0, count);
        return bytes;
    }
    bool quiet()
    {
        QTest::qWait(50);
        return written.isEmpty();
    }
    // The card was found; then the watchdog took it for gone and the port probed.
    bool probe()
    {
        deliverKipStatus(&port, KipPort::MadiBnc);
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
    void commandFrames_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<Command>("command");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, int cardType, const Command &command, const QByteArray &expected) {
            QTest::newRow(name) << cardType << command << expected;
        };
        const int madi = KipPort::MadiBnc;
        row("status request", madi, [](KipPort &p) { p.requestStatus(); }, hex("031e0021"));
        row("sync auto", madi, [](KipPort &p) { p.sendSyncSource(-1); }, hex("042101ff25"));
        row("transmit auto", madi, [](KipPort &p) { p.sendTransmitMode(1, 0); }, hex("05230101002a"));
        row("route", madi, [](KipPort &p) { p.sendRoute(0, 5, 2, 3); }, hex("0720000405054378"));
        row("card status", madi, [](KipPort &p) { p.requestCardStatus(); }, hex("03260029"));
        row("input rates", madi, [](KipPort &p) { p.requestInputSampleRates(); }, hex("072500000000002c"));
        row("optocore empty", madi, [](KipPort &p) { p.sendOptocoreCommand({}); }, hex("0430000034"));
        // Only Optocore and Hydra cards have a network identity.
        row("network id, MADI", madi, [](KipPort &p) { p.sendNetworkId(3); }, {});
        row("network id, Optocore", KipPort::Optocore, [](KipPort &p) { p.sendNetworkId(3); },
            hex("0c3000080000ff03fc55aa0546" "083000048000ff833e"));
        row("network id, Hydra", KipPort::Hydra, [](KipPort &p) { p.sendNetworkId(200); }, hex("043800c804"));
        // Echo and quorix control are cut to 248 bytes and go out whole; an Optocore command
        // has no cut: one that cannot be framed is not sent at all.
        row("echo cut", madi, [](KipPort &p) { p.sendEcho(QByteArray(300, 'x')); },
            SerialMessage(5, 0, QByteArray(248, 'x')).encode());
        row("quorix control cut", madi, [](KipPort &p) { p.sendQuorixControl(1, QByteArray(300, 'q')); },
            SerialMessage(31, 1, QByteArray(248, 'q')).encode());
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

    // What the card panels do not already show: each report's signal and its arguments.
    void inboundSignals_data()
    {
        QTest::addColumn<int>("cardType"); // reported first, unless NoCard
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QString>("arguments");
        const auto row = [](const char *name, int cardType, int type, int param, const char *payload,
                            const char *signal, const char *arguments) {
            QTest::newRow(name) << cardType << cardFrame(type, param, hex(payload)) << QByteArray(signal) << arguments;
        };
        const int none = KipPort::NoCard, madi = KipPort::MadiBnc, aes = KipPort::Aes;
        row("echo", none, 5, 0, "616263", SIGNAL(echoReceived(QByteArray)), "616263");
        row("rack data", none, 31, 1, "0102", SIGNAL(rackDataReceived(int, QByteArray)), "1 0102");
        row("transmit mode", none, 35, 1, "01c0", SIGNAL(madiTransmitModeChanged(int, int, bool)), "1 -64 true");
        row("rack slot", none, 41, 0, "050c", SIGNAL(rackSlotChanged(int, int, KipPort::RackCardType)), "0 5 12");
        row("control via audio", none, 44, 1, "02", SIGNAL(controlViaAudioChanged(int, bool)), "1 true");
        row("rate override", none, 52, 0, "ff", SIGNAL(sampleRateOverrideChanged(KipPort::SampleRateOverride)), "-1");
        row("redundant", none, 54, 1, "02", SIGNAL(madiRedundantStateChanged(int, KipPort::MadiRedundantState)), "1 2");
        // Codes outside the named values pass unchanged, signed where the card's byte is.
        row("device type 0xff", none, 36, 1, "ff", SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)), "1 -1");
        row("card status of card type 200", none, 38, 200, "3939",
            SIGNAL(kipCardStatusChanged(KipPort::KipCardType, QByteArray)), "200 3939");
        row("kip status card type 0xc8", none, 30, 0, "c80000000000000000000000000000000000",
            SIGNAL(kipCardTypeChanged(KipPort::KipCardType)), "-56");
        // Sync sources are named by the card's type; param 1 is the automatic choice.
        const char *sync = SIGNAL(kipSyncSourceChanged(QString, bool));
        row("sync word clock auto", madi, 33, 1, "fe", sync, "word-clock true");
        row("sync kip clock", madi, 33, 0, "ff", sync, "kip-clock false");
        row("sync free run", aes, 33, 0, "fd", sync, "free-run false");
        row("sync madi B", madi, 33, 0, "01", sync, "madi B false");
        row("sync aes 2", aes, 33, 0, "01", sync, "aes 2 false");
        row("sync on an ADC card", KipPort::Adc, 33, 0, "00", sync, " false");
    }
    void inboundSignals()
    {
        QFETCH(int, cardType);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, signal);
        QFETCH(QString, arguments);
        KipPort port(nullptr, 0);
        if (cardType != KipPort::NoCard)
            deliverKipStatus(&port, cardType);
        QSignalSpy spy(&port, signal.constData());
        QVERIFY(spy.isValid());
        QSignalSpy received(&port, &KipPort::messagesReceived);
        port.receiveKipData(input);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(received.count(), 1);
        QStringList actual;
        for (const QVariant &value : spy.at(0))
            actual << text(value);
        QCOMPARE(actual.join(' '), arguments);
    }

    void hardwareStatusChangeRules()
    {
        KipPort port(nullptr, 0);
        QSignalSpy typeSpy(&port, &KipPort::kipCardTypeChanged);
        QSignalSpy statusSpy(&port, &KipPort::hardwareStatusChanged);
        const auto report = [&port](const QByteArray &payload) {
            port.receiveKipData(cardFrame(30, 0, payload));
            const KipPort::HardwareStatus &s = port.hardwareStatus();
            return QStringLiteral("%1 %2 %3 %4 %5 %6").arg(port.cardType()).arg(s.firmwareVersion).arg(s.temperature)
                .arg(s.fpgaVersionText()).arg(s.sampleRate).arg(s.master);
        };
        // BNC MADI, firmware 2, 42 degrees, "V2.1", 48 kHz, master.
        QByteArray payload = hex("14022a" "56322e31000000000000" "80bb0000" "01");
        QCOMPARE(report(payload), QStringLiteral("20 2 42 V2.1 48000 1"));
        QCOMPARE(port.linkState(), KipPort::LinkConnected);
        const int statusSignals = statusSpy.count();
        // The same reply again changes nothing; another temperature is a status change only.
        report(payload);
        QCOMPARE(statusSpy.count(), statusSignals);
        payload[2] = char(43);
        QCOMPARE(report(payload), QStringLiteral("20 2 43 V2.1 48000 1"));
        QCOMPARE(typeSpy.count(), 1);
        QCOMPARE(statusSpy.count(), statusSignals + 1);
        // A short reply: what it lacks reads as zero.
        QCOMPARE(report(UiTest::kipStatusPayload(KipPort::Aes, 3, 30, "V1", 96000, true).left(13)),
                 QStringLiteral("23 3 30 V1 0 0"));
    }

    void cardTypeTable()
    {
        QStringList table;
        for (int type = 19; type <= 30; ++type) {
            const auto cardType = KipPort::KipCardType(type);
            table << QStringLiteral("%1 %2 %3 %4").arg(KipPort::cardTypeName(cardType))
                         .arg(KipPort::inputChannelCount(cardType)).arg(KipPort::outputChannelCount(cardType))
                         .arg(int(KipPort::isDualMadi(cardType)));
        }
        QCOMPARE(table, (QStringList{" 0 0 0", "madi 64 64 1", "adc 16 0 0", "dac 0 16 0", "aes 16 16 0", "madi 64 64 1",
                                     "waves 64 64 0", "aviom 0 16 0", "dante 64 64 0", "optocore 128 128 0",
                                     "hydra 128 128 0", " 0 0 0"}));
    }

    // Junk is reported once with its bytes; the card's rejection ("error") is answered with
    // zero bytes that let its scanner find the next frame's start.
    void receiveErrorsBothWays()
    {
        WiredPort wired;
        QSignalSpy errors(&wired.port, &KipPort::errorsReceived);
        QSignalSpy status(&wired.port, &KipPort::statusMessage);
        QSignalSpy received(&wired.port, &KipPort::messagesReceived);
        QSignalSpy errorsSent(&wired.port, &KipPort::errorsSent);
        wired.port.receiveKipData(hex("00ff") + cardFrame(51, 0, hex("01")) + cardFrame(51, 1, hex("00")));
        QCOMPARE(received.count(), 2);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("KIP Rx Data Error: 00ff ignored"));
        UiTest::deliver(&wired.port, 2, 0);
        QCOMPARE(wired.take(256), QByteArray(256, '\0'));
        QCOMPARE(errorsSent.count(), 1);
    }

    // The poll every second and its replies stay out of the log; the card's other messages do not.
    void statusTrafficStaysOutOfLog()
    {
        KipPort port(nullptr, 0);
        QSignalSpy rxLog(&port, &KipPort::logDataReceived);
        QSignalSpy txLog(&port, &KipPort::logDataTransmitted);
        port.requestStatus();
        port.receiveKipData(cardFrame(30, 0, UiTest::kipStatusPayload(20, 1, 30, "V1", 48000, true)) + cardFrame(50, 0)
                            + cardFrame(5, 0, "e"));
        QCOMPARE(txLog.count(), 0);
        QCOMPARE(rxLog.count(), 1);
        QCOMPARE(rxLog.at(0).at(0).toString(), QString("echo data 0 101"));
    }

    // Ten 60-byte echo frames: the ninth crosses 512 bytes and still goes whole, the tenth
    // waits for the card's "clear to send".
    void sendGateAndItsRelease()
    {
        WiredPort wired;
        EMS::KipSendQueue *queue = wired.port.sendQueue();
        for (int i = 0; i < 10; ++i)
            wired.port.sendEcho(QByteArray(56, char('a' + i)));
        QCOMPARE(wired.take(9 * 60).size(), 9 * 60);
        QVERIFY(wired.quiet());
        QVERIFY(!queue->isGateOpen());
        UiTest::deliver(&wired.port, 50, 0);
        QCOMPARE(wired.take(60).at(3), 'j');
        QCOMPARE(queue->bytesSentSinceRelease(), 60);
    }

    // The card taken for gone is forgotten and probed for; after a hand-back that nothing
    // answers, the third silent watchdog period probes for a boot loader again.
    void watchdogProbesForASilentCard()
    {
        WiredPort wired;
        KipPort &port = wired.port;
        deliverKipStatus(&port, KipPort::MadiBnc);
        QSignalSpy status(&port, &KipPort::statusMessage);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QVERIFY(wired.probe());
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("Card removed from KIP 1"));
        QCOMPARE(types.count(), 1);
        QCOMPARE(types.at(0).at(0).value<KipPort::KipCardType>(), KipPort::NoCard);
        QCOMPARE(port.linkState(), KipPort::LinkProbing);
        QCOMPARE(int(port.hardwareStatus().firmwareVersion), 0);
        QCOMPARE(port.hardwareStatus().sampleRate, 48000u); // the rest of the card is forgotten
        port.requestStatus(); // no framed message may reach a boot loader
        QVERIFY(wired.quiet());
        port.watchdogTimeout(); // while the card stays silent the text repeats, nothing else happens
        QCOMPARE(status.count(), 2);
        QCOMPARE(types.count(), 1);
        QVERIFY(wired.quiet());

        const auto handBack = [&] { // the card answers from its application; the port polls again
            port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
            QTRY_VERIFY(!port.bootLoaderUpdater());
            QCOMPARE(port.linkState(), KipPort::LinkProbing);
            port.keepAliveTimer()->stop();
        };
        handBack();
        QCOMPARE(wired.take(4).toHex(), QByteArray("031e0021")); // the poll held back during the probe
        // A slow card's late reply in between starts the count again.
        port.watchdogTimeout();
        port.watchdogTimeout();
        QVERIFY(wired.probe()); // connected again: the first expiry probes at once
        handBack();
        port.watchdogTimeout();
        port.watchdogTimeout();
        QVERIFY(wired.quiet());
        QVERIFY(!port.bootLoaderUpdater());
        port.watchdogTimeout();
        QVERIFY(port.bootLoaderUpdater());
        QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
    }

    // The start of a frame cut off before the probe is stale once the port polls again:
    // the card's first reply is read cleanly, not behind a junk report.
    void probeForgetsHalfReadFrame()
    {
        WiredPort wired;
        deliverKipStatus(&wired.port, KipPort::MadiBnc);
        wired.port.receiveKipData(cardFrame(5, 0, QByteArray(200, 'e')).left(20));
        QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
        wired.port.watchdogTimeout();
        QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
        wired.port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
        QTRY_VERIFY(!wired.port.bootLoaderUpdater());
        QSignalSpy errors(&wired.port, &KipPort::errorsReceived);
        QSignalSpy echoes(&wired.port, &KipPort::echoReceived);
        wired.port.receiveKipData(cardFrame(5, 0, "e"));
        QCOMPARE(echoes.count(), 1);
        QCOMPARE(errors.count(), 0);
    }

    // A card probed twice after its reset answers twice: only the first answer is the
    // update's result. Without an updater there is nothing to end, and the timers run on.
    void codeUpdateEndsOnce()
    {
        WiredPort wired;
        QVERIFY(wired.probe());
        QSignalSpy finished(&wired.port, &KipPort::updateFinished);
        wired.port.receiveBootLoaderData(hex("aaaa"));
        QTRY_VERIFY(!wired.port.bootLoaderUpdater());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(timers(wired.port), QStringLiteral("1000 3000"));

        KipPort fresh(nullptr, 1);
        QSignalSpy freshFinished(&fresh, &KipPort::updateFinished);
        fresh.keepAliveTimer()->start();
        fresh.watchdogTimer()->start();
        fresh.finishCodeUpdate(false);
        QCOMPARE(freshFinished.count(), 0);
        QCOMPARE(timers(fresh), QStringLiteral("1000 3000"));
    }

    // The probe no boot loader answered was made for the default file: the update must
    // write the file asked for, and the "boot loader" request must not wait behind the
    // probe's block on framed messages. A missing file changes nothing.
    void updateCode()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("chosen.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(200, 'c')) == 200);
        file.close();
        WiredPort wired;
        KipPort &port = wired.port;
        QVERIFY(wired.probe());
        QVERIFY(port.bootLoaderUpdater()->fileName() != file.fileName());

        QSignalSpy status(&port, &KipPort::statusMessage);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("KIP Port: Code file .* not found"));
        port.updateCode("/nonexistent/kip.bin");
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("Code file not found: /nonexistent/kip.bin"));
        QVERIFY(port.codeFileName() != "/nonexistent/kip.bin");
        QVERIFY(wired.quiet());

        port.updateCode(file.fileName());
        QCOMPARE(port.bootLoaderUpdater()->fileName(), file.fileName());
        QCOMPARE(wired.take(4).toHex(' '), hex("03040007").toHex(' '));
        QCOMPARE(port.linkState(), KipPort::LinkBootLoader);
    }

    // While the card writes its flash it is polled gently; a download that fails after the
    // erase puts the normal rhythm back, and reports the failure once.
    void failedFpgaDownloadRestoresPolling()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("fpga.bit"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(300, 'f')) == 300);
        file.close();
        KipPort port(nullptr, 0);
        QSignalSpy finished(&port, &KipPort::updateFinished);
        port.keepAliveTimer()->start();
        port.watchdogTimer()->start();
        port.updateFpga(file.fileName());
        QVERIFY(port.fpgaDownloader());
        QCOMPARE(timers(port), QStringLiteral("- -"));
        UiTest::deliver(&port, 39, 0, hex("00")); // erased
        QCOMPARE(timers(port), QStringLiteral("3000 9000"));
        UiTest::deliver(&port, 39, 1, hex("04"));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(!port.fpgaDownloader());
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
    }
};

QTEST_MAIN(KipPortTest)
#include "tst_kipport.moc"
