#pragma once

#include <QByteArray>

namespace EMS {

class EngineMessenger;

// The card link's engine path: the System module's SerialBaud (43) and SerialData (44)
// messages, addressed to a box slot through the message's index field.
void sendSerialEngineBaud(EngineMessenger *messenger, int slotIndex, float baudRate);
void sendSerialEngineData(EngineMessenger *messenger, int slotIndex, const QByteArray &wrappedData);

} // namespace EMS
