#include "link/kipconnection.h"
#include "sim/pseudoterminal.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using EMS::KipConnection;

namespace {

// Everything the transport tells its card port, in order: "status: <text>" and
// "connected: true|false".
class TransportLog : public QObject
{
public:
    explicit TransportLog(KipConnection &connection)
    {
        connect(&connection, &KipConnection::statusMessage, this,
                [this](const QString &text) { events.append("status: " + text); });
        connect(&connection, &KipConnection::connectedChanged, this,
                [this](bool connected) { events.append(connected ? "connected: true" : "connected: false"); });
    }

    QStringList take()
    {
        const QStringList taken = events;
        events.clear();
        return taken;
    }

    QStringList events;
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

QStringList connectedTexts(const QString &port)
{
    return {"status: Connecting to port " + port, "status: Connected to " + port, "connected: true"};
}

} // namespace

class KipConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    void openSetsTheCardLine();
    void bytesPassUnchanged_data();
    void bytesPassUnchanged();
    void failedOpen_data();
    void failedOpen();
    void openOnAnOpenLinkReopensLater();
    void reopenTakesTwoAndAHalfSeconds();
    void closeOrOpenCancelsAPendingReopen();
    void closeTexts();
    void writeWhileClosedIsDropped();
    void enginePathWithoutMessengerClaimsNothing();
    void farEndGoingAway();
    void farEndBackUnderTheSameName();
};

void KipConnectionTest::openSetsTheCardLine()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isOpen(), qPrintable(pty.errorString()));
    // Our own descriptor on the same tty, opened before the transport locks it,
    // shows what the kernel was actually told.
    const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    struct termios before;
    QCOMPARE(::tcgetattr(fd, &before), 0);
    // Start from settings the transport has to change.
    ::cfsetispeed(&before, B9600);
    ::cfsetospeed(&before, B9600);
    before.c_cflag = (before.c_cflag & ~tcflag_t(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
    QCOMPARE(::tcsetattr(fd, TCSANOW, &before), 0);

    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.open();
    QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
    QVERIFY(connection.isSerialOpen());

    struct termios line;
    QCOMPARE(::tcgetattr(fd, &line), 0);
    ::close(fd);
    QCOMPARE(::cfgetispeed(&line), speed_t(B115200));
    QCOMPARE(::cfgetospeed(&line), speed_t(B115200));
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(line.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void KipConnectionTest::bytesPassUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("every byte value") << allByteValues() + allByteValues();
    // Bytes a cooked tty would eat or translate: NUL, LF, CR, XON, XOFF, FF, DEL, ^C.
    QTest::newRow("line-control bytes") << QByteArray::fromHex("000a0d11130d0aff7f0304").repeated(20);
    QByteArray block(64 * 1024, '\0');
    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (char &byte : block)
        byte = char(random.bounded(256));
    QTest::newRow("64 KiB, more than one read") << block;
}

void KipConnectionTest::bytesPassUnchanged()
{
    QFETCH(QByteArray, bytes);
    PseudoTerminal pty;
    KipConnection connection(nullptr, 1);
    connection.setPortName(pty.slavePath());
    connection.open();
    QVERIFY(connection.isSerialOpen());

    QByteArray atCard;
    connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atCard += b; });
    QByteArray atHost;
    int emptyChunks = 0;
    connect(&connection, &KipConnection::dataReceived, [&](const QByteArray &b) {
        atHost += b;
        emptyChunks += b.isEmpty() ? 1 : 0;
    });

    connection.writeData(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(atCard.size(), bytes.size(), 10000);
    QVERIFY(atCard == bytes);

    QVERIFY(pty.write(bytes));
    QTRY_COMPARE_WITH_TIMEOUT(atHost.size(), bytes.size(), 10000);
    QVERIFY(atHost == bytes);
    QCOMPARE(emptyChunks, 0);
    // Nothing the card sent came back to it.
    QCOMPARE(atCard.size(), bytes.size());

    // A read with nothing waiting, open or closed, hands out nothing.
    QSignalSpy chunks(&connection, &KipConnection::dataReceived);
    connection.readData();
    connection.close();
    connection.readData();
    QCOMPARE(chunks.count(), 0);
}

void KipConnectionTest::failedOpen_data()
{
    QTest::addColumn<bool>("heldElsewhere");
    QTest::newRow("no such device") << false;
    QTest::newRow("port held by another program") << true;
}

void KipConnectionTest::failedOpen()
{
    QFETCH(bool, heldElsewhere);
    PseudoTerminal pty;
    QSerialPort otherProgram;
    QString name = QStringLiteral("/dev/sablefold-no-such-port");
    if (heldElsewhere) {
        name = pty.slavePath();
        otherProgram.setPortName(name);
        QVERIFY(otherProgram.open(QIODevice::ReadWrite));
    }

    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(name);
    connection.open();
    QCOMPARE(log.take(), QStringList({"status: Connecting to port " + name,
                                      "status: Could not open " + name + ", config problem reported",
                                      "connected: false"}));
    QVERIFY(!connection.isSerialOpen());
    QVERIFY(!connection.reopenTimer()->isActive());
}

// A second open() closes the port at once, without a word, and opens it again when
// the single shot fires, with the full sequence of texts.
void KipConnectionTest::openOnAnOpenLinkReopensLater()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.open();
    QCOMPARE(log.take(), connectedTexts(pty.slavePath()));

    connection.open();
    QVERIFY(!connection.isSerialOpen());
    QVERIFY(log.take().isEmpty());
    QTimer *reopen = connection.reopenTimer();
    QVERIFY(reopen->isActive());
    QVERIFY(reopen->isSingleShot());
    QCOMPARE(reopen->interval(), 2500);

    QVERIFY(QMetaObject::invokeMethod(reopen, "timeout"));
    QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
    QVERIFY(connection.isSerialOpen());

    // The reopened link carries bytes.
    QByteArray atHost;
    connect(&connection, &KipConnection::dataReceived, [&](const QByteArray &b) { atHost += b; });
    QVERIFY(pty.write("\xaa"));
    QTRY_COMPARE(atHost, QByteArray("\xaa"));
}

void KipConnectionTest::reopenTakesTwoAndAHalfSeconds()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    connection.setPortName(pty.slavePath());
    connection.open();
    QSignalSpy connected(&connection, &KipConnection::connectedChanged);
    QElapsedTimer clock;
    clock.start();
    connection.open();
    QVERIFY(connected.wait(4000));
    const qint64 elapsed = clock.elapsed();
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(elapsed >= 2375 && elapsed < 3500, qPrintable(QString::number(elapsed)));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(connected.at(0).at(0).toBool(), true);
}

// A reopen that fires after the card port asked for something else would undo it:
// a closed link would open again by itself, an open one would drop.
void KipConnectionTest::closeOrOpenCancelsAPendingReopen()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.open();
    connection.open();
    QVERIFY(connection.reopenTimer()->isActive());
    log.take();

    connection.close();
    QVERIFY(!connection.reopenTimer()->isActive());
    QCOMPARE(log.take(), QStringList({"status: Serial port " + pty.slavePath() + " closed", "connected: false"}));

    connection.open();
    connection.open();
    log.take();
    QVERIFY(connection.reopenTimer()->isActive());
    connection.open(); // the port is closed now, so this one opens at once
    QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
    QVERIFY(!connection.reopenTimer()->isActive());
}

void KipConnectionTest::closeTexts()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());

    connection.close();
    QCOMPARE(log.take(), QStringList({"status: Serial port " + pty.slavePath() + " closed", "connected: false"}));

    connection.open();
    log.take();
    connection.close();
    QVERIFY(!connection.isSerialOpen());
    QVERIFY(log.take().isEmpty());

    connection.close();
    QCOMPARE(log.take(), QStringList({"status: Serial port " + pty.slavePath() + " closed", "connected: false"}));
}

void KipConnectionTest::writeWhileClosedIsDropped()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.writeData("dropped");
    QVERIFY(log.take().isEmpty());

    QByteArray atCard;
    connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atCard += b; });
    connection.open();
    connection.writeData("sent");
    QTRY_COMPARE(atCard, QByteArray("sent"));
}

void KipConnectionTest::enginePathWithoutMessengerClaimsNothing()
{
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    QCOMPARE(connection.portName(), QStringLiteral("EMS"));
    connection.open();
    QCOMPARE(log.take(), QStringList({"status: No engine link for EMS", "connected: false"}));
    QVERIFY(!connection.isOpen());
    connection.writeData("x");
    QVERIFY(log.take().isEmpty());
    connection.close();
    QCOMPARE(log.take(), QStringList({"status: disconnected from engine", "connected: false"}));
}

// An unplugged adapter: the transport reports it only through serialError, as read
// errors (a pseudo-terminal, like some USB drivers, does not say "resource error"
// until a write fails), many thousand a second; the port stays open and keeps
// reporting until its owner closes it, as the slot form does on the first error.
// No status text, no connectedChanged.
void KipConnectionTest::farEndGoingAway()
{
    PseudoTerminal pty;
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.open();
    log.take();

    QSignalSpy errors(&connection, &KipConnection::serialError);
    pty.close();
    QVERIFY(errors.wait(2000));
    QTRY_VERIFY(errors.count() >= 3);
    for (const QList<QVariant> &error : qAsConst(errors))
        QCOMPARE(error.at(0).value<QSerialPort::SerialPortError>(), QSerialPort::ReadError);
    QVERIFY(connection.isSerialOpen());
    QVERIFY(log.take().isEmpty());

    // The serial port takes a write into its buffer, so there is no "error sending
    // data"; the failed write shows up as resource errors instead.
    errors.clear();
    connection.writeData("x");
    QVERIFY(log.take().isEmpty());
    QTRY_VERIFY(std::any_of(errors.cbegin(), errors.cend(), [](const QList<QVariant> &error) {
        return error.at(0).value<QSerialPort::SerialPortError>() == QSerialPort::ResourceError;
    }));
    connection.close();
    errors.clear();
    QVERIFY(!errors.wait(200));

    // Closing on the first error, as the slot form does, stops the reports.
    PseudoTerminal pty2;
    KipConnection second(nullptr, 1);
    second.setPortName(pty2.slavePath());
    second.open();
    QSignalSpy secondErrors(&second, &KipConnection::serialError);
    connect(&second, &KipConnection::serialError, &second, [&second](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError)
            second.close();
    });
    pty2.close();
    QVERIFY(secondErrors.wait(2000));
    QVERIFY(!second.isSerialOpen());
    QVERIFY(!secondErrors.wait(200));
    QCOMPARE(secondErrors.count(), 1);
}

// The adapter comes back under the same name (a udev link, or the same COM number):
// a fresh open() after the close finds it again.
void KipConnectionTest::farEndBackUnderTheSameName()
{
    QTemporaryDir dir;
    PseudoTerminal pty;
    QVERIFY(pty.setLinkPath(dir.filePath("kip-slot-1")));
    KipConnection connection(nullptr, 0);
    TransportLog log(connection);
    connection.setPortName(pty.slavePath());
    connection.open();
    connect(&connection, &KipConnection::serialError, &connection, [&connection](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError)
            connection.close();
    });
    pty.close();
    QTRY_VERIFY(!connection.isSerialOpen());
    QVERIFY(pty.reopen());
    log.take();
    connection.open();
    QCOMPARE(log.take(), connectedTexts(dir.filePath("kip-slot-1")));

    QByteArray atCard;
    connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atCard += b; });
    connection.writeData(QByteArray::fromHex("031e0021"));
    QTRY_COMPARE(atCard, QByteArray::fromHex("031e0021"));
}

QTEST_GUILESS_MAIN(KipConnectionTest)
#include "tst_e2e_kipconnection.moc"
