// Updates started from the update page against a simulated card over a real
// pseudo-terminal, in real time: a successful update ends once, as a success, and leaves
// the card running the files' versions and the page without its recommendation.
#include "support/builtinfirmware.h"
#include "support/faultrig.h"

#include "link/kipport.h"
#include "ui/kipform.h"
#include "update/kipupgrader.h"

#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace EMS;

static QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list << call.at(0).toString();
    return list;
}

class E2eUpdateTest : public QObject
{
    Q_OBJECT

    UpdateTest::BuiltInFirmware firmware;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
        // The card runs code 12 and FPGA 2014/05/12.
        QVERIFY(firmware.install({{"quorix_kip_madi.bin", UpdateTest::codeImage(13, 300)},
                                  {"quorix_kip_madi_fpga.bit", UpdateTest::fpgaImage("2019/01/01", 600)}}));
    }

    void updatesFromThePage_data()
    {
        QTest::addColumn<QString>("buttonName");
        QTest::addColumn<QString>("running"); // code and FPGA after the update
        QTest::addColumn<QStringList>("results"); // the success texts, each once
        const QStringList code{"Update successful. Resetting", "Code update successful"};
        QTest::newRow("code") << "codeUpdateButton" << "13 2014/05/12" << code;
        QTest::newRow("FPGA") << "fpgaUpdateButton" << "12 2019/01/01" << QStringList{"FPGA update successful"};
        QTest::newRow("all if required") << "updateRequiredButton" << "13 2019/01/01"
                                         << code + QStringList{"FPGA update successful"};
    }
    void updatesFromThePage()
    {
        QFETCH(QString, buttonName);
        QFETCH(QString, running);
        QFETCH(QStringList, results);
        FaultTest::SimulatedBox box({KipPort::MadiBnc});
        KipPort &port = box.port(0);
        KipForm &form = box.form(0);
        QSignalSpy portFinished(&port, &KipPort::updateFinished), status(&port, &KipPort::statusMessage);
        QSignalSpy finished(form.cardUpgrader(), &KipUpgrader::updateFinished);
        QSignalSpy progress(form.cardUpgrader(), &KipUpgrader::updateProgress);
        QTRY_VERIFY_WITH_TIMEOUT(box.isShowing(0, KipPort::MadiBnc), 10000);
        // The probe of the card's application on opening ends "unsuccessfully", once: not the page's.
        QCOMPARE(portFinished, QList<QVariantList>{{false}});
        QCOMPARE(finished.count(), 0);
        QList<int> cardTypeAtFpgaStart; // the FPGA stage must find the card back with its new code
        connect(form.cardUpgrader(), &KipUpgrader::startFPGAUpdate, this,
                [&] { cardTypeAtFpgaStart << port.cardType(); });
        form.findChild<QPushButton *>(buttonName)->click();
        QVERIFY(form.isShowingUpdate());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 30000);
        QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(texts(status).join(" | ")));
        QVERIFY(!form.isShowingUpdate());
        QList<int> percents;
        for (const QList<QVariant> &call : progress)
            percents << call.at(0).toInt();
        QVERIFY(std::is_sorted(percents.begin(), percents.end()) && percents.last() == 100);
        if (results.size() == 3) { // code 0-50, a rest at 50 while the card restarts, the FPGA 50-100
            QVERIFY(percents.first() < 50 && percents.contains(50));
            QCOMPARE(cardTypeAtFpgaStart, QList<int>{KipPort::MadiBnc});
        }
        const auto shown = [&box] { return box.label(0, "firmwareVersionLabel") + ' ' + box.label(0, "fpgaVersionLabel"); };
        QTRY_COMPARE_WITH_TIMEOUT(shown(), running, 10000);
        QCOMPARE(form.findChild<QPushButton *>("updateRequiredButton")->isEnabled(), results.size() < 3);
        QVERIFY(form.findChild<QPushButton *>("codeUpdateButton")->isEnabled());
        // Ended once: no second result from a card probed twice after its reset, no failure.
        QTest::qWait(1500);
        QCOMPARE(finished.count(), 1);
        for (const char *text : {"Code update successful", "FPGA update successful", "Update successful. Resetting"})
            QVERIFY2(texts(status).count(text) == int(results.contains(text)), qPrintable(texts(status).join(" | ")));
        QVERIFY(!texts(status).contains("update failed"));
        QVERIFY(!portFinished.mid(1).contains(QVariantList{false}));
    }
};

QTEST_MAIN(E2eUpdateTest)
#include "tst_e2e_update.moc"
