// Faults on the serial link, end to end, in real time: a slot form and its card port
// against a simulated card over a real pseudo-terminal. The program goes on, the slot
// shows only what the card reported, and the link comes back with the card.
#include "support/faultrig.h"
#include "support/uitestsupport.h"

#include "link/framescanner.h"
#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/serialmessage.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using EMS::KipForm;
using EMS::KipPort;
using FaultTest::SimulatedBox;

namespace {

// Probe, hand-back and the first status poll take about 1.2 s; generous for a loaded machine.
constexpr int ConnectTimeoutMs = 10000;
// Three minutes of a 115200-baud line (11,520 bytes a second), handed to the
// pseudo-terminal in chunks as fast as the controller reads them.
constexpr int FloodBytes = 3 * 60 * 11520;
constexpr int FloodChunk = 32 * 1024;

// An echo frame whose payload starts with its sequence number. Its length byte (63) is
// no message type, so a junk byte in front of it can never make a frame that runs into it.
QByteArray numberedEcho(quint32 sequence)
{
    QByteArray payload(60, char(0xA5));
    qToBigEndian<quint32>(sequence, payload.data());
    return UiTest::cardFrame(5, 0, payload);
}

// Random bytes; with frameFree, every byte is a length over 127 whose type byte, the
// next junk byte, is no message type either, so no frame can start in them.
QByteArray junk(QRandomGenerator &random, int size, bool frameFree)
{
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(frameFree ? 0x80 | random.bounded(0x80) : random.bounded(256));
    return bytes;
}

QString panelTexts(const KipForm &form)
{
    QStringList texts;
    for (const QPlainTextEdit *edit : form.cardPanel()->findChildren<QPlainTextEdit *>())
        texts << edit->toPlainText();
    return texts.join('\n');
}

// Connects the box's one MADI card.
#define CONNECT_CARD(box) \
    QTRY_VERIFY2_WITH_TIMEOUT((box).isShowing(0, KipPort::MadiBnc), qPrintable((box).describe(0)), ConnectTimeoutMs)

} // namespace

class E2eFaultsLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
    }

    void junkFlood_data()
    {
        QTest::addColumn<bool>("framesAmongJunk");
        // Frames in junk that cannot hide them: every one must come through.
        QTest::newRow("numbered frames among junk") << true;
        // Any byte values: now and then they hold a frame whose 8-bit sum happens to agree,
        // as line noise can; the card's own reports must win again afterwards.
        QTest::newRow("random bytes") << false;
    }
    void junkFlood()
    {
        QFETCH(bool, framesAmongJunk);
        SimulatedBox box({KipPort::MadiBnc});
        KipPort &port = box.port(0);
        CONNECT_CARD(box);
        QRandomGenerator random(framesAmongJunk ? 0xF100D : 0xBAD5EED);
        QByteArray stream;
        quint32 frames = 0;
        while (stream.size() < FloodBytes) {
            if (framesAmongJunk)
                stream += junk(random, 1000 + int(random.bounded(7000)), true) + numberedEcho(frames++);
            else
                stream += junk(random, FloodChunk, false);
        }
        QSignalSpy echoes(&port, &KipPort::echoReceived);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        qint64 junkReported = 0;
        connect(&port, &KipPort::statusMessage, this, [&junkReported](const QString &text) {
            static const QString prefix = QStringLiteral("KIP Rx Data Error: ");
            if (text.startsWith(prefix))
                junkReported += (text.size() - prefix.size() - int(qstrlen(" ignored"))) / 2;
        });
        // The stream goes through the card's pseudo-terminal as fast as the controller reads
        // it. The feeder is a 0 ms timer, so the gaps between its ticks are the times the
        // event loop was busy elsewhere. The scanner's size is sampled between chunks.
        const qint64 residentKb = FaultTest::processFigures().residentKb;
        PseudoTerminal &terminal = box.card(0).terminal();
        int peakBuffered = 0;
        qint64 longestGapMs = 0;
        const QMetaObject::Connection sampler = connect(port.connection(), &EMS::KipConnection::dataReceived, this,
            [&] { peakBuffered = qMax(peakBuffered, port.receiveBufferBytes()); });
        QEventLoop loop;
        QTimer feeder;
        QElapsedTimer clock;
        QElapsedTimer sinceTick;
        int offset = 0;
        connect(&feeder, &QTimer::timeout, this, [&] {
            longestGapMs = qMax(longestGapMs, sinceTick.restart());
            if (offset < stream.size() && terminal.pendingBytes() < FloodChunk / 4) {
                terminal.write(stream.mid(offset, FloodChunk));
                offset += FloodChunk;
            }
            if ((offset >= stream.size() && terminal.pendingBytes() == 0) || clock.elapsed() > 120000 || !terminal.isOpen())
                loop.quit();
        });
        clock.start();
        sinceTick.start();
        feeder.start(0);
        loop.exec();
        const qint64 elapsedMs = clock.elapsed();
        disconnect(sampler);
        QTest::qWait(200); // what the tty still holds reaches the port
        const qint64 grownKb = FaultTest::processFigures().residentKb - residentKb;
        qInfo("flood of %d bytes took %lld ms; longest event loop gap %lld ms; scanner peak %d bytes; resident +%lld kB",
              int(stream.size()), elapsedMs, longestGapMs, peakBuffered, grownKb);
        QVERIFY2(elapsedMs < 60000, "the controller could not keep up with the line");
        QVERIFY2(longestGapMs < 2000, "the event loop stalled during the flood");
        QVERIFY(FaultTest::eventLoopResponsive());
        QVERIFY2(peakBuffered <= Common::FrameScanner::MaxHeldBytes, qPrintable(QString::number(peakBuffered)));
        // Holding the flood, or a trace of every junk byte, would show here: the flood is 2 MB.
        QVERIFY2(grownKb < 1536, qPrintable(QStringLiteral("resident memory grew by %1 kB").arg(grownKb)));
        if (framesAmongJunk) {
            QCOMPARE(quint32(echoes.count()), frames);
            for (int i = 0; i < echoes.count(); ++i)
                QCOMPARE(qFromBigEndian<quint32>(echoes.at(i).at(0).toByteArray().constData()), quint32(i));
            // Junk is dropped, never silently: every junk byte was reported.
            QVERIFY2(junkReported >= stream.size() - qint64(frames) * numberedEcho(0).size(),
                     qPrintable(QString::number(junkReported)));
            QCOMPARE(types.count(), 0); // the status replies came through: never taken for gone
        }
        // Whatever the noise made of it meanwhile, the slot shows the card's own report again.
        const CardState &card = box.card(0).firmware().state();
        QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc)
                                     && port.hardwareStatus().firmwareVersion == card.firmwareVersion
                                     && port.hardwareStatus().temperature == card.temperature
                                     && box.label(0, "fpgaVersionLabel") == QString::fromLatin1(card.fpgaVersion),
                                 ConnectTimeoutMs);
    }

    void farEndVanishesAndReturns_data()
    {
        QTest::addColumn<bool>("silentFirst");
        QTest::addColumn<bool>("midFrame"); // the card had taken the start of a long frame
        QTest::addColumn<int>("returningType");
        QTest::newRow("while polling; the card returns") << false << false << int(KipPort::MadiBnc);
        QTest::newRow("while polling; another card returns") << false << false << int(KipPort::Aes);
        QTest::newRow("while probing a silent card") << true << false << int(KipPort::MadiBnc);
        QTest::newRow("in the middle of a long frame") << false << true << int(KipPort::MadiBnc);
    }
    void farEndVanishesAndReturns()
    {
        QFETCH(bool, silentFirst);
        QFETCH(bool, midFrame);
        QFETCH(int, returningType);
        SimulatedBox box({KipPort::MadiBnc});
        CardSimulator &card = box.card(0);
        KipPort &port = box.port(0);
        CONNECT_CARD(box);
        if (silentFirst) {
            card.setSilent(true);
            QTRY_VERIFY_WITH_TIMEOUT(box.showsNoCard(0) && port.bootLoaderUpdater(), ConnectTimeoutMs);
            QCOMPARE(port.linkState(), KipPort::LinkProbing);
        }
        if (midFrame) // the card has the first 40 bytes of a 200-byte echo and waits for the rest
            card.firmware().receiveBytes(Common::SerialMessage(5, 0, QByteArray(200, 'e')).encode().left(40));

        // A vanished adapter makes the serial port report an error without end until it is
        // closed; the slot form must close it at the first one.
        QSignalSpy errors(&port, &KipPort::serialPortError);
        box.pullAdapter(0);
        QTRY_VERIFY_WITH_TIMEOUT(!port.isConnectionOpen(), 2000);
        QVERIFY2(errors.count() <= 3, qPrintable(QStringLiteral("%1 errors before the port closed").arg(errors.count())));
        QVERIFY(box.showsNoCard(0));
        QCOMPARE(port.linkState(), KipPort::LinkClosed);
        // While the adapter is away the form retries about once a second: each failed open is
        // one error, the loop stays free and nothing of the card is shown.
        QTest::qWait(2500);
        QVERIFY(FaultTest::eventLoopResponsive(500));
        QVERIFY2(errors.count() < 10, qPrintable(QStringLiteral("%1 errors while away").arg(errors.count())));
        QVERIFY(box.showsNoCard(0));
        QVERIFY(!port.isConnectionOpen());

        if (returningType != KipPort::MadiBnc) {
            card.firmware().resetState(returningType);
            card.firmware().state().master = true;
        }
        card.setSilent(false);
        QVERIFY(box.plugAdapterBack(0));
        // A card still reading the start of a long frame must hear the probe all the same.
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, returningType), qPrintable(box.describe(0)), ConnectTimeoutMs);
        QCOMPARE(box.label(0, "fpgaVersionLabel"), QString::fromLatin1(card.firmware().state().fpgaVersion));
    }

    // The watchdog runs 3 s from the last status reply and the next poll goes out 1 s
    // after it, so a card whose answers suddenly take longer than 2 s is taken for gone.
    void slowCard_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<bool>("takenForGone");
        QTest::newRow("just under the watchdog") << 1500 << false;
        QTest::newRow("just over the watchdog") << 2500 << true;
    }
    void slowCard()
    {
        QFETCH(int, latencyMs);
        QFETCH(bool, takenForGone);
        SimulatedBox box({KipPort::MadiBnc});
        CardSimulator &card = box.card(0);
        CONNECT_CARD(box);
        QSignalSpy shown(&box.form(0), &KipForm::cardTypeChanged);
        QSignalSpy status(&box.port(0), &KipPort::statusMessage);
        const QVariantList removed{QStringLiteral("Card removed from KIP 1")};
        card.setReplyLatency(latencyMs);
        // A temperature change shows that the slow answers are still being read. 51 °C is
        // 0x33, the boot loader's NAK, inside every status reply: the late ones reach the
        // port while it probes for a boot loader, and must not keep it from the card.
        card.firmware().setTemperature(51);
        if (!takenForGone) {
            QVERIFY2(!shown.wait(4500), "a slow card was taken for gone");
            QVERIFY(!status.contains(removed));
            QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "temperatureLabel"), QStringLiteral("51°C"), 3000);
            QVERIFY(box.isShowing(0, KipPort::MadiBnc));
            return;
        }
        // Gone: nothing of it stays on the form, and the port probes for it.
        QVERIFY(shown.wait(5000));
        QCOMPARE(shown.at(0).at(1).value<KipPort::KipCardType>(), KipPort::NoCard);
        QVERIFY(status.contains(removed));
        // Still slow, it is found again: its answers keep coming, only late.
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), 15000);
        QCOMPARE(box.label(0, "temperatureLabel"), QStringLiteral("51°C"));
        QVERIFY(FaultTest::eventLoopResponsive());
    }

    // Just over the 512 bytes the host may send before the card clears it to send more:
    // the gate closes and a setting waits behind it. The second unanswered poll reopens
    // the gate; the setting reaches the card, and the card's report of it the slot.
    void settingReachesCardWithoutClearToSend()
    {
        SimulatedBox box({KipPort::MadiBnc});
        CardSimulator &card = box.card(0);
        KipPort &port = box.port(0);
        CONNECT_CARD(box);
        QTRY_VERIFY_WITH_TIMEOUT(port.syncSourceName() == QStringLiteral("madi A"), 3000);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QSignalSpy sync(&port, &KipPort::kipSyncSourceChanged);
        card.firmware().setClearToSendSuppressed(true);
        for (int i = 0; i < 3; ++i)
            port.sendEcho(QByteArray(200, char('a' + i)));
        port.sendSyncSource(-2);
        QCOMPARE(port.syncSourceName(), QStringLiteral("madi A")); // not before the card reports it
        QTRY_COMPARE_WITH_TIMEOUT(int(card.firmware().state().syncSource), 254, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(sync.contains(QVariantList{QStringLiteral("word-clock"), false}), 3000);
        QCOMPARE(types.count(), 0);
        QVERIFY(box.isShowing(0, KipPort::MadiBnc));
    }

    void strangeReports_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<bool>("outOfRangeCodes");
        QTest::addColumn<int>("fpgaTextFault");
        QTest::addColumn<QStringList>("panelShows"); // pieces of the panel's texts
        const int madi = KipPort::MadiBnc, asIs = CardFirmware::FpgaTextAsIs;
        QTest::newRow("out-of-range codes on a MADI card")
            << madi << true << asIs << QStringList{"Rx Channels: 127", "Tx Channels: 99"};
        QTest::newRow("Hydra ID 0") << int(KipPort::Hydra) << true << asIs << QStringList();
        QTest::newRow("FPGA text without its zero") << madi << false << int(CardFirmware::FpgaTextUnterminated) << QStringList();
        QTest::newRow("FPGA text with bytes above 0x7f")
            << int(KipPort::Aes) << false << int(CardFirmware::FpgaTextNonAscii) << QStringList();
        QTest::newRow("FPGA text with control characters")
            << int(KipPort::Dante) << false << int(CardFirmware::FpgaTextControlChars) << QStringList();
        QTest::newRow("card type no program knows") << 99 << false << asIs << QStringList();
    }
    void strangeReports()
    {
        QFETCH(int, cardType);
        QFETCH(bool, outOfRangeCodes);
        QFETCH(int, fpgaTextFault);
        QFETCH(QStringList, panelShows);
        // The box connects at once; the faults are on before the card's first answer.
        SimulatedBox box({KipPort::MadiBnc});
        CardFirmware &firmware = box.card(0).firmware();
        firmware.resetState(cardType);
        firmware.state().master = true;
        firmware.setOutOfRangeCodes(outOfRangeCodes);
        firmware.setFpgaTextFault(CardFirmware::FpgaTextFault(fpgaTextFault));
        KipPort &port = box.port(0);
        QSignalSpy cardStatus(&port, &KipPort::kipCardStatusChanged);
        QTRY_VERIFY_WITH_TIMEOUT(port.linkState() == KipPort::LinkConnected && port.cardType() == cardType,
                                 ConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(cardStatus.count() > 0, 3000);

        // The FPGA text is the card's field up to its zero (or all ten bytes), as it came.
        const QByteArray field = firmware.kipStatusPayload().mid(3, 10);
        const QString expected = QString::fromLatin1(field.left(qstrnlen(field.constData(), 10)));
        QCOMPARE(port.hardwareStatus().fpgaVersionText(), expected);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), expected, 2000);
        QCOMPARE(box.label(0, "cardTypeLabel"), KipForm::cardDisplayName(KipPort::KipCardType(cardType)));
        QCOMPARE(box.label(0, "firmwareVersionLabel"), QString::number(firmware.state().firmwareVersion));
        QCOMPARE(box.form(0).shownCardType(), KipPort::KipCardType(cardType));
        for (const QString &piece : qAsConst(panelShows))
            QTRY_VERIFY2_WITH_TIMEOUT(panelTexts(box.form(0)).contains(piece), qPrintable(panelTexts(box.form(0))), 3000);

        // The strange reports keep coming with every poll; the slot stays as it is.
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QVERIFY(!types.wait(1500));
        QVERIFY(FaultTest::eventLoopResponsive());
        QCOMPARE(port.linkState(), KipPort::LinkConnected);
    }
};

QTEST_MAIN(E2eFaultsLinkTest)
#include "tst_e2e_faults_link.moc"
