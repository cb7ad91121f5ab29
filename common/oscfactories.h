#pragma once

#include "common/oscinterfaces.h"

#include <QObject>

namespace Common {

// Builds a message from exactly the path and parameter given, without normalizing.
class OscMessageFactory : public QObject, public IOscMessageFactory
{
    Q_OBJECT

public:
    explicit OscMessageFactory(QObject *parent = nullptr);

public slots:
    OscMessage create(const QString &path, const OscParameter &parameter) const override;
};

class OscParameterFactory : public QObject, public IOscParameterFactory
{
    Q_OBJECT

public:
    explicit OscParameterFactory(QObject *parent = nullptr);

    using IOscParameterFactory::create;

public slots:
    // No value: the message carries none.
    OscParameter create(const QString &name) const override;
    OscParameter create(const QString &name, const QString &value) const override;
    OscParameter create(const QString &name, const QVariant &value) const override;
    OscParameter create(const QString &name, float value) const override;
    OscParameter create(const QString &name, bool value) const override;
};

} // namespace Common
