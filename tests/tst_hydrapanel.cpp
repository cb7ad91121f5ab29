#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/hydrapanel.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QToolButton>
#include <QtTest>

using namespace EMS;

namespace {

constexpr int SyncSourceMessage = 33;
constexpr int CardStatusMessage = 38;
constexpr int HydraIdMessage = 56;

struct Bench
{
    explicit Bench(int slot = 0)
        : port(nullptr, slot)
        , panel(&port, nullptr)
        , sent(&port, &KipPort::logDataTransmitted)
        , locks(&panel, &CardPanel::syncLockStateChanged)
    {
        UiTest::deliverKipStatus(&port, KipPort::Hydra);
        sent.clear();
    }

    template<typename T>
    T *child(const char *name)
    {
        T *found = panel.findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    QComboBox *ids() { return child<QComboBox>("idComboBox"); }
    QStringList sentTexts()
    {
        QStringList texts;
        for (const QList<QVariant> &call : qAsConst(sent))
            texts << call.at(0).toString();
        return texts;
    }
    QString checkedSyncButtons()
    {
        QString names;
        for (const char *name : {"syncAutoButton", "syncWordClockButton", "syncHydraButton"})
            if (child<QToolButton>(name)->isChecked())
                names += QLatin1String(name).mid(4, 1); // A, W or H
        return names;
    }

    KipPort port;
    HydraPanel panel;
    QSignalSpy sent;
    QSignalSpy locks;
};

} // namespace

class HydraPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void idList();
    void cardStatus_data();
    void cardStatus();
    void idChoiceSendsHydraId_data();
    void idChoiceSendsHydraId();
    void syncButtons_data();
    void syncButtons();
    void syncClicks_data();
    void syncClicks();
    void sampleRateAndLock();
    void slotVisibility_data();
    void slotVisibility();
};

void HydraPanelTest::idList()
{
    Bench bench;
    QComboBox *ids = bench.ids();
    QCOMPARE(ids->count(), 255);
    for (int index = 0; index < ids->count(); ++index)
        QCOMPARE(ids->itemText(index), QString::number(index + 1));
}

void HydraPanelTest::cardStatus_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("shown");

    // Every row starts with "3" selected.
    QTest::newRow("ID 7") << int(KipPort::Hydra) << QByteArray::fromHex("07") << "7";
    QTest::newRow("ID 255") << int(KipPort::Hydra) << QByteArray::fromHex("ff") << "255";
    QTest::newRow("ID 1") << int(KipPort::Hydra) << QByteArray::fromHex("01") << "1";
    QTest::newRow("ID 0: no selection") << int(KipPort::Hydra) << QByteArray::fromHex("00") << "";
    QTest::newRow("longer block") << int(KipPort::Hydra) << QByteArray::fromHex("2a0102") << "42";
    QTest::newRow("empty block names no ID") << int(KipPort::Hydra) << QByteArray() << "3";
    QTest::newRow("another card's block") << int(KipPort::Optocore) << QByteArray::fromHex("0700") << "3";
    QTest::newRow("MADI block") << int(KipPort::MadiBnc) << QByteArray::fromHex("39") << "3";
}

void HydraPanelTest::cardStatus()
{
    QFETCH(int, cardType);
    QFETCH(QByteArray, block);
    QFETCH(QString, shown);
    Bench bench;
    UiTest::deliver(&bench.port, CardStatusMessage, KipPort::Hydra, QByteArray::fromHex("03"));
    QCOMPARE(bench.ids()->currentText(), QStringLiteral("3"));
    UiTest::deliver(&bench.port, CardStatusMessage, cardType, block);
    QCOMPARE(bench.ids()->currentText(), shown);
    QCOMPARE(bench.ids()->currentIndex(), shown.isEmpty() ? -1 : shown.toInt() - 1);
}

void HydraPanelTest::idChoiceSendsHydraId_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("sentId");
    QTest::newRow("42") << "42" << 42;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("255") << "255" << 255;
}

void HydraPanelTest::idChoiceSendsHydraId()
{
    QFETCH(QString, chosen);
    QFETCH(int, sentId);
    Bench bench;
    UiTest::deliver(&bench.port, CardStatusMessage, KipPort::Hydra, QByteArray::fromHex("05"));
    bench.sent.clear();
    const int index = bench.ids()->findText(chosen);
    QVERIFY(QMetaObject::invokeMethod(bench.ids(), "activated", Q_ARG(int, index)));
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(HydraIdMessage, 0, QByteArray(1, char(sentId)))});
    // The card takes the ID at its next power cycle; the panel shows what it reports.
    bench.ids()->setCurrentIndex(4);
    UiTest::deliver(&bench.port, CardStatusMessage, KipPort::Hydra, QByteArray::fromHex("05"));
    QCOMPARE(bench.ids()->currentText(), QStringLiteral("5"));
}

void HydraPanelTest::syncButtons_data()
{
    QTest::addColumn<bool>("isAuto");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("checked");

    QTest::newRow("automatic, on the network") << true << 0 << "A";
    QTest::newRow("automatic, word clock held") << true << 254 << "A";
    QTest::newRow("word clock") << false << 254 << "W";
    QTest::newRow("the network") << false << 0 << "H";
    QTest::newRow("free run") << false << 253 << "";
    QTest::newRow("own clock") << false << 255 << "";
}

void HydraPanelTest::syncButtons()
{
    QFETCH(bool, isAuto);
    QFETCH(int, source);
    QFETCH(QString, checked);
    Bench bench;
    QCOMPARE(bench.checkedSyncButtons(), QStringLiteral("A"));
    UiTest::deliver(&bench.port, SyncSourceMessage, isAuto ? 1 : 0, QByteArray(1, char(source)));
    QCOMPARE(bench.checkedSyncButtons(), checked);
}

void HydraPanelTest::syncClicks_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("frame"); // param, then the source byte
    QTest::addColumn<QString>("checkedAfter");

    // Word clock is in use at the start; a click changes only the clicked button.
    QTest::newRow("Auto") << "syncAutoButton" << QByteArray::fromHex("01ff") << "AW";
    QTest::newRow("Hydra") << "syncHydraButton" << QByteArray::fromHex("0000") << "WH";
    QTest::newRow("Word Clock") << "syncWordClockButton" << QByteArray::fromHex("00fe") << "";
}

void HydraPanelTest::syncClicks()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, frame);
    QFETCH(QString, checkedAfter);
    Bench bench;
    UiTest::deliver(&bench.port, SyncSourceMessage, 0, QByteArray::fromHex("fe"));
    bench.sent.clear();
    bench.panel.findChild<QToolButton *>(button)->click();
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(SyncSourceMessage, frame.at(0), frame.mid(1))});
    QCOMPARE(bench.checkedSyncButtons(), checkedAfter);
}

void HydraPanelTest::sampleRateAndLock()
{
    Bench bench;
    QLabel *rate = bench.child<QLabel>("sampleRateLabel");
    QLabel *lock = bench.child<QLabel>("rxSyncLockLabel");
    QVERIFY(rate->text().isEmpty());
    QCOMPARE(lock->text(), QStringLiteral("Not Locked"));

    emit bench.port.inputSampleRateChanged(3, 48000);
    QCOMPARE(rate->text(), QStringLiteral("48000"));
    emit bench.port.inputSampleRateChanged(0, 0);
    QVERIFY(rate->text().isEmpty());

    emit bench.port.clockLockedChanged(0, true);
    QCOMPARE(lock->text(), QStringLiteral("Locked"));
    emit bench.port.clockLockedChanged(0, false);
    QCOMPARE(lock->text(), QStringLiteral("Not Locked"));
    QCOMPARE(bench.locks.count(), 2);
    QCOMPARE(bench.locks.at(0).at(0).toInt(), 0);
    QCOMPARE(bench.locks.at(0).at(1).value<SyncLockState>(), SyncLocked);
    QCOMPARE(bench.locks.at(1).at(1).value<SyncLockState>(), SyncUnlocked);
}

void HydraPanelTest::slotVisibility_data()
{
    QTest::addColumn<int>("slot");
    QTest::newRow("master slot") << 0;
    QTest::newRow("slave slot") << 1;
}

void HydraPanelTest::slotVisibility()
{
    QFETCH(int, slot);
    Bench bench(slot);
    const bool master = slot == 0;
    for (const char *name : {"syncAutoButton", "syncWordClockButton", "syncHydraButton", "masterWarningTextBrowser"})
        QCOMPARE(bench.child<QWidget>(name)->isHidden(), !master);
    for (const char *name : {"idLabel", "idComboBox", "idLabel_4", "idLabel_5", "idLabel_6"})
        QVERIFY(!bench.child<QWidget>(name)->isHidden());
    QVERIFY(bench.child<QTextBrowser>("masterWarningTextBrowser")->toPlainText().contains(QStringLiteral("SLAVE")));
}

QTEST_MAIN(HydraPanelTest)
#include "tst_hydrapanel.moc"
