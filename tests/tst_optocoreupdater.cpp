#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "update/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using Common::SerialMessage;
using EMS::KipPort;
using EMS::OptocoreUpdatePanel;
using EMS::OptocoreUpdater;

namespace {

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

QByteArray be16(int value)
{
    return QByteArray() + char((value >> 8) & 0xFF) + char(value & 0xFF);
}

// The module behind a card port that was never opened: what the controller sends is
// read back from the port's transmit log ("<type name> <param> <bytes, comma
// separated>"), the module's replies go in as frames.
struct Module
{
    Module()
        : panel(&port, nullptr), updating(&panel, &OptocoreUpdatePanel::updating),
          progress(&panel, &OptocoreUpdatePanel::updateProgress),
          cardStatus(&panel, &OptocoreUpdatePanel::cardStatus), status(&port, &KipPort::statusMessage)
    {
        QObject::connect(&panel, &OptocoreUpdatePanel::updating, [this](bool on) {
            if (!on)
                progressAtEnd = progress.isEmpty() ? -1 : progress.last().at(0).toInt();
        });
    }

    // Set up before the panel, which asks for the module's version as it is made.
    QMetaObject::Connection readTransmitLog()
    {
        return QObject::connect(&port, &KipPort::logDataTransmitted, [this](const QString &line) {
            const int second = line.lastIndexOf(' ');
            const int first = line.lastIndexOf(' ', second - 1);
            versionRequests += line.left(first) == "Optocore version";
            if (line.left(first) != "Optocore update")
                return;
            SerialMessage message(49, line.mid(first + 1, second - first - 1).toInt(), QByteArray());
            for (const QString &byte : line.mid(second + 1).split(',', Qt::SkipEmptyParts))
                message.data.append(char(byte.toInt()));
            updates.append(message);
        });
    }
    void reply(int param, const QByteArray &data) { deliver(49, param, data); }
    void deliver(int type, int param, const QByteArray &data) { UiTest::deliver(&port, type, param, data); }
    // Acknowledges the last update message the way a working module does.
    void acknowledgeLast()
    {
        const SerialMessage last = updates.last();
        reply(last.param, QByteArray(1, '\0') + (last.param == 4 ? last.data.left(2) : QByteArray()));
    }
    QPushButton *button() { return panel.findChild<QPushButton *>("optocoreUpdateButton"); }
    QString label(const char *name) { return panel.findChild<QLabel *>(name)->text(); }

    // Presses the button and answers both version requests: the build description is out.
    void startUpdate()
    {
        QCOMPARE(versionRequests, 1); // asked for as the panel was made
        QVERIFY(!button()->isEnabled());
        deliver(47, 0, "OC 7.01.01");
        QVERIFY(button()->isEnabled());
        button()->click();
        QVERIFY(!button()->isEnabled());
        QCOMPARE(updates.size(), 2); // the updater's two version requests
        reply(0, QByteArray("OC 7.01.01\0", 11));
        reply(0, QByteArray("OC 7.01.01\0", 11)); // the second answer starts nothing more
        QCOMPARE(updates.size(), 3);
        QCOMPARE(updates.last().param, 1);
        QCOMPARE(updating.count(), 1);
        QCOMPARE(updating.at(0).at(0).toBool(), true);
    }

    KipPort port{nullptr, 0};
    QList<SerialMessage> updates;
    int versionRequests = 0;
    int progressAtEnd = -2;
    QMetaObject::Connection log = readTransmitLog();
    OptocoreUpdatePanel panel;
    QSignalSpy updating;
    QSignalSpy progress;
    QSignalSpy cardStatus;
    QSignalSpy status;
};

} // namespace

class TestOptocoreUpdater : public QObject
{
    Q_OBJECT

    QByteArray firstFile = pattern(300, 1);
    QByteArray secondFile = pattern(129, 7);

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void init()
    {
        writeFile(OptocoreUpdater::buildInfoPath(), "OC 7.12.21");
        writeFile(OptocoreUpdater::firstFilePath(), firstFile);
        writeFile(OptocoreUpdater::secondFilePath(), secondFile);
    }
    void cleanup()
    {
        for (const QString &path : {OptocoreUpdater::buildInfoPath(), OptocoreUpdater::firstFilePath(),
                                    OptocoreUpdater::secondFilePath()})
            QFile::remove(path);
    }

    // The build description goes out as 64 bytes and shows up to its first zero byte.
    void buildInfo_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no build.txt
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("padded") << QByteArray("OC 7.12.21") << QByteArray("OC 7.12.21") + QByteArray(54, '\0')
                                << "OC 7.12.21";
        const QByteArray longInfo = QByteArray("build ") + QByteArray(80, 'x');
        QTest::newRow("cut to 64") << longInfo << longInfo.left(64) << QString(longInfo.left(64));
        QTest::newRow("up to a zero byte") << QByteArray("v2\0junk", 7) << QByteArray("v2\0junk", 7) + QByteArray(57, '\0')
                                           << "v2";
        QTest::newRow("no file") << QByteArray() << QByteArray(64, '\0') << "";
    }
    void buildInfo()
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
            return;
        module.startUpdate();
        QCOMPARE(module.updates.last().data, sent);
    }

    void fullUpdate()
    {
        Module module;
        module.startUpdate();
        module.acknowledgeLast();
        // Out-of-turn acknowledgements change nothing.
        module.reply(1, QByteArray(1, '\0'));
        module.reply(3, QByteArray(1, '\0'));
        QCOMPARE(module.updates.size(), 4);
        for (int i = 0; i < 20 && module.updates.last().param != 0; ++i)
            module.acknowledgeLast();

        // build description, announcement, 3 packets, announcement, 2 packets, version request
        const QList<SerialMessage> updates = module.updates.mid(2);
        QCOMPARE(updates.size(), 9);
        QCOMPARE(updates.at(1).param, 2);
        QCOMPARE(updates.at(1).data, be16(3));
        QCOMPARE(updates.at(5).param, 3);
        QCOMPARE(updates.at(5).data, be16(2));
        QByteArray first;
        QByteArray second;
        for (int i : {2, 3, 4, 6, 7}) {
            QCOMPARE(updates.at(i).param, 4);
            QCOMPARE(updates.at(i).data.left(2), be16(i < 5 ? i - 2 : i - 6));
            (i < 5 ? first : second) += updates.at(i).data.mid(2);
        }
        QCOMPARE(first, firstFile);
        QCOMPARE(second, secondFile);
        QList<int> values;
        for (const QList<QVariant> &args : module.progress)
            values.append(args.at(0).toInt());
        QCOMPARE(values, (QList<int>{21, 42, 49, 99, 99, 100}));
        QCOMPARE(module.progressAtEnd, 100); // 100 before the result
        QCOMPARE(module.updating.count(), 2);
        QVERIFY(module.status.contains(QVariantList{"Optocore updated successfully"}));

        // The new version is shown, the loader is told to exit, then the card panel hears
        // that this is an Optocore card again.
        module.reply(0, QByteArray("OC 7.12.21\0", 11));
        QCOMPARE(module.label("firmwareVersionLabel"), QString("OC 7.12.21"));
        QCOMPARE(module.updates.last().param, 5);
        QCOMPARE(module.cardStatus.count(), 0);
        module.acknowledgeLast();
        QCOMPARE(module.cardStatus.count(), 1);
        QCOMPARE(module.cardStatus.at(0).at(0).value<KipPort::KipCardType>(), KipPort::Optocore);
    }

    // The update ends once, as a failure, and the module is told to leave its loader.
    void moduleFaults_data()
    {
        QTest::addColumn<int>("goodReplies"); // after the build description went out
        QTest::addColumn<int>("param");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("status");
        const QString first = OptocoreUpdater::firstFilePath();
        const QString second = OptocoreUpdater::secondFilePath();
        QTest::newRow("build description refused")
            << 0 << 1 << QByteArray::fromHex("02")
            << "File Checksum error at packet -1 in file " + OptocoreUpdater::buildInfoPath() + ". Update aborted";
        QTest::newRow("packet refused") << 3 << 4 << QByteArray::fromHex("040001")
                                        << "Flash Verify error at packet 1 in file " + first + ". Update aborted";
        QTest::newRow("second file's size refused") << 5 << 3 << QByteArray::fromHex("03")
                                                    << "File Size error at packet -1 in file " + second + ". Update aborted";
        QTest::newRow("reply too short") << 3 << 4 << QByteArray::fromHex("0000")
                                         << "Packet number not received at packet 1 in file " + first + ". Update aborted";
        QTest::newRow("older packet acknowledged")
            << 3 << 4 << QByteArray::fromHex("000000")
            << "Packet number sequence error: 0 received at packet 1 in file " + first + ". Update aborted";
        QTest::newRow("unknown result") << 6 << 4 << QByteArray::fromHex("2A0000")
                                        << "unknown at packet 0 in file " + second + ". Update aborted";
        // The slot form's watchdog gave up on the update: the transfer stops, silently.
        QTest::newRow("given up by the watchdog") << 2 << -1 << QByteArray() << "";
    }
    void moduleFaults()
    {
        QFETCH(int, goodReplies);
        QFETCH(int, param);
        QFETCH(QByteArray, data);
        QFETCH(QString, status);
        Module module;
        module.startUpdate();
        for (int i = 0; i < goodReplies; ++i)
            module.acknowledgeLast();
        const int before = module.updates.size();
        const int texts = module.status.count();
        if (param < 0)
            module.panel.finishUpdate(false);
        else
            module.reply(param, data);
        QCOMPARE(module.status.count(), texts + (status.isEmpty() ? 0 : 1));
        if (!status.isEmpty())
            QCOMPARE(module.status.last().at(0).toString(), status);
        QCOMPARE(module.updates.size(), before + 1);
        QCOMPARE(module.updates.last().param, 5); // leave the loader
        QCOMPARE(module.updating.count(), 2);
        QCOMPARE(module.updating.last().at(0).toBool(), false);

        // Late acknowledgements send nothing more, and a module that refuses to leave its
        // loader is not asked again and again.
        module.reply(4, QByteArray::fromHex("000000"));
        module.reply(2, QByteArray(1, '\0'));
        module.reply(5, QByteArray::fromHex("01"));
        QCOMPARE(module.updates.size(), before + 1);
        QCOMPARE(module.updating.count(), 2);
        QVERIFY(!module.status.contains(QVariantList{"Optocore updated successfully"}));
    }

    // The panel refuses on the press, before the module is asked anything.
    void unusableFiles_data()
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
    void unusableFiles()
    {
        QFETCH(QString, file);
        QFETCH(bool, remove);
        QFETCH(QString, status);
        if (remove)
            QFile::remove(file);
        else
            writeFile(file, QByteArray());
        Module module;
        module.deliver(47, 0, "OC 7.01.01");
        module.button()->click();
        QCOMPARE(module.status.last().at(0).toString(), status);
        QVERIFY(module.updates.isEmpty());
        QCOMPARE(module.updating.count(), 0);
        QVERIFY(module.button()->isEnabled());
    }

    // The updater checks again when it starts: the files may have changed since the press.
    void updaterRefusesEmptyFile()
    {
        OptocoreUpdater updater(nullptr);
        int sent = 0;
        connect(&updater, &OptocoreUpdater::sendMessage, [&sent] { ++sent; });
        QSignalSpy finished(&updater, &OptocoreUpdater::finished);
        QSignalSpy status(&updater, &OptocoreUpdater::statusMessage);
        writeFile(OptocoreUpdater::secondFilePath(), QByteArray());
        updater.start();
        updater.start();
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait(1000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QCOMPARE(status.last().at(0).toString(), QString("pdi71221.sop is empty"));
        for (int step : {1, 2}) {
            SerialMessage ack(49, step, QByteArray(1, '\0'));
            updater.receiveMessage(&ack);
        }
        QCOMPARE(sent, 0);
    }
};

QTEST_MAIN(TestOptocoreUpdater)
#include "tst_optocoreupdater.moc"
