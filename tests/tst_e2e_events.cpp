// The event history of the real window over two simulated cards on pseudo-terminals: what
// happens to the cards during a show reaches the history in order, stamped and graded,
// raises the status-bar alarm, and is exported. Real time: the watchdog, the probe and
// the updates take seconds each.
#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "history/eventexport.h"
#include "link/bootloaderupdater.h"
#include "history/eventfiltermodel.h"
#include "history/eventhistory.h"
#include "history/eventlogfile.h"
#include "ui/cardpanel.h"
#include "ui/eventswindow.h"
#include "ui/kipform.h"

#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace EMS;
using Kind = SlotEvent::Kind;
using Severity = SlotEvent::Severity;

namespace {

constexpr int ConnectTimeoutMs = 10000;
constexpr int RemovalTimeoutMs = 15000;
constexpr int UpdateTimeoutMs = 40000;

qint64 wallClock() { return QDateTime::currentMSecsSinceEpoch(); }

// Saves a widget as the guide shows it, in the test programs' screenshots folder.
bool screenshot(QWidget &widget, const QString &name)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    return QDir().mkpath(dir) && widget.grab().save(dir + '/' + name);
}

} // namespace

class E2eEventsTest : public QObject
{
    Q_OBJECT

    UiTest::SettingsSandbox sandbox;
    UpdateTest::BuiltInFirmware firmware;
    MainWindow *window = nullptr;
    qint64 stepStartMs = 0;
    int checked = 0; // the rows of the history already accounted for

    EventHistory &history() { return *window->eventHistory(); }
    QString dump()
    {
        QStringList rows;
        for (const SlotEvent &e : history().events())
            rows << e.toJson();
        return rows.join('\n');
    }
    // Waits for the event, the next of its slot and kind from the rows not yet accounted
    // for, and checks it was stamped during this step. Rows of other kinds in between
    // (ports, sample rates, ...) are passed over.
    bool expect(int slot, Kind kind, Severity severity, const QString &text, int timeoutMs = 5000)
    {
        const qint64 deadline = wallClock() + timeoutMs;
        for (;;) {
            for (int row = checked; row < history().size(); ++row) {
                const SlotEvent e = history().at(row);
                if (e.slot != slot || e.kind != kind || !e.text.startsWith(text))
                    continue;
                checked = row + 1;
                const bool inStep = e.timeMs >= stepStartMs && e.timeMs <= wallClock();
                if (e.severity != severity || !inStep) {
                    qWarning().noquote() << "wrong severity or time:" << e.toJson() << "step began" << stepStartMs;
                    return false;
                }
                return true;
            }
            if (wallClock() > deadline) {
                qWarning().noquote() << "missing:" << slot << SlotEvent::kindName(kind) << text << "in\n" << dump();
                return false;
            }
            QTest::qWait(50);
        }
    }
    void step() { stepStartMs = wallClock(); }

private slots:
    void initTestCase()
    {
        // The event log goes to a test folder, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false\nsablefold.*.warning=false"));
        QVERIFY(firmware.install({{"quorix_kip_madi.bin", UpdateTest::codeImage(13, 300)},
                                  {"quorix_kip_madi_fpga.bit", UpdateTest::fpgaImage("2014/05/12", 600)}}));
    }

    void eventsOfAShow()
    {
        DemoRig rig(KipPort::MadiCat5);
        QVERIFY(rig.isReady());
        MainWindow mainWindow(nullptr, rig.lister());
        window = &mainWindow;
        checked = 0;
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
        QLabel *alarm = mainWindow.alarmLabel();
        QStatusBar *bar = mainWindow.statusBar();
        const auto clickStatusBar = [bar] { QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(20, bar->height() / 2)); };

        step();
        QVERIFY(expect(0, Kind::Card, Severity::Info, "BNC MADI card found (firmware 12", ConnectTimeoutMs));
        QVERIFY(expect(1, Kind::Card, Severity::Info, "CAT5 MADI card found (firmware 12", ConnectTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(mainWindow.findChild<QLabel *>("syncSourceLabel")->text(), QStringLiteral("MADI A"), ConnectTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(mainWindow.slotForm(0)->slotController()->lockState(0), SyncLocked, ConnectTimeoutMs);
        QVERIFY(alarm->isHidden());

        // The master's clock input loses its lock and gets it back: an alarm in the status
        // bar, held until the user clicks it, while the slots' messages go on.
        step();
        rig.card(0).firmware().setReceiveLocked(0, false);
        QVERIFY(expect(0, Kind::Clock, Severity::Alarm, "MADI A lost lock: the box's clock source"));
        QVERIFY(alarm->isVisible());
        QVERIFY2(alarm->text().startsWith("KIP 1 ALARM") && alarm->toolTip().contains("MADI A lost lock: the box's clock source"),
                 qPrintable(alarm->text()));
        QCOMPARE(alarm->styleSheet().contains("#C80000"), true);
        step();
        rig.card(0).firmware().setReceiveLocked(0, true);
        QVERIFY(expect(0, Kind::Clock, Severity::Info, "MADI A locked again"));
        QVERIFY(alarm->isVisible()); // the lock is back; the user has not seen the alarm yet
        clickStatusBar();
        QVERIFY(alarm->isHidden());
        QCOMPARE(mainWindow.unacknowledgedAlarms(), 0);

        // The slave's card is pulled from its slot and put back.
        step();
        rig.card(1).setSilent(true);
        QVERIFY(expect(1, Kind::Card, Severity::Alarm, "CAT5 MADI card removed: no answer", RemovalTimeoutMs));
        QTRY_VERIFY(alarm->isVisible());
        QVERIFY(alarm->text().contains("KIP 2 ALARM"));
        step();
        rig.card(1).setSilent(false);
        QVERIFY(expect(1, Kind::Card, Severity::Info, "CAT5 MADI card found", RemovalTimeoutMs));
        clickStatusBar();
        QVERIFY(alarm->isHidden());

        // The master card runs hot, and cools down; a rack supply sags.
        step();
        rig.card(0).firmware().setTemperature(78);
        QVERIFY(expect(0, Kind::Health, Severity::Alarm, "Temperature 78 °C, above the limit of 70 °C"));
        step();
        rig.card(0).firmware().setTemperature(55);
        QVERIFY(expect(0, Kind::Health, Severity::Info, "Temperature back to 55 °C"));
        step();
        rig.card(0).firmware().setRackVoltage(0, 1, 2, 131); // PSU 2, +15 V rail, 13.1 V
        QVERIFY(expect(0, Kind::Health, Severity::Alarm, "Rack on MADI A, PSU 2, +15 V rail at 13.1 V"));
        QVERIFY(alarm->toolTip().contains("more in Events"));
        clickStatusBar();

        // A code update of KIP 2 that the card's boot loader refuses, then one that works.
        KipForm *slave = mainWindow.slotForm(1);
        QPushButton *codeButton = slave->findChild<QPushButton *>("codeUpdateButton");
        QTRY_VERIFY_WITH_TIMEOUT(codeButton->isEnabled(), ConnectTimeoutMs);
        step();
        // One packet refused until the updater gives up; the card restarts into its old
        // program, whose answer to the probe ends the update as failed.
        rig.card(1).nakNextBootPackets(Common::Updater::MaxResends + 1);
        codeButton->click();
        QVERIFY(expect(1, Kind::Update, Severity::Info, "Code update started: quorix_kip_madi.bin, version 13"));
        QVERIFY(expect(1, Kind::Update, Severity::Warning, "Update failed after", UpdateTimeoutMs));
        QTRY_VERIFY_WITH_TIMEOUT(codeButton->isEnabled() && slave->cardPort()->linkState() == KipPort::LinkConnected,
                                 UpdateTimeoutMs);
        rig.card(1).nakNextBootPackets(0);
        step();
        codeButton->click();
        QVERIFY(expect(1, Kind::Update, Severity::Info, "Code update started: quorix_kip_madi.bin, version 13"));
        // Closing the window meanwhile asks first; "no" keeps the window and the update.
        QString question;
        mainWindow.setCloseConfirmation([&question](const QString &text) { question = text; return false; });
        QVERIFY(!mainWindow.close());
        QVERIFY2(question.contains("KIP 2") && question.contains("boot loader"), qPrintable(question));
        QVERIFY(mainWindow.isVisible());
        QVERIFY(expect(1, Kind::Update, Severity::Info, "Update successful after", UpdateTimeoutMs));
        QVERIFY(expect(1, Kind::Card, Severity::Info, "Firmware version changed from 12 to 13", ConnectTimeoutMs));
        // Right after it, the page does not recommend the update it has just made.
        auto *tabs = slave->findChild<QTabWidget *>("tabWidget");
        QVERIFY(!tabs->tabText(1).endsWith('*'));

        // The rows so far are in the order they happened.
        const QVector<SlotEvent> events = history().events();
        QVERIFY(std::is_sorted(events.begin(), events.end(),
                               [](const SlotEvent &a, const SlotEvent &b) { return a.timeMs < b.timeMs; }));

        // The Events window lists them newest first; the alarms-only filter finds the four.
        mainWindow.showEventsWindow();
        EventsWindow *eventsWindow = mainWindow.eventsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(eventsWindow));
        EventFilterModel *filter = eventsWindow->filterModel();
        QCOMPARE(filter->rowCount(), history().size());
        QCOMPARE(filter->index(0, EventHistory::TextColumn).data(EventHistory::TimeRole).toLongLong(), events.last().timeMs);
        // The guide's picture: the window (its status bar holding an alarm) above the
        // Events window.
        for (int slot = 0; slot < 2; ++slot)
            mainWindow.slotForm(slot)->findChild<QTabWidget *>("tabWidget")->setCurrentIndex(0);
        rig.card(0).firmware().setReceiveLocked(0, false);
        QTRY_VERIFY(alarm->isVisible());
        QTest::qWait(1200); // the strip's clock follows the card's next status
        const QPixmap top = mainWindow.grab(), bottom = eventsWindow->grab();
        QImage both(qMax(top.width(), bottom.width()), top.height() + bottom.height() + 8, QImage::Format_RGB32);
        both.fill(QColor(0x30, 0x30, 0x30));
        QPainter painter(&both);
        painter.drawPixmap(0, 0, top);
        painter.drawPixmap(0, top.height() + 8, bottom);
        painter.end();
        const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
        QVERIFY(QDir().mkpath(shots) && both.save(shots + QStringLiteral("/events-window.png")));
        rig.card(0).firmware().setReceiveLocked(0, true);
        QVERIFY(expect(0, Kind::Clock, Severity::Alarm, "MADI A lost lock"));
        QVERIFY(expect(0, Kind::Clock, Severity::Info, "MADI A locked again"));
        const QVector<SlotEvent> shown = history().events();
        filter->setLeastSeverity(Severity::Alarm);
        QStringList alarms;
        for (int row = 0; row < filter->rowCount(); ++row)
            alarms << filter->index(row, EventHistory::TextColumn).data().toString();
        QCOMPARE(alarms.size(), 5);
        QCOMPARE(shown.size(), history().size());
        QVERIFY(alarms.last().startsWith("MADI A lost lock"));

        // The export reads back into the same rows.
        QTemporaryDir dir;
        QVERIFY(eventsWindow->exportCsv(dir.filePath("show.csv")));
        QFile csv(dir.filePath("show.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QString error;
        QCOMPARE(EventExport::readCsv(&csv, &error), history().events());
        QVERIFY(error.isEmpty());

        // The log file holds every row, one JSON object a line.
        QFile log(mainWindow.eventLogFile()->filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().count('\n') >= history().size());

        // Closing during an update, confirmed, leaves a note in the history.
        codeButton->click();
        QVERIFY(slave->isShowingUpdate());
        mainWindow.setCloseConfirmation([](const QString &) { return true; });
        QVERIFY(mainWindow.close());
        QVERIFY(history().at(history().size() - 1).text.startsWith("Window closed during the update: the card may be left in its boot loader"));
        window = nullptr;
    }

    // An Optocore card's panel shows whole whatever the other slot holds.
    void optocorePanelFits_data()
    {
        QTest::addColumn<int>("masterType");
        QTest::addColumn<int>("slaveType");
        QTest::newRow("Optocore beside MADI") << int(KipPort::MadiBnc) << int(KipPort::Optocore);
        QTest::newRow("Optocore beside ADC") << int(KipPort::Adc) << int(KipPort::Optocore);
        QTest::newRow("Optocore master beside AES") << int(KipPort::Optocore) << int(KipPort::Aes);
    }
    void optocorePanelFits()
    {
        QFETCH(int, masterType);
        QFETCH(int, slaveType);
        DemoRig rig(slaveType, masterType);
        QVERIFY(rig.isReady());
        MainWindow mainWindow(nullptr, rig.lister());
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
        const int slot = masterType == KipPort::Optocore ? 0 : 1;
        KipForm *form = mainWindow.slotForm(slot);
        QTRY_COMPARE_WITH_TIMEOUT(int(form->shownCardType()), int(KipPort::Optocore), ConnectTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(int(mainWindow.slotForm(1 - slot)->shownCardType()), 1 - slot == 0 ? masterType : slaveType,
                                  ConnectTimeoutMs);
        QTest::qWait(300);
        screenshot(mainWindow, QStringLiteral("optocore-%1.png").arg(QTest::currentDataTag()).replace(' ', '-'));
        CardPanel *panel = form->cardPanel();
        QWidget *page = form->findChild<QWidget *>("controlTab");
        // Every visible widget of the panel lies on the page.
        for (QWidget *child : panel->findChildren<QWidget *>()) {
            if (!child->isVisibleTo(panel))
                continue;
            const QRect onPage(child->mapTo(page, QPoint(0, 0)), child->size());
            QVERIFY2(page->rect().contains(onPage), qPrintable(child->objectName()));
            QWidget *parent = child->parentWidget();
            if (parent != panel) {
                const QRect inParent = child->geometry();
                QVERIFY2(parent->rect().contains(inParent),
                         qPrintable(child->objectName() + " cut off by " + parent->objectName()));
            }
        }
    }
};

QTEST_MAIN(E2eEventsTest)
#include "tst_e2e_events.moc"
