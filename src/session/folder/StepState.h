#pragma once

#include "platform/json/IsoDate.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnote {

// Stored as its raw value; any other text makes "session.json" unreadable.
enum class StepStatus {
    pending, // still has to run
    running, // running now; a "session.lock" should exist
    done,
    failed,  // the last run failed
    skipped, // does not apply to the session's configuration
};

inline constexpr std::array<StepStatus, 5> kAllStepStatuses = {
    StepStatus::pending, StepStatus::running, StepStatus::done, StepStatus::failed, StepStatus::skipped};

constexpr const auto& allCases(StepStatus) {
    return kAllStepStatuses;
}
std::string_view rawValue(StepStatus status);

void to_json(platform::Json& j, StepStatus status);
void from_json(const platform::Json& j, StepStatus& status);

// The state of one processing step of a session.
struct StepState {
    StepStatus status = StepStatus::pending;
    std::optional<std::chrono::sys_seconds> startedAt{};   // when the step last started running
    std::optional<std::chrono::sys_seconds> completedAt{}; // when it last ended, done or failed
    std::optional<std::string> error{};                    // message of the last failure
    std::int64_t retryCount = 0;                           // failed runs; absent or negative in JSON: 0

    // A state with no dates, no error and no retries.
    static StepState fresh(StepStatus status) { return StepState{status, {}, {}, {}, 0}; }

    // A run of the step failed: status failed, `message` as its error, one more retry counted;
    // `endedAt`, when given, as completedAt (left as it was otherwise).
    void markFailed(std::string message, std::optional<std::chrono::sys_seconds> endedAt);

    bool operator==(const StepState&) const = default;
};

void to_json(platform::Json& j, const StepState& s);
void from_json(const platform::Json& j, StepState& s);

} // namespace velnote
