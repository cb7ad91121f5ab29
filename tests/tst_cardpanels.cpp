#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "link/messagetype.h"
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
using Type = Common::MessageType;
enum StepType : quint8 {
    Click = 0xF0, OtherCard = 0xF1, KipStatus = quint8(Type::KipStatus), SyncSource = quint8(Type::SyncSource),
    TransmitMode = quint8(Type::TransmitMode), DeviceType = quint8(Type::DeviceType), InputRate = quint8(Type::InputSampleRate),
    CardStatus = quint8(Type::CardStatus), RackType = quint8(Type::RackType), RackSlot = quint8(Type::RackSlotType),
    RackCodeDate = quint8(Type::RackCodeDate), RackVoltage = quint8(Type::RackVoltage),
    ControlViaAudio = quint8(Type::ControlViaAudio), InputSrc = quint8(Type::InputSrc),
    OptocoreCommand = quint8(Type::OptocoreCommand), ClockLocked = quint8(Type::RxClockLocked),
    MadiMode = quint8(Type::MadiMode), MadiSmux = quint8(Type::MadiSmux), HydraId = quint8(Type::HydraId),
    ChannelCount = quint8(Type::OptocoreChannelCount)
};

QByteArray withSum(QByteArray bytes)
{
    return bytes.append(char(Common::byteSum(bytes)));
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
QString sent(int type, int param, const char *hexData = "") { return sentText(Type(type), param, QByteArray::fromHex(hexData)); }
QString command(const char *hex) { return sentText(Type::OptocoreCommand, 0, withSum(QByteArray::fromHex(hex))); }
QString counts(int port, int inserted, int extracted) { return sentText(Type::OptocoreChannelCount, port, QByteArray(1, char(inserted)) + char(extracted)); }
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
            UiTest::deliver(&port, Type(quint8(step.at(0))), step.at(1), step.mid(2));
            if (quint8(step.at(0)) == KipStatus && optocore())
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
    // "sync": the sync choices checked (A, W, a/b for MADI A/B, H, E, AES inputs 1-8);
    // "sent": the commands answering the last step; "lockN": port N's last lock; "rates",
    // "psu", "stored", "counts"/"lists" (Optocore counts chosen/offered); or a widget:
    // "name", "name:line", "table:row:column".
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
        if (what == "psu") {
            for (int i = 0; i < 8; ++i)
                texts << cell("madiAPsuTable", 1 + i / 4, 1 + i % 4);
            return texts.join("/");
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
    auto act = [&row](const char *name, int cardType, Steps steps, const char *action, const QStringList &commands) {
        row(name, cardType, steps << click(action), "sent", commands.join(" | "));
    };
    const QByteArray withMadi = otherCard(KipPort::MadiBnc);
    row("MADI at start", madi, {}, "sent madiASlotsTable madiBPsuTable aSmuxCheckBox", "hex: 4 24 0 0 28; hidden ; hidden ; hidden SMUX");
    const QByteArray automatic = msg(SyncSource, 1, "ff"), wordClock = msg(SyncSource, 0, "fe");
    const QByteArray aesOn6 = msg(SyncSource, 0, "05");
    row("MADI word clock", madi, {automatic, wordClock}, "sync", "W");
    row("MADI port B", madi, {wordClock, msg(SyncSource, 0, "01")}, "sync", "b");
    row("AES input 0", aes, {aesOn6, msg(SyncSource, 0, "00")}, "sync", "1");
    row("AES input 8: none of ours", aes, {aesOn6, msg(SyncSource, 0, "08")}, "sync", "");
    row("Hydra the network", hydra, {automatic, msg(SyncSource, 0, "00")}, "sync", "H");
    row("Optocore the ring", optocore, {automatic, msg(SyncSource, 0, "00")}, "sync", "E");
    row("AES first and last input, no separators, input 8 none", aes, {rate(3, 1234567), rate(0, 96000), rate(7, 192000), rate(8, 44100)},
        "rates", "96000///1234567////192000");
    row("Optocore 50000 Hz: not doubled", optocore, {kipStatus(optocore, 50000), rate(0, 44100)}, "rates", "44100");
    row("Optocore 50001 Hz: doubled", optocore, {kipStatus(optocore, 50001), rate(0, 44100)}, "rates", "88200");
    row("doubling beyond 32 bits", optocore, {kipStatus(optocore, 96000), rate(0, 4000000000u)}, "rates", "8000000000");
    row("Dante 96 kHz: never doubled", dante, {kipStatus(dante, 96000), rate(0, 48000)}, "rates", "48000");
    const QByteArray locked = msg(ClockLocked, 0, "01"), unlocked = msg(ClockLocked, 0, "00");
    row("Dante lock lost", dante, {locked, unlocked}, "rxSyncLockLabel lock0", "Not Locked; 0");
    const Steps rackOnA{msg(CardStatus, madi, "3900"), rate(0, 48000), locked, msg(DeviceType, 0, "01"), msg(RackType, 0, "01")};
    row("MADI rack on port A", madi, rackOnA + Steps{msg(TransmitMode, 0, "0039"), msg(RackCodeDate, 0, "07032014")},
        "madiATextEdit madiBTextEdit lock0",
        "Rx Channels: 57 |Rx Sample Rate: 48000|Rx Sync: Locked|Tx Channels: 57  fixed|Connection: Rack|"
        "Rack type: Quorack|Rack code: 7/3/2014; Rx Channels: 0 |Rx Sample Rate: 0|Rx Sync: Not Locked|"
        "Tx Channels: 0  |Connection: none; 1");
    const Steps both64{msg(CardStatus, madi, "4040"), msg(ClockLocked, 1, "01")};
    const char *channels = "madiATextEdit:0 madiBTextEdit:0 lock1";
    row("MADI 57 and nothing", madi, both64 + Steps{msg(CardStatus, madi, "3900")}, channels, "Rx Channels: 57 ; Rx Channels: 0 ; -1");
    row("MADI 96k bit", madi, both64 + Steps{msg(CardStatus, KipPort::MadiCat5, "9c40")}, channels, "Rx Channels: 28 96k; Rx Channels: 64 ; 1");
    row("MADI one byte: B untouched", madi, both64 + Steps{msg(CardStatus, madi, "39")}, channels, "Rx Channels: 57 ; Rx Channels: 64 ; 1");
    row("another card's block", madi, both64 + Steps{msg(CardStatus, aes, "0000")}, channels, "Rx Channels: 64 ; Rx Channels: 64 ; 1");
    const Steps single = both64 + Steps{msg(MadiMode, 0, "00"), msg(CardStatus, madi, "4038"), msg(ClockLocked, 1, "01")};
    row("MADI single port mode", madi, single, "madiBTextEdit lock1", "Disabled (single port mode); -1");
    const QByteArray smuxB = msg(MadiSmux, 1, "01");
    const char *smux = "madiBTextEdit:1 bSmuxCheckBox aSmuxCheckBox";
    row("SMUX at 49999", madi, {smuxB, rate(1, 49999)}, smux, "Rx Sample Rate: 99998 smux; SMUX*; hidden SMUX");
    row("SMUX at 50000", madi, {smuxB, rate(1, 50000)}, smux, "Rx Sample Rate: 50000; hidden SMUX*; hidden SMUX");
    const Steps qRack = rackOnA.mid(0, 4) + Steps{msg(RackType, 0, "03"), msg(RackVoltage, 0, "000532")};
    const char *farEnd = "madiATextEdit:4 madiASlotsTable psu";
    row("rack keeps the rack", madi, qRack + Steps{msg(DeviceType, 0, "01")}, farEnd, "Connection: Rack; ; 5.0///////");
    row("console clears it", madi, qRack + Steps{msg(DeviceType, 0, "02")}, farEnd, "Connection: Console; hidden ; ///////");
    row("unlisted while A sends 57", madi, qRack + Steps{msg(TransmitMode, 0, "0039"), msg(DeviceType, 0, "09")}, farEnd,
        "Connection: Quorix; hidden ; ///////");
    row("losing the 57 channels clears the rack", madi, qRack + Steps{msg(CardStatus, madi, "4000")},
        "madiASlotsTable madiAPsuTable madiATextEdit:5", "hidden ; hidden ; ");
    Steps filled = qRack;
    for (const char *cell : {"00050a", "00070a", "000f0a", "00f10a", "01050a", "01070a", "010f0a", "01f10a"})
        filled << msg(RackVoltage, 0, cell);
    row("+15v and -15v of supply B to one decimal", madi, filled + Steps{msg(RackVoltage, 0, "000f96"), msg(RackVoltage, 0, "01f196")},
        "psu", "1.0/1.0/15.0/1.0/1.0/1.0/1.0/15.0");
    row("unknown nominal and third supply ignored", madi, filled + Steps{msg(RackVoltage, 0, "000c78"), msg(RackVoltage, 0, "020532")},
        "psu", "1.0/1.0/1.0/1.0/1.0/1.0/1.0/1.0");
    const Steps rackFound{msg(CardStatus, madi, "3900"), msg(DeviceType, 0, "01")};
    row("cards in the rack slots", madi,
        rackFound + Steps{msg(RackType, 0, "01"), msg(RackSlot, 0, "0702"), msg(RackSlot, 0, "0e01"), msg(RackSlot, 0, "020d")},
        "madiASlotsTable:0:3 madiASlotsTable:2:1", "ADC; ");
    const QByteArray off4 = msg(InputSrc, 4, "00");
    row("converters 0 and 7 off", aes, {off4, msg(InputSrc, 0, "00"), msg(InputSrc, 7, "00")}, "src1Button src5Button src8Button", "OFF; OFF; OFF");
    row("converter 8: none of ours", aes, {off4, msg(InputSrc, 8, "00")}, "src8Button src5Button", "ON*; OFF");
    const QByteArray id3 = msg(CardStatus, hydra, "03");
    row("Hydra empty block names no ID", hydra, {id3, msg(CardStatus, hydra)}, "idComboBox", "3");
    const QString readSettings = command("04e000ff"), readF0 = command("04f000ff"), readId = command("048000ff");
    const char *idProbes = "idComboBox sent";
    row("ID 10 is \"11\"", optocore, {module("058000ff0a")}, idProbes, "11; " + readSettings);
    row("ID 9: no selection", optocore, {module("058000ff09")}, idProbes, "; " + readSettings);
    row("ID reply of 4 bytes", optocore, {msg(OptocoreCommand, 0, "048000ff")}, idProbes, "hidden 11; ");
    row("unknown code", optocore, {module("059000ff0a")}, idProbes, "hidden 11; ");
    const char *block1Gb = "18e000ff00" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617";
    const char *block2Gb = "18e000ff01" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617";
    const char *speed = "fibreSpeed1Button fibreSpeed2Button stored sent";
    const QByteArray at1Gb = module(block1Gb), at2Gb = module(block2Gb);
    row("settings 2 Gb", optocore, {at1Gb, at2Gb}, speed, QString("1Gb; 2Gb*; %1; %2").arg(block2Gb, readF0));
    row("settings longer than the reply", optocore, {at1Gb, msg(OptocoreCommand, 0, "1ee000ff01aa")}, speed, "1Gb; 2Gb*; 1ee000ff01aa; " + readF0);
    row("settings of 4 bytes: no speed", optocore, {at2Gb, msg(OptocoreCommand, 0, "04e000ff01")}, speed, "1Gb; 2Gb; 04e000ff; " + readF0);
    row("F0 0x32 kept", optocore, {module("05f000ff32")}, "sent", "");
    row("F0 0x33 rewritten", optocore, {module("05f000ff33")}, "sent", command("0570ffff32"));
    row("F0 of 4 bytes: nothing", optocore, {msg(OptocoreCommand, 0, "04f000ff")}, "sent", "");
    row("Optocore card status restarts the chain", optocore, {msg(CardStatus, optocore, "0a00")}, "sent", readId);
    act("MADI A Auto", madi, {}, "aTxModeAutoButton", {sent(TransmitMode, 0, "0100"), sent(ControlViaAudio, 0, "00")});
    act("MADI B Quorix", madi, {}, "bTxMode57Button", {sent(TransmitMode, 1, "0039"), sent(ControlViaAudio, 1, "01")});
    act("MADI B SMUX", madi, {}, "bSmuxCheckBox", {sent(MadiSmux, 1, "01")});
    const Steps madiOnA{msg(SyncSource, 0, "00")};
    act("MADI sync Auto", madi, madiOnA, "syncAutoButton", {sent(SyncSource, 1, "ff")});
    act("MADI sync MADI B", madi, madiOnA, "syncMadiBButton", {sent(SyncSource, 0, "01")});
    const Steps aesOn2{msg(SyncSource, 0, "01")};
    act("AES tick box 6", aes, aesOn2, "sync6CheckBox", {sent(SyncSource, 0, "05")});
    act("AES untick box 2: automatic", aes, aesOn2, "sync2CheckBox", {sent(SyncSource, 1, "ff")});
    act("AES converter 3 off", aes, {}, "src3Button", {sent(InputSrc, 2, "00")});
    const Steps hydraOnWordClock{msg(SyncSource, 0, "fe")};
    act("Hydra sync Hydra", hydra, hydraOnWordClock, "syncHydraButton", {sent(SyncSource, 0, "00")});
    const Steps hydraId5{msg(CardStatus, KipPort::Hydra, "05")};
    act("Hydra ID 1", hydra, hydraId5, "idComboBox=0", {sent(HydraId, 0, "01")});
    act("Optocore sync external", optocore, {msg(SyncSource, 1, "00")}, "syncExternalButton", {sent(SyncSource, 0, "00")});
    act("Optocore network ID", optocore, {module("058000ff0a")}, "idComboBox=4", {command("080000ff0ef155aa"), command("048000ff")});
    act("fibre 2Gb on a 1 Gb block", optocore, {at1Gb}, "fibreSpeed2Button",
        {command("186000ff01" "05060708090a0b" "7e" "0d0e0f101112" "01" "14151617"), readSettings});
    act("fibre on an 8-byte block", optocore, {msg(OptocoreCommand, 0, "08e000ff01aabbccdd")}, "fibreSpeed1Button",
        {command("146000ff00aabbcc000000003f00000000000000"), readSettings});
    act("fibre without a block: read only", optocore, {}, "fibreSpeed2Button", {readSettings});
    const Steps counted{withMadi, msg(ChannelCount, 0, "0810"), msg(ChannelCount, 1, "1820")};
    act("inserting A 40", optocore, counted, "insertingComboBox=5", {counts(0, 40, 16)});
    act("extracting B 8", optocore, counted, "extractingBComboBox=1", {counts(1, 24, 8)});
    const char *countProbes = "counts madiMode1Button madiMode2Button sent";
    const QByteArray at96k = kipStatus(optocore, 96000);
    row("B 24/0: 2 x 32", optocore, {withMadi, msg(ChannelCount, 1, "1800")}, countProbes, "0/0/24/0; hidden 1 x 64; hidden 2 x 32*; ");
    row("A 200/255 clamped to 64", optocore, {withMadi, msg(ChannelCount, 0, "c8ff")}, countProbes,
        "64/64/0/0; hidden 1 x 64; hidden 2 x 32; " + counts(0, 64, 64));
    row("A 20/13 shown as 16/8", optocore, {withMadi, msg(ChannelCount, 0, "140d")}, countProbes, "16/8/0/0; hidden 1 x 64; hidden 2 x 32; ");
    row("port 5 counts as B", optocore, {withMadi, msg(ChannelCount, 5, "0808")}, countProbes, "0/0/8/8; hidden 1 x 64; hidden 2 x 32*; ");
    row("96 kHz, B 64/0 clamped to 32", optocore, {at96k, withMadi, msg(ChannelCount, 1, "4000")}, countProbes,
        "0/0/32/0; 1 x 64; 2 x 32*; " + counts(1, 32, 0));
    const char *txModesA = "aTxModeAutoButton aTxMode57Button aTxMode64Button";
    const Steps fixedClicked{click("aTxMode64Button"), msg(TransmitMode, 0, "0100")};
    row("a mode click the card does not take", madi, fixedClicked, txModesA, "Auto*; Quorix; Fixed");
    row("Quorix reported", madi, fixedClicked + Steps{msg(TransmitMode, 0, "0039")},
        "aTxModeAutoButton aTxMode57Button aControlViaAudioCheckBox", "Auto; Quorix*; hidden ");
    row("a click on port A keeps port B and the sync source", madi,
        {msg(TransmitMode, 1, "0040"), msg(SyncSource, 1, "ff"), click("aTxMode57Button"), msg(TransmitMode, 0, "0039")},
        "bTxMode64Button sync", "Fixed*; A");
    row("MADI sync click undone by the report", madi, {msg(SyncSource, 0, "00"), click("syncWordClockButton"), msg(SyncSource, 0, "00")}, "sync", "a");
    row("AES converter text waits for the card", aes, {click("src3Button")}, "src3Button", "ON");
    const QString ask = sent(CardStatus, 0);
    const char *lists = "lists channelCountsBLabel madiMode1Button sent";
    row("lists for MADI, 96 kHz, no mode yet", optocore, {at96k, withMadi}, lists, "64/64/hidden 64/hidden 64; hidden B; 1 x 64; " + ask);
    row("lists for MADI, 96 kHz, 2 x 32", optocore, {at96k, withMadi, click("madiMode2Button")}, lists, "32/32/32/32; B; 1 x 64; ");
    row("lists for AES, 96 kHz", optocore, {at96k, otherCard(aes)}, lists, "16/16/hidden 16/hidden 16; hidden B; hidden 1 x 64; " + ask);
    row("lists for ADC", optocore, {otherCard(KipPort::Adc)}, lists, "16/0/hidden 16/hidden 0; hidden B; hidden 1 x 64; " + ask);
    row("lists for an unlisted code", optocore, {otherCard(99)}, lists, "0/0/hidden 0/hidden 0; hidden B; hidden 1 x 64; " + ask);
    const auto reported = [&withMadi](const char *a, const char *b) {
        return Steps{withMadi, msg(ChannelCount, 0, a), msg(ChannelCount, 1, b)};
    };
    row("AES: 64 falls back to 16", optocore, reported("4040", "0000") << otherCard(aes), "counts sent", "16/16/0/0; " + counts(0, 16, 16) + " | " + ask);
    row("AES: port B emptied", optocore, reported("0808", "1010") << otherCard(aes), "counts sent", "8/8/0/0; " + counts(1, 0, 0) + " | " + ask);
    row("96 kHz, 2 x 32: both halved", optocore, reported("4028", "3008") << at96k, "counts sent",
        "32/32/32/8; " + counts(0, 32, 32) + " | " + counts(1, 32, 8));
    row("96 kHz, then 1 x 64: B sent as 0/0", optocore, reported("0808", "1008") << at96k << click("madiMode1Button"), "counts sent",
        "8/8/0/0; " + counts(1, 0, 0));
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
