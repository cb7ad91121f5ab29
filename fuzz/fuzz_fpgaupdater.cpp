// The FPGA downloader's reply handling: every "update fpga" message the card sends
// while an image goes out, in any order and with any payload.
//
// Input: byte 0 picks the image (bits 0-2) and whether start() runs first (bit 3, set
// in almost every seed); the rest are the card's replies as records: parameter byte,
// payload length byte, payload. Seeds are the simulated card's replies to whole
// downloads (fuzz/corpus/fpgaupdater).

#include "fuzzsupport.h"

#include "link/fpgadownloader.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication(false);
    for (int choice = 0; choice < 8; ++choice)
        FuzzSupport::fpgaImageFile(choice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QVector<FuzzSupport::Record> replies = FuzzSupport::readRecords(FuzzSupport::bytesOf(data + 1, size - 1));
    {
        EMS::KipFpgaUpdater downloader(nullptr, FuzzSupport::fpgaImageFile(data[0]));
        // The port encodes every message at once; so does this, to catch a message
        // that cannot be framed.
        QObject::connect(&downloader, &EMS::KipFpgaUpdater::sendMessage, [](Common::SerialMessage *message) {
            if (message)
                (void)message->encode();
        });
        if (data[0] & 0x08)
            downloader.start();
        for (const FuzzSupport::Record &reply : replies) {
            downloader.receiveMessage(Common::SerialMessage(EMS::KipFpgaUpdater::MessageType, reply.param, reply.payload));
            FuzzSupport::deliverPostedEvents();
        }
        FuzzSupport::deliverPostedEvents();
    }
    return 0;
}
