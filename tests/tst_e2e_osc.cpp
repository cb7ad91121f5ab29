// The OSC bridge against a standard OSC implementation (liblo's oscdump and oscsend),
// on loopback only, in real time: the slot controller drives a simulated card on a
// pseudo-terminal, oscdump hears what the bridge publishes, and oscsend's commands
// change the simulated card's settings. Skipped where liblo-tools is not installed
// (scripts/install-deps.sh installs it).
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

#include "remote/osccommandreceiver.h"
#include "remote/oscstatepublisher.h"
#include "remote/remoteoptions.h"
#include "slot/slotcontroller.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUdpSocket>
#include <QtTest>

using namespace EMS;

namespace {

// A UDP port free on the loopback address right now.
quint16 freeLoopbackPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

} // namespace

class E2eOscTest : public QObject
{
    Q_OBJECT

    // A simulated MADI card in KIP 1, its slot controller on the card's pseudo-terminal.
    struct Rig
    {
        CardSimulator card;
        QObject owner;
        SlotController *slot = new SlotController(0, &owner, [] { return QList<SerialPortEntry>(); });
        RemoteBridge bridge{&owner};

        Rig()
        {
            slot->setFixedPortName(card.portName());
            slot->scanPorts();
        }
    };

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QProcess::ExitStatus>();
        if (QStandardPaths::findExecutable("oscdump").isEmpty() || QStandardPaths::findExecutable("oscsend").isEmpty())
            QSKIP("liblo-tools (oscdump, oscsend) is not installed");
    }

    void oscdumpHearsTheState()
    {
        Rig rig;
        const quint16 port = freeLoopbackPort();
        QProcess dump;
        // liblo binds its port on every interface; nothing here sends it anything but
        // loopback datagrams. -L: a line per message even into a pipe.
        dump.start(QStringLiteral("oscdump"), {QStringLiteral("-L"), QString::number(port)});
        QVERIFY(dump.waitForStarted(5000));
        QTest::qWait(300); // oscdump binds after it starts
        rig.bridge.publishTo(QHostAddress::LocalHost, port, {rig.slot});
        QString heard;
        const auto hears = [&](const QString &line) {
            heard += QString::fromUtf8(dump.readAllStandardOutput());
            return heard.contains(line);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(hears("/sablefold/kip1/cardtype s \"BNC MADI\""), qPrintable(heard), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("/sablefold/kip1/samplerate i 48000"), qPrintable(heard), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("/sablefold/kip1/lock/a i 1"), qPrintable(heard), 5000);

        // A lock lost at the card reaches the receiver as it happens.
        rig.card.firmware().setReceiveLocked(0, false);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("/sablefold/kip1/lock/a i 0"), qPrintable(heard), 5000);
        rig.card.firmware().setTemperature(51);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("/sablefold/kip1/temperature i 51"), qPrintable(heard), 5000);
        dump.kill();
        dump.waitForFinished(2000);
    }

    void oscsendChangesTheCard_data()
    {
        QTest::addColumn<QStringList>("message"); // oscsend's arguments after host and port
        QTest::addColumn<int>("setting");         // 0 sync source, 1 MADI B transmit format
        QTest::addColumn<int>("expected");        // sync code (-1 auto), or transmitted channels
        QTest::newRow("word clock") << QStringList{"/sablefold/kip1/set/syncsource", "s", "word-clock"} << 0 << 254;
        QTest::newRow("MADI B") << QStringList{"/sablefold/kip1/set/syncsource", "s", "madi-b"} << 0 << 1;
        QTest::newRow("MADI B sends 64") << QStringList{"/sablefold/kip1/set/madi/txmode", "ii", "1", "64"} << 1 << 64;
    }
    void oscsendChangesTheCard()
    {
        QFETCH(QStringList, message);
        QFETCH(int, setting);
        QFETCH(int, expected);
        Rig rig;
        QString error;
        QVERIFY2(rig.bridge.listenOn(QHostAddress::LocalHost, 0, {rig.slot}, &error), qPrintable(error));
        const quint16 port = rig.bridge.receiver()->localPort();
        QTRY_COMPARE_WITH_TIMEOUT(rig.slot->cardType(), KipPort::MadiBnc, 10000);
        const CardState &state = rig.card.firmware().state();
        QVERIFY(state.syncAuto && state.madi[1].txTracksRx);

        QSignalSpy taken(rig.bridge.receiver(), &OscCommandReceiver::commandTaken);
        QProcess send;
        send.start(QStringLiteral("oscsend"), QStringList{"127.0.0.1", QString::number(port)} + message);
        QSignalSpy sent(&send, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(sent.wait(5000));
        QCOMPARE(send.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(taken.count(), 1, 5000);
        if (setting == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(!state.syncAuto && state.syncSource == expected, 5000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!state.madi[1].txTracksRx && state.madi[1].txChannels == expected, 5000);
            QVERIFY(!state.madi[1].controlViaAudio);
        }
        QCOMPARE(rig.bridge.receiver()->refusedCount(), 0);
    }

    void refusedCommandsChangeNothing()
    {
        Rig rig;
        QString error;
        QVERIFY2(rig.bridge.listenOn(QHostAddress::LocalHost, 0, {rig.slot}, &error), qPrintable(error));
        const quint16 port = rig.bridge.receiver()->localPort();
        QTRY_COMPARE_WITH_TIMEOUT(rig.slot->cardType(), KipPort::MadiBnc, 10000);
        const QList<QStringList> refused{
            {"/sablefold/kip1/set/syncsource", "i", "254"},
            {"/sablefold/kip1/set/syncsource", "s", "free-run"},
            {"/sablefold/kip1/set/madi/txmode", "i", "64"},
            {"/sablefold/kip1/update/code", "s", "/tmp/code.bin"},
            {"/sablefold/kip9/set/syncsource", "s", "word-clock"},
        };
        for (const QStringList &message : refused) {
            QProcess send;
            send.start(QStringLiteral("oscsend"), QStringList{"127.0.0.1", QString::number(port)} + message);
            QSignalSpy sent(&send, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
            QVERIFY(sent.wait(5000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.bridge.receiver()->refusedCount(), refused.size(), 5000);
        QCOMPARE(rig.bridge.receiver()->acceptedCount(), 0);
        QTest::qWait(300);
        QVERIFY(rig.card.firmware().state().syncAuto);
        QVERIFY(rig.card.firmware().state().madi[1].txTracksRx);
        QVERIFY(!rig.slot->isUpdating());
    }
};

QTEST_MAIN(E2eOscTest)
#include "tst_e2e_osc.moc"
