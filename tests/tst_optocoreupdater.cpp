#include "link/kipport.h"
#include "update/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using Common::SerialMessage;
using EMS::KipPort;
using EMS::OptocoreUpdatePanel;
using EMS::OptocoreUpdater;

namespace {

struct Sent
{
    QString type;
    int param;
    QByteArray data;
};

QByteArray pattern(int size, int seed)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char((i * 13 + seed) & 0xFF));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray frame(int type, int param, const QByteArray &payload)
{
    QByteArray bytes;
    bytes += char(3 + payload.size());
    bytes += char(type);
    bytes += char(param);
    bytes += payload;
    quint8 sum = 0;
    for (char byte : bytes)
        sum = quint8(sum + quint8(byte));
    bytes += char(sum);
    return bytes;
}

QByteArray be16(int value)
{
    return QByteArray() + char((value >> 8) & 0xFF) + char(value & 0xFF);
}

// Reads back what a card port sends from its transmit log:
// "<type name> <param> <bytes, comma separated>".
struct TransmitLog
{
    explicit TransmitLog(KipPort *port)
    {
        QObject::connect(port, &KipPort::logDataTransmitted, [this](const QString &line) {
            const int second = line.lastIndexOf(' ');
            const int first = line.lastIndexOf(' ', second - 1);
            Sent message{line.left(first), line.mid(first + 1, second - first - 1).toInt(), QByteArray()};
            for (const QString &byte : line.mid(second + 1).split(',', Qt::SkipEmptyParts))
                message.data.append(char(byte.toInt()));
            sent.append(message);
        });
    }

    QList<Sent> sent;
};

// The module on the far side of a card port that was never opened: what the controller
// sends is read back from the port's transmit log, the module's replies go in as frames.
struct Module
{
    Module()
        : log(&port),
          sent(log.sent),
          panel(&port, nullptr),
          updating(&panel, &OptocoreUpdatePanel::updating),
          progress(&panel, &OptocoreUpdatePanel::updateProgress),
          cardStatus(&panel, &OptocoreUpdatePanel::cardStatus),
          status(&port, &KipPort::statusMessage)
    {
    }

    void reply(int param, const QByteArray &data) { port.receiveKipData(frame(49, param, data)); }
    void replyVersion(const QByteArray &text) { port.receiveKipData(frame(47, 0, text)); }

    QList<Sent> updates() const
    {
        QList<Sent> list;
        for (const Sent &message : sent)
            if (message.type == "Optocore update")
                list.append(message);
        return list;
    }

    // Acknowledges the last update message the way a working module does.
    void acknowledgeLast()
    {
        const Sent last = updates().last();
        if (last.param == 4)
            reply(4, QByteArray(1, '\0') + last.data.left(2));
        else
            reply(last.param, QByteArray(1, '\0'));
    }

    QPushButton *button() { return panel.findChild<QPushButton *>("optocoreUpdateButton"); }
    QString label(const char *name) { return panel.findChild<QLabel *>(name)->text(); }

    KipPort port{nullptr, 0};
    TransmitLog log;
    QList<Sent> &sent;
    OptocoreUpdatePanel panel;
    QSignalSpy updating;
    QSignalSpy progress;
    QSignalSpy cardStatus;
    QSignalSpy status;
};

QList<int> ints(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &args : spy)
        values.append(args.at(0).toInt());
    return values;
}

} // namespace

class TestOptocoreUpdater : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void buildInfo_data();
    void buildInfo();
    void versionBeforeFirstPress();
    void fullUpdate();
    void moduleFaults_data();
    void moduleFaults();
    void unusableFiles_data();
    void unusableFiles();
    void updaterRefusesEmptyFile();
    void watchdogFailureStopsTransfer();

private:
    // Presses the button and answers both version requests; the build description is out.
    void startUpdate(Module &module);

    QByteArray firstFile;
    QByteArray secondFile;
};

void TestOptocoreUpdater::init()
{
    firstFile = pattern(300, 1);
    secondFile = pattern(129, 7);
    writeFile(OptocoreUpdater::buildInfoPath(), "OC 7.12.21");
    writeFile(OptocoreUpdater::firstFilePath(), firstFile);
    writeFile(OptocoreUpdater::secondFilePath(), secondFile);
}

void TestOptocoreUpdater::cleanup()
{
    QFile::remove(OptocoreUpdater::buildInfoPath());
    QFile::remove(OptocoreUpdater::firstFilePath());
    QFile::remove(OptocoreUpdater::secondFilePath());
}

void TestOptocoreUpdater::startUpdate(Module &module)
{
    module.replyVersion("OC 7.01.01");
    QVERIFY(module.button()->isEnabled());
    module.button()->click();
    QVERIFY(!module.button()->isEnabled());
    QCOMPARE(module.updates().size(), 2);
    QCOMPARE(module.updates().at(0).param, 0);
    QCOMPARE(module.updates().at(1).param, 0);

    module.reply(0, QByteArray("OC 7.01.01\0", 11));
    QCOMPARE(module.updates().size(), 3);
    QCOMPARE(module.updates().last().param, 1);
    // The answer to the second version request starts nothing more.
    module.reply(0, QByteArray("OC 7.01.01\0", 11));
    QCOMPARE(module.updates().size(), 3);
    QCOMPARE(module.updating.count(), 1);
    QCOMPARE(module.updating.at(0).at(0).toBool(), true);
    QCOMPARE(module.label("firmwareVersionLabel"), QString("OC 7.01.01"));
}

void TestOptocoreUpdater::buildInfo_data()
{
    QTest::addColumn<QByteArray>("contents"); // null: no build.txt
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("shown");

    QTest::newRow("ten bytes, padded") << QByteArray("OC 7.12.21") << QByteArray("OC 7.12.21") + QByteArray(54, '\0')
                                       << "OC 7.12.21";
    const QByteArray longInfo = QByteArray("build ") + QByteArray(80, 'x');
    QTest::newRow("longer, cut to 64") << longInfo << longInfo.left(64) << QString(longInfo.left(64));
    QTest::newRow("shown up to a zero byte") << QByteArray("v2\0junk", 7) << QByteArray("v2\0junk", 7) + QByteArray(57, '\0')
                                             << "v2";
    QTest::newRow("no file") << QByteArray() << QByteArray(64, '\0') << "";
}

void TestOptocoreUpdater::buildInfo()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, sent);
    QFETCH(QString, shown);

    QFile::remove(OptocoreUpdater::buildInfoPath());
    if (!contents.isNull())
        writeFile(OptocoreUpdater::buildInfoPath(), contents);
    QCOMPARE(OptocoreUpdater::readBuildInfo(), sent);

    Module module;
    QCOMPARE(module.label("firmwareAvailableLabel"), shown);
    if (contents.isNull())
        return; // the button refuses to start without the file
    startUpdate(module);
    QCOMPARE(module.updates().last().data, sent);
}

void TestOptocoreUpdater::versionBeforeFirstPress()
{
    Module module;
    QCOMPARE(module.sent.size(), 1);
    QCOMPARE(module.sent.at(0).type, QString("Optocore version"));
    QVERIFY(!module.button()->isEnabled());

    module.replyVersion(QByteArray("OC 6.3\0\0", 8));
    QCOMPARE(module.label("firmwareVersionLabel"), QString("OC 6.3"));
    QVERIFY(module.button()->isEnabled());
    QCOMPARE(module.sent.size(), 1); // no updater yet: nothing to leave

    // Once an updater exists, an unrequested version reply tells the loader to exit.
    startUpdate(module);
    module.reply(1, QByteArray::fromHex("01"));
    const int before = module.updates().size();
    module.replyVersion("OC 6.3");
    QCOMPARE(module.updates().size(), before + 1);
    QCOMPARE(module.updates().last().param, 5);
}

void TestOptocoreUpdater::fullUpdate()
{
    Module module;
    startUpdate(module);
    module.acknowledgeLast();
    module.reply(1, QByteArray(1, '\0')); // a repeated acknowledgement changes nothing
    while (module.updates().last().param != 0) {
        QVERIFY(module.updates().size() < 20);
        module.acknowledgeLast();
    }

    // build description, announcement, 3 packets, announcement, 2 packets, version request
    const QList<Sent> updates = module.updates().mid(2);
    QCOMPARE(updates.size(), 9);
    QCOMPARE(updates.at(1).param, 2);
    QCOMPARE(updates.at(1).data, be16(3));
    QCOMPARE(updates.at(5).param, 3);
    QCOMPARE(updates.at(5).data, be16(2));
    QByteArray first;
    QByteArray second;
    for (int i = 2; i < 5; ++i) {
        QCOMPARE(updates.at(i).param, 4);
        QCOMPARE(updates.at(i).data.left(2), be16(i - 2));
        first += updates.at(i).data.mid(2);
    }
    for (int i = 6; i < 8; ++i) {
        QCOMPARE(updates.at(i).param, 4);
        QCOMPARE(updates.at(i).data.left(2), be16(i - 6));
        second += updates.at(i).data.mid(2);
    }
    QCOMPARE(first, firstFile);
    QCOMPARE(second, secondFile);
    QCOMPARE(ints(module.progress), (QList<int>{21, 42, 49, 99, 99, 100}));
    QCOMPARE(module.updating.count(), 2);
    QCOMPARE(module.updating.last().at(0).toBool(), false);
    QVERIFY(module.status.contains(QVariantList{"Optocore updated successfully"}));

    // The new version is shown, then the loader is told to exit, then the card panel
    // hears that this is an Optocore card again.
    module.reply(0, QByteArray("OC 7.12.21\0", 11));
    QCOMPARE(module.label("firmwareVersionLabel"), QString("OC 7.12.21"));
    QCOMPARE(module.updates().last().param, 5);
    QCOMPARE(module.cardStatus.count(), 0);
    module.acknowledgeLast();
    QCOMPARE(module.cardStatus.count(), 1);
    QCOMPARE(module.cardStatus.at(0).at(0).value<KipPort::KipCardType>(), KipPort::Optocore);
    QVERIFY(module.cardStatus.at(0).at(1).toByteArray().isEmpty());
}

void TestOptocoreUpdater::moduleFaults_data()
{
    QTest::addColumn<int>("goodReplies"); // after the build description went out
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("status");

    const QString first = OptocoreUpdater::firstFilePath();
    const QString second = OptocoreUpdater::secondFilePath();
    QTest::newRow("build description refused") << 0 << 1 << QByteArray::fromHex("02")
                                               << "File Checksum error at packet -1 in file " + OptocoreUpdater::buildInfoPath() + ". Update aborted";
    QTest::newRow("packet refused in the first file") << 3 << 4 << QByteArray::fromHex("040001")
                                                      << "Flash Verify error at packet 1 in file " + first + ". Update aborted";
    QTest::newRow("second file's size refused") << 5 << 3 << QByteArray::fromHex("03")
                                                << "File Size error at packet -1 in file " + second + ". Update aborted";
    QTest::newRow("reply too short") << 3 << 4 << QByteArray::fromHex("0000")
                                     << "Packet number not received at packet 1 in file " + first + ". Update aborted";
    QTest::newRow("older packet acknowledged") << 3 << 4 << QByteArray::fromHex("000000")
                                               << "Packet number sequence error: 0 received at packet 1 in file " + first + ". Update aborted";
    QTest::newRow("unknown result") << 6 << 4 << QByteArray::fromHex("2A0000")
                                    << "unknown at packet 0 in file " + second + ". Update aborted";
}

void TestOptocoreUpdater::moduleFaults()
{
    QFETCH(int, goodReplies);
    QFETCH(int, param);
    QFETCH(QByteArray, data);
    QFETCH(QString, status);

    Module module;
    startUpdate(module);
    for (int i = 0; i < goodReplies; ++i)
        module.acknowledgeLast();
    const int before = module.updates().size();
    module.reply(param, data);

    QCOMPARE(module.status.last().at(0).toString(), status);
    QCOMPARE(module.updates().size(), before + 1);
    QCOMPARE(module.updates().last().param, 5); // leave the loader
    QCOMPARE(module.updating.count(), 2);
    QCOMPARE(module.updating.last().at(0).toBool(), false);
    QVERIFY(!module.status.contains(QVariantList{"Optocore updated successfully"}));
    // The port was never opened, so the button stays off.
    QVERIFY(!module.button()->isEnabled());

    // Late acknowledgements after the abort send nothing more, and a module that also
    // refuses to leave its loader is not asked again and again.
    module.reply(4, QByteArray::fromHex("000000"));
    module.reply(2, QByteArray(1, '\0'));
    module.reply(5, QByteArray::fromHex("01"));
    QCOMPARE(module.updates().size(), before + 1);
    QCOMPARE(module.updating.count(), 2);
}

void TestOptocoreUpdater::unusableFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("remove"); // else: leave it empty
    QTest::addColumn<QString>("status");

    QTest::newRow("no build.txt") << OptocoreUpdater::buildInfoPath() << true << "Build.txt file not found";
    QTest::newRow("no udi71221.bin") << OptocoreUpdater::firstFilePath() << true << "udi71221.bin file not found";
    QTest::newRow("no pdi71221.sop") << OptocoreUpdater::secondFilePath() << true << "pdi71221.sop file not found";
    QTest::newRow("empty udi71221.bin") << OptocoreUpdater::firstFilePath() << false << "udi71221.bin is empty";
    QTest::newRow("empty pdi71221.sop") << OptocoreUpdater::secondFilePath() << false << "pdi71221.sop is empty";
}

void TestOptocoreUpdater::unusableFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, remove);
    QFETCH(QString, status);

    if (remove)
        QFile::remove(file);
    else
        writeFile(file, QByteArray());

    Module module;
    module.replyVersion("OC 7.01.01");
    module.button()->click();
    QCOMPARE(module.status.last().at(0).toString(), status);
    QVERIFY(module.updates().isEmpty());
    QCOMPARE(module.updating.count(), 0);
    QVERIFY(module.button()->isEnabled());
    QVERIFY(!module.panel.optocoreUpdater());
}

void TestOptocoreUpdater::updaterRefusesEmptyFile()
{
    // The panel checks on the press; the updater checks again when it starts, since the
    // files may change in between.
    OptocoreUpdater updater(nullptr);
    QList<SerialMessage> sent;
    connect(&updater, &OptocoreUpdater::sendMessage, [&sent](SerialMessage *message) { sent.append(*message); });
    QSignalSpy finished(&updater, &OptocoreUpdater::finished);
    QSignalSpy status(&updater, &OptocoreUpdater::statusMessage);

    writeFile(OptocoreUpdater::secondFilePath(), QByteArray());
    updater.start();
    updater.start();
    QVERIFY(sent.isEmpty());
    QCOMPARE(finished.count(), 0);
    QVERIFY(finished.wait(1000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(status.last().at(0).toString(), QString("pdi71221.sop is empty"));

    // A module answering anyway gets no packet.
    SerialMessage ack(49, 1, QByteArray(1, '\0'));
    updater.receiveMessage(&ack);
    SerialMessage announced(49, 2, QByteArray(1, '\0'));
    updater.receiveMessage(&announced);
    QVERIFY(sent.isEmpty());
}

void TestOptocoreUpdater::watchdogFailureStopsTransfer()
{
    Module module;
    startUpdate(module);
    module.acknowledgeLast();
    module.acknowledgeLast(); // packet 0 out
    QCOMPARE(module.updates().last().param, 4);

    // The slot form's watchdog gave up on the update.
    module.panel.finishUpdate(false);
    QCOMPARE(module.updates().last().param, 5);
    const int before = module.updates().size();
    module.reply(4, QByteArray::fromHex("000000"));
    QCOMPARE(module.updates().size(), before);
    QCOMPARE(module.updating.last().at(0).toBool(), false);
}

QTEST_MAIN(TestOptocoreUpdater)
#include "tst_optocoreupdater.moc"
