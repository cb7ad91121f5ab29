#pragma once

// The serial port list belongs to the slot model in slot/; this name is kept so code that
// includes it from its old place still builds.
#include "slot/serialportlister.h"
