// The card port's receive path: serial bytes from the card go through the frame
// scanner to the message handler, and from there, as notifications, to the panels
// that decode the card status block and the Optocore replies.
//
// Input: byte 0 sets the chunk size the serial port delivers (1 ... 128); byte 1 holds
// the flags below and, in bits 4-6, the panel that listens (as the slot form picks one
// by card type; every panel still gets every card type's status block); byte 2 picks
// the card type in the other slot for the Optocore panel (bits 0-3) and the FPGA image
// (bits 4-6); the rest is the byte stream from the card. With the Optocore update panel
// its update button is pressed first, so the module's replies reach an updater. Seeds
// are recorded card replies (fuzz/corpus/kipport).

#include "fuzzsupport.h"

#include "link/kipport.h"
#include "ui/madipanel.h"
#include "ui/optocoreupdatepanel.h"

#if __has_include("ui/aespanel.h")
#include "ui/aespanel.h"
#define HAVE_AES_PANEL 1
#endif
#if __has_include("ui/optocorepanel.h")
#include "ui/optocorepanel.h"
#define HAVE_OPTOCORE_PANEL 1
#endif
#if __has_include("ui/hydrapanel.h")
#include "ui/hydrapanel.h"
#define HAVE_HYDRA_PANEL 1
#endif

#include <QMetaObject>

#include <memory>

namespace {

enum Flags {
    SecondSlot = 0x01,         // the panels hide their sync controls on the second slot
    KeepAliveEachChunk = 0x02, // the keep-alive timer fires between chunks
    WatchdogAtEnd = 0x04,      // the watchdog expires after the last chunk
    LogStatus = 0x08,          // status replies are logged too
    FpgaUpdate = 0x80,         // an FPGA download runs (image picked by byte 2, bits 4-6)
};

enum Panel { Madi = 0, Aes = 1, Optocore = 2, Hydra = 3, OptocoreUpdate = 4, NoPanel = 5 };

const EMS::KipPort::KipCardType otherCardTypes[16] = {
    EMS::KipPort::NoCard,   EMS::KipPort::MadiBnc, EMS::KipPort::Adc,      EMS::KipPort::Dac,
    EMS::KipPort::Aes,      EMS::KipPort::MadiCat5, EMS::KipPort::Waves,   EMS::KipPort::Aviom,
    EMS::KipPort::Dante,    EMS::KipPort::Optocore, EMS::KipPort::Hydra,   EMS::KipPort::KipCardType(-1),
    EMS::KipPort::KipCardType(127), EMS::KipPort::MadiBnc, EMS::KipPort::MadiCat5, EMS::KipPort::Aes,
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication(true);
    FuzzSupport::provideOptocoreFiles();
    for (int choice = 0; choice < 8; ++choice)
        FuzzSupport::fpgaImageFile(choice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int chunkSize = (data[0] & 0x7F) + 1;
    const int flags = data[1];
    const int panel = (data[1] >> 4) & 0x07;
    const EMS::KipPort::KipCardType otherCardType = otherCardTypes[data[2] & 0x0F];
    const QByteArray stream = FuzzSupport::bytesOf(data + 3, size - 3);

    {
        // The port is never connected: what it sends goes nowhere, as with an adapter
        // that has just been unplugged.
        auto port = std::make_unique<EMS::KipPort>(nullptr, (flags & SecondSlot) ? 1 : 0);
        port->logStatusMessages(flags & LogStatus);
        std::unique_ptr<QWidget> listener;
        switch (panel) {
        case Madi:
            listener = std::make_unique<EMS::MadiPanel>(port.get(), nullptr);
            break;
#ifdef HAVE_AES_PANEL
        case Aes:
            listener = std::make_unique<EMS::AesPanel>(port.get(), nullptr);
            break;
#endif
#ifdef HAVE_OPTOCORE_PANEL
        case Optocore: {
            auto optocore = std::make_unique<EMS::OptocorePanel>(port.get(), nullptr, otherCardType);
            // The slot form passes on the card's system rate with every status change.
            EMS::OptocorePanel *target = optocore.get();
            EMS::KipPort *source = port.get();
            QObject::connect(source, &EMS::KipPort::hardwareStatusChanged, target, [target, source]() {
                target->receiveSystemSampleRate(int(source->hardwareStatus().sampleRate));
            });
            listener = std::move(optocore);
            break;
        }
#endif
#ifdef HAVE_HYDRA_PANEL
        case Hydra:
            listener = std::make_unique<EMS::HydraPanel>(port.get(), nullptr);
            break;
#endif
        case OptocoreUpdate:
            listener = std::make_unique<EMS::OptocoreUpdatePanel>(port.get(), nullptr);
            QMetaObject::invokeMethod(listener.get(), "on_optocoreUpdateButton_clicked");
            break;
        default:
            break;
        }
        (void)otherCardType;
        if (flags & FpgaUpdate)
            port->updateFpga(FuzzSupport::fpgaImageFile(data[2] >> 4));

        for (const QByteArray &chunk : FuzzSupport::chunks(stream, chunkSize)) {
            port->receiveKipData(chunk);
            if (flags & KeepAliveEachChunk)
                port->keepAliveTimeout();
        }
        if (flags & WatchdogAtEnd)
            port->watchdogTimeout();
        FuzzSupport::deliverPostedEvents();
        // The panel goes before the port, as in the slot form.
        listener.reset();
    }
    FuzzSupport::deliverPostedEvents();
    return 0;
}
