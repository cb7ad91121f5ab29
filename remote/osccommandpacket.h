#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

namespace EMS {

// One OSC 1.0 message as a command receiver must read it: strictly. The address must
// start with "/", every string must end in a zero byte and fill whole words, the type
// tags must start with "," and name only int32 ("i") and string ("s") arguments, and
// the arguments must fill the packet exactly. Bundles and anything else are not
// commands. (The lenient decoder in common/ forgives cut packets and lower-cases
// addresses, which is right for reading a mixer's replies and wrong for deciding
// whether to act.) Unlike that decoder it takes any number of arguments up to
// MaxArguments, so "/set/madi/txmode i i" arrives whole.
struct OscCommandPacket
{
    static constexpr int MaxArguments = 8;

    bool valid = false;
    // Why the packet is not a command, for the log; empty when valid.
    QString problem;
    QString address;
    QByteArray typeTags; // without the leading ","
    QVariantList arguments; // qint32 for "i", QString for "s"

    static OscCommandPacket decode(const QByteArray &packet);
};

} // namespace EMS
