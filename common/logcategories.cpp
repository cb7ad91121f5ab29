#include "common/logcategories.h"

Q_LOGGING_CATEGORY(lcLink, "sablefold.link")
Q_LOGGING_CATEGORY(lcUpdate, "sablefold.update")
Q_LOGGING_CATEGORY(lcSlot, "sablefold.slot")
Q_LOGGING_CATEGORY(lcUi, "sablefold.ui")
Q_LOGGING_CATEGORY(lcEngine, "sablefold.engine")
Q_LOGGING_CATEGORY(lcOsc, "sablefold.osc")
Q_LOGGING_CATEGORY(lcSim, "sablefold.sim")
