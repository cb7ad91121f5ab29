#include "link/kipport.h"
#include "update/kipfpgaupdater.h"

#include <QFile>
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

// Plays the card's side of a download against one downloader, recording every message
// it was sent.
class CardSide
{
public:
    CardSide(const QString &path)
        : updater(nullptr, path),
          progressSpy(&updater, &KipFpgaUpdater::progress),
          finishedSpy(&updater, &KipFpgaUpdater::finished),
          statusSpy(&updater, &KipFpgaUpdater::statusMessage)
    {
        QObject::connect(&updater, &KipFpgaUpdater::sendMessage,
                         [this](SerialMessage *message) { sent.append(*message); });
    }

    void reply(int param, const QByteArray &data)
    {
        updater.receiveMessage(SerialMessage(KipFpgaUpdater::MessageType, param, data));
    }

    // The reply a well-behaved card gives to the last message it was sent.
    bool replyOk()
    {
        if (sent.isEmpty())
            return false;
        const SerialMessage &last = sent.last();
        if (last.param == 1)
            reply(1, QByteArray(1, '\0') + last.data.left(2));
        else
            reply(last.param, QByteArray(1, '\0'));
        return true;
    }

    QList<int> progressValues() const
    {
        QList<int> values;
        for (const QList<QVariant> &args : progressSpy)
            values.append(args.at(0).toInt());
        return values;
    }

    KipFpgaUpdater updater;
    QList<SerialMessage> sent;
    QSignalSpy progressSpy;
    QSignalSpy finishedSpy;
    QSignalSpy statusSpy;
};

} // namespace

class TestKipFpgaUpdater : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void download_data();
    void download();
    void cardFaults_data();
    void cardFaults();
    void refusedBeforeErase_data();
    void refusedBeforeErase();
    void restartSendsWholeImageAgain();
    void refusedImageLeavesPortPolling();

private:
    QString writeImage(const QByteArray &image);

    QScopedPointer<QTemporaryDir> dir;
};

void TestKipFpgaUpdater::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
}

QString TestKipFpgaUpdater::writeImage(const QByteArray &image)
{
    const QString path = dir->filePath("image.bit");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestKipFpgaUpdater::download_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("sum");
    QTest::addColumn<QList<int>>("progress");

    QTest::newRow("300 bytes of 0xFF: the sum wraps")
        << QByteArray(300, char(0xFF)) << 3 << 0x2AD4 << QList<int>{42, 85, 99, 100};
    QTest::newRow("exactly one packet")
        << QByteArray(128, char(0x01)) << 1 << 128 << QList<int>{99, 100};
    QTest::newRow("one byte") << QByteArray(1, char(0x5A)) << 1 << 0x5A << QList<int>{0, 100};
    QTest::newRow("one byte past a packet")
        << QByteArray(129, char(0x02)) << 2 << 258 << QList<int>{98, 99, 100};

    const QByteArray pattern = patternImage(300);
    int sum = 0;
    for (char byte : pattern)
        sum += quint8(byte);
    QTest::newRow("300 byte pattern") << pattern << 3 << (sum & 0xFFFF) << QList<int>{42, 85, 99, 100};
}

void TestKipFpgaUpdater::download()
{
    QFETCH(QByteArray, image);
    QFETCH(int, packets);
    QFETCH(int, sum);
    QFETCH(QList<int>, progress);

    CardSide card(writeImage(image));
    card.updater.start();

    QCOMPARE(card.sent.size(), 1);
    QCOMPARE(card.sent.at(0).type, 39);
    QCOMPARE(card.sent.at(0).param, 0);
    QCOMPARE(card.sent.at(0).data, be16(packets));
    QCOMPARE(card.statusSpy.last().at(0).toString(), QString("Erasing flash..."));

    // Answer everything up to, not including, the end message.
    while (card.sent.last().param != 2) {
        QVERIFY(card.sent.size() <= packets + 1);
        QVERIFY(card.replyOk());
    }
    QCOMPARE(card.finishedSpy.count(), 0); // not before the card has checked the sum

    QCOMPARE(card.sent.size(), packets + 2);
    QByteArray received;
    for (int i = 0; i < packets; ++i) {
        const SerialMessage &packet = card.sent.at(i + 1);
        QCOMPARE(packet.param, 1);
        QCOMPARE(packet.data.left(2), be16(i));
        QVERIFY(packet.data.size() - 2 <= 128);
        QVERIFY(!packet.encode().isEmpty());
        received.append(packet.data.mid(2));
    }
    QCOMPARE(received, image);
    QCOMPARE(card.sent.last().data, be16(sum));
    QCOMPARE(card.progressValues(), progress);
    QCOMPARE(card.statusSpy.at(1).at(0).toString(), QString("Downloaded %1").arg(qMin(128, image.size())));

    QVERIFY(card.replyOk());
    QCOMPARE(card.finishedSpy.count(), 1);
    QCOMPARE(card.finishedSpy.at(0).at(0).toBool(), true);

    // A late duplicate of the final acknowledgement does not finish the download twice.
    card.reply(2, QByteArray(1, '\0'));
    QCOMPARE(card.finishedSpy.count(), 1);
}

void TestKipFpgaUpdater::cardFaults_data()
{
    QTest::addColumn<int>("goodReplies");
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("messagesSent");
    QTest::addColumn<QString>("status");

    // A 300-byte image: erase, packets 0-2, end. goodReplies counts the correct replies
    // the card gives before its faulty one.
    QTest::newRow("erase refused") << 0 << 0 << QByteArray::fromHex("01") << 1
                                   << "Packet Length error at packet -1. Update aborted";
    QTest::newRow("packet fails flash verify") << 2 << 1 << QByteArray::fromHex("040001") << 3
                                               << "Flash Verify error at packet 1. Update aborted";
    QTest::newRow("checksum refused") << 2 << 1 << QByteArray::fromHex("020001") << 3
                                      << "File Checksum error at packet 1. Update aborted";
    QTest::newRow("file size refused at the end") << 4 << 2 << QByteArray::fromHex("03") << 5
                                                  << "File Size error at packet 2. Update aborted";
    QTest::newRow("unknown result") << 1 << 1 << QByteArray::fromHex("090000") << 2
                                    << "unknown at packet 0. Update aborted";
    QTest::newRow("acknowledgement without number") << 1 << 1 << QByteArray::fromHex("0000") << 2
                                                    << "Packet number not received at packet 0. Update aborted";
    QTest::newRow("empty acknowledgement") << 1 << 1 << QByteArray() << 2
                                           << "Packet number not received at packet 0. Update aborted";
    QTest::newRow("older packet acknowledged") << 3 << 1 << QByteArray::fromHex("000000") << 4
                                               << "Packet number sequence error: 0 received at packet 2. Update aborted";
    QTest::newRow("later packet acknowledged") << 1 << 1 << QByteArray::fromHex("000102") << 2
                                               << "Packet number sequence error: 258 received at packet 0. Update aborted";
    QTest::newRow("packet acknowledged during erase") << 0 << 1 << QByteArray::fromHex("00FFFF") << 1
                                                      << "Packet number sequence error: 65535 received at packet -1. Update aborted";
    QTest::newRow("end acknowledged mid-image") << 2 << 2 << QByteArray::fromHex("00") << 3
                                                << "Image complete reply before the image was sent at packet 1. Update aborted";
}

void TestKipFpgaUpdater::cardFaults()
{
    QFETCH(int, goodReplies);
    QFETCH(int, param);
    QFETCH(QByteArray, data);
    QFETCH(int, messagesSent);
    QFETCH(QString, status);

    CardSide card(writeImage(patternImage(300)));
    card.updater.start();
    for (int i = 0; i < goodReplies; ++i)
        QVERIFY(card.replyOk());
    QCOMPARE(card.finishedSpy.count(), 0);

    card.reply(param, data);
    QCOMPARE(card.sent.size(), messagesSent);
    QCOMPARE(card.finishedSpy.count(), 1);
    QCOMPARE(card.finishedSpy.at(0).at(0).toBool(), false);
    QCOMPARE(card.statusSpy.last().at(0).toString(), status);

    // Once aborted, nothing the card says restarts the download or reports a success.
    card.reply(0, QByteArray(1, '\0'));
    card.reply(1, QByteArray::fromHex("000000"));
    card.reply(2, QByteArray(1, '\0'));
    QCOMPARE(card.sent.size(), messagesSent);
    QCOMPARE(card.finishedSpy.count(), 1);
}

void TestKipFpgaUpdater::refusedBeforeErase_data()
{
    QTest::addColumn<qint64>("size"); // -1: no file at all
    QTest::addColumn<QString>("status"); // empty: accepted

    QTest::newRow("empty file") << qint64(0) << "FPGA image image.bit is empty";
    QTest::newRow("missing file") << qint64(-1) << "Cannot open FPGA image image.bit";
    QTest::newRow("65535 packets still fit") << KipFpgaUpdater::MaxImageSize << "";
    QTest::newRow("one byte more than 65535 packets")
        << KipFpgaUpdater::MaxImageSize + 1
        << "FPGA image image.bit is too large: 8388481 bytes, at most 8388480 fit";
}

void TestKipFpgaUpdater::refusedBeforeErase()
{
    QFETCH(qint64, size);
    QFETCH(QString, status);

    QString path = dir->filePath("image.bit");
    if (size >= 0)
        path = writeImage(QByteArray(int(size), char(0x33)));

    CardSide card(path);
    card.updater.start();
    if (status.isEmpty()) {
        QCOMPARE(card.sent.size(), 1);
        QCOMPARE(card.sent.at(0).data, QByteArray::fromHex("FFFF"));
        return;
    }
    QVERIFY(card.sent.isEmpty());
    QCOMPARE(card.finishedSpy.count(), 0); // the caller settles first
    QVERIFY(card.finishedSpy.wait(1000));
    QCOMPARE(card.finishedSpy.count(), 1);
    QCOMPARE(card.finishedSpy.at(0).at(0).toBool(), false);
    QCOMPARE(card.statusSpy.count(), 1);
    QCOMPARE(card.statusSpy.at(0).at(0).toString(), status);
    QCOMPARE(card.progressSpy.count(), 0);

    // A card answering anyway (an erase reply from an earlier run) gets nothing.
    card.reply(0, QByteArray(1, '\0'));
    QVERIFY(card.sent.isEmpty());
}

void TestKipFpgaUpdater::restartSendsWholeImageAgain()
{
    const QByteArray image = patternImage(300);
    CardSide card(writeImage(image));
    card.updater.start();
    QVERIFY(card.replyOk()); // erase done, packet 0 out
    QVERIFY(card.replyOk()); // packet 1 out

    // A second start erases the flash again; the image must begin at its first byte.
    card.sent.clear();
    card.updater.start();
    while (card.sent.last().param != 2)
        QVERIFY(card.replyOk());
    QCOMPARE(card.sent.size(), 5);
    QCOMPARE(card.sent.at(1).data.left(2), be16(0));
    QCOMPARE(card.sent.at(1).data.mid(2), image.left(128));
    int sum = 0;
    for (char byte : image)
        sum += quint8(byte);
    QCOMPARE(card.sent.last().data, be16(sum & 0xFFFF));
    QVERIFY(card.replyOk());
    QCOMPARE(card.finishedSpy.count(), 1);
    QCOMPARE(card.finishedSpy.at(0).at(0).toBool(), true);
}

void TestKipFpgaUpdater::refusedImageLeavesPortPolling()
{
    // The port stops its timers for the erase right after starting the download; the
    // refusal must reach it after that, or the slot would stay without polling.
    EMS::KipPort port(nullptr, 0);
    QSignalSpy finished(&port, &EMS::KipPort::updateFinished);
    QSignalSpy status(&port, &EMS::KipPort::statusMessage);
    port.updateFpga(writeImage(QByteArray()));
    QVERIFY(finished.wait(1000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(status.contains(QVariantList{"FPGA image image.bit is empty"}));
    QVERIFY(!port.fpgaDownloader());
    QVERIFY(port.keepAliveTimer()->isActive());
    QCOMPARE(port.keepAliveTimer()->interval(), 1000);
    QVERIFY(port.watchdogTimer()->isActive());
}

QTEST_GUILESS_MAIN(TestKipFpgaUpdater)
#include "tst_kipfpgaupdater.moc"
