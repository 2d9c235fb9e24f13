#pragma once

#include "context/activity/engine/ActivityTime.h"
#include "platform/json/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// One analysed foreground observation, handed from the event queue to the activity engine.
struct ActivitySourceEvent {
    std::string timestamp{}; // ISO 8601 in UTC, with or without fractional seconds
    std::string appName{};
    std::string bundleID{};
    std::optional<std::string> windowTitle{}; // carried, not used by the engine
    std::optional<std::string> screenType{};
    std::optional<std::string> service{};
    std::string description{};
    double confidence = 0; // the engine ignores events below 0.6
};

enum class ActivityStatus { active, softFinalized, finalized };

// "active", "soft_finalized", "finalized".
std::string activityStatusText(ActivityStatus status);

// One activity in the engine's memory.
struct ActivityState {
    std::string id{}; // "act_" and a six-digit serial
    ActivityTime startTime{};
    ActivityTime lastUpdateTime{};
    std::vector<std::string> appsUsed{};    // bundle identifiers, first seen first, no duplicates
    std::vector<std::string> appNames{};    // lower case, first seen first, no duplicates
    std::vector<std::string> services{};    // trimmed, non-empty, first seen first, no duplicates
    std::vector<std::string> screenTypes{}; // likewise
    std::int64_t eventCount = 0;
    std::vector<double> centerEmbedding{};               // unit-length weighted centroid of the history
    std::vector<std::vector<double>> embeddingHistory{}; // the last 12, newest first
    std::vector<std::string> descriptions{};             // the last 20, oldest first
    ActivityStatus status = ActivityStatus::active;
    std::string intent{};                            // empty until an inference answers
    std::string purpose{};                           // likewise
    std::optional<ActivityTime> lastInferenceTime{}; // wall clock when the last inference started
    std::int64_t lastInferenceEventCount = 0;
    std::optional<std::vector<double>> lastInferenceEmbedding{};
    std::optional<std::string> parentActivityID{}; // always absent
    std::vector<std::string> childActivityIDs{};   // always empty
};

// One accepted observation in the engine's ring buffer.
struct RingBufferEvent {
    std::string eventID{}; // "e" and an eight-digit serial
    ActivityTime timestamp{};
    std::string activityID{};
};

// One line of "activity_log.jsonl".
struct FinalizedActivityEntry {
    std::string activityID{};
    std::string startTime{};
    std::string endTime{};
    std::int64_t durationSec = 0;
    std::string intent{};
    std::string purpose{};
    std::vector<std::string> appsUsed{};
    std::vector<std::string> services{};
    std::vector<std::string> screenTypes{};
    std::int64_t eventCount = 0;

    bool operator==(const FinalizedActivityEntry&) const = default;
};

// One open activity in "activity_state.json".
struct ActivityStateEntry {
    std::string activityID{};
    std::string startTime{};
    std::string lastUpdateTime{};
    std::string intent{};
    std::string purpose{};
    std::vector<std::string> appsUsed{};
    std::vector<std::string> services{};
    std::vector<std::string> screenTypes{};
    std::int64_t eventCount = 0;
    std::vector<std::string> descriptions{}; // the last 5, oldest first
    std::string status{};

    bool operator==(const ActivityStateEntry&) const = default;
};

// The whole of "activity_state.json".
struct ActivityStateFile {
    std::int64_t version = 1;
    std::string updatedAt{};
    std::vector<ActivityStateEntry> currentActivities{};

    bool operator==(const ActivityStateFile&) const = default;
};

// The first non-empty of purpose, intent, the first service, the first screen type, the last
// description and the first application name; empty when all are.
std::string fallbackSummary(const ActivityState& activity);

// Whole seconds from start to last update, halves away from zero, 0 when negative.
std::int64_t activityDurationSeconds(const ActivityState& activity);

FinalizedActivityEntry makeFinalizedEntry(const ActivityState& activity);
ActivityStateEntry makeStateEntry(const ActivityState& activity);

// The three file records, with snake_case keys, every key required when decoding.
void to_json(platform::Json& json, const FinalizedActivityEntry& entry);
void from_json(const platform::Json& json, FinalizedActivityEntry& entry);
void to_json(platform::Json& json, const ActivityStateEntry& entry);
void from_json(const platform::Json& json, ActivityStateEntry& entry);
void to_json(platform::Json& json, const ActivityStateFile& file);
void from_json(const platform::Json& json, ActivityStateFile& file);

} // namespace velnote
