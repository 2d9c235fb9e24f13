#pragma once

#include "platform/concurrency/Clock.h"
#include "session/config/SessionConfig.h"

#include <filesystem>
#include <optional>

namespace velnote {

// The last word of a recording in its "session.json": the final configuration, the recording
// duration, and the diarization and summary steps reset to what that configuration asks for
// (pending or skipped); every other field keeps its stored value. Under the process-wide metadata
// lock. A missing or unusable file is rebuilt as a new session's metadata with the same changes
// (an unreadable one is kept beside it). Failures are logged; never throws.
struct FinalSessionMetadata {
    static void write(const std::filesystem::path& sessionDir, const SessionConfig& config,
                      std::optional<double> durationSeconds, const platform::Clock& clock);
};

} // namespace velnote
