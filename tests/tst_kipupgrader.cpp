#include "support/builtinfirmware.h"
#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "update/kipupgrader.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QtTest>

using EMS::KipPort;
using EMS::KipUpgrader;

namespace {

// The Hydra files: no other test of the controller puts these in the program's folder.
const QString codeName = QStringLiteral("quorix_kip_hydra.bin");
const QString fpgaName = QStringLiteral("quorix_kip_hydra_fpga.bit");

QString appFile(const QString &name)
{
    return QFileInfo(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name).absoluteFilePath();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Fires a running single-shot timer at once instead of waiting for it.
bool fire(QTimer *timer, int expectedInterval)
{
    if (!timer->isActive() || timer->interval() != expectedInterval)
        return false;
    timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

// One slot: a card port that has never been opened, fed the card's reports directly, and
// the upgrader bound to it.
struct Slot
{
    void cardReports(int cardType, int firmwareVersion, const QByteArray &fpga)
    {
        UiTest::deliverKipStatus(&port, cardType, quint8(firmwareVersion), 40, fpga);
    }
    // A Hydra card on older code and FPGA than the files, updated as required, until the
    // port has taken the code stage. The probe of every connection ends "unsuccessfully"
    // with a card in its application: not the upgrader's, neither before it started nor
    // before the port took the stage.
    void startTwoStages()
    {
        writeFile(appFile(codeName), UpdateTest::codeImage(12, 60));
        writeFile(appFile(fpgaName), UpdateTest::fpgaImage("2015/01/02", 80));
        cardReports(KipPort::Hydra, 3, "2014/06/15");
        emit port.updateFinished(false);
        upgrader.upgradeAsRequired();
        emit port.updateFinished(false);
        QCOMPARE(finished.count(), 0);
        QVERIFY(upgrader.isUpdating());
        QCoreApplication::processEvents();
    }

    KipPort port{nullptr, 0};
    KipUpgrader upgrader{&port, nullptr};
    QSignalSpy arm{&upgrader, &KipUpgrader::startARMUpdate}, fpga{&upgrader, &KipUpgrader::startFPGAUpdate};
    QSignalSpy progress{&upgrader, &KipUpgrader::updateProgress}, finished{&upgrader, &KipUpgrader::updateFinished};
    QSignalSpy started{&upgrader, &KipUpgrader::updateStarted}, status{&port, &KipPort::statusMessage};
};

} // namespace

class TestKipUpgrader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void cleanup()
    {
        QFile::remove(appFile(codeName));
        QFile::remove(appFile(fpgaName));
    }

    void fileNames()
    {
        const auto names = [](int card) {
            return KipUpgrader::codeFileName(card) + ' ' + KipUpgrader::fpgaFileName(card);
        };
        QCOMPARE(names(KipPort::MadiBnc), QString("quorix_kip_madi.bin quorix_kip_madi_fpga.bit"));
        QCOMPARE(names(KipPort::Aes), QString("quorix_kip.bin quorix_kip_aes_fpga.bit"));
        QCOMPARE(names(30), QString("quorix_kip.bin ")); // an unknown card type
    }

    void versionMarks_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("fpga");
        QTest::newRow("separator then 0x0C") << QByteArray("abc version \x0c rest") << 12 << "";
        QTest::newRow("read unsigned") << QByteArray("version:\xfe") << 254 << "";
        QTest::newRow("first mark counts") << QByteArray("version 5 version 9") << int('5') << "";
        QTest::newRow("case matters") << QByteArray("Version \x07 ...") << 0 << "";
        QTest::newRow("mark at the very end") << QByteArray("xxversion") << 0 << "";
        QTest::newRow("no version byte") << QByteArray("xxversion ") << 0 << "";
        QTest::newRow("empty file") << QByteArray() << 0 << "";
        QTest::newRow("ten bytes only") << QByteArray("..2014/06/15123") << 0 << "2014/06/15";
        QTest::newRow("cut at a zero byte") << QByteArray("xx2015/3\0\0\0\0", 12) << 0 << "2015/3";
        QTest::newRow("slash within the first four bytes") << QByteArray("14/06/15abcdef") << 0 << "14/06/15";
        QTest::newRow("slash near the end") << QByteArray("abc2016/0") << 0 << "2016/0";
    }
    void versionMarks()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, code);
        QFETCH(QString, fpga);
        QCOMPARE(KipUpgrader::codeVersionOf(contents), code);
        QCOMPARE(KipUpgrader::fpgaVersionOf(contents), fpga);
    }

    // The program's folder first, then the built-in files.
    void lookupOrder()
    {
        UpdateTest::BuiltInFirmware firmware;
        QVERIFY2(firmware.install({{codeName, UpdateTest::codeImage(7, 60)}}), qPrintable(firmware.errorString()));
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

    // What the card runs against the files decides what an update as required starts.
    // Nothing started, and files refused by a single update, still end the wait of whoever
    // asked, after the call returned.
    void starts_data()
    {
        QTest::addColumn<int>("cardCode");
        QTest::addColumn<QByteArray>("cardFpga");
        QTest::addColumn<QByteArray>("codeFile"); // null: none
        QTest::addColumn<QByteArray>("fpgaFile");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("started"); // "code", "fpga" or ""
        QTest::addColumn<bool>("recommended");
        QTest::addColumn<QString>("status");
        const auto row = [](const char *name, int cardCode, const QByteArray &cardFpga, const QByteArray &code,
                            const QByteArray &fpga, const QString &started, bool recommended,
                            const QString &action = "required", const QString &status = QString()) {
            QTest::newRow(name) << cardCode << cardFpga << code << fpga << action << started << recommended << status;
        };
        const QByteArray older("2014/06/15"), newer("2015/01/02"), none, empty("");
        const QByteArray code = UpdateTest::codeImage(12, 60), fpgaOlder = UpdateTest::fpgaImage(older, 80);
        const QByteArray fpgaNewer = UpdateTest::fpgaImage(newer, 80);
        row("newer code", 3, older, code, fpgaOlder, "code", true);
        row("card version 0 never updated by itself", 0, older, code, fpgaOlder, "", true);
        row("same versions", 12, older, code, fpgaOlder, "", false);
        row("older code file", 13, older, code, none, "", false);
        row("later FPGA date", 12, older, code, fpgaNewer, "fpga", true);
        row("earlier FPGA date", 12, newer, code, fpgaOlder, "", false);
        row("FPGA file without a date", 12, older, code, QByteArray(80, char(0x11)), "", false);
        row("both newer: code first", 3, older, code, fpgaNewer, "code", true);
        row("no files at all", 3, older, none, none, "", false);
        row("empty code file", 3, older, empty, none, "", false, "code", "Code file is empty: " + appFile(codeName));
        row("no code file", 3, older, none, none, "", false, "code", "Code file not found: " + codeName);
        row("empty FPGA file", 3, older, none, empty, "", false, "fpga", "FPGA file is empty: " + appFile(fpgaName));
        row("no FPGA file", 3, older, none, none, "", false, "fpga", "FPGA file not found: " + fpgaName);
    }
    void starts()
    {
        QFETCH(int, cardCode);
        QFETCH(QByteArray, cardFpga);
        QFETCH(QByteArray, codeFile);
        QFETCH(QByteArray, fpgaFile);
        QFETCH(QString, action);
        QFETCH(QString, started);
        QFETCH(bool, recommended);
        QFETCH(QString, status);
        if (!codeFile.isNull())
            writeFile(appFile(codeName), codeFile);
        if (!fpgaFile.isNull())
            writeFile(appFile(fpgaName), fpgaFile);
        Slot slot;
        slot.cardReports(KipPort::Hydra, cardCode, cardFpga);
        QCOMPARE(slot.upgrader.updateRecommended(), recommended);
        if (action == "code")
            slot.upgrader.upgradeCode();
        else if (action == "fpga")
            slot.upgrader.upgradeFPGA();
        else
            slot.upgrader.upgradeAsRequired();
        QCOMPARE(slot.arm, started == "code" ? QList<QVariantList>{{appFile(codeName)}} : QList<QVariantList>());
        QCOMPARE(slot.fpga, started == "fpga" ? QList<QVariantList>{{appFile(fpgaName)}} : QList<QVariantList>());
        if (!started.isEmpty())
            return;
        QCOMPARE(slot.finished.count(), 0);
        QVERIFY(slot.finished.wait(1000));
        QCOMPARE(slot.finished, QList<QVariantList>{{false}});
        QCOMPARE(slot.started.count(), 0);
        if (!status.isEmpty())
            QCOMPARE(slot.status.last().at(0).toString(), status);
    }

    // Code, a pause while the card restarts, then the FPGA, with the progress of both on one
    // scale; results that are not the running stage's are ignored, and the run ends once.
    // The next update is a single stage of its own: full-scale progress, no FPGA stage after.
    void twoStages_data()
    {
        QTest::addColumn<bool>("cardRestarts");
        QTest::addColumn<int>("failingStage"); // 0: none, 1: code, 2: FPGA
        QTest::newRow("card type cleared by the restart") << true << 0;
        QTest::newRow("card type still known") << false << 0;
        QTest::newRow("code stage fails") << false << 1;
        QTest::newRow("FPGA stage fails") << false << 2;
    }
    void twoStages()
    {
        QFETCH(bool, cardRestarts);
        QFETCH(int, failingStage);
        Slot slot;
        slot.startTwoStages();
        QCOMPARE(slot.arm.count(), 1);
        for (int percent : {0, 37, 100})
            emit slot.port.updateProgress(percent);
        emit slot.port.updateFinished(failingStage != 1);
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
            if (failingStage == 0)
                emit slot.port.updateFinished(true);
        }
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished, QList<QVariantList>{{failingStage == 0}});
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive() && !slot.upgrader.fpgaDelayTimer()->isActive());

        slot.progress.clear();
        slot.upgrader.upgradeCode();
        QCoreApplication::processEvents();
        emit slot.port.updateProgress(80);
        emit slot.port.updateFinished(true);
        QCOMPARE(slot.progress, QList<QVariantList>{{80}});
        QCOMPARE(slot.finished, (QList<QVariantList>{{failingStage == 0}, {true}}));
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
        QCOMPARE(slot.arm.count(), 2);
        QCOMPARE(slot.fpga.count(), failingStage == 1 ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestKipUpgrader)
#include "tst_kipupgrader.moc"
