#include "link/bootloaderupdater.h"
#include "link/framefields.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Common::Updater;
using ByteList = QList<QByteArray>;

static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
static const QByteArray Ack = hex("CC"), Nak = hex("33"), NotBootLoader = hex("AA"), AutoBaud = hex("5555");
static const QByteArray Ping = hex("032020"), GetStatus = hex("032323"), Reset = hex("032525"),
                        StatusSuccess = hex("034040");

static QByteArray downloadOf(int size) // below 64 KiB
{
    const char head[] = {0x0B, char(0x21 + (size >> 8) + size), 0x21, 0, 0, 0, 0, 0, 0, char(size >> 8), char(size)};
    return QByteArray(head, sizeof head);
}

static QByteArray sendData(const QByteArray &block)
{
    const quint8 sum = quint8(0x24 + Common::byteSum(block));
    return QByteArray(1, char(67)) + char(sum) + char(0x24) + block;
}

static QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 7 + 3);
    return data;
}

template <typename T>
static QList<T> args(QSignalSpy &spy)
{
    QList<T> list;
    for (const QList<QVariant> &call : spy)
        list.append(call.at(0).value<T>());
    spy.clear();
    return list;
}

struct Harness
{
    explicit Harness(const QString &fileName) : updater(nullptr, fileName) {}
    void feed(const ByteList &blocks) { for (const QByteArray &block : blocks) updater.receiveData(block); }
    // The probe a second after the reset, fired now; the card's application answers it.
    void probeAfterReset(bool expected)
    {
        QTimer *timer = updater.autoBaudTimer();
        QVERIFY(timer->isActive() && timer->isSingleShot() && timer->interval() == 1000);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer); // the boot loader needs its full second
        timer->stop();
        QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
        QCOMPARE(args<QByteArray>(sent), ByteList{AutoBaud});
        feed({NotBootLoader});
        QCOMPARE(args<bool>(finished), QList<bool>{expected});
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
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false\nsablefold.*.warning=false"));
    }

    // 100 bytes are announced as 128 and sent as two blocks, the second padded with 0xFF.
    void completeUpdateOf100Bytes()
    {
        const QByteArray code = pattern(100);
        Harness h(codeFile(code));
        h.updater.autoBaud();
        QCOMPARE(args<QByteArray>(h.sent), ByteList{AutoBaud});
        const QList<QPair<QByteArray, ByteList>> exchange{ // each reply, what goes out on it
            {Ack, {Ping}}, {Ack, {GetStatus}}, {Ack, {}}, {StatusSuccess, {Ack, downloadOf(128)}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, sendData(code.left(64))}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, sendData(code.mid(64) + QByteArray(28, char(0xFF)))}}, {Ack, {GetStatus}},
            {Ack + StatusSuccess, {Ack, Reset}}, {Ack, {}}};
        for (const auto &step : exchange) {
            h.feed({step.first});
            QCOMPARE(args<QByteArray>(h.sent), step.second);
        }
        QCOMPARE(args<int>(h.progress), (QList<int>{0, 63, 99, 100}));
        QCOMPARE(h.finished.count(), 0);
        h.probeAfterReset(true);
    }

    // Bad packets are reported and dropped; an abort resets the card and the probe fails.
    void replies_data()
    {
        QTest::addColumn<int>("stage"); // -1: not started, 0: AutoBaud out, 1: GetStatus awaits its ack, 2: its status
        QTest::addColumn<ByteList>("blocks");
        QTest::addColumn<ByteList>("expectedSent");
        QTest::addColumn<QString>("texts");
        QTest::addColumn<QString>("file"); // "": ten bytes, "empty" or "folder"
        const auto row = [](const char *name, int stage, const ByteList &blocks, const ByteList &sent,
                            const QString &texts, const QString &file = QString()) {
            QTest::newRow(name) << stage << blocks << sent << texts << file;
        };
        const auto times = [](int n, const QByteArray &packet) { return QVector<QByteArray>(n, packet).toList(); };
        const ByteList download{Ack, downloadOf(64)}, statusOk{Ack + StatusSuccess};
        const QString started = "Download started", aborted = "Update aborted: ";
        row("zeros around and between packets", 1, {hex("0000CC0000"), hex("034040")}, download, started);
        row("checksum wrong", 1, {Ack, hex("034140"), StatusSuccess}, download,
            "Updater received 3 invalid bytes:3 41 40 |" + started);
        row("ack before the start", -1, {Ack}, {}, "");
        row("status before the start", -1, {StatusSuccess}, {Ack}, "");
        row("Ping refused", 0, times(6, Nak) + ByteList{Ack} + times(7, Nak),
            times(6, AutoBaud) + ByteList{Ping} + times(6, Ping) << Reset, aborted + "too many retries");
        row("empty file", 1, statusOk, {Reset, Ack}, "Firmware file %1 is empty", "empty");
        row("unreadable file", 1, statusOk, {Ping, GetStatus, Ack, Reset}, "Cannot read firmware file %1", "folder");
    }
    void replies()
    {
        QFETCH(int, stage);
        QFETCH(ByteList, blocks);
        QFETCH(ByteList, expectedSent);
        QFETCH(QString, texts);
        QFETCH(QString, file);
        const QString name = "fw_" + file + ".bin";
        QString path = dir.filePath(name);
        if (file == "folder")
            QVERIFY(QDir().mkpath(path));
        else
            path = codeFile(file.isEmpty() ? pattern(10) : QByteArray(), name);
        Harness h(path);
        if (stage == 0)
            h.updater.autoBaud();
        else if (stage > 0)
            h.updater.start();
        h.feed(QVector<QByteArray>(qMax(stage, 0), Ack).toList());
        if (file.isEmpty()) // a file row expects all that was sent
            args<QByteArray>(h.sent);
        h.feed(blocks);
        QCOMPARE(args<QByteArray>(h.sent), expectedSent);
        QCOMPARE(args<QString>(h.status).join('|'), texts.contains("%1") ? texts.arg(path) : texts);
        QCOMPARE(h.finished.count(), 0);
        if (expectedSent.contains(Reset))
            h.probeAfterReset(false);
    }

    // The card restarted mid-download: its boot loader gets the image from the first byte.
    void bootLoaderFoundAgainStartsOver()
    {
        const QByteArray code = pattern(150);
        Harness h(codeFile(code));
        h.updater.start();
        h.feed({Ack, Ack + StatusSuccess, Ack, Ack + StatusSuccess, Ack, Ack + StatusSuccess}); // second block out
        h.updater.autoBaud();
        args<QByteArray>(h.sent);
        h.feed({Ack, Ack, Ack + StatusSuccess});
        QCOMPARE(args<QByteArray>(h.sent), (ByteList{Ping, GetStatus, Ack, downloadOf(192)}));
        QByteArray image;
        for (ByteList out{Ack}; !out.isEmpty() && out.last() != Reset; out = args<QByteArray>(h.sent)) {
            image += out.last().size() == 67 ? out.last().mid(3) : QByteArray();
            h.feed({out.last() == GetStatus ? Ack + StatusSuccess : Ack});
        }
        QCOMPARE(image, code + QByteArray(42, char(0xFF)));
        QVERIFY(h.updater.isSuccessful());
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "tst_updater.moc"
