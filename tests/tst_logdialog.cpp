#include "link/kipport.h"
#include "ui/logdialog.h"

#include <QTextBrowser>
#include <QtTest>

using namespace EMS;

class LogDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void formAndTitle();
    void linesAsThePortGivesThem();
};

void LogDialogTest::formAndTitle()
{
    KipPort port(nullptr, 1);
    LogDialog dialog(&port, nullptr);
    QCOMPARE(dialog.objectName(), QStringLiteral("LogDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("KIP 2 Serial Log"));
    QCOMPARE(dialog.size(), QSize(400, 300));
    QVERIFY(dialog.isSizeGripEnabled());
    QTextBrowser *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    QCOMPARE(browser->geometry(), QRect(4, 4, 396, 296));
}

void LogDialogTest::linesAsThePortGivesThem()
{
    KipPort port(nullptr, 0);
    LogDialog dialog(&port, nullptr);
    QTextBrowser *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));

    // A real command goes through the port's own log text; raw bytes too.
    port.requestCardStatus();
    port.sendRawData(QByteArray::fromHex("550a00"));
    emit port.logDataReceived(QStringLiteral("sync source 1 254"));
    QCOMPARE(browser->document()->blockCount(), 3);
    QCOMPARE(browser->toPlainText(),
             QStringLiteral("Tx card status 0 \nTx hex: 55 a 0\nRx sync source 1 254"));
}

QTEST_MAIN(LogDialogTest)
#include "tst_logdialog.moc"
