#include "common/connectionfactory.h"
#include "common/loggers.h"
#include "common/serialconnection.h"
#include "common/tcpconnection.h"
#include "sim/pseudoterminal.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <dlfcn.h>
#include <termios.h>

// A serial port that opens but refuses 115200 baud: no pseudo-terminal refuses a line
// setting, so while the switch is on this stands in for a tty driver without that rate.
// QSerialPort reaches the kernel through tcsetattr, which this shadows for the program.
static bool refuse115200 = false;

extern "C" int tcsetattr(int fd, int actions, const struct termios *settings)
{
    using Real = int (*)(int, int, const struct termios *);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (refuse115200 && settings && cfgetospeed(settings) == B115200) {
        errno = EINVAL;
        return -1;
    }
    return real(fd, actions, settings);
}

namespace {

struct RecordingLogger : Common::ILogger
{
    bool isEnabled() const override { return true; }
    void debug(const QString &text) override { lines.append("debug: " + text); }
    void warning(const QString &text) override { lines.append("warning: " + text); }
    void critical(const QString &text) override { lines.append("critical: " + text); }
    QStringList lines;
};

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void simpleLoggerWritesTextAsIs();
    void factoryReadsPortText_data();
    void factoryReadsPortText();
    void tcpOpenAndSend();
    void tcpOpenRefused();
    void serialOpenAndVanish();
    void serialOpenFailuresLogBothLines();
};

void TestConnection::simpleLoggerWritesTextAsIs()
{
    // A % in the text is no format directive; ignoreMessage fails unless this exact text comes.
    Common::SimpleLogger logger;
    QTest::ignoreMessage(QtDebugMsg, "50% of a line");
    logger.debug("50% of a line");
    QTest::ignoreMessage(QtWarningMsg, "warning %s %d line");
    logger.warning("warning %s %d line");
    QTest::ignoreMessage(QtCriticalMsg, "critical %s %d line");
    logger.critical("critical %s %d line");
}

void TestConnection::factoryReadsPortText_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("port");
    QTest::newRow("decimal") << "8080" << 8080;
    QTest::newRow("largest") << "65535" << 65535;
    QTest::newRow("beyond 16 bits") << "70000" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestConnection::factoryReadsPortText()
{
    QFETCH(QString, portText);
    QFETCH(int, port);
    RecordingLogger logger;
    Common::ConnectionFactory factory(&logger);
    QObject owner;
    // The connections log to the factory's logger.
    factory.createTcpConnection("127.0.0.1", portText, &owner)->send("x");
    factory.createSerialConnection("/dev/sablefold-no-such-port", &owner)->send("x");
    QCOMPARE(logger.lines, QStringList({QString("warning: Unable to send data to TCP socket: 127.0.0.1:%1. "
                                                "The connection is not open.").arg(port),
                                        "warning: Unable to write data to serial port: /dev/sablefold-no-such-port. "
                                        "The port is not open."}));
}

void TestConnection::tcpOpenAndSend()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    RecordingLogger logger;
    Common::TcpConnection connection("127.0.0.1", server.serverPort(), &logger);
    const QString endpoint = QString("127.0.0.1:%1").arg(server.serverPort());
    connection.send("before open"); // refused with a warning
    connection.open();
    connection.open(); // a connection under way is not started again
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE(logger.lines, QStringList({"warning: Unable to send data to TCP socket: " + endpoint
                                                + ". The connection is not open.",
                                            "debug: TCP connection opened to: " + endpoint}));
    connection.open();
    connection.send("after open");
    QByteArray arrived;
    QTRY_COMPARE(arrived += peer->readAll(), QByteArray("after open"));
    QVERIFY(!server.hasPendingConnections());
    QCOMPARE(logger.lines.size(), 2);
}

void TestConnection::tcpOpenRefused()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    server.close(); // nothing listens there now
    RecordingLogger logger;
    Common::TcpConnection connection("127.0.0.1", port, &logger);
    connection.open();
    const QString endpoint = QString("127.0.0.1:%1").arg(port);
    QTRY_COMPARE(logger.lines, QStringList{"critical: Unable to open TCP connection to: " + endpoint});
    // The refused attempt left nothing open to send on.
    QVERIFY(!connection.isOpen());
    connection.send("x");
    QCOMPARE(logger.lines.last(),
             "warning: Unable to send data to TCP socket: " + endpoint + ". The connection is not open.");
}

void TestConnection::serialOpenAndVanish()
{
    PseudoTerminal far;
    RecordingLogger logger;
    Common::SerialConnection connection(far.slavePath(), &logger);
    connection.open();
    connection.open(); // an open port is left as it is, without a second line
    QCOMPARE(logger.lines, QStringList{QString("critical: Serial port: %1 ready and open.").arg(far.slavePath())});
    QCOMPARE(connection.serialPort()->baudRate(), 115200);

    // A vanished far end closes the port on the first error: one error line, no flood.
    far.close();
    QTRY_VERIFY(!connection.isOpen());
    QTest::qWait(100);
    QCOMPARE(logger.lines.size(), 2);
    QVERIFY2(logger.lines.at(1).startsWith(QString("critical: Error in serial port: %1 ").arg(far.slavePath())),
             qPrintable(logger.lines.at(1)));
}

void TestConnection::serialOpenFailuresLogBothLines()
{
    RecordingLogger missingLogger;
    Common::SerialConnection missing("/dev/sablefold-no-such-port", &missingLogger);
    missing.open();
    QVERIFY(!missing.isOpen());
    QCOMPARE(missingLogger.lines, QStringList({"critical: Unable open serial port: /dev/sablefold-no-such-port.",
                                               QString("critical: Error in serial port: /dev/sablefold-no-such-port %1")
                                                   .arg(int(QSerialPort::DeviceNotFoundError))}));

    PseudoTerminal far;
    RecordingLogger logger;
    Common::SerialConnection connection(far.slavePath(), &logger);
    refuse115200 = true;
    connection.open();
    refuse115200 = false;
    QVERIFY(!connection.isOpen());
    QCOMPARE(logger.lines.size(), 2);
    QCOMPARE(logger.lines.at(0),
             QString("critical: Unable open serial port: %1. The properties could not be set.").arg(far.slavePath()));
    // The code is the refused setting's, not the "not open" a later close would leave.
    const QString prefix = QString("critical: Error in serial port: %1 ").arg(far.slavePath());
    QVERIFY2(logger.lines.at(1).startsWith(prefix), qPrintable(logger.lines.at(1)));
    const int code = logger.lines.at(1).mid(prefix.size()).toInt();
    QVERIFY2(code != QSerialPort::NoError && code != QSerialPort::NotOpenError, qPrintable(logger.lines.at(1)));
    // The port was really closed: a second attempt, now accepted, opens it.
    connection.open();
    QVERIFY(connection.isOpen());
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
