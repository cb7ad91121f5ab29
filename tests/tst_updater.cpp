#include "common/resources.h"
#include "update/updater.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Common::BootPacket;
using Common::Updater;

static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

static const QByteArray Ack = bytes({0xCC});
static const QByteArray Nak = bytes({0x33});
static const QByteArray NotBootLoader = bytes({0xAA});
static const QByteArray AutoBaud = bytes({0x55, 0x55});
static const QByteArray Ping = bytes({0x03, 0x20, 0x20});
static const QByteArray GetStatus = bytes({0x03, 0x23, 0x23});
static const QByteArray Reset = bytes({0x03, 0x25, 0x25});
static const QByteArray StatusSuccess = bytes({0x03, 0x40, 0x40});

// Runs a single-shot timer's expiry now instead of waiting for it.
static void fire(QTimer *timer)
{
    QVERIFY(timer->isActive());
    timer->stop();
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
}

static QByteArray status(int code)
{
    return bytes({0x03, code, code});
}

static QByteArray downloadOf(quint32 size)
{
    return BootPacket(BootPacket::Download,
                      bytes({0, 0, 0, 0, int(size >> 24), int(size >> 16) & 0xFF, int(size >> 8) & 0xFF, int(size & 0xFF)}))
        .encode();
}

// One updater on a code file, with everything it emits recorded.
class Harness
{
public:
    explicit Harness(const QString &fileName)
        : updater(nullptr, fileName), sent(&updater, &Updater::sendData), progress(&updater, &Updater::progress),
          finished(&updater, &Updater::finished), status(&updater, &Updater::statusMessage),
          updating(&updater, &Updater::updating)
    {
    }

    // The blocks emitted since the last call, one entry per sendData.
    QList<QByteArray> takeSent()
    {
        QList<QByteArray> blocks;
        for (const QList<QVariant> &call : sent)
            blocks.append(call.at(0).toByteArray());
        sent.clear();
        return blocks;
    }

    void feed(const QByteArray &data) { updater.receiveData(data); }

    QList<int> progressValues() const
    {
        QList<int> values;
        for (const QList<QVariant> &call : progress)
            values.append(call.at(0).toInt());
        return values;
    }

    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QList<QVariant> &call : status)
            texts.append(call.at(0).toString());
        return texts;
    }

    // Brings a started updater from AutoBaud through the handshake to its Download.
    void handshake()
    {
        updater.autoBaud();
        feed(Ack);          // AutoBaud locked -> Ping
        feed(Ack);          // Ping -> GetStatus
        feed(Ack);          // GetStatus -> await status
        feed(StatusSuccess); // -> CC, Download
    }

    // Plays a card whose boot loader accepts everything, until the updater resets it.
    // Returns the SendData blocks it received.
    QList<QByteArray> playAcceptingCard(int maxExchanges = 1000)
    {
        QList<QByteArray> blocks;
        for (int i = 0; i < maxExchanges; ++i) {
            const QList<QByteArray> out = takeSent();
            if (out.isEmpty())
                return blocks;
            const QByteArray last = out.last();
            if (last == Reset)
                return blocks;
            if (last.size() == 67)
                blocks.append(last.mid(3));
            if (last == GetStatus)
                feed(Ack + StatusSuccess);
            else
                feed(Ack);
        }
        return blocks;
    }

    Updater updater;
    QSignalSpy sent;
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy status;
    QSignalSpy updating;
};

class UpdaterTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString codeFile(const QByteArray &contents, const QString &name = QStringLiteral("code.bin"))
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QByteArray pattern(int size)
    {
        QByteArray data;
        for (int i = 0; i < size; ++i)
            data.append(char((i * 7 + 3) & 0xFF));
        return data;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        Common::initResources();
    }

    void probeOfARunningApplication()
    {
        Harness h(codeFile(pattern(100)));
        h.updater.autoBaud();
        QCOMPARE(h.takeSent(), QList<QByteArray>{AutoBaud});
        QCOMPARE(h.updating.count(), 1);
        QCOMPARE(h.updating.at(0).at(0).toBool(), false);

        h.feed(NotBootLoader);
        QCOMPARE(h.finished.count(), 1);
        QCOMPARE(h.finished.at(0).at(0).toBool(), false);
        QVERIFY(h.takeSent().isEmpty());
    }

    // The whole exchange for a 100-byte file: announced as 128 bytes, sent as two
    // blocks, the second padded with 0xFF, and 100 % only once the card is reset.
    void completeUpdateOf100Bytes()
    {
        const QByteArray code = pattern(100);
        Harness h(codeFile(code));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Updater: Updating firmware using .*code.bin$"));

        h.updater.autoBaud();
        QCOMPARE(h.takeSent(), QList<QByteArray>{AutoBaud});
        h.feed(Ack);
        QCOMPARE(h.takeSent(), QList<QByteArray>{Ping});
        h.feed(Ack);
        QCOMPARE(h.takeSent(), QList<QByteArray>{GetStatus});
        h.feed(Ack);
        QVERIFY(h.takeSent().isEmpty());
        h.feed(StatusSuccess);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ack, bytes({0x0B, 0xA1, 0x21, 0, 0, 0, 0, 0, 0, 0, 0x80})}));
        QCOMPARE(h.progressValues(), QList<int>{0});

        h.feed(Ack);
        QCOMPARE(h.takeSent(), QList<QByteArray>{GetStatus});
        h.feed(Ack + StatusSuccess);
        QList<QByteArray> out = h.takeSent();
        QCOMPARE(out.size(), 2);
        QCOMPARE(out.at(0), Ack);
        QCOMPARE(out.at(1), BootPacket(BootPacket::SendData, code.left(64)).encode());

        h.feed(Ack);
        QCOMPARE(h.takeSent(), QList<QByteArray>{GetStatus});
        h.feed(Ack + StatusSuccess);
        out = h.takeSent();
        QCOMPARE(out.size(), 2);
        QCOMPARE(out.at(1), BootPacket(BootPacket::SendData, code.mid(64) + QByteArray(28, char(0xFF))).encode());
        QCOMPARE(h.progressValues(), (QList<int>{0, 63, 99}));

        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{GetStatus, Ack, Reset}));
        QCOMPARE(h.progressValues(), (QList<int>{0, 63, 99, 100}));
        QCOMPARE(h.statusTexts(), (QStringList{"Download started", "Downloaded 64", "Downloaded 100",
                                               "Update successful. Resetting"}));
        QCOMPARE(h.updating.last().at(0).toBool(), false);
        QCOMPARE(h.finished.count(), 0);

        // The card's ack of the Reset changes nothing; a second later it is probed.
        h.feed(Ack);
        QVERIFY(h.takeSent().isEmpty());
        QTimer *timer = h.updater.autoBaudTimer();
        QVERIFY(timer->isActive());
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 1000);
        fire(timer);
        QCOMPARE(h.takeSent(), QList<QByteArray>{AutoBaud});
        h.feed(NotBootLoader);
        QCOMPARE(h.finished.count(), 1);
        QCOMPARE(h.finished.at(0).at(0).toBool(), true);
    }

    void download_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<quint32>("announced");
        QTest::addColumn<QList<int>>("progress");

        QTest::newRow("1 byte") << 1 << quint32(64) << QList<int>{0, 0, 100};
        QTest::newRow("63 bytes") << 63 << quint32(64) << QList<int>{0, 98, 100};
        QTest::newRow("one block") << 64 << quint32(64) << QList<int>{0, 98, 100};
        QTest::newRow("100 bytes") << 100 << quint32(128) << QList<int>{0, 63, 99, 100};
        QTest::newRow("129 bytes") << 129 << quint32(192) << QList<int>{0, 48, 98, 99, 100};
    }
    void download()
    {
        QFETCH(int, size);
        QFETCH(quint32, announced);
        QFETCH(QList<int>, progress);

        const QByteArray code = pattern(size);
        Harness h(codeFile(code));
        h.handshake();
        const QList<QByteArray> out = h.takeSent();
        QVERIFY(!out.isEmpty());
        QCOMPARE(out.last(), downloadOf(announced));
        h.feed(Ack);

        const QList<QByteArray> blocks = h.playAcceptingCard();
        QCOMPARE(quint32(blocks.size()) * 64, announced);
        QByteArray image;
        for (const QByteArray &block : blocks)
            image += block;
        QCOMPARE(image, code + QByteArray(int(announced) - size, char(0xFF)));
        QCOMPARE(h.progressValues(), progress);
        QVERIFY(h.updater.isSuccessful());
    }

    void splitAndPaddedReplies_data()
    {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::newRow("separate") << QList<QByteArray>{Ack, StatusSuccess};
        QTest::newRow("one block") << QList<QByteArray>{Ack + StatusSuccess};
        QTest::newRow("leading zeros") << QList<QByteArray>{bytes({0, 0, 0xCC}), bytes({0, 3, 0x40, 0x40})};
        QTest::newRow("status split") << QList<QByteArray>{Ack + bytes({0x03, 0x40}), bytes({0x40})};
        QTest::newRow("byte by byte") << QList<QByteArray>{Ack, bytes({0x03}), bytes({0x40}), bytes({0x40})};
        QTest::newRow("only zeros between") << QList<QByteArray>{Ack, bytes({0, 0}), StatusSuccess};
        // Two zero-padded answers joined by one read.
        QTest::newRow("zeros between packets") << QList<QByteArray>{bytes({0, 0, 0xCC, 0, 0, 0x03, 0x40, 0x40})};
    }
    void splitAndPaddedReplies()
    {
        QFETCH(QList<QByteArray>, blocks);
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        h.feed(Ack);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ping, GetStatus}));
        for (const QByteArray &block : blocks)
            h.feed(block);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ack, downloadOf(64)}));
        QCOMPARE(h.status.count(), 1); // "Download started", no complaint about the bytes
    }

    // While AutoBaud is pending, the boot loader's noise before its answer is dropped
    // byte by byte; the handshake bytes still count.
    void strayBytesDuringAutoBaud_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QList<QByteArray>>("expectedSent");
        QTest::addColumn<int>("finished");
        QTest::newRow("noise then ack") << bytes({0x01, 0x7F, 0xFE, 0xCC}) << QList<QByteArray>{Ping} << 0;
        QTest::newRow("noise then not boot loader") << bytes({0x03, 0x40, 0xAA}) << QList<QByteArray>{} << 1;
        QTest::newRow("noise then nak") << bytes({0xFF, 0xFF, 0x33}) << QList<QByteArray>{AutoBaud} << 0;
        QTest::newRow("noise only") << bytes({0x55, 0x10}) << QList<QByteArray>{} << 0;
    }
    void strayBytesDuringAutoBaud()
    {
        QFETCH(QByteArray, received);
        QFETCH(QList<QByteArray>, expectedSent);
        QFETCH(int, finished);
        Harness h(codeFile(pattern(10)));
        h.updater.autoBaud();
        h.takeSent();
        h.feed(received);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(h.finished.count(), finished);
        QVERIFY(h.statusTexts().filter("invalid").isEmpty());
    }

    void invalidPacketIsReportedAndDropped()
    {
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        h.feed(Ack + Ack);
        h.takeSent();
        h.status.clear();

        h.feed(bytes({0x03, 0x41, 0x40})); // checksum does not match
        QCOMPARE(h.statusTexts(), QStringList{"Updater received 3 invalid bytes:3 41 40 "});
        QVERIFY(h.takeSent().isEmpty());
        QCOMPARE(h.updater.currentPacket()->state, int(BootPacket::AwaitStatus));

        // The GetStatus still waits for its answer.
        h.feed(StatusSuccess);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ack, downloadOf(64)}));
    }

    // A size byte of one or two, which no packet can have, is reported and dropped
    // rather than stalling the receive loop.
    void tinySizeBytes_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::newRow("size one") << bytes({0x01});
        QTest::newRow("size two") << bytes({0x02, 0x40});
    }
    void tinySizeBytes()
    {
        QFETCH(QByteArray, received);
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        h.takeSent();
        h.feed(received);
        QCOMPARE(h.statusTexts().filter("invalid bytes").size(), 1);
    }

    void nakStorm_data()
    {
        QTest::addColumn<int>("acksFirst");
        QTest::addColumn<QByteArray>("refused");
        QTest::newRow("AutoBaud") << 0 << AutoBaud;
        QTest::newRow("Ping") << 1 << Ping;
        QTest::newRow("GetStatus") << 2 << GetStatus;
    }
    void nakStorm()
    {
        QFETCH(int, acksFirst);
        QFETCH(QByteArray, refused);
        Harness h(codeFile(pattern(10)));
        h.updater.autoBaud();
        for (int i = 0; i < acksFirst; ++i)
            h.feed(Ack);
        QCOMPARE(h.takeSent().last(), refused);

        for (int i = 0; i < 6; ++i)
            h.feed(Nak);
        QCOMPARE(h.takeSent(), QVector<QByteArray>(6, refused).toList());
        QCOMPARE(h.updater.retryCount(), 6);
        QVERIFY(!h.statusTexts().contains("Update aborted: too many retries"));

        QTest::ignoreMessage(QtWarningMsg, "Updater: Updater aborted: Too many retries");
        h.updating.clear();
        h.feed(Nak);
        // Seven sends in all, then the card is reset and probed again later.
        QCOMPARE(h.takeSent(), QList<QByteArray>{Reset});
        QCOMPARE(h.statusTexts().last(), QStringLiteral("Update aborted: too many retries"));
        QCOMPARE(h.updating.first().at(0).toBool(), false);
        QVERIFY(h.updater.autoBaudTimer()->isActive());
        QVERIFY(!h.updater.isSuccessful());
        fire(h.updater.autoBaudTimer());
        h.feed(NotBootLoader);
        QCOMPARE(h.finished.count(), 1);
        QCOMPARE(h.finished.at(0).at(0).toBool(), false);
    }

    // An ack between refusals starts the count again.
    void ackResetsRetries()
    {
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        for (int i = 0; i < 6; ++i)
            h.feed(Nak);
        h.feed(Ack); // Ping accepted at last -> GetStatus
        QCOMPARE(h.updater.retryCount(), 0);
        for (int i = 0; i < 6; ++i)
            h.feed(Nak);
        QCOMPARE(h.takeSent().last(), GetStatus);
        QVERIFY(!h.statusTexts().contains("Update aborted: too many retries"));
    }

    void failingStatus_data()
    {
        QTest::addColumn<int>("failAtStatus"); // 0: after Ping, 1: after Download, 2: after a block
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("handshake") << 0 << 0x42 << "Update aborted: received BadCommand  in reply to GetStatus ";
        QTest::newRow("download") << 1 << 0x43 << "Update aborted: received BadAddress  in reply to GetStatus ";
        QTest::newRow("flash") << 2 << 0x44 << "Update aborted: received FlashFailure  in reply to GetStatus ";
        QTest::newRow("unknown command") << 2 << 0x41
                                         << "Update aborted: received UnknownCommand  in reply to GetStatus ";
    }
    void failingStatus()
    {
        QFETCH(int, failAtStatus);
        QFETCH(int, code);
        QFETCH(QString, text);
        Harness h(codeFile(pattern(200)));
        h.updater.start();
        h.feed(Ack); // Ping -> GetStatus
        for (int i = 0; i < failAtStatus; ++i) {
            h.feed(Ack + StatusSuccess); // -> Download or SendData
            h.feed(Ack);                 // -> GetStatus
        }
        h.takeSent();
        h.updating.clear();
        h.feed(Ack + status(code));

        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ack, Reset}));
        QCOMPARE(h.statusTexts().last(), text);
        QCOMPARE(h.updating.first().at(0).toBool(), false);
        QVERIFY(!h.updater.isSuccessful());
        QVERIFY(h.updater.autoBaudTimer()->isActive());
        fire(h.updater.autoBaudTimer());
        h.feed(NotBootLoader);
        QCOMPARE(h.finished.at(0).at(0).toBool(), false);
    }

    // A card that stays in its boot loader after a failed update is updated again,
    // from the start of the file.
    void cardStillInBootLoaderStartsOver()
    {
        const QByteArray code = pattern(70);
        Harness h(codeFile(code));
        h.updater.start();
        h.feed(Ack);
        h.feed(Ack + StatusSuccess); // -> Download
        h.feed(Ack);
        h.feed(Ack + status(0x44)); // -> Reset
        QCOMPARE(h.takeSent().last(), Reset);

        fire(h.updater.autoBaudTimer());
        h.feed(Ack); // boot loader still there
        QCOMPARE(h.takeSent(), (QList<QByteArray>{AutoBaud, Ping}));
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent().last(), downloadOf(128));
        h.feed(Ack);
        const QList<QByteArray> blocks = h.playAcceptingCard();
        QCOMPARE(blocks.size(), 2);
        QCOMPARE(blocks.at(0), code.left(64));
        QVERIFY(h.updater.isSuccessful());
    }

    // Replies that do not match what is awaited are acknowledged (status packets) or
    // ignored, and move nothing on.
    void unexpectedReplies_data()
    {
        QTest::addColumn<int>("acks");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QList<QByteArray>>("expectedSent");
        // After one ack the GetStatus awaits its own ack; after two it awaits a status.
        QTest::newRow("nak while awaiting status") << 2 << Nak << QList<QByteArray>{};
        QTest::newRow("status while awaiting an ack") << 1 << StatusSuccess << QList<QByteArray>{Ack};
        QTest::newRow("second ack while awaiting status") << 2 << Ack << QList<QByteArray>{};
    }
    void unexpectedReplies()
    {
        QFETCH(int, acks);
        QFETCH(QByteArray, received);
        QFETCH(QList<QByteArray>, expectedSent);
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        for (int i = 0; i < acks; ++i)
            h.feed(Ack);
        const BootPacket before = *h.updater.currentPacket();
        h.takeSent();
        h.feed(received);
        QCOMPARE(h.takeSent(), expectedSent);
        QVERIFY(h.updater.currentPacket());
        QCOMPARE(h.updater.currentPacket()->code, before.code);
        QCOMPARE(h.updater.currentPacket()->state, before.state);
    }

    void nakAfterResetChangesNothing()
    {
        Harness h(codeFile(pattern(10)));
        h.handshake();
        h.feed(Ack);
        h.playAcceptingCard();
        h.feed(Nak);
        h.feed(StatusSuccess);
        QCOMPARE(h.takeSent(), QList<QByteArray>{Ack});
        QCOMPARE(h.updater.currentPacket()->code, int(BootPacket::Reset));
        QVERIFY(h.updater.isSuccessful());
    }

    // Bytes that arrive before the updater was started belong to nothing it sent.
    void repliesBeforeStartAreIgnored()
    {
        Harness h(codeFile(pattern(10)));
        h.feed(Ack);
        h.feed(StatusSuccess);
        QCOMPARE(h.takeSent(), QList<QByteArray>{Ack});
        QCOMPARE(h.progress.count(), 0);
        QVERIFY(!h.updater.currentPacket());
    }

    void missingFileFallsBackToResources()
    {
        const QString missing = dir.filePath("nowhere/quorix_kip.bin");
        Harness h(missing);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Updater: Firmware file .*quorix_kip.bin not found in "
                                                              "filesystem. Attempting to update from resource system$"));
        QTest::ignoreMessage(QtWarningMsg,
                             "Updater: No firmware file :/firmware/quorix_kip.bin found in resource system");
        h.updater.start();
        QCOMPARE(h.statusTexts(),
                 (QStringList{QStringLiteral("Firmware file %1 not found in filesystem. Attempting to update from "
                                             "resource system")
                                  .arg(missing),
                              "No firmware found in resource system"}));
        QCOMPARE(h.updater.fileName(), QStringLiteral(":/firmware/quorix_kip.bin"));
        QCOMPARE(h.takeSent(), QList<QByteArray>{Reset});
        QVERIFY(h.updater.autoBaudTimer()->isActive());
        QCOMPARE(h.progress.count(), 0);
    }

    void resourceFileIsUsed()
    {
        const QString name = QStringLiteral("README.txt");
        QFile resource(":/firmware/" + name);
        if (resource.size() == 0)
            QSKIP("no file in the built-in firmware folder to try the fallback with");
        Harness h(dir.filePath(name));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not found in filesystem"));
        h.updater.start();
        QCOMPARE(h.updater.fileName(), ":/firmware/" + name);
        QCOMPARE(h.takeSent(), QList<QByteArray>{Ping});
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        const quint32 announced = quint32((resource.size() + 63) / 64 * 64);
        QCOMPARE(h.takeSent().last(), downloadOf(announced));
    }

    // An empty file would write nothing and still report success.
    void emptyFileIsRefused()
    {
        Harness h(codeFile(QByteArray(), "empty.bin"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Updater: Firmware file .*empty.bin is empty$"));
        h.updater.autoBaud();
        h.feed(Ack);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{AutoBaud, Reset}));
        QVERIFY(h.statusTexts().last().endsWith("empty.bin is empty"));
        fire(h.updater.autoBaudTimer());
        h.feed(NotBootLoader);
        QCOMPARE(h.finished.at(0).at(0).toBool(), false);
        QCOMPARE(h.progress.count(), 0);
    }

    // A path that exists but cannot be read must not send Download after Download.
    void unreadableFileFails()
    {
        const QString path = dir.filePath("a-folder.bin");
        QVERIFY(QDir().mkpath(path));
        Harness h(path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Updater: Cannot read firmware file"));
        h.updater.start();
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), (QList<QByteArray>{Ping, GetStatus, Ack, Reset}));
        QVERIFY(h.statusTexts().last().startsWith("Cannot read firmware file"));
        QVERIFY(!h.updater.isSuccessful());
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "tst_updater.moc"
