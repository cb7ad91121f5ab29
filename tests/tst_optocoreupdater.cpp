#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace EMS;
using Common::SerialMessage;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

QByteArray be16(int value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(quint16(value), bytes.data());
    return bytes;
}

const QByteArray Zero(1, '\0');
const QList<QVariantList> StartedAndEnded{{true}, {false}};

// The module behind an unopened port: what is sent is read back from the transmit log
// ("<type name> <param> <bytes, comma separated>"), set up before the panel asks anything.
struct Module
{
    QMetaObject::Connection readTransmitLog()
    {
        return QObject::connect(&port, &KipPort::logDataTransmitted, [this](const QString &line) {
            const int second = line.lastIndexOf(' ');
            const int first = line.lastIndexOf(' ', second - 1);
            if (line.left(first) != "Optocore update")
                return;
            SerialMessage message(49, line.mid(first + 1, second - first - 1).toInt(), QByteArray());
            for (const QString &byte : line.mid(second + 1).split(',', Qt::SkipEmptyParts))
                message.data.append(char(byte.toInt()));
            updates.append(message);
        });
    }
    void reply(int param, const QByteArray &data, Common::MessageType type = Common::MessageType::OptocoreUpdate) { UiTest::deliver(&port, type, param, data); }
    void acknowledgeLast() // as a working module does
    {
        reply(updates.last().param, Zero + (updates.last().param == 4 ? updates.last().data.left(2) : QByteArray()));
    }
    QPushButton *button() { return panel.findChild<QPushButton *>("optocoreUpdateButton"); }
    // Presses the button and answers both version requests: the build description is out.
    void startUpdate()
    {
        reply(0, "OC 7.01.01", Common::MessageType::OptocoreVersion);
        button()->click();
        QCOMPARE(updates.size(), 2);
        reply(0, QByteArray("OC 7.01.01\0", 11));
        reply(0, QByteArray("OC 7.01.01\0", 11)); // the second answer starts nothing more
        QCOMPARE(updates.size(), 3);
        QCOMPARE(updating, QList<QVariantList>{{true}});
    }

    KipPort port{nullptr, 0};
    QList<SerialMessage> updates;
    QMetaObject::Connection log = readTransmitLog();
    OptocoreUpdatePanel panel{&port, nullptr};
    QSignalSpy updating{&panel, &OptocoreUpdatePanel::updating}, progress{&panel, &OptocoreUpdatePanel::updateProgress};
    QSignalSpy cardStatus{&panel, &OptocoreUpdatePanel::cardStatus}, status{&port, &KipPort::statusMessage};
};

} // namespace

class TestOptocoreUpdater : public QObject
{
    Q_OBJECT

    QByteArray firstFile = QByteArray(150, 'a') + QByteArray(150, 'b');
    QByteArray secondFile = QByteArray(129, 'c');

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }
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
        for (int i = 0; i < 20 && module.updates.last().param != 0; ++i)
            module.acknowledgeLast();
        const QList<SerialMessage> expected{
            {49, 1, "OC 7.12.21" + QByteArray(54, '\0')}, {49, 2, be16(3)}, {49, 4, be16(0) + firstFile.left(128)},
            {49, 4, be16(1) + firstFile.mid(128, 128)}, {49, 4, be16(2) + firstFile.mid(256)}, {49, 3, be16(2)},
            {49, 4, be16(0) + secondFile.left(128)}, {49, 4, be16(1) + secondFile.mid(128)}, {49, 0, QByteArray()}};
        QCOMPARE(module.updates.size(), expected.size() + 2);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(module.updates.at(i + 2).encode(), expected.at(i).encode());
        QCOMPARE(module.progress, (QList<QVariantList>{{21}, {42}, {49}, {99}, {99}, {100}}));
        QCOMPARE(progressAtEnd, 100); // 100 before the result
        QCOMPARE(module.updating, StartedAndEnded);
        QVERIFY(module.status.contains(QVariantList{"Optocore updated successfully"}));
        // The new version is read, the loader told to exit, then the card is an Optocore again.
        module.reply(0, QByteArray("OC 7.12.21\0", 11));
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
        const auto row = [](const char *name, int good, int param, const char *data, const QString &text) {
            QTest::newRow(name) << good << param << QByteArray::fromHex(data) << text;
        };
        row("packet refused", 3, 4, "040001", "Flash Verify error at packet 1" + first);
        row("reply too short", 3, 4, "0000", "Packet number not received at packet 1" + first);
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
        QCOMPARE(module.updates.size(), before + 1);
        QCOMPARE(module.updates.last().param, 5); // leave the loader
        QCOMPARE(module.status.mid(texts), status.isEmpty() ? QList<QVariantList>() : QList<QVariantList>{{status}});
        // Late acks send nothing more; a module refusing to leave its loader is not asked again.
        module.reply(4, QByteArray::fromHex("000000"));
        module.reply(2, Zero);
        module.reply(5, QByteArray::fromHex("01"));
        QCOMPARE(module.updates.size(), before + 1);
        QCOMPARE(module.updating, StartedAndEnded);
        QVERIFY(!module.status.contains(QVariantList{"Optocore updated successfully"}));
    }

    // An updater given a folder loads that folder's files; the program folder's paths, and
    // an updater without a folder, stay as they were.
    void firmwareFolder()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QByteArray first(129, 'd'), second(10, 'e');
        writeFile(folder.filePath("build.txt"), "OC 9.00.01");
        writeFile(folder.filePath("udi71221.bin"), first);
        writeFile(folder.filePath("pdi71221.sop"), second);
        QCOMPARE(OptocoreUpdater::buildInfoPath(), QCoreApplication::applicationDirPath() + "/build.txt");
        const OptocoreUpdater programFolder(nullptr);
        QCOMPARE(programFolder.buildInfoFile(), OptocoreUpdater::buildInfoPath());
        QCOMPARE(programFolder.firstFile(), OptocoreUpdater::firstFilePath());
        QCOMPARE(programFolder.secondFile(), OptocoreUpdater::secondFilePath());

        OptocoreUpdater updater(nullptr, folder.path());
        QCOMPARE(updater.secondFile(), folder.filePath("pdi71221.sop"));
        QList<SerialMessage> sent;
        connect(&updater, &OptocoreUpdater::sendMessage, [&sent](SerialMessage *message) { sent.append(*message); });
        QSignalSpy finished(&updater, &OptocoreUpdater::finished);
        updater.start();
        for (int i = 0; i < 20 && finished.isEmpty() && !sent.isEmpty(); ++i) {
            SerialMessage reply(49, sent.last().param, Zero + (sent.last().param == 4 ? sent.last().data.left(2) : QByteArray()));
            updater.receiveMessage(&reply);
        }
        QCOMPARE(finished, (QList<QVariantList>{{true}}));
        const QList<SerialMessage> expected{
            {49, 1, "OC 9.00.01" + QByteArray(54, '\0')}, {49, 2, be16(2)}, {49, 4, be16(0) + first.left(128)},
            {49, 4, be16(1) + first.mid(128)}, {49, 3, be16(1)}, {49, 4, be16(0) + second}, {49, 0, QByteArray()}};
        QCOMPARE(sent.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(sent.at(i).encode(), expected.at(i).encode());

        // Back to the program folder (written by init()) for the next start.
        updater.setFirmwareFolder(QString());
        sent.clear();
        updater.start();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().data, "OC 7.12.21" + QByteArray(54, '\0'));
        updater.cancel();
    }

    // The build description goes out as 64 bytes; an unusable file is refused on the press.
    void files()
    {
        const QByteArray longInfo = "build " + QByteArray(80, 'x');
        writeFile(OptocoreUpdater::buildInfoPath(), longInfo);
        QCOMPARE(OptocoreUpdater::readBuildInfo(), longInfo.left(64));
        writeFile(OptocoreUpdater::secondFilePath(), "");
        const QString refused = "pdi71221.sop is empty";
        Module module;
        module.reply(0, "OC 7.01.01", Common::MessageType::OptocoreVersion);
        module.button()->click();
        QCOMPARE(module.status.last().at(0).toString(), refused);
        QVERIFY(module.updates.isEmpty() && module.updating.isEmpty() && module.button()->isEnabled());
    }
};

QTEST_MAIN(TestOptocoreUpdater)
#include "tst_optocoreupdater.moc"
