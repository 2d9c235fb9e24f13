#pragma once

// The content of a session's "session.json": format version, creation time,
// the frozen configuration, the build that made it, the three step states and
// a few results and flags.
//
// JSON: optional values that are none are left out, never written as null;
// null reads as absent; unknown keys are ignored (and so vanish at the next
// rewrite); a missing required key, a wrong type or an unknown step status
// anywhere fails the whole file. Dates are whole-second UTC with "Z".

#include "platform/concurrency/SystemClock.h"
#include "platform/json/IsoDate.h"
#include "session/config/SessionConfig.h"
#include "session/folder/SessionBuildInfo.h"
#include "session/folder/StepState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velnote {

struct SessionSteps {
    StepState transcription;
    StepState diarization; // runs inside transcription and is only marked
    StepState summary;

    bool operator==(const SessionSteps&) const = default;
};

struct SessionMetadata {
    std::int64_t version = 1; // 1 in every file this system makes; any integer reads
    std::chrono::sys_seconds createdAt{};
    SessionConfig config;
    std::optional<SessionBuildInfo> buildInfo;
    SessionSteps steps;
    std::optional<std::string> summaryHeadline;
    bool summaryFallbackOccurred = false; // absent or null reads as false
    std::optional<std::string> summaryFallbackDetails;
    std::optional<double> recordingDuration; // seconds
    bool manuallyStopped = false;            // left alone by the queue until a retry clears it
    bool mediaFilesDeleted = false;
    std::optional<std::chrono::sys_seconds> completionNotificationSentAt;

    // A new session's metadata: created now, built by this program, every step
    // fresh: transcription pending, diarization pending only when enabled,
    // summary pending only when a summary provider is named, others skipped.
    static SessionMetadata initial(const SessionConfig& config,
                                   const platform::Clock& clock = platform::SystemClock::shared());

    // Takes `newConfig` and makes diarization and summary fresh again for it (pending only
    // when enabled / a provider is named); transcription is left as it is.
    void applyConfig(const SessionConfig& newConfig);

    bool operator==(const SessionMetadata&) const = default;
};

void to_json(platform::Json& j, const SessionSteps& s);
void from_json(const platform::Json& j, SessionSteps& s);
void to_json(platform::Json& j, const SessionMetadata& m);
void from_json(const platform::Json& j, SessionMetadata& m);

} // namespace velnote
