#include "support/builtinfirmware.h"

#include "update/updater.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Common::Updater;
using ByteList = QList<QByteArray>;

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

// Download of a size below 64 KiB.
static QByteArray downloadOf(int size)
{
    return bytes({0x0B, (0x21 + (size >> 8) + (size & 0xFF)) & 0xFF, 0x21, 0, 0, 0, 0, 0, 0, size >> 8, size & 0xFF});
}

static QByteArray sendData(const QByteArray &block)
{
    int sum = 0x24;
    for (char byte : block)
        sum += quint8(byte);
    return bytes({67, sum & 0xFF, 0x24}) + block;
}

static QByteArray pattern(int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char((i * 7 + 3) & 0xFF));
    return data;
}

// One updater on a code file, with everything it emits recorded.
struct Harness
{
    explicit Harness(const QString &fileName)
        : updater(nullptr, fileName), sent(&updater, &Updater::sendData), progress(&updater, &Updater::progress),
          finished(&updater, &Updater::finished), status(&updater, &Updater::statusMessage)
    {
    }

    ByteList takeSent()
    {
        ByteList blocks;
        for (const QList<QVariant> &call : sent)
            blocks.append(call.at(0).toByteArray());
        sent.clear();
        return blocks;
    }
    void feed(const QByteArray &data) { updater.receiveData(data); }
    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QList<QVariant> &call : status)
            texts.append(call.at(0).toString());
        return texts;
    }
    // Runs the single-shot probe a second after the reset now; the card's application
    // answers it, which reports the result.
    void probeAfterReset(bool expected)
    {
        QTimer *timer = updater.autoBaudTimer();
        QVERIFY(timer->isActive() && timer->isSingleShot());
        QCOMPARE(timer->interval(), 1000);
        timer->stop();
        QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
        QCOMPARE(takeSent(), ByteList{AutoBaud});
        feed(NotBootLoader);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), expected);
    }
    // Plays a boot loader that accepts everything until the updater resets it; returns
    // what the SendData packets carried.
    QByteArray playAcceptingCard()
    {
        QByteArray image;
        for (ByteList out = takeSent(); !out.isEmpty() && out.last() != Reset; out = takeSent()) {
            if (out.last().size() == 67)
                image += out.last().mid(3);
            feed(out.last() == GetStatus ? Ack + StatusSuccess : Ack);
        }
        return image;
    }

    Updater updater;
    QSignalSpy sent;
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy status;
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

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.warning=false"));
    }

    // The whole exchange for a 100-byte file: announced as 128 bytes, sent as two blocks,
    // the second padded with 0xFF, 100 % once the card is reset, and the result once the
    // card's application answers the probe a second later.
    void completeUpdateOf100Bytes()
    {
        const QByteArray code = pattern(100);
        Harness h(codeFile(code));
        h.updater.autoBaud();
        QCOMPARE(h.takeSent(), ByteList{AutoBaud});
        h.feed(Ack);
        QCOMPARE(h.takeSent(), ByteList{Ping});
        h.feed(Ack);
        QCOMPARE(h.takeSent(), ByteList{GetStatus});
        h.feed(Ack);
        QVERIFY(h.takeSent().isEmpty());
        h.feed(StatusSuccess);
        QCOMPARE(h.takeSent(), (ByteList{Ack, downloadOf(128)}));
        h.feed(Ack);
        QCOMPARE(h.takeSent(), ByteList{GetStatus});
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), (ByteList{Ack, sendData(code.left(64))}));
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent().last(), sendData(code.mid(64) + QByteArray(28, char(0xFF))));
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), (ByteList{GetStatus, Ack, Reset}));
        QList<int> progress;
        for (const QList<QVariant> &call : h.progress)
            progress.append(call.at(0).toInt());
        QCOMPARE(progress, (QList<int>{0, 63, 99, 100}));
        QCOMPARE(h.statusTexts(),
                 (QStringList{"Download started", "Downloaded 64", "Downloaded 100", "Update successful. Resetting"}));
        QCOMPARE(h.finished.count(), 0);
        h.feed(Ack); // the card's ack of the Reset changes nothing
        QVERIFY(h.takeSent().isEmpty());
        h.probeAfterReset(true);
    }

    // Answers split or joined by serial reads, zero bytes before or between them, and
    // packets that cannot be one (reported and dropped) while the GetStatus awaits its
    // ack and status.
    void replies_data()
    {
        QTest::addColumn<ByteList>("blocks");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("one block") << ByteList{Ack + StatusSuccess} << "";
        QTest::newRow("leading zeros") << ByteList{bytes({0, 0, 0xCC}), bytes({0, 3, 0x40, 0x40})} << "";
        QTest::newRow("status split") << ByteList{Ack + bytes({0x03, 0x40}), bytes({0x40})} << "";
        QTest::newRow("byte by byte") << ByteList{Ack, bytes({0x03}), bytes({0x40}), bytes({0x40})} << "";
        QTest::newRow("only zeros between") << ByteList{Ack, bytes({0, 0}), StatusSuccess} << "";
        QTest::newRow("zeros between packets") << ByteList{bytes({0, 0, 0xCC, 0, 0, 0x03, 0x40, 0x40})} << "";
        QTest::newRow("checksum wrong") << ByteList{Ack, bytes({0x03, 0x41, 0x40}), StatusSuccess}
                                        << "Updater received 3 invalid bytes:3 41 40 ";
        QTest::newRow("size one") << ByteList{Ack, bytes({0x01}), StatusSuccess} << "Updater received 1 invalid bytes:1 ";
        QTest::newRow("size two") << ByteList{Ack, bytes({0x02, 0x40}), StatusSuccess}
                                  << "Updater received 2 invalid bytes:2 40 ";
        QTest::newRow("status with a data byte") << ByteList{Ack, bytes({0x04, 0x41, 0x40, 0x01}), StatusSuccess}
                                                 << "Updater received 4 invalid bytes:4 41 40 1 ";
        QTest::newRow("unknown code") << ByteList{Ack, bytes({0x03, 0x26, 0x26}), StatusSuccess}
                                      << "Updater received 3 invalid bytes:3 26 26 ";
    }
    void replies()
    {
        QFETCH(ByteList, blocks);
        QFETCH(QString, complaint);
        Harness h(codeFile(pattern(10)));
        h.updater.start();
        h.feed(Ack);
        QCOMPARE(h.takeSent(), (ByteList{Ping, GetStatus}));
        for (const QByteArray &block : blocks)
            h.feed(block);
        QCOMPARE(h.takeSent(), (ByteList{Ack, downloadOf(64)}));
        QCOMPARE(h.statusTexts(), (complaint.isEmpty() ? QStringList() : QStringList{complaint}) << "Download started");
    }

    // While AutoBaud is pending, the boot loader's noise before its answer is dropped
    // byte by byte; the handshake bytes still count.
    void strayBytesDuringAutoBaud_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<ByteList>("expectedSent");
        QTest::addColumn<int>("finished");
        QTest::newRow("noise then ack") << bytes({0x01, 0x7F, 0xFE, 0xCC}) << ByteList{Ping} << 0;
        QTest::newRow("noise then not boot loader") << bytes({0x03, 0x40, 0xAA}) << ByteList{} << 1;
        QTest::newRow("noise then nak") << bytes({0xFF, 0xFF, 0x33}) << ByteList{AutoBaud} << 0;
        QTest::newRow("noise only") << bytes({0x55, 0x10}) << ByteList{} << 0;
    }
    void strayBytesDuringAutoBaud()
    {
        QFETCH(QByteArray, received);
        QFETCH(ByteList, expectedSent);
        QFETCH(int, finished);
        Harness h(codeFile(pattern(10)));
        h.updater.autoBaud();
        h.takeSent();
        h.feed(received);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(h.finished.count(), finished);
        QVERIFY(h.statusTexts().isEmpty());
    }

    // Refusals end the update: a packet refused seven times in a row (an ack between
    // refusals starts the count again), or a failing status. The card is reset and the
    // probe a second later reports the failure.
    void refusals_data()
    {
        QTest::addColumn<ByteList>("before");
        QTest::addColumn<QByteArray>("refusal");
        QTest::addColumn<ByteList>("expectedSent");
        QTest::addColumn<QString>("text");
        const auto times = [](int n, const QByteArray &packet) { return QVector<QByteArray>(n, packet).toList(); };
        const QString tooMany = "Update aborted: too many retries";
        const ByteList handshake{Ack, Ack, Ack};
        const ByteList download = handshake + ByteList{StatusSuccess, Ack, Ack};
        QTest::newRow("AutoBaud refused") << ByteList{} << Nak << times(6, AutoBaud) + ByteList{Reset} << tooMany;
        QTest::newRow("Ping refused") << times(6, Nak) + ByteList{Ack} << Nak << times(6, Ping) + ByteList{Reset} << tooMany;
        QTest::newRow("GetStatus refused") << ByteList{Ack, Ack} << Nak << times(6, GetStatus) + ByteList{Reset} << tooMany;
        QTest::newRow("bad command in the handshake") << handshake << bytes({0x03, 0x42, 0x42}) << ByteList{Ack, Reset}
                                                      << "Update aborted: received BadCommand  in reply to GetStatus ";
        QTest::newRow("bad address for the download") << download << bytes({0x03, 0x43, 0x43}) << ByteList{Ack, Reset}
                                                      << "Update aborted: received BadAddress  in reply to GetStatus ";
        QTest::newRow("flash failure for a block") << download + ByteList{StatusSuccess, Ack, Ack} << bytes({0x03, 0x44, 0x44})
                                                   << ByteList{Ack, Reset}
                                                   << "Update aborted: received FlashFailure  in reply to GetStatus ";
    }
    void refusals()
    {
        QFETCH(ByteList, before);
        QFETCH(QByteArray, refusal);
        QFETCH(ByteList, expectedSent);
        QFETCH(QString, text);
        Harness h(codeFile(pattern(200)));
        h.updater.autoBaud();
        for (const QByteArray &reply : before)
            h.feed(reply);
        h.takeSent();
        for (int n = 0; n < (refusal == Nak ? 7 : 1); ++n)
            h.feed(refusal);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(h.statusTexts().last(), text);
        QCOMPARE(h.statusTexts().filter("aborted").size(), 1);
        QVERIFY(!h.updater.isSuccessful());
        h.probeAfterReset(false);
    }

    // A boot loader that answers AutoBaud again, after a failed update or in the middle
    // of one (the card restarted), takes the image again from its first byte.
    void bootLoaderFoundAgainStartsOver_data()
    {
        QTest::addColumn<bool>("midDownload");
        QTest::newRow("after a failure") << false;
        QTest::newRow("in the middle of the download") << true;
    }
    void bootLoaderFoundAgainStartsOver()
    {
        QFETCH(bool, midDownload);
        const QByteArray code = pattern(150);
        Harness h(codeFile(code));
        h.updater.start();
        h.feed(Ack);
        h.feed(Ack + StatusSuccess); // -> Download
        h.feed(Ack);
        if (midDownload) {
            h.feed(Ack + StatusSuccess); // -> first block
            h.feed(Ack);
            h.feed(Ack + StatusSuccess); // -> second block
            h.updater.autoBaud();
        } else {
            h.feed(Ack + bytes({0x03, 0x44, 0x44}));
            QCOMPARE(h.takeSent().last(), Reset);
            h.updater.autoBaudTimer()->stop();
            h.updater.autoBaud();
        }
        h.takeSent();
        h.feed(Ack);
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), (ByteList{Ping, GetStatus, Ack, downloadOf(192)}));
        h.feed(Ack);
        QCOMPARE(h.playAcceptingCard(), code + QByteArray(42, char(0xFF)));
        QVERIFY(h.updater.isSuccessful());
    }

    // Replies that do not match what is awaited are acknowledged (status packets) or
    // ignored, and move nothing on; before the start nothing is awaited.
    void unexpectedReplies_data()
    {
        QTest::addColumn<int>("acks"); // -1: never started, 1: GetStatus awaits its ack, 2: its status
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<ByteList>("expectedSent");
        QTest::newRow("ack before the start") << -1 << Ack << ByteList{};
        QTest::newRow("status before the start") << -1 << StatusSuccess << ByteList{Ack, Ack};
        QTest::newRow("nak while awaiting status") << 2 << Nak << ByteList{};
        QTest::newRow("status while awaiting an ack") << 1 << StatusSuccess << ByteList{Ack, Ack};
        QTest::newRow("second ack while awaiting status") << 2 << Ack << ByteList{};
    }
    void unexpectedReplies()
    {
        QFETCH(int, acks);
        QFETCH(QByteArray, received);
        QFETCH(ByteList, expectedSent);
        Harness h(codeFile(pattern(10)));
        if (acks > 0)
            h.updater.start();
        for (int i = 0; i < acks; ++i)
            h.feed(Ack);
        const int state = h.updater.currentPacket() ? h.updater.currentPacket()->state : -1;
        h.takeSent();
        h.feed(received);
        h.feed(received);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(h.updater.currentPacket() ? h.updater.currentPacket()->state : -1, state);
        QCOMPARE(h.progress.count(), 0);
    }

    // Files that cannot be sent end the update as a failure before any Download; a
    // missing file is looked for among the built-in ones.
    void files_data()
    {
        QTest::addColumn<QString>("file"); // "empty", "folder", "missing" or "builtin"
        QTest::addColumn<ByteList>("expectedSent");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "empty" << ByteList{Reset, Ack} << "Firmware file %1 is empty";
        QTest::newRow("unreadable") << "folder" << ByteList{Ping, GetStatus, Ack, Reset} << "Cannot read firmware file %1";
        QTest::newRow("missing") << "missing" << ByteList{Reset, Ack} << "No firmware found in resource system";
        QTest::newRow("built in") << "builtin" << ByteList{Ping, GetStatus, Ack, downloadOf(128)} << "Download started";
    }
    void files()
    {
        QFETCH(QString, file);
        QFETCH(ByteList, expectedSent);
        QFETCH(QString, text);
        const QString name = "fw_" + file + ".bin";
        QString path = dir.filePath(name);
        UpdateTest::BuiltInFirmware builtIn;
        if (file == "empty")
            path = codeFile(QByteArray(), name);
        else if (file == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (file == "builtin")
            QVERIFY(builtIn.install({{name, pattern(70)}}));

        Harness h(path);
        h.updater.start();
        h.feed(Ack);
        h.feed(Ack + StatusSuccess);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(h.statusTexts().last(), text.contains("%1") ? text.arg(path) : text);
        if (file == "missing" || file == "builtin") {
            QCOMPARE(h.statusTexts().first(),
                     QStringLiteral("Firmware file %1 not found in filesystem. Attempting to update from resource system")
                         .arg(path));
            QCOMPARE(h.updater.fileName(), UpdateTest::BuiltInFirmware::path(name));
        }
        if (file == "builtin")
            return;
        QCOMPARE(h.progress.count(), 0);
        h.probeAfterReset(false);
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "tst_updater.moc"
