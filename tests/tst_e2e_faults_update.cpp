// Faults during code, FPGA and Optocore updates started from the update page against a
// simulated card over a real pseudo-terminal, in real time: an update that did not reach
// the card ends once, as a failure, the page comes back and the slot finds the card again.
#include "support/builtinfirmware.h"
#include "support/faultrig.h"

#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"
#include "ui/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

using namespace EMS;
using FaultTest::SimulatedBox;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QByteArray NewCode = UpdateTest::codeImage(40, 1000);
const QByteArray NewFpga = UpdateTest::fpgaImage("2031/12/24", 1000);

enum Kind { CodeUpdate, FpgaUpdate, OptocoreUpdate };
enum Fault { Naks, FailStatus, RefuseFpgaStep, RefuseOptocoreStep };

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs the action at the n-th emission of the signal: the fault strikes at a known block.
template <typename Sender, typename Signal>
void atEmission(QObject *context, Sender *sender, Signal signal, int n, std::function<void()> action)
{
    auto count = std::make_shared<int>(0);
    QObject::connect(sender, signal, context, [count, n, action] {
        if (++*count == n)
            action();
    });
}

bool pressUpdate(KipForm &form, int kind)
{
    QWidget *owner = kind == OptocoreUpdate ? static_cast<QWidget *>(form.updatePanel()) : &form;
    const char *name = kind == CodeUpdate   ? "codeUpdateButton"
                       : kind == FpgaUpdate ? "fpgaUpdateButton"
                                            : "optocoreUpdateButton";
    auto *button = owner ? owner->findChild<QPushButton *>(name) : nullptr;
    if (!button || !QTest::qWaitFor([button] { return button->isEnabled(); }, 5000))
        return false;
    button->click();
    return true;
}

// One slot with a simulated card, found; what the card ran before is kept.
struct Rig
{
    explicit Rig(int type)
        : box({type}), found(QTest::qWaitFor([&] { return box.isShowing(0, type); }, ConnectTimeoutMs)) {}
    QString running() // as the slot shows it and the card holds it
    {
        return box.label(0, "firmwareVersionLabel") + ' ' + box.label(0, "fpgaVersionLabel") + ' '
            + card.firmware().state().optocore.version;
    }
    QStringList said() const
    {
        QStringList list;
        for (const QList<QVariant> &call : status)
            list << call.at(0).toString();
        return list;
    }
    int successes() const
    {
        return said().filter(QRegularExpression("\\bsuccessful", QRegularExpression::CaseInsensitiveOption)).size();
    }
    QString log() const { return box.describe(0) + "; " + said().join(" | "); }

    SimulatedBox box;
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    KipForm &form = box.form(0);
    bool found;
    QString before = running();
    QSignalSpy status{&port, &KipPort::statusMessage};
};

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
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
        QVERIFY(firmware.install({{KipUpgrader::codeFileName(KipPort::MadiBnc), NewCode},
                                  {KipUpgrader::fpgaFileName(KipPort::MadiBnc), NewFpga}}));
        QVERIFY(writeFile(optocoreFiles.at(0), "OCM 5.00 b2401"));
        QVERIFY(writeFile(optocoreFiles.at(1), UpdateTest::codeImage(1, 1000)));
        QVERIFY(writeFile(optocoreFiles.at(2), UpdateTest::codeImage(2, 600)));
    }
    void cleanupTestCase() { for (const QString &file : optocoreFiles) QFile::remove(file); }

    // A loader refuses a step: the update ends with its reason, and the card goes on with
    // what it ran, polled at the normal rhythm.
    void refusalsEndAsFailures_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("step"); // code: progress reports before the fault
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("code: a block refused seven times") << int(Naks) << 3 << 7 << "Update aborted: too many retries";
        QTest::newRow("code: bad address for a block")
            << int(FailStatus) << 5 << 0x43 << "Update aborted: received BadAddress  in reply to GetStatus ";
        QTest::newRow("FPGA: image sum refused") // 1000 bytes are packets 0 to 7
            << int(RefuseFpgaStep) << 2 << 2 << "File Checksum error at packet 7. Update aborted";
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
        Rig rig(cardType);
        QVERIFY2(rig.found, qPrintable(rig.log()));
        CardSimulator &card = rig.card;
        QSignalSpy finished(rig.form.cardUpgrader(), &KipUpgrader::updateFinished);
        if (fault == RefuseFpgaStep)
            card.firmware().refuseFpgaStep(step, quint8(result));
        else if (fault == RefuseOptocoreStep)
            card.firmware().refuseOptocoreUpdateStep(step, quint8(result));
        else
            atEmission(this, &rig.port, &KipPort::updateProgress, step, [&card, fault, result] {
                fault == Naks ? card.nakNextBootPackets(result) : card.failNextStatus(quint8(result));
            });
        QVERIFY(pressUpdate(rig.form, kind));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.said().contains(text), qPrintable(rig.log()), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.form.isShowingUpdate(), 5000);
        if (kind == OptocoreUpdate)
            QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.loader.stage, 0, 3000); // told to leave
        else
            QCOMPARE(finished, QList<QVariantList>{{false}});
        card.firmware().setTemperature(47);
        QTRY_COMPARE_WITH_TIMEOUT(rig.box.label(0, "temperatureLabel"), QStringLiteral("47°C"), 12000);
        QCOMPARE(rig.running(), rig.before);
        QVERIFY(card.installedImage().isEmpty() && card.firmware().installedFpgaImage().isEmpty());
        QVERIFY2(rig.said().count(text) == 1 && !rig.said().contains("update failed") && rig.successes() == 0
                     && finished.count() <= 1, qPrintable(rig.log()));
    }

    // A card silent mid-download is given up by the page's watchdog, once; when it speaks
    // again the slot finds it, and its boot loader, left with half an image, takes it whole.
    void silentCardEndsByWatchdog()
    {
        Rig rig(KipPort::MadiBnc);
        QVERIFY2(rig.found, qPrintable(rig.log()));
        QSignalSpy finished(rig.form.cardUpgrader(), &KipUpgrader::updateFinished);
        atEmission(this, &rig.port, &KipPort::updateProgress, 3, [&rig] { rig.card.setSilent(true); });
        QVERIFY(pressUpdate(rig.form, CodeUpdate));
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 15000);
        QCOMPARE(finished, QList<QVariantList>{{false}});
        QVERIFY2(rig.said().count("update failed") == 1 && rig.successes() == 0, qPrintable(rig.log()));
        QVERIFY(!rig.form.isShowingUpdate() && !rig.form.updateWatchdog()->isActive());
        rig.card.setSilent(false);
        QTRY_VERIFY2_WITH_TIMEOUT(rig.box.isShowing(0, KipPort::MadiBnc), qPrintable(rig.log()), 20000);
        QCOMPARE(rig.card.installedImage().left(NewCode.size()), NewCode);
        QCOMPARE(finished.count(), 1);
    }

    // The adapter is pulled at the fourth block and comes back before the watchdog fires.
    // The boot loader answers the probe and takes the whole image again; the FPGA and
    // Optocore loaders wait until the watchdog ends the update, which then runs whole.
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
        Rig rig(cardType);
        QVERIFY2(rig.found, qPrintable(rig.log()));
        QSignalSpy finished(&rig.port, &KipPort::updateFinished);
        const auto pull = [&rig] { rig.box.pullAdapter(0); };
        if (kind == OptocoreUpdate)
            atEmission(this, rig.form.updatePanel(), &OptocoreUpdatePanel::updateProgress, 4, pull);
        else
            atEmission(this, &rig.port, &KipPort::updateProgress, 5, pull);
        QVERIFY(pressUpdate(rig.form, kind));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.card.isLinkUp(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.port.isConnectionOpen(), 2000);
        QTest::qWait(1500);
        QVERIFY(rig.box.plugAdapterBack(0));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.box.isShowing(0, cardType), qPrintable(rig.log()), ConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.form.isShowingUpdate(), KipForm::UpdateWatchdogMs + 10000);
        QVERIFY(FaultTest::eventLoopResponsive());
        const QStringList said = rig.said();
        if (kind == CodeUpdate) {
            QVERIFY2(finished.contains(QVariantList{true}) && said.count("Code update successful") == 1,
                     qPrintable(rig.log()));
            QCOMPARE(rig.card.installedImage().left(NewCode.size()), NewCode);
            QTRY_COMPARE_WITH_TIMEOUT(rig.box.label(0, "firmwareVersionLabel"), QStringLiteral("40"), 5000);
            return;
        }
        QVERIFY2(said.contains("update failed") || !said.filter("Update aborted").isEmpty(), qPrintable(rig.log()));
        QCOMPARE(rig.running(), rig.before);
        QVERIFY(rig.card.firmware().installedFpgaImage().isEmpty());
        QVERIFY2(!finished.contains(QVariantList{true}) && rig.successes() == 0, qPrintable(rig.log()));
        rig.status.clear();
        QVERIFY(pressUpdate(rig.form, kind));
        if (kind == OptocoreUpdate) {
            QTRY_VERIFY2_WITH_TIMEOUT(rig.said().contains("Optocore updated successfully"), qPrintable(rig.log()),
                                      10000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.card.firmware().state().optocore.version, QByteArray("OCM 5.00 b2401"),
                                      3000);
        } else {
            QTRY_VERIFY2_WITH_TIMEOUT(finished.contains(QVariantList{true}), qPrintable(rig.log()), 15000);
            QCOMPARE(rig.card.firmware().installedFpgaImage(), NewFpga);
        }
    }
};

QTEST_MAIN(E2eFaultsUpdateTest)
#include "tst_e2e_faults_update.moc"
