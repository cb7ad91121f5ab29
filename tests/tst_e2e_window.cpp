// The real main window with two simulated cards on pseudo-terminals, as the demo runs
// it. Real time: each slot needs its probe, the hand-back and a status poll (~1-2 s).
#include "support/uitestsupport.h"

#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "link/kipport.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace EMS;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QString LockedStyle = "background-color:#00C800;color:#FFFFFF;border: 1px solid #004000";
const QString UnknownStyle = "background-color:#C0C0C0;color:#FFFFFF;border: 1px solid #404040";

QLabel *label(QWidget &window, const char *name) { return window.findChild<QLabel *>(QLatin1String(name)); }
QString cellText(CardPanel *panel, const char *table, int row, int column)
{
    QTableWidgetItem *item = panel->findChild<QTableWidget *>(QLatin1String(table))->item(row, column);
    return item ? item->text() : QString();
}
// What the slot's panel shows lies wholly on its Control page, clear of the status bar.
void verifyPanelFits(MainWindow &window, KipForm *form)
{
    CardPanel *panel = form->cardPanel();
    const QRect shown = panel->childrenRect().translated(panel->pos());
    QVERIFY(form->findChild<QWidget *>("controlTab")->rect().contains(shown));
    QVERIFY(form->geometry().bottom() < window.statusBar()->geometry().top());
}
// Saves the window as the guide shows it, in the test programs' screenshots folder.
void screenshot(MainWindow &window, const QString &name)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(dir) && window.grab().save(dir + '/' + name));
}

} // namespace

class E2eWindowTest : public QObject
{
    Q_OBJECT

    UiTest::SettingsSandbox sandbox;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }
    void twoMadiCards()
    {
        DemoRig rig(KipPort::MadiCat5);
        QVERIFY(rig.isReady());
        MainWindow window(nullptr, rig.lister());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        KipForm *master = window.slotForm(0), *slave = window.slotForm(1);
        // Both slots find their adapters by position and connect.
        QCOMPARE(master->cardPort()->serialPortName(), rig.card(0).portName());
        QCOMPARE(slave->cardPort()->serialPortName(), rig.card(1).portName());
        QTRY_COMPARE_WITH_TIMEOUT(master->shownCardType(), KipPort::MadiBnc, ConnectTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(slave->shownCardType(), KipPort::MadiCat5, ConnectTimeoutMs);
        // The strip: two MADI ports per slot, the master's clock. Automatic sync follows
        // the first locked input, MADI A.
        QCOMPARE(label(window, "masterTypeLabel")->text() + label(window, "slaveTypeLabel")->text(), QStringLiteral("MADI AMADI A"));
        QVERIFY(label(window, "masterMadiBLabel")->isVisible() && label(window, "slaveMadiBLabel")->isVisible());
        QTRY_COMPARE(label(window, "sampleRateLabel")->text(), QStringLiteral("48000"));
        QTRY_COMPARE(label(window, "syncSourceLabel")->text(), QStringLiteral("MADI A"));
        // Port A is locked to the rack; port B receives nothing, so its lock is unknown.
        QTRY_COMPARE(label(window, "masterRxSyncLabel")->styleSheet(), LockedStyle);
        QTRY_COMPARE(label(window, "masterMadiBRxSyncLabel")->styleSheet(), UnknownStyle);
        QTRY_COMPARE(label(window, "slaveRxSyncLabel")->styleSheet(), LockedStyle);
        // The MADI panel shows the rack on port A: type, slot cards, supply voltages.
        CardPanel *panel = master->cardPanel();
        QTRY_VERIFY(panel->findChild<QTableWidget *>("madiASlotsTable")->isVisible());
        QTRY_COMPARE(cellText(panel, "madiASlotsTable", 0, 1), QStringLiteral("ADC"));
        QTRY_COMPARE(cellText(panel, "madiAPsuTable", 1, 1), QStringLiteral("5.1"));
        const QString portA = panel->findChild<QPlainTextEdit *>("madiATextEdit")->toPlainText();
        QVERIFY2(portA.contains("Rx Channels: 57 \n"), qPrintable(portA));
        QVERIFY2(portA.contains("Connection: Rack\nRack type: QX-rack\nRack code: 7/3/2014"), qPrintable(portA));
        // The window as the guide shows it, with the Update Code tab beside.
        for (KipForm *form : {master, slave})
            verifyPanelFits(window, form);
        QCOMPARE(window.statusBar()->geometry().bottom(), window.height() - 1);
        screenshot(window, QStringLiteral("demo-window.png"));
        master->findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
        screenshot(window, QStringLiteral("demo-window-update-tab.png"));
        master->findChild<QTabWidget *>("tabWidget")->setCurrentIndex(0);
        // The user picks word clock on the master: the frame goes out, the card reports the
        // new source, and only then does the strip change.
        QByteArray fromHost;
        connect(&rig.card(0), &CardSimulator::bytesFromHost, this, [&fromHost](const QByteArray &bytes) { fromHost += bytes; });
        QToolButton *wordClock = panel->findChild<QToolButton *>("syncWordClockButton");
        QTest::mouseClick(wordClock, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(fromHost.contains(QByteArray::fromHex("042100fe23")), 3000);
        QTRY_COMPARE(label(window, "syncSourceLabel")->text(), QStringLiteral("WORD-CLOCK"));
        QVERIFY(wordClock->isChecked());
        // The slave's sync buttons do not exist for the user.
        QVERIFY(!slave->cardPanel()->findChild<QToolButton *>("syncAutoButton")->isVisible());
        // A rack that loses its lock shows at once in the strip.
        rig.card(0).firmware().setReceiveLocked(0, false);
        QTRY_COMPARE(label(window, "masterRxSyncLabel")->text(), QStringLiteral("Rx ERR"));
    }
    // The master form hears of the other slot's card; the strip keeps the master's clock.
    void slaveCardTypes_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("stripName");
        QTest::newRow("AES") << int(KipPort::Aes) << "AES";
        QTest::newRow("ADC") << int(KipPort::Adc) << "ADC";
        QTest::newRow("Optocore") << int(KipPort::Optocore) << "OPTOCORE";
        QTest::newRow("Hydra") << int(KipPort::Hydra) << "HYDRA";
    }
    void slaveCardTypes()
    {
        QFETCH(int, cardType);
        QFETCH(QString, stripName);
        DemoRig rig(cardType);
        QVERIFY(rig.isReady());
        MainWindow window(nullptr, rig.lister());
        window.show();
        KipForm *slave = window.slotForm(1);
        QTRY_COMPARE_WITH_TIMEOUT(int(slave->shownCardType()), cardType, ConnectTimeoutMs);
        QCOMPARE(label(window, "slaveTypeLabel")->text(), stripName);
        QCOMPARE(label(window, "slaveMadiBLabel")->isVisible(), KipPort::isDualMadi(KipPort::KipCardType(cardType)));
        QCOMPARE(bool(slave->cardPanel()), cardType != KipPort::Adc);
        if (slave->cardPanel())
            verifyPanelFits(window, slave);
        QCOMPARE(int(window.slotForm(0)->otherSlotCardType()), cardType);
        QTRY_COMPARE_WITH_TIMEOUT(window.slotForm(0)->shownCardType(), KipPort::MadiBnc, ConnectTimeoutMs);
        QTRY_COMPARE(label(window, "syncSourceLabel")->text(), QStringLiteral("MADI A"));
    }
};

QTEST_MAIN(E2eWindowTest)
#include "tst_e2e_window.moc"
