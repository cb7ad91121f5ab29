#include "link/kipconnection.h"
#include "sim/pseudoterminal.h"

#include <QRandomGenerator>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

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

QStringList connectedTexts(const QString &port)
{
    return {"status: Connecting to port " + port, "status: Connected to " + port, "connected: true"};
}

QStringList closedTexts(const QString &port)
{
    return {"status: Serial port " + port + " closed", "connected: false"};
}

} // namespace

class KipConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void openSetsTheCardLine()
    {
        PseudoTerminal pty;
        QVERIFY2(pty.isOpen(), qPrintable(pty.errorString()));
        // Our own descriptor on the same tty, opened before the transport locks it, shows
        // what the kernel was told. It starts from settings the transport has to change.
        const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        struct termios line;
        QCOMPARE(::tcgetattr(fd, &line), 0);
        ::cfsetispeed(&line, B9600);
        ::cfsetospeed(&line, B9600);
        line.c_cflag = (line.c_cflag & ~tcflag_t(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
        QCOMPARE(::tcsetattr(fd, TCSANOW, &line), 0);

        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        connection.setPortName(pty.slavePath());
        connection.open();
        QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
        QVERIFY(connection.isSerialOpen());

        QCOMPARE(::tcgetattr(fd, &line), 0);
        ::close(fd);
        QCOMPARE(::cfgetispeed(&line), speed_t(B115200));
        QCOMPARE(::cfgetospeed(&line), speed_t(B115200));
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    }

    void bytesPassUnchanged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray every;
        for (int value = 0; value < 512; ++value)
            every.append(char(value));
        QTest::newRow("every byte value") << every;
        // Bytes a cooked tty would eat or translate: NUL, LF, CR, XON, XOFF, FF, DEL, ^C.
        QTest::newRow("line-control bytes") << QByteArray::fromHex("000a0d11130d0aff7f0304").repeated(20);
        QByteArray block(64 * 1024, '\0');
        QRandomGenerator random(QRandomGenerator::global()->generate());
        for (char &byte : block)
            byte = char(random.bounded(256));
        QTest::newRow("64 KiB, more than one read") << block;
    }

    void bytesPassUnchanged()
    {
        QFETCH(QByteArray, bytes);
        PseudoTerminal pty;
        KipConnection connection(nullptr, 1);
        connection.setPortName(pty.slavePath());
        connection.open();
        QVERIFY(connection.isSerialOpen());
        QByteArray atCard;
        QByteArray atHost;
        connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atCard += b; });
        connect(&connection, &KipConnection::dataReceived, [&](const QByteArray &b) { atHost += b; });

        connection.writeData(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(atCard.size(), bytes.size(), 10000);
        QVERIFY(atCard == bytes);
        QVERIFY(pty.write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(atHost.size(), bytes.size(), 10000);
        QVERIFY(atHost == bytes);
        // Nothing the card sent came back to it.
        QCOMPARE(atCard.size(), bytes.size());
    }

    void failedOpen_data()
    {
        QTest::addColumn<bool>("heldElsewhere");
        QTest::newRow("no such device") << false;
        QTest::newRow("port held by another program") << true;
    }

    void failedOpen()
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

    // A second open() closes the port at once, without a word, and opens it again 2.5 s
    // later. A reopen that fired after the card port asked for something else would undo
    // it: close() and a fresh open() cancel it.
    void reopenLaterUnlessCancelled()
    {
        PseudoTerminal pty;
        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        connection.setPortName(pty.slavePath());
        connection.open();
        QCOMPARE(log.take(), connectedTexts(pty.slavePath()));

        QTimer *reopen = connection.reopenTimer();
        connection.open();
        QVERIFY(!connection.isSerialOpen());
        QVERIFY(log.take().isEmpty());
        QVERIFY(reopen->isActive());
        QVERIFY(reopen->isSingleShot());
        QCOMPARE(reopen->interval(), 2500);
        QVERIFY(QMetaObject::invokeMethod(reopen, "timeout"));
        QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
        QByteArray atHost;
        connect(&connection, &KipConnection::dataReceived, [&](const QByteArray &b) { atHost += b; });
        QVERIFY(pty.write("\xaa"));
        QTRY_COMPARE(atHost, QByteArray("\xaa"));

        connection.open();
        connection.close();
        QVERIFY(!reopen->isActive());
        QCOMPARE(log.take(), closedTexts(pty.slavePath()));

        connection.open();
        connection.open();
        QVERIFY(reopen->isActive());
        log.take();
        connection.open(); // the port is closed now, so this one opens at once
        QCOMPARE(log.take(), connectedTexts(pty.slavePath()));
        QVERIFY(!reopen->isActive());
    }

    // Closing an open port is silent; closing a closed one says so. Bytes written while
    // closed are dropped.
    void closeAndWriteWhileClosed()
    {
        PseudoTerminal pty;
        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        connection.setPortName(pty.slavePath());
        connection.close();
        QCOMPARE(log.take(), closedTexts(pty.slavePath()));
        connection.writeData("dropped");

        QByteArray atCard;
        connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atCard += b; });
        connection.open();
        log.take();
        connection.writeData("sent");
        QTRY_COMPARE(atCard, QByteArray("sent"));
        connection.close();
        QVERIFY(!connection.isSerialOpen());
        QVERIFY(log.take().isEmpty());
        connection.close();
        QCOMPARE(log.take(), closedTexts(pty.slavePath()));
    }

    void enginePathWithoutMessengerClaimsNothing()
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
};

QTEST_GUILESS_MAIN(KipConnectionTest)
#include "tst_e2e_kipconnection.moc"
