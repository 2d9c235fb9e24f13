#include "ui/recording/RecordingViewRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velnote::recording_view {
namespace {

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

} // namespace

std::set<std::string> parseOpenSections(std::string_view raw) {
    std::set<std::string> ids;
    std::size_t start = 0;
    while (start <= raw.size()) {
        const std::size_t comma = std::min(raw.find(',', start), raw.size());
        if (comma > start) {
            ids.emplace(raw.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return ids;
}

std::string joinOpenSections(const std::set<std::string>& ids) {
    std::string raw;
    for (const std::string& id : ids) { // std::set<std::string> orders by byte, i.e. code point
        raw += raw.empty() ? id : "," + id;
    }
    return raw;
}

SectionActivity sectionActivity(const RecordingState& state, PanelLayout layout,
                                const std::set<std::string>& openIds) {
    if (state.phase() != RecordingState::Phase::recording) {
        return {};
    }
    if (layout == PanelLayout::compact) {
        return {.meter = true, .activity = false, .transcript = true, .summary = false};
    }
    auto open = [&](std::string_view id) { return openIds.contains(std::string(id)); };
    return {.meter = open(kVolume),
            .activity = open(kActivity),
            .transcript = open(kTranscription),
            .summary = open(kSummary)};
}

std::optional<PanelSize> compactMeasuredContentSize(double headerHeight, double actionHeight,
                                                    PanelLayout layout, bool recording,
                                                    std::string_view sourceText) {
    if (headerHeight <= 0 || actionHeight <= 0) {
        return std::nullopt;
    }
    double height = headerHeight + actionHeight + 22;
    if (layout == PanelLayout::compact && recording) {
        height += 50;
        if (!latestLiveTranscriptLine(sourceText).empty()) {
            height += 30;
        }
    }
    return PanelSize{260, height};
}

std::string latestLiveTranscriptLine(std::string_view text) {
    std::size_t end = text.size();
    while (true) {
        const std::size_t lineFeed = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
        const std::size_t begin = lineFeed == std::string_view::npos ? 0 : lineFeed + 1;
        const std::string_view line = text.substr(begin, end - begin);
        if (!isBlank(line)) {
            return std::string(line);
        }
        if (lineFeed == std::string_view::npos) {
            return {};
        }
        end = lineFeed;
    }
}

std::string elapsedText(std::optional<platform::Clock::WallTime> start, platform::Clock::WallTime now) {
    if (!start) {
        return "00:00:00";
    }
    const auto seconds =
        std::max<long long>(std::chrono::duration_cast<std::chrono::seconds>(now - *start).count(), 0);
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, (seconds % 3600) / 60,
                  seconds % 60);
    return text;
}

std::string levelPercent(double level) {
    const double clamped = std::isnan(level) ? 0.0 : std::clamp(level, 0.0, 1.0);
    char text[16];
    std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(std::round(clamped * 100)));
    return text;
}

LevelTone levelTone(double level, bool muted) {
    if (muted) {
        return LevelTone::muted;
    }
    if (level < 0.6 || std::isnan(level)) {
        return LevelTone::green;
    }
    return level < 0.82 ? LevelTone::orange : LevelTone::red;
}

std::string gainText(double gain) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx", gain);
    return text;
}

std::array<double, 18> waveformBarHeights(double micLevel, double sysLevel, double phase) {
    const double level = std::max(micLevel, sysLevel);
    std::array<double, 18> heights{};
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const double index = static_cast<double>(i);
        const double amplitude =
            level > 0.01 ? level * (std::sin(0.4 * index + phase) * 0.6 + 0.4) * 36 : 0.72;
        const double envelope = std::max(1 - std::abs(8.5 - index) / 9, 0.15);
        heights[i] = std::max(envelope * amplitude, 4.0);
    }
    return heights;
}

TranscriptTitleAccessory transcriptTitleAccessory(const TranscriptPaneInputs& inputs) {
    if (inputs.hasTranscriptionError) {
        return TranscriptTitleAccessory::nothing;
    }
    if (!inputs.sourceTextEmpty) {
        return TranscriptTitleAccessory::copyButton;
    }
    if (inputs.displayTranslation && inputs.translationPending) {
        return TranscriptTitleAccessory::translating;
    }
    return inputs.transcriptionPending ? TranscriptTitleAccessory::preparing
                                       : TranscriptTitleAccessory::waiting;
}

std::int64_t intervalMinutesFromSlider(double value) {
    if (std::isnan(value)) {
        return 1;
    }
    return static_cast<std::int64_t>(std::round(std::clamp(value, -1e9, 1e9)));
}

} // namespace velnote::recording_view
