#pragma once

#include <string_view>

namespace velnote {

// Who asks for the on-device model slot. A higher value is served first.
enum class ModelExecutionPriority {
    remoteSummary = 0, // passed by no caller today; ranks lowest but is never refused
    localSummary = 1,  // the local GGUF language model (session and live summaries)
    appleLocal = 2,    // the on-device foundation model's summary
    whisper = 3,       // the on-device speech transcription of recorded sessions
};

// The case name, as log lines show it.
std::string_view name(ModelExecutionPriority priority);

// localSummary and appleLocal: the requests refused when too many of them wait.
bool isLowAdmissionClass(ModelExecutionPriority priority);

} // namespace velnote
