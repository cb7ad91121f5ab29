// Both slots on living simulated cards through the program's own main window, for a
// stretch of real time: temperatures drift and locks come and go many times a second,
// and the user changes the master's sync source every 1.5 s. Memory, descriptors and
// objects are sampled; after the warm-up none of them may grow.
// SABLEFOLD_SOAK_SECONDS sets the length in seconds (90 by default).
#include "support/faultrig.h"
#include "support/uitestsupport.h"

#include "app/mainwindow.h"
#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPixmapCache>
#include <QSignalSpy>
#include <QtTest>

using EMS::KipForm;
using EMS::KipPort;
using FaultTest::SimulatedCards;

namespace {

constexpr int DefaultSoakSeconds = 90, WarmUpMs = 15000, SampleEveryMs = 5000;
constexpr int LifeTickMs = 25; // forty seconds of a card's life each second
constexpr int SyncChangeEveryMs = 1500;
// Qt's style pixmap cache is bounded by design; held small, what grows is the program's.
constexpr int StyleCacheKb = 256;
// Descriptors and the window's objects must not change; the heap and short-lived objects may.
constexpr qint64 ResidentToleranceKb = 2048;
constexpr int TransientObjects = 16;

struct Sample
{
    qint64 atMs = 0;
    FaultTest::ProcessFigures process;
    int windowObjects = 0, farEndObjects = 0, aliveObjects = 0;
    int received[2] = {0, 0};
    QString describe() const
    {
        return QString::asprintf("t=%lldms rss=%lldkB fds=%d objects %d/%d/%d", atMs, process.residentKb,
                                 process.fileDescriptors, windowObjects, farEndObjects, aliveObjects);
    }
};

int soakSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("SABLEFOLD_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : DefaultSoakSeconds;
}
QString labelText(KipForm *form, const char *name) { return form->findChild<QLabel *>(QLatin1String(name))->text(); }
bool showsCard(KipForm *form, int cardType)
{
    KipPort *port = form->cardPort();
    return port->linkState() == KipPort::LinkConnected && port->cardType() == cardType
        && labelText(form, "cardTypeLabel") == KipForm::cardDisplayName(KipPort::KipCardType(cardType));
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

    UiTest::SettingsSandbox sandbox;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        qRegisterMetaType<QSerialPort::SerialPortError>();
    }
    void bothSlotsOnLivingCards()
    {
        QPixmapCache::setCacheLimit(StyleCacheKb);
        const bool countingObjects = FaultTest::startCountingObjects();
        const int cardTypes[2] = {KipPort::MadiBnc, KipPort::Optocore};
        SimulatedCards cards({cardTypes[0], cardTypes[1]});
        MainWindow window(nullptr, cards.lister());
        window.show();
        KipForm *forms[2] = {window.slotForm(0), window.slotForm(1)};
        KipPort *ports[2] = {forms[0]->cardPort(), forms[1]->cardPort()};
        QTRY_VERIFY_WITH_TIMEOUT(showsCard(forms[0], cardTypes[0]) && showsCard(forms[1], cardTypes[1]), 15000);
        for (int slot = 0; slot < 2; ++slot) {
            CardFirmware &firmware = cards.card(slot).firmware();
            firmware.setLivingSeed(quint32(slot + 1));
            firmware.livingTimer()->setInterval(LifeTickMs);
            firmware.setLiving(true);
        }
        QSignalSpy lost0(ports[0], &KipPort::kipCardTypeChanged), lost1(ports[1], &KipPort::kipCardTypeChanged);
        // The user switches the master between word clock and automatic.
        int syncChanges = 0;
        QTimer syncChanger;
        connect(&syncChanger, &QTimer::timeout, this, [&] { ports[0]->sendSyncSource(++syncChanges % 2 ? -2 : -1); });
        syncChanger.start(SyncChangeEveryMs);
        const int durationMs = soakSeconds() * 1000;
        QVector<Sample> samples;
        QStringList shownWrongly;
        QElapsedTimer clock;
        QEventLoop loop;
        const auto takeSample = [&] {
            Sample sample{clock.elapsed(), FaultTest::processFigures(), FaultTest::objectCount(&window),
                          FaultTest::objectCount(&cards.farEnd()), FaultTest::objectsAlive()};
            for (int slot = 0; slot < 2; ++slot) {
                sample.received[slot] = ports[slot]->messagesReceivedCount();
                // The form shows the temperature of the port's last card report.
                if (labelText(forms[slot], "temperatureLabel") != QStringLiteral("%1°C").arg(ports[slot]->hardwareStatus().temperature))
                    shownWrongly << QStringLiteral("slot %1 at %2 ms").arg(slot).arg(sample.atMs);
            }
            samples.append(sample);
            qInfo().noquote() << sample.describe();
            if (sample.atMs >= durationMs)
                loop.quit();
        };
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, takeSample);
        clock.start();
        takeSample();
        sampler.start(SampleEveryMs);
        loop.exec();
        syncChanger.stop();
        QVERIFY2(samples.size() >= 3, "the soak must run past its warm-up: raise SABLEFOLD_SOAK_SECONDS");
        int first = 0;
        while (first < samples.size() - 1 && samples.at(first).atMs < WarmUpMs)
            ++first;
        const Sample &baseline = samples.at(first), &last = samples.last();
        // Both cards stayed, their reports kept coming, and the forms showed them.
        QCOMPARE(lost0.count() + lost1.count(), 0);
        QVERIFY2(shownWrongly.isEmpty(), qPrintable(shownWrongly.join(", ")));
        for (int slot = 0; slot < 2; ++slot) {
            QVERIFY(showsCard(forms[slot], cardTypes[slot]));
            QVERIFY2(last.received[slot] - baseline.received[slot] > (last.atMs - baseline.atMs) / 1000, "fewer reports than one a second");
        }
        // The last setting reached the card, and the card's report of it reached the port.
        const bool wordClock = syncChanges % 2 == 1;
        const CardState &master = cards.card(0).firmware().state();
        QTRY_COMPARE_WITH_TIMEOUT(master.syncAuto, !wordClock, 3000);
        if (wordClock)
            QCOMPARE(int(master.syncSource), 254);
        QTRY_COMPARE_WITH_TIMEOUT(ports[0]->syncAuto(), !wordClock, 3000);
        for (const Sample &sample : samples.mid(first)) {
            QCOMPARE(sample.process.fileDescriptors, baseline.process.fileDescriptors);
            QCOMPARE(sample.windowObjects, baseline.windowObjects);
            QCOMPARE(sample.farEndObjects, baseline.farEndObjects);
            if (countingObjects)
                QVERIFY2(qAbs(sample.aliveObjects - baseline.aliveObjects) <= TransientObjects, qPrintable(sample.describe()));
        }
        QVERIFY2(last.process.residentKb - baseline.process.residentKb <= ResidentToleranceKb,
                 qPrintable(QStringLiteral("resident memory grew by %1 kB").arg(last.process.residentKb - baseline.process.residentKb)));
    }
};

int main(int argc, char **argv)
{
    // Qt Test ends a test function after five minutes unless told otherwise.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 120) * 1000));
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SoakTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
