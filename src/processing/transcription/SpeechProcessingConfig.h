#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velnote {

// The settings a back-end applies to one track, copied from the request.
struct SpeechProcessingConfig {
    std::string model{};
    std::optional<std::string> language{}; // none = automatic detection
    bool diarizationEnabled = false;
    std::optional<std::int64_t> numberOfSpeakers{}; // none = not given

    bool operator==(const SpeechProcessingConfig&) const = default;
};

} // namespace velnote
