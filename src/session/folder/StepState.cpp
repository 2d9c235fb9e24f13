#include "session/folder/StepState.h"

#include "platform/json/RawValue.h"

#include <algorithm>
#include <limits>

namespace velnote {
using platform::Json;

std::string_view rawValue(StepStatus status) {
    switch (status) {
    case StepStatus::pending:
        return "pending";
    case StepStatus::running:
        return "running";
    case StepStatus::done:
        return "done";
    case StepStatus::failed:
        return "failed";
    case StepStatus::skipped:
        return "skipped";
    }
    return "pending";
}

void to_json(Json& j, StepStatus status) {
    j = std::string(rawValue(status));
}

void from_json(const Json& j, StepStatus& status) {
    status = platform::decodeRawValue<StepStatus>(j, "step status");
}

void StepState::markFailed(std::string message, std::optional<std::chrono::sys_seconds> endedAt) {
    status = StepStatus::failed;
    error = std::move(message);
    if (endedAt)
        completedAt = endedAt;
    // A count read from a damaged file may already sit at the top of the range.
    if (retryCount < std::numeric_limits<std::int64_t>::max())
        retryCount += 1;
}

void to_json(Json& j, const StepState& s) {
    j = Json::object();
    j["status"] = s.status;
    platform::setIfPresent(j, "startedAt", s.startedAt);
    platform::setIfPresent(j, "completedAt", s.completedAt);
    platform::setIfPresent(j, "error", s.error);
    j["retryCount"] = s.retryCount;
}

void from_json(const Json& j, StepState& s) {
    s.status = platform::required<StepStatus>(j, "status");
    s.startedAt = platform::optional<std::chrono::sys_seconds>(j, "startedAt");
    s.completedAt = platform::optional<std::chrono::sys_seconds>(j, "completedAt");
    s.error = platform::optional<std::string>(j, "error");
    // A count below zero only comes from a damaged file. Read like an absent one: counting up
    // from it would grant the step more automatic runs than the retry rule allows.
    s.retryCount = std::max<std::int64_t>(platform::optional<std::int64_t>(j, "retryCount").value_or(0), 0);
}

} // namespace velnote
