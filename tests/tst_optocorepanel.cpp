#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/optocorepanel.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <memory>

using namespace EMS;

namespace {

constexpr int SyncSourceMessage = 33;
constexpr int CardStatusMessage = 38;
constexpr int OptocoreCommandMessage = 48;
constexpr int ChannelCountMessage = 58;

QByteArray withSum(QByteArray bytes)
{
    quint8 sum = 0;
    for (char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    bytes.append(char(sum));
    return bytes;
}

// What the port logs for an Optocore command of these bytes (it appends their sum).
QString command(const char *hex)
{
    return UiTest::sentText(OptocoreCommandMessage, 0, withSum(QByteArray::fromHex(hex)));
}

QByteArray twoBytes(int first, int second)
{
    QByteArray bytes;
    bytes.append(char(first));
    bytes.append(char(second));
    return bytes;
}

QString counts(int madiPort, int inserted, int extracted)
{
    return UiTest::sentText(ChannelCountMessage, madiPort, twoBytes(inserted, extracted));
}

// A panel for a card of the given type on a port that is never connected; the card's
// reports go in as frames through the port, commands come out as the port's log texts.
struct Bench
{
    explicit Bench(KipPort::KipCardType cardType = KipPort::Optocore, quint32 systemRate = 48000, int slot = 0,
                   KipPort::KipCardType other = KipPort::NoCard)
        : port(nullptr, slot)
        , sent(&port, &KipPort::logDataTransmitted)
    {
        UiTest::deliverKipStatus(&port, cardType, 12, 42, "V2.1", systemRate, slot == 0);
        panel.reset(new OptocorePanel(&port, nullptr, other));
        locks.reset(new QSignalSpy(panel.get(), &CardPanel::syncLockStateChanged));
    }

    template<typename T>
    T *child(const char *name)
    {
        T *found = panel->findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    QComboBox *combo(const char *name) { return child<QComboBox>(name); }
    QToolButton *button(const char *name) { return child<QToolButton>(name); }
    bool hidden(const char *name) { return child<QWidget>(name)->isHidden(); }

    QStringList sentTexts()
    {
        QStringList texts;
        for (const QList<QVariant> &call : qAsConst(sent))
            texts << call.at(0).toString();
        return texts;
    }
    QStringList sentCounts()
    {
        const QString prefix = Common::SerialMessage::typeName(ChannelCountMessage);
        QStringList texts;
        for (const QString &text : sentTexts())
            if (text.startsWith(prefix))
                texts << text;
        return texts;
    }
    // A reply of the Optocore module as the card relays it (sum byte appended).
    void reply(const char *hex) { reply(QByteArray::fromHex(hex)); }
    void reply(const QByteArray &bytes)
    {
        UiTest::deliver(&port, OptocoreCommandMessage, 0, withSum(bytes));
    }
    void rawReply(const QByteArray &bytes) { UiTest::deliver(&port, OptocoreCommandMessage, 0, bytes); }
    void reportCounts(int madiPort, int inserted, int extracted)
    {
        UiTest::deliver(&port, ChannelCountMessage, madiPort, twoBytes(inserted, extracted));
    }
    void setSystemRate(quint32 rate)
    {
        UiTest::deliverKipStatus(&port, port.cardType(), 12, 42, "V2.1", rate, port.slotIndex() == 0);
        panel->receiveSystemSampleRate(int(rate));
    }
    QString selections()
    {
        QStringList texts;
        for (const char *name : {"insertingComboBox", "extractingComboBox", "insertingBComboBox", "extractingBComboBox"})
            texts << combo(name)->currentText();
        return texts.join(QLatin1Char('/'));
    }
    void activate(const char *comboName, int index)
    {
        QComboBox *list = combo(comboName);
        list->setCurrentIndex(index);
        QMetaObject::invokeMethod(list, "activated", Q_ARG(int, index));
    }

    KipPort port;
    QSignalSpy sent;
    std::unique_ptr<OptocorePanel> panel;
    std::unique_ptr<QSignalSpy> locks;
};

// A settings block of 24 bytes as the module reports it, fibre speed 1 Gb; the bytes
// the controller does not touch carry their own positions.
const char *const settings1Gb = "18e000ff00" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617";

QString lastItem(QComboBox *combo)
{
    return combo->itemText(combo->count() - 1);
}

} // namespace

class OptocorePanelTest : public QObject
{
    Q_OBJECT

private slots:
    void construction_data();
    void construction();
    void networkIdReply_data();
    void networkIdReply();
    void idChoiceSendsNetworkId();
    void settingsReply_data();
    void settingsReply();
    void fibreSpeedClick_data();
    void fibreSpeedClick();
    void registerF0_data();
    void registerF0();
    void cardStatusRestartsTheChain();
    void channelCountLists_data();
    void channelCountLists();
    void cutSelectionsAreSent_data();
    void cutSelectionsAreSent();
    void reportedCounts_data();
    void reportedCounts();
    void userCountChoice();
    void receivedSampleRate_data();
    void receivedSampleRate();
    void syncButtons_data();
    void syncButtons();
    void lockState();
};

void OptocorePanelTest::construction_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("externalText");
    QTest::newRow("Optocore, master slot") << int(KipPort::Optocore) << 0 << "Optocore";
    QTest::newRow("Optocore, slave slot") << int(KipPort::Optocore) << 1 << "Optocore";
    QTest::newRow("Dante, master slot") << int(KipPort::Dante) << 0 << "Dante";
    QTest::newRow("Dante, slave slot") << int(KipPort::Dante) << 1 << "Dante";
}

void OptocorePanelTest::construction()
{
    QFETCH(int, cardType);
    QFETCH(int, slot);
    QFETCH(QString, externalText);
    Bench bench(KipPort::KipCardType(cardType), 48000, slot);
    const bool optocore = cardType == KipPort::Optocore;

    QCOMPARE(bench.sentTexts(), QStringList{command("048000ff")});
    QCOMPARE(bench.button("syncExternalButton")->text(), externalText);
    for (const char *name : {"syncAutoButton", "syncWordClockButton", "syncExternalButton"})
        QCOMPARE(bench.hidden(name), slot > 0);
    QVERIFY(bench.button("syncAutoButton")->isChecked());
    for (const char *name : {"clockLabel", "clockIncButton", "clockDecButton", "idComboBox"})
        QVERIFY(bench.hidden(name));
    for (const char *name : {"sampleRateLabel", "rxSyncLockLabel", "idLabel_2", "idLabel_3"})
        QVERIFY(!bench.hidden(name));
    QCOMPARE(bench.child<QLabel>("rxSyncLockLabel")->text(), QStringLiteral("Not Locked"));
    // The Dante card's small panel: its frame shows the rate and lock rows only.
    for (const char *name : {"idLabel", "fibreSpeed1Button", "fibreSpeed2Button", "channelCountsLabel",
                             "insertingComboBox", "extractingComboBox"})
        QCOMPARE(bench.hidden(name), !optocore);
    // No MADI card known in the other slot: no MADI mode, no port B.
    for (const char *name : {"madiModeLabel", "madiMode1Button", "insertingBComboBox", "channelCountsBLabel"})
        QVERIFY(bench.hidden(name));
    if (!optocore)
        QCOMPARE(bench.child<QFrame>("optocoreFrame")->size(), QSize(169, 97));
    QCOMPARE(bench.selections(), QStringLiteral("0/0/0/0"));
}

void OptocorePanelTest::networkIdReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("sent");

    const QStringList next{command("04e000ff")};
    const auto id = [](int value) { return withSum(QByteArray::fromHex("058000ff") + QByteArray(1, char(value))); };
    QTest::newRow("10 is \"11\"") << id(10) << true << 0 << next;
    QTest::newRow("23 is \"24\"") << id(23) << true << 13 << next;
    QTest::newRow("9: no selection") << id(9) << true << -1 << next;
    QTest::newRow("24: no selection") << id(24) << true << -1 << next;
    QTest::newRow("negative: no selection") << id(0xF6) << true << -1 << next;
    // Too short to carry an ID: dropped, the chain waits for the next card status.
    QTest::newRow("4 bytes") << QByteArray::fromHex("048000ff") << false << -1 << QStringList();
    QTest::newRow("code only") << QByteArray::fromHex("0280") << false << -1 << QStringList();
    QTest::newRow("1 byte") << QByteArray::fromHex("80") << false << -1 << QStringList();
    QTest::newRow("empty") << QByteArray() << false << -1 << QStringList();
    QTest::newRow("unknown code") << withSum(QByteArray::fromHex("059000ff0a")) << false << -1 << QStringList();
}

void OptocorePanelTest::networkIdReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, shown);
    QFETCH(int, index);
    QFETCH(QStringList, sent);
    Bench bench;
    QComboBox *ids = bench.combo("idComboBox");
    ids->setCurrentIndex(-1);
    bench.sent.clear();
    bench.rawReply(reply);
    QCOMPARE(!ids->isHidden(), shown);
    QCOMPARE(ids->currentIndex(), index);
    QCOMPARE(bench.sentTexts(), sent);
}

void OptocorePanelTest::idChoiceSendsNetworkId()
{
    Bench bench;
    bench.reply("058000ff0a");
    bench.sent.clear();
    bench.activate("idComboBox", bench.combo("idComboBox")->findText("15"));
    // ID 14: the identity write, then the ID read.
    QCOMPARE(bench.sentTexts(), (QStringList{command("080000ff0ef155aa"), command("048000ff")}));
}

void OptocorePanelTest::settingsReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("speed1");
    QTest::addColumn<bool>("speed2");

    const QByteArray block = QByteArray::fromHex(settings1Gb);
    QByteArray block2Gb = block;
    block2Gb[4] = 1;
    QByteArray blockOdd = block;
    blockOdd[4] = 2;
    QTest::newRow("24 bytes, 1 Gb") << withSum(block) << block << true << false;
    QTest::newRow("24 bytes, 2 Gb") << withSum(block2Gb) << block2Gb << false << true;
    QTest::newRow("speed 2: neither") << withSum(blockOdd) << blockOdd << false << false;
    QTest::newRow("length beyond the reply") << QByteArray::fromHex("1ee000ff01aa") << QByteArray::fromHex("1ee000ff01aa")
                                              << false << true;
    QTest::newRow("negative length: empty") << QByteArray::fromHex("80e000ff01") << QByteArray() << false << false;
    QTest::newRow("4 bytes: no speed") << QByteArray::fromHex("04e000ff01") << QByteArray::fromHex("04e000ff") << false
                                       << false;
    QTest::newRow("code only") << QByteArray::fromHex("02e0") << QByteArray::fromHex("02e0") << false << false;
}

void OptocorePanelTest::settingsReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, stored);
    QFETCH(bool, speed1);
    QFETCH(bool, speed2);
    Bench bench;
    // Both buttons checked before, so every row shows what the reply changes.
    bench.button("fibreSpeed1Button")->setChecked(true);
    bench.button("fibreSpeed2Button")->setChecked(true);
    bench.sent.clear();
    bench.rawReply(reply);
    QCOMPARE(bench.panel->storedSettings().toHex(), stored.toHex());
    QCOMPARE(bench.button("fibreSpeed1Button")->isChecked(), speed1);
    QCOMPARE(bench.button("fibreSpeed2Button")->isChecked(), speed2);
    QCOMPARE(bench.sentTexts(), QStringList{command("04f000ff")});
}

void OptocorePanelTest::fibreSpeedClick_data()
{
    QTest::addColumn<QByteArray>("reply"); // the settings reply before the click, if any
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("sent");

    const QString read = command("04e000ff");
    QTest::newRow("2Gb on a 24-byte block")
        << withSum(QByteArray::fromHex(settings1Gb)) << "fibreSpeed2Button"
        << QStringList{command("186000ff01" "05060708090a0b" "7e" "0d0e0f101112" "01" "14151617"), read};
    QByteArray block2Gb = QByteArray::fromHex(settings1Gb);
    block2Gb[4] = 1;
    block2Gb[12] = 0x7E;
    block2Gb[19] = 1;
    QTest::newRow("1Gb on a 2 Gb block")
        << withSum(block2Gb) << "fibreSpeed1Button"
        << QStringList{command("186000ff00" "05060708090a0b" "3f" "0d0e0f101112" "00" "14151617"), read};
    // A short block is padded with zeros and its length byte counts the padding.
    QTest::newRow("8-byte block padded to 20") << QByteArray::fromHex("08e000ff01aabbccdd") << "fibreSpeed1Button"
                                               << QStringList{command("146000ff00aabbcc000000003f00000000000000"), read};
    QTest::newRow("13-byte block padded to 20")
        << withSum(QByteArray::fromHex("0de000ff00010203040506073f")) << "fibreSpeed2Button"
        << QStringList{command("146000ff0101020304050607" "7e" "00000000000001"), read};
    QTest::newRow("no block yet: read only") << QByteArray() << "fibreSpeed2Button" << QStringList{read};
    QTest::newRow("4-byte block: read only") << QByteArray::fromHex("04e000ffe3") << "fibreSpeed1Button"
                                             << QStringList{read};
}

void OptocorePanelTest::fibreSpeedClick()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, button);
    QFETCH(QStringList, sent);
    Bench bench;
    if (!reply.isEmpty())
        bench.rawReply(reply);
    bench.sent.clear();
    bench.panel->findChild<QToolButton *>(button)->click();
    QCOMPARE(bench.sentTexts(), sent);
}

void OptocorePanelTest::registerF0_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("sent");
    const QStringList write{command("0570ffff32")};
    QTest::newRow("0x32 kept") << withSum(QByteArray::fromHex("05f000ff32")) << QStringList();
    QTest::newRow("0 rewritten") << withSum(QByteArray::fromHex("05f000ff00")) << write;
    QTest::newRow("0x33 rewritten") << withSum(QByteArray::fromHex("05f000ff33")) << write;
    QTest::newRow("4 bytes: nothing") << QByteArray::fromHex("04f000ff") << QStringList();
    QTest::newRow("code only: nothing") << QByteArray::fromHex("02f0") << QStringList();
}

void OptocorePanelTest::registerF0()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, sent);
    Bench bench;
    bench.sent.clear();
    bench.rawReply(reply);
    QCOMPARE(bench.sentTexts(), sent);
}

void OptocorePanelTest::cardStatusRestartsTheChain()
{
    Bench bench;
    bench.sent.clear();
    UiTest::deliver(&bench.port, CardStatusMessage, KipPort::Optocore, QByteArray::fromHex("0a00"));
    QCOMPARE(bench.sentTexts(), QStringList{command("048000ff")});
    bench.sent.clear();
    UiTest::deliver(&bench.port, CardStatusMessage, KipPort::Dante, QByteArray::fromHex("01"));
    QCOMPARE(bench.sentTexts(), QStringList());
}

void OptocorePanelTest::channelCountLists_data()
{
    QTest::addColumn<int>("other");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<QString>("modeClick"); // the MADI mode button clicked, if any
    QTest::addColumn<QString>("insertingTo");
    QTest::addColumn<QString>("extractingTo");
    QTest::addColumn<bool>("portB");
    QTest::addColumn<bool>("madiMode");

    QTest::newRow("MADI, 48 kHz") << int(KipPort::MadiBnc) << 48000u << "" << "64" << "64" << true << false;
    QTest::newRow("MADI, 50000 Hz is single rate") << int(KipPort::MadiCat5) << 50000u << "" << "64" << "64" << true
                                                    << false;
    QTest::newRow("MADI, 96 kHz, no mode yet") << int(KipPort::MadiBnc) << 96000u << "" << "64" << "64" << false
                                               << true;
    QTest::newRow("MADI, 96 kHz, 1 x 64") << int(KipPort::MadiBnc) << 96000u << "madiMode1Button" << "64" << "64"
                                          << false << true;
    QTest::newRow("MADI, 96 kHz, 2 x 32") << int(KipPort::MadiBnc) << 96000u << "madiMode2Button" << "32" << "32"
                                          << true << true;
    QTest::newRow("CAT5 MADI, 50001 Hz, 2 x 32") << int(KipPort::MadiCat5) << 50001u << "madiMode2Button" << "32"
                                                 << "32" << true << true;
    QTest::newRow("AES") << int(KipPort::Aes) << 48000u << "" << "16" << "16" << false << false;
    QTest::newRow("AES, 96 kHz: no MADI mode") << int(KipPort::Aes) << 96000u << "" << "16" << "16" << false << false;
    QTest::newRow("ADC") << int(KipPort::Adc) << 48000u << "" << "16" << "0" << false << false;
    QTest::newRow("Hydra") << int(KipPort::Hydra) << 48000u << "" << "128" << "128" << false << false;
    QTest::newRow("unknown card") << int(KipPort::NoCard) << 48000u << "" << "64" << "64" << false << false;
    QTest::newRow("unlisted code") << 99 << 48000u << "" << "0" << "0" << false << false;
}

void OptocorePanelTest::channelCountLists()
{
    QFETCH(int, other);
    QFETCH(uint, rate);
    QFETCH(QString, modeClick);
    QFETCH(QString, insertingTo);
    QFETCH(QString, extractingTo);
    QFETCH(bool, portB);
    QFETCH(bool, madiMode);
    Bench bench(KipPort::Optocore, rate);
    bench.panel->receiveOtherCardType(KipPort::KipCardType(other));
    if (!modeClick.isEmpty())
        bench.panel->findChild<QToolButton *>(modeClick)->click();

    for (const char *name : {"insertingComboBox", "insertingBComboBox"}) {
        QComboBox *list = bench.combo(name);
        QCOMPARE(lastItem(list), insertingTo);
        for (int k = 0; k < list->count(); ++k)
            QCOMPARE(list->itemText(k), QString::number(8 * k));
    }
    QCOMPARE(lastItem(bench.combo("extractingComboBox")), extractingTo);
    QCOMPARE(lastItem(bench.combo("extractingBComboBox")), extractingTo);
    for (const char *name : {"insertingBComboBox", "extractingBComboBox", "channelCountsALabel", "channelCountsBLabel"})
        QCOMPARE(!bench.hidden(name), portB);
    for (const char *name : {"madiModeLabel", "madiMode1Button", "madiMode2Button"})
        QCOMPARE(!bench.hidden(name), madiMode);
    QCOMPARE(bench.child<QFrame>("optocoreFrame")->size(),
             KipPort::isDualMadi(KipPort::KipCardType(other)) ? QSize(213, 265) : QSize(169, 229));
    QVERIFY(bench.sentCounts().isEmpty());
}

void OptocorePanelTest::cutSelectionsAreSent_data()
{
    QTest::addColumn<QList<int>>("before"); // counts reported with a MADI card at 48 kHz: A in, A out, B in, B out
    QTest::addColumn<int>("other");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<QString>("modeClick");
    QTest::addColumn<QString>("selections");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("AES: 64 falls back to 16") << QList<int>{64, 64, 0, 0} << int(KipPort::Aes) << 48000u << ""
                                              << "16/16/0/0" << QStringList{counts(0, 16, 16)};
    QTest::newRow("AES: port B emptied") << QList<int>{8, 8, 16, 16} << int(KipPort::Aes) << 48000u << ""
                                         << "8/8/0/0" << QStringList{counts(1, 0, 0)};
    QTest::newRow("AES: port B outputs emptied") << QList<int>{0, 0, 0, 8} << int(KipPort::Aes) << 48000u << ""
                                                 << "0/0/0/0" << QStringList{counts(1, 0, 0)};
    QTest::newRow("96 kHz, 2 x 32: both halved") << QList<int>{64, 40, 48, 8} << int(KipPort::MadiBnc) << 96000u << ""
                                                 << "32/32/32/8" << QStringList{counts(0, 32, 32), counts(1, 32, 8)};
    QTest::newRow("96 kHz, then 1 x 64: B sent as 0/0")
        << QList<int>{8, 8, 16, 8} << int(KipPort::MadiBnc) << 96000u << "madiMode1Button" << "8/8/0/0"
        << QStringList{counts(1, 0, 0)};
    QTest::newRow("96 kHz, 1 x 64 with B empty: nothing sent")
        << QList<int>{8, 8, 0, 0} << int(KipPort::MadiBnc) << 96000u << "madiMode1Button" << "8/8/0/0" << QStringList();
    QTest::newRow("ADC: outputs fall to 0") << QList<int>{16, 24, 0, 0} << int(KipPort::Adc) << 48000u << ""
                                            << "16/0/0/0" << QStringList{counts(0, 16, 0)};
    QTest::newRow("Hydra: nothing cut") << QList<int>{64, 64, 0, 0} << int(KipPort::Hydra) << 48000u << ""
                                        << "64/64/0/0" << QStringList();
}

void OptocorePanelTest::cutSelectionsAreSent()
{
    QFETCH(QList<int>, before);
    QFETCH(int, other);
    QFETCH(uint, rate);
    QFETCH(QString, modeClick);
    QFETCH(QString, selections);
    QFETCH(QStringList, sent);
    Bench bench(KipPort::Optocore, 48000, 0, KipPort::MadiBnc);
    bench.panel->receiveOtherCardType(KipPort::MadiBnc);
    bench.reportCounts(0, before[0], before[1]);
    bench.reportCounts(1, before[2], before[3]);
    QCOMPARE(bench.sentCounts(), QStringList());

    if (rate != 48000)
        bench.setSystemRate(rate);
    if (other != KipPort::MadiBnc)
        bench.panel->receiveOtherCardType(KipPort::KipCardType(other));
    if (!modeClick.isEmpty())
        bench.panel->findChild<QToolButton *>(modeClick)->click();
    QCOMPARE(bench.selections(), selections);
    QCOMPARE(bench.sentCounts(), sent);
}

void OptocorePanelTest::reportedCounts_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<int>("madiPort");
    QTest::addColumn<int>("inserted");
    QTest::addColumn<int>("extracted");
    QTest::addColumn<QString>("selections");
    QTest::addColumn<QString>("modes"); // checked MADI mode buttons: 1, 2 or none
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("B 24/0: 2 x 32") << 48000u << 1 << 24 << 0 << "0/0/24/0" << "2" << QStringList();
    QTest::newRow("B 0/0: 1 x 64") << 48000u << 1 << 0 << 0 << "0/0/0/0" << "1" << QStringList();
    QTest::newRow("A 200 clamped to 64") << 48000u << 0 << 200 << 16 << "64/16/0/0" << "" << QStringList{counts(0, 64, 16)};
    QTest::newRow("A outputs 255 clamped") << 48000u << 0 << 8 << 255 << "8/64/0/0" << "" << QStringList{counts(0, 8, 64)};
    QTest::newRow("A 20/13 shown as 16/8") << 48000u << 0 << 20 << 13 << "16/8/0/0" << "" << QStringList();
    QTest::newRow("port 5 counts as B") << 48000u << 5 << 8 << 8 << "0/0/8/8" << "2" << QStringList();
    // At 96 kHz, before any mode is chosen, B is hidden: a B report with channels
    // chooses 2 x 32 and brings the B column back with halved lists.
    QTest::newRow("96 kHz, B 16/8") << 96000u << 1 << 16 << 8 << "0/0/16/8" << "2" << QStringList();
    QTest::newRow("96 kHz, B 64/0 clamped to 32") << 96000u << 1 << 64 << 0 << "0/0/32/0" << "2"
                                                  << QStringList{counts(1, 32, 0)};
}

void OptocorePanelTest::reportedCounts()
{
    QFETCH(uint, rate);
    QFETCH(int, madiPort);
    QFETCH(int, inserted);
    QFETCH(int, extracted);
    QFETCH(QString, selections);
    QFETCH(QString, modes);
    QFETCH(QStringList, sent);
    Bench bench(KipPort::Optocore, rate, 0, KipPort::MadiBnc);
    bench.panel->receiveOtherCardType(KipPort::MadiBnc);
    bench.sent.clear();
    bench.reportCounts(madiPort, inserted, extracted);
    QCOMPARE(bench.selections(), selections);
    QString checked;
    if (bench.button("madiMode1Button")->isChecked())
        checked += '1';
    if (bench.button("madiMode2Button")->isChecked())
        checked += '2';
    QCOMPARE(checked, modes);
    QCOMPARE(bench.sentCounts(), sent);
    if (rate > 50000 && modes == "2") {
        QVERIFY(!bench.hidden("insertingBComboBox"));
        QCOMPARE(lastItem(bench.combo("insertingBComboBox")), QStringLiteral("32"));
    }
}

void OptocorePanelTest::userCountChoice()
{
    Bench bench(KipPort::Optocore, 48000, 0, KipPort::MadiBnc);
    bench.panel->receiveOtherCardType(KipPort::MadiBnc);
    bench.reportCounts(0, 8, 16);
    bench.reportCounts(1, 24, 32);
    bench.sent.clear();
    bench.activate("insertingComboBox", 5);
    bench.activate("extractingBComboBox", 1);
    bench.activate("insertingBComboBox", 0);
    bench.activate("extractingComboBox", 8);
    QCOMPARE(bench.sentCounts(), (QStringList{counts(0, 40, 16), counts(1, 24, 8), counts(1, 0, 8), counts(0, 40, 64)}));
}

void OptocorePanelTest::receivedSampleRate_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<uint>("systemRate");
    QTest::addColumn<uint>("reported");
    QTest::addColumn<QString>("shown");

    QTest::newRow("Optocore, 48 kHz") << int(KipPort::Optocore) << 48000u << 48000u << "48000";
    QTest::newRow("Optocore, 96 kHz: doubled") << int(KipPort::Optocore) << 96000u << 48000u << "96000";
    QTest::newRow("Optocore, 50000 Hz: not doubled") << int(KipPort::Optocore) << 50000u << 44100u << "44100";
    QTest::newRow("Optocore, 50001 Hz: doubled") << int(KipPort::Optocore) << 50001u << 44100u << "88200";
    QTest::newRow("Optocore, rate 0 empties") << int(KipPort::Optocore) << 96000u << 0u << "";
    QTest::newRow("doubling beyond 32 bits") << int(KipPort::Optocore) << 96000u << 4000000000u << "8000000000";
    QTest::newRow("Dante, 96 kHz: never doubled") << int(KipPort::Dante) << 96000u << 48000u << "48000";
}

void OptocorePanelTest::receivedSampleRate()
{
    QFETCH(int, cardType);
    QFETCH(uint, systemRate);
    QFETCH(uint, reported);
    QFETCH(QString, shown);
    Bench bench(KipPort::KipCardType(cardType), systemRate);
    emit bench.port.inputSampleRateChanged(0, 12345);
    emit bench.port.inputSampleRateChanged(3, reported);
    QCOMPARE(bench.child<QLabel>("sampleRateLabel")->text(), shown);
}

void OptocorePanelTest::syncButtons_data()
{
    QTest::addColumn<int>("cardType");
    QTest::addColumn<QByteArray>("report"); // param, then the source byte
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("Optocore: automatic") << int(KipPort::Optocore) << QByteArray::fromHex("0100") << "A"
                                         << "syncExternalButton" << QByteArray::fromHex("0000");
    QTest::newRow("Optocore: word clock") << int(KipPort::Optocore) << QByteArray::fromHex("00fe") << "W"
                                          << "syncAutoButton" << QByteArray::fromHex("01ff");
    QTest::newRow("Optocore: the ring") << int(KipPort::Optocore) << QByteArray::fromHex("0000") << "E"
                                        << "syncWordClockButton" << QByteArray::fromHex("00fe");
    QTest::newRow("Dante: the network") << int(KipPort::Dante) << QByteArray::fromHex("0000") << "E"
                                        << "syncExternalButton" << QByteArray::fromHex("0000");
    QTest::newRow("Dante: free run") << int(KipPort::Dante) << QByteArray::fromHex("00fd") << ""
                                     << "syncAutoButton" << QByteArray::fromHex("01ff");
}

void OptocorePanelTest::syncButtons()
{
    QFETCH(int, cardType);
    QFETCH(QByteArray, report);
    QFETCH(QString, checked);
    QFETCH(QString, click);
    QFETCH(QByteArray, sent);
    Bench bench{KipPort::KipCardType(cardType)};
    UiTest::deliver(&bench.port, SyncSourceMessage, report.at(0), report.mid(1));
    QString shown;
    if (bench.button("syncAutoButton")->isChecked())
        shown += 'A';
    if (bench.button("syncWordClockButton")->isChecked())
        shown += 'W';
    if (bench.button("syncExternalButton")->isChecked())
        shown += 'E';
    QCOMPARE(shown, checked);
    bench.sent.clear();
    bench.panel->findChild<QToolButton *>(click)->click();
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(SyncSourceMessage, sent.at(0), sent.mid(1))});
}

void OptocorePanelTest::lockState()
{
    Bench bench(KipPort::Dante);
    emit bench.port.clockLockedChanged(0, true);
    QCOMPARE(bench.child<QLabel>("rxSyncLockLabel")->text(), QStringLiteral("Locked"));
    emit bench.port.clockLockedChanged(0, false);
    QCOMPARE(bench.child<QLabel>("rxSyncLockLabel")->text(), QStringLiteral("Not Locked"));
    QCOMPARE(bench.locks->count(), 2);
    QCOMPARE(bench.locks->at(0).at(1).value<SyncLockState>(), SyncLocked);
    QCOMPARE(bench.locks->at(1).at(1).value<SyncLockState>(), SyncUnlocked);
}

QTEST_MAIN(OptocorePanelTest)
#include "tst_optocorepanel.moc"
