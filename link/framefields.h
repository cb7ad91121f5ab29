#pragma once

#include <QByteArray>

namespace Common {

// The plain 8-bit sum the card uses over a frame, and the Optocore module over its
// command bytes.
quint8 byteSum(const char *bytes, int count);
quint8 byteSum(const QByteArray &bytes);

// The loaders' packet counts, packet numbers and image sums travel high byte first.
QByteArray bigEndian16(quint16 value);

} // namespace Common
