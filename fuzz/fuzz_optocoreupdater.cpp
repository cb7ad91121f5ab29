// The Optocore updater's reply handling: every "Optocore update" message the card
// passes on from its Optocore module while the module's firmware goes out.
//
// The updater reads its three files from the program's folder; the target writes small
// ones next to itself on start-up (build.txt, udi71221.bin, pdi71221.sop) when they are
// not there yet.
//
// Input: byte 0 says what runs before the replies (bit 0 start(), bit 1 a version
// request, bit 2 exitLoader()); the rest are the replies as records: parameter byte,
// payload length byte, payload. Seeds are the simulated module's replies to whole
// updates (fuzz/corpus/optocoreupdater).

#include "fuzzsupport.h"

#include "update/optocoreupdater.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication(false);
    FuzzSupport::provideOptocoreFiles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QVector<FuzzSupport::Record> replies = FuzzSupport::readRecords(FuzzSupport::bytesOf(data + 1, size - 1));
    {
        EMS::OptocoreUpdater updater(nullptr);
        QObject::connect(&updater, &EMS::OptocoreUpdater::sendMessage, [](Common::SerialMessage *message) {
            if (message)
                (void)message->encode();
        });
        // The panel shows the version up to its first zero byte.
        QObject::connect(&updater, &EMS::OptocoreUpdater::versionString, [](QByteArray &version) {
            (void)QString::fromLatin1(version.left(version.indexOf('\0')));
        });
        if (data[0] & 0x01)
            updater.start();
        if (data[0] & 0x02)
            updater.requestVersion();
        if (data[0] & 0x04)
            updater.exitLoader();
        FuzzSupport::deliverPostedEvents();
        for (const FuzzSupport::Record &reply : replies) {
            Common::SerialMessage message(EMS::OptocoreUpdater::MessageType, reply.param, reply.payload);
            updater.receiveMessage(&message);
            FuzzSupport::deliverPostedEvents();
        }
    }
    FuzzSupport::deliverPostedEvents();
    return 0;
}
