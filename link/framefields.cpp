#include "link/framefields.h"

#include <QtEndian>

namespace Common {

quint8 byteSum(const char *bytes, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count; ++i)
        sum = quint8(sum + quint8(bytes[i]));
    return sum;
}

quint8 byteSum(const QByteArray &bytes)
{
    return byteSum(bytes.constData(), bytes.size());
}

QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace Common
