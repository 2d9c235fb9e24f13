#pragma once

#include "platform/json/Json.h"

#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// An enum stored as text (in "session.json", the settings) names each value with `rawValue(value)`
// and lists every value with `allCases(Enum{})`, both declared beside the enum. These two turn the
// text back into the value, so no enum needs a parser of its own.

// The value whose raw value is exactly `raw` (case-sensitive, no trimming); std::nullopt otherwise.
template <class Enum> std::optional<Enum> fromRawValue(std::string_view raw) {
    for (const Enum value : allCases(Enum{})) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

// A JSON string that holds one of the raw values; anything else throws JsonDecodeError
// ("unknown <what>: <text>").
template <class Enum> Enum decodeRawValue(const Json& j, std::string_view what) {
    const auto raw = decode<std::string>(j);
    if (const auto value = fromRawValue<Enum>(raw))
        return *value;
    throw JsonDecodeError("", "unknown " + std::string(what) + ": " + raw);
}

} // namespace velnote::platform
