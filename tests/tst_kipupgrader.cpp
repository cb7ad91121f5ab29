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

// Installs the files in the program's folder: code version -1 and a null FPGA date mean
// no file; an empty FPGA date an image without one.
void installFirmware(int codeVersion, const QByteArray &fpgaDate)
{
    if (codeVersion >= 0)
        writeFile(appFile(codeName), UpdateTest::codeImage(quint8(codeVersion), 60));
    if (!fpgaDate.isNull())
        writeFile(appFile(fpgaName), fpgaDate.isEmpty() ? QByteArray(80, char(0x11)) : UpdateTest::fpgaImage(fpgaDate, 80));
}

// Fires a running single-shot timer at once instead of waiting for it.
bool fire(QTimer *timer, int expectedInterval)
{
    if (!timer->isActive() || timer->interval() != expectedInterval)
        return false;
    timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

// One slot: a card port that has never been opened, fed the card's reports directly,
// and the upgrader bound to it.
struct Slot
{
    Slot()
        : upgrader(&port, nullptr), arm(&upgrader, &KipUpgrader::startARMUpdate),
          fpga(&upgrader, &KipUpgrader::startFPGAUpdate), progress(&upgrader, &KipUpgrader::updateProgress),
          finished(&upgrader, &KipUpgrader::updateFinished), status(&port, &KipPort::statusMessage)
    {
    }
    void cardReports(int cardType, int firmwareVersion, const QByteArray &fpga)
    {
        UiTest::deliverKipStatus(&port, cardType, quint8(firmwareVersion), 40, fpga);
    }
    QList<int> progressValues() const
    {
        QList<int> values;
        for (const QList<QVariant> &args : progress)
            values.append(args.at(0).toInt());
        return values;
    }
    // A Hydra card on older code and FPGA than the files, updated as required, until the
    // port has taken the code stage. The probe of every connection ends "unsuccessfully"
    // with a card in its application: not the upgrader's, neither before it started nor
    // before the port took the stage.
    void startTwoStages()
    {
        installFirmware(12, "2015/01/02");
        cardReports(KipPort::Hydra, 3, "2014/06/15");
        emit port.updateFinished(false);
        upgrader.upgradeAsRequired();
        emit port.updateFinished(false);
        QCOMPARE(finished.count(), 0);
        QVERIFY(upgrader.isUpdating());
        QCoreApplication::processEvents();
    }

    KipPort port{nullptr, 0};
    KipUpgrader upgrader;
    QSignalSpy arm;
    QSignalSpy fpga;
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy status;
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

    void fileNames_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("fpga");
        QTest::newRow("madi bnc") << 20 << "quorix_kip_madi.bin" << "quorix_kip_madi_fpga.bit";
        QTest::newRow("aes") << 23 << "quorix_kip.bin" << "quorix_kip_aes_fpga.bit";
        QTest::newRow("optocore") << 28 << "quorix_kip_optocore.bin" << "quorix_kip_optocore_fpga.bit";
        QTest::newRow("no card") << 0 << "quorix_kip.bin" << "";
        QTest::newRow("unknown type") << 30 << "quorix_kip.bin" << "";
    }
    void fileNames()
    {
        QFETCH(int, cardType);
        QFETCH(QString, code);
        QFETCH(QString, fpga);
        QCOMPARE(KipUpgrader::codeFileName(cardType), code);
        QCOMPARE(KipUpgrader::fpgaFileName(cardType), fpga);
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
        QTest::newRow("date in a header") << UpdateTest::fpgaImage("2014/06/15", 60) << 0 << "2014/06/15";
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
        installFirmware(21, QByteArray());
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

    void upgradeAsRequired_data()
    {
        QTest::addColumn<int>("cardCode");
        QTest::addColumn<QByteArray>("cardFpga");
        QTest::addColumn<int>("fileCode");        // -1: no code file
        QTest::addColumn<QByteArray>("fileFpga"); // null: no FPGA file, empty: no date in it
        QTest::addColumn<QString>("started");     // "code", "fpga" or ""
        QTest::addColumn<bool>("recommended");
        const QByteArray older("2014/06/15");
        const QByteArray newer("2015/01/02");
        QTest::newRow("newer code") << 3 << older << 12 << older << "code" << true;
        QTest::newRow("card version 0 never updated by itself") << 0 << older << 12 << older << "" << true;
        QTest::newRow("same versions") << 12 << older << 12 << older << "" << false;
        QTest::newRow("older code file") << 13 << older << 12 << QByteArray() << "" << false;
        QTest::newRow("later FPGA date") << 12 << older << 12 << newer << "fpga" << true;
        QTest::newRow("earlier FPGA date") << 12 << newer << 12 << older << "" << false;
        QTest::newRow("FPGA file without a date") << 12 << older << 12 << QByteArray("") << "" << false;
        QTest::newRow("both newer: code first") << 3 << older << 12 << newer << "code" << true;
        QTest::newRow("no files at all") << 3 << older << -1 << QByteArray() << "" << false;
    }
    void upgradeAsRequired()
    {
        QFETCH(int, cardCode);
        QFETCH(QByteArray, cardFpga);
        QFETCH(int, fileCode);
        QFETCH(QByteArray, fileFpga);
        QFETCH(QString, started);
        QFETCH(bool, recommended);
        installFirmware(fileCode, fileFpga);
        Slot slot;
        slot.cardReports(KipPort::Hydra, cardCode, cardFpga);
        QCOMPARE(slot.upgrader.updateRecommended(), recommended);

        slot.upgrader.upgradeAsRequired();
        QCOMPARE(slot.arm.count(), started == "code" ? 1 : 0);
        QCOMPARE(slot.fpga.count(), started == "fpga" ? 1 : 0);
        if (started == "code")
            QCOMPARE(slot.arm.at(0).at(0).toString(), appFile(codeName));
        if (started == "fpga")
            QCOMPARE(slot.fpga.at(0).at(0).toString(), appFile(fpgaName));
        if (started.isEmpty()) {
            // Nothing to do still ends the wait of whoever asked, after the call returned.
            QCOMPARE(slot.finished.count(), 0);
            QVERIFY(slot.finished.wait(1000));
            QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
        }
    }

    // Code, a pause while the card restarts, then the FPGA, with the progress of both on
    // one scale. Results that are not the running stage's are ignored.
    void twoStageRun_data()
    {
        QTest::addColumn<bool>("cardRestarts");
        QTest::newRow("card type cleared by the restart") << true;
        QTest::newRow("card type still known") << false;
    }
    void twoStageRun()
    {
        QFETCH(bool, cardRestarts);
        Slot slot;
        slot.startTwoStages();
        QCOMPARE(slot.arm.count(), 1);
        for (int percent : {0, 37, 100})
            emit slot.port.updateProgress(percent);
        emit slot.port.updateFinished(true);
        QCOMPARE(slot.upgrader.stage(), 1);
        // Between the stages the port probes the restarted card; that result is not ours.
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished.count(), 0);

        if (cardRestarts) {
            slot.cardReports(KipPort::NoCard, 0, "");
            QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
            QVERIFY(!slot.upgrader.fpgaDelayTimer()->isActive());
            slot.cardReports(KipPort::Hydra, 12, "2014/06/15");
        } else {
            QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
        }
        QCOMPARE(slot.fpga.count(), 0);
        QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
        QCOMPARE(slot.fpga.count(), 1);
        QCOMPARE(slot.fpga.at(0).at(0).toString(), appFile(fpgaName));

        for (int percent : {0, 51, 100})
            emit slot.port.updateProgress(percent);
        QCOMPARE(slot.progressValues(), (QList<int>{0, 18, 50, 50, 75, 100}));
        // A result while the port still holds its downloader is not the download's.
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished.count(), 0);
        slot.port.finishFpgaUpdate(true); // the downloader goes, the result comes later
        emit slot.port.updateFinished(true);
        QCOMPARE(slot.finished.count(), 1);
        QCOMPARE(slot.finished.at(0).at(0).toBool(), true);
        QCOMPARE(slot.arm.count(), 1);
    }

    // A failed stage ends the run once; the next update is a single stage of its own:
    // full-scale progress, and no FPGA stage tacked on after it.
    void failedStageEndsRun_data()
    {
        QTest::addColumn<bool>("failInFpgaStage");
        QTest::newRow("code stage fails") << false;
        QTest::newRow("FPGA stage fails") << true;
    }
    void failedStageEndsRun()
    {
        QFETCH(bool, failInFpgaStage);
        Slot slot;
        slot.startTwoStages();
        emit slot.port.updateProgress(100);
        if (failInFpgaStage) {
            emit slot.port.updateFinished(true);
            QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
            QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
            QCOMPARE(slot.fpga.count(), 1);
            slot.port.finishFpgaUpdate(false);
        } else {
            emit slot.port.updateFinished(false);
        }
        emit slot.port.updateFinished(false);
        QCOMPARE(slot.finished.count(), 1);
        QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
        QVERIFY(!slot.upgrader.fpgaDelayTimer()->isActive());

        slot.progress.clear();
        slot.upgrader.upgradeCode();
        QCoreApplication::processEvents();
        emit slot.port.updateProgress(80);
        emit slot.port.updateFinished(true);
        QCOMPARE(slot.progressValues(), QList<int>{80});
        QCOMPARE(slot.finished.count(), 2);
        QCOMPARE(slot.finished.at(1).at(0).toBool(), true);
        QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
    }

    // Reported after the call returned, so the caller shows its wait first.
    void refusedFiles_data()
    {
        QTest::addColumn<bool>("code");
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<QString>("status");
        QTest::newRow("empty code file") << true << QByteArray("") << "Code file is empty: " + appFile(codeName);
        QTest::newRow("no code file") << true << QByteArray() << "Code file not found: " + codeName;
        QTest::newRow("empty FPGA file") << false << QByteArray("") << "FPGA file is empty: " + appFile(fpgaName);
        QTest::newRow("no FPGA file") << false << QByteArray() << "FPGA file not found: " + fpgaName;
    }
    void refusedFiles()
    {
        QFETCH(bool, code);
        QFETCH(QByteArray, contents);
        QFETCH(QString, status);
        if (!contents.isNull())
            writeFile(appFile(code ? codeName : fpgaName), contents);
        Slot slot;
        QSignalSpy started(&slot.upgrader, &KipUpgrader::updateStarted);
        slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
        if (code)
            slot.upgrader.upgradeCode();
        else
            slot.upgrader.upgradeFPGA();
        QCOMPARE(slot.finished.count(), 0);
        QVERIFY(slot.finished.wait(1000));
        QCOMPARE(slot.finished.count(), 1);
        QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
        QCOMPARE(slot.status.last().at(0).toString(), status);
        QCOMPARE(slot.arm.count() + slot.fpga.count() + started.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestKipUpgrader)
#include "tst_kipupgrader.moc"
