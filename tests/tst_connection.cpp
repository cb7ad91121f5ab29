#include "common/connectionfactory.h"
#include "common/loggers.h"
#include "common/serialconnection.h"
#include "common/tcpconnection.h"
#include "sim/pseudoterminal.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <dlfcn.h>
#include <memory>
#include <termios.h>

// No pseudo-terminal refuses a line setting: while the switch is on, this tcsetattr (which
// QSerialPort calls) stands in for a tty driver without 115200 baud.
static bool refuse115200 = false;

extern "C" int tcsetattr(int fd, int actions, const struct termios *settings)
{
    using Real = int (*)(int, int, const struct termios *);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (refuse115200 && settings && cfgetospeed(settings) == B115200)
        return errno = EINVAL, -1;
    return real(fd, actions, settings);
}

struct RecordingLogger : Common::ILogger
{
    bool isEnabled() const override { return true; }
    void debug(const QString &text) override { lines.append("debug: " + text); }
    void warning(const QString &text) override { lines.append("warning: " + text); }
    void critical(const QString &text) override { lines.append("critical: " + text); }
    QStringList lines;
};

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void simpleLoggerWritesTextAsIs()
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
    // Made by the factory, the connections log to its logger; a port text beyond 16 bits or
    // not a number is port 0. Sending before open is refused with a warning.
    void tcpOpenSendAndRefused()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 port = server.serverPort();
        const QString endpoint = QString("127.0.0.1:%1").arg(port);
        RecordingLogger logger;
        Common::ConnectionFactory factory(&logger);
        QObject owner;
        for (const char *text : {"65536", "abc"})
            factory.createTcpConnection("127.0.0.1", text, &owner)->send("x");
        Common::IConnection *connection = factory.createTcpConnection("127.0.0.1", QString::number(port), &owner);
        connection->send("before open");
        connection->open();
        connection->open(); // a connection under way is not started again
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        const QString notOpen = "warning: Unable to send data to TCP socket: %1. The connection is not open.";
        QTRY_COMPARE(logger.lines, QStringList({notOpen.arg("127.0.0.1:0"), notOpen.arg("127.0.0.1:0"), notOpen.arg(endpoint),
                                                "debug: TCP connection opened to: " + endpoint}));
        connection->open();
        connection->send("after open");
        QByteArray arrived;
        QTRY_COMPARE(arrived += peer->readAll(), QByteArray("after open"));
        QVERIFY(!server.hasPendingConnections());
        QCOMPARE(logger.lines.size(), 4);
        // Nothing listens there any more: refused, logged, nothing left open.
        server.close();
        logger.lines.clear();
        Common::TcpConnection refused("127.0.0.1", port, &logger);
        refused.open();
        QTRY_COMPARE(logger.lines, QStringList{"critical: Unable to open TCP connection to: " + endpoint});
        QVERIFY(!refused.isOpen());
    }
    void serialOpenFailuresAndVanish()
    {
        PseudoTerminal far;
        const QString missingPath = "/dev/sablefold-no-such-port";
        RecordingLogger missingLogger, logger;
        Common::ConnectionFactory factory(&missingLogger);
        std::unique_ptr<Common::IConnection> missing(factory.createSerialConnection(missingPath, nullptr));
        Common::SerialConnection connection(far.slavePath(), &logger);
        missing->send("x");
        missing->open();
        refuse115200 = true;
        connection.open();
        refuse115200 = false;
        QVERIFY(!missing->isOpen() && !connection.isOpen());
        QCOMPARE(missingLogger.lines,
                 QStringList({"warning: Unable to write data to serial port: " + missingPath + ". The port is not open.",
                              "critical: Unable open serial port: " + missingPath + ".",
                              QString("critical: Error in serial port: %1 %2").arg(missingPath).arg(QSerialPort::DeviceNotFoundError)}));
        const QString error = "critical: Error in serial port: " + far.slavePath() + " ";
        QCOMPARE(logger.lines.value(0), "critical: Unable open serial port: " + far.slavePath() + ". The properties could not be set.");
        QVERIFY2(logger.lines.size() == 2 && logger.lines.at(1).startsWith(error), qPrintable(logger.lines.join('\n')));
        // The code is the refused setting's, not the "not open" a later close would leave.
        const int code = logger.lines.at(1).mid(error.size()).toInt();
        QVERIFY2(code != QSerialPort::NoError && code != QSerialPort::NotOpenError, qPrintable(logger.lines.at(1)));
        // The port was really closed: accepted now, it opens, and a second open() leaves it be.
        logger.lines.clear();
        connection.open();
        connection.open();
        QCOMPARE(logger.lines, QStringList{QString("critical: Serial port: %1 ready and open.").arg(far.slavePath())});
        QCOMPARE(connection.serialPort()->baudRate(), 115200);
        // A vanished far end closes the port on the first error: one error line, no flood.
        far.close();
        QTRY_VERIFY(!connection.isOpen());
        QTest::qWait(100);
        QCOMPARE(logger.lines.size(), 2);
        QVERIFY2(logger.lines.at(1).startsWith(error), qPrintable(logger.lines.at(1)));
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
