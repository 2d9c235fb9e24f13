#pragma once

#include "app/state/RecordingState.h"
#include "platform/concurrency/Clock.h"
#include "ui/recording/RecordingWindowFrames.h"

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace velnote {

// The recording panel's rules that need no widget: which sections are open and what AppState
// is told about them, the size the compact layout asks for, and how values are written.
namespace recording_view {

inline constexpr std::string_view kVolume = "volume";
inline constexpr std::string_view kActivity = "activity";
inline constexpr std::string_view kTranscription = "transcription";
inline constexpr std::string_view kSummary = "summary";

// "recordingFloatingOpenSections": ids joined by ",". Empty pieces are dropped; nothing is
// trimmed, and unknown ids are kept (they open nothing).
std::set<std::string> parseOpenSections(std::string_view raw);
// Sorted by code point, joined by ",".
std::string joinOpenSections(const std::set<std::string>& ids);

struct SectionActivity {
    bool meter = false;
    bool activity = false;
    bool transcript = false;
    bool summary = false;
    bool operator==(const SectionActivity&) const = default;
};
SectionActivity sectionActivity(const RecordingState& state, PanelLayout layout,
                                const std::set<std::string>& openIds);

// The size the compact layout asks the window for, once both heights are known:
// header + action + 22, and while recording in the compact layout +50 for the waveform and +30
// when a latest transcript line exists.
std::optional<PanelSize> compactMeasuredContentSize(double headerHeight, double actionHeight,
                                                    PanelLayout layout, bool recording,
                                                    std::string_view sourceText);

// The last line of `text` that is not blank, unchanged; empty when there is none.
std::string latestLiveTranscriptLine(std::string_view text);

// "HH:MM:SS" of the whole seconds since `start` (hours not limited); "00:00:00" without a start
// or with a start in the future.
std::string elapsedText(std::optional<platform::Clock::WallTime> start, platform::Clock::WallTime now);

// "%3d%%" of the level clamped to 0...1, rounded half away from zero; NaN reads 0.
std::string levelPercent(double level);
enum class LevelTone { muted, green, orange, red };
LevelTone levelTone(double level, bool muted);
// "%.2fx" of a gain.
std::string gainText(double gain);

// The 18 bar heights of the compact waveform for the louder of the two levels.
std::array<double, 18> waveformBarHeights(double micLevel, double sysLevel, double phase);

// What the transcript pane's title row shows on its right.
enum class TranscriptTitleAccessory { nothing, copyButton, translating, preparing, waiting };
struct TranscriptPaneInputs {
    bool hasTranscriptionError = false;
    bool sourceTextEmpty = true;
    bool displayTranslation = false;
    bool translationPending = false;
    bool transcriptionPending = false;
};
TranscriptTitleAccessory transcriptTitleAccessory(const TranscriptPaneInputs& inputs);

// The interval slider's value written back: rounded half away from zero; NaN gives 1.
std::int64_t intervalMinutesFromSlider(double value);

} // namespace recording_view
} // namespace velnote
