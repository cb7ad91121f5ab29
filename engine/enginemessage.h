#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace EMS {

// One message to or from the mixing engine: it addresses one parameter of one module
// and channel, and carries 32-bit value words (integers or IEEE 754 floats).
//
// Frame on the wire, every word least significant byte first:
//   N, messageType, A5, FF          N = 3 + value words
//   sequence (16), parameter, module
//   index (16), channel (16)
//   value words
//   checksum: the 32-bit sum of the N words before it
class EngineMessage
{
public:
    // The two header words that address the message.
    struct EngineHeader
    {
        EngineHeader() = default;
        // Sequence 0: the messenger numbers a message when it sends it.
        EngineHeader(int channel, int index, int module, int parameter);

        quint32 word1 = 0; // sequence (low 16 bits), parameter, module (high byte)
        quint32 word2 = 0; // index (low 16 bits), channel (high 16 bits)
    };

    static constexpr int HeaderBytes = 12;
    // N is one byte: 255 words less the three header words.
    static constexpr int MaxValueWords = 252;
    static constexpr int MinFrameWords = 4;

    // All-zero header and the single value 0: not valid.
    EngineMessage();
    EngineMessage(int channel, int index, int module, int parameter);
    EngineMessage(const EngineHeader &header, int value, int messageType);
    EngineMessage(const EngineHeader &header, float value, int messageType);
    // Decodes a frame (whose length and checksum the caller has checked); a frame
    // shorter than its header gives an invalid message, and values are taken only
    // as far as the frame reaches.
    explicit EngineMessage(const QByteArray &frame);

    // A message addresses something (any of sequence, parameter, module, index,
    // channel is not 0) and names a known module range.
    bool isValid() const { return valid; }
    void validate();

    int messageType() const { return type; }
    void setMessageType(int messageType) { type = messageType & 0xFF; }

    EngineHeader header() const { return head; }
    int sequence() const { return int(head.word1 & 0xFFFF); }
    int parameter() const { return int((head.word1 >> 16) & 0xFF); }
    int module() const { return int(head.word1 >> 24); }
    int index() const { return int(head.word2 & 0xFFFF); }
    int channel() const { return int(head.word2 >> 16); }
    void setSequence(int sequence);
    void setParameter(int parameter);
    // Revalidates: the module decides whether the message is valid at all.
    void setModule(int module);
    void setIndex(int index);
    void setChannel(int channel);

    QByteArray values() const { return valueBytes; }
    int valueCount() const { return (valueBytes.size() + 3) / 4; }
    void setValue(int value);
    void setValue(float value);
    void setValues(quint32 first, quint32 second);
    // Floating-point variants (float or double) become a float word, all others
    // their integer value.
    void setValue(const QVariant &value);
    // Raw value bytes, for payloads that are not word lists (serial data); the frame
    // pads them with zero bytes to whole words.
    void setValueBytes(const QByteArray &bytes) { valueBytes = bytes; }

    // Word i, or 0 beyond the values.
    quint32 value(int i) const;
    float floatValue(int i) const;

    bool isError() const;
    QString toString() const;
    // The frame, or an empty array when the message has more value words than a
    // frame can count: a wrong length byte would desynchronise the receiver.
    QByteArray toFrame() const;
    bool isFramable() const { return valueCount() <= MaxValueWords; }

    // The 32-bit sum of `words` little-endian words starting at `bytes`.
    static quint32 wordSum(const char *bytes, int words);

private:
    bool valid = false;
    int type = 0;
    EngineHeader head;
    QByteArray valueBytes;
};

} // namespace EMS

Q_DECLARE_METATYPE(EMS::EngineMessage)
