#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velnote {

// Times of the activity files: UTC with milliseconds.
using ActivityTime = std::chrono::sys_time<std::chrono::milliseconds>;

// "2025-01-31T09:15:00.250Z".
std::string formatActivityTime(ActivityTime time);

// An observation time: "2025-01-31T09:15:00.250Z" (one to nine fraction digits, cut to
// milliseconds), else the whole-second form "2025-01-31T09:15:00Z" (or with an offset such as
// "+09:00"); none for anything else.
std::optional<ActivityTime> parseActivityTime(std::string_view text);

// "HH:mm" of `time` in the local time zone.
std::string formatLocalHourMinute(ActivityTime time);

} // namespace velnote
