#pragma once

#include "session/config/SessionConfig.h"
#include "session/folder/StepState.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace velnote {

// What the user interface shows of one session folder. Equality covers every
// field, the configuration included.
struct SessionStatusSnapshot {
    enum class OverallStatus { queued, running, done, failed, stopped, pending };
    static constexpr std::array<OverallStatus, 6> kAllOverallStatuses = {
        OverallStatus::queued, OverallStatus::running, OverallStatus::done,
        OverallStatus::failed, OverallStatus::stopped, OverallStatus::pending};

    std::filesystem::path id; // the session folder, symbolic links resolved, then made lexically normal
    std::string dirName;      // last component of `id`
    std::chrono::sys_seconds createdAt{};
    StepState transcription;
    StepState diarization;
    StepState summary;
    bool isRunning = false;      // the queue is processing it
    bool isPending = false;      // the queue has it waiting
    bool isClosed = false;       // found in the saved-sessions folder
    bool isMediaDeleted = false; // "mediaFilesDeleted" of its "session.json"
    bool hasLock = false;        // a "session.lock" exists
    bool manuallyStopped = false;
    std::optional<std::string> summaryHeadline;
    std::optional<double> recordingDuration; // seconds
    SessionConfig config;

    bool operator==(const SessionStatusSnapshot&) const = default;
};

} // namespace velnote
