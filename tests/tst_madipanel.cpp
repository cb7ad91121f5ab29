#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/madipanel.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace EMS;

namespace {

// A panel on a port that is never connected: reports go in as the port's signals,
// commands come out as the port's log texts.
struct Bench
{
    explicit Bench(int slot = 0)
        : port(nullptr, slot), sent(&port, &KipPort::logDataTransmitted), panel(&port, nullptr),
          locks(&panel, &CardPanel::syncLockStateChanged)
    {
    }

    template<typename T = QWidget>
    T *child(const char *name) { return panel.findChild<T *>(QLatin1String(name)); }
    QStringList lines(int madiPort)
    {
        return child<QPlainTextEdit>(madiPort == 0 ? "madiATextEdit" : "madiBTextEdit")->toPlainText().split('\n');
    }
    QString cell(const char *table, int row, int column)
    {
        QTableWidgetItem *item = child<QTableWidget>(table)->item(row, column);
        return item ? item->text() : QString();
    }
    int lastLock(int madiPort)
    {
        for (int i = locks.count() - 1; i >= 0; --i)
            if (locks.at(i).at(0).toInt() == madiPort)
                return locks.at(i).at(1).toInt();
        return -99;
    }
    void cardStatus(const QByteArray &block, int type = KipPort::MadiBnc)
    {
        emit port.kipCardStatusChanged(KipPort::KipCardType(type), block);
    }
    // Port A receives a rack's 57-channel stream at 48 kHz, locked.
    void rackOnPortA(int rackType)
    {
        cardStatus(QByteArray::fromHex("3900"));
        emit port.inputSampleRateChanged(0, 48000);
        emit port.clockLockedChanged(0, true);
        emit port.deviceTypeChanged(0, KipPort::DeviceRack);
        emit port.rackTypeChanged(0, rackType);
    }

    KipPort port;
    QSignalSpy sent;
    MadiPanel panel;
    QSignalSpy locks;
};

const char *const SyncButtons[] = {"syncAutoButton", "syncWordClockButton", "syncMadiAButton", "syncMadiBButton"};

} // namespace

class MadiPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void constructionBySlot();
    void typicalRackPort();
    void cardStatusBlock_data();
    void cardStatusBlock();
    void smux_data();
    void smux();
    void singlePortMode();
    void rackSlots_data();
    void rackSlots();
    void psuVoltages_data();
    void psuVoltages();
    void deviceTypes_data();
    void deviceTypes();
    void commands_data();
    void commands();
    void buttonsFollowTheCard();
};

void MadiPanelTest::constructionBySlot()
{
    Bench master(0);
    Bench slave(1);
    // Both ask for the device types: "device type", parameter 0, sent raw as 04 24 00 00 28.
    QCOMPARE(master.sent.count(), 1);
    QCOMPARE(master.sent.at(0).at(0).toString(), QStringLiteral("hex: 4 24 0 0 28"));
    // Only the master slot chooses the sync source.
    for (const char *name : SyncButtons) {
        QVERIFY2(!master.child(name)->isHidden(), name);
        QVERIFY2(slave.child(name)->isHidden(), name);
    }
    // Nothing known yet: no rack or PSU tables, no SMUX or control-via-audio boxes.
    for (const char *name : {"madiASlotsTable", "madiBPsuTable", "aSmuxCheckBox", "aControlViaAudioCheckBox"})
        QVERIFY2(slave.child(name)->isHidden(), name);
}

void MadiPanelTest::typicalRackPort()
{
    Bench bench;
    bench.rackOnPortA(1);
    emit bench.port.madiTransmitModeChanged(0, 57, false);
    emit bench.port.rackCodeDateChanged(0, 7, 3, 2014);
    QCOMPARE(bench.lines(0), (QStringList{"Rx Channels: 57 ", "Rx Sample Rate: 48000", "Rx Sync: Locked",
                                         "Tx Channels: 57  fixed", "Connection: Rack", "Rack type: Quorack",
                                         "Rack code: 7/3/2014"}));
    QCOMPARE(bench.lines(1), (QStringList{"Rx Channels: 0 ", "Rx Sample Rate: 0", "Rx Sync: Not Locked",
                                         "Tx Channels: 0  ", "Connection: none"}));
    QCOMPARE(bench.lastLock(0), int(SyncLocked));
}

void MadiPanelTest::cardStatusBlock_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("cardType");
    QTest::addColumn<QString>("portA");
    QTest::addColumn<QString>("portB");
    QTest::addColumn<int>("lockB"); // port B is locked throughout
    // Each row starts from 64 channels on both ports.
    QTest::newRow("57 and nothing") << QByteArray::fromHex("3900") << int(KipPort::MadiBnc) << "Rx Channels: 57 "
                                    << "Rx Channels: 0 " << int(SyncUnknown);
    QTest::newRow("96k bit") << QByteArray::fromHex("9c40") << int(KipPort::MadiCat5) << "Rx Channels: 28 96k"
                             << "Rx Channels: 64 " << int(SyncLocked);
    QTest::newRow("one byte: B untouched") << QByteArray::fromHex("39") << int(KipPort::MadiBnc)
                                           << "Rx Channels: 57 " << "Rx Channels: 64 " << int(SyncLocked);
    QTest::newRow("empty: nothing read") << QByteArray() << int(KipPort::MadiBnc) << "Rx Channels: 64 "
                                         << "Rx Channels: 64 " << int(SyncLocked);
    QTest::newRow("not a MADI card: ignored") << QByteArray::fromHex("0000") << int(KipPort::Aes)
                                              << "Rx Channels: 64 " << "Rx Channels: 64 " << int(SyncLocked);
}

void MadiPanelTest::cardStatusBlock()
{
    QFETCH(QByteArray, block);
    QFETCH(int, cardType);
    QFETCH(QString, portA);
    QFETCH(QString, portB);
    QFETCH(int, lockB);
    Bench bench;
    bench.cardStatus(QByteArray::fromHex("4040"));
    emit bench.port.clockLockedChanged(1, true);
    bench.cardStatus(block, cardType);
    QCOMPARE(bench.lines(0).first(), portA);
    QCOMPARE(bench.lines(1).first(), portB);
    QCOMPARE(bench.lastLock(1), lockB);
}

void MadiPanelTest::smux_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<QString>("rateLine");
    QTest::addColumn<bool>("boxShown");
    QTest::newRow("48k doubles") << 48000u << "Rx Sample Rate: 96000 smux" << true;
    QTest::newRow("49999 still single rate") << 49999u << "Rx Sample Rate: 99998 smux" << true;
    QTest::newRow("50000 hides the box") << 50000u << "Rx Sample Rate: 50000" << false;
    QTest::newRow("no rate hides the box") << 0u << "Rx Sample Rate: 0" << false;
}

void MadiPanelTest::smux()
{
    QFETCH(uint, rate);
    QFETCH(QString, rateLine);
    QFETCH(bool, boxShown);
    Bench bench;
    emit bench.port.madiSmuxChanged(1, true);
    emit bench.port.inputSampleRateChanged(1, rate);
    QCOMPARE(bench.lines(1).at(1), rateLine);
    QCOMPARE(!bench.child("bSmuxCheckBox")->isHidden(), boxShown);
    QVERIFY(bench.child<QCheckBox>("bSmuxCheckBox")->isChecked());
    // Port A's box follows port A's rate.
    QVERIFY(bench.child("aSmuxCheckBox")->isHidden());
}

void MadiPanelTest::singlePortMode()
{
    Bench bench;
    bench.cardStatus(QByteArray::fromHex("4040"));
    emit bench.port.clockLockedChanged(1, true);
    emit bench.port.madiPortModeChanged(0);
    // Port B shows one line and an unknown lock, whatever it receives meanwhile.
    bench.cardStatus(QByteArray::fromHex("4038"));
    emit bench.port.clockLockedChanged(1, true);
    QCOMPARE(bench.lines(1), QStringList{"Disabled (single port mode)"});
    QCOMPARE(bench.lastLock(1), int(SyncUnknown));

    emit bench.port.madiPortModeChanged(1);
    QCOMPARE(bench.lines(1).first(), QStringLiteral("Rx Channels: 56 "));
    QCOMPARE(bench.lastLock(1), int(SyncLocked));
}

void MadiPanelTest::rackSlots_data()
{
    QTest::addColumn<int>("rackType");
    QTest::addColumn<QString>("numbers"); // column 0 then column 2, "." for blank
    QTest::addColumn<bool>("psuShown");
    QTest::newRow("Quorack") << 1 << "1234567 8 9 10 11 12 13 14" << false;
    QTest::newRow("Q-rack") << 3 << "1234... 8 9 . . . . ." << true;
    QTest::newRow("Q2-rack") << 6 << "123456. 8 9 10 11 . . ." << true;
}

void MadiPanelTest::rackSlots()
{
    QFETCH(int, rackType);
    QFETCH(QString, numbers);
    QFETCH(bool, psuShown);
    Bench bench;
    bench.rackOnPortA(rackType);
    QVERIFY(!bench.child("madiASlotsTable")->isHidden());
    QVERIFY(!bench.child("rackASlotsLabel")->isHidden());
    QCOMPARE(!bench.child("madiAPsuTable")->isHidden(), psuShown);

    QString shown;
    for (int row = 0; row < 7; ++row)
        shown += bench.cell("madiASlotsTable", row, 0).isEmpty() ? "." : bench.cell("madiASlotsTable", row, 0);
    for (int row = 0; row < 7; ++row)
        shown += " " + (bench.cell("madiASlotsTable", row, 2).isEmpty() ? "." : bench.cell("madiASlotsTable", row, 2));
    QCOMPARE(shown, numbers);

    // Slot index 7 is shown beside number 8; slots beyond 14 and unknown cards show nothing.
    emit bench.port.rackSlotChanged(0, 7, 2);
    emit bench.port.rackSlotChanged(0, 14, 1);
    emit bench.port.rackSlotChanged(0, 2, 13);
    QCOMPARE(bench.cell("madiASlotsTable", 0, 3), QStringLiteral("ADC"));
    QCOMPARE(bench.cell("madiASlotsTable", 2, 1), QString());

    // Losing the 57-channel stream clears the rack.
    bench.cardStatus(QByteArray::fromHex("4000"));
    QVERIFY(bench.child("madiASlotsTable")->isHidden());
    QVERIFY(bench.child("madiAPsuTable")->isHidden());
    QVERIFY(!bench.lines(0).join('\n').contains("Rack type"));
}

void MadiPanelTest::psuVoltages_data()
{
    QTest::addColumn<int>("psu");
    QTest::addColumn<int>("nominal");
    QTest::addColumn<float>("volts");
    QTest::addColumn<int>("row"); // -1: nothing changes
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::newRow("+15v to one decimal") << 0 << 15 << 15.04f << 1 << 3 << "15.0";
    QTest::newRow("-15v on supply B") << 1 << -15 << -14.96f << 2 << 4 << "-15.0";
    QTest::newRow("zero blanks the cell") << 0 << 5 << 0.0f << 1 << 1 << "";
    QTest::newRow("unknown nominal ignored") << 0 << 12 << 12.0f << -1 << 0 << "";
    QTest::newRow("third supply ignored") << 2 << 5 << 5.0f << -1 << 0 << "";
}

void MadiPanelTest::psuVoltages()
{
    QFETCH(int, psu);
    QFETCH(int, nominal);
    QFETCH(float, volts);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    Bench bench;
    bench.rackOnPortA(2);
    // Every cell filled first, so an ignored report shows as nothing changed.
    for (int supply = 0; supply < 2; ++supply)
        for (int nominalVolts : {5, 7, 15, -15})
            emit bench.port.rackVoltageChanged(0, supply, nominalVolts, 1.0f);
    emit bench.port.rackVoltageChanged(0, psu, nominal, volts);
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 4; ++c)
            QCOMPARE(bench.cell("madiAPsuTable", r, c), (r == row && c == column) ? text : QStringLiteral("1.0"));
}

void MadiPanelTest::deviceTypes_data()
{
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("txFormatA");
    QTest::addColumn<QString>("connection");
    QTest::addColumn<bool>("rackKept");
    QTest::newRow("rack keeps the rack") << 1 << 64 << "Connection: Rack" << true;
    QTest::newRow("console clears it") << 2 << 64 << "Connection: Console" << false;
    QTest::newRow("unlisted while A sends 57") << 9 << 57 << "Connection: Quorix" << false;
    QTest::newRow("unlisted otherwise") << 9 << 64 << "Connection: " << false;
}

void MadiPanelTest::deviceTypes()
{
    QFETCH(int, deviceType);
    QFETCH(int, txFormatA);
    QFETCH(QString, connection);
    QFETCH(bool, rackKept);
    Bench bench;
    bench.rackOnPortA(3);
    emit bench.port.rackVoltageChanged(0, 0, 5, 5.0f);
    emit bench.port.madiTransmitModeChanged(0, txFormatA, false);
    emit bench.port.deviceTypeChanged(0, KipPort::DeviceType(deviceType));
    QCOMPARE(bench.lines(0).at(4), connection);
    QCOMPARE(!bench.child("madiASlotsTable")->isHidden(), rackKept);
    QCOMPARE(bench.cell("madiAPsuTable", 1, 1), rackKept ? QStringLiteral("5.0") : QString());
}

void MadiPanelTest::commands_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QStringList>("commands");
    using UiTest::sentText;
    const auto bytes = [](int a, int b = -1) {
        QByteArray data(1, char(a));
        if (b >= 0)
            data.append(char(b));
        return data;
    };
    QTest::newRow("A Auto") << "aTxModeAutoButton" << QStringList{sentText(35, 0, bytes(1, 0)), sentText(44, 0, bytes(0))};
    QTest::newRow("A Quorix") << "aTxMode57Button" << QStringList{sentText(35, 0, bytes(0, 57)), sentText(44, 0, bytes(1))};
    QTest::newRow("A Fixed") << "aTxMode64Button" << QStringList{sentText(35, 0, bytes(0, 64)), sentText(44, 0, bytes(0))};
    QTest::newRow("B Quorix") << "bTxMode57Button" << QStringList{sentText(35, 1, bytes(0, 57)), sentText(44, 1, bytes(1))};
    QTest::newRow("sync Auto") << "syncAutoButton" << QStringList{sentText(33, 1, bytes(0xFF))};
    QTest::newRow("sync Word Clock") << "syncWordClockButton" << QStringList{sentText(33, 0, bytes(0xFE))};
    QTest::newRow("sync MADI B") << "syncMadiBButton" << QStringList{sentText(33, 0, bytes(1))};
    QTest::newRow("B SMUX") << "bSmuxCheckBox" << QStringList{sentText(55, 1, bytes(1))};
}

void MadiPanelTest::commands()
{
    QFETCH(QString, control);
    QFETCH(QStringList, commands);
    Bench bench;
    bench.sent.clear();
    bench.panel.findChild<QAbstractButton *>(control)->click();
    QStringList sent;
    for (const QList<QVariant> &call : bench.sent)
        sent << call.at(0).toString();
    QCOMPARE(sent, commands);
}

void MadiPanelTest::buttonsFollowTheCard()
{
    Bench bench;
    auto *autoA = bench.child<QToolButton>("aTxModeAutoButton");
    auto *quorixA = bench.child<QToolButton>("aTxMode57Button");
    auto *fixedA = bench.child<QToolButton>("aTxMode64Button");

    // A click the card does not confirm is undone at the next redraw.
    fixedA->click();
    emit bench.port.madiTransmitModeChanged(0, 0, true);
    QVERIFY(autoA->isChecked() && !fixedA->isChecked());
    emit bench.port.madiTransmitModeChanged(0, 57, false);
    QVERIFY(quorixA->isChecked());
    QVERIFY(bench.child("aControlViaAudioCheckBox")->isEnabled());
    // A format without a button leaves none checked.
    emit bench.port.madiTransmitModeChanged(0, 99, false);
    QVERIFY(!autoA->isChecked() && !quorixA->isChecked() && !fixedA->isChecked());

    // The sync buttons show what the card reports, read from the port.
    UiTest::deliver(&bench.port, 33, 0, QByteArray(1, char(254)));
    QVERIFY(bench.child<QToolButton>("syncWordClockButton")->isChecked());
    UiTest::deliver(&bench.port, 33, 0, QByteArray(1, char(253))); // free run: no button
    for (const char *name : SyncButtons)
        QVERIFY2(!bench.child<QToolButton>(name)->isChecked(), name);
    UiTest::deliver(&bench.port, 33, 1, QByteArray(1, char(0)));
    QVERIFY(bench.child<QToolButton>("syncAutoButton")->isChecked());
}

QTEST_MAIN(MadiPanelTest)
#include "tst_madipanel.moc"
