#pragma once

#include "link/kipport.h"

class QWidget;

namespace EMS {

class CardPanel;

// The panel that shows a card of this type, or null for types without one (ADC, DAC,
// Waves, Aviom, no card). An Optocore card's panel follows the other slot's card type.
CardPanel *createCardPanel(KipPort::KipCardType cardType, KipPort *port, QWidget *parent,
                           KipPort::KipCardType otherSlotCardType);

} // namespace EMS
