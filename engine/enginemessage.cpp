#include "engine/enginemessage.h"

#include "engine/enginecatalogue.h"

#include <QtEndian>

#include <cstring>

namespace EMS {

namespace {

QByteArray wordBytes(quint32 word)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(word, bytes.data());
    return bytes;
}

quint32 floatBits(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QString hexWord(quint32 word)
{
    return QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
}

} // namespace

EngineMessage::EngineHeader::EngineHeader(int channel, int index, int module, int parameter)
    : word1((quint32(parameter) & 0xFF) << 16 | (quint32(module) & 0xFF) << 24)
    , word2((quint32(index) & 0xFFFF) | (quint32(channel) & 0xFFFF) << 16)
{
}

EngineMessage::EngineMessage()
    : valueBytes(4, '\0')
{
    validate();
}

EngineMessage::EngineMessage(int channel, int index, int module, int parameter)
    : head(channel, index, module, parameter)
{
    validate();
}

EngineMessage::EngineMessage(const EngineHeader &header, int value, int messageType)
    : type(messageType & 0xFF)
    , head(header)
    , valueBytes(wordBytes(quint32(value)))
{
    validate();
}

EngineMessage::EngineMessage(const EngineHeader &header, float value, int messageType)
    : type(messageType & 0xFF)
    , head(header)
    , valueBytes(wordBytes(floatBits(value)))
{
    validate();
}

EngineMessage::EngineMessage(const QByteArray &frame)
{
    if (frame.size() < HeaderBytes)
        return;
    const char *bytes = frame.constData();
    const int words = quint8(bytes[0]);
    type = quint8(bytes[1]);
    head.word1 = qFromLittleEndian<quint32>(bytes + 4);
    head.word2 = qFromLittleEndian<quint32>(bytes + 8);
    if (words > 3)
        valueBytes = frame.mid(HeaderBytes, 4 * (words - 3));
    validate();
}

void EngineMessage::validate()
{
    const bool addressed = sequence() != 0 || parameter() != 0 || module() != 0 || index() != 0
        || channel() != 0;
    valid = addressed && module() < Engine::ModuleLimit;
}

void EngineMessage::setSequence(int sequence)
{
    head.word1 = (head.word1 & 0xFFFF0000u) | (quint32(sequence) & 0xFFFF);
}

void EngineMessage::setParameter(int parameter)
{
    head.word1 = (head.word1 & 0xFF00FFFFu) | (quint32(parameter) & 0xFF) << 16;
}

void EngineMessage::setModule(int module)
{
    head.word1 = (head.word1 & 0x00FFFFFFu) | (quint32(module) & 0xFF) << 24;
    validate();
}

void EngineMessage::setIndex(int index)
{
    head.word2 = (head.word2 & 0xFFFF0000u) | (quint32(index) & 0xFFFF);
}

void EngineMessage::setChannel(int channel)
{
    head.word2 = (head.word2 & 0x0000FFFFu) | (quint32(channel) & 0xFFFF) << 16;
}

void EngineMessage::setValue(int value)
{
    valueBytes = wordBytes(quint32(value));
}

void EngineMessage::setValue(float value)
{
    valueBytes = wordBytes(floatBits(value));
}

void EngineMessage::setValues(quint32 first, quint32 second)
{
    valueBytes = wordBytes(first) + wordBytes(second);
}

void EngineMessage::setValue(const QVariant &value)
{
    const int kind = value.userType();
    if (kind == QMetaType::Float || kind == QMetaType::Double)
        setValue(value.toFloat());
    else
        setValue(value.toInt());
}

quint32 EngineMessage::value(int i) const
{
    if (i < 0 || i >= valueCount())
        return 0;
    // The last word of raw value bytes may be short; it reads as zero-padded.
    char word[4] = {};
    const int offset = 4 * i;
    std::memcpy(word, valueBytes.constData() + offset, size_t(qMin(4, valueBytes.size() - offset)));
    return qFromLittleEndian<quint32>(word);
}

float EngineMessage::floatValue(int i) const
{
    if (i < 0 || i >= valueCount())
        return 0.0f;
    const quint32 bits = value(i);
    float result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

bool EngineMessage::isError() const
{
    return Engine::isErrorType(type);
}

QString EngineMessage::toString() const
{
    QString text = hexWord(head.word1) + QLatin1Char(' ') + hexWord(head.word2) + QLatin1Char(' ');
    const int words = valueCount();
    for (int i = 0; i < words; ++i)
        text += hexWord(value(i)) + QLatin1Char(' ');
    if (words == 1)
        text += QLatin1Char('(') + QString::number(double(floatValue(0)), 'g', 6) + QLatin1Char(')');

    text += QLatin1String(" // ");
    switch (module()) {
    case Engine::Meters:
        text += Engine::moduleName(module()) + QLatin1Char(' ') + Engine::meterFieldName(parameter());
        break;
    case Engine::FXcontrol:
        text += QLatin1String("fx channel ") + QString::number(channel()) + QLatin1Char(' ')
            + Engine::moduleName(module());
        break;
    case Engine::System:
        text += Engine::moduleName(module()) + QLatin1Char(' ') + Engine::systemMessageName(parameter());
        break;
    default:
        text += QLatin1String("channel ") + QString::number(channel()) + QLatin1Char(' ')
            + Engine::moduleName(module()) + QLatin1String(" [") + QString::number(index())
            + QLatin1String("] ") + Engine::parameterName(parameter());
        break;
    }
    if (isError())
        text += QLatin1String(" ** ") + Engine::messageTypeName(type);
    return text;
}

quint32 EngineMessage::wordSum(const char *bytes, int words)
{
    quint32 sum = 0;
    for (int i = 0; i < words; ++i)
        sum += qFromLittleEndian<quint32>(bytes + 4 * i);
    return sum;
}

QByteArray EngineMessage::toFrame() const
{
    if (!isFramable())
        return QByteArray();
    QByteArray padded = valueBytes;
    while (padded.size() % 4 != 0)
        padded.append('\0');

    QByteArray frame;
    frame.reserve(HeaderBytes + padded.size() + 4);
    frame.append(char((padded.size() + HeaderBytes) / 4));
    frame.append(char(type));
    frame.append(char(0xA5));
    frame.append(char(0xFF));
    frame.append(wordBytes(head.word1));
    frame.append(wordBytes(head.word2));
    frame.append(padded);
    frame.append(wordBytes(wordSum(frame.constData(), frame.size() / 4)));
    return frame;
}

} // namespace EMS
