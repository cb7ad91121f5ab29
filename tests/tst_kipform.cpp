#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "sim/pseudoterminal.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"
#include "ui/optocorepanel.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QLoggingCategory>
#include <QtTest>

using namespace EMS;
using UiTest::FakeAdapters;

Q_DECLARE_METATYPE(QList<EMS::SerialPortEntry>)

namespace {

QTimer *scanTimer(KipForm &form)
{
    return form.findChild<QTimer *>(QStringLiteral("portScanTimer"));
}

QComboBox *combo(KipForm &form)
{
    return form.findChild<QComboBox *>(QStringLiteral("connectionComboBox"));
}

QString labelText(KipForm &form, const char *name)
{
    return form.findChild<QLabel *>(QLatin1String(name))->text();
}

int countOf(const QSignalSpy &spy, const QString &text)
{
    int n = 0;
    for (const QList<QVariant> &call : spy)
        n += call.at(0).toString() == text;
    return n;
}

// Fires a single-shot timer now instead of waiting for it.
void fire(QTimer *timer)
{
    QVERIFY(timer->isActive());
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
}

// The user picks a combo item; activated() is what a real pick emits.
void choose(KipForm &form, int index)
{
    combo(form)->setCurrentIndex(index);
    QMetaObject::invokeMethod(combo(form), "activated", Q_ARG(int, index));
}

} // namespace

class KipFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void portScan_data();
    void portScan();
    void storedPortName_data();
    void storedPortName();
    void rescanIntervals();
    void choosingThePortByHand();
    void slotMismatch_data();
    void slotMismatch();
    void inertWithoutPort();
    void hardwareStatusDisplay();
    void panelPerCardType_data();
    void panelPerCardType();
    void optocorePanelFeeds();
};

void KipFormTest::initTestCase()
{
    // Serial errors of the fake adapters that do not exist are expected here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void KipFormTest::portScan_data()
{
    QTest::addColumn<QList<SerialPortEntry>>("ports");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("chosen"); // empty: nothing chosen, rescan in 500 ms

    using namespace UiTest;
    const QList<SerialPortEntry> twoFtdi = {ftdiAdapter("ttyUSB0"), ftdiAdapter("ttyUSB1")};
    QTest::newRow("two FTDI, slot 0 takes the first") << twoFtdi << 0 << "ttyUSB0";
    QTest::newRow("two FTDI, slot 1 takes the second") << twoFtdi << 1 << "ttyUSB1";
    QTest::newRow("third FTDI never chosen by slot 1")
        << QList<SerialPortEntry>{ftdiAdapter("ttyUSB0", true), ftdiAdapter("ttyUSB1", true), ftdiAdapter("ttyUSB2")}
        << 1 << "";
    QTest::newRow("one FTDI, slot 1 finds none") << QList<SerialPortEntry>{ftdiAdapter("ttyUSB0")} << 1 << "";
    QTest::newRow("USB adapter when no FTDI")
        << QList<SerialPortEntry>{builtInPort("ttyS0"), usbAdapter("ttyACM0")} << 0 << "ttyACM0";
    QTest::newRow("FTDI preferred over an earlier USB adapter")
        << QList<SerialPortEntry>{usbAdapter("ttyACM0"), ftdiAdapter("ttyUSB0")} << 0 << "ttyUSB0";
    QTest::newRow("USB adapter when the FTDI position is busy")
        << QList<SerialPortEntry>{ftdiAdapter("ttyUSB0", true), usbAdapter("ttyACM0")} << 0 << "ttyACM0";
    QTest::newRow("busy second FTDI holds its position, second USB taken")
        << QList<SerialPortEntry>{ftdiAdapter("ttyUSB0"), ftdiAdapter("ttyUSB1", true), ftdiAdapter("ttyUSB2"),
                                  usbAdapter("ttyACM0"), usbAdapter("ttyACM1")}
        << 1 << "ttyACM1";
    QTest::newRow("slot 1 does not take the first USB adapter")
        << QList<SerialPortEntry>{ftdiAdapter("ttyUSB0"), usbAdapter("ttyACM0")} << 1 << "";
    QTest::newRow("manufacturer match is case-sensitive")
        << QList<SerialPortEntry>{SerialPortEntry{"ttyX0", "Serial", "ftdi", false}} << 0 << "";
}

void KipFormTest::portScan()
{
    QFETCH(QList<SerialPortEntry>, ports);
    QFETCH(int, slot);
    QFETCH(QString, chosen);

    FakeAdapters adapters;
    adapters.entries = ports;
    KipPort port(nullptr, slot);
    QSignalSpy status(&port, &KipPort::statusMessage);
    KipForm form(&port, nullptr, adapters.lister());

    // Every port is listed after the empty item, as name and description.
    QCOMPARE(combo(form)->count(), ports.size() + 1);
    QCOMPARE(combo(form)->itemText(0), QString());
    for (int i = 0; i < ports.size(); ++i)
        QCOMPARE(combo(form)->itemText(i + 1), ports[i].portName + " " + ports[i].description);

    if (chosen.isEmpty()) {
        QCOMPARE(combo(form)->currentIndex(), 0);
        QVERIFY(scanTimer(form)->isActive());
        QCOMPARE(scanTimer(form)->interval(), 500);
        QCOMPARE(countOf(status, "Connecting to port ttyUSB2"), 0);
    } else {
        QCOMPARE(port.serialPortName(), chosen);
        QCOMPARE(combo(form)->currentText().section(' ', 0, 0), chosen);
        QCOMPARE(countOf(status, "Connecting to port " + chosen), 1);
        QVERIFY(!scanTimer(form)->isActive());
    }
}

void KipFormTest::storedPortName_data()
{
    QTest::addColumn<bool>("storedBusy");
    QTest::addColumn<QString>("expected");
    // A stored name wins over the position; one that another program holds is dropped
    // and the position decides.
    QTest::newRow("stored name free") << false << "ttyUSB1";
    QTest::newRow("stored name held by another program") << true << "ttyUSB0";
}

void KipFormTest::storedPortName()
{
    QFETCH(bool, storedBusy);
    QFETCH(QString, expected);
    FakeAdapters adapters;
    adapters.entries = {UiTest::ftdiAdapter("ttyUSB0"), UiTest::ftdiAdapter("ttyUSB1", storedBusy)};
    KipPort port(nullptr, 0);
    port.setSerialPortName("ttyUSB1");
    KipForm form(&port, nullptr, adapters.lister());
    QCOMPARE(port.serialPortName(), expected);
    QCOMPARE(combo(form)->currentText().section(' ', 0, 0), expected);
}

void KipFormTest::rescanIntervals()
{
    FakeAdapters adapters;
    KipPort port(nullptr, 0);
    KipForm form(&port, nullptr, adapters.lister());
    QTimer *recovery = form.findChild<QTimer *>(QStringLiteral("serialRecoveryTimer"));
    QVERIFY(recovery);

    // No adapter: the list is rebuilt every 500 ms.
    QCOMPARE(adapters.scans, 1);
    QVERIFY(scanTimer(form)->isActive());
    QCOMPARE(scanTimer(form)->interval(), 500);
    fire(scanTimer(form));
    QCOMPARE(adapters.scans, 2);
    QCOMPARE(scanTimer(form)->interval(), 500);

    // A serial error: recovery after 1 s, then rescans every 3 s until the adapter is back.
    emit port.serialPortError(QSerialPort::ResourceError);
    QVERIFY(recovery->isActive());
    QCOMPARE(recovery->interval(), 1000);
    fire(recovery);
    QCOMPARE(adapters.scans, 3);
    QCOMPARE(scanTimer(form)->interval(), 3000);
    fire(scanTimer(form));
    QCOMPARE(scanTimer(form)->interval(), 3000);

}

void KipFormTest::choosingThePortByHand()
{
    PseudoTerminal first;
    PseudoTerminal second;
    QVERIFY(first.open() && second.open());
    FakeAdapters adapters;
    adapters.entries = {UiTest::ftdiAdapter(first.slavePath()), UiTest::ftdiAdapter(second.slavePath())};
    KipPort port(nullptr, 0);
    KipForm form(&port, nullptr, adapters.lister());
    QCOMPARE(port.serialPortName(), first.slavePath());
    QVERIFY(port.isConnectionOpen());

    // The empty item disconnects and connects nothing, and schedules no scan.
    choose(form, 0);
    QVERIFY(!port.isConnectionOpen());
    QCOMPARE(port.serialPortName(), QString());
    QVERIFY(!scanTimer(form)->isActive());

    // A listed item connects to that port.
    choose(form, 2);
    QCOMPARE(port.serialPortName(), second.slavePath());
    QVERIFY(port.isConnectionOpen());

    // The system now lists it busy, because this program holds it: it is kept.
    adapters.entries[1].busy = true;
    form.setupSerialPorts();
    QCOMPARE(port.serialPortName(), second.slavePath());
    QCOMPARE(combo(form)->currentIndex(), 2);
    QVERIFY(port.isConnectionOpen());

    // Chosen by hand, the card's master flag no longer moves the form.
    UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "2014/05/12", 48000, false);
    QCOMPARE(port.serialPortName(), second.slavePath());
    QCOMPARE(labelText(form, "cardTypeLabel"), QStringLiteral("BNC MADI"));
}

void KipFormTest::slotMismatch_data()
{
    QTest::addColumn<QByteArray>("fpgaVersion");
    QTest::addColumn<bool>("moves");
    QTest::newRow("FPGA 2014/05/12 moves") << QByteArray("2014/05/12") << true;
    QTest::newRow("FPGA V2.1 never moves") << QByteArray("V2.1") << false;
    QTest::newRow("no FPGA text never moves") << QByteArray() << false;
}

void KipFormTest::slotMismatch()
{
    QFETCH(QByteArray, fpgaVersion);
    QFETCH(bool, moves);
    FakeAdapters adapters;
    adapters.entries = {UiTest::ftdiAdapter("ttyUSB0"), UiTest::ftdiAdapter("ttyUSB1")};
    KipPort port(nullptr, 1);
    KipForm form(&port, nullptr, adapters.lister());
    QSignalSpy cardTypes(&form, &KipForm::cardTypeChanged);
    QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB1"));

    // The card says it sits in the master slot, but this is slot 1.
    UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, fpgaVersion, 48000, true);
    if (!moves) {
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB1"));
        QCOMPARE(labelText(form, "cardTypeLabel"), QStringLiteral("BNC MADI"));
        QCOMPARE(cardTypes.count(), 1);
        return;
    }
    QCOMPARE(port.serialPortName(), QString());
    QVERIFY(!port.isConnectionOpen());
    QCOMPARE(labelText(form, "cardTypeLabel"), QString());
    QCOMPARE(cardTypes.count(), 0);
    QVERIFY(scanTimer(form)->isActive());
    QCOMPARE(scanTimer(form)->interval(), 3000);

    fire(scanTimer(form));
    QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
    // For good: later scans keep to the other position.
    port.setSerialPortName(QString());
    form.setupSerialPorts();
    QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
}

void KipFormTest::inertWithoutPort()
{
    FakeAdapters adapters;
    adapters.entries = {UiTest::ftdiAdapter("ttyUSB0")};
    KipForm form(nullptr, nullptr, adapters.lister());
    QCOMPARE(adapters.scans, 0);
    QCOMPARE(combo(form)->count(), 0);
    QVERIFY(form.findChildren<QTimer *>().isEmpty());
    // The widgets still answer the user without reaching for a port.
    choose(form, -1);
    form.setupSerialPorts();
    QCOMPARE(adapters.scans, 0);
}

void KipFormTest::hardwareStatusDisplay()
{
    FakeAdapters adapters;
    KipPort port(nullptr, 0);
    KipForm form(&port, nullptr, adapters.lister());
    QSignalSpy rates(&form, &KipForm::sampleRateChanged);
    QSignalSpy syncs(&form, &KipForm::syncSourceChanged);
    QSignalSpy cardTypes(&form, &KipForm::cardTypeChanged);
    QSignalSpy status(&port, &KipPort::statusMessage);
    QSignalSpy sent(&port, &KipPort::logDataTransmitted);
    const QString cardStatusRequest = UiTest::sentText(38, 0);

    UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "V2.1", 48000, true);
    QCOMPARE(labelText(form, "cardTypeLabel"), QStringLiteral("BNC MADI"));
    QCOMPARE(labelText(form, "firmwareVersionLabel"), QStringLiteral("12"));
    QCOMPARE(labelText(form, "temperatureLabel"), QString::fromUtf8("42°C"));
    QCOMPARE(labelText(form, "fpgaVersionLabel"), QStringLiteral("V2.1"));
    QCOMPARE(rates.last().at(0).toInt(), 48000);
    QCOMPARE(cardTypes.count(), 1);
    QCOMPARE(cardTypes.at(0), (QList<QVariant>{0, QVariant::fromValue(KipPort::MadiBnc), "BNC MADI"}));
    QCOMPARE(countOf(status, "BNC MADI ready"), 1);
    QCOMPARE(countOf(sent, cardStatusRequest), 1);
    QPointer<CardPanel> madiPanel = form.cardPanel();
    QVERIFY(madiPanel);
    QCOMPARE(madiPanel->parentWidget()->objectName(), QStringLiteral("controlTab"));
    QCOMPARE(madiPanel->pos(), QPoint(16, 58));

    // The same card again, a degree warmer: same panel, no new card status request.
    UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 43, "V2.1", 48000, true);
    QCOMPARE(labelText(form, "temperatureLabel"), QString::fromUtf8("43°C"));
    QCOMPARE(form.cardPanel(), madiPanel.data());
    QCOMPARE(countOf(sent, cardStatusRequest), 1);
    QCOMPARE(cardTypes.count(), 1);

    // Another MADI type rebuilds the panel.
    UiTest::deliverKipStatus(&port, KipPort::MadiCat5, 12, 43, "V2.1", 48000, true);
    QVERIFY(!madiPanel);
    QVERIFY(form.cardPanel());
    QCOMPARE(labelText(form, "cardTypeLabel"), QStringLiteral("CAT5 MADI"));
    QCOMPARE(countOf(sent, cardStatusRequest), 2);

    // Firmware version 0: nobody answering. Labels cleared, panel gone, strip told.
    UiTest::deliverKipStatus(&port, KipPort::MadiCat5, 0, 43, "", 48000, true);
    QCOMPARE(labelText(form, "cardTypeLabel"), QString());
    QCOMPARE(labelText(form, "temperatureLabel"), QString());
    QCOMPARE(labelText(form, "fpgaVersionLabel"), QString());
    QCOMPARE(rates.last().at(0).toInt(), 0);
    QCOMPARE(syncs.last().at(0).toString(), QString());
    QVERIFY(!form.cardPanel());
    QCOMPARE(cardTypes.last(), (QList<QVariant>{0, QVariant::fromValue(KipPort::NoCard), QString()}));
}

void KipFormTest::panelPerCardType_data()
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
    QTest::newRow("DAC") << int(KipPort::Dac) << "DAC" << "";
    QTest::newRow("Waves") << int(KipPort::Waves) << "WAVES" << "";
    QTest::newRow("Aviom") << int(KipPort::Aviom) << "AVIOM" << "";
    QTest::newRow("unknown code") << 19 << "" << "";
}

void KipFormTest::panelPerCardType()
{
    QFETCH(int, cardType);
    QFETCH(QString, displayName);
    QFETCH(QString, panelClass);
    FakeAdapters adapters;
    KipPort port(nullptr, 1);
    KipForm form(&port, nullptr, adapters.lister());
    QSignalSpy status(&port, &KipPort::statusMessage);

    // Start from a MADI panel, so "no panel" also proves the old one went away.
    UiTest::deliverKipStatus(&port, KipPort::MadiBnc, 12, 42, "V2.1", 48000, false);
    QVERIFY(form.cardPanel());
    UiTest::deliverKipStatus(&port, cardType, 12, 42, "V2.1", 48000, false);
    QCOMPARE(labelText(form, "cardTypeLabel"), displayName);
    if (panelClass.isEmpty())
        QVERIFY(!form.cardPanel());
    else
        QCOMPARE(QString::fromLatin1(form.cardPanel()->metaObject()->className()), panelClass);
    // The sync source frame belongs to the master slot only.
    QVERIFY(form.findChild<QFrame *>(QStringLiteral("syncSourceFrame"))->isHidden());
    QVERIFY(form.findChild<QLabel *>(QStringLiteral("syncSourceLabel"))->isHidden());
}

void KipFormTest::optocorePanelFeeds()
{
    FakeAdapters adapters;
    KipPort port(nullptr, 1);
    KipForm form(&port, nullptr, adapters.lister());
    form.setOtherCardType(KipPort::MadiBnc);

    // Optocore: the other slot's card at construction and from then on.
    UiTest::deliverKipStatus(&port, KipPort::Optocore, 12, 42, "V2.1", 48000, false);
    auto *optocore = qobject_cast<OptocorePanel *>(form.cardPanel());
    QVERIFY(optocore);
    QCOMPARE(optocore->otherSlotCardType(), KipPort::MadiBnc);
    form.setOtherCardType(KipPort::Aes);
    QCOMPARE(optocore->otherSlotCardType(), KipPort::Aes);
    form.setOtherCardType(KipPort::MadiBnc);

    // ... and the form's sample rate: at double rate a MADI card in the other slot
    // offers its port modes.
    QWidget *madiMode = optocore->findChild<QWidget *>(QStringLiteral("madiMode1Button"));
    QVERIFY(madiMode);
    QVERIFY(madiMode->isHidden());
    UiTest::deliverKipStatus(&port, KipPort::Optocore, 12, 42, "V2.1", 96000, false);
    QCOMPARE(form.cardPanel(), optocore);
    QVERIFY(!madiMode->isHidden());
}

QTEST_MAIN(KipFormTest)
#include "tst_kipform.moc"
