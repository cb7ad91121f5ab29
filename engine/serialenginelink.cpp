#include "engine/serialenginelink.h"

#include <QDebug>

namespace EMS {

// Provisional until the engine messenger exists: nothing can be sent.
void sendSerialEngineBaud(EngineMessenger *, int slotIndex, float)
{
    qWarning() << "KIP Port: no engine messenger for slot" << slotIndex;
}

void sendSerialEngineData(EngineMessenger *, int slotIndex, const QByteArray &)
{
    qWarning() << "KIP Port: no engine messenger for slot" << slotIndex;
}

} // namespace EMS
