#pragma once

#include "session/folder/SummaryRunConfig.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace velnote {

// One summary of a session: the current "summary.md" or an archived copy.
struct SummaryVersion {
    // Microseconds reach back to the distant past that undated versions get.
    using Time = std::chrono::sys_time<std::chrono::microseconds>;
    // 0001-01-01T00:00:00Z: sorts after every real date when newest come first.
    static const Time kDistantPast;

    std::filesystem::path url; // the ".md" file; identifies the version
    Time createdAt{};
    bool isLatest = false; // only the current "summary.md"
    std::optional<SummaryRunConfig> runConfig;

    // "最新" (localized) for the current version, else the date in the user's
    // locale (short date, medium time); then, with a run configuration,
    // "  [<provider label> · <model>]" (no " · <model>" when the model is empty;
    // the raw provider value when no provider has it).
    std::string label() const;

    bool operator==(const SummaryVersion&) const = default;
};

} // namespace velnote
