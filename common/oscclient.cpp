#include "common/oscclient.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace Common {

namespace {

// OSC strings end in at least one zero byte and fill whole 4-byte words.
void appendPaddedString(QByteArray &packet, const QByteArray &text)
{
    packet.append(text);
    do {
        packet.append('\0');
    } while (packet.size() % 4 != 0);
}

void appendWord(QByteArray &packet, quint32 word)
{
    char bytes[4];
    qToBigEndian<quint32>(word, bytes);
    packet.append(bytes, 4);
}

} // namespace

OscClient::OscClient(QObject *parent)
    : QObject(parent)
{
}

char OscClient::typeTag(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
        return 'i';
    case QMetaType::Double:
    case QMetaType::Float:
        return 'f';
    case QMetaType::QString:
        return 's';
    default:
        return 'N';
    }
}

QByteArray OscClient::encode(const OscMessage &message)
{
    const QVariant &value = message.parameter.value;
    const char tag = typeTag(value);

    QByteArray packet;
    appendPaddedString(packet, message.address().toUtf8());
    packet.append(',');
    packet.append(tag);
    packet.append(2, '\0');

    switch (tag) {
    case 'i':
        // Unsigned values keep their bit pattern in the signed 32-bit word.
        appendWord(packet, value.userType() == QMetaType::UInt ? value.toUInt() : quint32(value.toInt()));
        break;
    case 'f': {
        double number = value.toDouble();
        const double limit = double(std::numeric_limits<float>::max());
        if (!std::isnan(number))
            number = qBound(-limit, number, limit);
        const float single = float(number);
        quint32 bits;
        std::memcpy(&bits, &single, sizeof bits);
        appendWord(packet, bits);
        break;
    }
    case 's':
        appendPaddedString(packet, value.toString().toUtf8());
        break;
    default:
        break;
    }
    return packet;
}

void OscClient::sendMessage(const OscMessage &message)
{
    emit oscMessageReady(encode(message));
}

} // namespace Common
