// An Optocore card beside a MADI card, through the main window in real time: the module's
// request chain on connection; fibre speed, network ID and channel counts reach the module.
#include "support/uitestsupport.h"

#include "app/mainwindow.h"
#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"
#include "ui/optocorepanel.h"

#include <QComboBox>
#include <QToolButton>
#include <QtTest>

using namespace EMS;

class OptocoreEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void optocoreBesideMadi()
    {
        constexpr int Timeout = 5000;
        UiTest::SettingsSandbox sandbox;
        CardSimulator optocoreCard, madiCard;
        optocoreCard.firmware().resetState(KipPort::Optocore);
        OptocoreState &module = optocoreCard.firmware().state().optocore;
        module.networkId = 12;
        module.inserted[0] = 32;
        madiCard.firmware().resetState(KipPort::MadiBnc);
        madiCard.firmware().state().master = false;
        UiTest::FakeAdapters adapters;
        adapters.entries = {UiTest::ftdiAdapter(optocoreCard.portName()), UiTest::ftdiAdapter(madiCard.portName())};
        MainWindow window(nullptr, adapters.lister());
        KipForm *form = window.slotForm(0);
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<OptocorePanel *>(form->cardPanel()), Timeout);
        auto *panel = qobject_cast<OptocorePanel *>(form->cardPanel());
        const auto combo = [panel](const char *name) { return panel->findChild<QComboBox *>(name); };
        const auto button = [panel](const char *name) { return panel->findChild<QToolButton *>(name); };
        const auto choose = [](QComboBox *box, const QString &text) {
            box->setCurrentIndex(box->findText(text));
            QMetaObject::invokeMethod(box, "activated", Q_ARG(int, box->currentIndex()));
        };
        // The chain on connection: ID, settings block, then the 0xF0 register written.
        QTRY_COMPARE_WITH_TIMEOUT(combo("idComboBox")->currentText(), QStringLiteral("13"), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(module.registerF0, quint8(0x32), Timeout);
        QCOMPARE(panel->storedSettings(), module.settings);
        QTRY_COMPARE_WITH_TIMEOUT(panel->otherSlotCardType(), KipPort::MadiBnc, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(combo("insertingComboBox")->currentText(), QStringLiteral("32"), Timeout);
        button("fibreSpeed2Button")->click();
        QTRY_COMPARE_WITH_TIMEOUT(quint8(module.settings.at(4)), quint8(1), Timeout);
        QCOMPARE(quint8(module.settings.at(12)), quint8(0x7E));
        QTRY_VERIFY_WITH_TIMEOUT(!button("fibreSpeed1Button")->isChecked(), Timeout); // by the module's answer
        choose(combo("idComboBox"), QStringLiteral("15")); // ID 14 in the module
        QTRY_COMPARE_WITH_TIMEOUT(module.networkId, quint8(14), Timeout);
        choose(combo("extractingBComboBox"), QStringLiteral("24"));
        QTRY_COMPARE_WITH_TIMEOUT(module.extracted[1], quint8(24), Timeout);
        // Counts changed on the card show after its next card status.
        module.inserted[0] = 48;
        form->cardPort()->requestCardStatus();
        QTRY_COMPARE_WITH_TIMEOUT(combo("insertingComboBox")->currentText(), QStringLiteral("48"), Timeout);
    }
};

QTEST_MAIN(OptocoreEndToEndTest)
#include "tst_e2e_optocore.moc"
