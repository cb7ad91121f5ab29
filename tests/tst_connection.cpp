#include "common/loggers.h"
#include "common/serialconnection.h"
#include "common/tcpconnection.h"
#include "sim/pseudoterminal.h"
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <dlfcn.h>
#include <termios.h>

// While set, this tcsetattr (which QSerialPort calls) stands in for a tty driver without 115200 baud.
static bool refuse115200 = false;
extern "C" int tcsetattr(int fd, int actions, const struct termios *settings)
{
    static const auto real = reinterpret_cast<int (*)(int, int, const struct termios *)>(dlsym(RTLD_NEXT, "tcsetattr"));
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
    void simpleLoggerWritesTextAsIs() // a % in the text is no format directive
    {
        Common::SimpleLogger logger;
        QTest::ignoreMessage(QtDebugMsg, "50% of a line");
        logger.debug("50% of a line");
    }
    void tcpOpenSendAndRefused()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 port = server.serverPort();
        const QString endpoint = QString("127.0.0.1:%1").arg(port);
        RecordingLogger logger;
        Common::TcpConnection connection("127.0.0.1", port, &logger), refused("127.0.0.1", port, &logger);
        connection.send("before open");
        connection.open();
        connection.open(); // a connection under way is not started again
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QTRY_VERIFY(connection.isOpen());
        connection.send("after open");
        QByteArray arrived;
        QTRY_COMPARE(arrived += peer->readAll(), QByteArray("after open"));
        QVERIFY(!server.hasPendingConnections());
        server.close();
        refused.open();
        QTRY_COMPARE(logger.lines, QStringList({"warning: Unable to send data to TCP socket: " + endpoint + ". The connection is not open.",
                                                "debug: TCP connection opened to: " + endpoint, "critical: Unable to open TCP connection to: " + endpoint}));
    }
    void serialRefusedSettingAndVanish()
    {
        PseudoTerminal far;
        RecordingLogger logger;
        Common::SerialConnection connection(far.slavePath(), &logger);
        refuse115200 = true;
        connection.open();
        refuse115200 = false;
        // The code logged is the refused setting's, not the "not open" that closing leaves.
        const QString error = "critical: Error in serial port: " + far.slavePath() + " ";
        QCOMPARE(logger.lines, QStringList({"critical: Unable open serial port: " + far.slavePath() + ". The properties could not be set.",
                                            error + QString::number(QSerialPort::UnsupportedOperationError)}));
        // The port was really closed: accepted now, it opens, and a second open() leaves it be.
        connection.open();
        connection.open();
        QCOMPARE(logger.lines.mid(2), QStringList{"critical: Serial port: " + far.slavePath() + " ready and open."});
        // A vanished far end closes the port on the first error: one error line, no flood.
        far.close();
        QTRY_VERIFY(!connection.isOpen());
        QTest::qWait(100);
        QVERIFY2(logger.lines.size() == 4 && logger.lines.at(3).startsWith(error), qPrintable(logger.lines.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
