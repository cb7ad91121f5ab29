#include "common/oscmessageparser.h"

#include <QtEndian>

#include <cstring>

namespace Common {

namespace {

QString readAddress(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(end < 0 ? bytes : bytes.left(end)).toLower();
}

// The first argument of a type tag block (",tags\0..." then the arguments).
QVariant readArgument(const QByteArray &block)
{
    if (block.size() < 4)
        return QVariant();
    // The type tag string is padded to whole words like any OSC string; the first
    // argument follows it (at byte 4 when there is only one tag).
    const int tagsEnd = block.indexOf('\0');
    if (tagsEnd < 0)
        return QVariant();
    const int argument = (tagsEnd / 4 + 1) * 4;
    const char tag = block.at(1);
    const int available = block.size() - argument;

    switch (tag) {
    case 'i':
        if (available < 4)
            return QVariant();
        return QVariant(qint32(qFromBigEndian<quint32>(block.constData() + argument)));
    case 'f': {
        if (available < 4)
            return QVariant();
        const quint32 bits = qFromBigEndian<quint32>(block.constData() + argument);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return QVariant(value);
    }
    case 's': {
        if (available < 0)
            return QVariant();
        const QByteArray text = block.mid(argument);
        const int end = text.indexOf('\0');
        return QVariant(QString::fromUtf8(end < 0 ? text : text.left(end)));
    }
    default:
        return QVariant();
    }
}

} // namespace

OscMessageParser::OscMessageParser(QObject *parent)
    : QObject(parent)
{
}

OscMessage OscMessageParser::parse(const QByteArray &data) const
{
    return decode(data);
}

OscMessage OscMessageParser::decode(const QByteArray &data)
{
    const int comma = data.indexOf(',');
    if (comma < 0)
        return OscMessage::fromAddress(readAddress(data), QVariant());
    return OscMessage::fromAddress(readAddress(data.left(comma)), readArgument(data.mid(comma)));
}

} // namespace Common
