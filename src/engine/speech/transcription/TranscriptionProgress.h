#pragma once

#include "engine/speech/transcription/TranscriptionTimings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vocalith {

// What the decoder reports to a progress callback after each token. No JSON form.
struct TranscriptionProgress {
    TranscriptionTimings timings{}; // the decoder's timing values at the time of the report
    std::string text{};             // text decoded so far
    std::vector<std::int64_t> tokens{};
    std::optional<float> temperature{};
    std::optional<float> avgLogprob{};
    std::optional<float> compressionRatio{};
    // 0 from the decoder; the task and the batched entry points replace it with their window or
    // input number.
    std::int64_t windowId = 0;
};

enum class TranscriptionState { convertingAudio, transcribing, finished };

// "Converting Audio", "Transcribing", "Finished".
std::string_view description(TranscriptionState state);

} // namespace vocalith
