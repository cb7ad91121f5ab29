#pragma once

#include "link/framefields.h"
#include "link/messagetype.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace Common {

// One message of the card protocol. On the wire:
//   L, type, param, payload (L - 3 bytes), checksum
// where L is the offset of the checksum byte and the checksum is the plain 8-bit sum
// of bytes 0 .. L-1.
class SerialMessage
{
public:
    static constexpr int TypeCount = 59;
    // The largest payload a frame can carry: L is one byte, so L <= 255.
    static constexpr int MaxVariablePayload = 252;

    SerialMessage() = default;
    SerialMessage(int type, int param, const QByteArray &data);
    SerialMessage(MessageType type, int param, const QByteArray &data = QByteArray())
        : SerialMessage(int(type), param, data)
    {
    }
    explicit SerialMessage(const QByteArray &frame);

    // The frame of this message, or an empty array when the message cannot be framed
    // without corrupting it: an invalid message, a type without a length entry, or a
    // payload longer than the type's frame can carry. A frame with a wrong length byte
    // would desynchronise the card's scanner, so nothing is sent rather than that.
    // The host's "status" and "kip status" frames are bare requests (L = 3), so a
    // payload on those types is refused too rather than silently left out.
    QByteArray encode() const;
    bool isEncodable() const;

    QString toString() const;
    MessageType messageType() const { return MessageType(type); }

    static QString typeName(int type);
    static int frameLength(int type);
    // Types whose length entry reads 3 + n: the payload is of any length.
    static bool hasVariablePayload(int type);

    bool valid = false;
    int type = 0;
    int param = 0;
    QByteArray data;

private:
    int encodedLength() const;
};

} // namespace Common

Q_DECLARE_METATYPE(Common::SerialMessage)
