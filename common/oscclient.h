#pragma once

#include "common/oscinterfaces.h"

#include <QByteArray>
#include <QObject>

namespace Common {

// Encodes messages as OSC 1.0 packets with one argument. It sends nothing itself:
// whoever owns a transport connects to oscMessageReady.
class OscClient : public QObject, public IOscClient
{
    Q_OBJECT

public:
    explicit OscClient(QObject *parent = nullptr);

    void sendMessage(const OscMessage &message) override;

    // The packet of a message: padded address, type tags ",x\0\0", argument.
    static QByteArray encode(const OscMessage &message);
    // The type tag for a value: 'i', 'f', 's', or 'N' for anything else.
    static char typeTag(const QVariant &value);

signals:
    void oscMessageReady(QByteArray oscMessage);
};

} // namespace Common
