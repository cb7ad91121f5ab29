#pragma once

#include "ui/cardpanel.h"

class QCheckBox;
class QToolButton;

namespace Ui {
class AesPanel;
}

namespace EMS {

// The panel of an AES card: per input the rate the card measures, the sample-rate
// converter switch and, on the master slot only, the choice of that input as the card's
// clock. Inputs are 0 to 7 towards the card port; row N of the panel is input N - 1.
class AesPanel : public CardPanel
{
    Q_OBJECT

public:
    static constexpr int InputCount = 8;

    AesPanel(KipPort *port, QWidget *parent);
    ~AesPanel() override;

public slots:
    void receiveCardStatus(KipPort::KipCardType cardType, QByteArray data) override;
    void receiveInputSampleRate(int port, uint sampleRate) override;
    void updateSyncSource(QString syncName, bool syncAuto);
    void updateSRC(int port, bool conversion);

private slots:
    void on_src1Button_clicked(bool checked);
    void on_src2Button_clicked(bool checked);
    void on_src3Button_clicked(bool checked);
    void on_src4Button_clicked(bool checked);
    void on_src5Button_clicked(bool checked);
    void on_src6Button_clicked(bool checked);
    void on_src7Button_clicked(bool checked);
    void on_src8Button_clicked(bool checked);
    void on_sync1CheckBox_clicked(bool checked);
    void on_sync2CheckBox_clicked(bool checked);
    void on_sync3CheckBox_clicked(bool checked);
    void on_sync4CheckBox_clicked(bool checked);
    void on_sync5CheckBox_clicked(bool checked);
    void on_sync6CheckBox_clicked(bool checked);
    void on_sync7CheckBox_clicked(bool checked);
    void on_sync8CheckBox_clicked(bool checked);

private:
    static bool isInput(int input) { return uint(input) < uint(InputCount); }

    void sendConvert(int input, bool on);
    void sendSyncTo(int input, bool chosen);
    QToolButton *srcButton(int input) const;
    QCheckBox *syncCheckBox(int input) const;

    Ui::AesPanel *ui;
};

} // namespace EMS
