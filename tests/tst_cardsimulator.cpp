#include "link/serialmessage.h"
#include "sim/bootloaderemulator.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "support/simulatedcard.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

static const QByteArray AutoBaud("\x55\x55", 2);
static const QByteArray Reset("\x03\x25\x25", 3);

// Collects what the host's port reads.
class HostPort
{
public:
    explicit HostPort(const QString &name)
    {
        opened = SimTest::openCardPort(port, name);
        QObject::connect(&port, &QSerialPort::readyRead, [this] { received += port.readAll(); });
        QObject::connect(&port, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::NoError)
                port.close();
        });
    }

    // Sends bytes and returns what came back once `expected` bytes are in.
    QByteArray exchange(const QByteArray &bytes, int expected, int timeoutMs = 2000)
    {
        received.clear();
        port.write(bytes);
        // A short answer shows up in the caller's comparison.
        QTest::qWaitFor([&] { return received.size() >= expected; }, timeoutMs);
        return received;
    }

    QSerialPort port;
    QByteArray received;
    bool opened = false;
};

class CardSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    void versionMark_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("version");
        QTest::newRow("none") << QByteArray("no mark in here at all") << -1;
        QTest::newRow("mark") << QByteArray("xxversion \x0Cyy") << 12;
        QTest::newRow("any separator") << QByteArray("version:\x2A") << 0x2A;
        QTest::newRow("unsigned") << QByteArray("version \xFF") << 255;
        QTest::newRow("first one counts") << QByteArray("version \x01 version \x02") << 1;
        QTest::newRow("cut off after the word") << QByteArray("abc version ") << -1;
        QTest::newRow("upper case is no mark") << QByteArray("VERSION \x05") << -1;
    }
    void versionMark()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, version);
        QCOMPARE(CardSimulator::versionMark(image), version);
    }

    // The application answers AutoBaud with AA; its "boot loader" message hands the
    // link to the boot loader, whose Reset hands it back.
    void routesBetweenApplicationAndBootLoader()
    {
        CardSimulator card;
        HostPort host(card.portName());
        QVERIFY(host.opened);
        QSignalSpy modes(&card, &CardSimulator::bootLoaderChanged);

        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xAA"));
        host.port.write(Common::SerialMessage(4, 0, QByteArray()).encode());
        QVERIFY(modes.wait(2000));
        QVERIFY(card.isInBootLoader());
        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xCC"));

        QCOMPARE(host.exchange(Reset, 1), QByteArray("\xCC"));
        QCOMPARE(modes.count(), 2);
        QVERIFY(!card.isInBootLoader());
        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xAA"));
    }

    // A card without a program stays in its boot loader through a Reset until a good
    // image has been written.
    void cardWithoutProgramStaysInBootLoader()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        QVERIFY(!card.hasApplication());
        HostPort host(card.portName());
        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xCC"));
        host.exchange(Reset, 1);
        QVERIFY(card.isInBootLoader());
        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xCC"));
    }

    void junkBeforeEveryAnswer()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        card.setJunkBeforeReplies(QByteArray("\x01\x02", 2));
        HostPort host(card.portName());
        // GetStatus has two answers: its ack and the status packet.
        QCOMPARE(host.exchange("\x03\x23\x23", 8), QByteArray("\x01\x02\xCC\x01\x02\x03\x40\x40", 8));
    }

    void silentCardAnswersNothing()
    {
        CardSimulator card;
        HostPort host(card.portName());
        QSignalSpy heard(&card, &CardSimulator::bytesFromHost);
        card.setSilent(true);
        host.port.write(AutoBaud);
        QVERIFY(heard.wait(2000));
        QVERIFY(!QTest::qWaitFor([&] { return !host.received.isEmpty(); }, 200));
        card.setSilent(false);
        QCOMPARE(host.exchange(AutoBaud, 1), QByteArray("\xAA"));
    }

    // Answers leave late but in order.
    void replyLatency()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        card.setReplyLatency(150);
        HostPort host(card.portName());
        QElapsedTimer clock;
        clock.start();
        const QByteArray answers = host.exchange(QByteArray("\x03\x20\x20\x03\x23\x23", 6), 5);
        QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(answers, QByteArray("\xCC\xCC\x03\x40\x40", 5));
    }

    void nakAndStatusSwitches()
    {
        CardSimulator card(nullptr, CardSimulator::StartBootLoader);
        HostPort host(card.portName());
        card.nakNextBootPackets(1);
        QCOMPARE(host.exchange("\x03\x20\x20", 1), QByteArray("\x33"));
        QCOMPARE(host.exchange("\x03\x20\x20", 1), QByteArray("\xCC"));
        card.failNextStatus(0x44);
        QCOMPARE(host.exchange("\x03\x23\x23", 4), QByteArray("\xCC\x03\x44\x44", 4));
    }

    // The adapter vanishes: the host's port fails; it comes back under the same name.
    void dropAndRestoreTheLink()
    {
        QTemporaryDir dir;
        CardSimulator card;
        QVERIFY(card.setLinkPath(dir.filePath("kip-sim")));
        HostPort host(card.portName());
        QVERIFY(host.opened);
        QSignalSpy link(&card, &CardSimulator::linkChanged);

        card.dropLink();
        QVERIFY(!card.isLinkUp());
        QCOMPARE(link.count(), 1);
        QTRY_VERIFY(!host.port.isOpen());

        QVERIFY(card.restoreLink());
        QVERIFY(card.isLinkUp());
        HostPort again(dir.filePath("kip-sim"));
        QVERIFY2(again.opened, qPrintable(again.port.errorString()));
        QCOMPARE(again.exchange(AutoBaud, 1), QByteArray("\xAA"));
    }
};

QTEST_GUILESS_MAIN(CardSimulatorTest)
#include "tst_cardsimulator.moc"
