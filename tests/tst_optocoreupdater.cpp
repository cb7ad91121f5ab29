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
        bytes.append(char(i * 13 + seed));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray be16(int value) { return QByteArray() + char(value >> 8) + char(value); }

const QByteArray Zero(1, '\0');
const QList<QVariantList> StartedAndEnded{{true}, {false}};

// The module behind a card port that was never opened: what the controller sends is read
// back from the port's transmit log ("<type name> <param> <bytes, comma separated>"), the
// module's replies go in as frames.
struct Module
{
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
    void reply(int param, const QByteArray &data, int type = 49) { UiTest::deliver(&port, type, param, data); }
    // Acknowledges the last update message the way a working module does.
    void acknowledgeLast()
    {
        reply(updates.last().param, Zero + (updates.last().param == 4 ? updates.last().data.left(2) : QByteArray()));
    }
    QPushButton *button() { return panel.findChild<QPushButton *>("optocoreUpdateButton"); }
    QString label(const char *name) { return panel.findChild<QLabel *>(name)->text(); }
    // Presses the button and answers both version requests: the build description is out.
    void startUpdate()
    {
        QCOMPARE(versionRequests, 1); // asked for as the panel was made
        QVERIFY(!button()->isEnabled());
        reply(0, "OC 7.01.01", 47);
        QVERIFY(button()->isEnabled());
        button()->click();
        QVERIFY(!button()->isEnabled());
        QCOMPARE(updates.size(), 2); // the updater's two version requests
        reply(0, QByteArray("OC 7.01.01\0", 11));
        reply(0, QByteArray("OC 7.01.01\0", 11)); // the second answer starts nothing more
        QCOMPARE(updates.size(), 3);
        QCOMPARE(updates.last().param, 1);
        QCOMPARE(updating, QList<QVariantList>{{true}});
    }

    KipPort port{nullptr, 0};
    QList<SerialMessage> updates;
    int versionRequests = 0;
    QMetaObject::Connection log = readTransmitLog();
    OptocoreUpdatePanel panel{&port, nullptr};
    QSignalSpy updating{&panel, &OptocoreUpdatePanel::updating}, progress{&panel, &OptocoreUpdatePanel::updateProgress};
    QSignalSpy cardStatus{&panel, &OptocoreUpdatePanel::cardStatus}, status{&port, &KipPort::statusMessage};
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
        for (const QString &path :
             {OptocoreUpdater::buildInfoPath(), OptocoreUpdater::firstFilePath(), OptocoreUpdater::secondFilePath()})
            QFile::remove(path);
    }

    void fullUpdate()
    {
        Module module;
        module.startUpdate();
        int progressAtEnd = -1;
        connect(&module.panel, &OptocoreUpdatePanel::updating,
                [&] { progressAtEnd = module.progress.last().at(0).toInt(); });
        module.acknowledgeLast();
        module.reply(1, Zero); // out of turn: changes nothing
        module.reply(3, Zero);
        QCOMPARE(module.updates.size(), 4);
        for (int i = 0; i < 20 && module.updates.last().param != 0; ++i)
            module.acknowledgeLast();
        const auto frames = [](const QList<SerialMessage> &messages) {
            QList<QByteArray> list;
            for (const SerialMessage &message : messages)
                list << message.encode();
            return list;
        };
        const auto packet = [](int param, const QByteArray &data) { return SerialMessage(49, param, data); };
        QCOMPARE(frames(module.updates.mid(2)),
                 frames({packet(1, "OC 7.12.21" + QByteArray(54, '\0')), packet(2, be16(3)),
                         packet(4, be16(0) + firstFile.left(128)), packet(4, be16(1) + firstFile.mid(128, 128)),
                         packet(4, be16(2) + firstFile.mid(256)), packet(3, be16(2)),
                         packet(4, be16(0) + secondFile.left(128)), packet(4, be16(1) + secondFile.mid(128)),
                         packet(0, QByteArray())}));
        QCOMPARE(module.progress, (QList<QVariantList>{{21}, {42}, {49}, {99}, {99}, {100}}));
        QCOMPARE(progressAtEnd, 100); // 100 before the result
        QCOMPARE(module.updating, StartedAndEnded);
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
        QTest::addColumn<int>("param"); // -1: the slot form's watchdog gives up, silently
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("status");
        const QString first = " in file " + OptocoreUpdater::firstFilePath() + ". Update aborted";
        const QString info = " in file " + OptocoreUpdater::buildInfoPath() + ". Update aborted";
        const QString second = " in file " + OptocoreUpdater::secondFilePath() + ". Update aborted";
        const auto row = [](const char *name, int good, int param, const char *data, const QString &text) {
            QTest::newRow(name) << good << param << QByteArray::fromHex(data) << text;
        };
        row("build description refused", 0, 1, "02", "File Checksum error at packet -1" + info);
        row("packet refused", 3, 4, "040001", "Flash Verify error at packet 1" + first);
        row("second file's size refused", 5, 3, "03", "File Size error at packet -1" + second);
        row("reply too short", 3, 4, "0000", "Packet number not received at packet 1" + first);
        row("older packet acknowledged", 3, 4, "000000", "Packet number sequence error: 0 received at packet 1" + first);
        row("given up by the watchdog", 2, -1, "", "");
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
        QCOMPARE(module.updating, StartedAndEnded);
        // Late acknowledgements send nothing more, and a module that refuses to leave its
        // loader is not asked again and again.
        module.reply(4, QByteArray::fromHex("000000"));
        module.reply(2, Zero);
        module.reply(5, QByteArray::fromHex("01"));
        QCOMPARE(module.updates.size(), before + 1);
        QCOMPARE(module.updating, StartedAndEnded);
        QVERIFY(!module.status.contains(QVariantList{"Optocore updated successfully"}));
    }

    // The build description goes out as 64 bytes and shows up to its first zero byte. The
    // panel refuses unusable files on the press, before the module is asked anything; the
    // updater checks again when it starts, as the files may have changed since the press,
    // and reports from the event loop.
    void files_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<QByteArray>("buildInfo");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("status"); // empty: accepted
        const QString info = OptocoreUpdater::buildInfoPath();
        const QByteArray longInfo = QByteArray("build ") + QByteArray(80, 'x'), zeroInside("v2\0junk", 7);
        const QByteArray usual = "OC 7.12.21" + QByteArray(54, '\0');
        QTest::newRow("build.txt cut to 64") << info << longInfo << longInfo.left(64) << QString(longInfo.left(64)) << "";
        QTest::newRow("build.txt up to a zero byte") << info << zeroInside << zeroInside + QByteArray(57, '\0') << "v2"
                                                     << "";
        QTest::newRow("no build.txt") << info << QByteArray() << QByteArray(64, '\0') << "" << "Build.txt file not found";
        QTest::newRow("no udi71221.bin") << OptocoreUpdater::firstFilePath() << QByteArray() << usual << "OC 7.12.21"
                                         << "udi71221.bin file not found";
        QTest::newRow("empty pdi71221.sop") << OptocoreUpdater::secondFilePath() << QByteArray("") << usual
                                            << "OC 7.12.21" << "pdi71221.sop is empty";
    }
    void files()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, buildInfo);
        QFETCH(QString, shown);
        QFETCH(QString, status);
        QFile::remove(file);
        if (!contents.isNull())
            writeFile(file, contents);
        QCOMPARE(OptocoreUpdater::readBuildInfo(), buildInfo);
        Module module;
        QCOMPARE(module.label("firmwareAvailableLabel"), shown);
        if (status.isEmpty())
            return;
        module.reply(0, "OC 7.01.01", 47);
        module.button()->click();
        QCOMPARE(module.status.last().at(0).toString(), status);
        QVERIFY(module.updates.isEmpty());
        QCOMPARE(module.updating.count(), 0);
        QVERIFY(module.button()->isEnabled());
        if (file == OptocoreUpdater::buildInfoPath())
            return; // the updater itself sends 64 zero bytes then

        OptocoreUpdater updater(nullptr);
        int sent = 0;
        connect(&updater, &OptocoreUpdater::sendMessage, [&sent] { ++sent; });
        QSignalSpy finished(&updater, &OptocoreUpdater::finished);
        QSignalSpy texts(&updater, &OptocoreUpdater::statusMessage);
        updater.start();
        updater.start();
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait(1000));
        QCOMPARE(finished, QList<QVariantList>{{false}});
        QCOMPARE(texts.last().at(0).toString(), status);
        for (int step : {1, 2}) {
            SerialMessage ack(49, step, Zero);
            updater.receiveMessage(&ack);
        }
        QCOMPARE(sent, 0);
    }
};

QTEST_MAIN(TestOptocoreUpdater)
#include "tst_optocoreupdater.moc"
