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

QByteArray patternImage(int size)
{
    QByteArray image;
    for (int i = 0; i < size; ++i)
        image.append(char((i * 37 + 11) & 0xFF));
    return image;
}

QByteArray be16(int value)
{
    return QByteArray() + char((value >> 8) & 0xFF) + char(value & 0xFF);
}

// Plays the card's side of a download, recording every message it was sent.
struct CardSide
{
    explicit CardSide(const QString &path)
        : updater(nullptr, path), progress(&updater, &KipFpgaUpdater::progress),
          finished(&updater, &KipFpgaUpdater::finished), status(&updater, &KipFpgaUpdater::statusMessage)
    {
        QObject::connect(&updater, &KipFpgaUpdater::sendMessage, [this](SerialMessage *message) { sent << *message; });
    }
    void reply(int param, const QByteArray &data) { updater.receiveMessage(SerialMessage(39, param, data)); }
    // The reply a working card gives to the last message it was sent.
    void replyOk()
    {
        reply(sent.last().param, QByteArray(1, '\0') + (sent.last().param == 1 ? sent.last().data.left(2) : QByteArray()));
    }
    // Answers everything up to, not including, the end message.
    void replyUpToTheEnd()
    {
        for (int i = 0; i < 100 && sent.last().param != 2; ++i)
            replyOk();
    }

    KipFpgaUpdater updater;
    QList<SerialMessage> sent;
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy status;
};

} // namespace

class TestKipFpgaUpdater : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeImage(const QByteArray &image)
    {
        const QString path = dir.filePath("image.bit");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // Erase with the packet count, numbered packets of 128 bytes, and the 16-bit sum of
    // the image; finished only once the card has checked the sum.
    void download_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("sum");
        QTest::addColumn<QList<int>>("progress");
        QTest::newRow("300 bytes of 0xFF: the sum wraps") << QByteArray(300, char(0xFF)) << 0x2AD4
                                                         << QList<int>{42, 85, 99, 100};
        QTest::newRow("exactly one packet") << QByteArray(128, char(0x01)) << 128 << QList<int>{99, 100};
        QTest::newRow("one byte") << QByteArray(1, char(0x5A)) << 0x5A << QList<int>{0, 100};
        QTest::newRow("300 byte pattern") << patternImage(300) << 0x951E << QList<int>{42, 85, 99, 100};
    }
    void download()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, sum);
        QFETCH(QList<int>, progress);
        const int packets = (image.size() + 127) / 128;
        CardSide card(writeImage(image));
        card.updater.start();
        QCOMPARE(card.sent.size(), 1);
        QCOMPARE(card.sent.at(0).encode(), SerialMessage(39, 0, be16(packets)).encode());
        QCOMPARE(card.status.at(0).at(0).toString(), QString("Erasing flash..."));

        card.replyUpToTheEnd();
        QCOMPARE(card.finished.count(), 0);
        QCOMPARE(card.sent.size(), packets + 2);
        for (int i = 0; i < packets; ++i)
            QCOMPARE(card.sent.at(i + 1).encode(), SerialMessage(39, 1, be16(i) + image.mid(i * 128, 128)).encode());
        QCOMPARE(card.sent.last().encode(), SerialMessage(39, 2, be16(sum)).encode());
        QList<int> values;
        for (const QList<QVariant> &args : card.progress)
            values << args.at(0).toInt();
        QCOMPARE(values, progress);
        QCOMPARE(card.status.at(1).at(0).toString(), QString("Downloaded %1").arg(qMin(128, image.size())));

        card.replyOk();
        card.reply(2, QByteArray(1, '\0')); // a late duplicate does not finish it twice
        QCOMPARE(card.finished.count(), 1);
        QCOMPARE(card.finished.at(0).at(0).toBool(), true);
    }

    // Once aborted, nothing the card says restarts the download or reports a success.
    void cardFaults_data()
    {
        QTest::addColumn<int>("goodReplies"); // before the faulty one; 300 bytes: erase, packets 0-2, end
        QTest::addColumn<int>("param");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("status");
        QTest::newRow("erase refused") << 0 << 0 << QByteArray::fromHex("01") << "Packet Length error at packet -1";
        QTest::newRow("packet fails flash verify") << 2 << 1 << QByteArray::fromHex("040001")
                                                   << "Flash Verify error at packet 1";
        QTest::newRow("file size refused at the end") << 4 << 2 << QByteArray::fromHex("03") << "File Size error at packet 2";
        QTest::newRow("unknown result") << 1 << 1 << QByteArray::fromHex("090000") << "unknown at packet 0";
        QTest::newRow("acknowledgement without number") << 1 << 1 << QByteArray::fromHex("0000")
                                                        << "Packet number not received at packet 0";
        QTest::newRow("empty acknowledgement") << 1 << 1 << QByteArray() << "Packet number not received at packet 0";
        QTest::newRow("older packet acknowledged") << 3 << 1 << QByteArray::fromHex("000000")
                                                   << "Packet number sequence error: 0 received at packet 2";
        QTest::newRow("later packet acknowledged") << 1 << 1 << QByteArray::fromHex("000102")
                                                   << "Packet number sequence error: 258 received at packet 0";
        QTest::newRow("packet acknowledged during erase") << 0 << 1 << QByteArray::fromHex("00FFFF")
                                                          << "Packet number sequence error: 65535 received at packet -1";
        QTest::newRow("image complete before the end") << 2 << 2 << QByteArray::fromHex("00")
                                                       << "Image complete reply before the image was sent at packet 1";
    }
    void cardFaults()
    {
        QFETCH(int, goodReplies);
        QFETCH(int, param);
        QFETCH(QByteArray, data);
        QFETCH(QString, status);
        CardSide card(writeImage(patternImage(300)));
        card.updater.start();
        for (int i = 0; i < goodReplies; ++i)
            card.replyOk();
        const int sent = card.sent.size();
        QCOMPARE(card.finished.count(), 0);
        card.reply(param, data);
        QCOMPARE(card.status.last().at(0).toString(), status + ". Update aborted");
        for (int step : {0, 1, 2})
            card.reply(step, step == 1 ? QByteArray::fromHex("000000") : QByteArray(1, '\0'));
        QCOMPARE(card.sent.size(), sent);
        QCOMPARE(card.finished.count(), 1);
        QCOMPARE(card.finished.at(0).at(0).toBool(), false);
    }

    // Refused before the erase request goes out, and reported from the event loop, after
    // the caller has settled.
    void refusedBeforeErase_data()
    {
        QTest::addColumn<qint64>("size"); // -1: no file at all
        QTest::addColumn<QString>("status"); // empty: accepted
        QTest::newRow("empty file") << qint64(0) << "FPGA image image.bit is empty";
        QTest::newRow("missing file") << qint64(-1) << "Cannot open FPGA image image.bit";
        QTest::newRow("65535 packets still fit") << KipFpgaUpdater::MaxImageSize << "";
        QTest::newRow("one byte more than 65535 packets")
            << KipFpgaUpdater::MaxImageSize + 1 << "FPGA image image.bit is too large: 8388481 bytes, at most 8388480 fit";
    }
    void refusedBeforeErase()
    {
        QFETCH(qint64, size);
        QFETCH(QString, status);
        QFile::remove(dir.filePath("image.bit"));
        CardSide card(size >= 0 ? writeImage(QByteArray(int(size), char(0x33))) : dir.filePath("image.bit"));
        card.updater.start();
        if (status.isEmpty()) {
            QCOMPARE(card.sent.size(), 1);
            QCOMPARE(card.sent.at(0).data, QByteArray::fromHex("FFFF"));
            return;
        }
        QCOMPARE(card.finished.count(), 0);
        QVERIFY(card.finished.wait(1000));
        QCOMPARE(card.finished.count(), 1);
        QCOMPARE(card.finished.at(0).at(0).toBool(), false);
        QCOMPARE(card.status.count(), 1);
        QCOMPARE(card.status.at(0).at(0).toString(), status);
        card.reply(0, QByteArray(1, '\0')); // an erase reply from an earlier run
        QVERIFY(card.sent.isEmpty());
    }

    // A second start erases the flash again: the image begins at packet 0, sum reset.
    void restartSendsWholeImageAgain()
    {
        const QByteArray image = patternImage(300);
        CardSide card(writeImage(image));
        card.updater.start();
        card.replyOk(); // packet 0 out
        card.replyOk(); // packet 1 out
        card.sent.clear();
        card.updater.start();
        card.replyUpToTheEnd();
        QCOMPARE(card.sent.size(), 5);
        QCOMPARE(card.sent.at(1).data, be16(0) + image.left(128));
        QCOMPARE(card.sent.last().data, be16(0x951E));
        card.replyOk();
        QCOMPARE(card.finished.count(), 1);
        QCOMPARE(card.finished.at(0).at(0).toBool(), true);
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
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY(status.contains(QVariantList{"FPGA image image.bit is empty"}));
        QVERIFY(!port.fpgaDownloader());
        QCOMPARE(port.keepAliveTimer()->interval(), 1000);
        QVERIFY(port.keepAliveTimer()->isActive() && port.watchdogTimer()->isActive());
    }
};

QTEST_GUILESS_MAIN(TestKipFpgaUpdater)
#include "tst_kipfpgaupdater.moc"
