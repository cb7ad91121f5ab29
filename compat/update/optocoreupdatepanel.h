#pragma once

// The Optocore update panel is a widget and lives in ui/; this name is kept so code that
// includes it from its old place still builds.
#include "ui/optocoreupdatepanel.h"
