#pragma once

#include "platform/json/Json.h"

#include <optional>
#include <string>

namespace velnote {

// What produced one summary: stored compact as "summary_config.json" beside
// "summary.md" and archived with it. The four plain fields are required on
// reading; unknown keys are ignored.
struct SummaryRunConfig {
    std::string provider{};                   // a SummaryProvider raw value, e.g. "local" or "openai"
    std::string model{};                      // may be empty
    std::optional<std::string> promptKey{};   // preset key, or the key used for a custom prompt
    std::optional<std::string> promptLabel{}; // the preset's display label, when the catalogue has it
    std::string outputLanguage{};
    std::string userNote{}; // may be empty

    bool operator==(const SummaryRunConfig&) const = default;
};

void to_json(platform::Json& j, const SummaryRunConfig& c);
void from_json(const platform::Json& j, SummaryRunConfig& c);

} // namespace velnote
