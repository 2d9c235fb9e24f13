#include "context/activity/engine/ActivityRecords.h"

#include <cmath>

namespace velnote {

using platform::Json;
using platform::required;

std::string activityStatusText(ActivityStatus status) {
    switch (status) {
    case ActivityStatus::active:
        return "active";
    case ActivityStatus::softFinalized:
        return "soft_finalized";
    case ActivityStatus::finalized:
        return "finalized";
    }
    return "active";
}

std::string fallbackSummary(const ActivityState& activity) {
    if (!activity.purpose.empty()) {
        return activity.purpose;
    }
    if (!activity.intent.empty()) {
        return activity.intent;
    }
    if (!activity.services.empty()) {
        return activity.services.front();
    }
    if (!activity.screenTypes.empty()) {
        return activity.screenTypes.front();
    }
    if (!activity.descriptions.empty()) {
        return activity.descriptions.back();
    }
    if (!activity.appNames.empty()) {
        return activity.appNames.front();
    }
    return "";
}

std::int64_t activityDurationSeconds(const ActivityState& activity) {
    const double seconds =
        std::chrono::duration<double>(activity.lastUpdateTime - activity.startTime).count();
    return seconds < 0 ? 0 : static_cast<std::int64_t>(std::round(seconds));
}

FinalizedActivityEntry makeFinalizedEntry(const ActivityState& activity) {
    return {.activityID = activity.id,
            .startTime = formatActivityTime(activity.startTime),
            .endTime = formatActivityTime(activity.lastUpdateTime),
            .durationSec = activityDurationSeconds(activity),
            .intent = activity.intent,
            .purpose = activity.purpose.empty() ? fallbackSummary(activity) : activity.purpose,
            .appsUsed = activity.appsUsed,
            .services = activity.services,
            .screenTypes = activity.screenTypes,
            .eventCount = activity.eventCount};
}

ActivityStateEntry makeStateEntry(const ActivityState& activity) {
    constexpr std::size_t kDescriptions = 5;
    const auto& all = activity.descriptions;
    const auto from = all.size() > kDescriptions ? all.end() - kDescriptions : all.begin();
    return {.activityID = activity.id,
            .startTime = formatActivityTime(activity.startTime),
            .lastUpdateTime = formatActivityTime(activity.lastUpdateTime),
            .intent = activity.intent,
            .purpose = activity.purpose,
            .appsUsed = activity.appsUsed,
            .services = activity.services,
            .screenTypes = activity.screenTypes,
            .eventCount = activity.eventCount,
            .descriptions = std::vector<std::string>(from, all.end()),
            .status = activityStatusText(activity.status)};
}

void to_json(Json& json, const FinalizedActivityEntry& entry) {
    json = Json::object();
    json["activity_id"] = entry.activityID;
    json["start_time"] = entry.startTime;
    json["end_time"] = entry.endTime;
    json["duration_sec"] = entry.durationSec;
    json["intent"] = entry.intent;
    json["purpose"] = entry.purpose;
    json["apps_used"] = entry.appsUsed;
    json["services"] = entry.services;
    json["screen_types"] = entry.screenTypes;
    json["event_count"] = entry.eventCount;
}

void from_json(const Json& json, FinalizedActivityEntry& entry) {
    entry.activityID = required<std::string>(json, "activity_id");
    entry.startTime = required<std::string>(json, "start_time");
    entry.endTime = required<std::string>(json, "end_time");
    entry.durationSec = required<std::int64_t>(json, "duration_sec");
    entry.intent = required<std::string>(json, "intent");
    entry.purpose = required<std::string>(json, "purpose");
    entry.appsUsed = required<std::vector<std::string>>(json, "apps_used");
    entry.services = required<std::vector<std::string>>(json, "services");
    entry.screenTypes = required<std::vector<std::string>>(json, "screen_types");
    entry.eventCount = required<std::int64_t>(json, "event_count");
}

void to_json(Json& json, const ActivityStateEntry& entry) {
    json = Json::object();
    json["activity_id"] = entry.activityID;
    json["start_time"] = entry.startTime;
    json["last_update_time"] = entry.lastUpdateTime;
    json["intent"] = entry.intent;
    json["purpose"] = entry.purpose;
    json["apps_used"] = entry.appsUsed;
    json["services"] = entry.services;
    json["screen_types"] = entry.screenTypes;
    json["event_count"] = entry.eventCount;
    json["descriptions"] = entry.descriptions;
    json["status"] = entry.status;
}

void from_json(const Json& json, ActivityStateEntry& entry) {
    entry.activityID = required<std::string>(json, "activity_id");
    entry.startTime = required<std::string>(json, "start_time");
    entry.lastUpdateTime = required<std::string>(json, "last_update_time");
    entry.intent = required<std::string>(json, "intent");
    entry.purpose = required<std::string>(json, "purpose");
    entry.appsUsed = required<std::vector<std::string>>(json, "apps_used");
    entry.services = required<std::vector<std::string>>(json, "services");
    entry.screenTypes = required<std::vector<std::string>>(json, "screen_types");
    entry.eventCount = required<std::int64_t>(json, "event_count");
    entry.descriptions = required<std::vector<std::string>>(json, "descriptions");
    entry.status = required<std::string>(json, "status");
}

void to_json(Json& json, const ActivityStateFile& file) {
    json = Json::object();
    json["version"] = file.version;
    json["updated_at"] = file.updatedAt;
    json["current_activities"] = file.currentActivities;
}

void from_json(const Json& json, ActivityStateFile& file) {
    file.version = required<std::int64_t>(json, "version");
    file.updatedAt = required<std::string>(json, "updated_at");
    file.currentActivities = required<std::vector<ActivityStateEntry>>(json, "current_activities");
}

} // namespace velnote
