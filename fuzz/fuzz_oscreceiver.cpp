// The OSC command receiver, fed datagrams as they come off the network: the strict
// decoder, the address dispatch and the argument checks, with two slots whose card
// ports are not connected (a command taken goes to a closed port and no further).
//
// Besides crashes and reads outside the packet, it checks the receiver's promise: every
// datagram is either taken or refused, once, and a datagram the strict decoder refuses
// is never taken.

#include "fuzzsupport.h"

#include "remote/osccommandpacket.h"
#include "remote/osccommandreceiver.h"
#include "slot/slotcontroller.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct Receiver
{
    QObject owner;
    EMS::OscCommandReceiver receiver{&owner};

    Receiver()
    {
        for (int slot : {0, 1})
            receiver.addSlot(new EMS::SlotController(slot, &owner, [] { return QList<EMS::SerialPortEntry>(); }));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::startApplication(false);
    static Receiver *fixture = new Receiver;
    EMS::OscCommandReceiver &receiver = fixture->receiver;

    const QByteArray packet = FuzzSupport::bytesOf(data, size);
    const int taken = receiver.acceptedCount();
    const int refused = receiver.refusedCount();
    receiver.receivePacket(packet);
    const int newlyTaken = receiver.acceptedCount() - taken;
    const int newlyRefused = receiver.refusedCount() - refused;
    if (newlyTaken + newlyRefused != 1 || newlyTaken < 0 || newlyRefused < 0) {
        std::fprintf(stderr, "datagram taken %d and refused %d times\n", newlyTaken, newlyRefused);
        std::abort();
    }
    if (newlyTaken == 1 && !EMS::OscCommandPacket::decode(packet).valid) {
        std::fprintf(stderr, "a malformed datagram was taken\n");
        std::abort();
    }
    FuzzSupport::deliverPostedEvents();
    return 0;
}
