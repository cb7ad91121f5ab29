#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"
#include "ui/optocoreupdatepanel.h"

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

// A slot whose port has no serial link: the test plays the card and fires the watchdog.
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
    QString currentTab() { return find<QTabWidget>("tabWidget")->currentWidget()->objectName(); }
    // "110": code and FPGA buttons enabled, "update all if required" not.
    QString buttons()
    {
        QString state;
        for (const char *name : {"codeUpdateButton", "fpgaUpdateButton", "updateRequiredButton"})
            state += find<QPushButton>(name)->isEnabled() ? '1' : '0';
        return state;
    }
    void card(int type, quint8 version, const QByteArray &fpga)
    {
        UiTest::deliverKipStatus(&port, type, version, 42, fpga);
    }
    int failures() const { return status.count(QVariantList{"update failed"}); }
    bool tick() // fires the watchdog now
    {
        return form.updateWatchdog()->isActive() && QMetaObject::invokeMethod(form.updateWatchdog(), "timeout");
    }
};

} // namespace

class KipFormUpdateTest : public QObject
{
    Q_OBJECT

    BuiltInFirmware firmware;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        QVERIFY(firmware.install({{CodeFile, UpdateTest::codeImage(13, 300)},
                                  {FpgaFile, UpdateTest::fpgaImage("2019/01/01", 400)}}));
    }

    void pageFollowsTheCard_data()
    {
        QTest::addColumn<int>("cardVersion"); // 13: the files' code and FPGA
        QTest::addColumn<bool>("linkOpen");
        QTest::addColumn<QString>("enabled"); // code, FPGA, required
        QTest::addColumn<bool>("recommended");
        QTest::newRow("files newer") << 12 << true << "111" << true;
        QTest::newRow("card runs the files") << 13 << true << "110" << false;
        QTest::newRow("link closed") << 12 << false << "000" << true;
        QTest::newRow("card without a version counts as none") << 0 << true << "000" << false;
    }
    void pageFollowsTheCard()
    {
        QFETCH(int, cardVersion);
        QFETCH(bool, linkOpen);
        QFETCH(QString, enabled);
        QFETCH(bool, recommended);
        Slot slot;
        slot.card(KipPort::MadiBnc, quint8(cardVersion), cardVersion == 13 ? "2019/01/01" : "2014/05/12");
        if (!linkOpen)
            emit slot.port.connectedChanged(false);
        QCOMPARE(slot.buttons(), enabled);
        QCOMPARE(!slot.find<QLabel>("updateRecommendedLabel")->isHidden(), recommended);
        QCOMPARE(slot.currentTab(), recommended ? QStringLiteral("updateTab") : QStringLiteral("controlTab"));
    }

    // A press holds the page until the result. Five seconds without progress fail it; at 50 %
    // and 100 %, where the card restarts, and before the first progress, it waits up to 60 s.
    void update_data()
    {
        QTest::addColumn<bool>("code"); // else the FPGA button is pressed
        QTest::addColumn<QList<int>>("progress");
        QTest::addColumn<int>("ticksToFailure"); // 0: the update succeeds
        QTest::newRow("code") << true << QList<int>{30} << 0;
        QTest::newRow("FPGA") << false << QList<int>{30} << 0;
        QTest::newRow("stalled at 49") << true << QList<int>{49} << 1;
        QTest::newRow("resting at 50 between stages") << true << QList<int>{25, 50} << RestTicks;
        QTest::newRow("resting at 100") << true << QList<int>{60, 100} << RestTicks;
        QTest::newRow("no progress since the start") << true << QList<int>{} << RestTicks;
    }
    void update()
    {
        QFETCH(bool, code);
        QFETCH(QList<int>, progress);
        QFETCH(int, ticksToFailure);
        Slot slot;
        slot.card(KipPort::MadiBnc, 12, "2014/05/12");
        KipUpgrader *upgrader = slot.form.cardUpgrader();
        QSignalSpy started(upgrader, code ? &KipUpgrader::startARMUpdate : &KipUpgrader::startFPGAUpdate);
        slot.find<QPushButton>(code ? "codeUpdateButton" : "fpgaUpdateButton")->click();
        QCOMPARE(started, QList<QVariantList>{{BuiltInFirmware::path(code ? CodeFile : FpgaFile)}});
        QVERIFY(slot.form.isShowingUpdate() && !slot.text("updatingLabel").isEmpty());
        slot.card(KipPort::MadiBnc, 12, "2014/05/12"); // a status report does not give the buttons back
        QCOMPARE(slot.buttons(), QStringLiteral("000"));
        QTimer *timer = slot.form.updateWatchdog();
        QCOMPARE(timer->interval(), 5000);
        for (int percent : progress)
            emit upgrader->updateProgress(percent);
        QCOMPARE(slot.bar()->value(), progress.isEmpty() ? 0 : progress.last());
        if (ticksToFailure == 0)
            emit upgrader->updateFinished(true);
        for (int tick = 1; tick < ticksToFailure; ++tick)
            QVERIFY2(slot.tick() && slot.form.isShowingUpdate(), qPrintable(QString::number(tick)));
        if (ticksToFailure > 1 && progress.isEmpty())
            emit upgrader->updateProgress(0); // the first progress ends the grace: 0 is no resting point
        if (ticksToFailure > 0) {
            QCOMPARE(slot.failures(), 0);
            QVERIFY(slot.tick());
        }
        QVERIFY(!slot.form.isShowingUpdate());
        QCOMPARE(slot.failures(), ticksToFailure > 0 ? 1 : 0);
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
        slot.port.finishCodeUpdate(true); // the boot loader's answer after the card's reset
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
        QVERIFY(!slot.port.fpgaDownloader() && !slot.form.isShowingUpdate());
        QCOMPARE(slot.port.keepAliveTimer()->interval(), 1000);
        QCOMPARE(slot.port.watchdogTimer()->interval(), 3000);
        QVERIFY(slot.port.keepAliveTimer()->isActive() && slot.port.watchdogTimer()->isActive());
    }

    // A card lost during a module update fails it at once.
    void optocoreUpdate()
    {
        Slot slot;
        slot.card(KipPort::Optocore, 12, "2014/05/12");
        QPointer<OptocoreUpdatePanel> panel = slot.form.updatePanel();
        QVERIFY(panel);
        emit panel->updating(true);
        emit panel->updateProgress(30);
        QCOMPARE(slot.bar()->value(), 30);
        slot.card(KipPort::Optocore, 0, "2014/05/12");
        QVERIFY(panel.isNull());
        QCOMPARE(slot.failures(), 1);
        QVERIFY(!slot.form.isShowingUpdate());
    }
};

QTEST_MAIN(KipFormUpdateTest)
#include "tst_kipform_update.moc"
