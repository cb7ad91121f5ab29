// The OSC decoder, fed whole packets as they come off the network.
//
// Besides crashes and reads outside the packet, it checks that decoding and encoding
// agree: a message decoded from any packet, encoded and decoded again, must then stay
// the same through every further round. (The first round may change it: addresses are
// lower-cased and normalised on the way in.) Only ASCII texts and numbers other than
// NaN take part, since Latin-1 in and UTF-8 out differ by design, and only addresses
// without empty components: normalising drops one trailing "/" per round, so a run of
// slashes shrinks by one each time.

#include "fuzzsupport.h"

#include "common/oscclient.h"
#include "common/oscmessageparser.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool isAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

bool takesPart(const Common::OscMessage &message)
{
    const QVariant &value = message.parameter.value;
    if (!isAscii(message.path) || !isAscii(message.parameter.name))
        return false;
    if (message.address().contains(QLatin1String("//")))
        return false;
    if (value.userType() == QMetaType::QString && !isAscii(value.toString()))
        return false;
    if ((value.userType() == QMetaType::Float || value.userType() == QMetaType::Double) && std::isnan(value.toDouble()))
        return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Common::OscMessage first = Common::OscMessageParser::decode(FuzzSupport::bytesOf(data, size));
    (void)first.address();
    (void)first.components();
    if (!first.path.startsWith(QLatin1Char('/'))) {
        std::fprintf(stderr, "decoded path %s does not start at the root\n", qPrintable(first.path));
        std::abort();
    }
    if (!takesPart(first))
        return 0;

    const Common::OscMessage second = Common::OscMessageParser::decode(Common::OscClient::encode(first));
    const Common::OscMessage third = Common::OscMessageParser::decode(Common::OscClient::encode(second));
    if (!(second == third)) {
        std::fprintf(stderr, "encode/decode not stable: %s %s = %s / %s %s = %s\n", qPrintable(second.path),
                     qPrintable(second.parameter.name), qPrintable(second.parameter.value.toString()),
                     qPrintable(third.path), qPrintable(third.parameter.name),
                     qPrintable(third.parameter.value.toString()));
        std::abort();
    }
    return 0;
}
