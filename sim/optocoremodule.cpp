#include "sim/optocoremodule.h"
#include "link/framefields.h"

#include <QtEndian>

namespace {

enum Code : quint8 {
    CodeWriteNetworkId = 0x00,
    CodeWriteSettings = 0x60,
    CodeWriteRegisterF0 = 0x70,
    CodeNetworkId = 0x80,
    CodeSettings = 0xE0,
    CodeRegisterF0 = 0xF0,
};

QByteArray valueReply(quint8 code, quint8 value)
{
    QByteArray reply;
    reply.append(char(5));
    reply.append(char(code));
    reply.append(char(0x00));
    reply.append(char(0xFF));
    reply.append(char(value));
    return OptocoreModule::withSum(reply);
}

} // namespace

QByteArray OptocoreState::defaultSettings()
{
    QByteArray block(OptocoreModule::SettingsBlockSize, '\0');
    block[0] = char(OptocoreModule::SettingsBlockSize);
    block[1] = char(CodeSettings);
    block[2] = char(0x00);
    block[3] = char(0xFF);
    block[4] = char(0); // 1 Gb
    // The module's own configuration bytes; the controller rewrites only 4, 12 and 19.
    const char rest[] = {0x01, 0x10, 0x00, 0x08, 0x00, 0x00, 0x00, 0x3F, 0x02, 0x00,
                         0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    for (int i = 0; i < int(sizeof rest); ++i)
        block[5 + i] = rest[i];
    block[12] = char(0x3F);
    block[19] = char(0);
    return block;
}

quint8 OptocoreModule::byteSum(const QByteArray &bytes)
{
    return Common::byteSum(bytes);
}

QByteArray OptocoreModule::withSum(QByteArray bytes)
{
    bytes.append(char(byteSum(bytes)));
    return bytes;
}

QVector<QByteArray> OptocoreModule::handleCommand(const QByteArray &command)
{
    // Length byte, code and the sum at least; the length byte must match what came.
    if (command.size() < 3)
        return {};
    const QByteArray message = command.left(command.size() - 1);
    if (byteSum(message) != quint8(command.back()))
        return {};
    if (quint8(message.at(0)) != message.size())
        return {};

    const quint8 code = quint8(message.at(1));
    const auto byteAt = [&message](int index) { return quint8(message.at(index)); };
    switch (code) {
    case CodeNetworkId:
        return {valueReply(CodeNetworkId, module->networkId)};
    case CodeSettings:
        return {withSum(module->settings)};
    case CodeRegisterF0:
        return {valueReply(CodeRegisterF0, module->registerF0)};
    case CodeWriteNetworkId:
        if (message.size() < 8 || byteAt(5) != quint8(~byteAt(4)) || byteAt(6) != 0x55
            || byteAt(7) != 0xAA)
            return {};
        module->networkId = byteAt(4);
        return {command};
    case CodeWriteSettings: {
        if (message.size() < 20 || byteAt(4) > 1)
            return {};
        QByteArray block = message;
        block[0] = char(block.size());
        block[1] = char(CodeSettings);
        // The module derives byte 12 from the speed itself, whatever the writer sent.
        block[12] = char(byteAt(4) == 1 ? 0x7E : 0x3F);
        block[19] = char(byteAt(4));
        module->settings = block;
        return {command};
    }
    case CodeWriteRegisterF0:
        if (message.size() < 5)
            return {};
        module->registerF0 = byteAt(4);
        return {command};
    default:
        return {};
    }
}

bool OptocoreModule::handleUpdate(int param, const QByteArray &payload, QByteArray *reply)
{
    OptocoreState::Loader &loader = module->loader;
    switch (param) {
    case 0:
        *reply = module->version;
        return true;
    case 1:
        if (payload.size() != 64) {
            *reply = QByteArray(1, char(LoaderPacketLengthError));
            return true;
        }
        loader = OptocoreState::Loader();
        loader.buildDescription = payload;
        loader.stage = 1;
        *reply = QByteArray(1, char(LoaderAck));
        return true;
    case 2:
    case 3:
        if (payload.size() < 2) {
            *reply = QByteArray(1, char(LoaderPacketLengthError));
            return true;
        }
        loader.stage = param;
        loader.file.start(qFromBigEndian<quint16>(payload.constData()));
        loader.filesComplete[param - 2] = loader.file.complete();
        *reply = QByteArray(1, char(LoaderAck));
        return true;
    case 4:
        if (loader.stage != 2 && loader.stage != 3) {
            *reply = PacketSequence::answer(LoaderFileSizeError, 0);
            return true;
        }
        *reply = loader.file.take(payload);
        loader.filesComplete[loader.stage - 2] = loader.file.complete();
        return true;
    case 5: {
        const int end = loader.buildDescription.indexOf('\0');
        const QByteArray text = end < 0 ? loader.buildDescription : loader.buildDescription.left(end);
        if (loader.filesComplete[0] && loader.filesComplete[1] && !text.isEmpty())
            module->version = text;
        loader = OptocoreState::Loader();
        *reply = QByteArray(1, char(LoaderAck));
        return true;
    }
    default:
        return false;
    }
}
