#pragma once

#include "link/kipport.h"

#include <QByteArray>
#include <QWidget>

class QAbstractButton;

namespace Ui {
class CardPanel;
}

namespace EMS {

// The common base of the card panels that the slot form shows for a card type. It binds
// the panel to the slot's card port and feeds it the two reports every panel needs;
// the panel reports the receive lock of its inputs for the main window's strip.
class CardPanel : public QWidget
{
    Q_OBJECT

public:
    CardPanel(KipPort *port, QWidget *parent);
    ~CardPanel() override;

    KipPort *cardPort() const { return port; }

signals:
    void syncLockStateChanged(int port, EMS::SyncLockState lockState);

public slots:
    // The payload of the card's "card status" reply; each panel decodes what it needs.
    virtual void receiveCardStatus(KipPort::KipCardType cardType, QByteArray data) = 0;
    // Measured rate of one card input (a MADI port, an AES input), counted from 0, in Hz.
    virtual void receiveInputSampleRate(int port, uint sampleRate) = 0;

protected:
    // Sync source codes that every card takes besides its own inputs.
    static constexpr int SyncAuto = -1;
    static constexpr int SyncWordClock = -2;
    // The code a card reports while it follows word clock.
    static constexpr quint8 ReportedWordClock = 254;
    // A network card (Optocore, Dante, Hydra) has one input to take its clock from.
    static constexpr int NetworkInput = 0;

    // Asks the card for a sync source; the panel shows it only once the card reports it.
    void requestSyncSource(int source);
    // Checks the one of a network card's three sync buttons that the card last reported.
    void showNetworkSyncSource(QAbstractButton *autoButton, QAbstractButton *wordClockButton,
                               QAbstractButton *networkButton) const;

    KipPort *port;

private:
    Ui::CardPanel *ui;
};

} // namespace EMS
