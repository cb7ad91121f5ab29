// The card port's life against a simulated card over a real pseudo-terminal, in real
// time: probe and hand-back, status polling, a card that falls silent and returns, and
// a code update through the card's boot loader.
#include "common/resources.h"
#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using EMS::KipPort;

namespace {

// A code image whose version mark (the byte 8 after the first "version") is `version`.
QByteArray codeImage(quint8 version, int size)
{
    QByteArray image(size, '\x5a');
    const QByteArray mark = QByteArray("version") + QByteArray(1, ' ') + QByteArray(1, char(version));
    image.replace(20, mark.size(), mark);
    return image;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(bytes);
    return path;
}

bool sawStatusRequest(const QSignalSpy &transmitted, int from)
{
    for (int i = from; i < transmitted.count(); ++i) {
        if (transmitted.at(i).at(0).toString().startsWith(QLatin1String("kip status")))
            return true;
    }
    return false;
}

} // namespace

class KipPortEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Common::initResources(); }
    void lifeOfAPort();
    void codeUpdateEndsOnceWithItsResult();
    void updateCodeReplacesAnUnansweredProbe();
};

void KipPortEndToEndTest::lifeOfAPort()
{
    CardSimulator card;
    card.firmware().resetState(KipPort::MadiBnc);
    KipPort port(nullptr, 0);
    port.logStatusMessages(true);
    QSignalSpy finished(&port, &KipPort::updateFinished);
    QSignalSpy types(&port, &KipPort::kipCardTypeChanged);
    QSignalSpy status(&port, &KipPort::statusMessage);
    QSignalSpy transmitted(&port, &KipPort::logDataTransmitted);

    port.setSerialPortName(card.portName());
    port.connectSerialPort();
    QCOMPARE(port.linkState(), KipPort::LinkProbing);
    QVERIFY(transmitted.count() >= 1);
    QCOMPARE(transmitted.at(0).at(0).toString(), QString("hex: 55 55"));

    // The card's application answers the probe: the probe ends unsuccessfully, once.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QTRY_COMPARE_WITH_TIMEOUT(port.linkState(), KipPort::LinkConnected, 3000);
    QCOMPARE(port.cardType(), KipPort::MadiBnc);
    QCOMPARE(types.count(), 1);
    QVERIFY(port.watchdogTimer()->isActive());
    QVERIFY(port.keepAliveTimer()->isActive());

    // The card falls silent: three seconds later it is gone and the port probes.
    card.setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(status.contains(QVariantList{QString("Card removed from KIP 1")}), 5000);
    QCOMPARE(port.cardType(), KipPort::NoCard);
    QCOMPARE(port.linkState(), KipPort::LinkProbing);
    const int afterLoss = transmitted.count();
    QTest::qWait(2200);
    QVERIFY2(!sawStatusRequest(transmitted, afterLoss), "status requested while no card answers");
    QVERIFY(transmitted.count() > afterLoss); // the probe repeats

    // The card comes back and answers the next probe.
    card.setSilent(false);
    QTRY_COMPARE_WITH_TIMEOUT(port.linkState(), KipPort::LinkConnected, 4000);
    QCOMPARE(port.cardType(), KipPort::MadiBnc);
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.at(1).at(0).toBool(), false);
}

void KipPortEndToEndTest::codeUpdateEndsOnceWithItsResult()
{
    QTemporaryDir dir;
    const QString file = writeFile(dir, "kip.bin", codeImage(9, 300));
    QVERIFY(!file.isEmpty());

    CardSimulator card;
    card.firmware().resetState(KipPort::MadiBnc);
    card.firmware().state().firmwareVersion = 2;
    KipPort port(nullptr, 0);
    port.setSerialPortName(card.portName());
    port.connectSerialPort();
    QTRY_COMPARE_WITH_TIMEOUT(port.linkState(), KipPort::LinkConnected, 3000);
    QCOMPARE(int(port.hardwareStatus().firmwareVersion), 2);

    QSignalSpy finished(&port, &KipPort::updateFinished);
    QSignalSpy progress(&port, &KipPort::updateProgress);
    QSignalSpy status(&port, &KipPort::statusMessage);
    port.updateCode(file);
    QCOMPARE(port.codeFileName(), file);

    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(status.contains(QVariantList{QString("Code update successful")}));
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QCOMPARE(card.installedImage().left(300), codeImage(9, 300));

    // The restarted card reports the new version; the update does not end a second time
    // although the card was probed by both the updater and the keep-alive.
    QTRY_COMPARE_WITH_TIMEOUT(int(port.hardwareStatus().firmwareVersion), 9, 5000);
    QCOMPARE(port.linkState(), KipPort::LinkConnected);
    QTest::qWait(1500);
    QCOMPARE(finished.count(), 1);
}

void KipPortEndToEndTest::updateCodeReplacesAnUnansweredProbe()
{
    QTemporaryDir dir;
    const QString file = writeFile(dir, "chosen.bin", codeImage(5, 200));

    CardSimulator card;
    card.firmware().resetState(KipPort::Aes);
    card.setSilent(true);
    KipPort port(nullptr, 1);
    port.setSerialPortName(card.portName());
    port.connectSerialPort();
    QVERIFY(port.bootLoaderUpdater());
    QTest::qWait(300);
    QCOMPARE(port.linkState(), KipPort::LinkProbing);

    // The probe was made for the default file; the update must write the chosen one.
    QSignalSpy finished(&port, &KipPort::updateFinished);
    card.setSilent(false);
    port.updateCode(file);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(card.installedImage().left(200), codeImage(5, 200));
    QTRY_COMPARE_WITH_TIMEOUT(int(port.hardwareStatus().firmwareVersion), 5, 5000);
}

QTEST_MAIN(KipPortEndToEndTest)
#include "tst_e2e_kipport.moc"
