#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velnote {

// What one transcription run is asked to do; built from the session's
// configuration just before the run.
struct TranscriptionRequest {
    std::filesystem::path sessionDir{};
    std::string model{};                            // speech model name handed to the back-end
    std::optional<std::string> language{};          // language code; none = automatic detection
    bool diarizationEnabled = false;                // the back-end labels speakers
    std::optional<std::int64_t> numberOfSpeakers{}; // expected speakers; none = not given
    double micInputGain = 1.0;                      // linear factor for mixing; <= 0 (or NaN) means 1.0
    double sysInputGain = 1.0;                      // linear factor for mixing; <= 0 (or NaN) means 1.0

    bool operator==(const TranscriptionRequest&) const = default;
};

} // namespace velnote
