// The Events window's filters and the main window's event plumbing, without cards: events
// are recorded straight into the history, the card port's messages emitted by the test.
#include "support/uitestsupport.h"

#include "app/mainwindow.h"
#include "history/eventfiltermodel.h"
#include "history/eventhistory.h"
#include "history/sloteventrecorder.h"
#include "ui/eventswindow.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

using namespace EMS;
using Kind = SlotEvent::Kind;
using Severity = SlotEvent::Severity;

namespace {

SlotEvent makeEvent(qint64 timeMs, int slot, Severity severity, const QString &text)
{
    SlotEvent e;
    e.timeMs = timeMs;
    e.slot = slot;
    e.severity = severity;
    e.kind = Kind::Clock;
    e.text = text;
    return e;
}

QStringList shownTexts(const QAbstractItemModel &model)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, EventHistory::TextColumn).data().toString();
    return texts;
}

} // namespace

class EventsWindowTest : public QObject
{
    Q_OBJECT

    UiTest::SettingsSandbox sandbox;
    UiTest::FakeAdapters adapters;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
    }

    // Newest first, narrowed by slot, least severity and text, through the window's own
    // controls.
    void filters_data()
    {
        QTest::addColumn<int>("slotItem");     // 0 both, 1 KIP 1, 2 KIP 2
        QTest::addColumn<int>("severityItem"); // 0 all, 1 warnings and alarms, 2 alarms
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("everything") << 0 << 0 << "" << QStringList{"e", "d", "c", "b", "a"};
        QTest::newRow("KIP 2") << 2 << 0 << "" << QStringList{"e", "b"};
        QTest::newRow("warnings and alarms") << 0 << 1 << "" << QStringList{"e", "d", "b"};
        QTest::newRow("alarms of KIP 1") << 1 << 2 << "" << QStringList{"d"};
        QTest::newRow("search, any case") << 0 << 0 << "LOCK" << QStringList{"c", "b"};
        QTest::newRow("search counts folded") << 0 << 0 << "(2 times)" << QStringList{"a"};
    }
    void filters()
    {
        QFETCH(int, slotItem);
        QFETCH(int, severityItem);
        QFETCH(QString, search);
        QFETCH(QStringList, shown);
        EventHistory history;
        history.record(makeEvent(1000, 0, Severity::Info, "a"));
        history.record(makeEvent(1500, 0, Severity::Info, "a"));
        history.record(makeEvent(2000, 1, Severity::Warning, "b lock"));
        history.record(makeEvent(2000, 0, Severity::Info, "c locked"));
        history.record(makeEvent(1000, 0, Severity::Alarm, "d")); // the clock was set back
        history.record(makeEvent(5000, 1, Severity::Alarm, "e"));
        EventsWindow window(&history, "/tmp/events.log");
        window.findChild<QComboBox *>("eventsSlotBox")->setCurrentIndex(slotItem);
        window.findChild<QComboBox *>("eventsSeverityBox")->setCurrentIndex(severityItem);
        window.findChild<QLineEdit *>("eventsSearchEdit")->setText(search);
        QStringList texts;
        for (const QString &text : shownTexts(*window.table()->model()))
            texts << text.section(' ', 0, 0);
        QCOMPARE(texts, shown);
    }
    // A new event lands at the top of an open, filtered window.
    void newestOnTop()
    {
        EventHistory history(nullptr, 3);
        EventsWindow window(&history, "/tmp/events.log");
        for (int i = 0; i < 5; ++i)
            history.record(makeEvent(i * 2000, 0, Severity::Info, QString::number(i)));
        QCOMPARE(shownTexts(*window.filterModel()), QStringList({"4", "3", "2"}));
    }

    // An alarm shows in red in the status bar and stays until the bar is clicked; other
    // events do not show there; the slots' messages keep their rules.
    void statusBarAlarm()
    {
        MainWindow window(nullptr, adapters.lister());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel *alarm = window.alarmLabel();
        QStatusBar *bar = window.statusBar();
        window.eventRecorder(1)->record(Kind::Health, Severity::Warning, "warm");
        QVERIFY(alarm->isHidden());
        window.eventRecorder(1)->record(Kind::Health, Severity::Alarm, "hot");
        window.eventRecorder(0)->record(Kind::Card, Severity::Alarm, "gone");
        QVERIFY(alarm->isVisible());
        QVERIFY2(alarm->text().startsWith("KIP 1 ALARM ") && alarm->toolTip().contains(": gone (1 more in Events)"),
                 qPrintable(alarm->toolTip()));
        QCOMPARE(window.unacknowledgedAlarms(), 2);
        emit window.slotForm(0)->cardPort()->statusMessage("BNC MADI ready");
        QCOMPARE(bar->currentMessage(), QStringLiteral("KIP 1 BNC MADI ready; ")); // the first report shares the line
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(700, 60)); // above the bar
        QVERIFY(alarm->isVisible());
        QTest::mouseClick(alarm, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(alarm->isHidden());
        QCOMPARE(window.unacknowledgedAlarms(), 0);
        QCOMPARE(bar->currentMessage(), QString());
    }

    // The Events window and each slot's serial log open from the keyboard.
    void shortcuts_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("events") << "eventsAction" << QKeySequence("Ctrl+E");
        QTest::newRow("KIP 1 log") << "logAction1" << QKeySequence("Ctrl+1");
        QTest::newRow("KIP 2 log") << "logAction2" << QKeySequence("Ctrl+2");
    }
    void shortcuts()
    {
        QFETCH(QString, action);
        QFETCH(QKeySequence, keys);
        MainWindow window(nullptr, adapters.lister());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QAction *found = window.findChild<QAction *>(action);
        QVERIFY(found);
        QCOMPARE(found->shortcut(), keys);
        QVERIFY(window.actions().contains(found));
        found->trigger();
        if (action == "eventsAction") {
            QVERIFY(window.eventsWindow() && window.eventsWindow()->isVisible());
        } else {
            const int slot = action.right(1).toInt() - 1;
            QVERIFY(window.logDialog(slot) && window.logDialog(slot)->isVisible());
            QVERIFY(!window.logDialog(1 - slot));
            // Closed with its own button, it opens again.
            window.logDialog(slot)->close();
            found->trigger();
            QVERIFY(window.logDialog(slot)->isVisible());
        }
    }

    // With no USB serial adapter the status bar says what to do, once; an adapter
    // plugged in takes it away for the next time.
    void noAdapter()
    {
        adapters.entries.clear();
        MainWindow window(nullptr, adapters.lister());
        QStatusBar *bar = window.statusBar();
        QVERIFY2(bar->currentMessage().startsWith("No USB serial adapter found"), qPrintable(bar->currentMessage()));
        bar->clearMessage();
        window.slotForm(0)->slotController()->scanPorts();
        QCOMPARE(bar->currentMessage(), QString());
        adapters.entries = {UiTest::ftdiAdapter("ttyUSB7", true)};
        window.slotForm(0)->slotController()->scanPorts();
        adapters.entries.clear();
        window.slotForm(0)->slotController()->scanPorts();
        QVERIFY(bar->currentMessage().startsWith("No USB serial adapter found"));
        adapters.entries = {UiTest::ftdiAdapter("ttyUSB7", true)};
        MainWindow withAdapter(nullptr, adapters.lister());
        QVERIFY(!withAdapter.statusBar()->currentMessage().startsWith("No USB serial adapter"));
    }

    // A port that cannot be opened is retried: the hint comes with the first refusal
    // only. The probe's complaints about a card that answers with its program do not
    // reach the status bar while no update runs.
    void portTexts()
    {
        adapters.entries = {UiTest::ftdiAdapter("ttyNOPE0"), UiTest::ftdiAdapter("ttyNOPE1")};
        MainWindow window(nullptr, adapters.lister());
        KipPort *port = window.slotForm(1)->cardPort();
        QCOMPARE(port->serialPortName(), QStringLiteral("ttyNOPE1"));
        QCOMPARE(port->linkState(), KipPort::LinkProbing);
        QStatusBar *bar = window.statusBar();
        const QString refusal = "Could not open ttyNOPE1, config problem reported";
        QDateTime clock = QDateTime::currentDateTime().addSecs(60); // KIP 2 alone on the line
        window.setClock([&clock] { return clock = clock.addSecs(5); });
        emit port->statusMessage(refusal);
        QCOMPARE(bar->currentMessage(), "KIP 2 " + refusal + " - the other slot or another program holds the port");
        emit port->statusMessage(refusal);
        QCOMPARE(bar->currentMessage(), "KIP 2 " + refusal);
        bar->clearMessage();
        for (const char *probe : {"Updater received 11 invalid bytes: 55 aa", "Update aborted: too many retries",
                                  "Update aborted: received NAK in reply to Ping"})
            emit port->statusMessage(probe);
        QCOMPARE(bar->currentMessage(), QString());
        // During an update of the slot the same texts are the update's.
        window.slotForm(1)->slotController()->updateCode();
        emit port->statusMessage("Update aborted: too many retries");
        QCOMPARE(bar->currentMessage(), QStringLiteral("KIP 2 Update aborted: too many retries"));
    }

    // Closing asks first only while an update runs, and says what it leaves behind.
    void closeDuringUpdate()
    {
        adapters.entries.clear();
        MainWindow window(nullptr, adapters.lister());
        window.show();
        QStringList asked;
        bool answer = false;
        window.setCloseConfirmation([&](const QString &question) { asked << question; return answer; });
        window.slotForm(0)->slotController()->updateCode(); // no file: refused from the event loop
        QVERIFY(window.slotForm(0)->slotController()->isUpdating());
        QVERIFY(!window.close());
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().startsWith("KIP 1: a firmware update is running") && asked.first().contains("boot loader"),
                 qPrintable(asked.first()));
        const int rows = window.eventHistory()->size();
        answer = true;
        QVERIFY(window.close());
        QCOMPARE(window.eventHistory()->size(), rows + 1);
        QCOMPARE(window.eventHistory()->at(rows).severity, Severity::Warning);
        MainWindow idle(nullptr, adapters.lister());
        idle.setCloseConfirmation([&](const QString &question) { asked << question; return false; });
        idle.show();
        QVERIFY(idle.close());
        QCOMPARE(asked.size(), 2);
    }
};

QTEST_MAIN(EventsWindowTest)
#include "tst_eventswindow.moc"
