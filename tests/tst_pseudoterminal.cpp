#include "sim/pseudoterminal.h"
#include "support/simulatedcard.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class PseudoTerminalTest : public QObject
{
    Q_OBJECT

private:
    static QByteArray allByteValues()
    {
        QByteArray bytes;
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value));
        return bytes;
    }

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    void everyByteValuePassesBothWays()
    {
        PseudoTerminal pty;
        QVERIFY2(pty.isOpen(), qPrintable(pty.errorString()));
        QVERIFY(pty.slavePath().startsWith("/dev/pts/"));
        QSerialPort port;
        QVERIFY2(SimTest::openCardPort(port, pty.slavePath()), qPrintable(port.errorString()));

        const QByteArray bytes = allByteValues();
        QByteArray atSimulator;
        connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atSimulator += b; });
        port.write(bytes);
        QTRY_COMPARE(atSimulator, bytes);

        QByteArray atHost;
        connect(&port, &QSerialPort::readyRead, [&] { atHost += port.readAll(); });
        QVERIFY(pty.write(bytes));
        QTRY_COMPARE(atHost, bytes);
        // Nothing the simulator sent came back to it as an echo.
        QCOMPARE(atSimulator, bytes);
    }

    // Replies written before the controller opens the port must not be echoed back
    // into the simulator's own input.
    void noEchoBeforeTheHostOpens()
    {
        PseudoTerminal pty;
        QSignalSpy received(&pty, &PseudoTerminal::bytesReceived);
        QVERIFY(pty.write(QByteArray("\x55\x55\r\n", 4)));
        QVERIFY(!received.wait(100));
        pty.discardUnreadByHost();

        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, pty.slavePath()));
        QVERIFY(!port.waitForReadyRead(50));
    }

    void closingTheFarEndIsSeenByTheHost()
    {
        PseudoTerminal pty;
        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, pty.slavePath()));
        QSignalSpy errors(&port, &QSerialPort::errorOccurred);
        QSignalSpy openChanged(&pty, &PseudoTerminal::openChanged);
        connect(&port, &QSerialPort::errorOccurred, &port, [&](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::NoError)
                port.close();
        });

        pty.close();
        QVERIFY(!pty.isOpen());
        QCOMPARE(openChanged.count(), 1);
        QVERIFY(!pty.write("x"));
        QTRY_VERIFY(!port.isOpen());
        QVERIFY(errors.count() >= 1);
    }

    void reopenKeepsTheLinkPath()
    {
        QTemporaryDir dir;
        const QString linkPath = dir.filePath("kip0");
        PseudoTerminal pty;
        QVERIFY(pty.setLinkPath(linkPath));
        QCOMPARE(pty.slavePath(), linkPath);

        QSerialPort port;
        QVERIFY(SimTest::openCardPort(port, linkPath));
        port.close();
        QVERIFY(pty.reopen());
        QCOMPARE(QFile::symLinkTarget(linkPath), pty.devicePath());
        QVERIFY(SimTest::openCardPort(port, linkPath));

        QByteArray atSimulator;
        connect(&pty, &PseudoTerminal::bytesReceived, [&](const QByteArray &b) { atSimulator += b; });
        port.write("\x20", 1);
        QTRY_COMPARE(atSimulator, QByteArray("\x20", 1));
    }

    // A host that never reads: the simulator keeps a bounded backlog instead of
    // growing or blocking.
    void backlogIsBounded()
    {
        PseudoTerminal pty;
        const QByteArray chunk(64 * 1024, 'x');
        int accepted = 0;
        for (int i = 0; i < 40; ++i)
            accepted += pty.write(chunk) ? 1 : 0;
        QVERIFY(accepted < 40);
        QVERIFY(pty.pendingBytes() <= PseudoTerminal::MaxPendingBytes);
        pty.discardUnreadByHost();
        QCOMPARE(pty.pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(PseudoTerminalTest)
#include "tst_pseudoterminal.moc"
