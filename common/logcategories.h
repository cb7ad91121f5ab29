#pragma once

#include <QLoggingCategory>

// The program's debug log, one category per subsystem, so a user can be asked for a
// verbose log of one of them:
//   QT_LOGGING_RULES="sablefold.link.debug=true" sablefold-controller
Q_DECLARE_LOGGING_CATEGORY(lcLink)   // sablefold.link: the card link, its probe and frames
Q_DECLARE_LOGGING_CATEGORY(lcUpdate) // sablefold.update: firmware updates
Q_DECLARE_LOGGING_CATEGORY(lcSlot)   // sablefold.slot: adapter choice, recovery, slot state
Q_DECLARE_LOGGING_CATEGORY(lcUi)     // sablefold.ui: the window and its panels
Q_DECLARE_LOGGING_CATEGORY(lcEngine) // sablefold.engine: the engine link
Q_DECLARE_LOGGING_CATEGORY(lcOsc)    // sablefold.osc: OSC and the connection family
Q_DECLARE_LOGGING_CATEGORY(lcSim)    // sablefold.sim: the card simulator
