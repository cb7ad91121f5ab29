#include "ui/cardpanelfactory.h"

#include "ui/aespanel.h"
#include "ui/hydrapanel.h"
#include "ui/madipanel.h"
#include "ui/optocorepanel.h"

namespace EMS {

CardPanel *createCardPanel(KipPort::KipCardType cardType, KipPort *port, QWidget *parent,
                           KipPort::KipCardType otherSlotCardType)
{
    switch (cardType) {
    case KipPort::MadiBnc:
    case KipPort::MadiCat5:
        return new MadiPanel(port, parent);
    case KipPort::Aes:
        return new AesPanel(port, parent);
    case KipPort::Dante:
        return new OptocorePanel(port, parent, KipPort::NoCard);
    case KipPort::Optocore:
        return new OptocorePanel(port, parent, otherSlotCardType);
    case KipPort::Hydra:
        return new HydraPanel(port, parent);
    default:
        return nullptr;
    }
}

} // namespace EMS
