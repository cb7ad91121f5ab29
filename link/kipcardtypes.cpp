// What KipPort knows without a card: the status record's comparison and text, and the
// card types' names and channel counts. Kept apart from the port's link handling.
#include "link/kipport.h"

#include <cstring>

namespace EMS {

bool KipPort::HardwareStatus::operator==(const HardwareStatus &other) const
{
    return std::memcmp(this, &other, sizeof(HardwareStatus)) == 0;
}

QString KipPort::HardwareStatus::fpgaVersionText() const
{
    return QString::fromLatin1(fpgaVersion, int(qstrnlen(fpgaVersion, sizeof(fpgaVersion))));
}

namespace {

struct CardTypeInfo
{
    KipPort::KipCardType type;
    const char *name;
    int inputs;
    int outputs;
};

const CardTypeInfo cardTypes[] = {
    {KipPort::MadiBnc, "madi", 64, 64},      {KipPort::Adc, "adc", 16, 0},
    {KipPort::Dac, "dac", 0, 16},            {KipPort::Aes, "aes", 16, 16},
    {KipPort::MadiCat5, "madi", 64, 64},     {KipPort::Waves, "waves", 64, 64},
    {KipPort::Aviom, "aviom", 0, 16},        {KipPort::Dante, "dante", 64, 64},
    {KipPort::Optocore, "optocore", 128, 128}, {KipPort::Hydra, "hydra", 128, 128},
};

// Any other code, NoCard included, has no name and no channels.
const CardTypeInfo *cardTypeInfo(KipPort::KipCardType cardType)
{
    for (const CardTypeInfo &info : cardTypes) {
        if (info.type == cardType)
            return &info;
    }
    return nullptr;
}

} // namespace

QString KipPort::cardTypeName(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? QString::fromLatin1(info->name) : QString();
}

int KipPort::inputChannelCount(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? info->inputs : 0;
}

int KipPort::outputChannelCount(KipCardType cardType)
{
    const CardTypeInfo *info = cardTypeInfo(cardType);
    return info ? info->outputs : 0;
}

bool KipPort::isDualMadi(KipCardType cardType)
{
    return cardType == MadiBnc || cardType == MadiCat5;
}

} // namespace EMS
