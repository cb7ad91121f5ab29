#pragma once

#include <QLoggingCategory>

// The card link's log: serial ports, their drivers and the bytes on them.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
