// The card port without a card: commands checked byte for byte on a pseudo-terminal, timers fired by hand.
#include "support/uitestsupport.h"

#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/serialmessage.h"
#include "sim/pseudoterminal.h"
#include "link/bootloaderupdater.h"

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

QString writeFile(const QTemporaryDir &dir, const char *name, int size)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'f')) == size ? file.fileName() : QString();
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
    QByteArray take(int count)
    {
        (void)QTest::qWaitFor([&] { return written.size() >= count; }, 3000);
        return std::exchange(written, written.mid(count)).left(count);
    }
    bool quiet() { QTest::qWait(50); return written.isEmpty(); }
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
        row("sync auto", madi, [](KipPort &p) { p.sendSyncSource(-1); }, hex("042101ff25"));
        row("transmit auto", madi, [](KipPort &p) { p.sendTransmitMode(1, 0); }, hex("05230101002a"));
        row("route", madi, [](KipPort &p) { p.sendRoute(0, 5, 2, 3); }, hex("0720000405054378"));
        row("card status", madi, [](KipPort &p) { p.requestCardStatus(); }, hex("03260029"));
        row("input rates", madi, [](KipPort &p) { p.requestInputSampleRates(); }, hex("072500000000002c"));
        // Only Optocore and Hydra cards have a network identity.
        row("network id, MADI", madi, [](KipPort &p) { p.sendNetworkId(3); }, {});
        row("network id, Optocore", KipPort::Optocore, [](KipPort &p) { p.sendNetworkId(3); },
            hex("0c3000080000ff03fc55aa0546" "083000048000ff833e"));
        row("network id, Hydra", KipPort::Hydra, [](KipPort &p) { p.sendNetworkId(200); }, hex("043800c804"));
        // Echo and quorix control are cut to 248 bytes; an Optocore command that cannot be framed is not sent.
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

    // A short status reply: what it lacks reads as zero. A card type no program knows
    // passes unchanged, signed as the card's byte is.
    void hardwareStatusOfStrangeReplies()
    {
        KipPort port(nullptr, 0);
        port.receiveKipData(cardFrame(30, 0, hex("c8") + QByteArray(17, '\0')));
        QCOMPARE(int(port.cardType()), -56);
        port.receiveKipData(cardFrame(30, 0, UiTest::kipStatusPayload(KipPort::Aes, 3, 30, "V1", 96000, true).left(13)));
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
        wired.port.receiveKipData(hex("00ff") + cardFrame(51, 0, hex("01")) + cardFrame(51, 1, hex("00")));
        QCOMPARE(received.count(), 2);
        QCOMPARE(errors, (QList<QVariantList>{{1}}));
        QCOMPARE(status, (QList<QVariantList>{{QStringLiteral("KIP Rx Data Error: 00ff ignored")}}));
        UiTest::deliver(&wired.port, 2, 0);
        QCOMPARE(wired.take(256), QByteArray(256, '\0'));
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
        UiTest::deliver(&wired.port, 50, 0);
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
        QVERIFY(wired.probe(cardFrame(5, 0, QByteArray(200, 'e')).left(20)));
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
        port.receiveBootLoaderData(hex("aaaa"));
        QTRY_VERIFY(!port.bootLoaderUpdater());
        QCOMPARE(finished, (QList<QVariantList>{{false}}));
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
        port.keepAliveTimer()->stop();
        QCOMPARE(wired.take(4).toHex(), QByteArray("031e0021")); // the poll held back during the probe
        // The frame cut off before the probe is forgotten: the first reply comes without a junk report.
        QSignalSpy errors(&port, &KipPort::errorsReceived);
        QSignalSpy echoes(&port, &KipPort::echoReceived);
        port.receiveKipData(cardFrame(5, 0, "e"));
        QCOMPARE(echoes.count(), 1);
        QCOMPARE(errors.count(), 0);

        QVERIFY(wired.probe()); // the card answered: the first expiry probes at once
        port.receiveBootLoaderData(hex("aa"));
        QTRY_VERIFY(!port.bootLoaderUpdater());
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
        UiTest::deliver(&port, 39, 0, hex("00")); // erased
        QCOMPARE(timers(port), QStringLiteral("3000 9000"));
        UiTest::deliver(&port, 39, 1, hex("04"));
        QCOMPARE(finished, (QList<QVariantList>{{false}}));
        QVERIFY(!port.fpgaDownloader());
        QCOMPARE(timers(port), QStringLiteral("1000 3000"));
    }
};

QTEST_MAIN(KipPortTest)
#include "tst_kipport.moc"
