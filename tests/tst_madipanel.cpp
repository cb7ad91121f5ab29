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
        : port(nullptr, slot)
        , sent(&port, &KipPort::logDataTransmitted)
        , panel(&port, nullptr)
        , locks(&panel, &CardPanel::syncLockStateChanged)
    {
    }

    QStringList lines(int madiPort)
    {
        const char *name = madiPort == 0 ? "madiATextEdit" : "madiBTextEdit";
        return panel.findChild<QPlainTextEdit *>(name)->toPlainText().split('\n');
    }
    template<typename T>
    T *child(const char *name)
    {
        T *found = panel.findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    QString cell(const char *table, int row, int column)
    {
        QTableWidgetItem *item = child<QTableWidget>(table)->item(row, column);
        return item ? item->text() : QString();
    }
    QStringList sentSince(int from)
    {
        QStringList texts;
        for (int i = from; i < sent.count(); ++i)
            texts << sent.at(i).at(0).toString();
        return texts;
    }
    int lastLock(int madiPort)
    {
        for (int i = locks.count() - 1; i >= 0; --i)
            if (locks.at(i).at(0).toInt() == madiPort)
                return locks.at(i).at(1).toInt();
        return -99;
    }
    void cardStatus(const QByteArray &block, KipPort::KipCardType type = KipPort::MadiBnc)
    {
        emit port.kipCardStatusChanged(type, block);
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

} // namespace

class MadiPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void asksForDeviceTypes();
    void typicalRackPort();
    void cardStatusBlock_data();
    void cardStatusBlock();
    void lockStates_data();
    void lockStates();
    void smux_data();
    void smux();
    void singlePortMode();
    void rackSlots_data();
    void rackSlots();
    void psuVoltages_data();
    void psuVoltages();
    void deviceTypes_data();
    void deviceTypes();
    void transmitButtonCommands_data();
    void transmitButtonCommands();
    void buttonsFollowTheCard();
    void syncButtonsOnlyOnMaster();
};

void MadiPanelTest::asksForDeviceTypes()
{
    KipPort port(nullptr, 0);
    QSignalSpy sent(&port, &KipPort::logDataTransmitted);
    MadiPanel panel(&port, nullptr);
    // "device type" with parameter 0 and no payload, sent raw: 04 24 00 00 28.
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.at(0).at(0).toString(), QStringLiteral("hex: 4 24 0 0 28"));
    // Nothing known yet: no rack tables, no PSU tables, no SMUX boxes.
    for (const char *name : {"madiASlotsTable", "madiBSlotsTable", "madiAPsuTable", "madiBPsuTable"})
        QVERIFY(panel.findChild<QWidget *>(name)->isHidden());
    QVERIFY(panel.findChild<QCheckBox *>("aSmuxCheckBox")->isHidden());
    QVERIFY(panel.findChild<QCheckBox *>("aControlViaAudioCheckBox")->isHidden());
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
    // Nothing on port B.
    QCOMPARE(bench.lines(1), (QStringList{"Rx Channels: 0 ", "Rx Sample Rate: 0", "Rx Sync: Not Locked",
                                         "Tx Channels: 0  ", "Connection: none"}));
}

void MadiPanelTest::cardStatusBlock_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("cardType");
    QTest::addColumn<QString>("portA");
    QTest::addColumn<QString>("portB");

    // The panel starts from a block of 64 / 64 channels (see below).
    QTest::newRow("57 and nothing") << QByteArray::fromHex("3900") << int(KipPort::MadiBnc)
                                    << "Rx Channels: 57 " << "Rx Channels: 0 ";
    QTest::newRow("96k bit") << QByteArray::fromHex("9c40") << int(KipPort::MadiCat5)
                             << "Rx Channels: 28 96k" << "Rx Channels: 64 ";
    QTest::newRow("longer block: only two bytes read") << QByteArray::fromHex("38383838") << int(KipPort::MadiBnc)
                                                       << "Rx Channels: 56 " << "Rx Channels: 56 ";
    QTest::newRow("one byte: port B untouched") << QByteArray::fromHex("39") << int(KipPort::MadiBnc)
                                                << "Rx Channels: 57 " << "Rx Channels: 64 ";
    QTest::newRow("empty block: nothing read") << QByteArray() << int(KipPort::MadiBnc)
                                               << "Rx Channels: 64 " << "Rx Channels: 64 ";
    QTest::newRow("not a MADI card: ignored") << QByteArray::fromHex("0000") << int(KipPort::Aes)
                                              << "Rx Channels: 64 " << "Rx Channels: 64 ";
}

void MadiPanelTest::cardStatusBlock()
{
    QFETCH(QByteArray, block);
    QFETCH(int, cardType);
    QFETCH(QString, portA);
    QFETCH(QString, portB);
    Bench bench;
    bench.cardStatus(QByteArray::fromHex("4040"));
    bench.cardStatus(block, KipPort::KipCardType(cardType));
    QCOMPARE(bench.lines(0).first(), portA);
    QCOMPARE(bench.lines(1).first(), portB);
}

void MadiPanelTest::lockStates_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("lockedA");
    QTest::addColumn<bool>("lockedB");
    QTest::addColumn<int>("stateA");
    QTest::addColumn<int>("stateB");
    QTest::newRow("both receiving, A locked") << QByteArray::fromHex("3940") << true << false << int(SyncLocked)
                                              << int(SyncUnlocked);
    QTest::newRow("B receives nothing") << QByteArray::fromHex("3900") << true << true << int(SyncLocked)
                                        << int(SyncUnknown);
    QTest::newRow("A receives nothing, though locked") << QByteArray::fromHex("0040") << true << true
                                                       << int(SyncUnknown) << int(SyncLocked);
}

void MadiPanelTest::lockStates()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, lockedA);
    QFETCH(bool, lockedB);
    QFETCH(int, stateA);
    QFETCH(int, stateB);
    Bench bench;
    bench.cardStatus(block);
    emit bench.port.clockLockedChanged(0, lockedA);
    emit bench.port.clockLockedChanged(1, lockedB);
    QCOMPARE(bench.lastLock(0), stateA);
    QCOMPARE(bench.lastLock(1), stateB);
    // A report for a port the card does not have changes nothing.
    const int before = bench.locks.count();
    emit bench.port.clockLockedChanged(2, true);
    QCOMPARE(bench.locks.count(), before);
}

void MadiPanelTest::smux_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<bool>("smux");
    QTest::addColumn<QString>("rateLine");
    QTest::addColumn<bool>("boxShown");
    QTest::newRow("48k with SMUX doubles") << 48000u << true << "Rx Sample Rate: 96000 smux" << true;
    QTest::newRow("48k without SMUX") << 48000u << false << "Rx Sample Rate: 48000" << true;
    QTest::newRow("49999 is still single rate") << 49999u << true << "Rx Sample Rate: 99998 smux" << true;
    QTest::newRow("96k hides the box, plain rate") << 96000u << true << "Rx Sample Rate: 96000" << false;
    QTest::newRow("50000 hides the box") << 50000u << true << "Rx Sample Rate: 50000" << false;
    QTest::newRow("no rate hides the box") << 0u << true << "Rx Sample Rate: 0" << false;
}

void MadiPanelTest::smux()
{
    QFETCH(uint, rate);
    QFETCH(bool, smux);
    QFETCH(QString, rateLine);
    QFETCH(bool, boxShown);
    Bench bench;
    bench.cardStatus(QByteArray::fromHex("4040"));
    emit bench.port.madiSmuxChanged(1, smux);
    emit bench.port.inputSampleRateChanged(1, rate);
    QCOMPARE(bench.lines(1).at(1), rateLine);
    QCOMPARE(!bench.child<QCheckBox>("bSmuxCheckBox")->isHidden(), boxShown);
    QCOMPARE(bench.child<QCheckBox>("bSmuxCheckBox")->isChecked(), smux);
    // Port A's box follows port A's rate, not B's.
    QVERIFY(bench.child<QCheckBox>("aSmuxCheckBox")->isHidden());
}

void MadiPanelTest::singlePortMode()
{
    Bench bench;
    bench.cardStatus(QByteArray::fromHex("4040"));
    emit bench.port.clockLockedChanged(1, true);
    QCOMPARE(bench.lastLock(1), int(SyncLocked));

    emit bench.port.madiPortModeChanged(0);
    QCOMPARE(bench.lines(1), QStringList{"Disabled (single port mode)"});
    QCOMPARE(bench.lastLock(1), int(SyncUnknown));
    // Whatever B receives meanwhile.
    emit bench.port.clockLockedChanged(1, true);
    bench.cardStatus(QByteArray::fromHex("4038"));
    QCOMPARE(bench.lines(1), QStringList{"Disabled (single port mode)"});
    QCOMPARE(bench.lastLock(1), int(SyncUnknown));
    QCOMPARE(bench.lines(0).first(), QStringLiteral("Rx Channels: 64 "));

    emit bench.port.madiPortModeChanged(1);
    QCOMPARE(bench.lines(1).first(), QStringLiteral("Rx Channels: 56 "));
    QCOMPARE(bench.lastLock(1), int(SyncLocked));
}

void MadiPanelTest::rackSlots_data()
{
    QTest::addColumn<int>("rackType");
    QTest::addColumn<QString>("firstColumn");  // numbers of rows 0-6, "." for blank
    QTest::addColumn<QString>("secondColumn");
    QTest::addColumn<bool>("psuShown");
    QTest::addColumn<QString>("typeLine");
    QTest::newRow("Quorack") << 1 << "1234567" << "8,9,10,11,12,13,14" << false << "Rack type: Quorack";
    QTest::newRow("QX-rack") << 2 << "1234567" << "8,9,10,11,12,13,14" << true << "Rack type: QX-rack";
    QTest::newRow("Q-rack") << 3 << "1234..." << "8,9,,,,," << true << "Rack type: Q-rack";
    QTest::newRow("QX-mini") << 4 << "1234..." << ",,,,,," << true << "Rack type: QX-mini";
    QTest::newRow("QX-nano") << 5 << "12....." << ",,,,,," << true << "Rack type: QX-nano";
    QTest::newRow("Q2-rack") << 6 << "123456." << "8,9,10,11,,," << true << "Rack type: Q2-rack";
}

void MadiPanelTest::rackSlots()
{
    QFETCH(int, rackType);
    QFETCH(QString, firstColumn);
    QFETCH(QString, secondColumn);
    QFETCH(bool, psuShown);
    QFETCH(QString, typeLine);
    Bench bench;
    bench.rackOnPortA(rackType);
    QTableWidget *table = bench.child<QTableWidget>("madiASlotsTable");
    QVERIFY(!table->isHidden());
    QVERIFY(!bench.child<QLabel>("rackASlotsLabel")->isHidden());
    QCOMPARE(!bench.child<QTableWidget>("madiAPsuTable")->isHidden(), psuShown);
    QVERIFY(bench.lines(0).contains(typeLine));

    QString first;
    QStringList second;
    for (int row = 0; row < 7; ++row) {
        const QString number = bench.cell("madiASlotsTable", row, 0);
        first += number.isEmpty() ? QStringLiteral(".") : number;
        second << bench.cell("madiASlotsTable", row, 2);
    }
    QCOMPARE(first, firstColumn);
    QCOMPARE(second.join(','), secondColumn);

    // Slot index 7 is shown beside number 8, index 2 beside 3.
    emit bench.port.rackSlotChanged(0, 7, 2);
    emit bench.port.rackSlotChanged(0, 2, 12);
    emit bench.port.rackSlotChanged(0, 14, 1); // no such slot
    QCOMPARE(bench.cell("madiASlotsTable", 0, 3), QStringLiteral("ADC"));
    QCOMPARE(bench.cell("madiASlotsTable", 2, 1), QStringLiteral("Dante"));
    emit bench.port.rackSlotChanged(0, 2, 13); // unknown card code
    QCOMPARE(bench.cell("madiASlotsTable", 2, 1), QString());

    // A new rack type starts the slots afresh; type 0 hides the table again.
    emit bench.port.rackTypeChanged(0, rackType == 1 ? 2 : 1);
    QCOMPARE(bench.cell("madiASlotsTable", 0, 3), QString());
    emit bench.port.rackTypeChanged(0, 0);
    QVERIFY(table->isHidden());
    QVERIFY(bench.child<QTableWidget>("madiAPsuTable")->isHidden());
    QVERIFY(!bench.lines(0).join('\n').contains("Rack type"));
    // An unknown type also has no layout.
    emit bench.port.rackTypeChanged(0, 9);
    QVERIFY(table->isHidden());
}

void MadiPanelTest::psuVoltages_data()
{
    QTest::addColumn<int>("psu");
    QTest::addColumn<int>("nominal");
    QTest::addColumn<float>("volts");
    QTest::addColumn<int>("row");    // -1: nothing changes
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::newRow("+15v rounds to one decimal") << 0 << 15 << 15.04f << 1 << 3 << "15.0";
    QTest::newRow("+5v on supply B") << 1 << 5 << 5.1f << 2 << 1 << "5.1";
    QTest::newRow("+7v") << 0 << 7 << 6.9f << 1 << 2 << "6.9";
    QTest::newRow("-15v") << 1 << -15 << -14.96f << 2 << 4 << "-15.0";
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
    const int nominals[] = {5, 7, 15, -15};
    for (int supply = 0; supply < 2; ++supply)
        for (int rail = 0; rail < 4; ++rail)
            emit bench.port.rackVoltageChanged(0, supply, nominals[rail], 1.0f);
    emit bench.port.rackVoltageChanged(0, psu, nominal, volts);
    for (int r = 1; r <= 2; ++r) {
        for (int c = 1; c <= 4; ++c) {
            const QString expected = (r == row && c == column) ? text : QStringLiteral("1.0");
            QCOMPARE(bench.cell("madiAPsuTable", r, c), expected);
        }
    }
    // Captions stay.
    QCOMPARE(bench.cell("madiAPsuTable", 0, 3), QStringLiteral("+15v"));
    QCOMPARE(bench.cell("madiAPsuTable", 2, 0), QStringLiteral("B"));
}

void MadiPanelTest::deviceTypes_data()
{
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("txFormatA");
    QTest::addColumn<QString>("connection");
    QTest::addColumn<bool>("rackKept");
    QTest::newRow("rack keeps the rack") << 1 << 64 << "Connection: Rack" << true;
    QTest::newRow("console clears it") << 2 << 64 << "Connection: Console" << false;
    QTest::newRow("generic") << 3 << 64 << "Connection: Generic" << false;
    QTest::newRow("none") << 0 << 64 << "Connection: none" << false;
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
    QCOMPARE(!bench.child<QTableWidget>("madiASlotsTable")->isHidden(), rackKept);
    QCOMPARE(bench.cell("madiAPsuTable", 1, 1), rackKept ? QStringLiteral("5.0") : QString());
    QCOMPARE(bench.lines(0).contains("Rack type: Q-rack"), rackKept);
}

void MadiPanelTest::transmitButtonCommands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("commands");
    using UiTest::sentText;
    const auto bytes = [](std::initializer_list<int> values) {
        QByteArray data;
        for (int v : values)
            data.append(char(v));
        return data;
    };
    QTest::newRow("A Auto") << "aTxModeAutoButton"
                            << QStringList{sentText(35, 0, bytes({1, 0})), sentText(44, 0, bytes({0}))};
    QTest::newRow("A Quorix") << "aTxMode57Button"
                              << QStringList{sentText(35, 0, bytes({0, 57})), sentText(44, 0, bytes({1}))};
    QTest::newRow("A Fixed") << "aTxMode64Button"
                             << QStringList{sentText(35, 0, bytes({0, 64})), sentText(44, 0, bytes({0}))};
    QTest::newRow("B Auto") << "bTxModeAutoButton"
                            << QStringList{sentText(35, 1, bytes({1, 0})), sentText(44, 1, bytes({0}))};
    QTest::newRow("B Quorix") << "bTxMode57Button"
                              << QStringList{sentText(35, 1, bytes({0, 57})), sentText(44, 1, bytes({1}))};
    QTest::newRow("B Fixed") << "bTxMode64Button"
                             << QStringList{sentText(35, 1, bytes({0, 64})), sentText(44, 1, bytes({0}))};
    QTest::newRow("sync Auto") << "syncAutoButton" << QStringList{sentText(33, 1, bytes({0xFF}))};
    QTest::newRow("sync Word Clock") << "syncWordClockButton" << QStringList{sentText(33, 0, bytes({0xFE}))};
    QTest::newRow("sync MADI A") << "syncMadiAButton" << QStringList{sentText(33, 0, bytes({0}))};
    QTest::newRow("sync MADI B") << "syncMadiBButton" << QStringList{sentText(33, 0, bytes({1}))};
    QTest::newRow("A SMUX") << "aSmuxCheckBox" << QStringList{sentText(55, 0, bytes({1}))};
    QTest::newRow("B SMUX") << "bSmuxCheckBox" << QStringList{sentText(55, 1, bytes({1}))};
}

void MadiPanelTest::transmitButtonCommands()
{
    QFETCH(QString, button);
    QFETCH(QStringList, commands);
    Bench bench;
    const int before = bench.sent.count();
    bench.panel.findChild<QAbstractButton *>(button)->click();
    QCOMPARE(bench.sentSince(before), commands);
}

void MadiPanelTest::buttonsFollowTheCard()
{
    Bench bench;
    QToolButton *autoA = bench.child<QToolButton>("aTxModeAutoButton");
    QToolButton *fixedA = bench.child<QToolButton>("aTxMode64Button");
    QToolButton *quorixA = bench.child<QToolButton>("aTxMode57Button");

    // A click the card does not confirm is undone at the next redraw.
    fixedA->click();
    QVERIFY(fixedA->isChecked());
    emit bench.port.madiTransmitModeChanged(0, 0, true);
    QVERIFY(autoA->isChecked());
    QVERIFY(!fixedA->isChecked());

    emit bench.port.madiTransmitModeChanged(0, 57, false);
    QVERIFY(quorixA->isChecked());
    QVERIFY(bench.child<QCheckBox>("aControlViaAudioCheckBox")->isEnabled());
    // A format the panel has no button for leaves none checked.
    emit bench.port.madiTransmitModeChanged(0, 99, false);
    QVERIFY(!autoA->isChecked() && !quorixA->isChecked() && !fixedA->isChecked());
    QVERIFY(!bench.child<QCheckBox>("aControlViaAudioCheckBox")->isEnabled());

    // Sync buttons show the source the card reports.
    UiTest::deliver(&bench.port, 33, 0, QByteArray(1, char(254)));
    QVERIFY(bench.child<QToolButton>("syncWordClockButton")->isChecked());
    UiTest::deliver(&bench.port, 33, 0, QByteArray(1, char(1)));
    QVERIFY(bench.child<QToolButton>("syncMadiBButton")->isChecked());
    QVERIFY(!bench.child<QToolButton>("syncWordClockButton")->isChecked());
    UiTest::deliver(&bench.port, 33, 0, QByteArray(1, char(253))); // free run: no button
    for (const char *name : {"syncAutoButton", "syncWordClockButton", "syncMadiAButton", "syncMadiBButton"})
        QVERIFY2(!bench.child<QToolButton>(name)->isChecked(), name);
    UiTest::deliver(&bench.port, 33, 1, QByteArray(1, char(0)));
    QVERIFY(bench.child<QToolButton>("syncAutoButton")->isChecked());
}

void MadiPanelTest::syncButtonsOnlyOnMaster()
{
    Bench slave(1);
    for (const char *name : {"syncAutoButton", "syncWordClockButton", "syncMadiAButton", "syncMadiBButton"})
        QVERIFY2(slave.child<QToolButton>(name)->isHidden(), name);
    // Everything else works as on the master slot.
    const int before = slave.sent.count();
    slave.child<QToolButton>("bTxMode64Button")->click();
    QCOMPARE(slave.sentSince(before).size(), 2);
    slave.rackOnPortA(1);
    QVERIFY(!slave.child<QTableWidget>("madiASlotsTable")->isHidden());

    Bench master(0);
    QVERIFY(!master.child<QToolButton>("syncAutoButton")->isHidden());
}

QTEST_MAIN(MadiPanelTest)
#include "tst_madipanel.moc"
