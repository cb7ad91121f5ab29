#pragma once

#include "sim/cardframereader.h"
#include "sim/optocoremodule.h"
#include "sim/packetsequence.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QRandomGenerator>
#include <QVector>

class QTimer;

// The rack at the far end of a MADI port.
struct RackState
{
    static constexpr int SlotCount = 14;
    static constexpr int SupplyCount = 2;
    static constexpr int RailCount = 4; // +5, +7, +15, -15 volts

    quint8 type = 2;                    // rack type code, 1 to 6 in use
    quint8 slotCards[SlotCount] = {};   // rack card code per slot, 0 = empty
    quint8 codeDay = 7;
    quint8 codeMonth = 3;
    quint16 codeYear = 2014;
    // Measured volts in tenths per supply and rail; 0 = not fitted (not reported).
    quint8 voltageTenths[SupplyCount][RailCount] = {};

    // A rack of this type with some cards and both supplies near their nominal volts.
    static RackState typical(quint8 type);
    // The slot numbers (from 0) a rack of this type has; none for unknown types.
    static QVector<int> slotsOf(quint8 type);
    static qint8 nominalVolts(int rail);
};

// One MADI port of a MADI card, beyond its input rate and lock.
struct MadiPortState
{
    quint8 rxChannels = 0;  // channel byte received: bits 0-6 the count, bit 7 a 96k stream; 0 = none
    bool txTracksRx = true; // transmit the received format ("Auto")
    quint8 txChannels = 64; // transmit format when not tracking: 57 or 64
    bool smux = false;
    bool controlViaAudio = false;
    quint8 deviceType = 0;  // 0 none, 1 rack, 2 console, 3 generic
    quint8 redundantState = 0;
    RackState rack;         // meaningful while deviceType is 1
};

// One input of the card: a MADI port, an AES input, or the network input of an
// Optocore, Dante, Hydra or Waves card.
struct InputState
{
    quint32 sampleRate = 0;
    bool locked = false;
};

// Everything the card's application knows about itself. Tests may change it through
// CardFirmware::state() without any report; the setters of CardFirmware report the
// change to the host as the card would.
struct CardState
{
    int cardType = 20; // KipPort::KipCardType code
    quint8 firmwareVersion = 12;
    quint8 temperature = 42;
    QByteArray fpgaVersion = "2014/05/12"; // sent as its first 10 bytes, zero-padded
    quint32 sampleRate = 48000;
    bool master = true;
    quint8 syncSource = 255; // the source chosen by the host when not automatic
    bool syncAuto = true;
    QVector<InputState> inputs;
    MadiPortState madi[2];
    quint8 madiPortMode = 1; // 0 single port (B off), 1 both ports
    quint8 sampleRateOverride = 0;
    bool aesSrc[8] = {true, true, true, true, true, true, true, true};
    quint8 aesOutputRate = 0;
    quint8 hydraId = 1;
    QMap<quint16, quint16> routes; // destination address -> source address
    OptocoreState optocore;
};

// The application firmware of an interface card: what answers the controller's framed
// messages once the boot loader has started the application. CardSimulator owns one,
// feeds it the host's bytes and writes bytesToHost() to the link.
//
// Wire behaviour:
// - AutoBaud (55 55) is answered with the single byte AA, the boot loader's
//   not-boot-loader code, so the controller's probe finds a running application.
// - A frame the card cannot take (see CardFrameReader) is answered with "error"
//   (03 02 00 05); input is then ignored until a run of zero bytes.
// - "clear to send" goes out after every 256 bytes taken from the link, counting
//   every byte (frames, idle zeros, ignored junk), so the host's 512-byte send gate
//   always reopens.
// - Commands for something the card does not have (a MADI command on an AES card, a
//   port or input beyond the card's) are taken and ignored without an answer.
//
// Answers and reports, by request type:
//   30 kip status     18-byte payload: card type, firmware version, temperature, FPGA
//                     text (10 bytes, zero-padded), sample rate (32-bit, LSB first),
//                     master flag.
//   38 card status    38 with param = card type and the block below, then the card's
//                     input reports: 37 rate and 51 lock per input; on a MADI card 35,
//                     55, 44, 54 per port, 53 and 52; on an AES card 45 per input; on
//                     an Optocore card 58 per port; and 33 sync source. A panel opened
//                     after the card was found fills in from this without waiting for
//                     a change.
//   37 input sample rate   one 37 per input: param = input, rate 32-bit LSB first.
//   36 device type    on a MADI card: 36 per port with the device code; for a rack also
//                     40 rack type, 41 per slot the rack type has (slot, card code), 42
//                     code date (BCD day, month, century, year), 43 per fitted supply
//                     and rail (supply, nominal volts signed, measured tenths).
//   33 sync source    33 with param = auto flag and the source in use. In automatic
//                     mode the card picks the first locked input, else its own clock
//                     (255); a manual choice of a source the card does not have (other
//                     than 253 free run, 254 word clock, 255 own clock) is refused and
//                     the current choice reported.
//   35 transmit mode  35 per port: track flag, then the format sent; while tracking
//                     that is the received channel byte (64 while nothing comes in).
//                     Formats other than 0, 57 and 64 are refused.
//   44 / 45 / 52 / 53 / 54 / 55   stored and reported in the same type (53 takes only
//                     0 and 1).
//   46 output sr, 32 kip route, 57 Optocore phase   stored; the card has no report.
//   56 Hydra id       on a Hydra card: stored (1 to 255) and shown in the card status
//                     block, which is reported at once.
//   47 Optocore version, 48 Optocore command, 49 Optocore update   the Optocore module
//                     (OptocoreModule), on Optocore cards only; 48 answers in 48.
//   58 Optocore channel count   stored rounded down to a multiple of 8 and at most 128,
//                     reported in 58.
//   31 quorix control forwarded to the rack on that port; answered in 31 with the
//                     rack's record: type, 14 slot codes, code date (4 BCD bytes),
//                     the 8 voltages in tenths (supply A's four rails, then B's), or
//                     with no payload when no rack is connected.
//   39 update fpga    FPGA download: 0 erase (packet count), 1 numbered packets, 2 sum
//                     of the image (16-bit, big-endian); answers carry a result byte,
//                     packet answers the number taken. A complete image with the right
//                     sum is installed and its version mark (10 bytes from 4 before the
//                     first "/", up to a zero byte) becomes the FPGA text.
//   5 echo data       echoed with its param and payload.
//   4 boot loader     bootLoaderRequested(); the rest of the chunk goes out in
//                     bytesForBootLoader().
//   1 restart         restartRequested(), then restartApplication().
//
// Card status block (type 38 payload), by card type:
//   MADI (20, 24), 12 bytes: 0-1 rx channel byte of port A, B; 2-3 transmitted
//     channel byte A, B; 4-5 flags A, B (bit 0 rx locked, bit 1 tx tracks rx, bit 2
//     SMUX, bit 3 control via audio); 6-7 device type A, B; 8 MADI port mode; 9-10
//     redundant state A, B; 11 sample rate override.
//   AES (23), 9 bytes: 0-7 converter on per input; 8 output sample rate code.
//   Optocore (28), 2 bytes: network ID, fibre speed.
//   Hydra (29), 1 byte: Hydra ID.
//   any other card, 1 byte: bit 0 set while input 0 is locked.
// Whenever the block changes, for whatever reason, the card sends it unsolicited;
// likewise the sync source (33) when the automatic choice moves, and the transmit
// mode (35) when a tracking port's received format changes.
class CardFirmware : public QObject
{
    Q_OBJECT

public:
    static constexpr int ClearToSendInterval = 256;
    static constexpr int LivingIntervalMs = 1000;

    enum FpgaTextFault {
        FpgaTextAsIs,         // the FPGA text of the state
        FpgaTextUnterminated, // ten letters, no zero in the field
        FpgaTextNonAscii,     // bytes above 0x7F before the zero
        FpgaTextControlChars, // tab, line breaks and escape before the zero
    };

    explicit CardFirmware(QObject *parent = nullptr);

    CardState &state() { return card; }
    const CardState &state() const { return card; }

    // The state of a freshly powered card of this type: MADI cards with a rack on port A
    // and nothing on B, AES cards with four inputs at 48 kHz, network cards locked to
    // their network at 48 kHz; automatic sync everywhere.
    static CardState defaultState(int cardType);
    static int inputCount(int cardType);
    static bool isMadi(int cardType);

    // Puts another card in place (the card is reported at the next status request).
    void resetState(int cardType);
    // The application starts again, after a "restart" or a stay in the boot loader:
    // a frame half read and a download in progress are lost; the card's settings
    // stay. The count towards the next "clear to send" goes on, so the host's send
    // gate is not left waiting for bytes it sent before the restart.
    void restartApplication();

    // What the card would send for "card status" / "kip status" now.
    QByteArray cardStatusBlock() const;
    QByteArray kipStatusPayload() const;
    // The sync source code the card reports (the automatic choice in automatic mode).
    quint8 syncSourceInUse() const;

    // Changes from outside, reported to the host as the card does on its own.
    // Temperature, sample rate and master flag show in the next "kip status" reply.
    void setTemperature(quint8 celsius);
    void setSampleRate(quint32 hertz);
    void setMaster(bool master);
    void setInputSampleRate(int input, quint32 hertz);     // 37
    void setReceiveLocked(int input, bool locked);         // 51
    void setRxChannels(int madiPort, quint8 channelByte);  // 38 (and 35 while tracking)
    // Connects a rack to a MADI port: its 57-channel stream, lock and rate, then the
    // rack's device type, type, slots, code date and voltages.
    void plugRack(int madiPort, const RackState &rack, quint32 hertz = 48000);
    // Connects a console (2), generic device (3) or another code to a MADI port.
    void plugDevice(int madiPort, quint8 deviceType, quint8 channelByte, quint32 hertz = 48000);
    // Disconnects whatever is on a MADI port: no device, no stream, no lock.
    void unplug(int madiPort);
    void setRackSlotCard(int madiPort, int slot, quint8 cardCode); // 41
    void setRackVoltage(int madiPort, int supply, int rail, quint8 tenths); // 43

    // Fault switches of the application. Out-of-range codes: while on, the card reports
    // codes no panel knows in place of its real ones: sync source 200, transmitted
    // format 99, device type 9, rack type 9, rack slot cards 0x7F, MADI port mode 7,
    // redundant state 9, sample rate override 9, rx channel byte 0x7F in the card
    // status block, Hydra ID 0.
    void setOutOfRangeCodes(bool on) { outOfRange = on; }
    void setFpgaTextFault(FpgaTextFault fault) { fpgaTextFault = fault; }
    // Stops (or restarts) "clear to send"; the count of bytes taken goes on.
    void setClearToSendSuppressed(bool on) { clearToSendSuppressed = on; }
    // Answers the next count frames with "error", as if they had come in corrupted.
    void rejectNextFrames(int count) { framesToReject = qMax(0, count); }
    // Answers the next FPGA download (39) or Optocore update (49) message with this
    // parameter with the result code instead of taking it. A result of 0 clears it.
    void refuseFpgaStep(int param, quint8 result);
    void refuseOptocoreUpdateStep(int param, quint8 result);
    // Acknowledges the next count FPGA packets it takes with the number of the packet
    // before (an older packet), as a card that has lost count would.
    void misnumberFpgaAcks(int count) { fpgaAcksToMisnumber = qMax(0, count); }

    // The demo's living card: every second the temperature drifts by a degree, and now
    // and then a locked input loses its lock for a few seconds. Off by default.
    void setLiving(bool on);
    bool isLiving() const;
    QTimer *livingTimer() const { return livingClock; }
    void setLivingSeed(quint32 seed) { random.seed(seed); }

    bool isResynchronising() const { return reader.isResynchronising(); }
    int framesTaken() const { return frameCount; }
    int errorsSent() const { return errorCount; }
    // The FPGA image installed by the last complete download.
    QByteArray installedFpgaImage() const { return fpgaImage; }

    // The version mark of an FPGA image: 10 bytes from 4 before the first "/", up to
    // the first zero byte; empty when the image has no "/".
    static QByteArray fpgaVersionMark(const QByteArray &image);

public slots:
    void receiveBytes(const QByteArray &bytes);
    void liveTick();

signals:
    void bytesToHost(QByteArray bytes);
    void bootLoaderRequested();
    // What followed the "boot loader" message in the same chunk: the application has
    // handed the link to the boot loader and takes none of it.
    void bytesForBootLoader(QByteArray bytes);
    void restartRequested();

private:
    // Returns false when the application has handed the link to the boot loader.
    bool takeFrame(const Common::SerialMessage &message);
    void rememberReported();
    void sendError();
    void send(Common::MessageType type, int param, const QByteArray &payload = QByteArray());
    void sendByte(Common::MessageType type, int param, quint8 value);
    void sendSampleRate(int input);
    void sendLock(int input);
    void sendSync();
    void sendTransmitMode(int port);
    void sendDeviceType(int port);
    void sendRackInfo(int port);
    void sendCardStatus();
    void sendInputReports();
    void settle();
    void handleSyncSource(const Common::SerialMessage &message);
    void handleTransmitMode(const Common::SerialMessage &message);
    void handleFpga(const Common::SerialMessage &message);
    void handleOptocoreUpdate(const Common::SerialMessage &message);
    void handleQuorixControl(const Common::SerialMessage &message);
    bool hasInput(int input) const { return input >= 0 && input < card.inputs.size(); }
    bool hasMadiPort(int port) const { return isMadi(card.cardType) && (port == 0 || port == 1) && hasInput(port); }
    quint8 code(quint8 real, quint8 outOfRangeCode) const { return outOfRange ? outOfRangeCode : real; }
    quint8 transmittedChannels(int port) const;
    QByteArray fpgaTextField() const;

    CardState card;
    CardFrameReader reader;
    OptocoreModule optocoreModule{&card.optocore};
    int bytesSinceClearToSend = 0;
    int frameCount = 0;
    int errorCount = 0;

    // What the host was last told of the values the card reports on its own.
    QByteArray reportedBlock;
    int reportedSync = -1;
    int reportedTransmit[2] = {-1, -1};

    // FPGA download in progress and the last image installed.
    PacketSequence fpgaDownload;
    QByteArray fpgaImage;

    bool outOfRange = false;
    FpgaTextFault fpgaTextFault = FpgaTextAsIs;
    bool clearToSendSuppressed = false;
    int framesToReject = 0;
    QMap<int, quint8> fpgaRefusals;
    QMap<int, quint8> optocoreRefusals;
    int fpgaAcksToMisnumber = 0;

    QTimer *livingClock = nullptr;
    QRandomGenerator random{0x5AB1E};
    QVector<int> lockReturnTicks; // per input: ticks until a lock dropped by the living card returns
};
