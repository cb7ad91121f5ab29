// Faults during firmware updates, end to end: code through the card's boot loader, the
// FPGA image and the Optocore module's firmware, each started from the slot form's
// update page against a simulated card over a real pseudo-terminal, in real time.
// Whatever the card does, an update that did not reach the card ends once, as a failure
// with its text, never as a success; the page comes back, and the slot finds the card
// again afterwards.
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
#include <QtTest>

#include <functional>
#include <memory>

using EMS::KipForm;
using EMS::KipPort;
using EMS::KipUpgrader;
using EMS::OptocoreUpdatePanel;
using EMS::OptocoreUpdater;
using FaultTest::SimulatedBox;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QStringList SuccessTexts{"Code update successful", "FPGA update successful", "Optocore updated successfully",
                               "Update successful. Resetting"};
const QByteArray NewCode = UpdateTest::codeImage(40, 1000);
const QByteArray NewFpga = UpdateTest::fpgaImage("2031/12/24", 1000);

enum Kind { CodeUpdate, FpgaUpdate, OptocoreUpdate };
enum Fault { Naks, FailStatus, RefuseFpgaStep, RefuseOptocoreStep };

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).toString();
    return list;
}

int successes(const QSignalSpy &status)
{
    int n = 0;
    for (const QString &text : SuccessTexts)
        n += status.count(QVariantList{text});
    return n;
}

// Runs the action once, at the n-th emission of the signal: the fault strikes in the
// middle of the transfer, at a known block.
template <typename Sender, typename Signal>
void atEmission(QObject *context, Sender *sender, Signal signal, int n, std::function<void()> action)
{
    auto count = std::make_shared<int>(0);
    QObject::connect(sender, signal, context, [count, n, action] {
        if (++*count == n)
            action();
    });
}

// Presses the update page's button for the kind of update once the page offers it.
bool pressUpdate(KipForm &form, int kind)
{
    QWidget *owner = kind == OptocoreUpdate ? static_cast<QWidget *>(form.updatePanel()) : &form;
    const char *name = kind == CodeUpdate ? "codeUpdateButton"
                       : kind == FpgaUpdate ? "fpgaUpdateButton" : "optocoreUpdateButton";
    auto *button = owner ? owner->findChild<QPushButton *>(name) : nullptr;
    if (!button || !QTest::qWaitFor([button] { return button->isEnabled(); }, 5000))
        return false;
    button->click();
    return true;
}

// What the card runs, as the slot shows it and as the card holds it.
QString running(SimulatedBox &box)
{
    return box.label(0, "firmwareVersionLabel") + ' ' + box.label(0, "fpgaVersionLabel") + ' '
        + box.card(0).firmware().state().optocore.version;
}

} // namespace

class E2eFaultsUpdateTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;
    const QStringList optocoreFiles{OptocoreUpdater::buildInfoPath(), OptocoreUpdater::firstFilePath(),
                                    OptocoreUpdater::secondFilePath()};

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
        QVERIFY2(firmware.install({{KipUpgrader::codeFileName(KipPort::MadiBnc), NewCode},
                                   {KipUpgrader::fpgaFileName(KipPort::MadiBnc), NewFpga}}),
                 qPrintable(firmware.errorString()));
        QVERIFY(writeFile(optocoreFiles.at(0), "OCM 5.00 b2401"));
        QVERIFY(writeFile(optocoreFiles.at(1), UpdateTest::codeImage(1, 1000)));
        QVERIFY(writeFile(optocoreFiles.at(2), UpdateTest::codeImage(2, 600)));
    }
    void cleanupTestCase()
    {
        for (const QString &file : optocoreFiles)
            QFile::remove(file);
    }

    // The card's loaders refuse a step: the update ends with the loader's reason, and
    // the card goes on with what it ran before, polled at the normal rhythm.
    void refusalsEndAsFailures_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("step"); // code: progress reports before the fault
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("code: a block refused seven times") << int(Naks) << 3 << 7 << "Update aborted: too many retries";
        QTest::newRow("code: bad address for a block")
            << int(FailStatus) << 5 << 0x43 << "Update aborted: received BadAddress  in reply to GetStatus ";
        // 1000 bytes are packets 0 to 7.
        QTest::newRow("FPGA: image sum refused") << int(RefuseFpgaStep) << 2 << 2
                                                 << "File Checksum error at packet 7. Update aborted";
        QTest::newRow("Optocore: packet refused")
            << int(RefuseOptocoreStep) << 4 << 2
            << "File Checksum error at packet 0 in file " + OptocoreUpdater::firstFilePath() + ". Update aborted";
    }
    void refusalsEndAsFailures()
    {
        QFETCH(int, fault);
        QFETCH(int, step);
        QFETCH(int, result);
        QFETCH(QString, text);
        const int kind = fault == RefuseFpgaStep ? FpgaUpdate : fault == RefuseOptocoreStep ? OptocoreUpdate : CodeUpdate;
        const int cardType = kind == OptocoreUpdate ? KipPort::Optocore : KipPort::MadiBnc;
        SimulatedBox box({cardType});
        CardSimulator &card = box.card(0);
        KipForm &form = box.form(0);
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType), qPrintable(box.describe(0)), ConnectTimeoutMs);
        const QString before = running(box);
        QSignalSpy finished(form.cardUpgrader(), &KipUpgrader::updateFinished);
        QSignalSpy status(&box.port(0), &KipPort::statusMessage);
        if (fault == RefuseFpgaStep)
            card.firmware().refuseFpgaStep(step, quint8(result));
        else if (fault == RefuseOptocoreStep)
            card.firmware().refuseOptocoreUpdateStep(step, quint8(result));
        else
            atEmission(this, &box.port(0), &KipPort::updateProgress, step, [&card, fault, result] {
                if (fault == Naks)
                    card.nakNextBootPackets(result);
                else
                    card.failNextStatus(quint8(result));
            });
        std::unique_ptr<QSignalSpy> panelUpdating(
            kind == OptocoreUpdate ? new QSignalSpy(form.updatePanel(), &OptocoreUpdatePanel::updating) : nullptr);
        QVERIFY(pressUpdate(form, kind));
        QTRY_VERIFY2_WITH_TIMEOUT(texts(status).contains(text), qPrintable(texts(status).join(" | ")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isShowingUpdate(), 5000);
        if (kind == OptocoreUpdate) {
            QCOMPARE(*panelUpdating, (QList<QVariantList>{{true}, {false}}));
            // The panel tells the module to leave its loader.
            QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.loader.stage, 0, 3000);
        } else {
            QCOMPARE(finished, QList<QVariantList>{{false}});
        }
        // The card goes on with what it ran, and the slot goes on polling it.
        card.firmware().setTemperature(47);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "temperatureLabel"), QStringLiteral("47°C"), 12000);
        QVERIFY(box.isShowing(0, cardType));
        QCOMPARE(running(box), before);
        QVERIFY(card.installedImage().isEmpty());
        QVERIFY(card.firmware().installedFpgaImage().isEmpty());
        QCOMPARE(texts(status).count(text), 1);
        QVERIFY(!texts(status).contains("update failed"));
        QVERIFY2(successes(status) == 0, qPrintable(texts(status).join(" | ")));
        QVERIFY(finished.count() <= 1);
    }

    // A card that falls silent mid-download is given up by the update page's watchdog,
    // once; when it speaks again the slot finds it, and a boot loader left with half an
    // image is found by the port's probe and takes the code file whole.
    void silentCardEndsByWatchdog_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("atProgress");
        QTest::newRow("code") << int(CodeUpdate) << 3;
        QTest::newRow("FPGA") << int(FpgaUpdate) << 2;
    }
    void silentCardEndsByWatchdog()
    {
        QFETCH(int, kind);
        QFETCH(int, atProgress);
        SimulatedBox box({KipPort::MadiBnc});
        CardSimulator &card = box.card(0);
        KipForm &form = box.form(0);
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), ConnectTimeoutMs);
        const QString before = running(box);
        QSignalSpy finished(form.cardUpgrader(), &KipUpgrader::updateFinished);
        QSignalSpy status(&box.port(0), &KipPort::statusMessage);
        QElapsedTimer sinceSilence;
        atEmission(this, &box.port(0), &KipPort::updateProgress, atProgress, [&] {
            card.setSilent(true);
            sinceSilence.start();
        });
        QVERIFY(pressUpdate(form, kind));
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 15000);
        QVERIFY2(sinceSilence.elapsed() >= KipForm::UpdateWatchdogMs - 500, qPrintable(QString::number(sinceSilence.elapsed())));
        QCOMPARE(finished, QList<QVariantList>{{false}});
        QCOMPARE(texts(status).count("update failed"), 1);
        QVERIFY(!form.isShowingUpdate());
        QVERIFY(form.findChild<QLabel *>("updatingLabel")->text().isEmpty());
        QVERIFY(!form.updateWatchdog()->isActive());
        QCOMPARE(successes(status), 0);
        card.setSilent(false);
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), 20000);
        if (kind == CodeUpdate) {
            QCOMPARE(card.installedImage().left(NewCode.size()), NewCode);
        } else {
            QCOMPARE(running(box), before);
            QVERIFY(card.firmware().installedFpgaImage().isEmpty());
            QCOMPARE(successes(status), 0);
        }
        QVERIFY(form.findChild<QPushButton *>("codeUpdateButton")->isEnabled());
        QCOMPARE(finished.count(), 1);
    }

    // The adapter is pulled while the fourth block is on its way and comes back before
    // the watchdog would fire. The boot loader acknowledges the probe after the return
    // and takes the whole image again; the FPGA and Optocore loaders wait for a packet
    // that never comes, until the watchdog ends the update; the same update then runs
    // whole.
    void farEndVanishesDuringUpdate_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("code") << int(CodeUpdate);
        QTest::newRow("FPGA") << int(FpgaUpdate);
        QTest::newRow("Optocore") << int(OptocoreUpdate);
    }
    void farEndVanishesDuringUpdate()
    {
        QFETCH(int, kind);
        const int cardType = kind == OptocoreUpdate ? KipPort::Optocore : KipPort::MadiBnc;
        SimulatedBox box({cardType});
        CardSimulator &card = box.card(0);
        KipPort &port = box.port(0);
        KipForm &form = box.form(0);
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType), qPrintable(box.describe(0)), ConnectTimeoutMs);
        const QString before = running(box);
        QSignalSpy finished(&port, &KipPort::updateFinished);
        QSignalSpy status(&port, &KipPort::statusMessage);
        const auto pull = [&box] { box.pullAdapter(0); };
        if (kind == OptocoreUpdate)
            atEmission(this, form.updatePanel(), &OptocoreUpdatePanel::updateProgress, 4, pull);
        else
            atEmission(this, &port, &KipPort::updateProgress, 5, pull);
        QVERIFY(pressUpdate(form, kind));
        QTRY_VERIFY_WITH_TIMEOUT(!card.isLinkUp(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!port.isConnectionOpen(), 2000);
        QVERIFY(box.showsNoCard(0));
        QTest::qWait(1500);
        QVERIFY(box.plugAdapterBack(0));
        const auto log = [&status, &box] { return box.describe(0) + "; " + texts(status).join(" | "); };
        QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType), qPrintable(log()), ConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isShowingUpdate(), KipForm::UpdateWatchdogMs + 10000);
        QVERIFY(FaultTest::eventLoopResponsive());
        if (kind == CodeUpdate) {
            // A success now means the whole image is on the card and it runs it.
            QVERIFY2(finished.contains(QVariantList{true}), qPrintable(log()));
            QCOMPARE(texts(status).count("Code update successful"), 1);
            QCOMPARE(card.installedImage().left(NewCode.size()), NewCode);
            QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "firmwareVersionLabel"), QStringLiteral("40"), 5000);
            return;
        }
        // The page went back to idle: the user must read why.
        QVERIFY2(texts(status).contains("update failed") || !texts(status).filter("Update aborted").isEmpty(),
                 qPrintable(log()));
        QCOMPARE(running(box), before);
        QVERIFY(card.firmware().installedFpgaImage().isEmpty());
        QVERIFY2(!finished.contains(QVariantList{true}) && successes(status) == 0, qPrintable(log()));
        status.clear();
        QVERIFY(pressUpdate(form, kind));
        if (kind == OptocoreUpdate) {
            QTRY_VERIFY2_WITH_TIMEOUT(texts(status).contains("Optocore updated successfully"), qPrintable(log()), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.version, QByteArray("OCM 5.00 b2401"), 3000);
        } else {
            QTRY_VERIFY2_WITH_TIMEOUT(finished.contains(QVariantList{true}), qPrintable(log()), 15000);
            QCOMPARE(card.firmware().installedFpgaImage(), NewFpga);
            QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), QStringLiteral("2031/12/24"), 5000);
        }
    }
};

QTEST_MAIN(E2eFaultsUpdateTest)
#include "tst_e2e_faults_update.moc"
