#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "link/fpgaupdatejob.h"
#include "link/kipport.h"
#include "update/kipupgrader.h"
#include "update/updatealljob.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

using EMS::KipPort;
using EMS::KipUpgrader;

namespace {

const QString codeName = QStringLiteral("quorix_kip_hydra.bin"); // no other test puts these in the program's folder
const QString fpgaName = QStringLiteral("quorix_kip_hydra_fpga.bit");

QString appFile(const QString &name)
{
    return QFileInfo(QCoreApplication::applicationDirPath() + '/' + name).absoluteFilePath();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

bool fire(QTimer *timer, int expectedInterval)
{
    if (!timer->isActive() || timer->interval() != expectedInterval)
        return false;
    timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

// An unopened card port fed the card's reports directly, and its upgrader.
struct Slot
{
    void cardReports(int type, int code, const QByteArray &fpga)
    {
        UiTest::deliverKipStatus(&port, type, quint8(code), 40, fpga);
    }
    KipPort port{nullptr, 0};
    KipUpgrader upgrader{&port, nullptr};
    QSignalSpy arm{&upgrader, &KipUpgrader::startARMUpdate}, fpga{&upgrader, &KipUpgrader::startFPGAUpdate};
    QSignalSpy progress{&upgrader, &KipUpgrader::updateProgress}, finished{&upgrader, &KipUpgrader::updateFinished};
    QSignalSpy started{&upgrader, &KipUpgrader::updateStarted};
};

} // namespace

class TestKipUpgrader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }
    void cleanup() { for (const QString &name : {codeName, fpgaName}) QFile::remove(appFile(name)); }

    void versionMarks()
    {
        QCOMPARE(KipUpgrader::codeVersionOf("abc version \x0c rest"), 12);
        QCOMPARE(KipUpgrader::codeVersionOf("version:\xfe"), 254);
        QCOMPARE(KipUpgrader::codeVersionOf("version 5 version 9"), int('5'));
        QCOMPARE(KipUpgrader::codeVersionOf("14/06/15abcdef"), 0);
        QCOMPARE(KipUpgrader::fpgaVersionOf(QByteArray("xx2015/3\0\0\0\0", 12)), QString("2015/3"));
        QCOMPARE(KipUpgrader::fpgaVersionOf("14/06/15abcdef"), QString("14/06/15"));
    }

    void lookupOrder()
    {
        UpdateTest::BuiltInFirmware firmware;
        QVERIFY(firmware.install({{codeName, UpdateTest::codeImage(7, 60)}}));
        writeFile(appFile(codeName), UpdateTest::codeImage(21, 60));
        for (const QString &expected : {appFile(codeName), UpdateTest::BuiltInFirmware::path(codeName), QString()}) {
            Slot slot;
            slot.cardReports(KipPort::Hydra, 3, "2014/01/01");
            QCOMPARE(slot.upgrader.codeFilePath(), expected);
            QCOMPARE(slot.upgrader.codeVersion(), expected.isEmpty() ? 0 : expected.startsWith(':') ? 7 : 21);
            QVERIFY(slot.upgrader.fpgaFilePath().isEmpty() && slot.upgrader.fpgaVersion().isEmpty());
            if (!QFile::remove(appFile(codeName)))
                firmware.install({});
        }
    }

    // What a card on FPGA 2014/06/15 runs against the files decides what starts; nothing
    // started still ends the wait of whoever asked, after the call returned.
    void starts_data()
    {
        QTest::addColumn<int>("cardCode"); // the code file holds 12
        QTest::addColumn<QByteArray>("fpgaFile");
        QTest::addColumn<QString>("started"); // "code", "fpga" or ""
        QTest::addColumn<bool>("recommended");
        const QByteArray older = UpdateTest::fpgaImage("2014/06/15", 80), newer = UpdateTest::fpgaImage("2015/01/02", 80);
        QTest::newRow("newer code") << 3 << older << "code" << true;
        QTest::newRow("card version 0 never updated by itself") << 0 << older << "" << true;
        QTest::newRow("same versions") << 12 << older << "" << false;
        QTest::newRow("later FPGA date") << 12 << newer << "fpga" << true;
        QTest::newRow("both newer: code first") << 3 << newer << "code" << true;
    }
    void starts()
    {
        QFETCH(int, cardCode);
        QFETCH(QByteArray, fpgaFile);
        QFETCH(QString, started);
        QFETCH(bool, recommended);
        writeFile(appFile(codeName), UpdateTest::codeImage(12, 60));
        writeFile(appFile(fpgaName), fpgaFile);
        Slot slot;
        slot.cardReports(KipPort::Hydra, cardCode, "2014/06/15");
        QCOMPARE(slot.upgrader.updateRecommended(), recommended);
        slot.upgrader.upgradeAsRequired();
        QCOMPARE(slot.arm, started == "code" ? QList<QVariantList>{{appFile(codeName)}} : QList<QVariantList>());
        QCOMPARE(slot.fpga, started == "fpga" ? QList<QVariantList>{{appFile(fpgaName)}} : QList<QVariantList>());
        if (!started.isEmpty())
            return;
        QCOMPARE(slot.finished.count(), 0);
        QVERIFY(slot.finished.wait(1000));
        QCOMPARE(slot.finished, QList<QVariantList>{{false}});
        QCOMPARE(slot.started.count(), 0);
    }

    // Code, a pause while the card restarts, then the FPGA, on one progress scale; results not
    // the running stage's are ignored; then a manual update is a single stage.
    void twoStages_data()
    {
        QTest::addColumn<int>("failingStage"); // none: the card type is cleared by the restart
        QTest::newRow("none") << 0;
        QTest::newRow("code stage fails") << 1;
        QTest::newRow("FPGA stage fails") << 2;
    }
    void twoStages()
    {
        QFETCH(int, failingStage);
        const bool cardRestarts = failingStage == 0;
        Slot slot; // older code and FPGA than the files, both updated as required
        writeFile(appFile(codeName), UpdateTest::codeImage(12, 60));
        writeFile(appFile(fpgaName), UpdateTest::fpgaImage("2015/01/02", 80));
        slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
        emit slot.port.updateFinished(false); // the probes before the port takes the stage are not its
        slot.upgrader.upgradeAsRequired();
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(slot.arm.count(), 1);
        for (int percent : {0, 37, 100})
            emit slot.port.updateProgress(percent);
        slot.port.finishCodeUpdate(failingStage != 1); // the boot loader's answer after the card's reset
        if (failingStage != 1) {
            QCOMPARE(slot.upgrader.stage(), 1);
            emit slot.port.updateFinished(false); // the port's probe of the restarted card
            QCOMPARE(slot.finished.count(), 0);
            if (cardRestarts)
                slot.cardReports(KipPort::NoCard, 0, "");
            QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
            if (cardRestarts) {
                QVERIFY(!slot.upgrader.fpgaDelayTimer()->isActive());
                slot.cardReports(KipPort::Hydra, 12, "2014/06/15");
            }
            QCOMPARE(slot.fpga.count(), 0);
            QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
            QCOMPARE(slot.fpga, QList<QVariantList>{{appFile(fpgaName)}});
            for (int percent : {0, 51, 100})
                emit slot.port.updateProgress(percent);
            QCOMPARE(slot.progress, (QList<QVariantList>{{0}, {18}, {50}, {50}, {75}, {100}}));
            emit slot.port.updateFinished(false); // the port still holds its downloader: not the download's
            QCOMPARE(slot.finished.count(), 0);
            slot.port.finishFpgaUpdate(failingStage == 0); // the downloader goes; a success is reported later
            if (failingStage == 0) // the card loads its new image meanwhile
                QVERIFY(fire(qobject_cast<EMS::FpgaUpdateJob *>(slot.port.updateJob())->restartPauseTimer(), 5000));
        }
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished, QList<QVariantList>{{failingStage == 0}});
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive() && !slot.upgrader.fpgaDelayTimer()->isActive());

        slot.progress.clear();
        slot.upgrader.upgradeCode();
        QCoreApplication::processEvents();
        emit slot.port.updateProgress(80);
        slot.port.finishCodeUpdate(true);
        QCOMPARE(slot.progress, QList<QVariantList>{{80}});
        QCOMPARE(slot.finished, (QList<QVariantList>{{failingStage == 0}, {true}}));
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
        QCOMPARE(slot.arm.count(), 2);
        QCOMPARE(slot.fpga.count(), failingStage == 1 ? 0 : 1);
    }

    // Cancelled in any state, the run ends with one failure, the stage's job (also one the
    // port takes only after the cancel) is cancelled, and nothing of the run starts later.
    void cancel_data()
    {
        QTest::addColumn<QString>("at");
        QTest::newRow("code stage not yet taken by the port") << "handover";
        QTest::newRow("code stage") << "code";
        QTest::newRow("pause after the code") << "afterCode";
        QTest::newRow("waiting for the card") << "waiting";
        QTest::newRow("pause before the FPGA") << "beforeFpga";
        QTest::newRow("FPGA stage") << "fpga";
    }
    void cancel()
    {
        QFETCH(QString, at);
        Slot slot;
        writeFile(appFile(codeName), UpdateTest::codeImage(12, 60));
        writeFile(appFile(fpgaName), UpdateTest::fpgaImage("2015/01/02", 80));
        slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
        QSignalSpy states(&slot.upgrader, &KipUpgrader::stateChanged);
        QSignalSpy jobs(&slot.port, &KipPort::updateJobStarted);
        slot.upgrader.upgradeAsRequired();
        using State = KipUpgrader::State;
        const QList<std::pair<QString, State>> path{{"handover", State::CodeStage}, {"code", State::CodeStage},
            {"afterCode", State::AfterCodePause}, {"waiting", State::WaitingForCard},
            {"beforeFpga", State::BeforeFpgaPause}, {"fpga", State::FpgaStage}};
        for (const auto &step : path) {
            QCOMPARE(slot.upgrader.state(), step.second);
            if (step.first == at)
                break;
            if (step.first == "handover")
                QCoreApplication::processEvents();
            else if (step.first == "code")
                slot.port.finishCodeUpdate(true);
            else if (step.first == "afterCode") {
                slot.cardReports(KipPort::NoCard, 0, "");
                QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
            } else if (step.first == "waiting")
                slot.cardReports(KipPort::Hydra, 12, "2014/06/15");
            else
                QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
        }
        for (QTimer *pause : {slot.upgrader.stageDelayTimer(), slot.upgrader.fpgaDelayTimer()})
            QCOMPARE(pause->timerType(), Qt::PreciseTimer); // a coarse 2 s pause may end 100 ms early
        QPointer<EMS::UpdateJob> job = slot.upgrader.stageJob();
        QCOMPARE(bool(job), at == "code" || at == "fpga");
        slot.upgrader.cancel();
        slot.upgrader.cancel();
        QCOMPARE(slot.upgrader.state(), State::Idle);
        QCOMPARE(slot.finished, QList<QVariantList>{{false}});
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive() && !slot.upgrader.fpgaDelayTimer()->isActive());
        QCoreApplication::processEvents(); // a code stage still queued for the port starts now
        if (at == "handover") {
            QCOMPARE(jobs.count(), 1);
            job = jobs.first().at(0).value<EMS::UpdateJob *>();
        }
        if (job)
            QCOMPARE(job->state(), EMS::UpdateJob::State::Cancelled);
        slot.cardReports(KipPort::Hydra, 12, "2014/06/15");
        slot.port.finishCodeUpdate(true);
        QCOMPARE(slot.fpga.count(), at == "fpga" ? 1 : 0);
        QCOMPARE(slot.finished.count(), 1);
        QCOMPARE(states.last().at(0).value<State>(), State::Idle);
    }

    // "Update all" as a job: one result from the two stages, progress on one scale; a
    // cancel between the stages ends it Cancelled, and the upgrader's own report of the
    // cancelled run is not taken for a failure.
    void updateAllJob_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("both stages") << false;
        QTest::newRow("cancelled while the card restarts") << true;
    }
    void updateAllJob()
    {
        QFETCH(bool, cancelled);
        Slot slot;
        writeFile(appFile(codeName), UpdateTest::codeImage(12, 60));
        writeFile(appFile(fpgaName), UpdateTest::fpgaImage("2015/01/02", 80));
        slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
        EMS::UpdateAllJob job(&slot.upgrader);
        QSignalSpy finished(&job, &EMS::UpdateJob::finished), progress(&job, &EMS::UpdateJob::progressChanged);
        job.start();
        QCoreApplication::processEvents();
        emit slot.port.updateProgress(60);
        emit slot.port.updateProgress(100);
        slot.port.finishCodeUpdate(true);
        QCOMPARE(job.state(), EMS::UpdateJob::State::Restarting);
        QCOMPARE(job.stage(), KipUpgrader::State::AfterCodePause);
        if (cancelled) {
            job.cancel();
        } else {
            QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
            QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
            QCOMPARE(job.state(), EMS::UpdateJob::State::Running);
            emit slot.port.updateProgress(100);
            slot.port.finishFpgaUpdate(true);
            QVERIFY(fire(qobject_cast<EMS::FpgaUpdateJob *>(slot.port.updateJob())->restartPauseTimer(), 5000));
        }
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().at(0).value<EMS::UpdateResult>().outcome,
                 cancelled ? EMS::UpdateResult::Outcome::Cancelled : EMS::UpdateResult::Outcome::Succeeded);
        QCOMPARE(slot.finished, QList<QVariantList>{{!cancelled}});
        QCOMPARE(progress.first().at(0).toInt(), 30);
        QCOMPARE(job.progress(), cancelled ? 50 : 100);
    }
};

QTEST_GUILESS_MAIN(TestKipUpgrader)
#include "tst_kipupgrader.moc"
