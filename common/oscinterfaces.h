#pragma once

#include "common/oscmessage.h"

namespace Common {

class IOscClient
{
public:
    virtual ~IOscClient() = default;
    virtual void sendMessage(const OscMessage &message) = 0;
};

class IOscMessageParser
{
public:
    virtual ~IOscMessageParser() = default;
    virtual OscMessage parse(const QByteArray &data) const = 0;
};

class IOscMessageFactory
{
public:
    virtual ~IOscMessageFactory() = default;
    virtual OscMessage create(const QString &path, const OscParameter &parameter) const = 0;
};

class IOscParameterFactory
{
public:
    virtual ~IOscParameterFactory() = default;
    virtual OscParameter create(const QString &name) const = 0;
    virtual OscParameter create(const QString &name, const QString &value) const = 0;
    virtual OscParameter create(const QString &name, const QVariant &value) const = 0;
    virtual OscParameter create(const QString &name, float value) const = 0;
    virtual OscParameter create(const QString &name, bool value) const = 0;

    // Without this a string literal would choose the bool overload (a pointer
    // converts to bool before it converts to QString) and carry "true".
    OscParameter create(const QString &name, const char *value) const
    {
        return create(name, QString::fromUtf8(value));
    }
};

} // namespace Common
