#include "support/builtinfirmware.h"

#include "update/updater.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Common::Updater;
using ByteList = QList<QByteArray>;

static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
static const QByteArray Ack = hex("CC"), Nak = hex("33"), NotBootLoader = hex("AA"), AutoBaud = hex("5555");
static const QByteArray Ping = hex("032020"), GetStatus = hex("032323"), Reset = hex("032525");
static const QByteArray StatusSuccess = hex("034040");

// Download of a size below 64 KiB.
static QByteArray downloadOf(int size)
{
    const char head[] = {0x0B, char(0x21 + (size >> 8) + size), 0x21, 0, 0, 0, 0, 0, 0, char(size >> 8), char(size)};
    return QByteArray(head, sizeof head);
}

static QByteArray sendData(const QByteArray &block)
{
    int sum = 0x24;
    for (char byte : block)
        sum += quint8(byte);
    return QByteArray(1, char(67)) + char(sum) + char(0x24) + block;
}

static QByteArray pattern(int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char(i * 7 + 3));
    return data;
}

template <typename T>
static QList<T> args(const QSignalSpy &spy)
{
    QList<T> list;
    for (const QList<QVariant> &call : spy)
        list.append(call.at(0).value<T>());
    return list;
}

// One updater on a code file, with everything it emits recorded.
struct Harness
{
    explicit Harness(const QString &fileName) : updater(nullptr, fileName) {}

    ByteList takeSent()
    {
        const ByteList blocks = args<QByteArray>(sent);
        sent.clear();
        return blocks;
    }
    void feed(const ByteList &blocks)
    {
        for (const QByteArray &block : blocks)
            updater.receiveData(block);
    }
    // The single-shot probe a second after the reset, fired now; the card's application
    // answers it, which reports the result.
    void probeAfterReset(bool expected)
    {
        QTimer *timer = updater.autoBaudTimer();
        QVERIFY(timer->isActive() && timer->isSingleShot() && timer->interval() == 1000);
        timer->stop();
        QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
        QCOMPARE(takeSent(), ByteList{AutoBaud});
        feed({NotBootLoader});
        QCOMPARE(args<bool>(finished), QList<bool>{expected});
    }
    // A boot loader that accepts everything until it is reset; returns what the SendData
    // packets carried.
    QByteArray playAcceptingCard()
    {
        QByteArray image;
        for (ByteList out = takeSent(); !out.isEmpty() && out.last() != Reset; out = takeSent()) {
            if (out.last().size() == 67)
                image += out.last().mid(3);
            feed({out.last() == GetStatus ? Ack + StatusSuccess : Ack});
        }
        return image;
    }

    Updater updater;
    QSignalSpy sent{&updater, &Updater::sendData}, progress{&updater, &Updater::progress};
    QSignalSpy finished{&updater, &Updater::finished}, status{&updater, &Updater::statusMessage};
};

class UpdaterTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString codeFile(const QByteArray &contents, const QString &name = QStringLiteral("code.bin"))
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.warning=false"));
    }

    // A 100-byte file is announced as 128 bytes and sent as two blocks, the second padded
    // with 0xFF; 100 % once the card is reset, the result once the probe is answered.
    void completeUpdateOf100Bytes()
    {
        const QByteArray code = pattern(100);
        Harness h(codeFile(code));
        h.updater.autoBaud();
        QCOMPARE(h.takeSent(), ByteList{AutoBaud});
        const QList<QPair<QByteArray, ByteList>> exchange{ // each reply, and what goes out on it
            {Ack, {Ping}}, {Ack, {GetStatus}}, {Ack, {}}, {StatusSuccess, {Ack, downloadOf(128)}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, sendData(code.left(64))}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, sendData(code.mid(64) + QByteArray(28, char(0xFF)))}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, Reset}}, {Ack, {}}};
        for (const auto &step : exchange) {
            h.feed({step.first});
            QCOMPARE(h.takeSent(), step.second);
        }
        QCOMPARE(args<int>(h.progress), (QList<int>{0, 63, 99, 100}));
        QCOMPARE(args<QString>(h.status),
                 (QStringList{"Download started", "Downloaded 64", "Downloaded 100", "Update successful. Resetting"}));
        QCOMPARE(h.finished.count(), 0);
        h.probeAfterReset(true);
    }

    // Replies split by serial reads, zero bytes around them, packets that cannot be one
    // (reported and dropped) and bytes out of place: noise before the answer to AutoBaud is
    // dropped byte by byte, and before autoBaud()/start() nothing is awaited. A packet
    // refused seven times in a row (an ack between refusals starts the count again) or a
    // failing status aborts, once: the card is reset and the probe reports the failure.
    // Files that cannot be sent fail before any Download; a missing one is looked for among
    // the built-in files.
    void replies_data()
    {
        QTest::addColumn<int>("stage"); // -1: not started, 0: AutoBaud out, 1: GetStatus awaits its ack, 2: its status
        QTest::addColumn<ByteList>("blocks");
        QTest::addColumn<ByteList>("expectedSent");
        QTest::addColumn<QString>("texts");
        QTest::addColumn<int>("finished");
        QTest::addColumn<QString>("file"); // "": ten bytes, "empty", "folder", "missing" or "builtin"
        const auto row = [](const char *name, int stage, const ByteList &blocks, const ByteList &sent,
                            const QString &texts, int finished = 0, const QString &file = QString()) {
            QTest::newRow(name) << stage << blocks << sent << texts << finished << file;
        };
        const auto times = [](int n, const QByteArray &packet) { return QVector<QByteArray>(n, packet).toList(); };
        const ByteList download{Ack, downloadOf(64)};
        const QString started = "Download started", bad = "Updater received %1 invalid bytes:%2 |" + started;
        const QString aborted = "Update aborted: ", status = aborted + "received %1  in reply to GetStatus ";
        const QString notFound = "Firmware file %1 not found in filesystem. Attempting to update from resource system|";
        row("leading zeros", 1, {hex("0000CC"), hex("00034040")}, download, started);
        row("byte by byte", 1, {Ack, hex("03"), hex("40"), hex("40")}, download, started);
        row("only zeros between", 1, {Ack, hex("0000"), StatusSuccess}, download, started);
        row("zeros between packets", 1, {hex("0000CC0000034040")}, download, started);
        row("checksum wrong", 1, {Ack, hex("034140"), StatusSuccess}, download, bad.arg(3).arg("3 41 40"));
        row("size one", 1, {Ack, hex("01"), StatusSuccess}, download, bad.arg(1).arg("1"));
        row("status with a data byte", 1, {Ack, hex("04414001"), StatusSuccess}, download, bad.arg(4).arg("4 41 40 1"));
        row("unknown code", 1, {Ack, hex("032626"), StatusSuccess}, download, bad.arg(3).arg("3 26 26"));
        row("status while awaiting an ack", 1, {StatusSuccess, Ack + StatusSuccess}, ByteList{Ack} + download, started);
        row("nak while awaiting status", 2, {Nak, StatusSuccess}, download, started);
        row("second ack while awaiting status", 2, {Ack, StatusSuccess}, download, started);
        row("noise then ack", 0, {hex("5510"), hex("017FFECC")}, {Ping}, "");
        row("noise then not boot loader", 0, {hex("0340AA")}, {}, "", 1);
        row("noise then nak", 0, {hex("FFFF33")}, {AutoBaud}, "");
        row("ack before the start", -1, {Ack}, {}, "");
        row("status before the start", -1, {StatusSuccess}, {Ack}, "");
        row("AutoBaud refused", 0, times(7, Nak), times(6, AutoBaud) << Reset, aborted + "too many retries");
        row("Ping refused", 0, times(6, Nak) + ByteList{Ack} + times(7, Nak),
            times(6, AutoBaud) + ByteList{Ping} + times(6, Ping) << Reset, aborted + "too many retries");
        row("bad command in the handshake", 2, {hex("034242")}, {Ack, Reset}, status.arg("BadCommand"));
        row("flash failure for a block", 2, {StatusSuccess, Ack, Ack + StatusSuccess, Ack, Ack + hex("034444")},
            download + ByteList{GetStatus, Ack, sendData(pattern(10) + QByteArray(54, '\xFF')), GetStatus, Ack, Reset},
            started + "|Downloaded 10|" + status.arg("FlashFailure"));
        const ByteList statusOk{Ack + StatusSuccess};
        row("empty file", 1, statusOk, {Reset, Ack}, "Firmware file %1 is empty", 0, "empty");
        row("unreadable file", 1, statusOk, {Ping, GetStatus, Ack, Reset}, "Cannot read firmware file %1", 0, "folder");
        row("missing file", 1, statusOk, {Reset, Ack}, notFound + "No firmware found in resource system", 0, "missing");
        row("built-in file", 1, statusOk, {Ping, GetStatus, Ack, downloadOf(128)}, notFound + started, 0, "builtin");
    }
    void replies()
    {
        QFETCH(int, stage);
        QFETCH(ByteList, blocks);
        QFETCH(ByteList, expectedSent);
        QFETCH(QString, texts);
        QFETCH(int, finished);
        QFETCH(QString, file);
        const QString name = "fw_" + file + ".bin";
        QString path = dir.filePath(name);
        UpdateTest::BuiltInFirmware builtIn;
        if (file.isEmpty() || file == "empty")
            path = codeFile(file.isEmpty() ? pattern(10) : QByteArray(), name);
        else if (file == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (file == "builtin")
            QVERIFY(builtIn.install({{name, pattern(70)}}));
        Harness h(path);
        if (stage == 0)
            h.updater.autoBaud();
        else if (stage > 0)
            h.updater.start();
        h.feed(QVector<QByteArray>(qMax(stage, 0), Ack).toList());
        if (file.isEmpty()) // a file row expects all that was sent
            h.takeSent();
        h.feed(blocks);
        QCOMPARE(h.takeSent(), expectedSent);
        QCOMPARE(args<QString>(h.status).join('|'), texts.contains("%1") ? texts.arg(path) : texts);
        QCOMPARE(h.finished.count(), finished);
        if (file == "missing" || file == "builtin")
            QCOMPARE(h.updater.fileName(), UpdateTest::BuiltInFirmware::path(name));
        if (expectedSent.contains(Reset))
            h.probeAfterReset(false);
    }

    // A boot loader that answers AutoBaud again, after a failed update or in the middle of
    // one (the card restarted), takes the image again from its first byte.
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
        h.feed({Ack, Ack + StatusSuccess, Ack}); // the Download is acknowledged
        if (midDownload) {
            h.feed({Ack + StatusSuccess, Ack, Ack + StatusSuccess}); // the second block is out
        } else {
            h.feed({Ack + hex("034444")});
            QCOMPARE(h.takeSent().last(), Reset);
            h.updater.autoBaudTimer()->stop();
        }
        h.updater.autoBaud();
        h.takeSent();
        h.feed({Ack, Ack, Ack + StatusSuccess});
        QCOMPARE(h.takeSent(), (ByteList{Ping, GetStatus, Ack, downloadOf(192)}));
        h.feed({Ack});
        QCOMPARE(h.playAcceptingCard(), code + QByteArray(42, char(0xFF)));
        QVERIFY(h.updater.isSuccessful());
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "tst_updater.moc"
