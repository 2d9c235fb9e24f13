#include "context/activity/ActivityJson.h"
#include "context/activity/engine/ActivityEngine.h"
#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

#include <algorithm>

namespace velnote {

void ActivityEngine::appendFinalizedActivity(const std::string& id) {
    const auto found = activities_.find(id);
    if (found == activities_.end()) {
        return;
    }
    try {
        platform::Json json = makeFinalizedEntry(found->second);
        platform::appendLines(historyURL_, encodeActivityJson(json) + "\n");
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ActivityEngine: Failed to write activity log: {}", e.what());
    }
}

// The snapshot is written whole to "activity_state.json.tmp" and renamed over the old one, so a
// reader always finds either the previous snapshot or the new one, never none.
void ActivityEngine::writeStateSnapshot(ActivityTime referenceTime, bool force) {
    if (!force && lastSnapshotWrite_ &&
        referenceTime - *lastSnapshotWrite_ <
            std::chrono::milliseconds(static_cast<int>(kSnapshotDebounceSeconds * 1000))) {
        return;
    }
    lastSnapshotWrite_ = referenceTime;
    std::vector<const ActivityState*> open;
    for (const auto& [id, activity] : activities_) {
        if (activity.status != ActivityStatus::finalized) {
            open.push_back(&activity);
        }
    }
    std::stable_sort(open.begin(), open.end(), [](const ActivityState* a, const ActivityState* b) {
        return a->startTime < b->startTime;
    });
    ActivityStateFile file{
        .version = 1, .updatedAt = formatActivityTime(referenceTime), .currentActivities = {}};
    for (const ActivityState* activity : open) {
        file.currentActivities.push_back(makeStateEntry(*activity));
    }
    std::filesystem::path temporary = stateURL_;
    temporary += ".tmp";
    try {
        platform::writeFileAtomically(temporary, encodeActivityJson(platform::Json(file)));
        std::filesystem::rename(temporary, stateURL_);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ActivityEngine: Failed to write activity state: {}", e.what());
        return;
    }
    publish_(latestActivityInfo(activities_));
}

} // namespace velnote
