#pragma once

#include "platform/json/Json.h"

#include <string>

namespace velnote {

// One recognised word with its timing, in seconds from the recording start.
struct SpeechWordTiming {
    std::string word;
    double start = 0;
    double end = 0;

    bool operator==(const SpeechWordTiming&) const = default;
};

// JSON {"word", "start", "end"}, all required.
void to_json(platform::Json& json, const SpeechWordTiming& timing);
void from_json(const platform::Json& json, SpeechWordTiming& timing);

} // namespace velnote
