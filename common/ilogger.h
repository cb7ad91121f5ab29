#pragma once

#include <QString>

namespace Common {

class ILogger
{
public:
    virtual ~ILogger() = default;

    virtual bool isEnabled() const = 0;
    virtual void debug(const QString &text) = 0;
    virtual void warning(const QString &text) = 0;
    virtual void critical(const QString &text) = 0;
};

} // namespace Common
