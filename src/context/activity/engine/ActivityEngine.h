#pragma once

#include "app/state/LiveActivityInfo.h"
#include "context/activity/engine/ActivityRecords.h"
#include "context/activity/inference/ActivityIntentInferenceService.h"
#include "context/activity/inference/DescriptionEmbeddingService.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/SerialExecutor.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// Groups the analysed foreground observations of one recording into activities: observations
// whose descriptions mean nearly the same thing, in the same application, service and kind of
// screen, close in time. Idle activities are paused after 120 s and finished after 300 s (of
// observation time); each finished activity becomes one line of "activity_log.jsonl", the open
// ones are kept in "activity_state.json", and after every snapshot written the current activity
// goes to the recording window (AppState::updateLiveActivity).
//
// An actor: every operation runs on its own serial executor and returns a future. The embedding
// is computed on the embedding service while the engine waits; the intent of an activity is asked
// of the intent service on `inferenceExecutor` without holding the engine, and its answer comes
// back as a job of the engine. Nothing is read back from the files: an engine starts empty.
class ActivityEngine : public std::enable_shared_from_this<ActivityEngine> {
  public:
    struct Dependencies {
        DescriptionEmbeddingService* embeddings = nullptr;       // DescriptionEmbeddingService::shared()
        const ActivityIntentInferenceService* intents = nullptr; // ActivityIntentInferenceService::shared()
        const platform::Clock* clock = nullptr;                  // the wall clock of inferences and the stop
        platform::Executor* inferenceExecutor = nullptr;         // the shared pool at utility priority
        // Receives the current activity after each snapshot; by default a main-thread job that
        // hands it to AppState::shared().
        std::function<void(std::optional<LiveActivityInfo>)> publish;
    };

    // Fixed rules of the grouping.
    static constexpr double kConfidenceGate = 0.6;
    static constexpr double kSimilarityThreshold = 0.72;
    static constexpr double kLargeActivityThreshold = 0.77; // from 31 events on
    static constexpr double kRecencyDecayWindow = 300;      // seconds
    static constexpr double kMaxActivityAffinityDuration = 1800;
    static constexpr double kSoftFinalizeIdleSeconds = 120;
    static constexpr double kFinalizeIdleSeconds = 300;
    static constexpr std::size_t kRingBufferMaxCount = 100;
    static constexpr std::int64_t kReInferenceMinEvents = 4;
    static constexpr double kReInferenceMinSeconds = 30;
    static constexpr double kDriftThreshold = 0.9;
    static constexpr double kSnapshotDebounceSeconds = 2;

    static std::shared_ptr<ActivityEngine> make(std::filesystem::path stateURL,
                                                std::filesystem::path historyURL, Dependencies dependencies);
    static std::shared_ptr<ActivityEngine> make(std::filesystem::path stateURL,
                                                std::filesystem::path historyURL) {
        return make(std::move(stateURL), std::move(historyURL), Dependencies{});
    }
    ~ActivityEngine();

    // Takes one observation; ready when it is grouped and the snapshot written.
    std::future<void> process(ActivitySourceEvent event);
    // Finishes every open activity as of now and writes the final snapshot, with no current
    // activity. `force` false only refreshes as of now and writes an unforced snapshot.
    std::future<void> flush(bool force);

    // For tests: the open activities and the ring buffer, as they stand once earlier jobs ran.
    std::future<std::vector<ActivityState>> activities();
    std::future<std::vector<RingBufferEvent>> ringBuffer();

    // Pure parts of the grouping, public for their tests.
    static std::string semanticDescription(const std::string& description,
                                           const std::optional<std::string>& service,
                                           const std::optional<std::string>& screenType);
    static std::vector<double> weightedCentroid(const std::vector<std::vector<double>>& rows);
    static std::string workStateString(const ActivityState& activity);
    static std::optional<LiveActivityInfo>
    latestActivityInfo(const std::map<std::string, ActivityState>& activities);

  private:
    struct EventContext {
        ActivityTime timestamp{};
        std::string appName;
        std::string bundleID;
        std::optional<std::string> service;
        std::optional<std::string> screenType;
        std::string description; // trimmed
        std::vector<double> embedding;
    };

    ActivityEngine(std::filesystem::path stateURL, std::filesystem::path historyURL,
                   Dependencies dependencies);

    void processOnExecutor(const ActivitySourceEvent& event);
    std::string findOrCreateActivity(const EventContext& context);
    void updateActivity(const std::string& id, const EventContext& context);
    void refreshStatuses(ActivityTime referenceTime, bool forceFinalize);
    bool shouldRunLLMInference(const std::string& id, ActivityTime now) const;
    void runLLMInference(const std::string& id);
    void applyInference(const std::string& id, const ActivityIntentInferenceService::IntentResult& result);
    ActivityTime wallNow() const;

    // Files (ActivityEngineFiles.cpp).
    void appendFinalizedActivity(const std::string& id);
    void writeStateSnapshot(ActivityTime referenceTime, bool force);

    const std::filesystem::path stateURL_;
    const std::filesystem::path historyURL_;
    DescriptionEmbeddingService& embeddings_;
    const ActivityIntentInferenceService& intents_;
    const platform::Clock& clock_;
    platform::Executor& inferenceExecutor_;
    const std::function<void(std::optional<LiveActivityInfo>)> publish_;

    // Only on executor_:
    std::map<std::string, ActivityState> activities_; // open activities by id (ids sort by creation)
    std::vector<RingBufferEvent> ringBuffer_;         // oldest first
    std::int64_t nextActivitySerial_ = 1;
    std::int64_t nextEventSerial_ = 1;
    std::optional<ActivityTime> lastSnapshotWrite_;

    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
