#include "common/connectionfactory.h"
#include "common/loggers.h"
#include "common/nullconnection.h"
#include "common/serialconnection.h"
#include "common/tcpconnection.h"
#include "common/udpconnection.h"
#include "sim/pseudoterminal.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <dlfcn.h>
#include <termios.h>

// A serial port that opens but refuses 115200 baud. No pseudo-terminal refuses a
// line setting, so the test stands in for the tty driver: while the switch is on,
// a request for 115200 baud fails the way a driver without that rate fails it.
// QSerialPort reaches the kernel through tcsetattr, which this definition shadows
// for the whole test program.
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

struct LogLine
{
    QString level;
    QString text;
};

class RecordingLogger : public Common::ILogger
{
public:
    bool isEnabled() const override { return true; }
    void debug(const QString &text) override { lines.append({QStringLiteral("debug"), text}); }
    void warning(const QString &text) override { lines.append({QStringLiteral("warning"), text}); }
    void critical(const QString &text) override { lines.append({QStringLiteral("critical"), text}); }

    QStringList texts(const QString &level) const
    {
        QStringList result;
        for (const LogLine &line : lines)
            if (line.level == level)
                result.append(line.text);
        return result;
    }

    QList<LogLine> lines;
};

QByteArray joined(const QSignalSpy &spy)
{
    QByteArray all;
    for (const QList<QVariant> &call : spy)
        all += call.at(0).toByteArray();
    return all;
}

// A port on loopback that nothing listens on.
quint16 closedTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void udpSendsWithoutOpen();
    void factoryReadsPortText_data();
    void factoryReadsPortText();
    void factoryHandsOutItsLogger();
    void tcpSendWhileClosedWarnsOnceAndSendsNothing();
    void tcpOpenSendReceive();
    void tcpOpenRefusedLogsCritical();
    void serialOpenSendReceive();
    void serialMissingPortLogsBothLines();
    void serialRefusedSettingsClosesAndLogsBothLines();
    void serialVanishedFarEndClosesOnce();
};

void TestConnection::udpSendsWithoutOpen()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    Common::UdpConnection connection(QHostAddress::LocalHost, receiver.localPort());
    QSignalSpy received(&connection, &Common::ConnectionSignals::dataReceived);

    connection.send(QByteArray("\x00\x01\xfe\xff", 4));
    connection.send("second");
    QTRY_VERIFY(receiver.hasPendingDatagrams());
    const QNetworkDatagram first = receiver.receiveDatagram();
    QCOMPARE(first.data(), QByteArray("\x00\x01\xfe\xff", 4));
    QTRY_VERIFY(receiver.hasPendingDatagrams());
    // Each send is its own datagram, not a stream.
    QCOMPARE(receiver.receiveDatagram().data(), QByteArray("second"));

    // A datagram sent back to the port it sent from is never delivered as data.
    receiver.writeDatagram("reply", QHostAddress::LocalHost, quint16(first.senderPort()));
    QTest::qWait(50);
    QCOMPARE(received.count(), 0);
}

void TestConnection::factoryReadsPortText_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("port");
    QTest::newRow("decimal") << "8080" << 8080;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("beyond 16 bits") << "70000" << 0;
    QTest::newRow("largest") << "65535" << 65535;
}

void TestConnection::factoryReadsPortText()
{
    QFETCH(QString, portText);
    QFETCH(int, port);
    RecordingLogger logger;
    Common::ConnectionFactory factory(&logger);
    QObject owner;
    Common::IConnection *connection = factory.createTcpConnection("127.0.0.1", portText, &owner);
    auto *tcp = dynamic_cast<Common::TcpConnection *>(connection);
    QVERIFY(tcp);
    QCOMPARE(tcp->port(), quint16(port));
    QCOMPARE(tcp->address(), QString("127.0.0.1"));
    QCOMPARE(tcp->parent(), &owner);
}

void TestConnection::factoryHandsOutItsLogger()
{
    RecordingLogger logger;
    Common::ConnectionFactory factory(&logger);
    QObject owner;

    Common::IConnection *null = factory.createNullConnection(&owner);
    QVERIFY(dynamic_cast<Common::NullConnection *>(null));
    QCOMPARE(null->connectionSignals(), dynamic_cast<Common::ConnectionSignals *>(null));

    factory.createTcpConnection("127.0.0.1", "abc", &owner)->send("x");
    factory.createSerialConnection("/dev/sablefold-no-such-port", &owner)->send("x");
    QCOMPARE(logger.texts("warning"),
             QStringList({"Unable to send data to TCP socket: 127.0.0.1:0. The connection is not open.",
                          "Unable to write data to serial port: /dev/sablefold-no-such-port. The port is not open."}));
    QCOMPARE(owner.children().size(), 3);
}

void TestConnection::tcpSendWhileClosedWarnsOnceAndSendsNothing()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    RecordingLogger logger;
    Common::TcpConnection connection("127.0.0.1", server.serverPort(), &logger);

    QVERIFY(!connection.isOpen());
    connection.send("hello");
    QCOMPARE(logger.lines.size(), 1);
    QCOMPARE(logger.lines.at(0).level, QString("warning"));
    QCOMPARE(logger.lines.at(0).text,
             QString("Unable to send data to TCP socket: 127.0.0.1:%1. The connection is not open.")
                 .arg(server.serverPort()));
    QTest::qWait(50);
    QVERIFY(!server.hasPendingConnections());
}

void TestConnection::tcpOpenSendReceive()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    RecordingLogger logger;
    Common::TcpConnection connection("127.0.0.1", server.serverPort(), &logger);
    QSignalSpy received(&connection, &Common::ConnectionSignals::dataReceived);

    connection.open();
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket *peer = server.nextPendingConnection();
    const QString opened = QString("TCP connection opened to: 127.0.0.1:%1").arg(server.serverPort());
    QTRY_COMPARE(logger.texts("debug"), QStringList{opened});
    QVERIFY(connection.isOpen());

    // A second open of an open connection does nothing: no second connection, no log.
    connection.open();
    QTest::qWait(50);
    QVERIFY(!server.hasPendingConnections());
    QCOMPARE(logger.lines.size(), 1);

    QByteArray sent;
    for (int i = 0; i < 256; ++i)
        sent.append(char(i));
    connection.send(sent);
    QByteArray arrived;
    QTRY_VERIFY((arrived += peer->readAll()).size() >= sent.size());
    QCOMPARE(arrived, sent);

    const QByteArray reply = QByteArray(3000, 'r') + QByteArray("\0end", 4);
    peer->write(reply.left(1000));
    peer->flush();
    peer->write(reply.mid(1000));
    QTRY_COMPARE(joined(received).size(), reply.size());
    QCOMPARE(joined(received), reply);
    for (const QList<QVariant> &call : received)
        QVERIFY(!call.at(0).toByteArray().isEmpty());

    connection.close();
    QVERIFY(!connection.isOpen());
}

void TestConnection::tcpOpenRefusedLogsCritical()
{
    const quint16 port = closedTcpPort();
    RecordingLogger logger;
    Common::TcpConnection connection("127.0.0.1", port, &logger);
    connection.open();
    const QString refused = QString("Unable to open TCP connection to: 127.0.0.1:%1").arg(port);
    QTRY_COMPARE(logger.texts("critical"), QStringList{refused});
    QVERIFY(logger.texts("debug").isEmpty());
    QVERIFY(!connection.isOpen());

    // The refused attempt left it closed, so sending is refused with the warning.
    connection.send("x");
    QCOMPARE(logger.texts("warning").size(), 1);
}

void TestConnection::serialOpenSendReceive()
{
    PseudoTerminal far;
    QVERIFY(far.isOpen());
    RecordingLogger logger;
    Common::SerialConnection connection(far.slavePath(), &logger);
    QSignalSpy received(&connection, &Common::ConnectionSignals::dataReceived);
    QSignalSpy farReceived(&far, &PseudoTerminal::bytesReceived);

    connection.open();
    QVERIFY(connection.isOpen());
    QCOMPARE(logger.lines.size(), 1);
    QCOMPARE(logger.lines.at(0).level, QString("critical"));
    QCOMPARE(logger.lines.at(0).text, QString("Serial port: %1 ready and open.").arg(far.slavePath()));
    QCOMPARE(connection.serialPort()->baudRate(), 115200);
    QCOMPARE(connection.serialPort()->flowControl(), QSerialPort::NoFlowControl);

    // Opening an open port does nothing, not even a log line.
    connection.open();
    QCOMPARE(logger.lines.size(), 1);

    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte.append(char(i));
    connection.send(everyByte);
    QTRY_COMPARE(joined(farReceived).size(), everyByte.size());
    QCOMPARE(joined(farReceived), everyByte);

    const QByteArray burst = everyByte.repeated(20);
    far.write(burst);
    QTRY_COMPARE(joined(received).size(), burst.size());
    QCOMPARE(joined(received), burst);

    connection.close();
    QVERIFY(!connection.isOpen());
    QCOMPARE(logger.texts("critical").size(), 1);
}

void TestConnection::serialMissingPortLogsBothLines()
{
    RecordingLogger logger;
    Common::SerialConnection connection("/dev/sablefold-no-such-port", &logger);
    connection.open();
    QVERIFY(!connection.isOpen());
    QCOMPARE(logger.texts("critical"),
             QStringList({"Unable open serial port: /dev/sablefold-no-such-port.",
                          QString("Error in serial port: /dev/sablefold-no-such-port %1")
                              .arg(int(QSerialPort::DeviceNotFoundError))}));
    QCOMPARE(logger.lines.size(), 2);
}

void TestConnection::serialRefusedSettingsClosesAndLogsBothLines()
{
    PseudoTerminal far;
    QVERIFY(far.isOpen());
    RecordingLogger logger;
    Common::SerialConnection connection(far.slavePath(), &logger);

    refuse115200 = true;
    connection.open();
    refuse115200 = false;

    QVERIFY(!connection.isOpen());
    const QStringList critical = logger.texts("critical");
    QCOMPARE(critical.size(), 2);
    QCOMPARE(critical.at(0),
             QString("Unable open serial port: %1. The properties could not be set.").arg(far.slavePath()));
    // The code is the refused setting's, not the "not open" a later close would leave.
    const QString prefix = QString("Error in serial port: %1 ").arg(far.slavePath());
    QVERIFY2(critical.at(1).startsWith(prefix), qPrintable(critical.at(1)));
    const int code = critical.at(1).mid(prefix.size()).toInt();
    QVERIFY2(code != QSerialPort::NoError && code != QSerialPort::NotOpenError, qPrintable(critical.at(1)));

    // The port was really closed: a second attempt, now accepted, opens it.
    connection.open();
    QVERIFY(connection.isOpen());
    QCOMPARE(logger.texts("critical").last(), QString("Serial port: %1 ready and open.").arg(far.slavePath()));
}

void TestConnection::serialVanishedFarEndClosesOnce()
{
    PseudoTerminal far;
    RecordingLogger logger;
    Common::SerialConnection connection(far.slavePath(), &logger);
    connection.open();
    QVERIFY(connection.isOpen());

    far.close();
    QTRY_VERIFY(!connection.isOpen());
    QTest::qWait(100);
    const QStringList critical = logger.texts("critical");
    // One open line and one error line: the port did not keep reporting.
    QCOMPARE(critical.size(), 2);
    QVERIFY2(critical.at(1).startsWith(QString("Error in serial port: %1 ").arg(far.slavePath())),
             qPrintable(critical.at(1)));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
