// Faults on the serial link, end to end, in real time, against a simulated card on a pty:
// the program goes on, the slot shows only what the card reported, the link comes back.
#include "support/faultrig.h"
#include "support/uitestsupport.h"

#include "link/framescanner.h"
#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/serialmessage.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "ui/kipform.h"

#include <QElapsedTimer>
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
// Three minutes of a 115200-baud line, handed to the pty as fast as the controller reads it.
constexpr int FloodBytes = 3 * 60 * 11520;
constexpr int FloodChunk = 32 * 1024;

// An echo frame numbered in its payload; its length byte (63) is no type code, so no junk
// byte in front of it can start a frame that runs into it.
QByteArray numberedEcho(quint32 sequence)
{
    QByteArray payload(60, char(0xA5));
    qToBigEndian<quint32>(sequence, payload.data());
    return UiTest::cardFrame(Common::MessageType::EchoData, 0, payload);
}

#define CONNECT_CARD(box) \
    QTRY_VERIFY2_WITH_TIMEOUT((box).isShowing(0, KipPort::MadiBnc), qPrintable((box).describe(0)), ConnectTimeoutMs)

} // namespace

class E2eFaultsLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
    }

    void junkFlood_data()
    {
        QTest::addColumn<bool>("framesAmongJunk");
        // Junk that cannot hide frames (lengths over 127, no type codes): every frame comes through.
        QTest::newRow("numbered frames among junk") << true;
        // Noise now and then holds a frame whose sum agrees: the card's reports win again after.
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
            QByteArray junk(framesAmongJunk ? 1000 + int(random.bounded(7000)) : FloodChunk, '\0');
            for (char &byte : junk)
                byte = char(framesAmongJunk ? 0x80 | random.bounded(0x80) : random.bounded(256));
            stream += framesAmongJunk ? junk + numberedEcho(frames++) : junk;
        }
        QSignalSpy echoes(&port, &KipPort::echoReceived);
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        qint64 junkReported = 0;
        connect(&port, &KipPort::statusMessage, this, [&junkReported](const QString &text) {
            if (text.startsWith(QLatin1String("KIP Rx Data Error: ")))
                junkReported += (text.size() - int(qstrlen("KIP Rx Data Error:  ignored"))) / 2;
        });
        // The stream goes through the pty as fast as the controller reads it; each pass of the
        // event loop between writes is a time the loop was busy.
        const qint64 residentKb = FaultTest::processFigures().residentKb;
        PseudoTerminal &terminal = box.card(0).terminal();
        int peakBuffered = 0;
        connect(port.connection(), &EMS::KipConnection::dataReceived, this,
                [&] { peakBuffered = qMax(peakBuffered, port.receiveBufferBytes()); });
        QElapsedTimer clock, pass;
        qint64 longestGapMs = 0;
        clock.start();
        for (int offset = 0; (offset < stream.size() || terminal.pendingBytes() > 0) && clock.elapsed() < 120000;) {
            if (offset < stream.size() && terminal.pendingBytes() < FloodChunk / 4) {
                terminal.write(stream.mid(offset, FloodChunk));
                offset += FloodChunk;
            }
            pass.start();
            QCoreApplication::processEvents();
            longestGapMs = qMax(longestGapMs, pass.elapsed());
        }
        QVERIFY2(clock.elapsed() < 60000, "the controller could not keep up with the line");
        QTest::qWait(200); // what the tty still holds reaches the port
        QVERIFY2(longestGapMs < 2000, "the event loop stalled during the flood");
        QVERIFY(FaultTest::eventLoopResponsive());
        QVERIFY(peakBuffered <= Common::FrameScanner::MaxHeldBytes);
        const qint64 grownKb = FaultTest::processFigures().residentKb - residentKb;
        QVERIFY2(grownKb < 1536, qPrintable(QString::number(grownKb))); // holding the 2 MB flood would show
        if (framesAmongJunk) {
            QCOMPARE(quint32(echoes.count()), frames);
            for (int i = 0; i < echoes.count(); ++i)
                QCOMPARE(qFromBigEndian<quint32>(echoes.at(i).at(0).toByteArray().constData()), quint32(i));
            // Junk is dropped, never silently: every junk byte was reported.
            QVERIFY(junkReported >= stream.size() - qint64(frames) * numberedEcho(0).size());
            QCOMPARE(types.count(), 0); // the status replies came through: never taken for gone
        }
        const CardState &card = box.card(0).firmware().state();
        QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc) && port.hardwareStatus().temperature == card.temperature,
                                 ConnectTimeoutMs);
    }

    void farEndVanishesAndReturns_data()
    {
        QTest::addColumn<bool>("silentFirst");
        QTest::addColumn<bool>("midFrame"); // the card had taken the start of a long frame
        QTest::newRow("while polling") << false << false;
        QTest::newRow("while probing a silent card") << true << false;
        QTest::newRow("in the middle of a long frame") << false << true;
    }
    void farEndVanishesAndReturns()
    {
        QFETCH(bool, silentFirst);
        QFETCH(bool, midFrame);
        SimulatedBox box({KipPort::MadiBnc});
        CardSimulator &card = box.card(0);
        KipPort &port = box.port(0);
        CONNECT_CARD(box);
        if (silentFirst) {
            card.setSilent(true);
            QTRY_VERIFY_WITH_TIMEOUT(box.showsNoCard(0) && port.linkState() == KipPort::LinkProbing, ConnectTimeoutMs);
        }
        if (midFrame) // the card has the first 40 bytes of a 200-byte echo and waits for the rest
            card.firmware().receiveBytes(Common::SerialMessage(Common::MessageType::EchoData, 0, QByteArray(200, 'e')).encode().left(40));

        // A vanished adapter reports errors without end until closed: the form closes it at once.
        QSignalSpy errors(&port, &KipPort::serialPortError);
        box.pullAdapter(0);
        QTRY_VERIFY_WITH_TIMEOUT(!port.isConnectionOpen(), 2000);
        QVERIFY2(errors.count() <= 3, qPrintable(QString::number(errors.count())));
        QVERIFY(box.showsNoCard(0) && port.linkState() == KipPort::LinkClosed);
        // While the adapter is away the form retries about once a second, one error each.
        QTest::qWait(2500);
        QVERIFY(FaultTest::eventLoopResponsive(500));
        QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
        QVERIFY(box.showsNoCard(0) && !port.isConnectionOpen());
        card.setSilent(false);
        QVERIFY(box.plugAdapterBack(0));
        // A card still reading the start of a long frame must hear the probe all the same.
        CONNECT_CARD(box);
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
        card.setReplyLatency(latencyMs);
        // A temperature change shows that the slow answers are still being read. 51 °C is
        // 0x33, the boot loader's NAK, inside every status reply: the late ones reach the
        // port while it probes for a boot loader, and must not keep it from the card.
        card.firmware().setTemperature(51);
        QCOMPARE(shown.wait(takenForGone ? 5000 : 4500), takenForGone);
        QCOMPARE(status.contains({QStringLiteral("Card removed from KIP 1")}), takenForGone);
        if (takenForGone) // nothing of it stays on the form
            QCOMPARE(shown.at(0).at(1).value<KipPort::KipCardType>(), KipPort::NoCard);
        // Found again if it was taken for gone: its answers keep coming, only late.
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc) && box.label(0, "temperatureLabel") == "51°C",
                                  qPrintable(box.describe(0)), 15000);
        QVERIFY(FaultTest::eventLoopResponsive());
    }

    // Past the 512 bytes the host may send before "clear to send" a setting waits; the second
    // unanswered poll reopens the gate and the setting reaches the card, its report the slot.
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
        QCOMPARE(types.count(), 0); // never taken for gone meanwhile
    }

    void strangeReports_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<bool>("outOfRangeCodes");
        QTest::addColumn<int>("fpgaTextFault");
        const int madi = KipPort::MadiBnc, asIs = CardFirmware::FpgaTextAsIs;
        QTest::newRow("out-of-range codes on a MADI card") << madi << true << asIs;
        QTest::newRow("FPGA text without its zero") << madi << false << int(CardFirmware::FpgaTextUnterminated);
        QTest::newRow("FPGA text with control characters")
            << int(KipPort::Dante) << false << int(CardFirmware::FpgaTextControlChars);
        QTest::newRow("card type no program knows") << 99 << false << asIs;
    }
    void strangeReports()
    {
        QFETCH(int, cardType);
        QFETCH(bool, outOfRangeCodes);
        QFETCH(int, fpgaTextFault);
        // The box connects at once; the faults are on before the card's first answer.
        SimulatedBox box({KipPort::MadiBnc});
        CardFirmware &firmware = box.card(0).firmware();
        firmware.resetState(cardType);
        firmware.state().master = true;
        firmware.setOutOfRangeCodes(outOfRangeCodes);
        firmware.setFpgaTextFault(CardFirmware::FpgaTextFault(fpgaTextFault));
        KipPort &port = box.port(0);
        QSignalSpy cardStatus(&port, &KipPort::kipCardStatusChanged);
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType) && cardStatus.count() > 0, qPrintable(box.describe(0)),
                                  ConnectTimeoutMs);

        // The FPGA text is the card's field up to its zero (or all ten bytes), as it came.
        const QByteArray field = firmware.kipStatusPayload().mid(3, 10);
        const QString expected = QString::fromLatin1(field.left(qstrnlen(field.constData(), 10)));
        QCOMPARE(port.hardwareStatus().fpgaVersionText(), expected);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), expected, 2000);

        // The strange reports keep coming with every poll; the slot stays as it is.
        QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
        QVERIFY(!types.wait(1500));
        QVERIFY(FaultTest::eventLoopResponsive() && port.linkState() == KipPort::LinkConnected);
    }
};

QTEST_MAIN(E2eFaultsLinkTest)
#include "tst_e2e_faults_link.moc"
