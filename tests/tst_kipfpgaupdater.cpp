#include "link/kipport.h"
#include "update/kipfpgaupdater.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Common::SerialMessage;
using EMS::KipFpgaUpdater;

namespace {

QByteArray be16(int value) { return QByteArray() + char(value >> 8) + char(value); }

// Plays the card's side of a download, recording every message it was sent.
struct CardSide
{
    explicit CardSide(const QString &path) : updater(nullptr, path)
    {
        QObject::connect(&updater, &KipFpgaUpdater::sendMessage, [this](SerialMessage *message) { sent << *message; });
    }
    void reply(int param, const QByteArray &data) { updater.receiveMessage(SerialMessage(39, param, data)); }
    // The reply a working card gives to the last message it was sent.
    void replyOk()
    {
        reply(sent.last().param, QByteArray(1, '\0') + (sent.last().param == 1 ? sent.last().data.left(2) : QByteArray()));
    }

    KipFpgaUpdater updater;
    QList<SerialMessage> sent;
    QSignalSpy progress{&updater, &KipFpgaUpdater::progress}, finished{&updater, &KipFpgaUpdater::finished};
    QSignalSpy status{&updater, &KipFpgaUpdater::statusMessage};
};

} // namespace

class TestKipFpgaUpdater : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeImage(const QByteArray &image)
    {
        QFile file(dir.filePath("image.bit"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // Erase with the packet count, numbered packets of 128 bytes, and the 16-bit sum of the
    // image; finished once the card has checked the sum, and only once.
    void download_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("restartAfter"); // replies before a second start
        QTest::addColumn<int>("sum");
        QTest::addColumn<QList<QVariantList>>("progress");
        const QList<QVariantList> threePackets{{42}, {85}, {99}, {100}};
        QTest::newRow("300 bytes of 0xFF: the sum wraps") << QByteArray(300, char(0xFF)) << 0 << 0x2AD4 << threePackets;
        QTest::newRow("exactly one packet") << QByteArray(128, char(0x01)) << 0 << 128 << QList<QVariantList>{{99}, {100}};
        QTest::newRow("one byte") << QByteArray(1, char(0x5A)) << 0 << 0x5A << QList<QVariantList>{{0}, {100}};
        // A second start erases again: the image begins at packet 0, with the sum reset.
        QTest::newRow("restarted after two packets") << QByteArray(150, 'a') + QByteArray(150, 'b') << 2 << 0x7242
                                                     << threePackets;
    }
    void download()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, restartAfter);
        QFETCH(int, sum);
        QFETCH(QList<QVariantList>, progress);
        const int packets = (image.size() + 127) / 128;
        CardSide card(writeImage(image));
        card.updater.start();
        for (int i = 0; i < restartAfter; ++i)
            card.replyOk();
        if (restartAfter > 0) {
            card.sent.clear();
            card.progress.clear();
            card.updater.start();
        }
        QCOMPARE(card.sent.size(), 1);
        QCOMPARE(card.sent.at(0).encode(), SerialMessage(39, 0, be16(packets)).encode());
        QCOMPARE(card.status.at(0).at(0).toString(), QString("Erasing flash..."));
        for (int i = 0; i < 100 && card.sent.last().param != 2; ++i)
            card.replyOk();
        QCOMPARE(card.finished.count(), 0);
        QCOMPARE(card.sent.size(), packets + 2);
        for (int i = 0; i < packets; ++i)
            QCOMPARE(card.sent.at(i + 1).encode(), SerialMessage(39, 1, be16(i) + image.mid(i * 128, 128)).encode());
        QCOMPARE(card.sent.last().encode(), SerialMessage(39, 2, be16(sum)).encode());
        QCOMPARE(card.progress, progress);
        QCOMPARE(card.status.at(1).at(0).toString(), QString("Downloaded %1").arg(qMin(128, image.size())));
        card.replyOk();
        card.reply(2, QByteArray(1, '\0')); // a late duplicate
        QCOMPARE(card.finished, (QList<QVariantList>{{true}}));
    }

    // A fault from the card aborts; a file that cannot be sent is refused before the erase
    // request, reported from the event loop after the caller has settled. Once ended,
    // nothing the card says restarts the download or reports a success.
    void faults_data()
    {
        QTest::addColumn<qint64>("size"); // -1: no file at all
        QTest::addColumn<int>("goodReplies"); // before the faulty one; 300 bytes: erase, packets 0-2, end
        QTest::addColumn<int>("param"); // -1: no fault from the card
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("status"); // empty: accepted
        const QString aborted = "%1. Update aborted";
        const auto fault = [aborted](const char *name, int good, int param, const char *data, const char *status) {
            QTest::newRow(name) << qint64(300) << good << param << QByteArray::fromHex(data) << aborted.arg(status);
        };
        fault("erase refused", 0, 0, "01", "Packet Length error at packet -1");
        fault("packet fails flash verify", 2, 1, "040001", "Flash Verify error at packet 1");
        fault("file size refused at the end", 4, 2, "03", "File Size error at packet 2");
        fault("unknown result", 1, 1, "090000", "unknown at packet 0");
        fault("acknowledgement without number", 1, 1, "0000", "Packet number not received at packet 0");
        fault("older packet acknowledged", 3, 1, "000000", "Packet number sequence error: 0 received at packet 2");
        fault("packet acknowledged during erase", 0, 1, "00FFFF",
              "Packet number sequence error: 65535 received at packet -1");
        fault("image complete before the end", 2, 2, "00", "Image complete reply before the image was sent at packet 1");
        const qint64 max = KipFpgaUpdater::MaxImageSize;
        QTest::newRow("empty file") << qint64(0) << 0 << -1 << QByteArray() << "FPGA image image.bit is empty";
        QTest::newRow("missing file") << qint64(-1) << 0 << -1 << QByteArray() << "Cannot open FPGA image image.bit";
        QTest::newRow("65535 packets still fit") << max << 0 << -1 << QByteArray() << "";
        QTest::newRow("one byte more than 65535 packets")
            << max + 1 << 0 << -1 << QByteArray() << "FPGA image image.bit is too large: 8388481 bytes, at most 8388480 fit";
    }
    void faults()
    {
        QFETCH(qint64, size);
        QFETCH(int, goodReplies);
        QFETCH(int, param);
        QFETCH(QByteArray, data);
        QFETCH(QString, status);
        QFile::remove(dir.filePath("image.bit"));
        CardSide card(size >= 0 ? writeImage(QByteArray(int(size), char(0x33))) : dir.filePath("image.bit"));
        card.updater.start();
        if (status.isEmpty()) {
            QCOMPARE(card.sent.size(), 1);
            QCOMPARE(card.sent.at(0).data, QByteArray::fromHex("FFFF"));
            return;
        }
        for (int i = 0; i < goodReplies; ++i)
            card.replyOk();
        const int sent = card.sent.size();
        QCOMPARE(card.finished.count(), 0);
        if (param >= 0)
            card.reply(param, data);
        else
            QVERIFY(card.finished.wait(1000));
        QCOMPARE(card.status.last().at(0).toString(), status);
        for (int step : {0, 1, 2})
            card.reply(step, step == 1 ? QByteArray::fromHex("000000") : QByteArray(1, '\0'));
        QCOMPARE(card.sent.size(), sent);
        QCOMPARE(card.finished, (QList<QVariantList>{{false}}));
    }

    // The port stops its timers for the erase right after starting the download; the
    // refusal reaches it after that, and it polls at its normal rhythm again.
    void refusedImageLeavesPortPolling()
    {
        EMS::KipPort port(nullptr, 0);
        QSignalSpy finished(&port, &EMS::KipPort::updateFinished);
        QSignalSpy status(&port, &EMS::KipPort::statusMessage);
        port.updateFpga(writeImage(QByteArray()));
        QVERIFY(finished.wait(1000));
        QCOMPARE(finished, (QList<QVariantList>{{false}}));
        QVERIFY(status.contains(QVariantList{"FPGA image image.bit is empty"}));
        QVERIFY(!port.fpgaDownloader());
        QCOMPARE(port.keepAliveTimer()->interval(), 1000);
        QVERIFY(port.keepAliveTimer()->isActive() && port.watchdogTimer()->isActive());
    }
};

QTEST_GUILESS_MAIN(TestKipFpgaUpdater)
#include "tst_kipfpgaupdater.moc"
