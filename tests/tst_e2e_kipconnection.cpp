#include "link/kipconnection.h"
#include "sim/pseudoterminal.h"

#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using EMS::KipConnection;

namespace {

// Everything the transport tells its card port, in order: "status: <text>" and "connected: 1|0".
struct TransportLog : QObject
{
    explicit TransportLog(KipConnection &c)
    {
        connect(&c, &KipConnection::statusMessage, this, [this](const QString &text) { events << "status: " + text; });
        connect(&c, &KipConnection::connectedChanged, this, [this](bool on) { events << "connected: " + QString::number(on); });
    }
    QStringList take() { return std::exchange(events, {}); }
    QStringList events;
};

QStringList connectedTexts(const QString &port)
{
    return {"status: Connecting to port " + port, "status: Connected to " + port, "connected: 1"};
}
QStringList closedTexts(const QString &port) { return {"status: Serial port " + port + " closed", "connected: 0"}; }

// The link log's messages at info level and above, while it lives.
struct LinkLogCapture
{
    LinkLogCapture() { previous = qInstallMessageHandler(&LinkLogCapture::handle); }
    ~LinkLogCapture() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type != QtDebugMsg && qstrcmp(context.category, "sablefold.link") == 0)
            messages() << text;
    }
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }
    QtMessageHandler previous;
};

} // namespace

class KipConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    // The line is set raw to 115200 8N1 without flow control, from settings it has to change:
    // no byte is eaten or translated (NUL, LF, CR, XON, XOFF, ^C).
    void openSetsARawCardLine()
    {
        PseudoTerminal pty;
        QVERIFY2(pty.isOpen(), qPrintable(pty.errorString()));
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
        QCOMPARE(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), tcflag_t(0));
        QCOMPARE(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
        QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));
    }

    // A pseudo-terminal refuses the driver's low-latency flag (ENOTTY): the port connects
    // all the same, and the refusal is logged once for the port, not at every reopen.
    void lowLatencyRefusalLoggedOnce()
    {
        PseudoTerminal pty;
        const QString name = pty.slavePath();
        LinkLogCapture::messages().clear();
        LinkLogCapture capture;
        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        connection.setPortName(name);
        connection.open();
        QCOMPARE(log.take(), connectedTexts(name));
        connection.open(); // closes; the reopen timer opens again
        QVERIFY(QMetaObject::invokeMethod(connection.reopenTimer(), "timeout"));
        connection.close();
        connection.open();
        QVERIFY(connection.isSerialOpen());
        const QStringList logged = LinkLogCapture::messages();
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged.first().contains(name) && logged.first().contains("low latency refused")
                     && logged.first().contains("Inappropriate ioctl"),
                 qPrintable(logged.first()));
    }

    // The failure is said once; bytes are dropped silently and no reopen is pending.
    void failedOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("log"); // open(), then close()
        const QString missing = QStringLiteral("/dev/sablefold-no-such-port");
        QTest::newRow("no such device") << missing << QStringList{"status: Connecting to port " + missing,
            "status: Could not open " + missing + ", config problem reported", "connected: 0"} + closedTexts(missing);
        QTest::newRow("engine path without a messenger") << "EMS" << QStringList{"status: No engine link for EMS",
            "connected: 0", "status: disconnected from engine", "connected: 0"};
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

    // A second open() closes the port silently and opens it again 2.5 s later; close() and
    // a fresh open() cancel that reopen. Closing an open port is silent.
    void reopenAndClose()
    {
        PseudoTerminal pty;
        const QString name = pty.slavePath();
        KipConnection connection(nullptr, 0);
        TransportLog log(connection);
        connection.setPortName(name);
        connection.open();
        QCOMPARE(log.take(), connectedTexts(name));
        QTimer *reopen = connection.reopenTimer();
        connection.open();
        QVERIFY(!connection.isSerialOpen() && log.take().isEmpty());
        QVERIFY(reopen->isActive() && reopen->isSingleShot());
        QCOMPARE(reopen->interval(), 2500);
        QVERIFY(QMetaObject::invokeMethod(reopen, "timeout"));
        QCOMPARE(log.take(), connectedTexts(name));

        connection.open();
        connection.close();
        QVERIFY(!reopen->isActive());
        QCOMPARE(log.take(), closedTexts(name));
        connection.open();
        connection.open();
        log.take();
        connection.open(); // the port is closed now, so this one opens at once
        QCOMPARE(log.take(), connectedTexts(name));
        QVERIFY(!reopen->isActive());
        connection.close();
        QVERIFY(!connection.isSerialOpen() && log.take().isEmpty());
    }
};

QTEST_GUILESS_MAIN(KipConnectionTest)
#include "tst_e2e_kipconnection.moc"
