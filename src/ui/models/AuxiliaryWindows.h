#pragma once

#include "app/shell/ShellWindows.h"

namespace velnote {

// Fills the shell's slots of the model management, hallucination filter, user dictionary and
// About windows. Each controller is made on its window's first show(), so a window never opened reads
// nothing from disk. Main thread, once at launch.
void installAuxiliaryWindows(ShellWindows& windows);

} // namespace velnote
