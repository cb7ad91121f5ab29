#pragma once

#include "ui/cardpanel.h"

namespace Ui {
class HydraPanel;
}

namespace EMS {

// The panel of a Hydra card: received rate and lock, the card's Hydra network ID
// (1 to 255, taken by the card at its next power cycle) and, on the master slot, the
// sync source with a warning that a Hydra card belongs in the slave slot.
class HydraPanel : public CardPanel
{
    Q_OBJECT

public:
    static constexpr int MaxHydraId = 255;

    HydraPanel(KipPort *port, QWidget *parent);
    ~HydraPanel() override;

    // The ID list position a Hydra card status block names: ID k sits at k - 1, so ID 0
    // gives -1 (no selection). Returns false for a block too short to name an ID.
    static bool idIndexFromCardStatus(const QByteArray &data, int *index);

public slots:
    void receiveCardStatus(KipPort::KipCardType cardType, QByteArray data) override;
    void receiveInputSampleRate(int port, uint sampleRate) override;
    void receiveClockLocked(int port, bool receiveLocked);
    void receiveSyncSource(QString syncName, bool syncAuto);

private slots:
    void on_idComboBox_activated(int index);
    void on_syncAutoButton_clicked();
    void on_syncWordClockButton_clicked();
    void on_syncHydraButton_clicked();

private:
    Ui::HydraPanel *ui;
};

} // namespace EMS
