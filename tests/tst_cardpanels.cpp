#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "link/serialmessage.h"
#include "ui/aespanel.h"
#include "ui/hydrapanel.h"
#include "ui/madipanel.h"
#include "ui/optocorepanel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtEndian>
#include <QtTest>

#include <memory>

using namespace EMS;
using UiTest::sentText;
using Steps = QList<QByteArray>;

namespace {

// Message types of the card, and two steps of the test's own: a user's click and the
// slot form telling the panel of the card in the other slot.
enum StepType {
    Click = 0xF0, OtherCard = 0xF1, KipStatus = 30, SyncSource = 33, TransmitMode = 35, DeviceType = 36,
    InputRate = 37, CardStatus = 38, RackType = 40, RackSlot = 41, RackCodeDate = 42, RackVoltage = 43,
    ControlViaAudio = 44, InputSrc = 45, OptocoreCommand = 48, ClockLocked = 51, MadiMode = 53, MadiSmux = 55,
    HydraId = 56, ChannelCount = 58
};

QByteArray withSum(QByteArray bytes)
{
    quint8 sum = 0;
    for (char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    return bytes.append(char(sum));
}
// A message from the card: type, parameter, payload.
QByteArray msg(int type, int param, const char *hexData = "") { return QByteArray(1, char(type)) + char(param) + QByteArray::fromHex(hexData); }
QByteArray rate(int input, quint32 hertz)
{
    char bytes[4];
    qToLittleEndian(hertz, bytes);
    return msg(InputRate, input) + QByteArray(bytes, 4);
}
QByteArray kipStatus(int cardType, quint32 rate) { return msg(KipStatus, 0) + UiTest::kipStatusPayload(cardType, 12, 42, "V2.1", rate, true); }
QByteArray click(const char *action) { return msg(Click, 0) + action; }
QByteArray otherCard(int cardType) { return msg(OtherCard, cardType); }
// A reply of the Optocore module as the card relays it, its sum byte appended.
QByteArray module(const char *hex) { return msg(OptocoreCommand, 0) + withSum(QByteArray::fromHex(hex)); }
// What the port logs for a command the panel sends.
QString sent(int type, int param, const char *hexData = "") { return sentText(type, param, QByteArray::fromHex(hexData)); }
QString command(const char *hex) { return sentText(OptocoreCommand, 0, withSum(QByteArray::fromHex(hex))); }
QString counts(int port, int inserted, int extracted) { return sentText(ChannelCount, port, QByteArray(1, char(inserted)) + char(extracted)); }
QStringList names(const QString &spaceSeparated) { return spaceSeparated.split(' ', Qt::SkipEmptyParts); }

// The panel of one card type on a port that is never connected: the card's reports go
// in as frames through the port, the commands come out as the port's log texts.
struct Bench
{
    explicit Bench(int cardType, int slot = 0) : port(nullptr, slot), sent(&port, &KipPort::logDataTransmitted)
    {
        UiTest::deliverKipStatus(&port, cardType, 12, 42, "V2.1", 48000, slot == 0);
        if (KipPort::isDualMadi(KipPort::KipCardType(cardType)))
            panel.reset(new MadiPanel(&port, nullptr));
        else if (cardType == KipPort::Aes)
            panel.reset(new AesPanel(&port, nullptr));
        else if (cardType == KipPort::Hydra)
            panel.reset(new HydraPanel(&port, nullptr));
        else
            panel.reset(new OptocorePanel(&port, nullptr, KipPort::NoCard));
        locks.reset(new QSignalSpy(panel.get(), &CardPanel::syncLockStateChanged));
    }
    template<typename T = QWidget>
    T *child(const QString &name) { return panel->findChild<T *>(name); }
    OptocorePanel *optocore() { return qobject_cast<OptocorePanel *>(panel.get()); }

    void step(const QByteArray &step)
    {
        const QString action = QString::fromLatin1(step.mid(2)), name = action.section('=', 0, 0);
        if (quint8(step.at(0)) == OtherCard) {
            optocore()->receiveOtherCardType(KipPort::KipCardType(quint8(step.at(1))));
        } else if (quint8(step.at(0)) != Click) {
            UiTest::deliver(&port, step.at(0), step.at(1), step.mid(2));
            if (step.at(0) == KipStatus && optocore())
                optocore()->receiveSystemSampleRate(0); // as the slot form passes the rate on
        } else if (!action.contains('=')) { // "name" clicks a button, "name=N" picks item N of a list
            QVERIFY2(child<QAbstractButton>(name), qPrintable(name));
            child<QAbstractButton>(name)->click();
        } else {
            auto *list = child<QComboBox>(name);
            QVERIFY2(list, qPrintable(name));
            list->setCurrentIndex(action.section('=', 1).toInt());
            QMetaObject::invokeMethod(list, "activated", Q_ARG(int, list->currentIndex()));
        }
    }
    QString cell(const QString &table, int row, int column)
    {
        QTableWidgetItem *item = child<QTableWidget>(table)->item(row, column);
        return item ? item->text() : QString();
    }
    // What the panel shows, as a row of the table names it: "sync" (the sync choices
    // checked: A(uto), W(ord clock), a/b (MADI A/B), H(ydra), E(xternal network), or the
    // AES inputs 1 to 8), "sent" (the commands sent in answer to the last step), "lockN"
    // (the lock last reported for port N), "rates", "psu" (port A's supply table),
    // "slots" (the numbers of port A's rack slots), "counts" and "lists" (the Optocore
    // channel counts chosen and offered), "stored" (the Optocore settings block), or a
    // widget: "name", "name:line", "table:row:column".
    QString probe(const QString &what)
    {
        QStringList texts;
        if (what == "sync") {
            for (const QString &choice : names("Auto:A WordClock:W MadiA:a MadiB:b Hydra:H External:E 1CheckBox:1 2CheckBox:2 "
                                               "3CheckBox:3 4CheckBox:4 5CheckBox:5 6CheckBox:6 7CheckBox:7 8CheckBox:8")) {
                const QString name = "sync" + choice.section(':', 0, 0);
                auto *button = child<QAbstractButton>(name.endsWith("Box") ? name : name + "Button");
                if (button && button->isChecked())
                    texts << choice.section(':', 1);
            }
            return texts.join("");
        }
        if (what == "sent") {
            for (const QList<QVariant> &call : qAsConst(sent))
                texts << call.at(0).toString();
            return texts.join(" | ");
        }
        if (what.startsWith("lock")) {
            for (int i = locks->count() - 1; i >= 0; --i)
                if (locks->at(i).at(0).toInt() == what.mid(4).toInt())
                    return QString::number(locks->at(i).at(1).toInt());
            return "-99";
        }
        if (what == "stored")
            return optocore()->storedSettings().toHex();
        if (what == "rates") {
            for (int input = 0; input <= AesPanel::InputCount; ++input)
                if (auto *label = child<QLabel>(QString("sampleRate%1Label").arg(input ? QString::number(input) : "")))
                    texts << label->text();
            return texts.join('/');
        }
        if (what == "psu" || what == "slots") {
            for (int i = 0; i < (what == "psu" ? 8 : 14); ++i)
                texts << (what == "psu" ? cell("madiAPsuTable", 1 + i / 4, 1 + i % 4) : cell("madiASlotsTable", i % 7, i < 7 ? 0 : 2));
            return texts.join(what == "psu" ? "/" : " ");
        }
        if (what == "counts" || what == "lists") {
            for (const char *name : {"insertingComboBox", "extractingComboBox", "insertingBComboBox", "extractingBComboBox"}) {
                auto *list = child<QComboBox>(name);
                for (int k = 0; k < list->count(); ++k)
                    if (list->itemText(k) != QString::number(8 * k)) // every list counts in eights from 0
                        return QString("%1 item %2: %3").arg(name).arg(k).arg(list->itemText(k));
                texts << (what == "counts" ? list->currentText() : (list->isHidden() ? "hidden " : "") + list->itemText(list->count() - 1));
            }
            return texts.join('/');
        }
        const QStringList parts = what.split(':');
        QWidget *widget = child(parts.at(0));
        if (!widget)
            return "no " + what;
        const QString state = QString(widget->isHidden() ? "hidden " : "") + (widget->isEnabled() ? "" : "disabled ");
        if (auto *label = qobject_cast<QLabel *>(widget))
            return state + label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            return state + button->text() + (button->isChecked() ? "*" : "");
        if (auto *list = qobject_cast<QComboBox *>(widget))
            return state + list->currentText();
        if (auto *edit = qobject_cast<QPlainTextEdit *>(widget)) {
            const QStringList lines = edit->toPlainText().split('\n');
            return state + (parts.size() > 1 ? lines.value(parts.at(1).toInt()) : lines.join('|'));
        }
        return state + (parts.size() > 2 ? cell(parts.at(0), parts.at(1).toInt(), parts.at(2).toInt()) : QString());
    }

    KipPort port;
    QSignalSpy sent;
    std::unique_ptr<CardPanel> panel;
    std::unique_ptr<QSignalSpy> locks;
};

} // namespace

class CardPanelsTest : public QObject
{
    Q_OBJECT

private slots:
    void syncOnMasterOnly();
    void showsAndSends_data();
    void showsAndSends();
};

void CardPanelsTest::syncOnMasterOnly()
{
    const QList<QPair<int, const char *>> panels = {
        {KipPort::MadiBnc, "syncAutoButton syncWordClockButton syncMadiAButton syncMadiBButton"},
        {KipPort::Aes, "syncToLabel sync1CheckBox sync4CheckBox sync8CheckBox"},
        {KipPort::Hydra, "syncAutoButton syncWordClockButton syncHydraButton masterWarningTextBrowser"},
        {KipPort::Optocore, "syncAutoButton syncWordClockButton syncExternalButton"},
        {KipPort::Dante, "syncAutoButton syncWordClockButton syncExternalButton"},
    };
    for (const auto &panel : panels) {
        for (int slot : {0, 1}) {
            Bench bench(panel.first, slot);
            for (const QString &name : names(panel.second))
                QVERIFY2(bench.child(name) && bench.child(name)->isHidden() == (slot == 1), qPrintable(name));
        }
    }
}

void CardPanelsTest::showsAndSends_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<Steps>("steps");    // the card's reports and the user's actions, in turn
    QTest::addColumn<QString>("probes"); // what is looked at, see Bench::probe
    QTest::addColumn<QString>("shown");  // one per probe, "; " between
    const int madi = KipPort::MadiBnc, aes = KipPort::Aes, hydra = KipPort::Hydra;
    const int optocore = KipPort::Optocore, dante = KipPort::Dante;
    auto row = [](const char *name, int cardType, const Steps &steps, const char *probes, const QString &shown) {
        QTest::newRow(name) << cardType << steps << probes << shown;
    };
    // What the user does sends exactly these commands.
    auto act = [&row](const char *name, int cardType, Steps steps, const char *action, const QStringList &commands) {
        row(name, cardType, steps << click(action), "sent", commands.join(" | "));
    };
    const QByteArray withMadi = otherCard(KipPort::MadiBnc);
    // At the start the MADI panel asks for the device types; the network cards read the
    // module's network ID, and without a MADI card in the other slot offer no port B.
    row("MADI at start", madi, {}, "sent madiASlotsTable madiBPsuTable aSmuxCheckBox", "hex: 4 24 0 0 28; hidden ; hidden ; hidden SMUX");
    row("Optocore at start", optocore, {}, "sent idComboBox syncExternalButton insertingBComboBox madiMode1Button",
        command("048000ff") + "; hidden 11; Optocore; hidden 0; hidden 1 x 64");
    row("Dante at start", dante, {}, "sent syncExternalButton idLabel fibreSpeed1Button insertingComboBox",
        command("048000ff") + "; Dante; hidden Optocore ID; hidden 1Gb; hidden 0");
    const QByteArray automatic = msg(SyncSource, 1, "ff"), wordClock = msg(SyncSource, 0, "fe");
    const QByteArray freeRun = msg(SyncSource, 0, "fd"), aesOn6 = msg(SyncSource, 0, "05");
    row("MADI word clock", madi, {automatic, wordClock}, "sync", "W");
    row("MADI free run: no button", madi, {wordClock, freeRun}, "sync", "");
    row("MADI automatic", madi, {wordClock, msg(SyncSource, 1, "00")}, "sync", "A");
    row("MADI port B", madi, {wordClock, msg(SyncSource, 0, "01")}, "sync", "b");
    row("AES input 3, automatic", aes, {aesOn6, msg(SyncSource, 1, "03")}, "sync", "");
    row("AES input 0", aes, {aesOn6, msg(SyncSource, 0, "00")}, "sync", "1");
    row("AES input 7", aes, {aesOn6, msg(SyncSource, 0, "07")}, "sync", "8");
    row("AES input 8: none of ours", aes, {aesOn6, msg(SyncSource, 0, "08")}, "sync", "");
    row("Hydra automatic, word clock held", hydra, {wordClock, msg(SyncSource, 1, "fe")}, "sync", "A");
    row("Hydra word clock", hydra, {automatic, wordClock}, "sync", "W");
    row("Hydra the network", hydra, {automatic, msg(SyncSource, 0, "00")}, "sync", "H");
    row("Hydra own clock", hydra, {automatic, msg(SyncSource, 0, "ff")}, "sync", "");
    row("Optocore automatic", optocore, {wordClock, msg(SyncSource, 1, "00")}, "sync", "A");
    row("Optocore word clock", optocore, {automatic, wordClock}, "sync", "W");
    row("Optocore the ring", optocore, {automatic, msg(SyncSource, 0, "00")}, "sync", "E");
    // Measured rates; AES rows are inputs 1 to 8.
    const QByteArray aes3 = rate(3, 48000);
    row("AES first and last input, no separators, input 8 none", aes, {rate(3, 1234567), rate(0, 96000), rate(7, 192000), rate(8, 44100)},
        "rates", "96000///1234567////192000");
    row("AES rate 0 empties", aes, {aes3, rate(3, 0)}, "rates", "///////");
    row("Hydra any input", hydra, {rate(3, 48000)}, "rates", "48000");
    row("Optocore 96 kHz: doubled", optocore, {kipStatus(optocore, 96000), rate(0, 48000)}, "rates", "96000");
    row("Optocore 50000 Hz: not doubled", optocore, {kipStatus(optocore, 50000), rate(0, 44100)}, "rates", "44100");
    row("Optocore 50001 Hz: doubled", optocore, {kipStatus(optocore, 50001), rate(0, 44100)}, "rates", "88200");
    row("Optocore rate 0 empties", optocore, {kipStatus(optocore, 96000), rate(0, 0)}, "rates", "");
    row("doubling beyond 32 bits", optocore, {kipStatus(optocore, 96000), rate(0, 4000000000u)}, "rates", "8000000000");
    row("Dante 96 kHz: never doubled", dante, {kipStatus(dante, 96000), rate(0, 48000)}, "rates", "48000");
    // Receive locks, for the panel and for the strip's lamps.
    const QByteArray locked = msg(ClockLocked, 0, "01"), unlocked = msg(ClockLocked, 0, "00");
    row("Hydra not locked", hydra, {}, "rxSyncLockLabel", "Not Locked");
    row("Hydra locked", hydra, {locked}, "rxSyncLockLabel lock0", "Locked; 1");
    row("Dante lock lost", dante, {locked, unlocked}, "rxSyncLockLabel lock0", "Not Locked; 0");
    // MADI ports: what each receives and sends, and what is at the far end.
    const Steps rackOnA{msg(CardStatus, madi, "3900"), rate(0, 48000), locked, msg(DeviceType, 0, "01"), msg(RackType, 0, "01")};
    row("MADI rack on port A", madi, rackOnA + Steps{msg(TransmitMode, 0, "0039"), msg(RackCodeDate, 0, "07032014")},
        "madiATextEdit madiBTextEdit lock0",
        "Rx Channels: 57 |Rx Sample Rate: 48000|Rx Sync: Locked|Tx Channels: 57  fixed|Connection: Rack|"
        "Rack type: Quorack|Rack code: 7/3/2014; Rx Channels: 0 |Rx Sample Rate: 0|Rx Sync: Not Locked|"
        "Tx Channels: 0  |Connection: none; 1");
    // The card status block: channels of A and B; B is locked and both carry 64 before.
    const Steps both64{msg(CardStatus, madi, "4040"), msg(ClockLocked, 1, "01")};
    const char *channels = "madiATextEdit:0 madiBTextEdit:0 lock1";
    row("MADI 57 and nothing", madi, both64 + Steps{msg(CardStatus, madi, "3900")}, channels, "Rx Channels: 57 ; Rx Channels: 0 ; -1");
    row("MADI 96k bit", madi, both64 + Steps{msg(CardStatus, KipPort::MadiCat5, "9c40")}, channels, "Rx Channels: 28 96k; Rx Channels: 64 ; 1");
    row("MADI one byte: B untouched", madi, both64 + Steps{msg(CardStatus, madi, "39")}, channels, "Rx Channels: 57 ; Rx Channels: 64 ; 1");
    row("MADI empty block", madi, both64 + Steps{msg(CardStatus, madi)}, channels, "Rx Channels: 64 ; Rx Channels: 64 ; 1");
    row("another card's block", madi, both64 + Steps{msg(CardStatus, aes, "0000")}, channels, "Rx Channels: 64 ; Rx Channels: 64 ; 1");
    // In single port mode port B shows one line and an unknown lock, whatever it receives.
    const Steps single = both64 + Steps{msg(MadiMode, 0, "00"), msg(CardStatus, madi, "4038"), msg(ClockLocked, 1, "01")};
    row("MADI single port mode", madi, single, "madiBTextEdit lock1", "Disabled (single port mode); -1");
    row("MADI both ports again", madi, single + Steps{msg(MadiMode, 0, "01")}, "madiBTextEdit:0 lock1", "Rx Channels: 56 ; 1");
    // A double-rate stream on B: its rate doubled and its SMUX box, below 50 kHz only.
    const QByteArray smuxB = msg(MadiSmux, 1, "01");
    const char *smux = "madiBTextEdit:1 bSmuxCheckBox aSmuxCheckBox";
    row("SMUX at 49999", madi, {smuxB, rate(1, 49999)}, smux, "Rx Sample Rate: 99998 smux; SMUX*; hidden SMUX");
    row("SMUX at 50000", madi, {smuxB, rate(1, 50000)}, smux, "Rx Sample Rate: 50000; hidden SMUX*; hidden SMUX");
    row("SMUX without rate", madi, {smuxB, rate(1, 0)}, smux, "Rx Sample Rate: 0; hidden SMUX*; hidden SMUX");
    // The far end: a rack keeps its slot and supply tables, anything else clears them.
    const Steps qRack = rackOnA.mid(0, 4) + Steps{msg(RackType, 0, "03"), msg(RackVoltage, 0, "000532")};
    const char *farEnd = "madiATextEdit:4 madiASlotsTable psu";
    row("rack keeps the rack", madi, qRack + Steps{msg(DeviceType, 0, "01")}, farEnd, "Connection: Rack; ; 5.0///////");
    row("console clears it", madi, qRack + Steps{msg(DeviceType, 0, "02")}, farEnd, "Connection: Console; hidden ; ///////");
    row("unlisted while A sends 57", madi, qRack + Steps{msg(TransmitMode, 0, "0039"), msg(DeviceType, 0, "09")}, farEnd,
        "Connection: Quorix; hidden ; ///////");
    row("unlisted otherwise", madi, qRack + Steps{msg(TransmitMode, 0, "0040"), msg(DeviceType, 0, "09")}, farEnd, "Connection: ; hidden ; ///////");
    row("losing the 57 channels clears the rack", madi, qRack + Steps{msg(CardStatus, madi, "4000")},
        "madiASlotsTable madiAPsuTable madiATextEdit:5", "hidden ; hidden ; ");
    // Supply voltages: cells +5, +7, +15, -15 of supply A then B, all 1.0 before.
    Steps filled = qRack;
    for (const char *cell : {"00050a", "00070a", "000f0a", "00f10a", "01050a", "01070a", "010f0a", "01f10a"})
        filled << msg(RackVoltage, 0, cell);
    row("+15v and -15v of supply B to one decimal", madi, filled + Steps{msg(RackVoltage, 0, "000f96"), msg(RackVoltage, 0, "01f196")},
        "psu", "1.0/1.0/15.0/1.0/1.0/1.0/1.0/15.0");
    row("zero blanks the cell", madi, filled + Steps{msg(RackVoltage, 0, "000500")}, "psu", "/1.0/1.0/1.0/1.0/1.0/1.0/1.0");
    row("unknown nominal and third supply ignored", madi, filled + Steps{msg(RackVoltage, 0, "000c78"), msg(RackVoltage, 0, "020532")},
        "psu", "1.0/1.0/1.0/1.0/1.0/1.0/1.0/1.0");
    // Rack slots of port A: the numbers by rack type, then the cards reported in them.
    // Slot index 7 is shown beside number 8; slots beyond 14 and unknown cards show nothing.
    const Steps rackFound{msg(CardStatus, madi, "3900"), msg(DeviceType, 0, "01")};
    row("Quorack slots", madi, rackFound + Steps{msg(RackType, 0, "01")}, "slots madiAPsuTable", "1 2 3 4 5 6 7 8 9 10 11 12 13 14; hidden ");
    row("Q-rack slots", madi, rackFound + Steps{msg(RackType, 0, "03")}, "slots madiAPsuTable", "1 2 3 4    8 9     ; ");
    row("Q2-rack slots", madi, rackFound + Steps{msg(RackType, 0, "06")}, "slots madiAPsuTable", "1 2 3 4 5 6  8 9 10 11   ; ");
    row("cards in the rack slots", madi,
        rackFound + Steps{msg(RackType, 0, "01"), msg(RackSlot, 0, "0702"), msg(RackSlot, 0, "0e01"), msg(RackSlot, 0, "020d")},
        "madiASlotsTable:0:3 madiASlotsTable:2:1", "ADC; ");
    // AES converters; input 4 is off before each row.
    const QByteArray off4 = msg(InputSrc, 4, "00");
    row("converters 0 and 7 off", aes, {off4, msg(InputSrc, 0, "00"), msg(InputSrc, 7, "00")}, "src1Button src5Button src8Button", "OFF; OFF; OFF");
    row("converter 4 on again", aes, {off4, msg(InputSrc, 4, "01")}, "src5Button", "ON*");
    row("converter 8: none of ours", aes, {off4, msg(InputSrc, 8, "00")}, "src8Button src5Button", "ON*; OFF");
    // The Hydra ID from the card status block; ID 3 before each row.
    const QByteArray id3 = msg(CardStatus, hydra, "03");
    row("Hydra ID 255", hydra, {id3, msg(CardStatus, hydra, "ff")}, "idComboBox", "255");
    row("Hydra ID 0: no selection", hydra, {id3, msg(CardStatus, hydra, "00")}, "idComboBox", "");
    row("Hydra longer block", hydra, {id3, msg(CardStatus, hydra, "2a0102")}, "idComboBox", "42");
    row("Hydra empty block names no ID", hydra, {id3, msg(CardStatus, hydra)}, "idComboBox", "3");
    row("Hydra gets another card's block", hydra, {id3, msg(CardStatus, optocore, "0700")}, "idComboBox", "3");
    // The Optocore module's replies: each asks for the next (network ID, settings
    // block, register 0xF0). Too short to hold their value: dropped, the chain waits
    // for the next card status.
    const QString readSettings = command("04e000ff"), readF0 = command("04f000ff"), readId = command("048000ff");
    const char *idProbes = "idComboBox sent";
    row("ID 10 is \"11\"", optocore, {module("058000ff0a")}, idProbes, "11; " + readSettings);
    row("ID 23 is \"24\"", optocore, {module("058000ff17")}, idProbes, "24; " + readSettings);
    row("ID 9: no selection", optocore, {module("058000ff09")}, idProbes, "; " + readSettings);
    row("ID 24: no selection", optocore, {module("058000ff18")}, idProbes, "; " + readSettings);
    row("ID reply of 4 bytes", optocore, {msg(OptocoreCommand, 0, "048000ff")}, idProbes, "hidden 11; ");
    row("unknown code", optocore, {module("059000ff0a")}, idProbes, "hidden 11; ");
    const char *block1Gb = "18e000ff00" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617";
    const char *block2Gb = "18e000ff01" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617";
    // Fibre speed 0 is 1 Gb, 1 is 2 Gb; each row after a block that says the other.
    const char *speed = "fibreSpeed1Button fibreSpeed2Button stored sent";
    const QByteArray at1Gb = module(block1Gb), at2Gb = module(block2Gb);
    row("settings 1 Gb", optocore, {at2Gb, at1Gb}, speed, QString("1Gb*; 2Gb; %1; %2").arg(block1Gb, readF0));
    row("settings 2 Gb", optocore, {at1Gb, at2Gb}, speed, QString("1Gb; 2Gb*; %1; %2").arg(block2Gb, readF0));
    row("settings speed 2: neither", optocore, {at1Gb, module("18e000ff02" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617")},
        "fibreSpeed1Button fibreSpeed2Button", "1Gb; 2Gb");
    row("settings longer than the reply", optocore, {at1Gb, msg(OptocoreCommand, 0, "1ee000ff01aa")}, speed, "1Gb; 2Gb*; 1ee000ff01aa; " + readF0);
    row("settings negative length: empty", optocore, {at1Gb, msg(OptocoreCommand, 0, "80e000ff01")}, speed, "1Gb; 2Gb; ; " + readF0);
    row("settings of 4 bytes: no speed", optocore, {at2Gb, msg(OptocoreCommand, 0, "04e000ff01")}, speed, "1Gb; 2Gb; 04e000ff; " + readF0);
    // The controller keeps 0x32 in register 0xF0.
    row("F0 0x32 kept", optocore, {module("05f000ff32")}, "sent", "");
    row("F0 0x33 rewritten", optocore, {module("05f000ff33")}, "sent", command("0570ffff32"));
    row("F0 of 4 bytes: nothing", optocore, {msg(OptocoreCommand, 0, "04f000ff")}, "sent", "");
    row("Optocore card status restarts the chain", optocore, {msg(CardStatus, optocore, "0a00")}, "sent", readId);
    row("Dante card status reads nothing", dante, {msg(CardStatus, dante, "01")}, "sent", "");
    act("MADI A Auto", madi, {}, "aTxModeAutoButton", {sent(TransmitMode, 0, "0100"), sent(ControlViaAudio, 0, "00")});
    act("MADI A Quorix", madi, {}, "aTxMode57Button", {sent(TransmitMode, 0, "0039"), sent(ControlViaAudio, 0, "01")});
    act("MADI A Fixed", madi, {}, "aTxMode64Button", {sent(TransmitMode, 0, "0040"), sent(ControlViaAudio, 0, "00")});
    act("MADI B Quorix", madi, {}, "bTxMode57Button", {sent(TransmitMode, 1, "0039"), sent(ControlViaAudio, 1, "01")});
    act("MADI B SMUX", madi, {}, "bSmuxCheckBox", {sent(MadiSmux, 1, "01")});
    const Steps madiOnA{msg(SyncSource, 0, "00")};
    act("MADI sync Auto", madi, madiOnA, "syncAutoButton", {sent(SyncSource, 1, "ff")});
    act("MADI sync Word Clock", madi, madiOnA, "syncWordClockButton", {sent(SyncSource, 0, "fe")});
    act("MADI sync MADI B", madi, madiOnA, "syncMadiBButton", {sent(SyncSource, 0, "01")});
    const Steps aesOn2{msg(SyncSource, 0, "01")};
    act("AES tick box 6", aes, aesOn2, "sync6CheckBox", {sent(SyncSource, 0, "05")});
    act("AES tick box 1", aes, aesOn2, "sync1CheckBox", {sent(SyncSource, 0, "00")});
    act("AES untick box 2: automatic", aes, aesOn2, "sync2CheckBox", {sent(SyncSource, 1, "ff")});
    act("AES converter 3 off", aes, {}, "src3Button", {sent(InputSrc, 2, "00")});
    act("AES converter 3 on again", aes, {msg(InputSrc, 2, "00")}, "src3Button", {sent(InputSrc, 2, "01")});
    const Steps hydraOnWordClock{msg(SyncSource, 0, "fe")};
    act("Hydra sync Auto", hydra, hydraOnWordClock, "syncAutoButton", {sent(SyncSource, 1, "ff")});
    act("Hydra sync Hydra", hydra, hydraOnWordClock, "syncHydraButton", {sent(SyncSource, 0, "00")});
    act("Hydra sync Word Clock", hydra, hydraOnWordClock, "syncWordClockButton", {sent(SyncSource, 0, "fe")});
    const Steps hydraId5{msg(CardStatus, KipPort::Hydra, "05")};
    act("Hydra ID 1", hydra, hydraId5, "idComboBox=0", {sent(HydraId, 0, "01")});
    act("Hydra ID 255", hydra, hydraId5, "idComboBox=254", {sent(HydraId, 0, "ff")});
    act("Optocore sync external", optocore, {msg(SyncSource, 1, "00")}, "syncExternalButton", {sent(SyncSource, 0, "00")});
    act("Optocore sync Auto", optocore, {msg(SyncSource, 0, "fe")}, "syncAutoButton", {sent(SyncSource, 1, "ff")});
    act("Optocore sync Word Clock", optocore, {msg(SyncSource, 0, "00")}, "syncWordClockButton", {sent(SyncSource, 0, "fe")});
    // Network ID 14 is item 4: the identity write, then the ID read.
    act("Optocore network ID", optocore, {module("058000ff0a")}, "idComboBox=4", {command("080000ff0ef155aa"), command("048000ff")});
    // The fibre speed writes the module's settings block back, then reads it again; a
    // short block is padded with zeros and its length byte counts the padding.
    act("fibre 2Gb on a 1 Gb block", optocore, {at1Gb}, "fibreSpeed2Button",
        {command("186000ff01" "05060708090a0b" "7e" "0d0e0f101112" "01" "14151617"), readSettings});
    act("fibre on an 8-byte block", optocore, {msg(OptocoreCommand, 0, "08e000ff01aabbccdd")}, "fibreSpeed1Button",
        {command("146000ff00aabbcc000000003f00000000000000"), readSettings});
    act("fibre on a 13-byte block", optocore, {module("0de000ff00010203040506073f")}, "fibreSpeed2Button",
        {command("146000ff0101020304050607" "7e" "00000000000001"), readSettings});
    act("fibre without a block: read only", optocore, {}, "fibreSpeed2Button", {readSettings});
    act("fibre on a 4-byte block: read only", optocore, {msg(OptocoreCommand, 0, "04e000ffe3")}, "fibreSpeed1Button", {readSettings});
    // Channel counts with a MADI card in the other slot, from A 8/16 and B 24/32.
    const Steps counted{withMadi, msg(ChannelCount, 0, "0810"), msg(ChannelCount, 1, "1820")};
    act("inserting A 40", optocore, counted, "insertingComboBox=5", {counts(0, 40, 16)});
    act("extracting B 8", optocore, counted, "extractingBComboBox=1", {counts(1, 24, 8)});
    act("extracting A 64", optocore, counted, "extractingComboBox=8", {counts(0, 8, 64)});
    // Counts the card reports, with a MADI card in the other slot: A in/out, B in/out.
    // Counts beyond the list are clamped and sent back; a B report sets the MADI mode,
    // whose buttons show at double rate only.
    const char *countProbes = "counts madiMode1Button madiMode2Button sent";
    const QByteArray at96k = kipStatus(optocore, 96000);
    row("B 24/0: 2 x 32", optocore, {withMadi, msg(ChannelCount, 1, "1800")}, countProbes, "0/0/24/0; hidden 1 x 64; hidden 2 x 32*; ");
    row("B 0/0: 1 x 64", optocore, {withMadi, msg(ChannelCount, 1, "0000")}, countProbes, "0/0/0/0; hidden 1 x 64*; hidden 2 x 32; ");
    row("A 200/255 clamped to 64", optocore, {withMadi, msg(ChannelCount, 0, "c8ff")}, countProbes,
        "64/64/0/0; hidden 1 x 64; hidden 2 x 32; " + counts(0, 64, 64));
    row("A 20/13 shown as 16/8", optocore, {withMadi, msg(ChannelCount, 0, "140d")}, countProbes, "16/8/0/0; hidden 1 x 64; hidden 2 x 32; ");
    row("port 5 counts as B", optocore, {withMadi, msg(ChannelCount, 5, "0808")}, countProbes, "0/0/8/8; hidden 1 x 64; hidden 2 x 32*; ");
    // At 96 kHz before a mode is chosen B is hidden: a B report with channels chooses
    // 2 x 32 and brings the B lists back, halved.
    row("96 kHz, B 16/8", optocore, {at96k, withMadi, msg(ChannelCount, 1, "1008")}, countProbes, "0/0/16/8; 1 x 64; 2 x 32*; ");
    row("96 kHz, B 64/0 clamped to 32", optocore, {at96k, withMadi, msg(ChannelCount, 1, "4000")}, countProbes,
        "0/0/32/0; 1 x 64; 2 x 32*; " + counts(1, 32, 0));
    // The panel shows what the card reports, not what was clicked.
    const char *txModesA = "aTxModeAutoButton aTxMode57Button aTxMode64Button";
    const Steps fixedClicked{click("aTxMode64Button"), msg(TransmitMode, 0, "0100")};
    row("a mode click the card does not take", madi, fixedClicked, txModesA, "Auto*; Quorix; Fixed");
    row("Quorix reported", madi, fixedClicked + Steps{msg(TransmitMode, 0, "0039")},
        "aTxModeAutoButton aTxMode57Button aControlViaAudioCheckBox", "Auto; Quorix*; hidden ");
    row("a format without a button", madi, fixedClicked + Steps{msg(TransmitMode, 0, "0063")}, txModesA, "Auto; Quorix; Fixed");
    row("a click on port A keeps port B and the sync source", madi,
        {msg(TransmitMode, 1, "0040"), msg(SyncSource, 1, "ff"), click("aTxMode57Button"), msg(TransmitMode, 0, "0039")},
        "bTxMode64Button sync", "Fixed*; A");
    row("MADI sync click undone by the report", madi, {msg(SyncSource, 0, "00"), click("syncWordClockButton"), msg(SyncSource, 0, "00")}, "sync", "a");
    row("AES sync click undone by the report", aes, {msg(SyncSource, 0, "01"), click("sync6CheckBox"), msg(SyncSource, 0, "01")}, "sync", "2");
    row("AES converter text waits for the card", aes, {click("src3Button")}, "src3Button", "ON");
    // The channel count lists offered for the card in the other slot: in/out of A and
    // B; B and the MADI mode only with a MADI card, the mode at double rate only. The
    // panel asks for the card status when it hears of the other card.
    const QString ask = sent(CardStatus, 0);
    const char *lists = "lists channelCountsBLabel madiMode1Button sent";
    row("lists for MADI, 50000 Hz", optocore, {kipStatus(optocore, 50000), withMadi}, lists, "64/64/64/64; B; hidden 1 x 64; " + ask);
    row("lists for MADI, 96 kHz, no mode yet", optocore, {at96k, withMadi}, lists, "64/64/hidden 64/hidden 64; hidden B; 1 x 64; " + ask);
    row("lists for MADI, 96 kHz, 1 x 64", optocore, {at96k, withMadi, click("madiMode1Button")}, lists, "64/64/hidden 64/hidden 64; hidden B; 1 x 64*; ");
    row("lists for MADI, 96 kHz, 2 x 32", optocore, {at96k, withMadi, click("madiMode2Button")}, lists, "32/32/32/32; B; 1 x 64; ");
    row("lists for CAT5 MADI, 50001 Hz, 2 x 32", optocore,
        {kipStatus(optocore, 50001), otherCard(KipPort::MadiCat5), click("madiMode2Button")}, lists, "32/32/32/32; B; 1 x 64; ");
    row("lists for AES, 96 kHz", optocore, {at96k, otherCard(aes)}, lists, "16/16/hidden 16/hidden 16; hidden B; hidden 1 x 64; " + ask);
    row("lists for ADC", optocore, {otherCard(KipPort::Adc)}, lists, "16/0/hidden 16/hidden 0; hidden B; hidden 1 x 64; " + ask);
    row("lists for Hydra", optocore, {otherCard(hydra)}, lists, "128/128/hidden 128/hidden 128; hidden B; hidden 1 x 64; " + ask);
    row("lists for no card", optocore, {otherCard(KipPort::NoCard)}, lists, "64/64/hidden 64/hidden 64; hidden B; hidden 1 x 64; " + ask);
    row("lists for an unlisted code", optocore, {otherCard(99)}, lists, "0/0/hidden 0/hidden 0; hidden B; hidden 1 x 64; " + ask);
    // Chosen counts the new lists cannot hold are cut and sent.
    const auto reported = [&withMadi](const char *a, const char *b) {
        return Steps{withMadi, msg(ChannelCount, 0, a), msg(ChannelCount, 1, b)};
    };
    row("AES: 64 falls back to 16", optocore, reported("4040", "0000") << otherCard(aes), "counts sent", "16/16/0/0; " + counts(0, 16, 16) + " | " + ask);
    row("AES: port B emptied", optocore, reported("0808", "1010") << otherCard(aes), "counts sent", "8/8/0/0; " + counts(1, 0, 0) + " | " + ask);
    row("96 kHz, 2 x 32: both halved", optocore, reported("4028", "3008") << at96k, "counts sent",
        "32/32/32/8; " + counts(0, 32, 32) + " | " + counts(1, 32, 8));
    row("96 kHz, then 1 x 64: B sent as 0/0", optocore, reported("0808", "1008") << at96k << click("madiMode1Button"), "counts sent",
        "8/8/0/0; " + counts(1, 0, 0));
    row("96 kHz, 1 x 64 with B empty: nothing sent", optocore, reported("0808", "0000") << at96k << click("madiMode1Button"), "counts sent", "8/8/0/0; ");
    row("ADC: outputs fall to 0", optocore, reported("1018", "0000") << otherCard(KipPort::Adc), "counts sent", "16/0/0/0; " + counts(0, 16, 0) + " | " + ask);
    row("Hydra: nothing cut", optocore, reported("4040", "0000") << otherCard(hydra), "counts sent", "64/64/0/0; " + ask);
}

void CardPanelsTest::showsAndSends()
{
    QFETCH(int, cardType);
    QFETCH(Steps, steps);
    QFETCH(QString, probes);
    QFETCH(QString, shown);
    Bench bench(cardType);
    for (const QByteArray &step : steps) {
        bench.sent.clear();
        bench.step(step);
    }
    QStringList seen;
    for (const QString &probe : names(qPrintable(probes)))
        seen << bench.probe(probe);
    QCOMPARE(seen.join("; "), shown);
}

QTEST_MAIN(CardPanelsTest)
#include "tst_cardpanels.moc"
