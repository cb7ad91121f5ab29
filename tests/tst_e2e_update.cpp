// Firmware updates started from the slot form's update page, end to end: the page, its
// upgrader and the card port against a simulated card over a real pseudo-terminal, in
// real time. Updates that succeed leave the card running the files' versions and the
// page without its recommendation; updates that fail end once, as failures, whatever
// the card does, and the page gives its buttons back.
#include "support/builtinfirmware.h"
#include "support/faultrig.h"

#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"
#include "update/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

using EMS::KipForm;
using EMS::KipPort;
using EMS::KipUpgrader;
using EMS::OptocoreUpdatePanel;
using EMS::OptocoreUpdater;
using FaultTest::SimulatedBox;

namespace {

constexpr int ConnectTimeoutMs = 10000;
// The simulated card runs code 12 and FPGA 2014/05/12 (its defaults); the files hold
// newer ones.
const QString OldCode = QStringLiteral("12");
const QString NewCode = QStringLiteral("13");
const QString OldFpga = QStringLiteral("2014/05/12");
const QString NewFpga = QStringLiteral("2019/01/01");

const QStringList SuccessTexts{QStringLiteral("Code update successful"), QStringLiteral("FPGA update successful"),
                               QStringLiteral("Update successful. Resetting"),
                               QStringLiteral("Optocore updated successfully")};

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).toString();
    return list;
}

QList<int> values(const QSignalSpy &spy)
{
    QList<int> list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).toInt();
    return list;
}

bool nonDecreasing(const QList<int> &list)
{
    for (int i = 1; i < list.size(); ++i) {
        if (list.at(i) < list.at(i - 1))
            return false;
    }
    return true;
}

QPushButton *button(KipForm &form, const char *name)
{
    return form.findChild<QPushButton *>(QLatin1String(name));
}

QString updateTabText(KipForm &form)
{
    auto *tabs = form.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    return tabs->tabText(tabs->indexOf(form.findChild<QWidget *>(QStringLiteral("updateTab"))));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// What the page and its flows reported during one test.
struct Reports
{
    explicit Reports(SimulatedBox &box)
        : portFinished(&box.port(0), &KipPort::updateFinished)
        , status(&box.port(0), &KipPort::statusMessage)
        , finished(box.form(0).cardUpgrader(), &KipUpgrader::updateFinished)
        , progress(box.form(0).cardUpgrader(), &KipUpgrader::updateProgress)
    {
    }

    QSignalSpy portFinished;
    QSignalSpy status;
    QSignalSpy finished;
    QSignalSpy progress;

    QString log() const { return texts(status).join(QStringLiteral(" | ")); }
    int successTexts() const
    {
        int n = 0;
        for (const QString &text : SuccessTexts)
            n += texts(status).count(text);
        return n;
    }
};

} // namespace

class E2eUpdateTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;

private slots:
    void initTestCase();
    void cleanup();
    void updatesFromThePage_data();
    void updatesFromThePage();
    void optocoreModuleUpdate();
    void failuresEndAsFailures_data();
    void failuresEndAsFailures();
};

void E2eUpdateTest::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<QSerialPort::SerialPortError>();
    // Small files keep the real-time runs short: five code blocks, five FPGA packets.
    QVERIFY2(firmware.install({{QStringLiteral("quorix_kip_madi.bin"), UpdateTest::codeImage(13, 300)},
                               {QStringLiteral("quorix_kip_madi_fpga.bit"), UpdateTest::fpgaImage("2019/01/01", 600)}}),
             qPrintable(firmware.errorString()));
}

void E2eUpdateTest::cleanup()
{
    QFile::remove(OptocoreUpdater::buildInfoPath());
    QFile::remove(OptocoreUpdater::firstFilePath());
    QFile::remove(OptocoreUpdater::secondFilePath());
}

void E2eUpdateTest::updatesFromThePage_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("code");      // running after the update
    QTest::addColumn<QString>("fpga");
    QTest::addColumn<QStringList>("results"); // the flows' success texts, each once
    QTest::addColumn<bool>("twoStages");

    // The boot loader's own text and the port's, once the card has restarted.
    const QStringList code{"Update successful. Resetting", "Code update successful"};
    QTest::newRow("code") << "codeUpdateButton" << NewCode << OldFpga << code << false;
    QTest::newRow("FPGA") << "fpgaUpdateButton" << OldCode << NewFpga << QStringList{"FPGA update successful"} << false;
    QTest::newRow("all if required") << "updateRequiredButton" << NewCode << NewFpga
                                     << code + QStringList{"FPGA update successful"} << true;
}

void E2eUpdateTest::updatesFromThePage()
{
    QFETCH(QString, buttonName);
    QFETCH(QString, code);
    QFETCH(QString, fpga);
    QFETCH(QStringList, results);
    QFETCH(bool, twoStages);

    SimulatedBox box({KipPort::MadiBnc});
    KipPort &port = box.port(0);
    KipForm &form = box.form(0);
    Reports reports(box);
    QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), ConnectTimeoutMs);

    // Opening the port probed the card, which runs its application: the port reports
    // that probe as an unsuccessful update, once, and the page takes no notice.
    QCOMPARE(reports.portFinished.count(), 1);
    QCOMPARE(reports.portFinished.at(0).at(0).toBool(), false);
    QCOMPARE(reports.finished.count(), 0);
    QVERIFY(!texts(reports.status).contains("update failed"));
    QCOMPARE(updateTabText(form), QStringLiteral("Update Code *"));

    // The FPGA stage must find the card back with its new code.
    QList<int> cardTypeAtFpgaStart;
    connect(form.cardUpgrader(), &KipUpgrader::startFPGAUpdate, this,
            [&] { cardTypeAtFpgaStart << port.cardType(); });
    QPushButton *start = button(form, qPrintable(buttonName));
    QVERIFY(start->isEnabled());
    start->click();
    QVERIFY(form.isShowingUpdate());

    QTRY_VERIFY_WITH_TIMEOUT(reports.finished.count() > 0, 30000);
    QCOMPARE(reports.finished.count(), 1);
    QVERIFY2(reports.finished.at(0).at(0).toBool(), qPrintable(reports.log()));
    QVERIFY(!form.isShowingUpdate());
    QVERIFY(form.findChild<QLabel *>(QStringLiteral("updatingLabel"))->text().isEmpty());

    const QList<int> progress = values(reports.progress);
    QVERIFY2(nonDecreasing(progress), qPrintable(QStringLiteral("%1").arg(progress.size())));
    QCOMPARE(progress.last(), 100);
    if (twoStages) {
        // Code 0-50, a rest at 50 while the card restarts, then the FPGA 50-100.
        QVERIFY(progress.contains(50));
        QVERIFY(progress.first() < 50);
        QCOMPARE(cardTypeAtFpgaStart, QList<int>{KipPort::MadiBnc});
    }

    // The restarted card reports what the files hold; the recommendation goes once the
    // card runs both.
    QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "firmwareVersionLabel"), code, ConnectTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), fpga, ConnectTimeoutMs);
    const bool stillRecommended = code != NewCode || fpga != NewFpga;
    QCOMPARE(updateTabText(form), stillRecommended ? QStringLiteral("Update Code *") : QStringLiteral("Update Code"));
    QCOMPARE(!form.findChild<QLabel *>(QStringLiteral("updateRecommendedLabel"))->isHidden(), stillRecommended);
    QCOMPARE(button(form, "codeUpdateButton")->isEnabled(), true);
    QCOMPARE(button(form, "updateRequiredButton")->isEnabled(), stillRecommended);

    // Ended once: no second result from a card probed twice after its reset, no failure
    // from the watchdog, no failure from the port in the whole run.
    QTest::qWait(1500);
    QCOMPARE(reports.finished.count(), 1);
    for (const QString &result : results)
        QVERIFY2(texts(reports.status).count(result) == 1, qPrintable(reports.log()));
    QCOMPARE(reports.successTexts(), results.size());
    QVERIFY(!texts(reports.status).contains("update failed"));
    QVERIFY(!reports.portFinished.mid(1).contains(QVariantList{false}));
}

void E2eUpdateTest::optocoreModuleUpdate()
{
    QVERIFY(writeFile(OptocoreUpdater::buildInfoPath(), "OCM 5.00 b2401"));
    QVERIFY(writeFile(OptocoreUpdater::firstFilePath(), UpdateTest::codeImage(1, 1000)));
    QVERIFY(writeFile(OptocoreUpdater::secondFilePath(), UpdateTest::codeImage(2, 600)));

    SimulatedBox box({KipPort::Optocore});
    CardSimulator &card = box.card(0);
    KipForm &form = box.form(0);
    Reports reports(box);
    QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::Optocore), ConnectTimeoutMs);
    OptocoreUpdatePanel *panel = form.updatePanel();
    QVERIFY(panel);
    QSignalSpy progress(panel, &OptocoreUpdatePanel::updateProgress);
    QStringList waitTexts;
    connect(panel, &OptocoreUpdatePanel::updateProgress, this,
            [&] { waitTexts << form.findChild<QLabel *>(QStringLiteral("updatingLabel"))->text(); });

    auto *update = panel->findChild<QPushButton *>(QStringLiteral("optocoreUpdateButton"));
    QTRY_VERIFY_WITH_TIMEOUT(update->isEnabled(), 3000); // the module's version is in
    update->click();

    QTRY_VERIFY_WITH_TIMEOUT(texts(reports.status).contains("Optocore updated successfully"), 10000);
    QTRY_VERIFY(!form.isShowingUpdate());
    QVERIFY(nonDecreasing(values(progress)));
    QCOMPARE(values(progress).last(), 100);
    QVERIFY(waitTexts.count(QStringLiteral("please wait - updating Optocore")) == waitTexts.size());
    // The module runs the new firmware once it has left its loader.
    QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.version, QByteArray("OCM 5.00 b2401"), 3000);
    QVERIFY(box.isShowing(0, KipPort::Optocore));
    QVERIFY2(!texts(reports.status).contains("update failed"), qPrintable(reports.log()));
    QVERIFY(texts(reports.status).filter("Update aborted").isEmpty());
}

enum Fault { RefuseErase, MisnumberAck, NakStorm, Silence, DropLink };

void E2eUpdateTest::failuresEndAsFailures_data()
{
    QTest::addColumn<bool>("fpgaUpdate");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("atProgress"); // strike at this progress report; 0: before the start
    QTest::addColumn<QString>("text");   // the status text that tells what went wrong
    QTest::addColumn<bool>("byWatchdog"); // only the page's watchdog can end it

    QTest::newRow("erase refused") << true << int(RefuseErase) << 0
                                   << "Flash Verify error at packet -1. Update aborted" << false;
    QTest::newRow("packet acknowledged with an older number")
        << true << int(MisnumberAck) << 0 << "Packet number sequence error: 65535 received at packet 0. Update aborted"
        << false;
    QTest::newRow("boot loader refuses every resend") << false << int(NakStorm) << 3
                                                      << "Update aborted: too many retries" << false;
    QTest::newRow("card silent in the code download") << false << int(Silence) << 3 << "update failed" << true;
    QTest::newRow("card silent in the FPGA download") << true << int(Silence) << 2 << "update failed" << true;
    QTest::newRow("link gone in the code download") << false << int(DropLink) << 3 << "update failed" << true;
}

void E2eUpdateTest::failuresEndAsFailures()
{
    QFETCH(bool, fpgaUpdate);
    QFETCH(int, fault);
    QFETCH(int, atProgress);
    QFETCH(QString, text);
    QFETCH(bool, byWatchdog);

    SimulatedBox box({KipPort::MadiBnc});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    KipForm &form = box.form(0);
    Reports reports(box);
    QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), ConnectTimeoutMs);

    QElapsedTimer sinceStrike;
    const auto strike = [&] {
        sinceStrike.start();
        switch (fault) {
        case RefuseErase: card.firmware().refuseFpgaStep(0, 4); break;
        case MisnumberAck: card.firmware().misnumberFpgaAcks(1); break;
        case NakStorm: card.nakNextBootPackets(7); break;
        case Silence: card.setSilent(true); break;
        case DropLink: card.dropLink(); break;
        }
    };
    int reportsSeen = 0;
    connect(&port, &KipPort::updateProgress, this, [&] {
        if (++reportsSeen == atProgress)
            strike();
    });
    if (atProgress == 0)
        strike();
    button(form, fpgaUpdate ? "fpgaUpdateButton" : "codeUpdateButton")->click();

    QTRY_VERIFY_WITH_TIMEOUT(reports.finished.count() > 0, 15000);
    QVERIFY2(texts(reports.status).contains(text), qPrintable(reports.log()));
    if (byWatchdog) {
        QVERIFY2(sinceStrike.elapsed() >= KipForm::UpdateWatchdogMs - 500, qPrintable(QString::number(sinceStrike.elapsed())));
        QCOMPARE(texts(reports.status).count("update failed"), 1);
    }
    QCOMPARE(reports.finished.count(), 1);
    QCOMPARE(reports.finished.at(0).at(0).toBool(), false);
    QVERIFY(!form.isShowingUpdate());
    QVERIFY(form.findChild<QLabel *>(QStringLiteral("updatingLabel"))->text().isEmpty());
    QVERIFY(!form.updateWatchdog()->isActive());
    QVERIFY2(reports.successTexts() == 0, qPrintable(reports.log()));
    QVERIFY(!reports.portFinished.contains(QVariantList{true}));

    // A card left in its boot loader in the middle of its code is the port's to find
    // again; the others run their application and are back at once.
    if (!fpgaUpdate && byWatchdog)
        return;
    // The card is heard again and the slot finds it; the buttons are back.
    card.setSilent(false);
    QVERIFY(card.restoreLink());
    QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), 20000);
    QVERIFY(button(form, "codeUpdateButton")->isEnabled());
    QVERIFY(button(form, "fpgaUpdateButton")->isEnabled());
    QCOMPARE(box.label(0, "firmwareVersionLabel"), OldCode);
    QCOMPARE(box.label(0, "fpgaVersionLabel"), OldFpga);
    QVERIFY(card.installedImage().isEmpty());
    QVERIFY(card.firmware().installedFpgaImage().isEmpty());
    QVERIFY2(reports.successTexts() == 0, qPrintable(reports.log()));
    QCOMPARE(reports.finished.count(), 1);
    QVERIFY(!form.isShowingUpdate());
}

QTEST_MAIN(E2eUpdateTest)
#include "tst_e2e_update.moc"
