#pragma once

// Every text one row of the session monitor derives from its session: subtitle, durations,
// configuration summary, display name, and the colours of the status and step indicators. Pure
// functions of their arguments; the date formatters behind them are made once per process and
// shared (safe from any thread).

#include "session/config/SessionConfig.h"
#include "session/folder/SessionStatusSnapshot.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The colours of badges, indicators and status words; the widgets map them to the palette.
enum class StatusTone { secondary, faint, blue, green, orange, red };

class SessionRowFormatting {
  public:
    using TimePoint = std::chrono::system_clock::time_point;

    SessionRowFormatting() = delete;

    // "Duration: 1m5s ・ <headline>", the duration or the trimmed headline alone, or none.
    static std::optional<std::string> subtitleText(const SessionStatusSnapshot& snapshot);
    // "Duration: 45s", "Duration: 2m5s", "Duration: 1h2m5s" from seconds rounded half away from
    // zero; none for none, and for a value that is not finite or does not fit 64 bits.
    static std::optional<std::string> formattedDuration(std::optional<double> seconds);
    // "42s" or "62m5s" from the step's start to its completion, or to `now` while it runs; none
    // without a start, without an end, or for a negative span.
    static std::optional<std::string> elapsedText(const StepState& state, TimePoint now);
    // The step's start as "HH:mm:ss" in the local time zone.
    static std::string shortTime(std::chrono::sys_seconds time);

    static std::string transcriptionConfigText(const SessionConfig& config);
    static std::string diarizationConfigText(const SessionConfig& config);
    static std::string summaryConfigText(const SessionConfig& config);
    static std::vector<std::string> summaryConfigDetailItems(const SessionConfig& config);
    // "ON" / "OFF" (localized).
    static std::string nightlyBatchText(const SessionConfig& config);

    // A folder named by its UTC start time (or a local time without zone) as the user's short
    // date and medium time; any other name with "T" as a blank, "Z" removed and "-" as ":".
    static std::string formattedName(std::string_view dirName);

    static StatusTone tone(SessionStatusSnapshot::OverallStatus status);
    // The indicator colour of a step (the status word has the same colour).
    static StatusTone tone(StepStatus status);
    // The step's status word: "pending", "running", "done", "failed", "skipped" (never localized).
    static std::string statusWord(StepStatus status);
};

} // namespace velnote
