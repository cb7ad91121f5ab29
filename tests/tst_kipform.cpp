#include "support/uitestsupport.h"

#include "link/faketransport.h"
#include "link/kipport.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"

#include <QComboBox>
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
void status(KipPort &port, int cardType, bool master = true, quint8 firmware = 12, const QByteArray &fpga = "V2.1", quint32 rate = 48000)
{
    UiTest::deliverKipStatus(&port, cardType, firmware, 42, fpga, rate, master);
}
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
// "ftdi:ttyUSB0 usb:ttyACM0 com:ttyS0"; "*" after the kind: another program holds it.
QList<SerialPortEntry> ports(const char *list)
{
    QList<SerialPortEntry> entries;
    for (const QString &port : QString(list).split(' ', Qt::SkipEmptyParts)) {
        const QString kind = port.section(':', 0, 0), name = port.section(':', 1);
        entries << (kind.startsWith("ftdi") ? ftdiAdapter(name, kind.endsWith('*'))
                    : kind.startsWith("usb") ? SerialPortEntry{name, "USB-Serial Controller", "Prolific", kind.endsWith('*')}
                                             : SerialPortEntry{name, "Communications Port", "(Standard port types)", false});
    }
    return entries;
}

} // namespace

class KipFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false")); }

    void portScan_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("ports");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("stored"); // a port name from the settings
        QTest::addColumn<QString>("chosen"); // empty: nothing chosen, rescan in 500 ms
        QTest::newRow("two FTDI, slot 0 takes the first") << ports("ftdi:ttyUSB0 ftdi:ttyUSB1") << 0 << "" << "ttyUSB0";
        QTest::newRow("two FTDI, slot 1 takes the second") << ports("ftdi:ttyUSB0 ftdi:ttyUSB1") << 1 << "" << "ttyUSB1";
        QTest::newRow("third FTDI never chosen by slot 1") << ports("ftdi*:ttyUSB0 ftdi*:ttyUSB1 ftdi:ttyUSB2") << 1 << "" << "";
        QTest::newRow("USB adapter when no FTDI") << ports("com:ttyS0 usb:ttyACM0") << 0 << "" << "ttyACM0";
        QTest::newRow("USB adapter when the FTDI position is busy") << ports("ftdi*:ttyUSB0 usb:ttyACM0") << 0 << "" << "ttyACM0";
        QTest::newRow("busy second FTDI holds its position, second USB taken")
            << ports("ftdi:ttyUSB0 ftdi*:ttyUSB1 ftdi:ttyUSB2 usb:ttyACM0 usb:ttyACM1") << 1 << "" << "ttyACM1";
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
        QCOMPARE(combo(form)->count(), ports.size() + 1);
        QCOMPARE(combo(form)->itemText(1), ports.at(0).portName + " " + ports.at(0).description);
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
        const QString first = QStringLiteral("ttyUSB0"), second = QStringLiteral("ttyUSB1");
        FakeAdapters adapters;
        adapters.entries = {ftdiAdapter(first), ftdiAdapter(second)};
        KipPort port(nullptr, 0, nullptr, new FakeTransport);
        KipForm form(&port, nullptr, adapters.lister());
        QCOMPARE(port.serialPortName(), first);
        QVERIFY(port.isConnectionOpen());
        choose(form, 0);
        QVERIFY(!port.isConnectionOpen());
        QCOMPARE(port.serialPortName(), QString());
        QVERIFY(!scanTimer(form)->isActive());
        choose(form, 2);
        QCOMPARE(port.serialPortName(), second);
        QVERIFY(port.isConnectionOpen());
        adapters.entries[1].busy = true;
        form.setupSerialPorts();
        QCOMPARE(port.serialPortName(), second);
        QCOMPARE(combo(form)->currentIndex(), 2);
        QVERIFY(port.isConnectionOpen());
        status(port, KipPort::MadiBnc, false, 12, "2014/05/12");
        QCOMPARE(port.serialPortName(), second);
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
        status(port, KipPort::MadiBnc, true, 12, fpgaVersion);
        QCOMPARE(port.serialPortName(), moves ? QString() : QStringLiteral("ttyUSB1"));
        QCOMPARE(labelText(form, "cardTypeLabel"), moves ? QString() : QStringLiteral("BNC MADI"));
        QCOMPARE(cardTypes.count(), moves ? 0 : 1);
        if (!moves)
            return;
        QVERIFY(!port.isConnectionOpen());
        QCOMPARE(scanTimer(form)->interval(), 3000);
        fire(scanTimer(form));
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
        port.setSerialPortName(QString());
        form.setupSerialPorts();
        QCOMPARE(port.serialPortName(), QStringLiteral("ttyUSB0"));
    }
    void hardwareStatusDisplay()
    {
        FakeAdapters adapters;
        KipPort port(nullptr, 0);
        KipForm form(&port, nullptr, adapters.lister());
        QSignalSpy rates(&form, &KipForm::sampleRateChanged), cardTypes(&form, &KipForm::cardTypeChanged);
        QSignalSpy syncs(&form, &KipForm::syncSourceChanged), sent(&port, &KipPort::logDataTransmitted);
        const QString cardStatusRequest = UiTest::sentText(Common::MessageType::CardStatus, 0);
        status(port, KipPort::MadiBnc);
        QCOMPARE(labelText(form, "cardTypeLabel") + labelText(form, "firmwareVersionLabel") + labelText(form, "temperatureLabel")
                     + labelText(form, "fpgaVersionLabel"), QString::fromUtf8("BNC MADI1242°CV2.1"));
        QCOMPARE(rates.last().at(0).toInt(), 48000);
        QCOMPARE(cardTypes.at(0), (QList<QVariant>{0, QVariant::fromValue(KipPort::MadiBnc), "BNC MADI"}));
        QPointer<CardPanel> madiPanel = form.cardPanel();
        // The same card again keeps its panel and asks nothing; another MADI type rebuilds it.
        status(port, KipPort::MadiBnc);
        QCOMPARE(form.cardPanel(), madiPanel.data());
        QCOMPARE(countOf(sent, cardStatusRequest) * 10 + cardTypes.count(), 11);
        status(port, KipPort::MadiCat5);
        QVERIFY(!madiPanel && form.cardPanel());
        QCOMPARE(countOf(sent, cardStatusRequest), 2);
        // Firmware version 0: nobody answering. Labels cleared, panel gone, strip told.
        status(port, KipPort::MadiCat5, true, 0, "");
        QCOMPARE(labelText(form, "cardTypeLabel") + labelText(form, "temperatureLabel") + labelText(form, "fpgaVersionLabel"), QString());
        QCOMPARE(rates.last().at(0).toInt() + syncs.last().at(0).toString().size(), 0);
        QVERIFY(!form.cardPanel());
        QCOMPARE(cardTypes.last(), (QList<QVariant>{0, QVariant::fromValue(KipPort::NoCard), QString()}));
    }
    void panelPerCardType_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("panelClass"); // empty: no panel
        QTest::newRow("BNC MADI") << int(KipPort::MadiBnc) << "BNC MADI" << "EMS::MadiPanel";
        QTest::newRow("AES") << int(KipPort::Aes) << "AES" << "EMS::AesPanel";
        QTest::newRow("Dante") << int(KipPort::Dante) << "DANTE" << "EMS::OptocorePanel";
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
        status(port, KipPort::MadiBnc, false);
        QVERIFY(form.cardPanel());
        status(port, cardType, false);
        QCOMPARE(labelText(form, "cardTypeLabel"), displayName);
        QCOMPARE(form.cardPanel() ? QString::fromLatin1(form.cardPanel()->metaObject()->className()) : QString(), panelClass);
        QVERIFY(form.findChild<QWidget *>(QStringLiteral("syncSourceFrame"))->isHidden());
    }
};

QTEST_MAIN(KipFormTest)
#include "tst_kipform.moc"
