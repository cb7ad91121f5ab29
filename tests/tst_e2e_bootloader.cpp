// End to end: the boot-loader updater on a real QSerialPort against the card simulator
// on a pseudo-terminal. These run in real time (the updater re-probes the card a
// second after each reset).
#include "sim/bootloaderemulator.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "support/simulatedcard.h"
#include "update/updater.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using SimTest::UpdaterOnPort;

namespace {

constexpr int ProbeTimeoutMs = 3000;
// A download of a few blocks plus the one-second re-probe after the reset.
constexpr int UpdateTimeoutMs = 8000;

const QByteArray BootLoaderRequest = Common::SerialMessage(4, 0, QByteArray()).encode();
const Common::SerialMessage KipStatusRequest(30, 0, QByteArray());

// 100 bytes of code whose version mark ("version", a separator, then the number)
// reads `version`.
QByteArray codeImage(quint8 version)
{
    QByteArray code;
    for (int i = 0; i < 100; ++i)
        code.append(char((i * 13 + 5) & 0xFF));
    const QByteArray mark = QByteArray("version ") + char(version);
    code.replace(40, mark.size(), mark);
    return code;
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &call : spy)
        list.append(call.at(0).toString());
    return list;
}

} // namespace

class E2eBootLoaderTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeCode(const QByteArray &code)
    {
        const QString path = dir.filePath("quorix_kip.bin");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(code) != code.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QSerialPort::SerialPortError>();
        QVERIFY(dir.isValid());
    }

    // A card running its application answers the probe with AA: nothing to update.
    void probeOfARunningCard()
    {
        CardSimulator card;
        const quint8 versionBefore = card.firmware().state().firmwareVersion;
        UpdaterOnPort link(card.portName(), writeCode(codeImage(0x2A)));
        QVERIFY2(link.isOpen(), qPrintable(link.errorString()));
        QSignalSpy finished(&link.updater(), &Common::Updater::finished);
        QSignalSpy progress(&link.updater(), &Common::Updater::progress);

        link.updater().autoBaud();
        QVERIFY(finished.wait(ProbeTimeoutMs));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(link.sentBytes(), QByteArray("\x55\x55"));
        QCOMPARE(link.receivedBytes(), QByteArray("\xAA"));
        QCOMPARE(progress.count(), 0);
        QVERIFY(!card.isInBootLoader());
        QCOMPARE(card.firmware().state().firmwareVersion, versionBefore);
    }

    // A card without its program sits in its boot loader; the probe finds it and the
    // file goes in. After the reset the card runs the new program and reports its
    // version.
    void bootLoaderCardTakesTheFile_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<QByteArray>("junk");
        QTest::newRow("prompt answers") << 0 << QByteArray();
        QTest::newRow("late, zero-padded answers") << 25 << QByteArray(3, '\0');
    }
    void bootLoaderCardTakesTheFile()
    {
        QFETCH(int, latencyMs);
        QFETCH(QByteArray, junk);
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        card.setReplyLatency(latencyMs);
        card.setJunkBeforeReplies(junk);
        const QByteArray code = codeImage(0x2A);
        UpdaterOnPort link(card.portName(), writeCode(code));
        QVERIFY(link.isOpen());
        QSignalSpy finished(&link.updater(), &Common::Updater::finished);
        QSignalSpy progress(&link.updater(), &Common::Updater::progress);
        QSignalSpy status(&link.updater(), &Common::Updater::statusMessage);
        QSignalSpy installed(&card, &CardSimulator::imageInstalled);

        link.updater().autoBaud();
        QVERIFY(finished.wait(UpdateTimeoutMs));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(installed.count(), 1);
        QCOMPARE(card.installedImage(), code + QByteArray(28, char(0xFF)));
        QCOMPARE(card.bootLoader().announcedSize(), 128u);
        QVERIFY(!card.isInBootLoader());

        QList<int> values;
        for (const QList<QVariant> &call : progress)
            values.append(call.at(0).toInt());
        QCOMPARE(values, (QList<int>{0, 63, 99, 100}));
        QVERIFY(texts(status).contains("Update successful. Resetting"));

        // The card's application now answers framed requests with the new version.
        link.detach();
        const Common::SerialMessage reply = SimTest::request(link.port(), KipStatusRequest, 30);
        QVERIFY(reply.valid);
        QVERIFY(reply.data.size() >= 2);
        QCOMPARE(quint8(reply.data.at(1)), quint8(0x2A));
    }

    // The boot loader refuses seven packets in a row: the updater gives up on the
    // Ping, resets the card and, finding it still in its boot loader a second later,
    // starts over and succeeds.
    void nakStorm()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        card.nakNextBootPackets(7);
        UpdaterOnPort link(card.portName(), writeCode(codeImage(7)));
        QVERIFY(link.isOpen());
        QSignalSpy finished(&link.updater(), &Common::Updater::finished);
        QSignalSpy status(&link.updater(), &Common::Updater::statusMessage);

        QTest::ignoreMessage(QtWarningMsg, "Updater: Updater aborted: Too many retries");
        link.updater().autoBaud();
        QTRY_VERIFY_WITH_TIMEOUT(texts(status).contains("Update aborted: too many retries"), ProbeTimeoutMs);
        QCOMPARE(card.bootLoader().naksSent(), 7);
        QCOMPARE(link.sentBytes().count(QByteArray("\x03\x20\x20")), 7);
        QVERIFY(!texts(status).contains("Download started"));

        QVERIFY(finished.wait(UpdateTimeoutMs));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(card.firmware().state().firmwareVersion, quint8(7));
    }

    // A card running its application is told to enter its boot loader, then fails to
    // program a block. The updater reports the refusal and resets the card, which
    // goes back to its old program: the probe after the reset reports failure and the
    // version stays what it was.
    void failingStatus()
    {
        CardSimulator card;
        card.firmware().state().firmwareVersion = 5;
        UpdaterOnPort link(card.portName(), writeCode(codeImage(9)));
        QVERIFY(link.isOpen());
        QSignalSpy finished(&link.updater(), &Common::Updater::finished);
        QSignalSpy status(&link.updater(), &Common::Updater::statusMessage);
        QSignalSpy modes(&card, &CardSimulator::bootLoaderChanged);

        // Refuse the status that follows the first block of code.
        bool armed = false;
        connect(&card, &CardSimulator::bytesFromHost, this, [&] {
            if (!armed && card.bootLoader().image().size() >= 64) {
                card.failNextStatus(0x44);
                armed = true;
            }
        });

        link.port().write(BootLoaderRequest);
        QVERIFY(modes.wait(ProbeTimeoutMs));
        QVERIFY(card.isInBootLoader());
        link.updater().start();

        QVERIFY(finished.wait(UpdateTimeoutMs));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(armed);
        QVERIFY2(texts(status).contains("Update aborted: received FlashFailure  in reply to GetStatus "),
                 qPrintable(texts(status).join(" | ")));
        QVERIFY(!texts(status).contains("Update successful. Resetting"));
        QVERIFY(!card.isInBootLoader());
        QVERIFY(card.installedImage().isEmpty());

        link.detach();
        const Common::SerialMessage reply = SimTest::request(link.port(), KipStatusRequest, 30);
        QVERIFY(reply.valid);
        QCOMPARE(quint8(reply.data.at(1)), quint8(5));
    }
};

QTEST_GUILESS_MAIN(E2eBootLoaderTest)
#include "tst_e2e_bootloader.moc"
