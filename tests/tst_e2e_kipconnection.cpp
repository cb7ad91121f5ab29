#include "link/kipconnection.h"
#include "sim/pseudoterminal.h"

#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using EMS::KipConnection;

namespace {

// Everything the transport tells its card port, in order: "status: <text>" and "connected: true|false".
class TransportLog : public QObject
{
public:
    explicit TransportLog(KipConnection &connection)
    {
        connect(&connection, &KipConnection::statusMessage, this, [this](const QString &text) { events << "status: " + text; });
        connect(&connection, &KipConnection::connectedChanged, this,
                [this](bool connected) { events << (connected ? "connected: true" : "connected: false"); });
    }
    QStringList take() { return std::exchange(events, {}); }
    QStringList events;
};

QStringList connectedTexts(const QString &port)
{
    return {"status: Connecting to port " + port, "status: Connected to " + port, "connected: true"};
}

QStringList closedTexts(const QString &port) { return {"status: Serial port " + port + " closed", "connected: false"}; }

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
        QCOMPARE(::tcgetattr(fd, &line), 0);
        ::close(fd);
        QCOMPARE(::cfgetispeed(&line), speed_t(B115200));
        QCOMPARE(::cfgetospeed(&line), speed_t(B115200));
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    }

    // Every byte value, the bytes a cooked tty would eat or translate (NUL, LF, CR, XON,
    // XOFF, FF, DEL, ^C), and more than one read's worth.
    void bytesPassUnchanged()
    {
        QByteArray bytes = QByteArray::fromHex("000a0d11130d0aff7f0304").repeated(20);
        for (int value = 0; value < 64 * 1024; ++value)
            bytes += char(value < 512 ? value : QRandomGenerator::global()->bounded(256));
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
        QCOMPARE(atCard.size(), bytes.size()); // nothing the card sent came back to it
    }

    // The failure is said once; bytes are dropped silently and no reopen is pending.
    void failedOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("log"); // open(), then close()
        const QString missing = QStringLiteral("/dev/sablefold-no-such-port");
        QTest::newRow("no such device") << missing << QStringList{"status: Connecting to port " + missing,
            "status: Could not open " + missing + ", config problem reported", "connected: false"} + closedTexts(missing);
        QTest::newRow("engine path without a messenger") << "EMS" << QStringList{"status: No engine link for EMS",
            "connected: false", "status: disconnected from engine", "connected: false"};
    }
    void failedOpen()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, log);
        KipConnection connection(nullptr, 0);
        TransportLog events(connection);
        connection.setPortName(name);
        connection.open();
        QVERIFY(!connection.isOpen());
        QVERIFY(!connection.reopenTimer()->isActive());
        connection.writeData("x");
        connection.close();
        QCOMPARE(events.take(), log);
    }

    // A second open() closes the port at once, without a word, and opens it again 2.5 s
    // later. A reopen that fired after the card port asked for something else would undo
    // it: close() and a fresh open() cancel it. Closing an open port is silent.
    void reopenAndClose()
    {
        PseudoTerminal pty;
        const QString name = pty.slavePath();
        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        QByteArray atHost;
        connect(&connection, &KipConnection::dataReceived, [&](const QByteArray &b) { atHost += b; });
        connection.setPortName(name);
        connection.open();
        QCOMPARE(log.take(), connectedTexts(name));

        QTimer *reopen = connection.reopenTimer();
        connection.open();
        QVERIFY(!connection.isSerialOpen());
        QVERIFY(log.take().isEmpty());
        QVERIFY(reopen->isActive() && reopen->isSingleShot());
        QCOMPARE(reopen->interval(), 2500);
        QVERIFY(QMetaObject::invokeMethod(reopen, "timeout"));
        QCOMPARE(log.take(), connectedTexts(name));
        QVERIFY(pty.write("\xaa"));
        QTRY_COMPARE(atHost, QByteArray("\xaa"));

        connection.open();
        connection.close();
        QVERIFY(!reopen->isActive());
        QCOMPARE(log.take(), closedTexts(name));

        connection.open();
        connection.open();
        QVERIFY(reopen->isActive());
        log.take();
        connection.open(); // the port is closed now, so this one opens at once
        QCOMPARE(log.take(), connectedTexts(name));
        QVERIFY(!reopen->isActive());
        connection.close();
        QVERIFY(!connection.isSerialOpen());
        QVERIFY(log.take().isEmpty());
    }
};

QTEST_GUILESS_MAIN(KipConnectionTest)
#include "tst_e2e_kipconnection.moc"
