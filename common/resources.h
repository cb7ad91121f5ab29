#pragma once

namespace Common {

// The ":/firmware/" resources live in the static library; Qt only registers them
// once this has been called (once is enough, more calls are harmless).
void initResources();

} // namespace Common
