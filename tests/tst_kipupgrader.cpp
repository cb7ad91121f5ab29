#include "link/kipport.h"
#include "update/kipupgrader.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using EMS::KipPort;
using EMS::KipUpgrader;

namespace {

// The Hydra files: no other test of the controller puts these in the program's folder.
const QString codeName = QStringLiteral("quorix_kip_hydra.bin");
const QString fpgaName = QStringLiteral("quorix_kip_hydra_fpga.bit");

QString appFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray codeImage(int version)
{
    QByteArray image("\x7f\x01\x02header ");
    image += "version";
    image += ' ';
    image += char(version);
    image += QByteArray(40, char(0x5A));
    return image;
}

QByteArray fpgaImage(const QByteArray &date)
{
    return QByteArray("\x00\x09\x0f\xf0", 4) + "xilinx" + QByteArray(1, '\0') + date
           + QByteArray(1, '\0') + QByteArray(64, char(0xFF));
}

// A "kip status" reply as the card sends it.
QByteArray statusFrame(int cardType, int firmwareVersion, const QByteArray &fpgaText)
{
    QByteArray payload;
    payload += char(cardType);
    payload += char(firmwareVersion);
    payload += char(40);
    payload += fpgaText.left(10).leftJustified(10, '\0');
    QByteArray frame;
    frame += char(3 + payload.size());
    frame += char(30);
    frame += char(0);
    frame += payload;
    quint8 sum = 0;
    for (char byte : frame)
        sum = quint8(sum + quint8(byte));
    frame += char(sum);
    return frame;
}

// Fires a running single-shot timer at once instead of waiting for it.
bool fire(QTimer *timer, int expectedInterval)
{
    if (!timer->isActive() || timer->interval() != expectedInterval)
        return false;
    timer->stop();
    return QMetaObject::invokeMethod(timer, "timeout");
}

QList<int> ints(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &args : spy)
        values.append(args.at(0).toInt());
    return values;
}

// One slot: a card port that has never been opened, fed the card's replies directly,
// and the upgrader bound to it.
struct Slot
{
    Slot()
        : upgrader(&port, nullptr),
          arm(&upgrader, &KipUpgrader::startARMUpdate),
          fpga(&upgrader, &KipUpgrader::startFPGAUpdate),
          progress(&upgrader, &KipUpgrader::updateProgress),
          finished(&upgrader, &KipUpgrader::updateFinished),
          status(&port, &KipPort::statusMessage)
    {
    }

    void cardReports(int cardType, int firmwareVersion, const QByteArray &fpgaText)
    {
        port.receiveKipData(statusFrame(cardType, firmwareVersion, fpgaText));
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
    void cleanup();
    void fileNames_data();
    void fileNames();
    void codeVersionMark_data();
    void codeVersionMark();
    void fpgaVersionMark_data();
    void fpgaVersionMark();
    void lookupOrder_data();
    void lookupOrder();
    void upgradeAsRequired_data();
    void upgradeAsRequired();
    void twoStageRun_data();
    void twoStageRun();
    void failedStageEndsRun_data();
    void failedStageEndsRun();
    void resultsOfOtherUpdatesIgnored();
    void refusedBeforeCard_data();
    void refusedBeforeCard();

private:
    void installFirmware(int codeVersion, const QByteArray &fpgaDate);
};

void TestKipUpgrader::cleanup()
{
    QFile::remove(appFile(codeName));
    QFile::remove(appFile(fpgaName));
}

void TestKipUpgrader::installFirmware(int codeVersion, const QByteArray &fpgaDate)
{
    if (codeVersion >= 0)
        writeFile(appFile(codeName), codeImage(codeVersion));
    if (!fpgaDate.isNull())
        writeFile(appFile(fpgaName), fpgaImage(fpgaDate));
}

void TestKipUpgrader::fileNames_data()
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

void TestKipUpgrader::fileNames()
{
    QFETCH(int, cardType);
    QFETCH(QString, code);
    QFETCH(QString, fpga);
    QCOMPARE(KipUpgrader::codeFileName(cardType), code);
    QCOMPARE(KipUpgrader::fpgaFileName(cardType), fpga);
}

void TestKipUpgrader::codeVersionMark_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("version");

    QTest::newRow("separator then 0x0C") << QByteArray("abc version \x0c rest") << 12;
    QTest::newRow("read unsigned") << QByteArray("version:\xfe") << 254;
    QTest::newRow("first mark counts") << QByteArray("version 5 version 9") << int('5');
    QTest::newRow("no mark") << QByteArray("Version \x07 ...") << 0;
    QTest::newRow("mark at the very end") << QByteArray("xxversion") << 0;
    QTest::newRow("separator but no version byte") << QByteArray("xxversion ") << 0;
    QTest::newRow("empty file") << QByteArray() << 0;
}

void TestKipUpgrader::codeVersionMark()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, version);
    QCOMPARE(KipUpgrader::codeVersionOf(contents), version);
}

void TestKipUpgrader::fpgaVersionMark_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("version");

    QTest::newRow("date in a header") << fpgaImage("2014/06/15") << "2014/06/15";
    QTest::newRow("ten bytes only") << QByteArray("..2014/06/15123") << "2014/06/15";
    QTest::newRow("cut at a zero byte") << QByteArray("xx2015/3\0\0\0\0", 12) << "2015/3";
    QTest::newRow("slash within the first four bytes") << QByteArray("14/06/15abcdef") << "14/06/15";
    QTest::newRow("slash near the end") << QByteArray("abc2016/0") << "2016/0";
    QTest::newRow("no slash") << QByteArray("no date here\0", 13) << "";
}

void TestKipUpgrader::fpgaVersionMark()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, version);
    QCOMPARE(KipUpgrader::fpgaVersionOf(contents), version);
}

void TestKipUpgrader::lookupOrder_data()
{
    QTest::addColumn<bool>("inFolder");
    QTest::addColumn<bool>("inResources");
    QTest::addColumn<QString>("found"); // "folder", "resources" or ""
    QTest::addColumn<int>("version");

    QTest::newRow("program folder wins") << true << true << "folder" << 21;
    QTest::newRow("resources as fallback") << false << true << "resources" << 7;
    QTest::newRow("nowhere") << false << false << "" << 0;
}

void TestKipUpgrader::lookupOrder()
{
    QFETCH(bool, inFolder);
    QFETCH(bool, inResources);
    QFETCH(QString, found);
    QFETCH(int, version);

    // Built-in firmware, compiled the way the program's own resources are.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString rcc = QLibraryInfo::location(QLibraryInfo::BinariesPath) + "/rcc";
    if (!QFile::exists(rcc))
        rcc = QStandardPaths::findExecutable("rcc");
    if (rcc.isEmpty())
        QSKIP("rcc is needed to build a resource file");
    writeFile(dir.filePath(codeName), codeImage(7));
    writeFile(dir.filePath("test.qrc"),
              "<RCC><qresource prefix=\"/firmware\"><file>" + codeName.toLatin1()
                  + "</file></qresource></RCC>");
    const QString rccFile = dir.filePath("test.rcc");
    if (inResources) {
        QCOMPARE(QProcess::execute(rcc, {"-binary", dir.filePath("test.qrc"), "-o", rccFile}), 0);
        QVERIFY(QResource::registerResource(rccFile));
    }
    auto unregister = qScopeGuard([&]() {
        if (inResources)
            QResource::unregisterResource(rccFile);
    });
    if (inFolder)
        installFirmware(21, QByteArray());

    Slot slot;
    slot.cardReports(KipPort::Hydra, 3, "2014/01/01");
    const QString expected = found == "folder" ? QFileInfo(appFile(codeName)).absoluteFilePath()
                           : found == "resources" ? ":/firmware/" + codeName
                           : QString();
    QCOMPARE(slot.upgrader.codeFilePath(), expected);
    QCOMPARE(KipUpgrader::findFirmware(codeName), expected);
    QCOMPARE(slot.upgrader.codeVersion(), version);
    QVERIFY(slot.upgrader.fpgaFilePath().isEmpty());
    QCOMPARE(slot.upgrader.fpgaVersion(), QString());

}

void TestKipUpgrader::upgradeAsRequired_data()
{
    QTest::addColumn<int>("cardCode");
    QTest::addColumn<QByteArray>("cardFpga");
    QTest::addColumn<int>("fileCode");      // -1: no code file
    QTest::addColumn<QByteArray>("fileFpga"); // null: no FPGA file
    QTest::addColumn<QString>("started");   // "code", "fpga" or ""
    QTest::addColumn<bool>("recommended");

    QTest::newRow("newer code") << 3 << QByteArray("2014/06/15") << 12 << QByteArray("2014/06/15") << "code" << true;
    QTest::newRow("card version 0 is never updated automatically")
        << 0 << QByteArray("2014/06/15") << 12 << QByteArray("2014/06/15") << "" << true;
    QTest::newRow("same versions") << 12 << QByteArray("2014/06/15") << 12 << QByteArray("2014/06/15") << "" << false;
    QTest::newRow("older code file") << 13 << QByteArray("2014/06/15") << 12 << QByteArray() << "" << false;
    QTest::newRow("later FPGA date") << 12 << QByteArray("2014/06/15") << 12 << QByteArray("2015/01/02") << "fpga" << true;
    QTest::newRow("earlier FPGA date") << 12 << QByteArray("2015/01/02") << 12 << QByteArray("2014/06/15") << "" << false;
    QTest::newRow("FPGA file without version") << 12 << QByteArray("2014/06/15") << 12 << QByteArray("") << "" << false;
    QTest::newRow("both newer: code first") << 3 << QByteArray("2014/06/15") << 12 << QByteArray("2015/01/02") << "code" << true;
    QTest::newRow("no files at all") << 3 << QByteArray("2014/06/15") << -1 << QByteArray() << "" << false;
}

void TestKipUpgrader::upgradeAsRequired()
{
    QFETCH(int, cardCode);
    QFETCH(QByteArray, cardFpga);
    QFETCH(int, fileCode);
    QFETCH(QByteArray, fileFpga);
    QFETCH(QString, started);
    QFETCH(bool, recommended);

    if (fileCode >= 0)
        writeFile(appFile(codeName), codeImage(fileCode));
    if (!fileFpga.isNull())
        writeFile(appFile(fpgaName), fileFpga.isEmpty() ? QByteArray(80, char(0x11)) : fpgaImage(fileFpga));

    Slot slot;
    slot.cardReports(KipPort::Hydra, cardCode, cardFpga);
    QCOMPARE(slot.upgrader.updateRecommended(), recommended);

    slot.upgrader.upgradeAsRequired();
    QCOMPARE(slot.arm.count(), started == "code" ? 1 : 0);
    QCOMPARE(slot.fpga.count(), started == "fpga" ? 1 : 0);
    if (started == "code")
        QCOMPARE(slot.arm.at(0).at(0).toString(), QFileInfo(appFile(codeName)).absoluteFilePath());
    if (started == "fpga")
        QCOMPARE(slot.fpga.at(0).at(0).toString(), QFileInfo(appFile(fpgaName)).absoluteFilePath());
    if (started.isEmpty()) {
        // Nothing to do still ends the wait of whoever asked.
        QVERIFY(slot.finished.wait(1000));
        QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
    }
}

void TestKipUpgrader::twoStageRun_data()
{
    QTest::addColumn<bool>("cardRestarts");
    QTest::newRow("card type cleared by the restart") << true;
    QTest::newRow("card type still known") << false;
}

void TestKipUpgrader::twoStageRun()
{
    QFETCH(bool, cardRestarts);

    installFirmware(12, "2015/01/02");
    Slot slot;
    slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
    slot.upgrader.upgradeAsRequired();
    QCOMPARE(slot.arm.count(), 1);
    QCOMPARE(slot.fpga.count(), 0);
    QCoreApplication::processEvents(); // the port takes the queued code stage

    for (int percent : {0, 37, 100})
        emit slot.port.updateProgress(percent);
    emit slot.port.updateFinished(true);
    QCOMPARE(slot.upgrader.stage(), 1);
    QCOMPARE(slot.finished.count(), 0);

    // Between the stages the port probes the restarted card; that result is not ours.
    emit slot.port.updateFinished(false);
    QCOMPARE(slot.finished.count(), 0);

    if (cardRestarts) {
        slot.cardReports(KipPort::NoCard, 0, "");
        QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
        QVERIFY(!slot.upgrader.fpgaDelayTimer()->isActive());
        QCOMPARE(slot.fpga.count(), 0);
        slot.cardReports(KipPort::Hydra, 12, "2014/06/15");
    } else {
        QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
    }
    QCOMPARE(slot.fpga.count(), 0);
    QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
    QCOMPARE(slot.fpga.count(), 1);
    QCOMPARE(slot.fpga.at(0).at(0).toString(), QFileInfo(appFile(fpgaName)).absoluteFilePath());

    for (int percent : {0, 51, 100})
        emit slot.port.updateProgress(percent);
    QCOMPARE(ints(slot.progress), (QList<int>{0, 18, 50, 50, 75, 100}));
    QCOMPARE(slot.finished.count(), 0);
    // A result while the port still holds its downloader is not the download's.
    emit slot.port.updateFinished(false);
    QCOMPARE(slot.finished.count(), 0);
    slot.port.finishFpgaUpdate(true); // the card took the image: the downloader goes
    emit slot.port.updateFinished(true);
    QCOMPARE(slot.finished.count(), 1);
    QCOMPARE(slot.finished.at(0).at(0).toBool(), true);
    QCOMPARE(slot.arm.count(), 1);
    QCOMPARE(slot.fpga.count(), 1);
}

void TestKipUpgrader::failedStageEndsRun_data()
{
    QTest::addColumn<bool>("failInFpgaStage");
    QTest::newRow("processor stage fails") << false;
    QTest::newRow("FPGA stage fails") << true;
}

void TestKipUpgrader::failedStageEndsRun()
{
    QFETCH(bool, failInFpgaStage);

    installFirmware(12, "2015/01/02");
    Slot slot;
    slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
    slot.upgrader.upgradeAsRequired();
    QCoreApplication::processEvents();
    emit slot.port.updateProgress(100);
    if (failInFpgaStage) {
        emit slot.port.updateFinished(true);
        QVERIFY(fire(slot.upgrader.stageDelayTimer(), 2000));
        QVERIFY(fire(slot.upgrader.fpgaDelayTimer(), 2000));
        QCOMPARE(slot.fpga.count(), 1);
        emit slot.port.updateProgress(100); // the whole image went out, then the card refused it
        slot.port.finishFpgaUpdate(false); // the port lets go of its downloader and says so
    } else {
        emit slot.port.updateFinished(false);
    }
    QCOMPARE(slot.finished.count(), 1);
    QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
    QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
    QVERIFY(!slot.upgrader.fpgaDelayTimer()->isActive());
    QVERIFY(!slot.upgrader.isUpdating());

    // The next update the user starts is a single stage of its own: full-scale progress,
    // and no FPGA stage tacked on after it.
    slot.progress.clear();
    slot.upgrader.upgradeCode();
    QCoreApplication::processEvents();
    emit slot.port.updateProgress(80);
    emit slot.port.updateFinished(true);
    QCOMPARE(ints(slot.progress), QList<int>{80});
    QCOMPARE(slot.finished.count(), 2);
    QCOMPARE(slot.finished.at(1).at(0).toBool(), true);
    QVERIFY(!slot.upgrader.stageDelayTimer()->isActive());
}

void TestKipUpgrader::resultsOfOtherUpdatesIgnored()
{
    installFirmware(12, "2015/01/02");
    Slot slot;
    slot.cardReports(KipPort::Hydra, 3, "2014/06/15");

    // The probe of every connection ends "unsuccessfully" with a card in its application.
    emit slot.port.updateFinished(false);
    QCOMPARE(slot.finished.count(), 0);

    // A probe answered after the code stage was asked for, but before the port took it.
    slot.upgrader.upgradeCode();
    emit slot.port.updateFinished(false);
    QCOMPARE(slot.finished.count(), 0);
    QVERIFY(slot.upgrader.isUpdating());

    QCoreApplication::processEvents();
    emit slot.port.updateFinished(false);
    QCOMPARE(slot.finished.count(), 1);
    QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
}

void TestKipUpgrader::refusedBeforeCard_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QByteArray>("code"); // null: no file
    QTest::addColumn<QByteArray>("fpga");
    QTest::addColumn<QString>("status");

    QTest::newRow("empty code file") << "code" << QByteArray("") << QByteArray()
                                     << "Code file is empty: " + QFileInfo(appFile(codeName)).absoluteFilePath();
    QTest::newRow("no code file") << "code" << QByteArray() << QByteArray() << "Code file not found: " + codeName;
    QTest::newRow("empty FPGA file") << "fpga" << QByteArray() << QByteArray("")
                                     << "FPGA file is empty: " + QFileInfo(appFile(fpgaName)).absoluteFilePath();
    QTest::newRow("no FPGA file") << "fpga" << QByteArray() << QByteArray() << "FPGA file not found: " + fpgaName;
}

void TestKipUpgrader::refusedBeforeCard()
{
    QFETCH(QString, stage);
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, fpga);
    QFETCH(QString, status);

    if (!code.isNull())
        writeFile(appFile(codeName), code);
    if (!fpga.isNull())
        writeFile(appFile(fpgaName), fpga);
    Slot slot;
    QSignalSpy started(&slot.upgrader, &KipUpgrader::updateStarted);
    slot.cardReports(KipPort::Hydra, 3, "2014/06/15");
    if (stage == "code")
        slot.upgrader.upgradeCode();
    else
        slot.upgrader.upgradeFPGA();

    // The caller gets to show that it is waiting before it learns the outcome.
    QCOMPARE(slot.finished.count(), 0);
    QVERIFY(slot.finished.wait(1000));
    QCOMPARE(slot.finished.count(), 1);
    QCOMPARE(slot.finished.at(0).at(0).toBool(), false);
    QCOMPARE(slot.status.last().at(0).toString(), status);
    QCOMPARE(slot.arm.count(), 0);
    QCOMPARE(slot.fpga.count(), 0);
    QCOMPARE(started.count(), 0);
}

QTEST_GUILESS_MAIN(TestKipUpgrader)
#include "tst_kipupgrader.moc"
