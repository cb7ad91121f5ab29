// The slot form's update page without a card on the line: the card's reports are handed
// to the port, the upgrader's and the Optocore panel's signals are emitted by hand, and
// the update watchdog is fired instead of waited for.
#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"
#include "update/optocoreupdatepanel.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

using namespace EMS;
using UpdateTest::BuiltInFirmware;

namespace {

const QString CodeFile = QStringLiteral("quorix_kip_madi.bin");
const QString FpgaFile = QStringLiteral("quorix_kip_madi_fpga.bit");
const int RestTicks = KipForm::UpdateRestLimitMs / KipForm::UpdateWatchdogMs;

// A slot whose port has no serial link: the test plays the card.
struct Slot
{
    UiTest::FakeAdapters adapters;
    KipPort port{nullptr, 0};
    KipForm form{&port, nullptr, adapters.lister()};
    QSignalSpy status{&port, &KipPort::statusMessage};

    template <typename T>
    T *find(const char *name) { return form.findChild<T *>(QLatin1String(name)); }
    QString text(const char *name) { return find<QLabel>(name)->text(); }
    QProgressBar *bar() { return find<QProgressBar>("progressBar"); }
    QTabWidget *tabs() { return find<QTabWidget>("tabWidget"); }
    QString currentTab() { return tabs()->currentWidget()->objectName(); }
    QString updateTabText() { return tabs()->tabText(tabs()->indexOf(find<QWidget>("updateTab"))); }
    // "110": code and FPGA buttons enabled, "update all if required" not.
    QString buttons()
    {
        QString state;
        for (const char *name : {"codeUpdateButton", "fpgaUpdateButton", "updateRequiredButton"})
            state += find<QPushButton>(name)->isEnabled() ? '1' : '0';
        return state;
    }
    void card(int type, quint8 version, const QByteArray &fpga, quint8 temperature = 42)
    {
        UiTest::deliverKipStatus(&port, type, version, temperature, fpga);
    }
    int failures() const { return status.count(QVariantList{"update failed"}); }
    // Fires the watchdog now instead of waiting for it.
    bool tick()
    {
        QTimer *timer = form.updateWatchdog();
        return timer->isActive() && QMetaObject::invokeMethod(timer, "timeout");
    }
};

} // namespace

class KipFormUpdateTest : public QObject
{
    Q_OBJECT

    BuiltInFirmware firmware;

    bool install(int codeVersion, const QByteArray &fpgaMark)
    {
        QMap<QString, QByteArray> files;
        if (codeVersion >= 0)
            files.insert(CodeFile, UpdateTest::codeImage(quint8(codeVersion), 300));
        if (!fpgaMark.isEmpty())
            files.insert(FpgaFile, UpdateTest::fpgaImage(fpgaMark, 400));
        return firmware.install(files);
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void init() { QVERIFY2(install(13, "2019/01/01"), qPrintable(firmware.errorString())); }

    void pageFollowsTheCard_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<int>("cardVersion");
        QTest::addColumn<QByteArray>("cardFpga");
        QTest::addColumn<int>("fileVersion");     // -1: no code file
        QTest::addColumn<QByteArray>("fileFpga"); // empty: no FPGA file
        QTest::addColumn<bool>("linkOpen");
        QTest::addColumn<QString>("available");   // code, FPGA
        QTest::addColumn<QString>("enabled");     // code, FPGA, required
        QTest::addColumn<bool>("recommended");
        const int madi = KipPort::MadiBnc;
        const QByteArray old("2014/05/12"), files("2019/01/01");
        QTest::newRow("files newer") << madi << 12 << old << 13 << files << true << "13 2019/01/01" << "111" << true;
        QTest::newRow("card runs the files") << madi << 13 << files << 13 << files << true << "13 2019/01/01" << "110" << false;
        QTest::newRow("code file without a version, no FPGA file") << madi << 12 << old << 0 << QByteArray() << true
                                                                   << " " << "000" << false;
        QTest::newRow("link closed") << madi << 12 << old << 13 << files << false << "13 2019/01/01" << "000" << true;
        // A card that does not answer with a firmware version counts as no card.
        QTest::newRow("card without a version") << madi << 0 << old << 13 << files << true << " " << "000" << false;
        // Other card types look for other files.
        QTest::newRow("AES card") << int(KipPort::Aes) << 12 << old << 13 << files << true << " " << "000" << false;
    }
    void pageFollowsTheCard()
    {
        QFETCH(int, cardType);
        QFETCH(int, cardVersion);
        QFETCH(QByteArray, cardFpga);
        QFETCH(int, fileVersion);
        QFETCH(QByteArray, fileFpga);
        QFETCH(bool, linkOpen);
        QFETCH(QString, available);
        QFETCH(QString, enabled);
        QFETCH(bool, recommended);
        QVERIFY(install(fileVersion, fileFpga));
        Slot slot;
        slot.card(cardType, quint8(cardVersion), cardFpga);
        if (!linkOpen)
            emit slot.port.connectedChanged(false);
        QCOMPARE(slot.text("firmwareAvailableLabel") + ' ' + slot.text("fpgaAvailableLabel"), available);
        QCOMPARE(slot.buttons(), enabled);
        QCOMPARE(!slot.find<QLabel>("updateRecommendedLabel")->isHidden(), recommended);
        QCOMPARE(slot.updateTabText(), recommended ? QStringLiteral("Update Code *") : QStringLiteral("Update Code"));
        QCOMPARE(slot.currentTab(), recommended ? QStringLiteral("updateTab") : QStringLiteral("controlTab"));
        if (cardVersion != 0)
            QVERIFY(slot.text("updateMessageLabel").contains(KipUpgrader::codeFileName(cardType) + " and the fpga code "
                                                             + KipUpgrader::fpgaFileName(cardType)));
    }

    // A recommendation brings the tab forward once; further reports leave it where the
    // user put it, until the recommendation has gone and comes again.
    void recommendationBringsTheTabForwardOnce()
    {
        Slot slot;
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        QCOMPARE(slot.currentTab(), QStringLiteral("updateTab"));
        slot.tabs()->setCurrentIndex(0);
        slot.card(KipPort::MadiBnc, 12, "2014/05/12", 43);
        QCOMPARE(slot.text("temperatureLabel"), QStringLiteral("43°C"));
        QCOMPARE(slot.tabs()->currentIndex(), 0);
        slot.card(KipPort::MadiBnc, 13, "2019/01/01");
        QCOMPARE(slot.updateTabText(), QStringLiteral("Update Code"));
        QCOMPARE(slot.tabs()->currentIndex(), 0);
        slot.card(KipPort::MadiBnc, 12, "2019/01/01");
        QCOMPARE(slot.currentTab(), QStringLiteral("updateTab"));
        QCOMPARE(slot.updateTabText(), QStringLiteral("Update Code *"));
    }

    // A press starts the update and holds the page until the result. Five seconds without
    // progress end it as a failure; at 50 % and 100 %, where the card restarts, and before
    // the first progress, the page waits up to 60 s.
    void update_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("code"); // else the FPGA stage starts
        QTest::addColumn<QString>("waitText");
        QTest::addColumn<QList<int>>("progress");
        QTest::addColumn<int>("ticksToFailure"); // 0: the update succeeds
        const auto stall = [](const char *name, const QList<int> &progress, int ticks) {
            QTest::newRow(name) << "codeUpdateButton" << true << "please wait - updating code" << progress << ticks;
        };
        stall("code", {30}, 0);
        QTest::newRow("FPGA") << "fpgaUpdateButton" << false << "please wait - updating FPGA" << QList<int>{30} << 0;
        // The card runs older code: the combined run starts with the code.
        QTest::newRow("all if required") << "updateRequiredButton" << true << "please wait - updating as required"
                                         << QList<int>{30} << 0;
        stall("stalled at 0 after progress", {0}, 1);
        stall("stalled at 49", {49}, 1);
        stall("stalled at 99", {99}, 1);
        stall("resting at 50 between stages", {25, 50}, RestTicks);
        stall("resting at 100", {60, 100}, RestTicks);
        stall("no progress since the start", {}, RestTicks);
    }
    void update()
    {
        QFETCH(QString, button);
        QFETCH(bool, code);
        QFETCH(QString, waitText);
        QFETCH(QList<int>, progress);
        QFETCH(int, ticksToFailure);
        Slot slot;
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        KipUpgrader *upgrader = slot.form.cardUpgrader();
        QSignalSpy started(upgrader, code ? &KipUpgrader::startARMUpdate : &KipUpgrader::startFPGAUpdate);
        slot.bar()->setValue(64);
        slot.find<QPushButton>(qPrintable(button))->click();
        QCOMPARE(started, QList<QVariantList>{{BuiltInFirmware::path(code ? CodeFile : FpgaFile)}});
        QVERIFY(slot.form.isShowingUpdate());
        QCOMPARE(slot.bar()->value(), 0);
        QCOMPARE(slot.text("updatingLabel"), waitText);
        QCOMPARE(slot.buttons(), QStringLiteral("000"));
        slot.card(KipPort::MadiBnc, 12, "2014/05/12", 44); // a status report does not give the buttons back
        QCOMPARE(slot.buttons(), QStringLiteral("000"));
        QTimer *timer = slot.form.updateWatchdog();
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(!timer->isSingleShot());
        for (int percent : progress)
            emit upgrader->updateProgress(percent);
        QCOMPARE(slot.bar()->value(), progress.isEmpty() ? 0 : progress.last());

        if (ticksToFailure == 0)
            emit upgrader->updateFinished(true);
        for (int tick = 1; tick < ticksToFailure; ++tick)
            QVERIFY2(slot.tick() && slot.form.isShowingUpdate(), qPrintable(QStringLiteral("given up at %1").arg(tick)));
        if (ticksToFailure > 1 && !progress.isEmpty()) {
            // Progress, even to the same value, starts the wait again.
            emit upgrader->updateProgress(progress.last());
            for (int tick = 1; tick < ticksToFailure; ++tick)
                QVERIFY(slot.tick());
        } else if (ticksToFailure > 1) {
            emit upgrader->updateProgress(0); // the first progress ends the grace: 0 is no resting point
        }
        if (ticksToFailure > 0) {
            QVERIFY(slot.form.isShowingUpdate());
            QCOMPARE(slot.failures(), 0);
            QVERIFY(slot.tick());
        }
        QVERIFY(!slot.form.isShowingUpdate());
        QCOMPARE(slot.failures(), ticksToFailure > 0 ? 1 : 0);
        QVERIFY(slot.text("updatingLabel").isEmpty());
        QCOMPARE(slot.buttons(), QStringLiteral("111"));
        QVERIFY(!timer->isActive());
    }

    // Given up at 50 %: the upgrader of that run is replaced, so nothing of it starts the
    // FPGA stage when the card comes back.
    void givingUpBetweenStagesLeavesNothingPending()
    {
        Slot slot;
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        slot.find<QPushButton>("updateRequiredButton")->click();
        QPointer<KipUpgrader> first = slot.form.cardUpgrader();
        QCoreApplication::processEvents(); // the port takes the code stage
        emit slot.port.updateProgress(100);
        emit slot.port.updateFinished(true);
        QCOMPARE(slot.bar()->value(), 50);
        QVERIFY(first->stageDelayTimer()->isActive());
        for (int tick = 0; tick < RestTicks; ++tick)
            QVERIFY(slot.tick());
        QVERIFY(!slot.form.isShowingUpdate());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        KipUpgrader *now = slot.form.cardUpgrader();
        QVERIFY(!now->isUpdating() && !now->stageDelayTimer()->isActive() && !now->fpgaDelayTimer()->isActive());
        QCOMPARE(now->codeVersion(), 13); // it knows the files for the next run
        QCOMPARE(slot.buttons(), QStringLiteral("111"));
    }

    // The port stops polling for the erase; an erase never answered is given up after the
    // rest limit, and the port polls at its normal rhythm again.
    void eraseNeverAnswered()
    {
        Slot slot;
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        slot.port.keepAliveTimer()->start(1000);
        slot.port.watchdogTimer()->start(3000);
        slot.find<QPushButton>("fpgaUpdateButton")->click();
        QVERIFY(slot.port.fpgaDownloader());
        QVERIFY(!slot.port.keepAliveTimer()->isActive() && !slot.port.watchdogTimer()->isActive());
        QSignalSpy finished(slot.form.cardUpgrader(), &KipUpgrader::updateFinished);
        for (int tick = 0; tick < RestTicks; ++tick)
            QVERIFY(slot.tick());
        QCOMPARE(finished, QList<QVariantList>{{false}});
        QVERIFY(!slot.port.fpgaDownloader());
        QCOMPARE(slot.port.keepAliveTimer()->interval(), 1000);
        QCOMPARE(slot.port.watchdogTimer()->interval(), 3000);
        QVERIFY(slot.port.keepAliveTimer()->isActive() && slot.port.watchdogTimer()->isActive());
        QVERIFY(!slot.form.isShowingUpdate());
    }

    void optocoreUpdatePanelFollowsTheCard()
    {
        Slot slot;
        slot.card(KipPort::Optocore, 12, "2014/05/12");
        QPointer<OptocoreUpdatePanel> panel = slot.form.updatePanel();
        QVERIFY(panel);
        QCOMPARE(panel->parentWidget(), slot.find<QWidget>("updateTab"));
        // The module's update runs through the panel; the page shows it.
        emit panel->updating(true);
        QCOMPARE(slot.text("updatingLabel"), QStringLiteral("please wait - updating Optocore"));
        QCOMPARE(slot.buttons(), QStringLiteral("000"));
        emit panel->updateProgress(20);
        QCOMPARE(slot.bar()->value(), 20);
        emit panel->updating(false);
        QVERIFY(!slot.form.isShowingUpdate());
        // The watchdog ends a stalled module update in the panel too.
        QSignalSpy panelUpdating(panel.data(), &OptocoreUpdatePanel::updating);
        emit panel->updating(true);
        emit panel->updateProgress(20);
        QVERIFY(slot.tick());
        QVERIFY(panelUpdating.contains(QVariantList{false}));
        QCOMPARE(slot.failures(), 1);
        QVERIFY(!slot.form.isShowingUpdate());
        // The card goes away in the middle of a module update: it fails at once.
        emit panel->updating(true);
        emit panel->updateProgress(30);
        slot.card(KipPort::Optocore, 0, "2014/05/12");
        QVERIFY(panel.isNull());
        QCOMPARE(slot.failures(), 2);
        QVERIFY(!slot.form.isShowingUpdate());
        // Another card type never gets the panel.
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        QVERIFY(!slot.form.updatePanel());
    }
};

QTEST_MAIN(KipFormUpdateTest)
#include "tst_kipform_update.moc"
