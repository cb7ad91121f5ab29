// Faults during firmware updates, end to end: code through the card's boot loader,
// the FPGA image and the Optocore module's firmware, each started from the slot form's
// update page against a simulated card over a real pseudo-terminal. Whatever the card
// does, an update that did not reach the card ends as a failure with its text, never
// as a success, the page comes back, and the slot finds the card again afterwards.
//
// The code and FPGA files are built in for this process alone; the Optocore files lie
// in the program's folder, where the Optocore updater looks for them (ctest keeps the
// other tests that write them apart).
#include "support/builtinfirmware.h"
#include "support/faultrig.h"

#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"
#include "update/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

using EMS::KipPort;
using EMS::OptocoreUpdatePanel;
using EMS::OptocoreUpdater;
using FaultTest::SimulatedBox;

namespace {

constexpr int ConnectTimeoutMs = 10000;
// The slot form's update watchdog ends an update 5 s after its last progress report.
constexpr int UpdateWatchdogMs = 5000;

// The texts that tell the user an update went well.
const QStringList SuccessTexts{QStringLiteral("Code update successful"), QStringLiteral("FPGA update successful"),
                               QStringLiteral("Optocore updated successfully"),
                               QStringLiteral("Update successful. Resetting")};

enum UpdateKind { CodeUpdate, FpgaUpdate, OptocoreUpdate };

const QByteArray NewCode = UpdateTest::codeImage(40, 1000);
const QByteArray NewFpga = UpdateTest::fpgaImage("2031/12/24", 1000);

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

} // namespace

class E2eFaultsUpdateTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;
    const QStringList optocoreFiles{OptocoreUpdater::buildInfoPath(), OptocoreUpdater::firstFilePath(),
                                    OptocoreUpdater::secondFilePath()};

    // Presses a button of the slot form's update page once the page offers it.
    static bool press(QWidget &owner, const char *objectName)
    {
        auto *button = owner.findChild<QPushButton *>(QLatin1String(objectName));
        if (!button || !QTest::qWaitFor([button] { return button->isEnabled(); }, 5000))
            return false;
        button->click();
        return true;
    }

    static bool pressOptocoreUpdate(SimulatedBox &box)
    {
        return box.form(0).updatePanel() && press(*box.form(0).updatePanel(), "optocoreUpdateButton");
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void codeUpdateRefused_data();
    void codeUpdateRefused();
    void bootLoaderFallsSilent();
    void fpgaUpdateRefused_data();
    void fpgaUpdateRefused();
    void optocoreUpdateRefused_data();
    void optocoreUpdateRefused();
    void farEndVanishesDuringUpdate_data();
    void farEndVanishesDuringUpdate();
};

void E2eFaultsUpdateTest::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<QSerialPort::SerialPortError>();
    QVERIFY2(firmware.install({{EMS::KipUpgrader::codeFileName(KipPort::MadiBnc), NewCode},
                               {EMS::KipUpgrader::fpgaFileName(KipPort::MadiBnc), NewFpga}}),
             qPrintable(firmware.errorString()));
    QVERIFY(writeFile(optocoreFiles.at(0), "OCM 5.00 b2401"));
    QVERIFY(writeFile(optocoreFiles.at(1), UpdateTest::codeImage(1, 1000)));
    QVERIFY(writeFile(optocoreFiles.at(2), UpdateTest::codeImage(2, 600)));
}

void E2eFaultsUpdateTest::cleanupTestCase()
{
    for (const QString &file : optocoreFiles)
        QFile::remove(file);
}

void E2eFaultsUpdateTest::codeUpdateRefused_data()
{
    QTest::addColumn<int>("atBlock"); // 0: as the boot loader starts
    QTest::addColumn<int>("naks");    // refusals of the next packets
    QTest::addColumn<int>("status");  // status code for the next GetStatus, 0 none
    QTest::addColumn<QString>("text");

    QTest::newRow("ping refused seven times") << 0 << 7 << 0 << "Update aborted: too many retries";
    QTest::newRow("flash failure for the ping") << 0 << 0 << 0x44 << "Update aborted: received FlashFailure";
    QTest::newRow("flash failure for a block") << 3 << 0 << 0x44 << "Update aborted: received FlashFailure";
    QTest::newRow("bad address for a block") << 5 << 0 << 0x43 << "Update aborted: received BadAddress";
}

void E2eFaultsUpdateTest::codeUpdateRefused()
{
    QFETCH(int, atBlock);
    QFETCH(int, naks);
    QFETCH(int, status);
    QFETCH(QString, text);

    SimulatedBox box({KipPort::MadiBnc});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), ConnectTimeoutMs);
    const QString runningVersion = box.label(0, "firmwareVersionLabel");

    const auto strike = [&card, naks, status] {
        if (naks > 0)
            card.nakNextBootPackets(naks);
        if (status != 0)
            card.failNextStatus(quint8(status));
    };
    if (atBlock == 0)
        atEmission(this, &card, &CardSimulator::bootLoaderChanged, 1, strike);
    else
        atEmission(this, &port, &KipPort::updateProgress, atBlock + 1, strike);

    QSignalSpy finished(&port, &KipPort::updateFinished);
    QSignalSpy messages(&port, &KipPort::statusMessage);
    QVERIFY(press(box.form(0), "codeUpdateButton"));
    QVERIFY(box.form(0).isShowingUpdate());

    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY2(texts(messages).filter(text).size() == 1, qPrintable(texts(messages).join(" | ")));
    QVERIFY(!box.form(0).isShowingUpdate());

    // The card restarts its old program and the slot finds it again.
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), ConnectTimeoutMs);
    QCOMPARE(box.label(0, "firmwareVersionLabel"), runningVersion);
    QVERIFY(card.installedImage().isEmpty());
    QCOMPARE(finished.count(), 1);
    for (const QString &success : SuccessTexts)
        QVERIFY2(!texts(messages).contains(success), qPrintable(success));
}

void E2eFaultsUpdateTest::bootLoaderFallsSilent()
{
    SimulatedBox box({KipPort::MadiBnc});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), ConnectTimeoutMs);
    atEmission(this, &port, &KipPort::updateProgress, 5, [&card] { card.setSilent(true); });

    QSignalSpy finished(&port, &KipPort::updateFinished);
    QVERIFY(press(box.form(0), "codeUpdateButton"));
    QTRY_VERIFY_WITH_TIMEOUT(card.isSilent(), 5000);

    // The update page's watchdog ends the stalled update as a failure (the page's own
    // tests check how); what matters here is what follows.
    QVERIFY(finished.wait(UpdateWatchdogMs + 3000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);

    // The card answers again from its boot loader, half an image in it. Framed polls
    // get nothing from a boot loader; after a few silent watchdog periods the port
    // probes, the boot loader answers, and the code file goes in whole this time.
    card.setSilent(false);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), 20000);
    QCOMPARE(card.installedImage().left(NewCode.size()), NewCode);
}

void E2eFaultsUpdateTest::fpgaUpdateRefused_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    // 1000 bytes are packets 0 to 7.
    QTest::newRow("first packet refused") << 1 << 1 << "Packet Length error at packet 0. Update aborted";
    QTest::newRow("image sum refused") << 2 << 2 << "File Checksum error at packet 7. Update aborted";
    QTest::newRow("result code no one knows") << 1 << 200 << "unknown at packet 0. Update aborted";
}

void E2eFaultsUpdateTest::fpgaUpdateRefused()
{
    QFETCH(int, step);
    QFETCH(int, result);
    QFETCH(QString, text);

    SimulatedBox box({KipPort::MadiBnc});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), qPrintable(box.describe(0)), ConnectTimeoutMs);
    const QString runningFpga = box.label(0, "fpgaVersionLabel");

    card.firmware().refuseFpgaStep(step, quint8(result));
    QSignalSpy finished(&port, &KipPort::updateFinished);
    QSignalSpy messages(&port, &KipPort::statusMessage);
    QVERIFY(press(box.form(0), "fpgaUpdateButton"));

    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY2(texts(messages).contains(text), qPrintable(texts(messages).join(" | ")));
    QVERIFY(!box.form(0).isShowingUpdate());

    // The card goes on with its old image, and the slot goes on polling it.
    card.firmware().setTemperature(47);
    QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "temperatureLabel"), QStringLiteral("47°C"), 12000);
    QVERIFY(box.isShowing(0, KipPort::MadiBnc));
    QCOMPARE(box.label(0, "fpgaVersionLabel"), runningFpga);
    QVERIFY(card.firmware().installedFpgaImage().isEmpty());
    QCOMPARE(finished.count(), 1);
    for (const QString &success : SuccessTexts)
        QVERIFY2(!texts(messages).contains(success), qPrintable(success));
}

void E2eFaultsUpdateTest::optocoreUpdateRefused_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reason");
    QTest::newRow("build description refused") << 1 << 1 << "Packet Length error at packet";
    QTest::newRow("first file refused") << 2 << 3 << "File Size error at packet";
    QTest::newRow("second file refused") << 3 << 4 << "Flash Verify error at packet";
    QTest::newRow("packet refused") << 4 << 2 << "File Checksum error at packet 0 in file";
    QTest::newRow("result code no one knows") << 4 << 77 << "unknown at packet 0 in file";
}

void E2eFaultsUpdateTest::optocoreUpdateRefused()
{
    QFETCH(int, step);
    QFETCH(int, result);
    QFETCH(QString, reason);

    SimulatedBox box({KipPort::Optocore});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, KipPort::Optocore), qPrintable(box.describe(0)), ConnectTimeoutMs);
    const QByteArray moduleVersion = card.firmware().state().optocore.version;

    card.firmware().refuseOptocoreUpdateStep(step, quint8(result));
    QVERIFY(box.form(0).updatePanel());
    QSignalSpy updating(box.form(0).updatePanel(), &OptocoreUpdatePanel::updating);
    QSignalSpy messages(&port, &KipPort::statusMessage);
    QVERIFY(pressOptocoreUpdate(box));

    QTRY_VERIFY_WITH_TIMEOUT(updating.contains(QVariantList{false}), 10000);
    QCOMPARE(updating.first().at(0).toBool(), true);
    QVERIFY(!box.form(0).isShowingUpdate());
    QVERIFY2(texts(messages).filter(reason).size() == 1, qPrintable(texts(messages).join(" | ")));
    QVERIFY(texts(messages).filter(reason).at(0).endsWith(QStringLiteral(". Update aborted")));
    // After a refusal the panel tells the module to leave its loader; the module keeps
    // the firmware it had.
    QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.loader.stage, 0, 3000);
    QCOMPARE(card.firmware().state().optocore.version, moduleVersion);
    QVERIFY(box.isShowing(0, KipPort::Optocore));
    for (const QString &success : SuccessTexts)
        QVERIFY2(!texts(messages).contains(success), qPrintable(success));
}

void E2eFaultsUpdateTest::farEndVanishesDuringUpdate_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("completes");
    // The boot loader acknowledges the probe after the return and takes the whole image
    // again; the FPGA and Optocore loaders wait for a packet that never comes, until
    // the update page's watchdog ends the update.
    QTest::newRow("code") << int(CodeUpdate) << true;
    QTest::newRow("FPGA") << int(FpgaUpdate) << false;
    QTest::newRow("Optocore") << int(OptocoreUpdate) << false;
}

void E2eFaultsUpdateTest::farEndVanishesDuringUpdate()
{
    QFETCH(int, kind);
    QFETCH(bool, completes);

    const int cardType = kind == OptocoreUpdate ? KipPort::Optocore : KipPort::MadiBnc;
    SimulatedBox box({cardType});
    CardSimulator &card = box.card(0);
    KipPort &port = box.port(0);
    EMS::KipForm &form = box.form(0);
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType), qPrintable(box.describe(0)), ConnectTimeoutMs);
    const QString runningVersion = box.label(0, "firmwareVersionLabel");
    const QString runningFpga = box.label(0, "fpgaVersionLabel");
    const QByteArray moduleVersion = card.firmware().state().optocore.version;

    QSignalSpy finished(&port, &KipPort::updateFinished);
    QSignalSpy messages(&port, &KipPort::statusMessage);
    // The adapter is pulled while the fourth block is on its way: that block never
    // reaches the card.
    const auto pull = [&box] { box.pullAdapter(0); };
    const char *button = kind == CodeUpdate ? "codeUpdateButton" : "fpgaUpdateButton";
    if (kind == OptocoreUpdate) {
        QVERIFY(form.updatePanel());
        atEmission(this, form.updatePanel(), &OptocoreUpdatePanel::updateProgress, 4, pull);
        QVERIFY(pressOptocoreUpdate(box));
    } else {
        atEmission(this, &port, &KipPort::updateProgress, 5, pull);
        QVERIFY(press(form, button));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!card.isLinkUp(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!port.isConnectionOpen(), 2000);
    QVERIFY(box.showsNoCard(0));

    // The adapter is back before the update watchdog would have fired.
    QTest::qWait(1500);
    QVERIFY(box.plugAdapterBack(0));
    QTRY_VERIFY2_WITH_TIMEOUT(box.isShowing(0, cardType),
                              qPrintable(box.describe(0) + QStringLiteral("; ") + texts(messages).join(" | ")),
                              ConnectTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isShowingUpdate(), UpdateWatchdogMs + 10000);
    QVERIFY(FaultTest::eventLoopResponsive());
    const QString log = texts(messages).join(" | ");

    if (completes) {
        // A success now means the whole image is on the card and it runs it.
        QVERIFY2(finished.contains(QVariantList{true}), qPrintable(log));
        QVERIFY(texts(messages).contains(QStringLiteral("Code update successful")));
        QCOMPARE(card.installedImage().left(1000), NewCode);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "firmwareVersionLabel"), QStringLiteral("40"), 5000);
        return;
    }
    // The page went back to idle: the user must read why.
    const bool failureShown = texts(messages).contains(QStringLiteral("update failed"))
        || !texts(messages).filter(QStringLiteral("Update aborted")).isEmpty();
    QVERIFY2(failureShown, qPrintable(log));
    QCOMPARE(box.label(0, "firmwareVersionLabel"), runningVersion);
    QCOMPARE(box.label(0, "fpgaVersionLabel"), runningFpga);
    QCOMPARE(card.firmware().state().optocore.version, moduleVersion);
    QVERIFY(card.firmware().installedFpgaImage().isEmpty());
    QVERIFY2(!finished.contains(QVariantList{true}), qPrintable(log));
    for (const QString &success : SuccessTexts)
        QVERIFY2(!texts(messages).contains(success), qPrintable(log));

    // The slot takes the same update again, whole, once the card is back.
    messages.clear();
    if (kind == OptocoreUpdate) {
        QVERIFY(pressOptocoreUpdate(box));
        QTRY_VERIFY2_WITH_TIMEOUT(texts(messages).contains(QStringLiteral("Optocore updated successfully")),
                                  qPrintable(texts(messages).join(" | ")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(card.firmware().state().optocore.version, QByteArray("OCM 5.00 b2401"), 3000);
    } else {
        QVERIFY(press(form, button));
        QTRY_VERIFY2_WITH_TIMEOUT(finished.contains(QVariantList{true}), qPrintable(texts(messages).join(" | ")),
                                  15000);
        QCOMPARE(card.firmware().installedFpgaImage(), NewFpga);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), QStringLiteral("2031/12/24"), 5000);
    }
}

QTEST_MAIN(E2eFaultsUpdateTest)
#include "tst_e2e_faults_update.moc"
