// The engine messenger's reassembly of engine frames from a UDP or file byte stream.
//
// Every message it emits is framed again and decoded from that frame; the two must
// agree, or what the controller sends would not be what it understood.
//
// Input: byte 0 sets the chunk size (1 ... 256), the rest is the stream. Seeds are
// frames of the engine catalogue's messages (fuzz/corpus/enginemessenger).

#include "fuzzsupport.h"

#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"

#include <cstdio>
#include <cstdlib>

namespace {

void checkReframing(EMS::EngineMessage *message)
{
    (void)message->toString();
    (void)message->isError();
    const QByteArray frame = message->toFrame();
    if (frame.isEmpty())
        return; // more value words than a frame counts: nothing would be sent
    const EMS::EngineMessage again(frame);
    if (again.messageType() != message->messageType() || again.header().word1 != message->header().word1
        || again.header().word2 != message->header().word2 || again.isValid() != message->isValid()
        || again.valueCount() != message->valueCount()) {
        std::fprintf(stderr, "engine message framed again decodes differently\n");
        std::abort();
    }
    for (int i = 0; i < message->valueCount(); ++i) {
        if (again.value(i) != message->value(i)) {
            std::fprintf(stderr, "engine message value %d changed by framing\n", i);
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int chunkSize = data[0] + 1;
    const QByteArray stream = FuzzSupport::bytesOf(data + 1, size - 1);
    {
        EMS::EngineMessenger messenger;
        QObject::connect(&messenger, &EMS::EngineMessenger::messageReceived, &checkReframing);
        for (const QByteArray &chunk : FuzzSupport::chunks(stream, chunkSize)) {
            messenger.receiveData(chunk);
            if (messenger.bufferedBytes() > EMS::EngineMessenger::MaxBufferBytes) {
                std::fprintf(stderr, "receive buffer at %d bytes\n", messenger.bufferedBytes());
                std::abort();
            }
        }
    }
    FuzzSupport::deliverPostedEvents();
    return 0;
}
