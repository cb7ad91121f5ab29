#include "ui/cardpanel.h"

#include "ui_cardpanel.h"

#include <QAbstractButton>

namespace EMS {

CardPanel::CardPanel(KipPort *port, QWidget *parent)
    : QWidget(parent)
    , port(port)
    , ui(new Ui::CardPanel)
{
    ui->setupUi(this);
    if (port) {
        // The slots are virtual, so the reports reach the derived panel's overrides.
        connect(port, &KipPort::kipCardStatusChanged, this, &CardPanel::receiveCardStatus);
        connect(port, &KipPort::inputSampleRateChanged, this, &CardPanel::receiveInputSampleRate);
    }
}

CardPanel::~CardPanel()
{
    delete ui;
}

void CardPanel::requestSyncSource(int source)
{
    if (port)
        port->sendSyncSource(static_cast<signed char>(source));
}

void CardPanel::showNetworkSyncSource(QAbstractButton *autoButton, QAbstractButton *wordClockButton,
                                      QAbstractButton *networkButton) const
{
    if (!port)
        return;
    const bool isAuto = port->syncAuto();
    const quint8 source = port->syncSource();
    autoButton->setChecked(isAuto);
    wordClockButton->setChecked(!isAuto && source == ReportedWordClock);
    networkButton->setChecked(!isAuto && source == NetworkInput);
}

} // namespace EMS
