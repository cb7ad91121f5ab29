#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QString>

class BootLoaderEmulator;
class CardFirmware;
class PseudoTerminal;
class QTimer;
class SerialLineModel;

// One simulated interface card at the far end of a serial link: the stand-in for the
// card in every end-to-end test and in the demo.
//
// The card sits behind a real pseudo-terminal (portName() goes to
// QSerialPort::setPortName), so the controller's own serial code runs unchanged. The
// card is either in its boot loader (BootLoaderEmulator: AutoBaud, Ping, Download,
// SendData, GetStatus, Reset) or running its application (CardFirmware: framed
// messages, and 0xAA in answer to AutoBaud). The application's "boot loader" message
// moves the card into its boot loader; the boot loader's Reset starts the application
// again. When the image downloaded before the Reset is complete (and no status of its
// download reported a failure), it becomes the card's program: the byte 8 bytes after
// the first "version" in it becomes the firmware version the card reports. A card
// started in its boot loader has no application: a Reset without a good image leaves
// it in the boot loader, where it acknowledges the next AutoBaud.
//
// Fault switches, one line each in a test:
//   setReplyLatency(ms)          every answer leaves ms milliseconds late (in order)
//   setSilent(true)              the card hears nothing and answers nothing
//   nakNextBootPackets(n)        the boot loader refuses the next n packets with 33
//   failNextStatus(code)         the next GetStatus reports code (e.g. 0x44 FlashFailure)
//   setRealisticLine(true, ms)   bytes travel at 115200 baud both ways and reach the host
//                                in USB packets as an FTDI adapter with an ms latency
//                                timer passes them on (SerialLineModel); off by default,
//                                when every byte crosses the pseudo-terminal at once
//   dropLink() / restoreLink()   the adapter vanishes (the master side closes; the
//                                controller's port then reports errors) and comes back
//                                on a new pseudo-terminal (give setLinkPath() a path to
//                                keep one port name across the two)
// The application's own faults (rejected frames, no clear-to-send, ...) are switched on
// firmware().
class CardSimulator : public QObject
{
    Q_OBJECT

public:
    enum StartMode { StartApplication, StartBootLoader };
    // Behind a pseudo-terminal, or in this process: then the host's bytes come in through
    // receiveFromHost() and the answers leave only as bytesToHost(), so a unit test can
    // put the card behind an in-process transport without any terminal.
    enum Link { PseudoTerminalLink, InProcessLink };

    explicit CardSimulator(QObject *parent = nullptr, StartMode mode = StartApplication,
                           Link link = PseudoTerminalLink);
    ~CardSimulator() override;

    // The path for QSerialPort::setPortName (empty in this process).
    QString portName() const;
    bool setLinkPath(const QString &path);
    // The far end of the link; only behind a pseudo-terminal.
    PseudoTerminal &terminal() const { return *pty; }
    CardFirmware &firmware() const { return *application; }
    BootLoaderEmulator &bootLoader() const { return *loader; }

    bool isInBootLoader() const { return inBootLoader; }
    // Puts the card into its boot loader (as the application does on request) or
    // starts its application.
    void setInBootLoader(bool bootLoader);
    // Whether a Reset of the boot loader finds an application to start.
    bool hasApplication() const { return applicationPresent; }
    void setApplicationPresent(bool present) { applicationPresent = present; }

    // The program installed by the last complete download (empty if none).
    QByteArray installedImage() const { return installed; }
    // The byte 8 bytes after the first "version" in an image; -1 when there is none.
    static int versionMark(const QByteArray &image);

    // Fault switches (see above).
    void setReplyLatency(int milliseconds);
    int replyLatency() const { return latencyMs; }
    void setRealisticLine(bool on, int latencyMs = 16);
    // The line model while the realistic line is on, else null.
    SerialLineModel *line() const { return lineModel; }
    void setSilent(bool silent) { silence = silent; }
    bool isSilent() const { return silence; }
    void nakNextBootPackets(int count);
    void failNextStatus(quint8 statusCode);
    void dropLink();
    bool restoreLink();
    bool isLinkUp() const;

signals:
    // Everything the host sent, before it is routed (also while silent).
    void bytesFromHost(QByteArray bytes);
    // Every answer as it goes onto the link.
    void bytesToHost(QByteArray bytes);
    void bootLoaderChanged(bool inBootLoader);
    void imageInstalled(QByteArray image);
    void linkChanged(bool up);

public slots:
    // What the host wrote; a pseudo-terminal's card is fed by its terminal.
    void receiveFromHost(const QByteArray &bytes);

private:
    void route(const QByteArray &bytes);
    void answer(const QByteArray &bytes, bool fromBootLoader);
    void deliverDue();
    void transmit(const QByteArray &bytes);
    void leaveBootLoader();

    PseudoTerminal *pty = nullptr;
    bool inProcessLinkUp = true;
    BootLoaderEmulator *loader;
    CardFirmware *application;
    bool inBootLoader = false;
    bool applicationPresent = true;
    QByteArray installed;

    int latencyMs = 0;
    bool silence = false;
    struct Delayed
    {
        qint64 due;
        QByteArray bytes;
    };
    QQueue<Delayed> delayed;
    QElapsedTimer clock;
    QTimer *latencyTimer;
    SerialLineModel *lineModel = nullptr;
};
