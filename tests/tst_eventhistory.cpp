// The event history's model and the recorder that fills it from a slot, without a serial
// line: the card's frames are handed to the port directly.
#include "support/uitestsupport.h"

#include "history/eventhistory.h"
#include "history/sloteventrecorder.h"
#include "link/kipport.h"
#include "slot/slotcontroller.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace EMS;
using Kind = SlotEvent::Kind;
using Severity = SlotEvent::Severity;

namespace {

SlotEvent makeEvent(qint64 timeMs, int slot, const QString &text, Severity severity = Severity::Info, Kind kind = Kind::Card)
{
    SlotEvent e;
    e.timeMs = timeMs;
    e.slot = slot;
    e.kind = kind;
    e.severity = severity;
    e.text = text;
    return e;
}

QStringList texts(const EventHistory &history)
{
    QStringList all;
    for (int row = 0; row < history.size(); ++row)
        all << history.at(row).text;
    return all;
}

// One slot's controller on a port that is handed the card's frames by the test.
struct RecordedSlot
{
    explicit RecordedSlot(int slot)
        : port(nullptr, slot), controller(&port, nullptr, [] { return QList<SerialPortEntry>(); }),
          recorder(&controller, &history)
    {
        recorder.setClock([this] { return clockMs; });
    }
    void status(int cardType, quint8 temperature = 42, quint8 firmware = 12, const QByteArray &fpga = "2014/05/12",
                quint32 rate = 48000)
    {
        UiTest::deliverKipStatus(&port, cardType, firmware, temperature, fpga, rate, port.slotIndex() == 0);
    }
    void lock(int input, bool locked) { UiTest::deliver(&port, 51, input, QByteArray(1, char(locked))); }
    void syncSource(int code) { UiTest::deliver(&port, 33, 1, QByteArray(1, char(code))); }
    void voltage(int madiPort, int psu, int nominal, int tenths)
    {
        UiTest::deliver(&port, 43, madiPort, QByteArray().append(char(psu)).append(char(nominal)).append(char(tenths)));
    }
    // The events recorded since the last call, as "severity kind: text".
    QStringList take()
    {
        QStringList recorded;
        for (; seen < history.size(); ++seen) {
            const SlotEvent e = history.at(seen);
            recorded << SlotEvent::severityName(e.severity) + ' ' + SlotEvent::kindName(e.kind) + ": " + e.text;
        }
        return recorded;
    }

    qint64 clockMs = 1700000000000;
    KipPort port;
    SlotController controller;
    EventHistory history;
    SlotEventRecorder recorder;
    int seen = 0;
};

} // namespace

class EventHistoryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }

    // A repeat of the slot's last event within a second of its last repeat is counted on
    // its row; anything that differs is a row of its own.
    void fold_data()
    {
        QTest::addColumn<SlotEvent>("second");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("firstCount");
        QTest::newRow("same, 999 ms later") << makeEvent(1999, 0, "lost") << 1 << 2;
        QTest::newRow("same, 1000 ms later") << makeEvent(2000, 0, "lost") << 1 << 2;
        QTest::newRow("same, 1001 ms later") << makeEvent(2001, 0, "lost") << 2 << 1;
        QTest::newRow("other text") << makeEvent(1500, 0, "found") << 2 << 1;
        QTest::newRow("other slot") << makeEvent(1500, 1, "lost") << 2 << 1;
        QTest::newRow("other severity") << makeEvent(1500, 0, "lost", Severity::Alarm) << 2 << 1;
        QTest::newRow("other kind") << makeEvent(1500, 0, "lost", Severity::Info, Kind::Link) << 2 << 1;
    }
    void fold()
    {
        QFETCH(SlotEvent, second);
        QFETCH(int, rows);
        QFETCH(int, firstCount);
        EventHistory history;
        QAbstractItemModelTester tester(&history, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy recorded(&history, &EventHistory::eventRecorded);
        history.record(makeEvent(1000, 0, "lost"));
        history.record(second);
        QCOMPARE(history.size(), rows);
        QCOMPARE(recorded.count(), rows);
        QCOMPARE(history.at(0).count, firstCount);
        QCOMPARE(history.at(0).timeMs, qint64(1000)); // a row keeps its first time
    }
    // A stream of repeats each within a second of the one before stays on one row, and
    // the row says how many.
    void foldsAStream()
    {
        EventHistory history;
        for (int i = 0; i < 100; ++i)
            history.record(makeEvent(1000 + i * 900, 1, "Serial error"));
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.at(0).count, 100);
        QCOMPARE(history.data(history.index(0, EventHistory::TextColumn)).toString(), QStringLiteral("Serial error (100 times)"));
    }
    // Each slot keeps its newest events; the rows interleave both in recording order,
    // and the other slot keeps all of its own when one slot overflows.
    void boundedPerSlot()
    {
        EventHistory history(nullptr, 3);
        QAbstractItemModelTester tester(&history, QAbstractItemModelTester::FailureReportingMode::QtTest);
        history.record(makeEvent(0, 1, "b0"));
        for (int i = 0; i < 5; ++i)
            history.record(makeEvent(10000 * (i + 1), 0, QStringLiteral("a%1").arg(i)));
        history.record(makeEvent(90000, 1, "b1"));
        QCOMPARE(texts(history), QStringList({"b0", "a2", "a3", "a4", "b1"}));
        for (int i = 0; i < 3; ++i)
            history.record(makeEvent(100000 + i * 10000, 1, QStringLiteral("b%1").arg(i + 2)));
        QCOMPARE(texts(history), QStringList({"a2", "a3", "a4", "b2", "b3", "b4"}));
        QCOMPARE(history.events().size(), 6);
        QCOMPARE(history.events().at(3).text, QStringLiteral("b2"));
        QCOMPARE(history.at(6).text, QString()); // beyond the end: an empty event
    }
    void dropsUnknownSlots()
    {
        EventHistory history;
        history.record(makeEvent(0, 2, "third slot"));
        history.record(makeEvent(0, -1, "no slot"));
        QCOMPARE(history.size(), 0);
    }
    void json_data()
    {
        QTest::addColumn<SlotEvent>("event");
        QTest::addColumn<QString>("json");
        SlotEvent alarm = makeEvent(1700000000123, 0, "MADI A lost lock", Severity::Alarm, Kind::Clock);
        QTest::newRow("alarm") << alarm
            << "{\"time\":\"2023-11-14T22:13:20.123Z\",\"timeMs\":1700000000123,\"slot\":1,\"kind\":\"clock\",\"severity\":\"alarm\",\"text\":\"MADI A lost lock\",\"count\":1}";
        SlotEvent odd = makeEvent(0, 1, "raw \"\\\n\x01 %1 °C", Severity::Warning, Kind::Health);
        odd.count = 7;
        QTest::newRow("escaped") << odd
            << "{\"time\":\"1970-01-01T00:00:00.000Z\",\"timeMs\":0,\"slot\":2,\"kind\":\"health\",\"severity\":\"warning\",\"text\":\"raw \\\"\\\\\\n\\u0001 %1 °C\",\"count\":7}";
    }
    void json()
    {
        QFETCH(SlotEvent, event);
        QFETCH(QString, json);
        QCOMPARE(event.toJson(), json);
        QJsonParseError error;
        QVERIFY(QJsonDocument::fromJson(json.toUtf8(), &error).isObject());
    }

    // The recorder: what a card reports becomes events, changes only.
    void cardComesAndGoes()
    {
        RecordedSlot slot(1);
        slot.status(KipPort::MadiCat5);
        slot.status(KipPort::MadiCat5);
        QCOMPARE(slot.take(), QStringList({"info card: CAT5 MADI card found (firmware 12, FPGA 2014/05/12)"}));
        slot.status(KipPort::MadiCat5, 42, 13, "2015/01/02", 96000);
        QCOMPARE(slot.take(), QStringList({"info clock: Sample rate changed from 48000 Hz to 96000 Hz",
                                           "info card: Firmware version changed from 12 to 13",
                                           "info card: FPGA version changed from 2014/05/12 to 2015/01/02"}));
        slot.status(KipPort::Dante, 42, 13, "2015/01/02", 96000);
        QCOMPARE(slot.take(), QStringList({"warning card: Card type changed from CAT5 MADI to DANTE"}));
        // The watchdog finds the card silent with the port open (here: never opened, so closed).
        slot.status(KipPort::NoCard, 0, 0, "");
        QCOMPARE(slot.take(), QStringList({"warning card: DANTE card out of reach: port closed"}));
    }
    // Crossing the limit is an alarm; back to normal only a few degrees below it; a byte
    // that cannot be a temperature is reported with its value, once.
    void temperature()
    {
        RecordedSlot slot(0);
        slot.recorder.setTemperatureLimit(60);
        QCOMPARE(slot.recorder.temperatureLimit(), 60);
        for (int celsius : {42, 60, 61, 65, 59, 58, 57, 61, 255, 255, 254, 50})
            slot.status(KipPort::Adc, quint8(celsius));
        QCOMPARE(slot.take(), QStringList({"info card: ADC card found (firmware 12, FPGA 2014/05/12)",
                                           "alarm health: Temperature 61 °C, above the limit of 60 °C",
                                           "info health: Temperature back to 57 °C",
                                           "alarm health: Temperature 61 °C, above the limit of 60 °C",
                                           "warning health: Card reports an implausible temperature: raw value 255",
                                           "info health: Temperature back to 50 °C"}));
        // A lower limit set while the card runs warm takes effect at once.
        slot.recorder.setTemperatureLimit(45);
        QCOMPARE(slot.take(), QStringList({"alarm health: Temperature 50 °C, above the limit of 45 °C"}));
    }
    void rackSupplies()
    {
        RecordedSlot slot(0);
        slot.status(KipPort::MadiBnc);
        slot.take();
        slot.voltage(0, 0, 15, 151);   // in range: nothing
        slot.voltage(0, 0, 15, 134);   // 13.4 V: more than 10 % low
        slot.voltage(0, 0, 15, 133);   // still out: nothing new
        slot.voltage(1, 1, -15, 166);  // -15 V rail reported as its magnitude, 16.6 V: high
        slot.voltage(0, 0, 15, 150);
        slot.voltage(0, 1, 5, 0);      // not fitted
        slot.voltage(0, 1, 9, 90);     // no such rail
        slot.voltage(0, 1, 9, 91);
        QCOMPARE(slot.take(), QStringList({"alarm health: Rack on MADI A, PSU 1, +15 V rail at 13.4 V, outside ±10 %",
                                           "alarm health: Rack on MADI B, PSU 2, \u221215 V rail at 16.6 V, outside ±10 %",
                                           "info health: Rack on MADI A, PSU 1, +15 V rail back to 15.0 V",
                                           "warning health: Rack supply report not understood: port 0, PSU 1, rail 9 V, raw value 9 V"}));
    }
    // Losing the input the master clocks from is an alarm; any other input a warning.
    void locks_data()
    {
        QTest::addColumn<int>("slotIndex");
        QTest::addColumn<int>("syncSource"); // the card's code: 0 MADI A, 1 MADI B, 254 word clock
        QTest::addColumn<QStringList>("events");
        QTest::newRow("master, clocked from A") << 0 << 0
            << QStringList({"alarm clock: MADI A lost lock: the box's clock source", "warning clock: MADI B lost lock",
                            "info clock: MADI A locked again"});
        QTest::newRow("master, clocked from B") << 0 << 1
            << QStringList({"warning clock: MADI A lost lock", "alarm clock: MADI B lost lock: the box's clock source",
                            "info clock: MADI A locked again"});
        QTest::newRow("master, word clock") << 0 << 254
            << QStringList({"warning clock: MADI A lost lock", "warning clock: MADI B lost lock", "info clock: MADI A locked again"});
        QTest::newRow("slave") << 1 << 0
            << QStringList({"warning clock: MADI A lost lock", "warning clock: MADI B lost lock", "info clock: MADI A locked again"});
    }
    void locks()
    {
        QFETCH(int, slotIndex);
        QFETCH(int, syncSource);
        QFETCH(QStringList, events);
        RecordedSlot slot(slotIndex);
        slot.status(KipPort::MadiBnc);
        slot.syncSource(syncSource);
        slot.lock(0, true);
        slot.lock(1, true);
        slot.take();
        slot.lock(0, false);
        slot.lock(1, false);
        slot.lock(0, true);
        slot.lock(0, true);
        QCOMPARE(slot.take(), events);
    }
    // An automatic source that moves off the input in the same breath still counts it as
    // the clock source; a second later it no longer does.
    void autoSourceMovesFirst()
    {
        RecordedSlot slot(0);
        slot.status(KipPort::MadiBnc);
        slot.syncSource(0);
        slot.lock(0, true);
        slot.take();
        slot.syncSource(1);
        slot.clockMs += 200;
        slot.lock(0, false);
        slot.lock(0, true);
        slot.clockMs += 1500;
        slot.lock(0, false);
        QCOMPARE(slot.take(), QStringList({"info clock: Sync source changed from MADI A to MADI B",
                                           "alarm clock: MADI A lost lock: the box's clock source",
                                           "info clock: MADI A locked again", "warning clock: MADI A lost lock"}));
    }
};

QTEST_MAIN(EventHistoryTest)
#include "tst_eventhistory.moc"
