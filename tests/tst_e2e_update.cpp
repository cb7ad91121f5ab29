// Firmware updates started from the slot form's update page, end to end: the page, its
// upgrader and the card port against a simulated card over a real pseudo-terminal, in
// real time. An update that succeeds ends once, as a success, leaves the card running
// the files' versions and the page without its recommendation.
#include "support/builtinfirmware.h"
#include "support/faultrig.h"

#include "link/kipport.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

using EMS::KipForm;
using EMS::KipPort;
using EMS::KipUpgrader;
using FaultTest::SimulatedBox;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QStringList SuccessTexts{"Code update successful", "FPGA update successful", "Update successful. Resetting"};

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).toString();
    return list;
}

// Non-decreasing and ending at 100.
bool risesTo100(const QSignalSpy &spy)
{
    int last = -1;
    for (const QList<QVariant> &call : spy) {
        if (call.at(0).toInt() < last)
            return false;
        last = call.at(0).toInt();
    }
    return last == 100;
}

} // namespace

class E2eUpdateTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
        // The card runs code 12 and FPGA 2014/05/12; small files keep the runs short.
        QVERIFY2(firmware.install({{"quorix_kip_madi.bin", UpdateTest::codeImage(13, 300)},
                                   {"quorix_kip_madi_fpga.bit", UpdateTest::fpgaImage("2019/01/01", 600)}}),
                 qPrintable(firmware.errorString()));
    }

    void updatesFromThePage_data()
    {
        QTest::addColumn<QString>("buttonName");
        QTest::addColumn<QString>("code"); // running after the update
        QTest::addColumn<QString>("fpga");
        QTest::addColumn<QStringList>("results"); // the success texts, each once
        const QStringList code{"Update successful. Resetting", "Code update successful"};
        QTest::newRow("code") << "codeUpdateButton" << "13" << "2014/05/12" << code;
        QTest::newRow("FPGA") << "fpgaUpdateButton" << "12" << "2019/01/01" << QStringList{"FPGA update successful"};
        QTest::newRow("all if required") << "updateRequiredButton" << "13" << "2019/01/01"
                                         << code + QStringList{"FPGA update successful"};
    }
    void updatesFromThePage()
    {
        QFETCH(QString, buttonName);
        QFETCH(QString, code);
        QFETCH(QString, fpga);
        QFETCH(QStringList, results);
        SimulatedBox box({KipPort::MadiBnc});
        KipPort &port = box.port(0);
        KipForm &form = box.form(0);
        QSignalSpy portFinished(&port, &KipPort::updateFinished);
        QSignalSpy status(&port, &KipPort::statusMessage);
        QSignalSpy finished(form.cardUpgrader(), &KipUpgrader::updateFinished);
        QSignalSpy progress(form.cardUpgrader(), &KipUpgrader::updateProgress);
        auto *tabs = form.findChild<QTabWidget *>("tabWidget");
        const int updateTab = tabs->indexOf(form.findChild<QWidget *>("updateTab"));
        QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), ConnectTimeoutMs);
        // Opening the port probed the card, which runs its application: the port reports
        // that probe as an unsuccessful update, once, and the page takes no notice.
        QCOMPARE(portFinished, QList<QVariantList>{{false}});
        QCOMPARE(finished.count(), 0);
        QCOMPARE(tabs->tabText(updateTab), QStringLiteral("Update Code *"));
        // The FPGA stage must find the card back with its new code.
        QList<int> cardTypeAtFpgaStart;
        connect(form.cardUpgrader(), &KipUpgrader::startFPGAUpdate, this, [&] { cardTypeAtFpgaStart << port.cardType(); });
        form.findChild<QPushButton *>(buttonName)->click();
        QVERIFY(form.isShowingUpdate());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 30000);
        QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(texts(status).join(" | ")));
        QVERIFY(!form.isShowingUpdate());
        QVERIFY(form.findChild<QLabel *>("updatingLabel")->text().isEmpty());
        QVERIFY(risesTo100(progress));
        if (results.size() == 3) {
            // Code 0-50, a rest at 50 while the card restarts, then the FPGA 50-100.
            QVERIFY(progress.contains(QVariantList{50}));
            QVERIFY(progress.first().at(0).toInt() < 50);
            QCOMPARE(cardTypeAtFpgaStart, QList<int>{KipPort::MadiBnc});
        }
        // The restarted card reports what the files hold; the recommendation goes once
        // the card runs both.
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "firmwareVersionLabel"), code, ConnectTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(box.label(0, "fpgaVersionLabel"), fpga, ConnectTimeoutMs);
        const bool stillRecommended = results.size() < 3;
        QCOMPARE(tabs->tabText(updateTab), stillRecommended ? QStringLiteral("Update Code *") : QStringLiteral("Update Code"));
        QCOMPARE(form.findChild<QPushButton *>("updateRequiredButton")->isEnabled(), stillRecommended);
        QVERIFY(form.findChild<QPushButton *>("codeUpdateButton")->isEnabled());
        // Ended once: no second result from a card probed twice after its reset, no
        // failure from the watchdog or the port.
        QTest::qWait(1500);
        QCOMPARE(finished.count(), 1);
        for (const QString &text : SuccessTexts)
            QVERIFY2(texts(status).count(text) == int(results.contains(text)), qPrintable(texts(status).join(" | ")));
        QVERIFY(!texts(status).contains("update failed"));
        QVERIFY(!portFinished.mid(1).contains(QVariantList{false}));
    }
};

QTEST_MAIN(E2eUpdateTest)
#include "tst_e2e_update.moc"
