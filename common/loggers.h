#pragma once

#include "common/ilogger.h"

namespace Common {

// Writes each line to the Qt debug log at its own level.
class SimpleLogger : public ILogger
{
public:
    bool isEnabled() const override { return true; }
    void debug(const QString &text) override;
    void warning(const QString &text) override;
    void critical(const QString &text) override;
};

// Says nothing; stands in wherever no logger was given.
class NullLogger : public ILogger
{
public:
    bool isEnabled() const override { return false; }
    void debug(const QString &) override {}
    void warning(const QString &) override {}
    void critical(const QString &) override {}

    // One shared silent logger, so that a connection built without a logger need
    // not check for null on every line it logs.
    static ILogger *instance();
};

} // namespace Common
