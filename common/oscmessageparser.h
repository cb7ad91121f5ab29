#pragma once

#include "common/oscinterfaces.h"

#include <QByteArray>
#include <QObject>

namespace Common {

// Decodes OSC packets with one argument ("i", "f" or "s"; anything else gives a
// message without a value). Addresses are case-insensitive: they are lower-cased.
// Whatever the bytes, nothing is read outside them: a packet cut short gives a
// message without a value.
class OscMessageParser : public QObject, public IOscMessageParser
{
    Q_OBJECT

public:
    explicit OscMessageParser(QObject *parent = nullptr);

    OscMessage parse(const QByteArray &data) const override;

    static OscMessage decode(const QByteArray &data);
};

} // namespace Common
