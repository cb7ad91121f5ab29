// The simulator's realistic line on a hand-driven clock: bytes at 115200 baud, the card's
// bytes in the FTDI adapter's USB packets. Timers are fired by hand, nothing sleeps.
#include "sim/seriallinemodel.h"

#include <QTimer>
#include <QtTest>

namespace {

constexpr qint64 Ms = 1000000;
constexpr qint64 StepNs = 1000; // the hand-driven clock's step

qint64 wire(qint64 bytes) { return SerialLineModel::wireTimeNs(bytes); }
// The first step of the clock at or after a moment.
qint64 step(qint64 ns) { return (ns + StepNs - 1) / StepNs * StepNs; }

// A line whose clock moves only when the test says; records what arrives and when.
struct Line
{
    explicit Line(int latencyMs)
    {
        model.setLatencyMs(latencyMs);
        QObject::connect(&model, &SerialLineModel::byteAtCard, [this](char byte) { atCard << qMakePair(now, byte); });
        QObject::connect(&model, &SerialLineModel::packetAtHost,
                         [this](const QByteArray &bytes) { atHost << qMakePair(now, bytes.size()); });
    }
    // Moves the clock on in 1 µs steps, firing each timer that is running at every step:
    // the model itself decides what is due, so firing early must hand over nothing.
    void runUntil(qint64 endNs)
    {
        for (; now <= endNs; now += StepNs) {
            for (QTimer *timer : {model.cardTimer(), model.hostTimer()})
                if (timer->isActive())
                    QMetaObject::invokeMethod(timer, "timeout");
        }
    }

    qint64 now = 0;
    SerialLineModel model{nullptr, [this] { return now; }};
    QList<QPair<qint64, char>> atCard;
    QList<QPair<qint64, int>> atHost; // arrival, packet size
};

using Packets = QList<QPair<qint64, int>>;

} // namespace

class SerialLineModelTest : public QObject
{
    Q_OBJECT

private slots:
    // 10 bits a byte at 115200 baud: 86.8 µs, 11520 bytes a second exactly.
    void byteTime()
    {
        QCOMPARE(wire(1), qint64(86805));
        QCOMPARE(wire(11520), 1000 * Ms);
    }

    // The card has each byte when its stop bit is in; a write right behind another waits
    // for the line. The timer is a precise single shot, due in whole milliseconds.
    void hostToCardPacing()
    {
        Line line(16);
        line.model.sendFromHost("abc");
        line.model.sendFromHost("de");
        QTimer *timer = line.model.cardTimer();
        QVERIFY(timer->isActive() && timer->isSingleShot());
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QCOMPARE(timer->interval(), 1);
        line.now = step(wire(1)) - StepNs; // on the clock's grid, just before the byte is in
        QMetaObject::invokeMethod(timer, "timeout");
        QVERIFY(line.atCard.isEmpty());
        QCOMPARE(line.model.bytesOnTheWayToCard(), 5);
        line.runUntil(wire(5) + Ms);
        QCOMPARE(line.atCard.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(line.atCard.at(i).second, "abcde"[i]);
            QCOMPARE(line.atCard.at(i).first, step(wire(i + 1)));
        }
        QVERIFY(!timer->isActive());
    }

    // What the card sends reaches the host in USB packets of up to 62 bytes; fewer go only
    // when the latency timer, started by the first byte, runs out.
    void cardToHostPackets_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<Packets>("packets");
        QTest::newRow("10-byte reply waits for the timer") << 16 << 10 << Packets{{wire(1) + 16 * Ms, 10}};
        QTest::newRow("same at 1 ms") << 1 << 10 << Packets{{wire(1) + Ms, 10}};
        QTest::newRow("62 bytes go at once") << 16 << 62 << Packets{{wire(62), 62}};
        QTest::newRow("130 bytes: 62 + 62 + 6") << 16 << 130
                                                << Packets{{wire(62), 62}, {wire(124), 62}, {wire(125) + 16 * Ms, 6}};
        // 1 ms holds 11.5 byte times: the timer cuts a slow stream into 12-byte packets.
        QTest::newRow("1 ms timer cuts 30 bytes") << 1 << 30
                                                  << Packets{{wire(1) + Ms, 12}, {wire(13) + Ms, 12}, {wire(25) + Ms, 6}};
        QTest::newRow("timer clamped to 255 ms") << 1000 << 1 << Packets{{wire(1) + 255 * Ms, 1}};
    }
    void cardToHostPackets()
    {
        QFETCH(int, latencyMs);
        QFETCH(int, bytes);
        QFETCH(Packets, packets);
        Line line(latencyMs);
        line.model.sendFromCard(QByteArray(bytes, 'x'));
        QTimer *timer = line.model.hostTimer();
        QVERIFY(timer->isActive() && timer->isSingleShot());
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        line.runUntil(packets.last().first + 20 * Ms);
        for (auto &packet : packets)
            packet.first = step(packet.first);
        QCOMPARE(line.atHost, packets);
        QCOMPARE(line.model.bytesOnTheWayToHost(), 0);
    }

    // A reply leaves when the request's last byte arrived, however late the timer ran: the
    // lateness of the simulator's timers does not add up along an exchange.
    void replyLeavesAtRequestArrival()
    {
        Line line(16);
        QObject::connect(&line.model, &SerialLineModel::byteAtCard, [&line](char byte) {
            if (byte == '?')
                line.model.sendFromCard("!");
        });
        line.model.sendFromHost("?");
        line.now = step(wire(1)) + 5 * Ms; // the timer ran 5 ms late
        QMetaObject::invokeMethod(line.model.cardTimer(), "timeout");
        QCOMPARE(line.atCard.size(), 1);
        line.runUntil(100 * Ms);
        QCOMPARE(line.atHost, (Packets{{step(wire(2) + 16 * Ms), 1}}));
    }

    // A pulled adapter loses what was on its way.
    void clearDropsBytesOnTheWay()
    {
        Line line(16);
        line.model.sendFromHost("abc");
        line.model.sendFromCard("xyz");
        line.model.clear();
        QVERIFY(!line.model.cardTimer()->isActive() && !line.model.hostTimer()->isActive());
        line.runUntil(50 * Ms);
        QVERIFY(line.atCard.isEmpty() && line.atHost.isEmpty());
    }
};

QTEST_GUILESS_MAIN(SerialLineModelTest)
#include "tst_seriallinemodel.moc"
