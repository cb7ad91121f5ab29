// The boot-loader updater's receive path: whatever bytes the card's boot loader (or an
// application, or line noise) sends while the updater owns the link.
//
// Input: byte 0 sets the chunk size (bits 0-6, 1 ... 128) and, in bit 7, whether the
// updater starts with start() (the card was told to enter its boot loader) rather than
// the AutoBaud probe; byte 1 picks the code file (bits 0-1) and whether the single-shot
// probe after a reset fires between chunks (bit 2); the rest is the stream from the
// card. Seeds are the boot loader's answers to whole updates (fuzz/corpus/updater).

#include "fuzzsupport.h"

#include "link/bootloaderupdater.h"

#include <QMetaObject>
#include <QTimer>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication(false);
    for (int choice = 0; choice < 4; ++choice)
        FuzzSupport::codeFile(choice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int chunkSize = (data[0] & 0x7F) + 1;
    const bool startInBootLoader = data[0] & 0x80;
    const bool fireProbeTimer = data[1] & 0x04;
    const QByteArray stream = FuzzSupport::bytesOf(data + 2, size - 2);

    {
        Common::Updater updater(nullptr, FuzzSupport::codeFile(data[1]));
        qint64 bytesSent = 0;
        QObject::connect(&updater, &Common::Updater::sendData,
                         [&bytesSent](const QByteArray &bytes) { bytesSent += bytes.size(); });
        if (startInBootLoader)
            updater.start();
        else
            updater.autoBaud();
        for (const QByteArray &chunk : FuzzSupport::chunks(stream, chunkSize)) {
            updater.receiveData(chunk);
            if (fireProbeTimer && updater.autoBaudTimer()->isActive()) {
                updater.autoBaudTimer()->stop();
                QMetaObject::invokeMethod(updater.autoBaudTimer(), "timeout");
            }
        }
        FuzzSupport::deliverPostedEvents();
    }
    FuzzSupport::deliverPostedEvents();
    return 0;
}
