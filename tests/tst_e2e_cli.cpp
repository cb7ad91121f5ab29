// sablefold-cli as a script runs it: the built program, started with QProcess against a
// simulated card on a pseudo-terminal in this process, in real time. The simulator
// answers from this process's event loop, so every wait here runs that loop.
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "support/builtinfirmware.h"

#include "link/bootloaderupdater.h"
#include "link/kipport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using EMS::KipPort;

namespace {

struct Run
{
    int exitCode = -1;
    bool exited = false; // within the time given
    qint64 elapsedMs = 0;
    QString out;
    QString err;
    QString describe() const { return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(exitCode).arg(out, err); }
};

} // namespace

class E2eCliTest : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The user's settings (an OSC target, say) must not reach the program under test.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.path());
        env.insert(QStringLiteral("HOME"), scratch.path());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        return env;
    }

    // Runs the program to its end, the event loop running meanwhile.
    Run run(const QStringList &arguments, int limitMs = 30000, const QProcessEnvironment &env = QProcessEnvironment())
    {
        QProcess process;
        process.setProgram(QStringLiteral(SABLEFOLD_CLI));
        process.setArguments(arguments);
        process.setProcessEnvironment(env.isEmpty() ? environment() : env);
        QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QElapsedTimer clock;
        clock.start();
        process.start();
        Run result;
        result.exited = finished.wait(limitMs);
        result.elapsedMs = clock.elapsed();
        if (!result.exited) {
            process.kill();
            process.waitForFinished(2000);
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString writeFile(const QString &name, const QByteArray &contents)
    {
        QFile file(scratch.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            return QString();
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QProcess::ExitStatus>();
        QVERIFY(scratch.isValid());
        QVERIFY(QFile::exists(QStringLiteral(SABLEFOLD_CLI)));
    }

    void helpWithoutDisplay()
    {
        QProcessEnvironment env = environment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        const Run help = run({"--help"}, 10000, env);
        QVERIFY2(help.exited && help.exitCode == 0, qPrintable(help.describe()));
        for (const char *text : {"status", "watch", "update --slot N", "sync-source", "madi-tx", "--port1", "--osc-out",
                                 "--osc-in", "--timeout"})
            QVERIFY2(help.out.contains(QLatin1String(text)), text);
        const Run version = run({"--version"}, 10000, env);
        QVERIFY2(version.exitCode == 0 && version.out.contains(QLatin1String("1.6")), qPrintable(version.describe()));
    }

    void statusOfTheSimulatedCard_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("cardName");
        QTest::addColumn<QString>("lockA");
        QTest::newRow("BNC MADI") << int(KipPort::MadiBnc) << "BNC MADI" << "locked";
        QTest::newRow("Dante") << int(KipPort::Dante) << "DANTE" << "locked";
    }
    void statusOfTheSimulatedCard()
    {
        QFETCH(int, cardType);
        QFETCH(QString, cardName);
        QFETCH(QString, lockA);
        CardSimulator card;
        card.firmware().resetState(cardType);
        card.firmware().setTemperature(47);
        const Run status = run({"status", "--json", "--port1", card.portName(), "--slot", "1"});
        QVERIFY2(status.exited && status.exitCode == 0, qPrintable(status.describe()));
        const QJsonObject document = QJsonDocument::fromJson(status.out.toUtf8()).object();
        const QJsonArray slotList = document.value("slots").toArray();
        QCOMPARE(slotList.size(), 1);
        const QJsonObject kip1 = slotList.at(0).toObject();
        QCOMPARE(kip1.value("slot").toInt(), 1);
        QCOMPARE(kip1.value("cardType").toString(), cardName);
        QCOMPARE(kip1.value("firmwareVersion").toInt(), 12);
        QCOMPARE(kip1.value("fpgaVersion").toString(), QStringLiteral("2014/05/12"));
        QCOMPARE(kip1.value("temperature").toInt(), 47);
        QCOMPARE(kip1.value("sampleRate").toInt(), 48000);
        QCOMPARE(kip1.value("link").toString(), QStringLiteral("connected"));
        QCOMPARE(kip1.value("port").toString(), card.portName());
        QCOMPARE(kip1.value("locks").toObject().value("a").toString(), lockA);
        QVERIFY2(!kip1.value("syncSource").toString().isEmpty(), qPrintable(status.out));
    }

    // Every way of not reaching a card ends, within the timeout, non-zero and saying why.
    void failsClearlyAndInTime_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("silentCard"); // the card's port is given as {card}
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("card silent") << QStringList{"status", "--slot", "1", "--port1", "{card}", "--timeout", "2"} << true
                                     << 1 << "KIP 1: no card answered on";
        QTest::newRow("no such device") << QStringList{"status", "--slot", "1", "--port1", "/dev/pts/no-such", "--timeout", "2"}
                                        << false << 1 << "Could not open /dev/pts/no-such";
        QTest::newRow("set, card silent") << QStringList{"set", "--slot", "1", "sync-source", "auto", "--port1", "{card}",
                                                         "--timeout", "2"}
                                          << true << 1 << "no card answered";
        QTest::newRow("update, card silent") << QStringList{"update", "--slot", "1", "--code", "{code}", "--port1", "{card}",
                                                            "--timeout", "2"}
                                             << true << 1 << "no card answered";
        QTest::newRow("update, file missing") << QStringList{"update", "--slot", "1", "--code", "/no/such.bin"} << false << 1
                                              << "cannot read /no/such.bin";
        QTest::newRow("slot 3") << QStringList{"set", "--slot", "3", "sync-source", "auto"} << false << 2
                                << "--slot must be 1 or 2";
        QTest::newRow("unknown source") << QStringList{"set", "--slot", "1", "sync-source", "madi-c"} << false << 2
                                        << "sync source must be";
        QTest::newRow("two updates") << QStringList{"update", "--slot", "1", "--all", "--code", "x"} << false << 2
                                     << "exactly one of";
        QTest::newRow("Optocore and code") << QStringList{"update", "--slot", "1", "--optocore", "/tmp", "--code", "x"}
                                           << false << 2 << "exactly one of";
        QTest::newRow("unknown command") << QStringList{"reboot"} << false << 2 << "unknown command reboot";
        QTest::newRow("bad OSC target") << QStringList{"watch", "--osc-out", "nowhere", "--port1", "{card}"} << true << 2
                                        << "OSC target nowhere is not HOST:PORT";
        QTest::newRow("watch, no adapter") << QStringList{"watch", "--slot", "2", "--timeout", "2"} << false << 1
                                           << "KIP 2: no serial adapter";
    }
    void failsClearlyAndInTime()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, silentCard);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        CardSimulator card;
        card.setSilent(silentCard);
        const QString code = writeFile("code-13.bin", UpdateTest::codeImage(13, 300));
        arguments.replaceInStrings(QStringLiteral("{card}"), card.portName());
        arguments.replaceInStrings(QStringLiteral("{code}"), code);
        const Run result = run(arguments, 15000);
        QVERIFY2(result.exited, qPrintable(result.describe()));
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.err.contains(message), qPrintable(result.describe()));
        QVERIFY2(result.elapsedMs < 8000, qPrintable(QString::number(result.elapsedMs)));
    }

    void updateIsConfirmedByTheCard_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("reported");
        QTest::newRow("code") << "--code" << UpdateTest::codeImage(13, 300) << "code 13, FPGA 2014/05/12";
        QTest::newRow("FPGA") << "--fpga" << UpdateTest::fpgaImage("2019/01/01", 600) << "code 12, FPGA 2019/01/01";
    }
    void updateIsConfirmedByTheCard()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, image);
        QFETCH(QString, reported);
        CardSimulator card;
        const QString file = writeFile(QStringLiteral("image") + option, image);
        const Run update = run({"update", "--slot", "1", option, file, "--port1", card.portName()}, 60000);
        QVERIFY2(update.exited && update.exitCode == 0, qPrintable(update.describe()));
        QVERIFY2(update.out.contains(QStringLiteral("KIP 1: update done, the card reports ") + reported),
                 qPrintable(update.describe()));
        // Plain progress lines, not a bar, when the output is not a terminal.
        QVERIFY2(update.out.contains(QLatin1String("KIP 1 update 100 %\n")), qPrintable(update.out));
        QVERIFY(!update.out.contains(QLatin1Char('\r')));
        if (option == QLatin1String("--code"))
            QCOMPARE(int(card.firmware().state().firmwareVersion), 13);
        else
            QCOMPARE(card.firmware().installedFpgaImage(), image);
    }

    void refusedUpdateFailsWithTheLoadersText_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("packets refused") << 0 << "Update aborted: too many retries";
        QTest::newRow("flash failure") << 1 << "Update aborted: received";
    }
    void refusedUpdateFailsWithTheLoadersText()
    {
        QFETCH(int, fault);
        QFETCH(QString, text);
        CardSimulator card;
        // One packet refused until the updater gives up; the card then restarts into
        // its old program, whose answer to the probe ends the update.
        if (fault == 0)
            card.nakNextBootPackets(Common::Updater::MaxResends + 1);
        else
            card.failNextStatus(0x44);
        const QString file = writeFile("refused.bin", UpdateTest::codeImage(13, 300));
        const Run update = run({"update", "--slot", "1", "--code", file, "--port1", card.portName()}, 90000);
        QVERIFY2(update.exited, qPrintable(update.describe()));
        QCOMPARE(update.exitCode, 1);
        QVERIFY2(update.err.contains(QLatin1String("KIP 1: update failed: ")) && update.err.contains(text),
                 qPrintable(update.describe()));
        QVERIFY(!update.out.contains(QLatin1String("update done")));
    }

    // The Optocore module loaded from a folder of the script's choosing: confirmed by the
    // module's version once it has left its loader; every refusal ends non-zero with the
    // reason, and a module that did not take the files keeps its old version.
    void optocoreModuleFromAFolder_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QStringList>("files"); // written into the folder
        QTest::addColumn<int>("refusedStep"); // -1: none
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on stdout for a success, on stderr otherwise
        QTest::addColumn<QByteArray>("versionAfter");
        const QStringList all{"build.txt", "udi71221.bin", "pdi71221.sop"};
        const QByteArray old = "OCM 4.21 b1207";
        QTest::newRow("updated") << int(KipPort::Optocore) << all << -1 << 0
                                 << "KIP 1: update done, the Optocore module reports OC 7.12.21"
                                 << QByteArray("OC 7.12.21");
        QTest::newRow("packet refused") << int(KipPort::Optocore) << all << 4 << 1
                                        << "KIP 1: Optocore update failed: Flash Verify error at packet 0 in file "
                                        << old;
        QTest::newRow("description refused") << int(KipPort::Optocore) << all << 1 << 1
                                             << "KIP 1: Optocore update failed: Flash Verify error at packet -1 in file "
                                             << old;
        QTest::newRow("second file missing") << int(KipPort::Optocore) << QStringList(all.mid(0, 2)) << -1 << 1
                                             << "pdi71221.sop file not found" << old;
        QTest::newRow("build.txt missing") << int(KipPort::Optocore) << QStringList(all.mid(1)) << -1 << 1 << "build.txt file not found"
                                           << old;
        QTest::newRow("not an Optocore card") << int(KipPort::MadiBnc) << all << -1 << 1
                                              << "KIP 1: the card is a BNC MADI card, not an Optocore card" << old;
    }
    void optocoreModuleFromAFolder()
    {
        QFETCH(int, cardType);
        QFETCH(QStringList, files);
        QFETCH(int, refusedStep);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(QByteArray, versionAfter);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QMap<QString, QByteArray> contents{{"build.txt", "OC 7.12.21"},
                                                 {"udi71221.bin", QByteArray(150, 'a') + QByteArray(150, 'b')},
                                                 {"pdi71221.sop", QByteArray(129, 'c')}};
        for (const QString &name : files) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents[name]) == contents[name].size());
        }
        CardSimulator card;
        card.firmware().resetState(cardType);
        const OptocoreState &module = card.firmware().state().optocore;
        if (refusedStep >= 0)
            card.firmware().refuseOptocoreUpdateStep(refusedStep, LoaderFlashVerifyError);
        const Run update = run({"update", "--slot", "1", "--optocore", folder.path(), "--port1", card.portName()}, 60000);
        QVERIFY2(update.exited, qPrintable(update.describe()));
        QCOMPARE(update.exitCode, exitCode);
        QVERIFY2((exitCode == 0 ? update.out : update.err).contains(message), qPrintable(update.describe()));
        if (exitCode == 0) {
            QVERIFY2(update.out.contains(QLatin1String("KIP 1: Optocore card, module version OCM 4.21 b1207\n"))
                         && update.out.contains(QLatin1String("KIP 1 update 100 %\n"))
                         && update.out.contains(QLatin1String("KIP 1: updating the Optocore module to OC 7.12.21")),
                     qPrintable(update.describe()));
        } else {
            QVERIFY2(!update.out.contains(QLatin1String("update done")), qPrintable(update.describe()));
        }
        QCOMPARE(module.version, versionAfter);
        // Whatever the end, the module was told to leave its loader.
        QCOMPARE(module.loader.stage, 0);
    }

    void watchPrintsALockLoss()
    {
        CardSimulator card;
        QProcess watch;
        watch.setProcessEnvironment(environment());
        watch.start(QStringLiteral(SABLEFOLD_CLI),
                    {"watch", "--json", "--slot", "1", "--port1", card.portName(), "--duration", "30"});
        QVERIFY(watch.waitForStarted(5000));
        QList<QJsonObject> events;
        QString pending;
        const auto readEvents = [&] {
            pending += QString::fromUtf8(watch.readAllStandardOutput());
            while (pending.contains(QLatin1Char('\n'))) {
                const int end = pending.indexOf(QLatin1Char('\n'));
                events << QJsonDocument::fromJson(pending.left(end).toUtf8()).object();
                pending.remove(0, end + 1);
            }
            return events.size();
        };
        const auto has = [&](const QString &kind, const QString &text) {
            readEvents();
            return std::any_of(events.cbegin(), events.cend(), [&](const QJsonObject &event) {
                return event.value("kind").toString() == kind && event.value("text").toString().contains(text);
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(has("card", "BNC MADI card found"), 10000);
        card.firmware().setReceiveLocked(0, false);
        QTRY_VERIFY_WITH_TIMEOUT(has("clock", "MADI A lost lock"), 5000);
        for (const QJsonObject &event : qAsConst(events)) {
            QCOMPARE(event.value("slot").toInt(), 1);
            QVERIFY(event.contains("time") && event.contains("severity"));
        }
        // Ctrl-C ends a watch, and that is a success.
        QSignalSpy finished(&watch, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        watch.terminate();
        QVERIFY(finished.wait(5000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
    }

    void settingsReachTheCard()
    {
        CardSimulator card;
        const CardState &state = card.firmware().state();
        QVERIFY(state.syncAuto);
        Run set = run({"set", "--slot", "1", "sync-source", "word-clock", "--port1", card.portName()});
        QVERIFY2(set.exitCode == 0 && set.out.contains(QLatin1String("KIP 1 sync source WORD-CLOCK")), qPrintable(set.describe()));
        QVERIFY(!state.syncAuto);
        QCOMPARE(int(state.syncSource), 254);

        // Asked again, the card reports no change; its full status still confirms it.
        set = run({"set", "--slot", "1", "sync-source", "word-clock", "--port1", card.portName()});
        QVERIFY2(set.exitCode == 0, qPrintable(set.describe()));

        set = run({"set", "--slot", "1", "madi-tx", "B", "64", "--port1", card.portName()});
        QVERIFY2(set.exitCode == 0 && set.out.contains(QLatin1String("KIP 1 MADI B transmits 64 channels")),
                 qPrintable(set.describe()));
        QVERIFY(!state.madi[1].txTracksRx);
        QCOMPARE(int(state.madi[1].txChannels), 64);
        QVERIFY(state.madi[0].txTracksRx);

        // A source the card does not have: it keeps its choice, and the run says so.
        card.firmware().resetState(KipPort::Aes);
        set = run({"set", "--slot", "1", "sync-source", "madi-b", "--port1", card.portName(), "--timeout", "3"});
        QCOMPARE(set.exitCode, 1);
        QVERIFY2(set.err.contains(QLatin1String("the card did not take the change")), qPrintable(set.describe()));
    }
};

QTEST_MAIN(E2eCliTest)
#include "tst_e2e_cli.moc"
