#pragma once

#include "ui/cardpanel.h"

#include <QString>

class QAbstractButton;
class QCheckBox;
class QPlainTextEdit;
class QTableWidget;
class QLabel;

namespace Ui {
class MadiPanel;
}

namespace EMS {

// The panel of the two MADI card types. Port A is port 0, port B port 1. It keeps a
// display model of each port, filled only from the card's reports; its controls send
// commands and are set again from the card's next report.
class MadiPanel : public CardPanel
{
    Q_OBJECT

public:
    MadiPanel(KipPort *port, QWidget *parent);
    ~MadiPanel() override;

    // Display texts of the card's one-byte codes.
    static QString channelsText(quint8 channelByte);
    static QString rackTypeText(int rackType);
    static QString rackCardTypeText(int cardType);
    QString deviceTypeText(int madiPort) const;
    QString transmitTrackingText(int madiPort) const;

public slots:
    void receiveCardStatus(KipPort::KipCardType cardType, QByteArray data) override;
    void receiveInputSampleRate(int port, uint sampleRate) override;
    void receiveSyncSource(QString syncName, bool syncAuto);
    void receiveMadiTransmitStatus(int madiPort, int transmitMode, bool tracksReceived);
    void receiveDeviceType(int madiPort, KipPort::DeviceType deviceType);
    void receiveRackType(int madiPort, KipPort::RackType rackType);
    void receiveRackSlot(int madiPort, int slot, KipPort::RackCardType cardType);
    void receiveRackCodeDate(int madiPort, uchar day, uchar month, ushort year);
    void receiveRackVoltage(int madiPort, int psu, int nominalVolts, float voltage);
    void receiveControlViaAudio(int madiPort, bool controlViaAudio);
    void receiveClockLocked(int madiPort, bool receiveLocked);
    void receiveMadiPortMode(KipPort::MadiPortMode portMode);
    void receiveMadiSmux(int madiPort, bool smux);

private slots:
    void on_syncAutoButton_clicked();
    void on_syncWordClockButton_clicked();
    void on_syncMadiAButton_clicked();
    void on_syncMadiBButton_clicked();
    void on_aTxModeAutoButton_clicked();
    void on_aTxMode57Button_clicked();
    void on_aTxMode64Button_clicked();
    void on_bTxModeAutoButton_clicked();
    void on_bTxMode57Button_clicked();
    void on_bTxMode64Button_clicked();
    void on_aControlViaAudioCheckBox_clicked(bool checked);
    void on_bControlViaAudioCheckBox_clicked(bool checked);
    void on_aSmuxCheckBox_clicked(bool checked);
    void on_bSmuxCheckBox_clicked(bool checked);

private:
    static bool isMadiPort(int madiPort) { return madiPort == 0 || madiPort == 1; }
    static bool isSingleRate(quint32 sampleRate) { return sampleRate >= 1 && sampleRate <= 49999; }

    void emitLockState(int madiPort);
    void displayMadiPort(int madiPort);
    void updateSyncButtons();
    void updateTransmitButtons();
    void setupRackSlots(int madiPort);
    void numberRackSlots(int madiPort, int first, int second);
    void setRackSlotText(int madiPort, int slot, int cardType);
    void clearPsuVoltages(int madiPort);
    void setPsuVoltage(int madiPort, int supply, int rail, float voltage);
    void resetRack(int madiPort);

    QPlainTextEdit *textEdit(int madiPort) const;
    QCheckBox *smuxCheckBox(int madiPort) const;
    QTableWidget *slotsTable(int madiPort) const;
    QLabel *slotsLabel(int madiPort) const;
    QTableWidget *psuTable(int madiPort) const;

    Ui::MadiPanel *ui;
    quint8 rxChannels[2] = {0, 0};
    quint8 txChannels[2] = {0, 0};
    bool txTracksRx[2] = {true, true};
    quint32 rxSampleRate[2] = {0, 0};
    int deviceType[2] = {KipPort::DeviceNone, KipPort::DeviceNone};
    KipPort::RackType rackType[2] = {0, 0};
    QString rackCodeDate[2];
    bool rxLocked[2] = {false, false};
    KipPort::MadiPortMode madiPortMode = 1;
};

} // namespace EMS
