// One slot without any widget: a slot controller over an in-process transport, with the
// simulated card behind it in this process, every timer fired by hand.
#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "link/bootloaderupdater.h"
#include "link/codeupdatejob.h"
#include "link/faketransport.h"
#include "link/kipconnection.h"
#include "link/fpgaupdatejob.h"
#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "slot/slotcontroller.h"
#include "update/kipupgrader.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QtTest>

using EMS::FakeTransport;
using EMS::KipPort;
using EMS::KipUpgrader;
using EMS::SlotController;
using EMS::UpdateJob;
using EMS::UpdateResult;
using Outcome = EMS::UpdateResult::Outcome;

namespace {

const QString CodeFile = KipUpgrader::codeFileName(KipPort::MadiBnc);
const QString FpgaFile = KipUpgrader::fpgaFileName(KipPort::MadiBnc);

// Fires a running timer now, after checking that it is precise and of this interval.
bool fire(QTimer *timer, int interval)
{
    if (!timer || !timer->isActive() || timer->interval() != interval || timer->timerType() != Qt::PreciseTimer)
        return false;
    if (timer->isSingleShot())
        timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

// A box with one slot: an FTDI adapter in the machine's port list, a MADI card behind
// it. The card hears what the port writes, and the port what the card answers, once
// the event loop passes them on.
struct Box
{
    UiTest::FakeAdapters adapters;
    FakeTransport *line = new FakeTransport;
    KipPort port{nullptr, 0, nullptr, line};
    CardSimulator card{nullptr, CardSimulator::StartApplication, CardSimulator::InProcessLink};
    SlotController slot{&port, nullptr, adapters.lister()};
    QSignalSpy finished{&port, &KipPort::updateFinished}, status{&port, &KipPort::statusMessage};
    qint64 traffic = 0; // bytes either way so far

    Box()
    {
        adapters.entries = {UiTest::ftdiAdapter(QStringLiteral("ttyUSB0"))};
        card.firmware().resetState(KipPort::MadiBnc);
        QObject::connect(line, &FakeTransport::bytesWritten, &card, &CardSimulator::receiveFromHost,
                         Qt::QueuedConnection);
        QObject::connect(&card, &CardSimulator::bytesToHost, line, &FakeTransport::receive, Qt::QueuedConnection);
        const auto count = [this](const QByteArray &bytes) { traffic += bytes.size(); };
        QObject::connect(line, &FakeTransport::bytesWritten, &card, count);
        QObject::connect(&card, &CardSimulator::bytesToHost, &card, count);
    }
    // Lets every byte on its way arrive, and every answer to it: until a few rounds of
    // the event loop pass with nothing sent either way.
    void settle()
    {
        int quietRounds = 0;
        for (int round = 0; round < 20000 && quietRounds < 3; ++round) {
            const qint64 before = traffic;
            QCoreApplication::processEvents();
            quietRounds = traffic == before ? quietRounds + 1 : 0;
        }
    }
    bool poll()
    {
        const bool fired = fire(port.keepAliveTimer(), KipPort::KeepAliveIntervalMs);
        settle();
        return fired;
    }
    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QVariantList &call : status)
            texts << call.at(0).toString();
        return texts;
    }
};

} // namespace

class SlotControllerTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        QVERIFY(firmware.install({{CodeFile, UpdateTest::codeImage(13, 700)},
                                  {FpgaFile, UpdateTest::fpgaImage("2030/01/01", 900)}}));
    }

    // Every wait the card or the user counts on runs on a precise timer: Qt lets a
    // coarse one fire up to 5 % early, and the card notices.
    void timersArePrecise_data()
    {
        QTest::addColumn<QString>("timer");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("singleShot");
        QTest::newRow("status poll") << "keepAlive" << 1000 << false;
        QTest::newRow("card watchdog") << "watchdog" << 3000 << false;
        QTest::newRow("boot loader hand-back") << "handBack" << 100 << true;
        QTest::newRow("reopen") << "reopen" << 2500 << true;
        QTest::newRow("update watchdog") << "updateWatchdog" << 5000 << false;
        QTest::newRow("rescan without adapter") << "portScan" << 500 << true;
        QTest::newRow("serial error recovery") << "recovery" << 1000 << true;
        QTest::newRow("pause after the code stage") << "stageDelay" << 2000 << true;
        QTest::newRow("pause before the FPGA stage") << "fpgaDelay" << 2000 << true;
    }
    void timersArePrecise()
    {
        QFETCH(QString, timer);
        QFETCH(int, interval);
        QFETCH(bool, singleShot);
        Box box;
        box.adapters.entries.clear();
        box.slot.scanPorts(); // no adapter: a rescan is scheduled
        const QMap<QString, QTimer *> timers{
            {"keepAlive", box.port.keepAliveTimer()}, {"watchdog", box.port.watchdogTimer()},
            {"handBack", box.port.handBackTimer()}, {"reopen", box.port.connection()->reopenTimer()},
            {"updateWatchdog", box.slot.updateWatchdog()}, {"portScan", box.slot.portScanTimer()},
            {"recovery", box.slot.serialRecoveryTimer()}, {"stageDelay", box.slot.upgrader()->stageDelayTimer()},
            {"fpgaDelay", box.slot.upgrader()->fpgaDelayTimer()}};
        QTimer *checked = timers.value(timer);
        QVERIFY(checked);
        QCOMPARE(checked->interval(), interval);
        QCOMPARE(checked->timerType(), Qt::PreciseTimer);
        QCOMPARE(checked->isSingleShot(), singleShot);
    }

    // Connect, probe, card found, lock lost and back, a code update and an FPGA update
    // with one result each, a cancelled update, the card removed: all without a widget.
    void lifeOfASlot()
    {
        Box box;
        QSignalSpy types(&box.slot, &SlotController::cardTypeChanged);
        QSignalSpy locks(&box.slot, &SlotController::lockStateChanged);

        // Connect: the slot takes the adapter at its position and probes the card.
        box.slot.scanPorts();
        QCOMPARE(box.line->openedPorts(), QStringList{"ttyUSB0"});
        QCOMPARE(box.slot.selectedPort(), 1);
        box.settle();
        // The card runs its application: it answers AutoBaud with 0xAA, and the probe
        // ends, once, without an update job hearing of it.
        QCOMPARE(box.finished.count(), 1);
        QVERIFY(!box.port.updateJob());
        QVERIFY(fire(box.port.handBackTimer(), KipPort::HandBackDelayMs));

        // Found: the first status poll brings the card's type, versions and clock.
        QVERIFY(box.poll());
        QCOMPARE(box.slot.cardType(), KipPort::MadiBnc);
        QCOMPARE(box.slot.linkState(), KipPort::LinkConnected);
        QCOMPARE(types.count(), 1);
        QVERIFY(box.statusTexts().contains("BNC MADI ready"));
        QVERIFY(box.slot.firmwareVersion() > 0 && box.slot.firmwareVersion() < 13);
        QVERIFY(box.slot.upgrader()->updateRecommended());

        // Lock lost and back on MADI A, as the card reports it.
        box.card.firmware().setReceiveLocked(0, true);
        box.settle();
        box.card.firmware().setReceiveLocked(0, false);
        box.settle();
        QCOMPARE(box.slot.lockState(0), EMS::SyncUnlocked);
        box.card.firmware().setReceiveLocked(0, true);
        box.settle();
        QCOMPARE(box.slot.lockState(0), EMS::SyncLocked);
        QCOMPARE(locks.last(), (QVariantList{0, QVariant::fromValue(EMS::SyncLocked)}));

        // A code update: the card goes into its boot loader, takes the file, restarts
        // and answers the probe after its reset; the update ends once, successfully.
        QSignalSpy upgraded(box.slot.upgrader(), &KipUpgrader::updateFinished);
        box.finished.clear();
        box.slot.updateCode();
        QVERIFY(box.slot.isUpdating());
        box.settle();
        auto *codeJob = qobject_cast<EMS::CodeUpdateJob *>(box.port.updateJob());
        QVERIFY(codeJob);
        QSignalSpy codeResult(codeJob, &UpdateJob::finished);
        QVERIFY(fire(codeJob->bootLoaderStartTimer(), KipPort::HandBackDelayMs));
        box.settle();
        QVERIFY(fire(box.port.bootLoaderUpdater()->autoBaudTimer(), Common::Updater::AutoBaudDelayMs));
        box.settle();
        QCOMPARE(codeResult.count(), 1);
        QCOMPARE(codeResult.at(0).at(0).value<UpdateResult>().outcome, Outcome::Succeeded);
        QCOMPARE(box.finished, QList<QVariantList>{{true}});
        QCOMPARE(upgraded, QList<QVariantList>{{true}});
        QVERIFY(!box.slot.isUpdating());
        QVERIFY(box.statusTexts().contains("Code update successful"));
        // The card restarts with its new code: it is found again at the next poll.
        QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
        QVERIFY(fire(box.port.handBackTimer(), KipPort::HandBackDelayMs));
        QVERIFY(box.poll());
        QCOMPARE(box.slot.firmwareVersion(), 13);

        // An FPGA update: erase, packets, the card's check, then the 5 s while it loads
        // the image; one result.
        upgraded.clear();
        box.finished.clear();
        box.slot.updateFpga();
        box.settle();
        auto *fpgaJob = qobject_cast<EMS::FpgaUpdateJob *>(box.port.updateJob());
        QVERIFY(fpgaJob);
        QSignalSpy fpgaResult(fpgaJob, &UpdateJob::finished);
        QVERIFY(fire(fpgaJob->restartPauseTimer(), 5000));
        box.settle();
        QCOMPARE(fpgaResult.count(), 1);
        QCOMPARE(box.finished, QList<QVariantList>{{true}});
        QCOMPARE(upgraded, QList<QVariantList>{{true}});
        QVERIFY(box.statusTexts().contains("FPGA update successful"));
        QVERIFY(box.poll());
        QCOMPARE(box.slot.fpgaVersion(), QString("2030/01/01"));

        // Cancelled while the card erases its flash: the job ends cancelled, the slot's
        // update ends once as not successful, and no second result follows.
        upgraded.clear();
        box.card.setSilent(true); // the erase is never answered
        box.slot.updateFpga();
        box.settle();
        QPointer<UpdateJob> cancelled = box.port.updateJob();
        QVERIFY(cancelled);
        QSignalSpy cancelResult(cancelled, &UpdateJob::finished);
        box.slot.cancelUpdate();
        box.slot.cancelUpdate();
        box.settle();
        QCOMPARE(cancelResult.count(), 1);
        QCOMPARE(cancelResult.at(0).at(0).value<UpdateResult>().outcome, Outcome::Cancelled);
        QCOMPARE(upgraded, QList<QVariantList>{{false}});
        QVERIFY(!box.slot.isUpdating());

        // Removed: a card that stays silent through the watchdog is gone from the slot.
        types.clear();
        QTest::ignoreMessage(QtWarningMsg, "KIPPort: KIP 1 connection timed out");
        box.port.watchdogTimer()->start(KipPort::WatchdogIntervalMs);
        QVERIFY(fire(box.port.watchdogTimer(), KipPort::WatchdogIntervalMs));
        box.settle();
        QCOMPARE(box.slot.cardType(), KipPort::NoCard);
        QCOMPARE(types, (QList<QVariantList>{{0, QVariant::fromValue(KipPort::NoCard), QString()}}));
        QCOMPARE(box.slot.lockState(0), EMS::SyncUnknown);
        QVERIFY(box.statusTexts().contains("Card removed from KIP 1"));
    }
};

QTEST_GUILESS_MAIN(SlotControllerTest)
#include "tst_slotcontroller.moc"
