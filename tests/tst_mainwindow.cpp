#include "support/uitestsupport.h"

#include "app/mainwindow.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

using namespace EMS;

namespace {

QLabel *label(MainWindow &window, const QString &name) { return window.findChild<QLabel *>(name); }

// The strip's lamps: locked, not locked, no lock reported.
const QString LockedStyle = "background-color:#00C800;color:#FFFFFF;border: 1px solid #004000";
const QString UnlockedStyle = "background-color:#C80000;color:#FFFFFF;border: 1px solid #400000";
const QString UnknownStyle = "background-color:#C0C0C0;color:#FFFFFF;border: 1px solid #404040";

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<UiTest::SettingsSandbox> sandbox;
    // No adapters: the forms scan and find nothing, so the ports say nothing unasked.
    UiTest::FakeAdapters adapters;

private slots:
    void init() { sandbox.reset(new UiTest::SettingsSandbox); }

    void statusBarLines_data()
    {
        QTest::addColumn<int>("firstSlot");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("slot 0 then slot 1 at once") << 0 << 0 << "KIP 1 first; KIP 2 second";
        QTest::newRow("999 ms apart: combined") << 0 << 999 << "KIP 1 first; KIP 2 second";
        QTest::newRow("1000 ms apart: newer alone") << 0 << 1000 << "KIP 2 second";
        QTest::newRow("clock stepped back: combined") << 0 << -5000 << "KIP 1 first; KIP 2 second";
    }
    void statusBarLines()
    {
        QFETCH(int, firstSlot);
        QFETCH(int, gapMs);
        QFETCH(QString, expected);
        MainWindow window(nullptr, adapters.lister());
        QDateTime clock = QDateTime(QDate(2024, 5, 1), QTime(12, 0));
        window.setClock([&clock] { return clock; });
        QStatusBar *bar = window.findChild<QStatusBar *>("statusBar");
        // The very first report shares the line with the other slot's (empty) text.
        emit window.slotForm(firstSlot)->cardPort()->statusMessage("first");
        QCOMPARE(bar->currentMessage(), firstSlot == 0 ? QStringLiteral("KIP 1 first; ") : QStringLiteral("; KIP 2 first"));
        clock = clock.addMSecs(gapMs);
        emit window.slotForm(1 - firstSlot)->cardPort()->statusMessage("second");
        QCOMPARE(bar->currentMessage(), expected);
        if (gapMs != 0)
            return;
        // A click above the bar keeps the message; a click on the bar clears it.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(700, 60));
        QCOMPARE(bar->currentMessage(), expected);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(50, bar->height() / 2));
        QCOMPARE(bar->currentMessage(), QString());
    }
    // A MADI card shows its two ports, another card its name and one lamp.
    void stripArrangement_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("cardName");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<bool>("lockShown");
        QTest::addColumn<bool>("madiBShown");
        QTest::newRow("master BNC MADI") << 0 << int(KipPort::MadiBnc) << "BNC MADI" << "MADI A" << true << true;
        QTest::newRow("master AES") << 0 << int(KipPort::Aes) << "aes" << "AES" << true << false;
        QTest::newRow("slave no card") << 1 << int(KipPort::NoCard) << "" << "" << false << false;
    }
    void stripArrangement()
    {
        QFETCH(int, slot);
        QFETCH(int, cardType);
        QFETCH(QString, cardName);
        QFETCH(QString, typeText);
        QFETCH(bool, lockShown);
        QFETCH(bool, madiBShown);
        MainWindow window(nullptr, adapters.lister());
        const QString prefix = slot == 0 ? "master" : "slave";
        QLabel *typeLabel = label(window, prefix + "TypeLabel");
        QLabel *lockLabel = label(window, prefix + "RxSyncLabel");
        // Arrive from a MADI card, so every change of the arrangement shows.
        window.cardTypeChanged(slot, KipPort::MadiBnc, "BNC MADI");
        const int typeX = typeLabel->x();
        window.cardTypeChanged(slot, KipPort::KipCardType(cardType), cardName);
        QCOMPARE(typeLabel->text(), typeText);
        QCOMPARE(!lockLabel->isHidden(), lockShown);
        QCOMPARE(!label(window, prefix + "MadiBLabel")->isHidden(), madiBShown);
        QCOMPARE(!label(window, prefix + "MadiBRxSyncLabel")->isHidden(), madiBShown);
        // Without port B the type and its lamp move to the middle of the slot's column.
        QCOMPARE(typeLabel->x() > typeX, !madiBShown);
        QCOMPARE(lockLabel->x() - typeLabel->x(), 10);
        if (cardType == KipPort::Aes)
            QCOMPARE(lockLabel->styleSheet(), UnknownStyle);
        // The other slot's form is told the type.
        QCOMPARE(int(window.slotForm(1 - slot)->otherSlotCardType()), cardType);
    }
    void lockLabelStyles_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("style");
        QTest::newRow("locked") << int(SyncLocked) << "Rx OK" << LockedStyle;
        QTest::newRow("unlocked") << int(SyncUnlocked) << "Rx ERR" << UnlockedStyle;
        QTest::newRow("unknown") << int(SyncUnknown) << "Rx OK" << UnknownStyle;
    }
    void lockLabelStyles()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        QFETCH(QString, style);
        MainWindow window(nullptr, adapters.lister());
        const QStringList lamps{"masterRxSyncLabel", "masterMadiBRxSyncLabel", "slaveRxSyncLabel", "slaveMadiBRxSyncLabel"};
        for (int i = 0; i < lamps.size(); ++i) {
            QLabel *lock = label(window, lamps[i]);
            // The slot forms relay their panels' lock states: slot i / 2, MADI port i % 2.
            emit window.slotForm(i / 2)->syncLockStateChanged(i % 2, SyncLockState(state));
            QCOMPARE(lock->text(), text);
            QCOMPARE(lock->styleSheet(), style);
        }
        // Ports beyond B change nothing.
        emit window.slotForm(0)->syncLockStateChanged(2, SyncUnlocked);
        QCOMPARE(label(window, "masterRxSyncLabel")->text(), text);
        // The strip's clock is the master's; the slave's never reaches it.
        emit window.slotForm(0)->sampleRateChanged(48000);
        emit window.slotForm(1)->sampleRateChanged(96000);
        QCOMPARE(label(window, "sampleRateLabel")->text(), QStringLiteral("48000"));
    }
    // The window's position is stored on close and read back, unless it would open off
    // every screen; stored port names are applied, but never written by the program.
    void readSettings_data()
    {
        QTest::addColumn<QVariant>("position"); // invalid: no key
        QTest::addColumn<QVariant>("portName0");
        QTest::addColumn<QVariant>("portName1");
        QTest::addColumn<QPoint>("expectedPosition");
        QTest::addColumn<QString>("expectedName0"); // "-": the port keeps its default
        QTest::addColumn<QString>("expectedName1");
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("stored names; an empty one not applied")
            << QVariant(QPoint(120, 40)) << QVariant("COM5") << QVariant("") << QPoint(120, 40) << "COM5" << "-";
        QTest::newRow("position on a removed monitor")
            << QVariant(QPoint(screen.right() + 500, 100)) << QVariant() << QVariant("COM7") << screen.topLeft() << "-" << "COM7";
        QTest::newRow("only a sliver of the title bar in sight")
            << QVariant(QPoint(screen.right() - 20, 10)) << QVariant() << QVariant() << screen.topLeft() << "-" << "-";
    }
    void readSettings()
    {
        QFETCH(QVariant, position);
        QFETCH(QVariant, portName0);
        QFETCH(QVariant, portName1);
        QFETCH(QPoint, expectedPosition);
        QFETCH(QString, expectedName0);
        QFETCH(QString, expectedName1);
        QSettings settings("Quorix", "Sablefold");
        for (const auto &stored : {qMakePair(QString("SablefoldController/Position"), position),
                                   qMakePair(QString("KIP/SerialPort0"), portName0), qMakePair(QString("KIP/SerialPort1"), portName1)})
            if (stored.second.isValid())
                settings.setValue(stored.first, stored.second);
        settings.sync();
        const QString defaultName = KipPort(nullptr, 0).serialPortName();
        {
            MainWindow window(nullptr, adapters.lister());
            QCOMPARE(window.pos(), expectedPosition);
            QCOMPARE(window.slotForm(0)->cardPort()->serialPortName(), expectedName0 == "-" ? defaultName : expectedName0);
            QCOMPARE(window.slotForm(1)->cardPort()->serialPortName(), expectedName1 == "-" ? defaultName : expectedName1);
            window.move(33, 21);
            QVERIFY(window.close());
        }
        settings.sync();
        QCOMPARE(settings.value("SablefoldController/Position").toPoint(), QPoint(33, 21));
        QCOMPARE(settings.contains("KIP/SerialPort0"), portName0.isValid());
        QCOMPARE(MainWindow(nullptr, adapters.lister()).pos(), QPoint(33, 21));
    }
    void logDialogsOpenAndClose()
    {
        MainWindow window(nullptr, adapters.lister());
        QCheckBox *masterBox = window.findChild<QCheckBox *>("masterLogCheckBox");
        QCheckBox *slaveBox = window.findChild<QCheckBox *>("slaveLogCheckBox");
        masterBox->click();
        slaveBox->click();
        QPointer<LogDialog> first = window.logDialog(0);
        QVERIFY(first && window.logDialog(1));
        // Each dialog shows its own port's traffic only, a line for each message.
        window.slotForm(0)->cardPort()->requestCardStatus();
        window.slotForm(0)->cardPort()->sendRawData(QByteArray::fromHex("550a00"));
        emit window.slotForm(1)->cardPort()->logDataReceived("rx clock locked 1 1");
        QCOMPARE(first->findChild<QTextBrowser *>()->toPlainText(), QStringLiteral("Tx card status 0 \nTx hex: 55 a 0"));
        QCOMPARE(window.logDialog(1)->findChild<QTextBrowser *>()->toPlainText(), QStringLiteral("Rx rx clock locked 1 1"));
        // Withdrawn: closed, forgotten and destroyed, so it stops collecting lines.
        masterBox->click();
        QVERIFY(!window.logDialog(0));
        QTRY_VERIFY(!first);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
