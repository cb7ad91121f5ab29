#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "sim/pseudoterminal.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"
#include "ui/optocorepanel.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace EMS;
using UiTest::FakeAdapters;
using UiTest::ftdiAdapter;

Q_DECLARE_METATYPE(QList<EMS::SerialPortEntry>)

namespace {

QTimer *scanTimer(KipForm &form) { return form.findChild<QTimer *>(QStringLiteral("portScanTimer")); }
QComboBox *combo(KipForm &form) { return form.findChild<QComboBox *>(QStringLiteral("connectionComboBox")); }
QString labelText(KipForm &form, const char *name) { return form.findChild<QLabel *>(QLatin1String(name))->text(); }
int countOf(const QSignalSpy &spy, const QString &text)
{
    return int(std::count_if(spy.begin(), spy.end(), [&text](const QList<QVariant> &call) { return call.at(0).toString() == text; }));
}
// Fires a single-shot timer now instead of waiting for it.
void fire(QTimer *timer)
{
    QVERIFY(timer->isActive());
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
}
// The user picks a list item; activated() is what a real pick emits.
void choose(KipForm &form, int index)
{
    combo(form)->setCurrentIndex(index);
    QMetaObject::invokeMethod(combo(form), "activated", Q_ARG(int, index));
}
// Serial ports as the system lists them: "ftdi:ttyUSB0 usb:ttyACM0 com:ttyS0", with a
// "*" after the kind for a port that another program holds.
QList<SerialPortEntry> ports(const char *list)
{
    QList<SerialPortEntry> entries;
    for (const QString &port : QString(list).split(' ', Qt::SkipEmptyParts)) {
        const QString kind = port.section(':', 0, 0), name = port.section(':', 1);
        const bool busy = kind.endsWith('*');
        entries << (kind.startsWith("ftdi") ? ftdiAdapter(name, busy)
                    : kind.startsWith("usb") ? UiTest::usbAdapter(name, busy) : UiTest::builtInPort(name));
    }
    return entries;
}

} // namespace

class KipFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void portScan_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("ports");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("stored"); // a port name from the settings
        QTest::addColumn<QString>("chosen"); // empty: nothing chosen, rescan in 500 ms
        QTest::newRow("two FTDI, slot 0 takes the first") << ports("ftdi:ttyUSB0 ftdi:ttyUSB1") << 0 << "" << "ttyUSB0";
        QTest::newRow("two FTDI, slot 1 takes the second") << ports("ftdi:ttyUSB0 ftdi:ttyUSB1") << 1 << "" << "ttyUSB1";
        QTest::newRow("third FTDI never chosen by slot 1") << ports("ftdi*:ttyUSB0 ftdi*:ttyUSB1 ftdi:ttyUSB2") << 1 << "" << "";
        QTest::newRow("one FTDI, slot 1 finds none") << ports("ftdi:ttyUSB0") << 1 << "" << "";
        QTest::newRow("USB adapter when no FTDI") << ports("com:ttyS0 usb:ttyACM0") << 0 << "" << "ttyACM0";
        QTest::newRow("FTDI preferred over an earlier USB adapter") << ports("usb:ttyACM0 ftdi:ttyUSB0") << 0 << "" << "ttyUSB0";
        QTest::newRow("USB adapter when the FTDI position is busy") << ports("ftdi*:ttyUSB0 usb:ttyACM0") << 0 << "" << "ttyACM0";
        QTest::newRow("busy second FTDI holds its position, second USB taken")
            << ports("ftdi:ttyUSB0 ftdi*:ttyUSB1 ftdi:ttyUSB2 usb:ttyACM0 usb:ttyACM1") << 1 << "" << "ttyACM1";
        QTest::newRow("slot 1 does not take the first USB adapter") << ports("ftdi:ttyUSB0 usb:ttyACM0") << 1 << "" << "";
        QTest::newRow("manufacturer match is case-sensitive")
            << QList<SerialPortEntry>{SerialPortEntry{"ttyX0", "Serial", "ftdi", false}} << 0 << "" << "";
        // A stored name wins over the position; one another program holds is dropped.
        QTest::newRow("stored name free") << ports("ftdi:ttyUSB0 ftdi:ttyUSB1") << 0 << "ttyUSB1" << "ttyUSB1";
        QTest::newRow("stored name held") << ports("ftdi:ttyUSB0 ftdi*:ttyUSB1") << 0 << "ttyUSB1" << "ttyUSB0";
    }
    void portScan()
    {
        QFETCH(QList<SerialPortEntry>, ports);
        QFETCH(int, slot);
        QFETCH(QString, stored);
        QFETCH(QString, chosen);
        FakeAdapters adapters;
        adapters.entries = ports;
        KipPort port(nullptr, slot);
        if (!stored.isEmpty())
            port.setSerialPortName(stored);
        QSignalSpy status(&port, &KipPort::statusMessage);
        KipForm form(&port, nullptr, adapters.lister());
        // Every port is listed after the empty item, as name and description.
        QStringList listed{QString()};
        for (const SerialPortEntry &entry : ports)
            listed << entry.portName + " " + entry.description;
        for (int i = 0; i < combo(form)->count(); ++i)
            QCOMPARE(combo(form)->itemText(i), listed.value(i));
        QCOMPARE(combo(form)->count(), listed.size());
        QCOMPARE(combo(form)->currentText().section(' ', 0, 0), chosen);
        QCOMPARE(scanTimer(form)->isActive(), chosen.isEmpty());
        if (chosen.isEmpty()) {
            QCOMPARE(scanTimer(form)->interval(), 500);
            QCOMPARE(status.count(), 0);
        } else {
            QCOMPARE(port.serialPortName(), chosen);
            QCOMPARE(countOf(status, "Connecting to port " + chosen), 1);
        }
    }
    // No adapter: the list is rebuilt every 500 ms. A serial error: recovery after 1 s,
    // then rescans every 3 s until the adapter is back.
    void rescanIntervals()
    {
        FakeAdapters adapters;
        KipPort port(nullptr, 0);
        KipForm form(&port, nullptr, adapters.lister());
        QTimer *recovery = form.findChild<QTimer *>(QStringLiteral("serialRecoveryTimer"));
        QCOMPARE(adapters.scans, 1);
        fire(scanTimer(form));
        QCOMPARE(adapters.scans, 2);
        QCOMPARE(scanTimer(form)->interval(), 500);
        emit port.serialPortError(QSerialPort::ResourceError);
        QCOMPARE(recovery->interval(), 1000);
        fire(recovery);
        QCOMPARE(adapters.scans, 3);
        QCOMPARE(scanTimer(form)->interval(), 3000);
        fire(scanTimer(form));
        QCOMPARE(adapters.scans, 4);
        QCOMPARE(scanTimer(form)->interval(), 3000);
    }
    void choosingThePortByHand()
    {
        PseudoTerminal first, second;
        QVERIFY(first.open() && second.open());
        FakeAdapters adapters;
        adapters.entries = {ftdiAdapter(first.slavePath()), ftdiAdapter(second.slavePath())};
        KipPort port(nullptr, 0);
        KipForm form(&port, nullptr, adapters.lister());
        QCOMPARE(port.serialPortName(), first.slavePath());
        QVERIFY(port.isConnectionOpen());
        // The empty item disconnects, connects nothing and schedules no scan.
        choose(form, 0);
        QVERIFY(!port.isConnectionOpen());
        QCOMPARE(port.serialPortName(), QString());
        QVERIFY(!scanTimer(form)->isActive());
        choose(form, 2);
        QCOMPARE(port.serialPortName(), second.slavePath());
        QVERIFY(port.isConnectionOpen());
        // The system now lists it busy, because this program holds it: it is kept.
        adapters.entries[1].busy = true;
        form.setupSerialPorts();
        QCOMPARE(port.serialPortName(), second.slavePath());
        QCOMPARE(combo(form)->currentIndex(), 2);
        QVERIFY(port.isConnectionOpen());
        // Chosen by hand, the card's master flag no longer moves the slot.
        UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "2014/05/12", 48000, false);
        QCOMPARE(port.serialPortName(), second.slavePath());
        QCOMPARE(labelText(form, "cardTypeLabel"), QStringLiteral("BNC MADI"));
    }
    // A card in slot 1 that says it sits in the master slot; only a card whose FPGA
    // version is a date knows its slot.
    void slotMismatch_data()
    {
        QTest::addColumn<QByteArray>("fpgaVersion");
        QTest::addColumn<bool>("moves");
        QTest::newRow("FPGA 2014/05/12 moves") << QByteArray("2014/05/12") << true;
        QTest::newRow("FPGA V2.1 never moves") << QByteArray("V2.1") << false;
        QTest::newRow("no FPGA text never moves") << QByteArray() << false;
    }
    void slotMismatch()
    {
        QFETCH(QByteArray, fpgaVersion);
        QFETCH(bool, moves);
        FakeAdapters adapters;
        adapters.entries = {ftdiAdapter("ttyUSB0"), ftdiAdapter("ttyUSB1")};
        KipPort port(nullptr, 1);
        KipForm form(&port, nullptr, adapters.lister());
        QSignalSpy cardTypes(&form, &KipForm::cardTypeChanged);
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB1"));
        UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, fpgaVersion, 48000, true);
        QCOMPARE(port.serialPortName(), moves ? QString() : QStringLiteral("ttyUSB1"));
        QCOMPARE(labelText(form, "cardTypeLabel"), moves ? QString() : QStringLiteral("BNC MADI"));
        QCOMPARE(cardTypes.count(), moves ? 0 : 1);
        if (!moves)
            return;
        QVERIFY(!port.isConnectionOpen());
        QCOMPARE(scanTimer(form)->interval(), 3000);
        fire(scanTimer(form));
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
        // For good: later scans keep to the other position.
        port.setSerialPortName(QString());
        form.setupSerialPorts();
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
    }
    void inertWithoutPort()
    {
        FakeAdapters adapters;
        adapters.entries = {ftdiAdapter("ttyUSB0")};
        KipForm form(nullptr, nullptr, adapters.lister());
        QVERIFY(form.findChildren<QTimer *>().isEmpty());
        // The widgets still answer the user without reaching for a port.
        choose(form, -1);
        form.setupSerialPorts();
        QCOMPARE(adapters.scans, 0);
        QCOMPARE(combo(form)->count(), 0);
    }
    void hardwareStatusDisplay()
    {
        FakeAdapters adapters;
        KipPort port(nullptr, 0);
        KipForm form(&port, nullptr, adapters.lister());
        QSignalSpy rates(&form, &KipForm::sampleRateChanged), syncs(&form, &KipForm::syncSourceChanged);
        QSignalSpy cardTypes(&form, &KipForm::cardTypeChanged);
        QSignalSpy status(&port, &KipPort::statusMessage), sent(&port, &KipPort::logDataTransmitted);
        const QString cardStatusRequest = UiTest::sentText(38, 0);
        UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "V2.1", 48000, true);
        QCOMPARE(labelText(form, "cardTypeLabel") + labelText(form, "firmwareVersionLabel") + labelText(form, "temperatureLabel")
                     + labelText(form, "fpgaVersionLabel"), QString::fromUtf8("BNC MADI1242°CV2.1"));
        QCOMPARE(rates.last().at(0).toInt(), 48000);
        QCOMPARE(cardTypes.count(), 1);
        QCOMPARE(cardTypes.at(0), (QList<QVariant>{0, QVariant::fromValue(KipPort::MadiBnc), "BNC MADI"}));
        QCOMPARE(countOf(status, "BNC MADI ready"), 1);
        QCOMPARE(countOf(sent, cardStatusRequest), 1);
        QPointer<CardPanel> madiPanel = form.cardPanel();
        QCOMPARE(madiPanel->parentWidget()->objectName(), QStringLiteral("controlTab"));
        // The same card a degree warmer: same panel, no new card status request.
        UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 43, "V2.1", 48000, true);
        QCOMPARE(labelText(form, "temperatureLabel"), QString::fromUtf8("43°C"));
        QCOMPARE(form.cardPanel(), madiPanel.data());
        QCOMPARE(countOf(sent, cardStatusRequest), 1);
        QCOMPARE(cardTypes.count(), 1);
        // Another MADI type rebuilds the panel.
        UiTest::deliverKipStatus(&port, KipPort::MadiCat5, 12, 43, "V2.1", 48000, true);
        QVERIFY(!madiPanel && form.cardPanel());
        QCOMPARE(countOf(sent, cardStatusRequest), 2);
        // Firmware version 0: nobody answering. Labels cleared, panel gone, strip told.
        UiTest::deliverKipStatus(&port, KipPort::MadiCat5, 0, 43, "", 48000, true);
        QCOMPARE(labelText(form, "cardTypeLabel") + labelText(form, "temperatureLabel") + labelText(form, "fpgaVersionLabel"), QString());
        QCOMPARE(rates.last().at(0).toInt(), 0);
        QCOMPARE(syncs.last().at(0).toString(), QString());
        QVERIFY(!form.cardPanel());
        QCOMPARE(cardTypes.last(), (QList<QVariant>{0, QVariant::fromValue(KipPort::NoCard), QString()}));
    }
    void panelPerCardType_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("panelClass"); // empty: no panel
        QTest::newRow("BNC MADI") << int(KipPort::MadiBnc) << "BNC MADI" << "EMS::MadiPanel";
        QTest::newRow("CAT5 MADI") << int(KipPort::MadiCat5) << "CAT5 MADI" << "EMS::MadiPanel";
        QTest::newRow("AES") << int(KipPort::Aes) << "AES" << "EMS::AesPanel";
        QTest::newRow("Dante") << int(KipPort::Dante) << "DANTE" << "EMS::OptocorePanel";
        QTest::newRow("Optocore") << int(KipPort::Optocore) << "OPTOCORE" << "EMS::OptocorePanel";
        QTest::newRow("Hydra") << int(KipPort::Hydra) << "HYDRA" << "EMS::HydraPanel";
        QTest::newRow("ADC") << int(KipPort::Adc) << "ADC" << "";
        QTest::newRow("unknown code") << 19 << "" << "";
    }
    void panelPerCardType()
    {
        QFETCH(int, cardType);
        QFETCH(QString, displayName);
        QFETCH(QString, panelClass);
        FakeAdapters adapters;
        KipPort port(nullptr, 1);
        KipForm form(&port, nullptr, adapters.lister());
        // From a MADI panel, so "no panel" also proves the old one went away.
        UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "V2.1", 48000, false);
        QVERIFY(form.cardPanel());
        UiTest::deliverKipStatus(&port, cardType, 12, 42, "V2.1", 48000, false);
        QCOMPARE(labelText(form, "cardTypeLabel"), displayName);
        QCOMPARE(form.cardPanel() ? QString::fromLatin1(form.cardPanel()->metaObject()->className()) : QString(), panelClass);
        // The sync source frame belongs to the master slot only.
        QVERIFY(form.findChild<QFrame *>(QStringLiteral("syncSourceFrame"))->isHidden());
        QVERIFY(form.findChild<QLabel *>(QStringLiteral("syncSourceLabel"))->isHidden());
    }
    // The Optocore panel hears of the other slot's card at its start and from then on,
    // and of the slot's sample rate: at double rate a MADI card offers its port modes.
    void optocorePanelFeeds()
    {
        FakeAdapters adapters;
        KipPort port(nullptr, 1);
        KipForm form(&port, nullptr, adapters.lister());
        form.setOtherCardType(KipPort::MadiBnc);
        UiTest::deliverKipStatus(&port, KipPort::Optocore, 12, 42, "V2.1", 48000, false);
        auto *optocore = qobject_cast<OptocorePanel *>(form.cardPanel());
        QVERIFY(optocore);
        QCOMPARE(optocore->otherSlotCardType(), KipPort::MadiBnc);
        form.setOtherCardType(KipPort::Aes);
        QCOMPARE(optocore->otherSlotCardType(), KipPort::Aes);
        form.setOtherCardType(KipPort::MadiBnc);
        QWidget *madiMode = optocore->findChild<QWidget *>(QStringLiteral("madiMode1Button"));
        QVERIFY(madiMode->isHidden());
        UiTest::deliverKipStatus(&port, KipPort::Optocore, 12, 42, "V2.1", 96000, false);
        QCOMPARE(form.cardPanel(), optocore);
        QVERIFY(!madiMode->isHidden());
    }
};

QTEST_MAIN(KipFormTest)
#include "tst_kipform.moc"
