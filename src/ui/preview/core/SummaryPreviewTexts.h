#pragma once

#include "session/config/SessionConfig.h"
#include "session/folder/SummaryRunConfig.h"
#include "session/settings/UserDefaults.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// The texts of the summary window's sidebar and run configuration bar, derived from the session's
// snapshot and a version's run configuration.
struct SummaryPreviewTexts {
    // The creation time in the user's locale and time zone: medium date, short time.
    static std::string formattedDate(std::chrono::sys_seconds date);

    // Hours, minutes and seconds separated by colons, minutes and seconds two digits, hours not
    // wrapped at 24 (307 s is "0:05:07"); rounded to the nearest second. "00:00:00" for a
    // duration that is negative, not a number or beyond any recording.
    static std::string durationText(double seconds);

    // The model a run with the session's configuration records; a provider text that names no
    // provider counts as the llama.cpp provider. Empty hides the sidebar's model row.
    static std::string sidebarModel(const SessionConfig& config,
                                    const UserDefaults& defaults = UserDefaults());

    // The configured output language, or "デフォルト" when empty.
    static std::string outputLanguage(const SessionConfig& config);

    // The provider's display name, or the stored text itself when it names no provider.
    static std::string providerLabel(const std::string& storedProvider);

    // What the run configuration bar shows, left to right after the provider.
    struct RunConfigBar {
        std::string provider;
        std::vector<std::string> chips;     // model, prompt label (also when empty), output language
        std::optional<std::string> noteTip; // the note as stored, when not empty
    };
    static RunConfigBar runConfigBar(const SummaryRunConfig& config);
};

} // namespace velnote
