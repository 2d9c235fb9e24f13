#include "ui/preview/core/SummaryPreviewTexts.h"

#include "platform/json/RawValue.h"
#include "session/config/SummaryProvider.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/unistr.h>

namespace velnote {

std::string SummaryPreviewTexts::formattedDate(std::chrono::sys_seconds date) {
    std::unique_ptr<icu::DateFormat> formatter(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort));
    if (!formatter)
        return {};
    icu::UnicodeString text;
    formatter->format(static_cast<UDate>(date.time_since_epoch().count()) * 1000.0, text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string SummaryPreviewTexts::durationText(double seconds) {
    // Ten million hours: far beyond any recording, and well inside a 64-bit integer.
    constexpr double kLongest = 3.6e10;
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongest)
        return "00:00:00";
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

std::string SummaryPreviewTexts::sidebarModel(const SessionConfig& config, const UserDefaults& defaults) {
    const SummaryProvider provider = platform::fromRawValue<SummaryProvider>(config.summary.provider)
                                         .value_or(SummaryProvider::llamaCppLocal);
    return resolvedModel(provider, config, defaults);
}

std::string SummaryPreviewTexts::outputLanguage(const SessionConfig& config) {
    return config.outputLanguage.empty() ? std::string("デフォルト") : config.outputLanguage;
}

std::string SummaryPreviewTexts::providerLabel(const std::string& storedProvider) {
    if (const auto provider = platform::fromRawValue<SummaryProvider>(storedProvider))
        return label(*provider);
    return storedProvider;
}

SummaryPreviewTexts::RunConfigBar SummaryPreviewTexts::runConfigBar(const SummaryRunConfig& config) {
    RunConfigBar bar{.provider = providerLabel(config.provider), .chips = {}, .noteTip = std::nullopt};
    if (!config.model.empty())
        bar.chips.push_back(config.model);
    if (config.promptLabel)
        bar.chips.push_back(*config.promptLabel);
    if (!config.outputLanguage.empty())
        bar.chips.push_back(config.outputLanguage);
    if (!config.userNote.empty())
        bar.noteTip = config.userNote;
    return bar;
}

} // namespace velnote
