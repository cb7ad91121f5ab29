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

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// What a probe writes: zero bytes that end any frame the card was still reading, then AutoBaud.
const QByteArray ProbeBytes = QByteArray(256, '\0') + hex("5555");

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

    // Waits until at least `count` bytes reached the far end and takes them.
    QByteArray take(int count)
    {
        (void)QTest::qWaitFor([&] { return written.size() >= count; }, 3000); // a short take fails the comparison
        const QByteArray bytes = written.left(count);
        written.remove(0, count);
        return bytes;
    }

    // Nothing more arrives: the tty gets a moment to prove it.
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

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

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

        const auto row = [](const char *name, int cardType, const Command &command, const char *expected) {
            QTest::newRow(name) << cardType << command << hex(expected);
        };
        const int madi = KipPort::MadiBnc;
        row("status request", madi, [](KipPort &p) { p.requestStatus(); }, "031e0021");
        row("restart", madi, [](KipPort &p) { p.restart(); }, "03010004");
        row("sync auto", madi, [](KipPort &p) { p.sendSyncSource(-1); }, "042101ff25");
        row("sync word clock", madi, [](KipPort &p) { p.sendSyncSource(-2); }, "042100fe23");
        row("sync madi B", madi, [](KipPort &p) { p.sendSyncSource(1); }, "0421000126");
        row("transmit auto", madi, [](KipPort &p) { p.sendTransmitMode(1, 0); }, "05230101002a");
        row("transmit 64", madi, [](KipPort &p) { p.sendTransmitMode(0, 64); }, "052300004068");
        row("route", madi, [](KipPort &p) { p.sendRoute(0, 5, 2, 3); }, "0720000405054378");
        row("card status", madi, [](KipPort &p) { p.requestCardStatus(); }, "03260029");
        row("input rates", madi, [](KipPort &p) { p.requestInputSampleRates(); }, "072500000000002c");
        row("optocore empty", madi, [](KipPort &p) { p.sendOptocoreCommand({}); }, "0430000034");
        row("channel counts", madi, [](KipPort &p) { p.sendOptocoreChannelCounts(1, 0x10, 0x20); }, "053a01102070");
        row("smux", madi, [](KipPort &p) { p.sendMadiSmux(1, true); }, "043701013d");
        row("control via audio", madi, [](KipPort &p) { p.sendControlViaAudio(0, false); }, "042c000030");
        row("aes src", madi, [](KipPort &p) { p.sendAesInputConvert(7, 1); }, "042d070139");
        // Only Optocore and Hydra cards have a network identity.
        row("network id, MADI", madi, [](KipPort &p) { p.sendNetworkId(3); }, "");
        row("network id, Optocore", KipPort::Optocore, [](KipPort &p) { p.sendNetworkId(3); },
            "0c3000080000ff03fc55aa0546" "083000048000ff833e");
        row("network id, Hydra", KipPort::Hydra, [](KipPort &p) { p.sendNetworkId(200); }, "043800c804");
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

    // Echo and quorix control are cut to 248 bytes and go out whole; an Optocore command
    // has no cut: one that cannot be framed is not sent at all.
    void overlongPayloads()
    {
        WiredPort wired;
        QSignalSpy sent(&wired.port, &KipPort::messagesSent);
        wired.port.sendEcho(QByteArray(300, 'x'));
        QCOMPARE(wired.take(252), SerialMessage(5, 0, QByteArray(248, 'x')).encode());
        wired.port.sendQuorixControl(1, QByteArray(300, 'q'));
        QCOMPARE(wired.take(252), SerialMessage(31, 1, QByteArray(248, 'q')).encode());
        QTest::ignoreMessage(QtWarningMsg,
                             "KIP Port: Optocore command message with 253 payload bytes not sent: too long for a frame");
        wired.port.sendOptocoreCommand(QByteArray(252, 'y'));
        QVERIFY(wired.quiet());
        QCOMPARE(sent.count(), 2);
    }

    void inboundSignals_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QVariantList>("arguments");

        const auto row = [](const char *name, int type, int param, const char *payload, const char *signal,
                            const QVariantList &arguments) {
            QTest::newRow(name) << cardFrame(type, param, hex(payload)) << QByteArray(signal) << arguments;
        };
        row("echo", 5, 0, "616263", SIGNAL(echoReceived(QByteArray)), {hex("616263")});
        row("rack data", 31, 1, "0102", SIGNAL(rackDataReceived(int, QByteArray)), {1, hex("0102")});
        row("transmit mode", 35, 1, "01c0", SIGNAL(madiTransmitModeChanged(int, int, bool)), {1, -64, true});
        row("device type", 36, 0, "01", SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)), {0, 1});
        row("input rate", 37, 2, "80bb0000", SIGNAL(inputSampleRateChanged(int, quint32)), {2, 48000u});
        row("rack type", 40, 1, "03", SIGNAL(rackTypeChanged(int, KipPort::RackType)), {1, 3});
        row("rack slot", 41, 0, "050c", SIGNAL(rackSlotChanged(int, int, KipPort::RackCardType)), {0, 5, 12});
        row("rack code date", 42, 0, "15062014", SIGNAL(rackCodeDateChanged(int, quint8, quint8, quint16)), {0, 15, 6, 2014});
        row("rack voltage", 43, 1, "010532", SIGNAL(rackVoltageChanged(int, int, int, float)), {1, 1, 5, 5.0f});
        row("control via audio", 44, 1, "02", SIGNAL(controlViaAudioChanged(int, bool)), {1, true});
        row("input src", 45, 6, "00", SIGNAL(inputSRCChanged(int, bool)), {6, false});
        row("optocore message", 48, 0, "80010203", SIGNAL(optocoreMessageReceived(QByteArray)), {hex("80010203")});
        row("rx lock", 51, 1, "01", SIGNAL(clockLockedChanged(int, bool)), {1, true});
        row("rate override", 52, 0, "ff", SIGNAL(sampleRateOverrideChanged(KipPort::SampleRateOverride)), {-1});
        row("madi mode", 53, 0, "01", SIGNAL(madiPortModeChanged(KipPort::MadiPortMode)), {1});
        row("redundant", 54, 1, "02", SIGNAL(madiRedundantStateChanged(int, KipPort::MadiRedundantState)), {1, 2});
        row("smux", 55, 0, "01", SIGNAL(madiSmuxChanged(int, bool)), {0, true});
        row("optocore counts", 58, 1, "4020", SIGNAL(optocoreChannelCountsReceived(quint8, quint8, quint8)), {1, 0x40, 0x20});
        row("hydra card status", 38, 29, "07", SIGNAL(hydraIdChanged(int)), {7});
        row("hydra empty status", 38, 29, "", SIGNAL(hydraIdChanged(int)), {0});
        // Codes outside the named values pass unchanged, signed where the card's byte is.
        row("device type 9", 36, 0, "09", SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)), {0, 9});
        row("device type 0xff", 36, 1, "ff", SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)), {1, -1});
        row("card status of card type 200", 38, 200, "3939",
            SIGNAL(kipCardStatusChanged(KipPort::KipCardType, QByteArray)), {200, hex("3939")});
        row("kip status card type 0xc8", 30, 0, "c80000000000000000000000000000000000",
            SIGNAL(kipCardTypeChanged(KipPort::KipCardType)), {-56});
    }

    void inboundSignals()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, signal);
        QFETCH(QVariantList, arguments);

        KipPort port(nullptr, 0);
        QSignalSpy spy(&port, signal.constData());
        QVERIFY(spy.isValid());
        QSignalSpy received(&port, &KipPort::messagesReceived);
        port.receiveKipData(input);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(received.count(), 1);
        const QVariantList actual = spy.takeFirst();
        QCOMPARE(actual.size(), arguments.size());
        for (int i = 0; i < arguments.size(); ++i) {
            const QVariant &got = actual.at(i);
            const QVariant &want = arguments.at(i);
            if (QMetaType::typeFlags(got.userType()) & QMetaType::IsEnumeration)
                QCOMPARE(*static_cast<const int *>(got.constData()), want.toInt());
            else if (want.type() == QVariant::ByteArray || want.userType() == QMetaType::Float)
                QCOMPARE(got.toString(), want.toString());
            else
                QCOMPARE(got.toLongLong(), want.toLongLong());
        }
    }

    void hardwareStatusChangeRules()
    {
        KipPort port(nullptr, 0);
        QSignalSpy typeSpy(&port, &KipPort::kipCardTypeChanged);
        QSignalSpy statusSpy(&port, &KipPort::hardwareStatusChanged);

        // BNC MADI, firmware 2, 42 degrees, "V2.1", 48 kHz, master.
        QByteArray payload = hex("14022a" "56322e31000000000000" "80bb0000" "01");
        port.receiveKipData(cardFrame(30, 0, payload));
        QCOMPARE(typeSpy.count(), 1);
        QCOMPARE(typeSpy.at(0).at(0).value<KipPort::KipCardType>(), KipPort::MadiBnc);
        const KipPort::HardwareStatus &status = port.hardwareStatus();
        QCOMPARE(int(status.firmwareVersion), 2);
        QCOMPARE(int(status.temperature), 42);
        QCOMPARE(status.fpgaVersionText(), QString("V2.1"));
        QCOMPARE(status.sampleRate, 48000u);
        QVERIFY(status.master);
        QCOMPARE(port.linkState(), KipPort::LinkConnected);
        const int statusSignals = statusSpy.count();

        // The same reply again changes nothing; another temperature is a status change only.
        port.receiveKipData(cardFrame(30, 0, payload));
        QCOMPARE(statusSpy.count(), statusSignals);
        payload[2] = char(43);
        port.receiveKipData(cardFrame(30, 0, payload));
        QCOMPARE(typeSpy.count(), 1);
        QCOMPARE(statusSpy.count(), statusSignals + 1);

        // A ten-character FPGA text still ends in a zero.
        payload.replace(3, 10, "ABCDEFGHIJ");
        port.receiveKipData(cardFrame(30, 0, payload));
        QCOMPARE(status.fpgaVersionText(), QString("ABCDEFGHIJ"));
        QCOMPARE(status.fpgaVersion[10], '\0');

        // A short reply: what it lacks reads as zero.
        port.receiveKipData(cardFrame(30, 0, UiTest::kipStatusPayload(KipPort::Aes, 3, 30, "V1", 96000, true).left(13)));
        QCOMPARE(port.cardType(), KipPort::Aes);
        QCOMPARE(status.sampleRate, 0u);
        QVERIFY(!status.master);
    }

    void syncSourceNames_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<int>("param");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("name");

        QTest::newRow("word clock auto") << int(KipPort::MadiBnc) << 1 << 254 << "word-clock";
        QTest::newRow("kip clock") << int(KipPort::MadiBnc) << 0 << 255 << "kip-clock";
        QTest::newRow("free run") << int(KipPort::Aes) << 0 << 253 << "free-run";
        QTest::newRow("madi B") << int(KipPort::MadiBnc) << 0 << 1 << "madi B";
        QTest::newRow("madi A cat5") << int(KipPort::MadiCat5) << 0 << 0 << "madi A";
        QTest::newRow("aes 2") << int(KipPort::Aes) << 0 << 1 << "aes 2";
        QTest::newRow("adc empty") << int(KipPort::Adc) << 0 << 0 << "";
        QTest::newRow("dante") << int(KipPort::Dante) << 0 << 2 << "dante";
        QTest::newRow("no card") << int(KipPort::NoCard) << 0 << 0 << "";
    }

    void syncSourceNames()
    {
        QFETCH(int, cardType);
        QFETCH(int, param);
        QFETCH(int, source);
        QFETCH(QString, name);

        KipPort port(nullptr, 0);
        if (cardType != KipPort::NoCard)
            deliverKipStatus(&port, cardType);
        QSignalSpy spy(&port, &KipPort::kipSyncSourceChanged);
        UiTest::deliver(&port, 33, param, QByteArray(1, char(source)));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QVariantList{name, param != 0}));
        QCOMPARE(port.syncSourceName(), name);
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

    void junkBeforeFrameCountsOneError()
    {
        KipPort port(nullptr, 0);
        QSignalSpy errors(&port, &KipPort::errorsReceived);
        QSignalSpy status(&port, &KipPort::statusMessage);
        QSignalSpy received(&port, &KipPort::messagesReceived);
        port.receiveKipData(hex("00ff") + cardFrame(51, 0, hex("01")) + cardFrame(51, 1, hex("00")));
        QCOMPARE(received.count(), 2);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("KIP Rx Data Error: 00ff ignored"));
    }

    // The card rejected a frame: zero bytes let its scanner find the next frame's start.
    void errorMessageResynchronisesCard()
    {
        WiredPort wired;
        QSignalSpy errorsSent(&wired.port, &KipPort::errorsSent);
        UiTest::deliver(&wired.port, 2, 0);
        QCOMPARE(wired.take(256), QByteArray(256, '\0'));
        QCOMPARE(errorsSent.count(), 1);
    }

    void statusTrafficStaysOutOfLog()
    {
        KipPort port(nullptr, 0);
        QSignalSpy rxLog(&port, &KipPort::logDataReceived);
        QSignalSpy txLog(&port, &KipPort::logDataTransmitted);
        const QByteArray replies = cardFrame(30, 0, UiTest::kipStatusPayload(20, 1, 30, "V1", 48000, true)) + cardFrame(50, 0);
        port.requestStatus();
        port.receiveKipData(replies);
        QCOMPARE(rxLog.count() + txLog.count(), 0);

        port.logStatusMessages(true);
        port.requestStatus();
        port.receiveKipData(replies);
        QCOMPARE(txLog.count(), 1);
        QCOMPARE(txLog.at(0).at(0).toString(), QString("kip status 0 "));
        QCOMPARE(rxLog.count(), 2);
        QCOMPARE(rxLog.at(1).at(0).toString(), QString("clear to send 0 "));
    }

    void sendGateAndItsRelease()
    {
        WiredPort wired;
        EMS::KipSendQueue *queue = wired.port.sendQueue();
        QCOMPARE(wired.port.keepAliveTimer()->interval(), 1000);
        QCOMPARE(wired.port.watchdogTimer()->interval(), 3000);
        // Ten 60-byte echo frames: the ninth crosses 512 bytes and still goes whole.
        for (int i = 0; i < 10; ++i)
            wired.port.sendEcho(QByteArray(56, char('a' + i)));
        QCOMPARE(wired.take(9 * 60).size(), 9 * 60);
        QVERIFY(wired.quiet());
        QVERIFY(!queue->isGateOpen());
        QCOMPARE(queue->queuedFrames(), 1);

        // The card's "clear to send" lets the last one out.
        UiTest::deliver(&wired.port, 50, 0);
        QCOMPARE(wired.take(60).at(3), 'j');
        QCOMPARE(queue->bytesSentSinceRelease(), 60);

        // Without it, the first poll waits behind the closed gate; the second finds the
        // first unanswered and reopens the gate: the echo and both polls go out.
        for (int i = 0; i < 9; ++i)
            wired.port.sendEcho(QByteArray(56, 'x'));
        wired.take(8 * 60);
        QVERIFY(!queue->isGateOpen());
        wired.port.keepAliveTimeout();
        QVERIFY(wired.quiet());
        wired.port.keepAliveTimeout();
        QCOMPARE(wired.take(60 + 8).mid(60).toHex(), QByteArray("031e0021031e0021"));
    }

    void watchdogDeclaresCardGone()
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
        // The sample rate survives; the rest of the card is forgotten.
        QCOMPARE(port.hardwareStatus().sampleRate, 48000u);
        // No framed message may reach a boot loader.
        port.requestStatus();
        QVERIFY(wired.quiet());

        // While the card stays silent the text repeats, nothing else happens.
        port.watchdogTimeout();
        QCOMPARE(status.count(), 2);
        QCOMPARE(types.count(), 1);
        QVERIFY(wired.quiet());
    }

    void silentCardAfterHandBackIsProbedAgain()
    {
        WiredPort wired;
        KipPort &port = wired.port;
        QVERIFY(wired.probe());
        // The card answers from its application; 100 ms later the port polls again.
        port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
        QTRY_VERIFY(!port.bootLoaderUpdater());
        QCOMPARE(port.linkState(), KipPort::LinkProbing);
        port.keepAliveTimer()->stop();

        // A slow card's late reply in between starts the count again.
        port.watchdogTimeout();
        port.watchdogTimeout();
        QVERIFY(wired.probe()); // connected again: the first expiry probes at once
        port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
        QTRY_VERIFY(!port.bootLoaderUpdater());
        port.keepAliveTimer()->stop();

        // Nothing at all from the card: polls go unanswered for two periods, the third
        // gives up on them and probes for a boot loader.
        port.watchdogTimeout();
        port.watchdogTimeout();
        QVERIFY(wired.quiet());
        QVERIFY(!port.bootLoaderUpdater());
        port.watchdogTimeout();
        QVERIFY(port.bootLoaderUpdater());
        QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
    }

    void disconnectClearsCard()
    {
        KipPort port(nullptr, 1);
        deliverKipStatus(&port, KipPort::Aes);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 2 connection timed out");
        port.disconnectSerialPort();
        QCOMPARE(port.linkState(), KipPort::LinkClosed);
        QCOMPARE(types.count(), 1);
        QVERIFY(!port.keepAliveTimer()->isActive());

        // With the port closed, the watchdog only marks the link closed.
        QSignalSpy status(&port, &KipPort::statusMessage);
        port.watchdogTimeout();
        QCOMPARE(status.count(), 0);
    }

    // A card probed twice after its reset answers twice: only the first answer is the
    // update's result. Without an updater there is nothing to end, and the timers run on.
    void codeUpdateEndsOnce()
    {
        WiredPort wired;
        KipPort &port = wired.port;
        QVERIFY(wired.probe());
        QSignalSpy finished(&port, &KipPort::updateFinished);
        port.receiveBootLoaderData(hex("aaaa"));
        QTRY_VERIFY(!port.bootLoaderUpdater());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(port.keepAliveTimer()->isActive());
        QVERIFY(port.watchdogTimer()->isActive());

        KipPort fresh(nullptr, 1);
        QSignalSpy freshFinished(&fresh, &KipPort::updateFinished);
        fresh.keepAliveTimer()->start();
        fresh.watchdogTimer()->start();
        fresh.finishCodeUpdate(false);
        QCOMPARE(freshFinished.count(), 0);
        QVERIFY(fresh.keepAliveTimer()->isActive());
        QVERIFY(fresh.watchdogTimer()->isActive());
    }

    // The probe no boot loader answered was made for the default file: the update must
    // write the file asked for, and the "boot loader" request must not wait behind the
    // probe's block on framed messages.
    void updateCodeReplacesAnUnansweredProbe()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir, "chosen.bin", QByteArray(200, 'c'));
        WiredPort wired;
        KipPort &port = wired.port;
        QVERIFY(wired.probe());
        QVERIFY(port.bootLoaderUpdater()->fileName() != file);

        port.updateCode(file);
        QCOMPARE(port.bootLoaderUpdater()->fileName(), file);
        QCOMPARE(wired.take(4).toHex(' '), hex("03040007").toHex(' '));
        QCOMPARE(port.linkState(), KipPort::LinkBootLoader);
    }

    void updateCodeWithMissingFile()
    {
        WiredPort wired;
        const QString before = wired.port.codeFileName();
        QSignalSpy status(&wired.port, &KipPort::statusMessage);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("KIP Port: Code file .* not found"));
        wired.port.updateCode("/nonexistent/kip.bin");
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QString("Code file not found: /nonexistent/kip.bin"));
        QCOMPARE(wired.port.codeFileName(), before);
        QVERIFY(!wired.port.bootLoaderUpdater());
        QVERIFY(wired.quiet());
    }

    // While the card writes its flash it is polled gently; a download that fails after the
    // erase puts the normal rhythm back, and reports the failure once.
    void failedFpgaDownloadRestoresPolling()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir, "fpga.bit", QByteArray(300, 'f'));
        KipPort port(nullptr, 0);
        QSignalSpy finished(&port, &KipPort::updateFinished);
        port.keepAliveTimer()->start();
        port.watchdogTimer()->start();
        port.updateFpga(file);
        QVERIFY(port.fpgaDownloader());
        QVERIFY(!port.keepAliveTimer()->isActive());
        QVERIFY(!port.watchdogTimer()->isActive());

        UiTest::deliver(&port, 39, 0, hex("00"));
        QVERIFY(port.keepAliveTimer()->isActive());
        QCOMPARE(port.keepAliveTimer()->interval(), 3000);
        QCOMPARE(port.watchdogTimer()->interval(), 9000);

        UiTest::deliver(&port, 39, 1, hex("04"));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(!port.fpgaDownloader());
        QVERIFY(port.keepAliveTimer()->isActive());
        QVERIFY(port.watchdogTimer()->isActive());
        QCOMPARE(port.keepAliveTimer()->interval(), 1000);
        QCOMPARE(port.watchdogTimer()->interval(), 3000);
    }
};

QTEST_MAIN(KipPortTest)
#include "tst_kipport.moc"
