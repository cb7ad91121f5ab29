#include "support/uitestsupport.h"

#include "link/kipport.h"
#include "ui/aespanel.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace EMS;

namespace {

constexpr int SyncSourceMessage = 33;
constexpr int InputSrcMessage = 45;

// An AES panel on a port that is never connected: the card's reports go in as frames
// through the port, commands come out as the port's log texts.
struct Bench
{
    explicit Bench(int slot = 0)
        : port(nullptr, slot)
        , panel(&port, nullptr)
        , sent(&port, &KipPort::logDataTransmitted)
    {
        UiTest::deliverKipStatus(&port, KipPort::Aes);
        sent.clear();
    }

    template<typename T>
    T *child(const QString &name)
    {
        T *found = panel.findChild<T *>(name);
        Q_ASSERT(found);
        return found;
    }
    QLabel *rateLabel(int row) { return child<QLabel>(QStringLiteral("sampleRate%1Label").arg(row)); }
    QToolButton *srcButton(int row) { return child<QToolButton>(QStringLiteral("src%1Button").arg(row)); }
    QCheckBox *syncBox(int row) { return child<QCheckBox>(QStringLiteral("sync%1CheckBox").arg(row)); }

    QStringList rateTexts()
    {
        QStringList texts;
        for (int row = 1; row <= AesPanel::InputCount; ++row)
            texts << rateLabel(row)->text();
        return texts;
    }
    // The rows whose sync box is ticked, counted from 1.
    QList<int> tickedRows()
    {
        QList<int> rows;
        for (int row = 1; row <= AesPanel::InputCount; ++row)
            if (syncBox(row)->isChecked())
                rows << row;
        return rows;
    }
    QStringList sentTexts()
    {
        QStringList texts;
        for (const QList<QVariant> &call : qAsConst(sent))
            texts << call.at(0).toString();
        return texts;
    }
    void reportSync(bool isAuto, quint8 source)
    {
        UiTest::deliver(&port, SyncSourceMessage, isAuto ? 1 : 0, QByteArray(1, char(source)));
    }
    void reportSrc(int input, bool on) { UiTest::deliver(&port, InputSrcMessage, input, QByteArray(1, char(on))); }

    KipPort port;
    AesPanel panel;
    QSignalSpy sent;
};

// Pixels drawn in a clear red: the text colour of a checked converter button.
int redPixels(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
                ++count;
        }
    }
    return count;
}

} // namespace

class AesPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void startsEmpty();
    void sampleRates_data();
    void sampleRates();
    void converterReports_data();
    void converterReports();
    void checkedConverterIsRed();
    void converterClickWaitsForTheCard();
    void syncBoxes_data();
    void syncBoxes();
    void syncClicks_data();
    void syncClicks();
    void secondSlot();
};

void AesPanelTest::startsEmpty()
{
    Bench bench;
    QCOMPARE(bench.rateTexts(), QStringList(QVector<QString>(8).toList()));
    for (int row = 1; row <= 8; ++row) {
        QVERIFY(bench.srcButton(row)->isChecked());
        QCOMPARE(bench.srcButton(row)->text(), QStringLiteral("ON"));
        QVERIFY(!bench.syncBox(row)->isChecked());
        QVERIFY(!bench.syncBox(row)->isHidden());
    }
    // The card status block carries nothing this panel shows.
    emit bench.port.kipCardStatusChanged(KipPort::Aes, QByteArray::fromHex("000000000000000000"));
    QVERIFY(bench.srcButton(1)->isChecked());
    QVERIFY(bench.sentTexts().isEmpty());
}

void AesPanelTest::sampleRates_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<QStringList>("texts");

    // Every row starts from 48000 on input 3 (row 4).
    const QString r = QStringLiteral("48000");
    QTest::newRow("44100 on input 2") << 2 << 44100u << QStringList{"", "", "44100", r, "", "", "", ""};
    QTest::newRow("first input") << 0 << 96000u << QStringList{"96000", "", "", r, "", "", "", ""};
    QTest::newRow("last input") << 7 << 192000u << QStringList{"", "", "", r, "", "", "", "192000"};
    QTest::newRow("rate 0 empties") << 3 << 0u << QStringList{"", "", "", "", "", "", "", ""};
    QTest::newRow("no separators") << 3 << 1234567u << QStringList{"", "", "", "1234567", "", "", "", ""};
    QTest::newRow("input 8 is no input") << 8 << 44100u << QStringList{"", "", "", r, "", "", "", ""};
    QTest::newRow("negative input") << -1 << 44100u << QStringList{"", "", "", r, "", "", "", ""};
}

void AesPanelTest::sampleRates()
{
    QFETCH(int, input);
    QFETCH(uint, rate);
    QFETCH(QStringList, texts);
    Bench bench;
    emit bench.port.inputSampleRateChanged(3, 48000);
    emit bench.port.inputSampleRateChanged(input, rate);
    QCOMPARE(bench.rateTexts(), texts);
}

void AesPanelTest::converterReports_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<bool>("conversion");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("text");

    QTest::newRow("input 0 off") << 0 << false << 1 << false << "OFF";
    QTest::newRow("input 7 off") << 7 << false << 8 << false << "OFF";
    QTest::newRow("input 4 on again") << 4 << true << 5 << true << "ON";
    // Out of range: nothing changes, row 8 shows as at the start.
    QTest::newRow("input 8") << 8 << false << 8 << true << "ON";
    QTest::newRow("input 255") << 255 << false << 8 << true << "ON";
}

void AesPanelTest::converterReports()
{
    QFETCH(int, input);
    QFETCH(bool, conversion);
    QFETCH(int, row);
    QFETCH(bool, checked);
    QFETCH(QString, text);
    Bench bench;
    bench.reportSrc(input, conversion);
    QCOMPARE(bench.srcButton(row)->isChecked(), checked);
    QCOMPARE(bench.srcButton(row)->text(), text);
    QVERIFY(bench.sentTexts().isEmpty());
}

void AesPanelTest::checkedConverterIsRed()
{
    Bench bench;
    bench.reportSrc(0, false);
    bench.reportSrc(1, true);
    QCOMPARE(redPixels(bench.srcButton(1)), 0);
    QVERIFY(redPixels(bench.srcButton(2)) > 0);
}

void AesPanelTest::converterClickWaitsForTheCard()
{
    Bench bench;
    bench.srcButton(3)->click(); // checked -> unchecked
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(InputSrcMessage, 2, QByteArray(1, '\0'))});
    QCOMPARE(bench.srcButton(3)->text(), QStringLiteral("ON"));

    bench.reportSrc(2, false);
    QCOMPARE(bench.srcButton(3)->text(), QStringLiteral("OFF"));

    bench.sent.clear();
    bench.srcButton(3)->click(); // unchecked -> checked
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(InputSrcMessage, 2, QByteArray(1, '\1'))});
    QCOMPARE(bench.srcButton(3)->text(), QStringLiteral("OFF"));
}

void AesPanelTest::syncBoxes_data()
{
    QTest::addColumn<bool>("isAuto");
    QTest::addColumn<int>("source");
    QTest::addColumn<QList<int>>("ticked");

    QTest::newRow("input 3 chosen") << false << 3 << QList<int>{4};
    QTest::newRow("input 3, automatic") << true << 3 << QList<int>{};
    QTest::newRow("input 0 chosen") << false << 0 << QList<int>{1};
    QTest::newRow("input 7 chosen") << false << 7 << QList<int>{8};
    QTest::newRow("word clock") << false << 254 << QList<int>{};
    QTest::newRow("free run") << false << 253 << QList<int>{};
    QTest::newRow("input 8: none of ours") << false << 8 << QList<int>{};
}

void AesPanelTest::syncBoxes()
{
    QFETCH(bool, isAuto);
    QFETCH(int, source);
    QFETCH(QList<int>, ticked);
    Bench bench;
    bench.reportSync(false, 5); // box 6 ticked before
    QCOMPARE(bench.tickedRows(), QList<int>{6});
    bench.reportSync(isAuto, quint8(source));
    QCOMPARE(bench.tickedRows(), ticked);
}

void AesPanelTest::syncClicks_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("frame"); // param, then the source byte

    // Box 2 is ticked at the start of every row.
    QTest::newRow("tick box 6") << 6 << QByteArray::fromHex("0005");
    QTest::newRow("tick box 1") << 1 << QByteArray::fromHex("0000");
    QTest::newRow("untick box 2: automatic") << 2 << QByteArray::fromHex("01ff");
}

void AesPanelTest::syncClicks()
{
    QFETCH(int, row);
    QFETCH(QByteArray, frame);
    Bench bench;
    bench.reportSync(false, 1);
    bench.sent.clear();
    bench.syncBox(row)->click();
    QCOMPARE(bench.sentTexts(), QStringList{UiTest::sentText(SyncSourceMessage, frame.at(0), frame.mid(1))});
    // Box 2 is not unticked by the click; the card's report decides.
    if (row != 2)
        QVERIFY(bench.syncBox(2)->isChecked());
}

void AesPanelTest::secondSlot()
{
    Bench master(0);
    Bench slave(1);
    QVERIFY(slave.child<QLabel>("syncToLabel")->isHidden());
    for (int row = 1; row <= 8; ++row)
        QVERIFY(slave.syncBox(row)->isHidden());
    QVERIFY(!master.child<QLabel>("syncToLabel")->isHidden());
    QCOMPARE(slave.child<QLabel>("convertLabel")->x(), master.child<QLabel>("convertLabel")->x() + 8);

    emit slave.port.inputSampleRateChanged(1, 44100);
    QCOMPARE(slave.rateLabel(2)->text(), QStringLiteral("44100"));
    slave.reportSrc(1, false);
    QCOMPARE(slave.srcButton(2)->text(), QStringLiteral("OFF"));
    slave.srcButton(2)->click();
    QCOMPARE(slave.sentTexts(), QStringList{UiTest::sentText(InputSrcMessage, 1, QByteArray(1, '\1'))});
}

QTEST_MAIN(AesPanelTest)
#include "tst_aespanel.moc"
