#pragma once

// Dates as they appear in the application's JSON files: "2025-01-31T09:15:00Z".

#include "platform/json/Json.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// Always UTC, whole seconds, "Z": "2025-01-31T09:15:00Z". Years outside
// 0000-9999 are written with as many digits as they need (and a "-" sign).
std::string formatIsoDate(std::chrono::sys_seconds time);

// Any finer time point is floored to the second first (fractions are dropped,
// also before 1970).
template <class Duration> std::string formatIsoDate(std::chrono::sys_time<Duration> time) {
    return formatIsoDate(std::chrono::floor<std::chrono::seconds>(time));
}

// Reads exactly "YYYY-MM-DDTHH:MM:SS" followed by "Z" or a "+HH:MM"/"-HH:MM"
// offset, which is converted to UTC. Returns std::nullopt for anything else:
// fractional seconds, a date that does not exist (Feb 30), hours past 23,
// seconds past 59 (no leap seconds), offsets past 23:59, lowercase "t"/"z",
// offsets without the colon, surrounding white space or trailing characters,
// and offsets that move the time out of the years 0000-9999 in UTC.
std::optional<std::chrono::sys_seconds> parseIsoDate(std::string_view text);

} // namespace velnote::platform

// Lets dates sit in records like any other field: `j["startedAt"] = date`,
// `required<std::chrono::sys_seconds>(j, "startedAt")`, `optional<...>` and
// `setIfPresent`. A string that parseIsoDate refuses throws JsonDecodeError.
template <> struct nlohmann::adl_serializer<std::chrono::sys_seconds> {
    static void to_json(nlohmann::json& j, std::chrono::sys_seconds time) {
        j = velnote::platform::formatIsoDate(time);
    }
    static void from_json(const nlohmann::json& j, std::chrono::sys_seconds& time);
};
