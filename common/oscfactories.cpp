#include "common/oscfactories.h"

namespace Common {

OscMessageFactory::OscMessageFactory(QObject *parent)
    : QObject(parent)
{
}

OscMessage OscMessageFactory::create(const QString &path, const OscParameter &parameter) const
{
    OscMessage message;
    message.path = path;
    message.parameter = parameter;
    return message;
}

OscParameterFactory::OscParameterFactory(QObject *parent)
    : QObject(parent)
{
}

OscParameter OscParameterFactory::create(const QString &name) const
{
    return create(name, QVariant());
}

OscParameter OscParameterFactory::create(const QString &name, const QString &value) const
{
    return create(name, QVariant(value));
}

OscParameter OscParameterFactory::create(const QString &name, const QVariant &value) const
{
    OscParameter parameter;
    parameter.name = name;
    parameter.value = value;
    return parameter;
}

OscParameter OscParameterFactory::create(const QString &name, float value) const
{
    return create(name, QVariant(value));
}

OscParameter OscParameterFactory::create(const QString &name, bool value) const
{
    return create(name, QVariant(value));
}

} // namespace Common
