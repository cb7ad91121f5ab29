#pragma once

#include "link/kipport.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace EMS {

class SlotController;

// What a slot reports, in the words the command line and OSC use for it, so a script
// reading `status --json` and a dashboard reading OSC see the same names.
namespace SlotReport {

// "KIP 1", "KIP 2": the slot as the window and the manual name it.
QString slotName(int slotIndex);
// "kip1", "kip2": the slot in the OSC address space.
QString oscSlotName(int slotIndex);
// Input 0 is "a", 1 "b", and so on.
QString inputName(int input);
QString lockName(SyncLockState state);
QString linkStateName(KipPort::LinkState state);

// One slot's state as one JSON object (see "Scripting and remote monitoring" in the
// README for the keys).
QJsonObject statusJson(const SlotController &slot);
// The same as lines of text for a person.
QStringList statusLines(const SlotController &slot);

} // namespace SlotReport
} // namespace EMS
