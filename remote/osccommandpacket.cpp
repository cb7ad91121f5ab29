#include "remote/osccommandpacket.h"

#include <QtEndian>

namespace EMS {

namespace {

// A zero-terminated string padded to whole words, from offset; false when it runs past
// the end or is not padded with zeros.
bool readString(const QByteArray &packet, int &offset, QByteArray *text)
{
    const int end = packet.indexOf('\0', offset);
    if (end < 0)
        return false;
    const int next = (end / 4 + 1) * 4;
    if (next > packet.size())
        return false;
    for (int i = end; i < next; ++i) {
        if (packet.at(i) != '\0')
            return false;
    }
    *text = packet.mid(offset, end - offset);
    offset = next;
    return true;
}

OscCommandPacket refused(const QString &problem)
{
    OscCommandPacket result;
    result.problem = problem;
    return result;
}

} // namespace

OscCommandPacket OscCommandPacket::decode(const QByteArray &packet)
{
    if (packet.isEmpty() || packet.size() % 4 != 0)
        return refused(QStringLiteral("size %1 is not a whole number of words").arg(packet.size()));
    if (packet.startsWith("#bundle"))
        return refused(QStringLiteral("bundles are not taken"));
    if (packet.at(0) != '/')
        return refused(QStringLiteral("address does not start with /"));

    int offset = 0;
    QByteArray address;
    if (!readString(packet, offset, &address))
        return refused(QStringLiteral("address not terminated"));

    QByteArray tags;
    if (offset < packet.size()) {
        if (packet.at(offset) != ',')
            return refused(QStringLiteral("no type tags"));
        if (!readString(packet, offset, &tags))
            return refused(QStringLiteral("type tags not terminated"));
        tags.remove(0, 1);
    }
    if (tags.size() > MaxArguments)
        return refused(QStringLiteral("%1 arguments").arg(tags.size()));

    OscCommandPacket result;
    for (const char tag : qAsConst(tags)) {
        if (tag == 'i') {
            if (packet.size() - offset < 4)
                return refused(QStringLiteral("int argument cut short"));
            result.arguments << QVariant(qFromBigEndian<qint32>(packet.constData() + offset));
            offset += 4;
        } else if (tag == 's') {
            QByteArray text;
            if (!readString(packet, offset, &text))
                return refused(QStringLiteral("string argument not terminated"));
            result.arguments << QVariant(QString::fromUtf8(text));
        } else {
            return refused(QStringLiteral("argument type '%1' not taken").arg(QChar::fromLatin1(tag)));
        }
    }
    if (offset != packet.size())
        return refused(QStringLiteral("%1 bytes after the arguments").arg(packet.size() - offset));

    result.valid = true;
    result.address = QString::fromUtf8(address);
    result.typeTags = tags;
    return result;
}

} // namespace EMS
