// The card port's code and FPGA updates as jobs: an unopened port, the card's answers fed
// in directly, timers fired by hand.
#include "support/uitestsupport.h"

#include "link/bootloaderupdater.h"
#include "link/codeupdatejob.h"
#include "link/fpgaupdatejob.h"
#include "link/kipport.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using EMS::CodeUpdateJob;
using EMS::FpgaUpdateJob;
using EMS::KipPort;
using EMS::UpdateJob;
using EMS::UpdateResult;
using Outcome = EMS::UpdateResult::Outcome;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QString timers(const KipPort &port)
{
    const auto one = [](const QTimer *t) { return t->isActive() ? QString::number(t->interval()) : QStringLiteral("-"); };
    return one(port.keepAliveTimer()) + ' ' + one(port.watchdogTimer());
}

// Fires a running single-shot timer of this interval, checking that it is precise: the
// card's restarts are timed closer than a coarse timer keeps.
bool fire(QTimer *timer, int interval)
{
    if (!timer || !timer->isActive() || timer->interval() != interval || timer->timerType() != Qt::PreciseTimer)
        return false;
    timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

QList<Outcome> outcomes(const QSignalSpy &spy)
{
    QList<Outcome> list;
    for (const QVariantList &call : spy)
        list << call.at(0).value<UpdateResult>().outcome;
    return list;
}

// An unopened port polling at its normal rhythm, a firmware file and the port's signals.
struct Slot
{
    QTemporaryDir dir;
    KipPort port{nullptr, 0};
    QSignalSpy portFinished{&port, &KipPort::updateFinished}, status{&port, &KipPort::statusMessage};
    QSignalSpy jobsStarted{&port, &KipPort::updateJobStarted};

    Slot()
    {
        port.keepAliveTimer()->start();
        port.watchdogTimer()->start();
    }
    QString file(const char *name, int size)
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, 'f')) == size ? f.fileName() : QString();
    }
    template <typename Job>
    Job *lastJob()
    {
        return jobsStarted.isEmpty() ? nullptr : qobject_cast<Job *>(jobsStarted.last().at(0).value<UpdateJob *>());
    }
    int said(const char *text) const { return status.count(QVariantList{QString::fromLatin1(text)}); }
};

} // namespace

class UpdateJobsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }

    // The boot loader's answer after the reset ends the job; the card probed twice after
    // its reset answers twice, and the watchdog may give up after that: one result, one
    // report from the port, one hand-back.
    void codeJobEndsOnce_data()
    {
        QTest::addColumn<QString>("end"); // "success", "failure", "cancel"
        QTest::newRow("success") << "success";
        QTest::newRow("card answers as its application") << "failure";
        QTest::newRow("cancelled") << "cancel";
    }
    void codeJobEndsOnce()
    {
        QFETCH(QString, end);
        Slot slot;
        slot.port.updateCode(slot.file("code.bin", 300));
        auto *job = slot.lastJob<CodeUpdateJob>();
        QVERIFY(job && slot.port.updateJob() == job);
        QCOMPARE(job->state(), UpdateJob::State::Running);
        QCOMPARE(job->fileName(), slot.dir.filePath("code.bin"));
        QCOMPARE(timers(slot.port), QStringLiteral("- -"));
        QCOMPARE(slot.port.linkState(), KipPort::LinkBootLoader);
        QSignalSpy finished(job, &UpdateJob::finished);
        QVERIFY(fire(job->bootLoaderStartTimer(), 100));

        if (end == "success")
            slot.port.finishCodeUpdate(true);
        else if (end == "failure")
            slot.port.receiveBootLoaderData(hex("aa"));
        else
            job->cancel();
        slot.port.receiveBootLoaderData(hex("aa")); // the second answer of the restarted card
        slot.port.finishCodeUpdate(false);          // the slot's watchdog, too late
        job->cancel();

        const Outcome expected = end == "success" ? Outcome::Succeeded
                                 : end == "failure" ? Outcome::Failed : Outcome::Cancelled;
        QCOMPARE(outcomes(finished), QList<Outcome>{expected});
        QCOMPARE(job->result().outcome, expected);
        QCOMPARE(slot.portFinished, QList<QVariantList>{{end == "success"}});
        QCOMPARE(slot.said("Code update successful"), end == "success" ? 1 : 0);
        QVERIFY(!slot.port.updateJob());
        QVERIFY(fire(slot.port.handBackTimer(), 100));
        QVERIFY(!slot.port.bootLoaderUpdater());
        QCOMPARE(timers(slot.port), QStringLiteral("1000 3000"));
        QCOMPARE(slot.port.linkState(), KipPort::LinkProbing);
    }

    // The connection probe shares the boot-loader updater but is no job: a card running its
    // application ends it as before (one "false", a hand-back), and the FPGA download that
    // runs meanwhile neither ends nor hears of it. A code job ended earlier stays as it ended.
    void probeNeverReachesAJob()
    {
        Slot slot;
        slot.port.updateCode(slot.file("code.bin", 300));
        auto *codeJob = slot.lastJob<CodeUpdateJob>();
        slot.port.finishCodeUpdate(true);
        QVERIFY(fire(slot.port.handBackTimer(), 100));
        slot.port.updateFpga(slot.file("fpga.bit", 100));
        auto *fpgaJob = slot.lastJob<FpgaUpdateJob>();
        QVERIFY(fpgaJob && fpgaJob->downloader());
        QSignalSpy codeFinished(codeJob, &UpdateJob::finished), fpgaFinished(fpgaJob, &UpdateJob::finished);
        slot.portFinished.clear();

        slot.port.connectSerialPort(); // the adapter came back: probe
        QVERIFY(slot.port.bootLoaderUpdater());
        slot.port.receiveBootLoaderData(hex("aaaa"));
        QCOMPARE(slot.portFinished, QList<QVariantList>{{false}});
        QCOMPARE(slot.jobsStarted.count(), 2);
        QVERIFY(codeFinished.isEmpty() && fpgaFinished.isEmpty());
        QCOMPARE(fpgaJob->state(), UpdateJob::State::Running);
        QCOMPARE(codeJob->result().outcome, Outcome::Succeeded);
        QCOMPARE(slot.port.updateJob(), fpgaJob);
        QVERIFY(fire(slot.port.handBackTimer(), 100));
        QVERIFY(!slot.port.bootLoaderUpdater() && fpgaJob->downloader());
        slot.port.disconnectSerialPort();
    }

    // A one-packet image: erase, packet, end, then five seconds for the card to load it.
    void fpgaJob_data()
    {
        QTest::addColumn<QString>("end"); // where the download ends
        QTest::addColumn<int>("outcome");
        QTest::newRow("loaded") << "" << int(Outcome::Succeeded);
        QTest::newRow("packet refused") << "packet" << int(Outcome::Failed);
        QTest::newRow("watchdog gives up") << "watchdog" << int(Outcome::Failed);
        QTest::newRow("cancelled during the download") << "cancel" << int(Outcome::Cancelled);
        QTest::newRow("cancelled while the card restarts") << "restart" << int(Outcome::Cancelled);
    }
    void fpgaJob()
    {
        QFETCH(QString, end);
        QFETCH(int, outcome);
        Slot slot;
        slot.port.updateFpga(slot.file("fpga.bit", 100));
        auto *job = slot.lastJob<FpgaUpdateJob>();
        QVERIFY(job && job->downloader());
        QSignalSpy finished(job, &UpdateJob::finished), states(job, &UpdateJob::stateChanged);
        QSignalSpy progress(job, &UpdateJob::progressChanged);
        UiTest::deliver(&slot.port, 39, 0, hex("00")); // erased
        QCOMPARE(timers(slot.port), QStringLiteral("3000 9000"));
        if (end == "packet")
            UiTest::deliver(&slot.port, 39, 1, hex("04"));
        else if (end == "watchdog")
            slot.port.finishFpgaUpdate(false);
        else if (end == "cancel")
            job->cancel();
        if (finished.isEmpty()) {
            UiTest::deliver(&slot.port, 39, 1, hex("000000"));
            UiTest::deliver(&slot.port, 39, 2, hex("00"));
            QCOMPARE(job->state(), UpdateJob::State::Restarting);
            QCOMPARE(slot.said("FPGA update successful"), 1);
            QVERIFY(!job->downloader() && finished.isEmpty() && slot.portFinished.isEmpty());
            QCOMPARE(timers(slot.port), QStringLiteral("- -"));
            QCOMPARE(progress.last().at(0).toInt(), 100);
            if (end == "restart")
                job->cancel();
            else
                QVERIFY(fire(job->restartPauseTimer(), 5000));
        }
        slot.port.finishFpgaUpdate(false); // the slot's watchdog, after the end
        QMetaObject::invokeMethod(&slot.port, "restartAfterFpgaUpdate");
        job->cancel();

        QCOMPARE(outcomes(finished), QList<Outcome>{Outcome(outcome)});
        QCOMPARE(slot.portFinished, QList<QVariantList>{{outcome == int(Outcome::Succeeded)}});
        QCOMPARE(states.last().at(0).value<UpdateJob::State>(), job->state());
        if (outcome == int(Outcome::Failed))
            QVERIFY(!job->result().text.isEmpty());
        QCOMPARE(timers(slot.port), QStringLiteral("1000 3000"));
        QVERIFY(!slot.port.fpgaDownloader() && !slot.port.updateJob());
    }

    // A second FPGA update while the first card restarts replaces that job: the old pause
    // can no longer report a success in the middle of the new download.
    void newFpgaJobSupersedesTheRestartingOne()
    {
        Slot slot;
        slot.port.updateFpga(slot.file("fpga.bit", 100));
        QPointer<FpgaUpdateJob> first = slot.lastJob<FpgaUpdateJob>();
        QSignalSpy finished(first.data(), &UpdateJob::finished);
        slot.port.finishFpgaUpdate(true);
        QVERIFY(first->restartPauseTimer()->isActive());
        slot.port.updateFpga(slot.file("fpga.bit", 100));
        QCOMPARE(slot.jobsStarted.count(), 2);
        QCOMPARE(outcomes(finished), QList<Outcome>{Outcome::Cancelled});
        QVERIFY(!first->restartPauseTimer()->isActive());
        QVERIFY(slot.portFinished.isEmpty());
        QCOMPARE(timers(slot.port), QStringLiteral("- -"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull()); // the port deletes the jobs it replaces
    }
};

QTEST_GUILESS_MAIN(UpdateJobsTest)
#include "tst_updatejobs.moc"
