#pragma once

#include <optional>
#include <string>

namespace velnote {

// The spoken language of a recording as the speech back-ends take it.
class InputLanguage {
  public:
    // The configured value (a code, an alias such as "Japanese" or "日本語", or
    // "auto"; trimmed and matched without regard to case) as one of the codes
    // ja, en, zh, ko, fr, de, es, it, pt; std::nullopt for automatic detection.
    // Traditional Chinese resolves to "zh"; absent, empty and unknown values to
    // "ja" (logged).
    static std::optional<std::string> resolved(const std::optional<std::string>& value);
};

} // namespace velnote
