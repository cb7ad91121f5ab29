#include "engine/serialenginelink.h"

#include "engine/enginecatalogue.h"
#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"

#include <QtEndian>

namespace EMS {

namespace {

// The most card bytes one SerialData message carries: every value word but the
// first, which holds the byte count.
constexpr int MaxSerialBytesPerMessage = 4 * (EngineMessage::MaxValueWords - 1);

void sendSerialChunk(EngineMessenger *messenger, int slotIndex, const QByteArray &wrapped)
{
    EngineMessage message(0, slotIndex, Engine::System, Engine::SerialData);
    message.setValueBytes(wrapped);
    messenger->sendMessage(&message);
}

} // namespace

void sendSerialEngineBaud(EngineMessenger *messenger, int slotIndex, float baudRate)
{
    if (!messenger)
        return;
    EngineMessage message(0, slotIndex, Engine::System, Engine::SerialBaud);
    message.setValue(baudRate);
    messenger->sendMessage(&message);
}

void sendSerialEngineData(EngineMessenger *messenger, int slotIndex, const QByteArray &wrappedData)
{
    if (!messenger)
        return;
    if (wrappedData.size() <= 4 + MaxSerialBytesPerMessage) {
        sendSerialChunk(messenger, slotIndex, wrappedData);
        return;
    }
    // A frame counts its words in one byte, so a long write goes out as several
    // messages, each wrapped with its own count. The engine passes the bytes on to
    // the card's serial line in order, so the card sees one unbroken stream.
    const quint32 declared = qFromLittleEndian<quint32>(wrappedData.constData());
    const QByteArray bytes = wrappedData.mid(4, int(qMin<quint32>(declared, quint32(wrappedData.size() - 4))));
    for (int offset = 0; offset < bytes.size(); offset += MaxSerialBytesPerMessage) {
        const QByteArray chunk = bytes.mid(offset, MaxSerialBytesPerMessage);
        QByteArray wrapped(4, '\0');
        qToLittleEndian<quint32>(quint32(chunk.size()), wrapped.data());
        sendSerialChunk(messenger, slotIndex, wrapped + chunk);
    }
}

} // namespace EMS
