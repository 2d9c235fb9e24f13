#pragma once

#include "platform/json/Json.h"
#include "processing/transcription/SpeechWordTiming.h"

#include <optional>
#include <string>
#include <vector>

namespace velnote {

// One recognised piece of speech as a back-end returns it.
struct SpeechSegment {
    std::string text{}; // already passed through the run's text sanitizer; may be empty
    double start = 0;   // seconds from the recording start
    double end = 0;     // seconds from the recording start; a diarizing back-end sets it to start
    std::optional<std::vector<SpeechWordTiming>> words{};
    // When present it replaces the source label and time of the transcript line.
    std::optional<std::string> speaker{};

    bool operator==(const SpeechSegment&) const = default;
};

// JSON {"text", "start", "end", "words", "speaker"}: the first three required,
// the last two left out when absent and read as absent when null.
void to_json(platform::Json& json, const SpeechSegment& segment);
void from_json(const platform::Json& json, SpeechSegment& segment);

} // namespace velnote
