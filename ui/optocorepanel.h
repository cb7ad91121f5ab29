#pragma once

#include "ui/cardpanel.h"

#include <QByteArray>

class QComboBox;

namespace Ui {
class OptocorePanel;
}

namespace EMS {

// The panel of the network cards. On a Dante card it shows the received rate and lock
// and offers the sync source. On an Optocore card it also runs the Optocore module's
// settings (network ID, fibre speed) through the card's "Optocore command" channel,
// reading ID, settings block and the 0xF0 register in a chain in which each reply asks
// for the next, and it sets how many channels of the other slot's card go into and come
// out of the fibre ring, per MADI port A (0) and B (1).
class OptocorePanel : public CardPanel
{
    Q_OBJECT

public:
    // Codes of the module's messages: reads and their replies carry the read code.
    enum ModuleCode : quint8 {
        NetworkIdCode = 0x80,
        SettingsCode = 0xE0,
        RegisterF0Code = 0xF0,
        WriteSettingsCode = 0x60,
        WriteRegisterF0Code = 0x70,
    };
    // The value the controller keeps in the module's 0xF0 register.
    static constexpr quint8 RegisterF0Value = 0x32;
    static constexpr int FirstNetworkId = 10;
    static constexpr int PortA = 0;
    static constexpr int PortB = 1;

    // How the channel count lists look for the card in the other slot.
    struct ChannelCountPlan
    {
        int inputs = 0;           // channels the inserting lists offer, "0" to inputs
        int outputs = 0;          // channels the extracting lists offer
        bool madiModeChoice = false; // the MADI mode buttons are offered
        bool portBInUse = false;  // port B's lists are shown and used
    };
    static ChannelCountPlan channelCountPlan(KipPort::KipCardType otherCardType, quint32 systemSampleRate,
                                             bool twoPortMode);

    // Decoding of the module's replies; each refuses what is too short to hold its value.
    // The reply's code, or -1 for a reply shorter than its length and code bytes.
    static int replyCode(const QByteArray &reply);
    // The ID list position a 0x80 reply names (ID 10 is the first item), -1 when the
    // ID is outside the list; false for a reply without its value byte.
    static bool networkIdIndex(const QByteArray &reply, int *index);
    // A 0xE0 reply cut to the length in its byte 0 (empty for a negative length).
    static QByteArray settingsBlock(const QByteArray &reply);
    // The fibre speed in a settings block (0 = 1 Gb, 1 = 2 Gb), -1 when the block is
    // too short to hold it.
    static int fibreSpeed(const QByteArray &settings);
    // The block written back to the module to set the fibre speed.
    static QByteArray fibreSpeedBlock(QByteArray settings, int speed);

    OptocorePanel(KipPort *port, QWidget *parent, KipPort::KipCardType otherCardType);
    ~OptocorePanel() override;

    QByteArray storedSettings() const { return optocoreSettings; }
    KipPort::KipCardType otherSlotCardType() const { return otherCardType; }

public slots:
    void receiveCardStatus(KipPort::KipCardType cardType, QByteArray data) override;
    void receiveInputSampleRate(int port, uint sampleRate) override;
    void receiveSystemSampleRate(int sampleRate);
    void receiveOtherCardType(KipPort::KipCardType cardType);
    void receiveSyncSource(QString syncName, bool syncAuto);
    void receiveClockLocked(int port, bool receiveLocked);
    void receiveOptocoreMessage(QByteArray data);
    void receiveOptocoreChannelCounts(uchar madiPort, uchar inserted, uchar extracted);

private slots:
    void on_idComboBox_activated(int index);
    void on_syncAutoButton_clicked();
    void on_syncWordClockButton_clicked();
    void on_syncExternalButton_clicked();
    void on_fibreSpeed1Button_clicked();
    void on_fibreSpeed2Button_clicked();
    void on_clockDecButton_clicked();
    void on_clockIncButton_clicked();
    void on_insertingComboBox_activated(int index);
    void on_extractingComboBox_activated(int index);
    void on_insertingBComboBox_activated(int index);
    void on_extractingBComboBox_activated(int index);
    void on_madiMode1Button_clicked(bool checked);
    void on_madiMode2Button_clicked(bool checked);

private:
    bool isOptocoreCard() const;
    quint32 systemSampleRate() const;
    void sendOptocoreRequest(quint8 code);
    void showFibreSpeed();
    void sendFibreSpeed(int speed);
    void updateChannelCountLists();
    static void fillChannelCountCombo(QComboBox *combo, int count);
    void sendChannelCounts(int madiPort);
    QComboBox *insertingCombo(int madiPort) const;
    QComboBox *extractingCombo(int madiPort) const;

    Ui::OptocorePanel *ui;
    QByteArray optocoreSettings;
    KipPort::KipCardType otherCardType;
};

} // namespace EMS
