#pragma once

// The boot-loader updater is driven by the card port and lives with it in link/; this
// name is kept so code that includes it from here still builds.
#include "link/bootloaderupdater.h"
