#include "slot/serialportlister.h"

#include <QSerialPortInfo>

namespace EMS {

QList<SerialPortEntry> systemSerialPorts()
{
    QList<SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortEntry entry;
        entry.portName = info.portName();
        entry.description = info.description();
        entry.manufacturer = info.manufacturer();
        entry.busy = info.isBusy();
        ports.append(entry);
    }
    return ports;
}

} // namespace EMS
