#include "common/loggers.h"

#include <QtTest>

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void simpleLoggerWritesAtEachLevel();
    void nullLoggerIsSilent();
};

void TestLogger::simpleLoggerWritesAtEachLevel()
{
    Common::SimpleLogger logger;
    QVERIFY(logger.isEnabled());
    // ignoreMessage fails the test unless exactly this text arrives at this level.
    QTest::ignoreMessage(QtDebugMsg, "debug line");
    logger.debug("debug line");
    QTest::ignoreMessage(QtWarningMsg, "50% of a warning");
    logger.warning("50% of a warning");
    QTest::ignoreMessage(QtCriticalMsg, "critical %s %d line");
    logger.critical("critical %s %d line");
}

void TestLogger::nullLoggerIsSilent()
{
    Common::NullLogger logger;
    QVERIFY(!logger.isEnabled());
    static int messages;
    messages = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) { ++messages; });
    logger.debug("x");
    logger.warning("x");
    logger.critical("x");
    qInstallMessageHandler(previous);
    QCOMPARE(messages, 0);
    QVERIFY(!Common::NullLogger::instance()->isEnabled());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
