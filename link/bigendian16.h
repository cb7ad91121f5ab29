#pragma once

#include <QByteArray>

namespace EMS {

// Packet numbers, packet counts and image sums travel high byte first.
inline QByteArray bigEndian16(int value)
{
    QByteArray bytes;
    bytes.append(char((value >> 8) & 0xFF));
    bytes.append(char(value & 0xFF));
    return bytes;
}

} // namespace EMS
