// The card port without a card: commands are checked byte for byte on a pseudo-terminal,
// inbound messages are fed in as frames, and timers are fired by hand.
#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/kipsendqueue.h"
#include "link/serialmessage.h"
#include "sim/pseudoterminal.h"

#include <QSignalSpy>
#include <QtTest>

using EMS::KipPort;
using Common::SerialMessage;

namespace {

QByteArray frame(int type, int param, const QByteArray &payload = QByteArray())
{
    return SerialMessage(type, param, payload).encode();
}

// A reply frame as the card builds it; the host's encoder would write "kip status" as
// a request without payload.
QByteArray statusFrame(const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append(char(3 + payload.size()));
    bytes.append(char(30));
    bytes.append(char(0));
    bytes.append(payload);
    quint8 sum = 0;
    for (char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    bytes.append(char(sum));
    return bytes;
}

QByteArray kipStatusPayload(quint8 type, quint8 firmware, quint8 temperature, const QByteArray &fpga,
                            quint32 sampleRate, bool master)
{
    QByteArray payload;
    payload.append(char(type));
    payload.append(char(firmware));
    payload.append(char(temperature));
    QByteArray text = fpga.left(10);
    text.append(QByteArray(10 - text.size(), '\0'));
    payload.append(text);
    for (int i = 0; i < 4; ++i)
        payload.append(char((sampleRate >> (8 * i)) & 0xFF));
    payload.append(char(master ? 1 : 0));
    return payload;
}

// What a probe writes: zero bytes, then AutoBaud.
const QByteArray ProbeBytes = QByteArray(256, '\0') + QByteArray::fromHex("5555");

// A port whose connection is open on a pseudo-terminal, with the far end's bytes collected.
struct WiredPort
{
    PseudoTerminal far;
    KipPort port{nullptr, 0};
    QByteArray written;

    WiredPort()
    {
        far.open();
        QObject::connect(&far, &PseudoTerminal::bytesReceived, [this](const QByteArray &bytes) { written += bytes; });
        port.setSerialPortName(far.slavePath());
        port.connection()->open();
    }

    // Waits until at least `count` bytes reached the far end and takes them.
    QByteArray take(int count)
    {
        if (!QTest::qWaitFor([&] { return written.size() >= count; }, 3000))
            return written;
        const QByteArray bytes = written.left(count);
        written.remove(0, count);
        return bytes;
    }

    void settle()
    {
        // Nothing more should arrive; give the tty a moment to prove it.
        QTest::qWait(50);
    }
};

} // namespace

class KipPortTest : public QObject
{
    Q_OBJECT

private slots:
    void commandFrames_data();
    void commandFrames();
    void networkIdDependsOnCardType();
    void oversizePayloadIsNotSent();

    void inboundSignals_data();
    void inboundSignals();
    void hardwareStatusChangeRules();
    void shortHardwareStatus();
    void syncSourceNames_data();
    void syncSourceNames();
    void cardTypeHelpers();

    void junkBeforeFrameCountsOneError();
    void errorMessageResynchronisesCard();
    void statusTrafficStaysOutOfLog();

    void sendQueueGate();
    void keepAliveReleasesQueueAfterUnansweredPoll();
    void watchdogDeclaresCardGone();
    void silentCardAfterHandBackIsProbedAgain();
    void disconnectClearsCard();
    void updateCodeWithMissingFile();
    void fpgaEraseReplySlowsPolling();
};

void KipPortTest::commandFrames_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("status request") << "requestStatus" << QByteArray::fromHex("031e0021");
    QTest::newRow("restart") << "restart" << QByteArray::fromHex("03010004");
    QTest::newRow("sync auto") << "sync-1" << QByteArray::fromHex("042101ff25");
    QTest::newRow("sync word clock") << "sync-2" << QByteArray::fromHex("042100fe23");
    QTest::newRow("sync madi B") << "sync1" << QByteArray::fromHex("0421000126");
    QTest::newRow("transmit auto") << "transmit1,0" << QByteArray::fromHex("05230101002a");
    QTest::newRow("transmit 64") << "transmit0,64" << QByteArray::fromHex("052300004068");
    QTest::newRow("route") << "route" << QByteArray::fromHex("072000") + QByteArray::fromHex("04050543")
            + QByteArray(1, char(0x07 + 0x20 + 0x04 + 0x05 + 0x05 + 0x43));
    QTest::newRow("card status") << "requestCardStatus" << QByteArray::fromHex("03260029");
    QTest::newRow("input rates") << "requestInputSampleRates" << QByteArray::fromHex("07250000000000" "2c");
    QTest::newRow("optocore empty") << "optocoreEmpty" << QByteArray::fromHex("0430000034");
    QTest::newRow("channel counts") << "channelCounts" << QByteArray::fromHex("053a01102070");
    QTest::newRow("smux") << "smux" << QByteArray::fromHex("04370101" "3d");
    QTest::newRow("control via audio") << "cva" << QByteArray::fromHex("042c0000" "30");
    QTest::newRow("aes src") << "aesSrc" << QByteArray::fromHex("042d0701" "39");
}

void KipPortTest::commandFrames()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, expected);

    WiredPort wired;
    KipPort &port = wired.port;
    if (command == "requestStatus") port.requestStatus();
    else if (command == "restart") port.restart();
    else if (command == "sync-1") port.sendSyncSource(-1);
    else if (command == "sync-2") port.sendSyncSource(-2);
    else if (command == "sync1") port.sendSyncSource(1);
    else if (command == "transmit1,0") port.sendTransmitMode(1, 0);
    else if (command == "transmit0,64") port.sendTransmitMode(0, 64);
    else if (command == "route") port.sendRoute(0, 5, 2, 3);
    else if (command == "requestCardStatus") port.requestCardStatus();
    else if (command == "requestInputSampleRates") port.requestInputSampleRates();
    else if (command == "optocoreEmpty") port.sendOptocoreCommand(QByteArray());
    else if (command == "channelCounts") port.sendOptocoreChannelCounts(1, 0x10, 0x20);
    else if (command == "smux") port.sendMadiSmux(1, true);
    else if (command == "cva") port.sendControlViaAudio(0, false);
    else if (command == "aesSrc") port.sendAesInputConvert(7, 1);
    else QFAIL("unknown command");

    QCOMPARE(wired.take(expected.size()).toHex(' '), expected.toHex(' '));
    wired.settle();
    QCOMPARE(wired.written.toHex(' '), QByteArray());
}

void KipPortTest::networkIdDependsOnCardType()
{
    WiredPort wired;
    // A MADI card has no network identity: nothing goes out.
    wired.port.receiveKipData(statusFrame(kipStatusPayload(KipPort::MadiBnc, 2, 40, "V2.1", 48000, true)));
    wired.port.sendNetworkId(3);
    wired.settle();
    QCOMPARE(wired.written.size(), 0);

    wired.port.receiveKipData(statusFrame(kipStatusPayload(KipPort::Optocore, 2, 40, "V2.1", 48000, true)));
    wired.port.sendNetworkId(3);
    const QByteArray first = frame(48, 0, QByteArray::fromHex("080000ff03fc55aa05"));
    const QByteArray second = frame(48, 0, QByteArray::fromHex("048000ff83"));
    QCOMPARE(wired.take(first.size() + second.size()).toHex(' '), (first + second).toHex(' '));

    wired.port.receiveKipData(statusFrame(kipStatusPayload(KipPort::Hydra, 2, 40, "V2.1", 48000, true)));
    wired.port.sendNetworkId(200);
    QCOMPARE(wired.take(5).toHex(' '), frame(56, 0, QByteArray(1, char(200))).toHex(' '));
}

void KipPortTest::oversizePayloadIsNotSent()
{
    WiredPort wired;
    QSignalSpy sent(&wired.port, &KipPort::messagesSent);
    // Echo and quorix control are cut to 248 bytes and go out whole.
    wired.port.sendEcho(QByteArray(300, 'x'));
    const QByteArray echo = wired.take(252);
    QCOMPARE(quint8(echo.at(0)), quint8(251));
    QCOMPARE(echo.size(), 252);
    // An Optocore command has no cut: one that cannot be framed is not sent at all.
    wired.port.sendOptocoreCommand(QByteArray(252, 'y'));
    wired.settle();
    QCOMPARE(wired.written.size(), 0);
    QCOMPARE(sent.count(), 1);
}

void KipPortTest::inboundSignals_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariantList>("arguments");

    QTest::newRow("echo") << frame(5, 0, "abc") << QByteArray(SIGNAL(echoReceived(QByteArray)))
                          << QVariantList{QByteArray("abc")};
    QTest::newRow("rack data") << frame(31, 1, QByteArray::fromHex("0102"))
                               << QByteArray(SIGNAL(rackDataReceived(int, QByteArray)))
                               << QVariantList{1, QByteArray::fromHex("0102")};
    QTest::newRow("transmit mode") << frame(35, 1, QByteArray::fromHex("01c0"))
                                   << QByteArray(SIGNAL(madiTransmitModeChanged(int, int, bool)))
                                   << QVariantList{1, -64, true};
    QTest::newRow("device type") << frame(36, 0, QByteArray::fromHex("01"))
                                 << QByteArray(SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)))
                                 << QVariantList{0, int(KipPort::DeviceRack)};
    QTest::newRow("input rate") << frame(37, 2, QByteArray::fromHex("80bb0000"))
                                << QByteArray(SIGNAL(inputSampleRateChanged(int, quint32)))
                                << QVariantList{2, 48000u};
    QTest::newRow("rack type") << frame(40, 1, QByteArray::fromHex("03"))
                               << QByteArray(SIGNAL(rackTypeChanged(int, KipPort::RackType)))
                               << QVariantList{1, 3};
    QTest::newRow("rack slot") << frame(41, 0, QByteArray::fromHex("050c"))
                               << QByteArray(SIGNAL(rackSlotChanged(int, int, KipPort::RackCardType)))
                               << QVariantList{0, 5, 12};
    QTest::newRow("rack code date") << frame(42, 0, QByteArray::fromHex("15062014"))
                                    << QByteArray(SIGNAL(rackCodeDateChanged(int, quint8, quint8, quint16)))
                                    << QVariantList{0, 15, 6, 2014};
    QTest::newRow("rack voltage") << frame(43, 1, QByteArray::fromHex("010532"))
                                  << QByteArray(SIGNAL(rackVoltageChanged(int, int, int, float)))
                                  << QVariantList{1, 1, 5, 5.0f};
    QTest::newRow("control via audio") << frame(44, 1, QByteArray::fromHex("02"))
                                       << QByteArray(SIGNAL(controlViaAudioChanged(int, bool)))
                                       << QVariantList{1, true};
    QTest::newRow("input src") << frame(45, 6, QByteArray::fromHex("00"))
                               << QByteArray(SIGNAL(inputSRCChanged(int, bool))) << QVariantList{6, false};
    QTest::newRow("optocore message") << frame(48, 0, QByteArray::fromHex("80010203"))
                                      << QByteArray(SIGNAL(optocoreMessageReceived(QByteArray)))
                                      << QVariantList{QByteArray::fromHex("80010203")};
    QTest::newRow("rx lock") << frame(51, 1, QByteArray::fromHex("01"))
                             << QByteArray(SIGNAL(clockLockedChanged(int, bool))) << QVariantList{1, true};
    QTest::newRow("rate override") << frame(52, 0, QByteArray::fromHex("ff"))
                                   << QByteArray(SIGNAL(sampleRateOverrideChanged(KipPort::SampleRateOverride)))
                                   << QVariantList{-1};
    QTest::newRow("madi mode") << frame(53, 0, QByteArray::fromHex("01"))
                               << QByteArray(SIGNAL(madiPortModeChanged(KipPort::MadiPortMode))) << QVariantList{1};
    QTest::newRow("redundant") << frame(54, 1, QByteArray::fromHex("02"))
                               << QByteArray(SIGNAL(madiRedundantStateChanged(int, KipPort::MadiRedundantState)))
                               << QVariantList{1, 2};
    QTest::newRow("smux") << frame(55, 0, QByteArray::fromHex("01")) << QByteArray(SIGNAL(madiSmuxChanged(int, bool)))
                          << QVariantList{0, true};
    QTest::newRow("optocore counts") << frame(58, 1, QByteArray::fromHex("4020"))
                                     << QByteArray(SIGNAL(optocoreChannelCountsReceived(quint8, quint8, quint8)))
                                     << QVariantList{1, 0x40, 0x20};
    QTest::newRow("hydra card status") << frame(38, 29, QByteArray::fromHex("07"))
                                       << QByteArray(SIGNAL(hydraIdChanged(int))) << QVariantList{7};
    QTest::newRow("hydra empty status") << frame(38, 29) << QByteArray(SIGNAL(hydraIdChanged(int))) << QVariantList{0};
}

void KipPortTest::inboundSignals()
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
        const QVariant &expected = arguments.at(i);
        if (expected.type() == QVariant::ByteArray || expected.type() == QVariant::Double
            || expected.userType() == QMetaType::Float)
            QCOMPARE(actual.at(i).toString(), expected.toString());
        else
            QCOMPARE(actual.at(i).toLongLong(), expected.toLongLong());
    }
}

void KipPortTest::hardwareStatusChangeRules()
{
    KipPort port(nullptr, 0);
    QSignalSpy typeSpy(&port, &KipPort::kipCardTypeChanged);
    QSignalSpy statusSpy(&port, &KipPort::hardwareStatusChanged);

    // The example reply: BNC MADI, firmware 2, 42 degrees, "V2.1", 48 kHz, master.
    QByteArray payload = QByteArray::fromHex("14022a" "56322e31000000000000" "80bb0000" "01");
    port.receiveKipData(statusFrame(payload));
    QCOMPARE(typeSpy.count(), 1);
    QCOMPARE(typeSpy.at(0).at(0).value<KipPort::KipCardType>(), KipPort::MadiBnc);
    const KipPort::HardwareStatus &status = port.hardwareStatus();
    QCOMPARE(status.cardType, int(KipPort::MadiBnc));
    QCOMPARE(int(status.firmwareVersion), 2);
    QCOMPARE(int(status.temperature), 42);
    QCOMPARE(status.fpgaVersionText(), QString("V2.1"));
    QCOMPARE(status.sampleRate, 48000u);
    QVERIFY(status.master);
    QCOMPARE(port.linkState(), KipPort::LinkConnected);
    const int statusSignalsAfterFirst = statusSpy.count();
    QVERIFY(statusSignalsAfterFirst >= 1);

    // The same reply again changes nothing.
    port.receiveKipData(statusFrame(payload));
    QCOMPARE(typeSpy.count(), 1);
    QCOMPARE(statusSpy.count(), statusSignalsAfterFirst);

    // Only the temperature differs: one status change, no type change.
    payload[2] = char(43);
    port.receiveKipData(statusFrame(payload));
    QCOMPARE(typeSpy.count(), 1);
    QCOMPARE(statusSpy.count(), statusSignalsAfterFirst + 1);

    // A ten-character FPGA text still ends in a zero.
    payload.replace(3, 10, "ABCDEFGHIJ");
    port.receiveKipData(statusFrame(payload));
    QCOMPARE(port.hardwareStatus().fpgaVersionText(), QString("ABCDEFGHIJ"));
    QCOMPARE(port.hardwareStatus().fpgaVersion[10], '\0');
}

void KipPortTest::shortHardwareStatus()
{
    KipPort port(nullptr, 1);
    port.receiveKipData(statusFrame(kipStatusPayload(KipPort::Aes, 3, 30, "V1", 96000, true).left(13)));
    QCOMPARE(port.cardType(), KipPort::Aes);
    QCOMPARE(port.hardwareStatus().sampleRate, 0u);
    QVERIFY(!port.hardwareStatus().master);
}

void KipPortTest::syncSourceNames_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isAuto");

    QTest::newRow("word clock auto") << int(KipPort::MadiBnc) << 1 << 254 << "word-clock" << true;
    QTest::newRow("kip clock") << int(KipPort::MadiBnc) << 0 << 255 << "kip-clock" << false;
    QTest::newRow("free run") << int(KipPort::Aes) << 0 << 253 << "free-run" << false;
    QTest::newRow("madi B") << int(KipPort::MadiBnc) << 0 << 1 << "madi B" << false;
    QTest::newRow("madi A cat5") << int(KipPort::MadiCat5) << 0 << 0 << "madi A" << false;
    QTest::newRow("aes 2") << int(KipPort::Aes) << 0 << 1 << "aes 2" << false;
    QTest::newRow("adc empty") << int(KipPort::Adc) << 0 << 0 << "" << false;
    QTest::newRow("optocore") << int(KipPort::Optocore) << 0 << 0 << "optocore" << false;
    QTest::newRow("dante") << int(KipPort::Dante) << 0 << 2 << "dante" << false;
    QTest::newRow("no card") << int(KipPort::NoCard) << 0 << 0 << "" << false;
}

void KipPortTest::syncSourceNames()
{
    QFETCH(int, cardType);
    QFETCH(int, param);
    QFETCH(int, source);
    QFETCH(QString, name);
    QFETCH(bool, isAuto);

    KipPort port(nullptr, 0);
    if (cardType != KipPort::NoCard)
        port.receiveKipData(statusFrame(kipStatusPayload(quint8(cardType), 1, 30, "V1", 48000, true)));
    QSignalSpy spy(&port, &KipPort::kipSyncSourceChanged);
    port.receiveKipData(frame(33, param, QByteArray(1, char(source))));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), name);
    QCOMPARE(spy.at(0).at(1).toBool(), isAuto);
    QCOMPARE(port.syncSourceName(), name);
}

void KipPortTest::cardTypeHelpers()
{
    QCOMPARE(KipPort::cardTypeName(KipPort::MadiCat5), QString("madi"));
    QCOMPARE(KipPort::cardTypeName(KipPort::KipCardType(99)), QString());
    QCOMPARE(KipPort::inputChannelCount(KipPort::Dac), 0);
    QCOMPARE(KipPort::outputChannelCount(KipPort::Dac), 16);
    QCOMPARE(KipPort::inputChannelCount(KipPort::Adc), 16);
    QCOMPARE(KipPort::outputChannelCount(KipPort::Aviom), 16);
    QCOMPARE(KipPort::inputChannelCount(KipPort::Optocore), 128);
    QCOMPARE(KipPort::inputChannelCount(KipPort::KipCardType(-3)), 0);
    QVERIFY(KipPort::isDualMadi(KipPort::MadiBnc));
    QVERIFY(KipPort::isDualMadi(KipPort::MadiCat5));
    QVERIFY(!KipPort::isDualMadi(KipPort::Optocore));
}

void KipPortTest::junkBeforeFrameCountsOneError()
{
    KipPort port(nullptr, 0);
    QSignalSpy errors(&port, &KipPort::errorsReceived);
    QSignalSpy status(&port, &KipPort::statusMessage);
    QSignalSpy received(&port, &KipPort::messagesReceived);
    port.receiveKipData(QByteArray::fromHex("00ff") + frame(51, 0, "\x01") + frame(51, 1, "\x00"));
    QCOMPARE(received.count(), 2);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), 1);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QString("KIP Rx Data Error: 00ff ignored"));
}

void KipPortTest::errorMessageResynchronisesCard()
{
    WiredPort wired;
    QSignalSpy errorsSent(&wired.port, &KipPort::errorsSent);
    wired.port.receiveKipData(frame(2, 0));
    QCOMPARE(wired.take(256), QByteArray(256, '\0'));
    QCOMPARE(errorsSent.count(), 1);
    QCOMPARE(wired.port.errorsSentCount(), 1);
}

void KipPortTest::statusTrafficStaysOutOfLog()
{
    KipPort port(nullptr, 0);
    QSignalSpy rxLog(&port, &KipPort::logDataReceived);
    QSignalSpy txLog(&port, &KipPort::logDataTransmitted);
    const QByteArray status = statusFrame(kipStatusPayload(KipPort::MadiBnc, 1, 30, "V1", 48000, true));
    port.requestStatus();
    port.receiveKipData(status + frame(50, 0));
    QCOMPARE(rxLog.count(), 0);
    QCOMPARE(txLog.count(), 0);

    port.logStatusMessages(true);
    port.requestStatus();
    port.receiveKipData(status + frame(50, 0));
    QCOMPARE(txLog.count(), 1);
    QCOMPARE(txLog.at(0).at(0).toString(), QString("kip status 0 "));
    QCOMPARE(rxLog.count(), 2);
    QCOMPARE(rxLog.at(1).at(0).toString(), QString("clear to send 0 "));
}

void KipPortTest::sendQueueGate()
{
    WiredPort wired;
    EMS::KipSendQueue *queue = wired.port.sendQueue();
    // Ten 60-byte echo frames: the ninth crosses 512 bytes and still goes whole.
    for (int i = 0; i < 10; ++i)
        wired.port.sendEcho(QByteArray(56, char('a' + i)));
    QCOMPARE(wired.take(9 * 60).size(), 9 * 60);
    wired.settle();
    QCOMPARE(wired.written.size(), 0);
    QVERIFY(!queue->isGateOpen());
    QCOMPARE(queue->queuedFrames(), 1);

    wired.port.receiveKipData(frame(50, 0));
    const QByteArray last = wired.take(60);
    QCOMPARE(last.at(3), 'j');
    QVERIFY(queue->isGateOpen());
    QCOMPARE(queue->bytesSentSinceRelease(), 60);
}

void KipPortTest::keepAliveReleasesQueueAfterUnansweredPoll()
{
    WiredPort wired;
    QCOMPARE(wired.port.keepAliveTimer()->interval(), 1000);
    QCOMPARE(wired.port.watchdogTimer()->interval(), 3000);
    for (int i = 0; i < 9; ++i)
        wired.port.sendEcho(QByteArray(56, 'x'));
    wired.take(9 * 60);
    wired.port.sendEcho(QByteArray(56, 'y'));
    QVERIFY(!wired.port.sendQueue()->isGateOpen());

    // First poll: queued behind the closed gate. Second poll finds the first
    // unanswered and reopens the gate: the echo and both polls go out.
    wired.port.keepAliveTimeout();
    wired.settle();
    QCOMPARE(wired.written.size(), 0);
    wired.port.keepAliveTimeout();
    const QByteArray out = wired.take(60 + 4 + 4);
    QCOMPARE(out.mid(60).toHex(), QByteArray("031e0021031e0021"));
}

void KipPortTest::watchdogDeclaresCardGone()
{
    WiredPort wired;
    KipPort &port = wired.port;
    port.receiveKipData(statusFrame(kipStatusPayload(KipPort::MadiBnc, 2, 40, "V2.1", 48000, true)));
    QCOMPARE(port.linkState(), KipPort::LinkConnected);
    QSignalSpy status(&port, &KipPort::statusMessage);
    QSignalSpy types(&port, &KipPort::kipCardTypeChanged);

    port.watchdogTimeout();
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QString("Card removed from KIP 1"));
    QCOMPARE(types.count(), 1);
    QCOMPARE(types.at(0).at(0).value<KipPort::KipCardType>(), KipPort::NoCard);
    QCOMPARE(port.linkState(), KipPort::LinkProbing);
    QCOMPARE(int(port.hardwareStatus().firmwareVersion), 0);
    // The sample rate survives; the rest of the card is forgotten.
    QCOMPARE(port.hardwareStatus().sampleRate, 48000u);
    // The port probes the line with AutoBaud, after zero bytes that finish any frame the
    // card was still reading; no framed message follows.
    QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
    port.requestStatus();
    wired.settle();
    QCOMPARE(wired.written.size(), 0);

    // While the card stays silent the text repeats, nothing else happens.
    port.watchdogTimeout();
    QCOMPARE(status.count(), 2);
    QCOMPARE(types.count(), 1);
}

void KipPortTest::silentCardAfterHandBackIsProbedAgain()
{
    WiredPort wired;
    KipPort &port = wired.port;
    port.receiveKipData(statusFrame(kipStatusPayload(KipPort::MadiBnc, 2, 40, "V2.1", 48000, true)));
    QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
    port.watchdogTimeout();
    QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
    // The card answers from its application; 100 ms later the port polls again.
    port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
    QTRY_VERIFY(!port.bootLoaderUpdater());
    QCOMPARE(port.linkState(), KipPort::LinkProbing);
    port.keepAliveTimer()->stop();

    // A slow card's late reply in between starts the count again.
    port.watchdogTimeout();
    port.watchdogTimeout();
    port.receiveKipData(statusFrame(kipStatusPayload(KipPort::MadiBnc, 2, 40, "V2.1", 48000, true)));
    QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
    port.watchdogTimeout(); // connected again: this one probes at once
    QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
    port.receiveBootLoaderData(QByteArray(1, char(0xAA)));
    QTRY_VERIFY(!port.bootLoaderUpdater());
    port.keepAliveTimer()->stop();

    // Nothing at all from the card: polls go unanswered for two periods, the third
    // gives up on them and probes for a boot loader.
    port.watchdogTimeout();
    port.watchdogTimeout();
    wired.settle();
    QCOMPARE(wired.written.size(), 0);
    QVERIFY(!port.bootLoaderUpdater());
    port.watchdogTimeout();
    QVERIFY(port.bootLoaderUpdater());
    QCOMPARE(wired.take(ProbeBytes.size()), ProbeBytes);
}

void KipPortTest::disconnectClearsCard()
{
    KipPort port(nullptr, 1);
    port.receiveKipData(statusFrame(kipStatusPayload(KipPort::Aes, 2, 40, "V2.1", 48000, false)));
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

void KipPortTest::updateCodeWithMissingFile()
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
    wired.settle();
    QCOMPARE(wired.written.size(), 0);
}

void KipPortTest::fpgaEraseReplySlowsPolling()
{
    KipPort port(nullptr, 0);
    // Even with no download running, the card's erase reply sets the slow rhythm.
    port.receiveKipData(frame(39, 0, QByteArray(1, '\0')));
    QCOMPARE(port.keepAliveTimer()->interval(), 3000);
    QCOMPARE(port.watchdogTimer()->interval(), 9000);
    QVERIFY(port.keepAliveTimer()->isActive());
}

QTEST_MAIN(KipPortTest)
#include "tst_kipport.moc"
