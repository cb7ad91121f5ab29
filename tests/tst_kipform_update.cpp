// The slot form's update page without a card on the line: the card's reports are handed
// to the port, the upgrader's and the Optocore update panel's signals are emitted by
// hand, and the update watchdog is fired instead of waited for.
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

// A slot whose port has no serial link: the test plays the card.
struct Slot
{
    UiTest::FakeAdapters adapters;
    KipPort port{nullptr, 0};
    KipForm form{&port, nullptr, adapters.lister()};

    template <typename T>
    T *find(const char *name) { return form.findChild<T *>(QLatin1String(name)); }
    QPushButton *button(const char *name) { return find<QPushButton>(name); }
    QString text(const char *name) { return find<QLabel>(name)->text(); }
    QProgressBar *bar() { return find<QProgressBar>("progressBar"); }
    QTabWidget *tabs() { return find<QTabWidget>("tabWidget"); }
    QString updateTabText() { return tabs()->tabText(tabs()->indexOf(find<QWidget>("updateTab"))); }
    bool buttonsEnabled(bool code, bool fpga, bool required)
    {
        return button("codeUpdateButton")->isEnabled() == code && button("fpgaUpdateButton")->isEnabled() == fpga
            && button("updateRequiredButton")->isEnabled() == required;
    }
    void card(int type, quint8 version, const QByteArray &fpga)
    {
        UiTest::deliverKipStatus(&port, type, version, 42, fpga);
    }
    // A MADI card that runs older code and FPGA than the files hold, and an update of
    // the processor code started from the page.
    void startCodeUpdate()
    {
        card(KipPort::MadiBnc, 12, "2014/05/12");
        button("codeUpdateButton")->click();
    }
};

int countOf(const QSignalSpy &spy, const QString &text)
{
    int n = 0;
    for (const QList<QVariant> &call : spy)
        n += call.at(0).toString() == text;
    return n;
}

// Fires a running timer now instead of waiting for it.
bool fire(QTimer *timer)
{
    return timer->isActive() && QMetaObject::invokeMethod(timer, "timeout");
}

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
    void initTestCase();
    void init() { QVERIFY2(install(13, "2019/01/01"), qPrintable(firmware.errorString())); }
    void pageFollowsTheCard_data();
    void pageFollowsTheCard();
    void recommendationBringsTheTabForwardOnce();
    void startingAnUpdate_data();
    void startingAnUpdate();
    void watchdog_data();
    void watchdog();
    void givingUpBetweenStagesLeavesNothingPending();
    void eraseNeverAnswered();
    void optocoreUpdatePanelFollowsTheCard();
};

void KipFormUpdateTest::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void KipFormUpdateTest::pageFollowsTheCard_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<int>("cardVersion");
    QTest::addColumn<QByteArray>("cardFpga");
    QTest::addColumn<int>("fileVersion"); // -1: no code file
    QTest::addColumn<QByteArray>("fileFpga"); // empty: no FPGA file
    QTest::addColumn<bool>("linkOpen");
    QTest::addColumn<QString>("available"); // code, FPGA
    QTest::addColumn<QString>("enabled");   // code, FPGA, required: 1 or 0
    QTest::addColumn<bool>("recommended");

    const int madi = KipPort::MadiBnc;
    QTest::newRow("both files newer") << madi << 12 << QByteArray("2014/05/12") << 13 << QByteArray("2019/01/01")
                                      << true << "13 2019/01/01" << "111" << true;
    QTest::newRow("only the FPGA newer") << madi << 13 << QByteArray("2014/05/12") << 13
                                         << QByteArray("2019/01/01") << true << "13 2019/01/01" << "111" << true;
    QTest::newRow("card runs the files") << madi << 13 << QByteArray("2019/01/01") << 13 << QByteArray("2019/01/01")
                                         << true << "13 2019/01/01" << "110" << false;
    QTest::newRow("card newer than the files") << madi << 14 << QByteArray("2020/02/02") << 13
                                               << QByteArray("2019/01/01") << true << "13 2019/01/01" << "110" << false;
    QTest::newRow("no files") << madi << 12 << QByteArray("2014/05/12") << -1 << QByteArray() << true << " "
                              << "000" << false;
    QTest::newRow("code file without a version") << madi << 12 << QByteArray("2014/05/12") << 0 << QByteArray()
                                                 << true << " " << "000" << false;
    QTest::newRow("link closed") << madi << 12 << QByteArray("2014/05/12") << 13 << QByteArray("2019/01/01") << false
                                 << "13 2019/01/01" << "000" << true;
    // A card that does not answer with a firmware version counts as no card.
    QTest::newRow("card without a version") << madi << 0 << QByteArray("2014/05/12") << 13
                                            << QByteArray("2019/01/01") << true << " " << "000" << false;
    // Other card types look for other files: these are not theirs.
    QTest::newRow("AES card") << int(KipPort::Aes) << 12 << QByteArray("2014/05/12") << 13
                              << QByteArray("2019/01/01") << true << " " << "000" << false;
}

void KipFormUpdateTest::pageFollowsTheCard()
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
    QVERIFY(slot.buttonsEnabled(enabled[0] == '1', enabled[1] == '1', enabled[2] == '1'));
    QCOMPARE(!slot.find<QLabel>("updateRecommendedLabel")->isHidden(), recommended);
    QCOMPARE(slot.updateTabText(), recommended ? QStringLiteral("Update Code *") : QStringLiteral("Update Code"));
    QCOMPARE(slot.tabs()->currentWidget()->objectName(),
             recommended ? QStringLiteral("updateTab") : QStringLiteral("controlTab"));
    if (cardVersion != 0) {
        const auto type = KipPort::KipCardType(cardType);
        QCOMPARE(slot.text("updateMessageLabel"),
                 QStringLiteral("To update this card please ensure the firmware code %1 and the fpga code %2 are in "
                                "the same folder as the SablefoldController. Then use the buttons above.")
                     .arg(KipUpgrader::codeFileName(type), KipUpgrader::fpgaFileName(type)));
    }
}

void KipFormUpdateTest::recommendationBringsTheTabForwardOnce()
{
    Slot slot;
    slot.card(KipPort::MadiBnc, 12, "2014/05/12");
    QCOMPARE(slot.tabs()->currentWidget()->objectName(), QStringLiteral("updateTab"));

    // The user goes back to the controls; further reports leave the tab where it is.
    slot.tabs()->setCurrentIndex(0);
    UiTest::deliverKipStatus(&slot.port, KipPort::MadiBnc, 12, 43, "2014/05/12");
    QCOMPARE(slot.text("temperatureLabel"), QStringLiteral("43°C"));
    QCOMPARE(slot.tabs()->currentIndex(), 0);

    // Once the card runs what the files hold, the recommendation goes; a later one (the
    // card back on its old code) brings the tab forward again.
    slot.card(KipPort::MadiBnc, 13, "2019/01/01");
    QCOMPARE(slot.updateTabText(), QStringLiteral("Update Code"));
    QVERIFY(slot.find<QLabel>("updateRecommendedLabel")->isHidden());
    QCOMPARE(slot.tabs()->currentIndex(), 0);
    slot.card(KipPort::MadiBnc, 12, "2019/01/01");
    QCOMPARE(slot.tabs()->currentWidget()->objectName(), QStringLiteral("updateTab"));
    QCOMPARE(slot.updateTabText(), QStringLiteral("Update Code *"));
}

void KipFormUpdateTest::startingAnUpdate_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("started"); // "code", "fpga" or "" (none through the upgrader)
    QTest::addColumn<QString>("waitText");
    QTest::newRow("code") << "codeUpdateButton" << "code" << "please wait - updating code";
    QTest::newRow("FPGA") << "fpgaUpdateButton" << "fpga" << "please wait - updating FPGA";
    // The card runs older code: the combined run starts with the code.
    QTest::newRow("all if required") << "updateRequiredButton" << "code" << "please wait - updating as required";
}

void KipFormUpdateTest::startingAnUpdate()
{
    QFETCH(QString, button);
    QFETCH(QString, started);
    QFETCH(QString, waitText);

    Slot slot;
    slot.card(KipPort::MadiBnc, 12, "2014/05/12");
    KipUpgrader *upgrader = slot.form.cardUpgrader();
    QSignalSpy code(upgrader, &KipUpgrader::startARMUpdate);
    QSignalSpy fpga(upgrader, &KipUpgrader::startFPGAUpdate);
    slot.bar()->setValue(64);

    slot.button(qPrintable(button))->click();
    QCOMPARE(code.count(), started == "code" ? 1 : 0);
    QCOMPARE(fpga.count(), started == "fpga" ? 1 : 0);
    const QSignalSpy &start = started == "code" ? code : fpga;
    QCOMPARE(start.at(0).at(0).toString(),
             BuiltInFirmware::path(started == "code" ? CodeFile : FpgaFile));
    QVERIFY(slot.form.isShowingUpdate());
    QCOMPARE(slot.bar()->value(), 0);
    QCOMPARE(slot.text("updatingLabel"), waitText);
    QVERIFY(slot.buttonsEnabled(false, false, false));

    // A status report while the update runs does not give the buttons back.
    UiTest::deliverKipStatus(&slot.port, KipPort::MadiBnc, 12, 44, "2014/05/12");
    QVERIFY(slot.buttonsEnabled(false, false, false));
    emit upgrader->updateProgress(30);
    QCOMPARE(slot.bar()->value(), 30);

    emit upgrader->updateFinished(true);
    QVERIFY(!slot.form.isShowingUpdate());
    QVERIFY(slot.text("updatingLabel").isEmpty());
    QVERIFY(slot.buttonsEnabled(true, true, true));
    QVERIFY(!slot.form.updateWatchdog()->isActive());
}

void KipFormUpdateTest::watchdog_data()
{
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<int>("ticksToFailure");

    const int rest = KipForm::UpdateRestLimitMs / KipForm::UpdateWatchdogMs;
    QTest::newRow("stalled at 37") << QList<int>{10, 37} << 1;
    QTest::newRow("stalled at 0 after progress") << QList<int>{0} << 1;
    QTest::newRow("stalled at 49") << QList<int>{49} << 1;
    QTest::newRow("stalled at 99") << QList<int>{99} << 1;
    QTest::newRow("resting at 50 between stages") << QList<int>{25, 50} << rest;
    QTest::newRow("resting at 100") << QList<int>{60, 100} << rest;
    // The card enters its boot loader or erases its flash before the first progress.
    QTest::newRow("no progress since the start") << QList<int>{} << rest;
}

void KipFormUpdateTest::watchdog()
{
    QFETCH(QList<int>, progress);
    QFETCH(int, ticksToFailure);

    Slot slot;
    slot.startCodeUpdate();
    QTimer *timer = slot.form.updateWatchdog();
    QCOMPARE(timer->interval(), 5000);
    QVERIFY(!timer->isSingleShot());
    QVERIFY(timer->isActive());
    for (int percent : progress)
        emit slot.form.cardUpgrader()->updateProgress(percent);

    QSignalSpy status(&slot.port, &KipPort::statusMessage);
    for (int tick = 1; tick < ticksToFailure; ++tick) {
        QVERIFY(fire(timer));
        QVERIFY2(slot.form.isShowingUpdate(), qPrintable(QStringLiteral("given up at tick %1").arg(tick)));
    }
    QCOMPARE(countOf(status, "update failed"), 0);
    if (ticksToFailure > 1) {
        // Progress, even to the same value, starts the wait again.
        emit slot.form.cardUpgrader()->updateProgress(progress.isEmpty() ? 0 : progress.last());
        if (!progress.isEmpty()) {
            for (int tick = 1; tick < ticksToFailure; ++tick)
                QVERIFY(fire(timer));
            QVERIFY(slot.form.isShowingUpdate());
        } else {
            // The first progress ends the grace: 0 is no resting point.
            ticksToFailure = 1;
        }
    }

    if (ticksToFailure > 1)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^KIP 1 update: no progress for 60 s at (50|100) %, given up$"));
    QVERIFY(fire(timer));
    QVERIFY(!slot.form.isShowingUpdate());
    QCOMPARE(countOf(status, "update failed"), 1);
    QVERIFY(slot.text("updatingLabel").isEmpty());
    QVERIFY(slot.buttonsEnabled(true, true, true));
    QVERIFY(!timer->isActive());
}

void KipFormUpdateTest::givingUpBetweenStagesLeavesNothingPending()
{
    Slot slot;
    slot.card(KipPort::MadiBnc, 12, "2014/05/12");
    slot.button("updateRequiredButton")->click();
    QPointer<KipUpgrader> first = slot.form.cardUpgrader();
    QCoreApplication::processEvents(); // the port takes the code stage

    // The code stage ends well; the card restarts and is never heard of again.
    emit slot.port.updateProgress(100);
    emit slot.port.updateFinished(true);
    QCOMPARE(slot.bar()->value(), 50);
    QVERIFY(first->stageDelayTimer()->isActive());
    QTest::ignoreMessage(QtWarningMsg, "KIP 1 update: no progress for 60 s at 50 %, given up");
    for (int tick = 0; tick < KipForm::UpdateRestLimitMs / KipForm::UpdateWatchdogMs; ++tick)
        QVERIFY(fire(slot.form.updateWatchdog()));
    QVERIFY(!slot.form.isShowingUpdate());

    // Nothing of that run may start the FPGA stage when the card comes back.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    KipUpgrader *now = slot.form.cardUpgrader();
    QVERIFY(!now->isUpdating());
    QVERIFY(!now->stageDelayTimer()->isActive());
    QVERIFY(!now->fpgaDelayTimer()->isActive());
    QCOMPARE(now->codeVersion(), 13); // and it knows the files for the next run
    QVERIFY(slot.buttonsEnabled(true, true, true));
}

void KipFormUpdateTest::eraseNeverAnswered()
{
    Slot slot;
    slot.card(KipPort::MadiBnc, 12, "2014/05/12");
    slot.port.keepAliveTimer()->start(1000);
    slot.port.watchdogTimer()->start(3000);

    // The erase request goes out; the card never answers it, so no progress ever comes
    // and the port polls nothing while it waits.
    slot.button("fpgaUpdateButton")->click();
    QVERIFY(slot.port.fpgaDownloader());
    QVERIFY(!slot.port.keepAliveTimer()->isActive());
    QVERIFY(!slot.port.watchdogTimer()->isActive());

    QSignalSpy finished(slot.form.cardUpgrader(), &KipUpgrader::updateFinished);
    QTest::ignoreMessage(QtWarningMsg, "KIP 1 update: no progress for 60 s at 0 %, given up");
    for (int tick = 0; tick < KipForm::UpdateRestLimitMs / KipForm::UpdateWatchdogMs; ++tick)
        QVERIFY(fire(slot.form.updateWatchdog()));

    // Given up: the download is dropped and the port listens at its normal rhythm.
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!slot.port.fpgaDownloader());
    QVERIFY(slot.port.keepAliveTimer()->isActive());
    QCOMPARE(slot.port.keepAliveTimer()->interval(), 1000);
    QVERIFY(slot.port.watchdogTimer()->isActive());
    QCOMPARE(slot.port.watchdogTimer()->interval(), 3000);
    QVERIFY(!slot.form.isShowingUpdate());
}

void KipFormUpdateTest::optocoreUpdatePanelFollowsTheCard()
{
    Slot slot;
    slot.card(KipPort::Optocore, 12, "2014/05/12");
    QPointer<OptocoreUpdatePanel> panel = slot.form.updatePanel();
    QVERIFY(panel);
    QCOMPARE(panel->parentWidget(), slot.find<QWidget>("updateTab"));
    QCOMPARE(panel->pos(), QPoint(0, 340));
    QCOMPARE(slot.bar()->pos(), QPoint(8, 312));

    // The module's update runs through the panel; the page shows it.
    emit panel->updating(true);
    QCOMPARE(slot.text("updatingLabel"), QStringLiteral("please wait - updating Optocore"));
    QVERIFY(slot.buttonsEnabled(false, false, false));
    emit panel->updateProgress(20);
    QCOMPARE(slot.bar()->value(), 20);
    emit panel->updating(false);
    QVERIFY(!slot.form.isShowingUpdate());

    // The watchdog ends a stalled module update in the panel too.
    QSignalSpy panelUpdating(panel.data(), &OptocoreUpdatePanel::updating);
    QSignalSpy status(&slot.port, &KipPort::statusMessage);
    emit panel->updating(true);
    emit panel->updateProgress(20);
    QVERIFY(fire(slot.form.updateWatchdog()));
    QVERIFY(panelUpdating.contains(QVariantList{false}));
    QCOMPARE(countOf(status, "update failed"), 1);
    QVERIFY(!slot.form.isShowingUpdate());

    // The card goes away in the middle of a module update: the update ends, failed,
    // with the panel.
    emit panel->updating(true);
    emit panel->updateProgress(30);
    slot.card(KipPort::Optocore, 0, "2014/05/12");
    QVERIFY(panel.isNull());
    QVERIFY(!slot.form.updatePanel());
    QCOMPARE(countOf(status, "update failed"), 2);
    QVERIFY(!slot.form.isShowingUpdate());
    QCOMPARE(slot.bar()->pos(), QPoint(8, 352));

    // Another card type never gets the panel.
    slot.card(KipPort::MadiBnc, 12, "2014/05/12");
    QVERIFY(!slot.form.updatePanel());
    QCOMPARE(slot.bar()->pos(), QPoint(8, 352));
}

QTEST_MAIN(KipFormUpdateTest)
#include "tst_kipform_update.moc"
