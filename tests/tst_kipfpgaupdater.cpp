#include "link/fpgadownloader.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Common::MessageType;
using Common::SerialMessage;
using EMS::KipFpgaUpdater;

namespace {

QByteArray be16(int value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(quint16(value), bytes.data());
    return bytes;
}

struct CardSide
{
    explicit CardSide(const QString &path) : updater(nullptr, path)
    {
        QObject::connect(&updater, &KipFpgaUpdater::sendMessage, [this](SerialMessage *message) { sent << *message; });
    }
    void reply(int param, const QByteArray &data) { updater.receiveMessage(SerialMessage(MessageType::UpdateFpga, param, data)); }
    void replyOk() // as a working card answers the last message
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
        return file.open(QIODevice::WriteOnly) && file.write(image) == image.size() ? file.fileName() : QString();
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }

    // Erase with the packet count, numbered 128-byte packets, the 16-bit sum (it wraps here);
    // a second start begins at packet 0 with the sum reset; finished once.
    void download()
    {
        const QByteArray image(300, char(0xFF));
        CardSide card(writeImage(image));
        card.updater.start();
        card.replyOk();
        card.replyOk();
        card.sent.clear();
        card.progress.clear();
        card.updater.start();
        for (int i = 0; i < 100 && card.sent.last().param != 2; ++i)
            card.replyOk();
        QCOMPARE(card.finished.count(), 0);
        QCOMPARE(card.sent.size(), 5);
        QCOMPARE(card.sent.at(0).encode(), SerialMessage(MessageType::UpdateFpga, 0, be16(3)).encode());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(card.sent.at(i + 1).encode(), SerialMessage(MessageType::UpdateFpga, 1, be16(i) + image.mid(i * 128, 128)).encode());
        QCOMPARE(card.sent.last().encode(), SerialMessage(MessageType::UpdateFpga, 2, be16(0x2AD4)).encode());
        QCOMPARE(card.progress, (QList<QVariantList>{{42}, {85}, {99}, {100}}));
        card.replyOk();
        card.reply(2, QByteArray(1, '\0')); // a late duplicate
        QCOMPARE(card.finished, (QList<QVariantList>{{true}}));
    }

    // Faults abort once; unusable files are refused from the event loop before the erase.
    void faults_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("goodReplies"); // 300 bytes: erase, packets 0-2, end
        QTest::addColumn<int>("param"); // -1: the file is refused
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("status");
        const QString aborted = "%1. Update aborted";
        const auto fault = [aborted](const char *name, int good, int param, const char *data, const char *status) {
            QTest::newRow(name) << qint64(300) << good << param << QByteArray::fromHex(data) << aborted.arg(status);
        };
        fault("erase refused", 0, 0, "01", "Packet Length error at packet -1");
        fault("packet fails flash verify", 2, 1, "040001", "Flash Verify error at packet 1");
        fault("image complete before the end", 2, 2, "00", "Image complete reply before the image was sent at packet 1");
        const qint64 max = KipFpgaUpdater::MaxImageSize;
        QTest::newRow("empty file") << qint64(0) << 0 << -1 << QByteArray() << "FPGA image image.bit is empty";
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
        CardSide card(writeImage(QByteArray(int(size), char(0x33))));
        card.updater.start();
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
};

QTEST_GUILESS_MAIN(TestKipFpgaUpdater)
#include "tst_kipfpgaupdater.moc"
