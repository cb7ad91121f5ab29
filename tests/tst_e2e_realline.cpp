// The card port against a simulated card over a real pseudo-terminal with the simulator's
// realistic line switched on (115200 baud both ways, the card's bytes in FTDI USB packets
// after the adapter's latency timer), in real time: the port's timings hold at real line
// speed, and its send gate paces a long FPGA download.
#include "link/kipport.h"
#include "link/serialmessage.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/seriallinemodel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using EMS::KipPort;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QByteArray StatusRequest = Common::SerialMessage(30, 0, QByteArray()).encode();

qint64 wireMs(qint64 bytes) { return SerialLineModel::wireTimeNs(bytes) / 1000000; }

// One card behind the realistic line and the card port that talks to it; every byte
// either way stamped on one clock.
struct Rig
{
    explicit Rig(int latencyMs)
    {
        card.firmware().resetState(KipPort::MadiBnc);
        card.setRealisticLine(true, latencyMs);
        clock.start();
        QObject::connect(&card, &CardSimulator::bytesFromHost, [this](const QByteArray &bytes) {
            fromHost << qMakePair(clock.elapsed(), bytes);
            hostBytes += bytes.size();
        });
        QObject::connect(&card, &CardSimulator::bytesToHost, [this](const QByteArray &bytes) {
            toHost << qMakePair(clock.elapsed(), bytes);
            cardBytes += bytes.size();
        });
        port.setSerialPortName(card.portName());
    }
    bool connect()
    {
        port.connectSerialPort();
        return QTest::qWaitFor([this] { return port.linkState() == KipPort::LinkConnected; }, ConnectTimeoutMs);
    }
    // When the card first sent these bytes (as one answer), or -1.
    qint64 cardSent(const QByteArray &bytes) const
    {
        for (const auto &sent : toHost)
            if (sent.second == bytes)
                return sent.first;
        return -1;
    }
    // When the host first wrote a chunk holding these bytes, at or after a moment, or -1.
    qint64 hostWrote(const QByteArray &bytes, qint64 after = 0) const
    {
        for (const auto &written : fromHost)
            if (written.first >= after && written.second.contains(bytes))
                return written.first;
        return -1;
    }

    CardSimulator card;
    KipPort port{nullptr, 0};
    QElapsedTimer clock;
    QList<QPair<qint64, QByteArray>> fromHost, toHost;
    qint64 hostBytes = 0, cardBytes = 0;
};

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 37 + seed) & 0x7F);
    return bytes;
}

} // namespace

class E2eRealLineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\nsablefold.link.info=false"));
        QVERIFY(dir.isValid());
    }

    // The card answers the probe with AA; it reaches the host after the latency timer,
    // the hand-back follows 100 ms later and the first status request a keep-alive
    // period (1000 ms) after that.
    void firstStatusRequestAfterProbe_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::newRow("16 ms adapter") << 16;
        QTest::newRow("1 ms adapter") << 1;
    }
    void firstStatusRequestAfterProbe()
    {
        QFETCH(int, latencyMs);
        Rig rig(latencyMs);
        QVERIFY(rig.connect());
        const qint64 answered = rig.cardSent(QByteArray(1, char(0xAA)));
        const qint64 requested = rig.hostWrote(StatusRequest, answered);
        QVERIFY(answered >= 0 && requested >= 0);
        // AA's own byte time is below a millisecond; the latency timer is not.
        const qint64 expected = latencyMs + 100 + 1000;
        QVERIFY2(requested - answered >= expected && requested - answered <= expected + 100,
                 qPrintable(QStringLiteral("first status request %1 ms after the card's AA").arg(requested - answered)));
    }

    // A card that falls silent is missed 3000 ms after its last status reply came in.
    void watchdogAfterSilence()
    {
        Rig rig(16);
        QVERIFY(rig.connect());
        QElapsedTimer lastReply;
        QObject::connect(&rig.port, &KipPort::messagesReceived, [&lastReply] { lastReply.start(); });
        QVERIFY(QTest::qWaitFor([&] { return lastReply.isValid(); }, 3000));
        rig.card.setSilent(true);
        QSignalSpy status(&rig.port, &KipPort::statusMessage);
        QVERIFY(QTest::qWaitFor([&] { return status.contains({QStringLiteral("Card removed from KIP 1")}); }, 5000));
        const qint64 missedAfter = lastReply.elapsed();
        QVERIFY2(missedAfter >= 2990 && missedAfter <= 3100,
                 qPrintable(QStringLiteral("card missed %1 ms after its last reply").arg(missedAfter)));
    }

    // A long FPGA download through the line: the host never has more than its 512-byte
    // budget and one frame out beyond the last "clear to send" it has read, the download
    // still completes, and no faster than the line carries its bytes.
    void fpgaDownloadPacedByClearToSend()
    {
        Rig rig(1);
        QVERIFY(rig.connect());
        const int packets = 96;
        const QString file = writeFile(dir, "fpga.bit", pattern(packets * 128, 5).replace(32, 10, "2031/12/24"));
        QVERIFY(!file.isEmpty());
        // The host's reads of "clear to send", on the host's side of the line.
        int sinceClearToSend = 0, mostSinceClearToSend = 0;
        rig.port.logStatusMessages(true);
        QObject::connect(&rig.port, &KipPort::logDataReceived, [&](const QString &text) {
            if (text == Common::SerialMessage(50, 0, QByteArray()).toString())
                sinceClearToSend = 0;
        });
        QObject::connect(&rig.card, &CardSimulator::bytesFromHost, [&](const QByteArray &bytes) {
            sinceClearToSend += bytes.size();
            mostSinceClearToSend = qMax(mostSinceClearToSend, sinceClearToSend);
        });
        QSignalSpy status(&rig.port, &KipPort::statusMessage);
        const qint64 startHost = rig.hostBytes, startCard = rig.cardBytes;
        QElapsedTimer took;
        took.start();
        rig.port.updateFpga(file);
        QVERIFY2(QTest::qWaitFor([&] { return status.contains({QStringLiteral("FPGA update successful")}); }, 20000),
                 qPrintable(status.isEmpty() ? QString() : status.last().at(0).toString()));
        QCOMPARE(rig.card.firmware().state().fpgaVersion, QByteArray("2031/12/24"));
        const int frame = 3 + 2 + 128 + 1;
        QVERIFY2(mostSinceClearToSend > 2 * frame && mostSinceClearToSend <= 512 + frame,
                 qPrintable(QString::number(mostSinceClearToSend)));
        QVERIFY(took.elapsed() >= wireMs(rig.hostBytes - startHost + rig.cardBytes - startCard));
    }

    // A whole code update through the line: the card runs the new code, and the update
    // took at least the line's time and the protocol's waits.
    void codeUpdate()
    {
        Rig rig(16);
        QVERIFY(rig.connect());
        const int blocks = 40;
        QByteArray image = pattern(blocks * 64 - 10, 11);
        image.replace(16, 9, QByteArray("version ") + char(77));
        const QString file = writeFile(dir, "code.bin", image);
        QSignalSpy finished(&rig.port, &KipPort::updateFinished);
        const qint64 startHost = rig.hostBytes, startCard = rig.cardBytes;
        QElapsedTimer took;
        took.start();
        rig.port.updateCode(file);
        QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 20000));
        const qint64 elapsed = took.elapsed();
        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(rig.card.installedImage(), image + QByteArray(10, char(0xFF)));
        // The 100 ms hand-over, the probe 1000 ms after the reset, the line's time, and per
        // block two answers (to SendData and to GetStatus) held by the latency timer.
        QVERIFY2(elapsed >= 1100 + wireMs(rig.hostBytes - startHost + rig.cardBytes - startCard) + 2 * blocks * 15,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(QTest::qWaitFor([&] { return rig.port.hardwareStatus().firmwareVersion == 77; }, 5000));
    }
};

QTEST_GUILESS_MAIN(E2eRealLineTest)
#include "tst_e2e_realline.moc"
