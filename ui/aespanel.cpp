#include "ui/aespanel.h"

#include "common/logcategories.h"
#include "ui/framefont.h"
#include "ui_aespanel.h"

#include <QDebug>
#include <QLabel>

namespace EMS {

AesPanel::AesPanel(KipPort *port, QWidget *parent)
    : CardPanel(port, parent)
    , ui(new Ui::AesPanel)
{
    ui->setupUi(this);
    passFrameFontDown(ui->frame);

    if (port && port->slotIndex() > 0) {
        // Only the master slot's card decides the box's clock.
        ui->syncToLabel->hide();
        for (int input = 0; input < InputCount; ++input)
            syncCheckBox(input)->hide();
        // Without the sync column the converter buttons sit further right.
        ui->convertLabel->move(ui->convertLabel->x() + 8, ui->convertLabel->y());
    }

    if (!port)
        return;
    connect(port, &KipPort::kipSyncSourceChanged, this, &AesPanel::updateSyncSource);
    connect(port, &KipPort::inputSRCChanged, this, &AesPanel::updateSRC);
}

AesPanel::~AesPanel()
{
    delete ui;
}

void AesPanel::receiveCardStatus(KipPort::KipCardType, QByteArray)
{
    // The converter states arrive one by one as "input src" reports; the block adds
    // nothing this panel shows.
}

void AesPanel::receiveInputSampleRate(int port, uint sampleRate)
{
    if (!isInput(port))
        return;
    QLabel *label = findChild<QLabel *>(QStringLiteral("sampleRate%1Label").arg(port + 1));
    if (!label)
        return;
    if (sampleRate == 0) {
        label->clear();
        return;
    }
    qCDebug(lcUi) << "InputSampleRate" << sampleRate;
    label->setText(QString::number(sampleRate));
}

void AesPanel::updateSyncSource(QString, bool syncAuto)
{
    const int source = port ? int(port->syncSource()) : -1;
    for (int input = 0; input < InputCount; ++input)
        syncCheckBox(input)->setChecked(!syncAuto && source == input);
}

void AesPanel::updateSRC(int port, bool conversion)
{
    if (!isInput(port))
        return;
    QToolButton *button = srcButton(port);
    button->setChecked(conversion);
    button->setText(conversion ? tr("ON") : tr("OFF"));
}

void AesPanel::on_src1Button_clicked(bool checked) { sendConvert(0, checked); }
void AesPanel::on_src2Button_clicked(bool checked) { sendConvert(1, checked); }
void AesPanel::on_src3Button_clicked(bool checked) { sendConvert(2, checked); }
void AesPanel::on_src4Button_clicked(bool checked) { sendConvert(3, checked); }
void AesPanel::on_src5Button_clicked(bool checked) { sendConvert(4, checked); }
void AesPanel::on_src6Button_clicked(bool checked) { sendConvert(5, checked); }
void AesPanel::on_src7Button_clicked(bool checked) { sendConvert(6, checked); }
void AesPanel::on_src8Button_clicked(bool checked) { sendConvert(7, checked); }
void AesPanel::on_sync1CheckBox_clicked(bool checked) { sendSyncTo(0, checked); }
void AesPanel::on_sync2CheckBox_clicked(bool checked) { sendSyncTo(1, checked); }
void AesPanel::on_sync3CheckBox_clicked(bool checked) { sendSyncTo(2, checked); }
void AesPanel::on_sync4CheckBox_clicked(bool checked) { sendSyncTo(3, checked); }
void AesPanel::on_sync5CheckBox_clicked(bool checked) { sendSyncTo(4, checked); }
void AesPanel::on_sync6CheckBox_clicked(bool checked) { sendSyncTo(5, checked); }
void AesPanel::on_sync7CheckBox_clicked(bool checked) { sendSyncTo(6, checked); }
void AesPanel::on_sync8CheckBox_clicked(bool checked) { sendSyncTo(7, checked); }

void AesPanel::sendConvert(int input, bool on)
{
    // The button's text stays until the card confirms with "input src".
    if (port)
        port->sendAesInputConvert(uchar(input), on ? 1 : 0);
}

void AesPanel::sendSyncTo(int input, bool chosen)
{
    // Dropping the chosen input hands the choice back to the card. The other boxes
    // follow the card's sync source report.
    requestSyncSource(chosen ? input : SyncAuto);
}

QToolButton *AesPanel::srcButton(int input) const
{
    QToolButton *const buttons[InputCount] = {ui->src1Button, ui->src2Button, ui->src3Button, ui->src4Button,
                                              ui->src5Button, ui->src6Button, ui->src7Button, ui->src8Button};
    return buttons[input];
}

QCheckBox *AesPanel::syncCheckBox(int input) const
{
    QCheckBox *const boxes[InputCount] = {ui->sync1CheckBox, ui->sync2CheckBox, ui->sync3CheckBox,
                                          ui->sync4CheckBox, ui->sync5CheckBox, ui->sync6CheckBox,
                                          ui->sync7CheckBox, ui->sync8CheckBox};
    return boxes[input];
}

} // namespace EMS
