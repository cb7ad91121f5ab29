#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace EMS {

// What the slot form needs to know about one serial port of the machine.
struct SerialPortEntry
{
    QString portName;
    QString description;
    QString manufacturer;
    bool busy = false; // another program (or this one) holds it open
};

// Lists the machine's serial ports in the system's order. The slot forms take one, so a
// test or a demonstration can present adapters that the system does not list (ptys).
using SerialPortLister = std::function<QList<SerialPortEntry>()>;

// The machine's real serial ports, from QSerialPortInfo.
QList<SerialPortEntry> systemSerialPorts();

} // namespace EMS
