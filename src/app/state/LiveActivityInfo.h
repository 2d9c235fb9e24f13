#pragma once

#include <string>

namespace velnote {

// The current activity as the activity engine reports it, shown in the recording window.
// Deliberately without equality: every report reaches the window, even a repeated one.
struct LiveActivityInfo {
    std::string purpose;
    std::string summary;
    std::string workState;
};

} // namespace velnote
