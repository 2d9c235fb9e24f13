#pragma once

#include "context/activity/ForegroundAppSessionMonitor.h"
#include "context/activity/monitor/ForegroundAnalysisThrottle.h"
#include "context/activity/queue/ForegroundAppEventQueue.h"
#include "context/activity/window/FrontWindowAccess.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/ObserverToken.h"
#include "platform/concurrency/Task.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace velnote {

// Foreground tracking of one recording: each activation of another application, and every 5 s the
// application in front, becomes an observation (name, identifier, pid, front-window title, time).
// An unchanged window is logged at most every 10 s; a screenshot and the screen analysis are spent
// on it only as ForegroundAnalysisThrottle allows, otherwise it goes as "analysis_throttled". The
// observation goes to the session's ForegroundAppEventQueue, which logs it to
// "foreground_app_log.jsonl" and feeds the ActivityEngine.
//
// Threads: the activation handler and the poll hop to `main`; each observation cancels the
// analysis before it and starts its own on `analysisExecutor` (title reads, screenshot, queue), so
// the main thread never waits for the desktop or the models. stop() waits for the cancelled
// analysis to end (its time limits end at once when cancelled) so that its observation is part of
// the final flush rather than arriving after it; call it off the main thread, since the OCR of an
// analysis may read the input language there.
class DefaultForegroundAppSessionMonitor final
    : public ForegroundAppSessionMonitor,
      public std::enable_shared_from_this<DefaultForegroundAppSessionMonitor> {
  public:
    struct Dependencies {
        std::shared_ptr<ForegroundWorkspace> workspace;
        std::shared_ptr<FrontWindowAccess> windows;
        ForegroundAppEventQueue::Dependencies queue;
        platform::Clock* clock = nullptr;               // SystemClock::shared()
        platform::TimerScheduler* timers = nullptr;     // TimerScheduler::shared()
        platform::Executor* main = nullptr;             // MainDispatcher::shared()
        platform::Executor* analysisExecutor = nullptr; // the shared pool at utility priority
    };

    static constexpr auto kPollInterval = std::chrono::seconds(5);
    static constexpr auto kTitleRetryDelay = std::chrono::milliseconds(120);

    static std::shared_ptr<DefaultForegroundAppSessionMonitor> make(const std::filesystem::path& sessionDir,
                                                                    Dependencies dependencies);

    void subscribeToAppActivation() override;
    void logForegroundAppChange(const RunningApplication& application) override;
    void startPolling() override;
    std::future<void> stop() override;

    // For tests: waits until the current analysis has ended.
    void waitForAnalysis();
    const std::shared_ptr<ForegroundAppEventQueue>& eventQueue() const { return queue_; }
    ForegroundAnalysisThrottle& throttle() { return *throttle_; }

  private:
    struct Observation {
        std::string appName;
        std::string bundleID;
        std::int64_t pid = 0;
        std::string timestamp;
    };

    DefaultForegroundAppSessionMonitor(const std::filesystem::path& sessionDir, Dependencies dependencies);

    // The analysis of one observation, on the analysis executor; holds what it needs, not the monitor.
    static void analyse(const Observation& observation, const std::shared_ptr<FrontWindowAccess>& windows,
                        const std::shared_ptr<ForegroundAnalysisThrottle>& throttle,
                        const std::shared_ptr<ForegroundAppEventQueue>& queue, platform::Clock& clock,
                        const std::stop_token& stop);

    const std::shared_ptr<ForegroundWorkspace> workspace_;
    const std::shared_ptr<FrontWindowAccess> windows_;
    const std::shared_ptr<ForegroundAnalysisThrottle> throttle_ =
        std::make_shared<ForegroundAnalysisThrottle>();
    const std::shared_ptr<ForegroundAppEventQueue> queue_;
    platform::Clock& clock_;
    platform::TimerScheduler& timers_;
    platform::Executor& main_;
    platform::Executor& analysisExecutor_;

    std::mutex mutex_;
    // Under mutex_:
    platform::ObserverToken observer_;
    platform::Timer pollTimer_;
    std::shared_ptr<platform::Task<void>> analysisTask_;
    bool stopped_ = false;
};

// The foreground tracking of the application on the X11 desktop: builds monitors over the shared
// desktop connection, the screen inference on the on-device model and the given text regions.
class DefaultForegroundActivityTracking final : public ForegroundActivityTracking {
  public:
    // `regions`: the structured OCR; nullptr reads no text (the model then sees titles only).
    explicit DefaultForegroundActivityTracking(std::shared_ptr<StructuredTextRegionSource> regions);

    std::shared_ptr<ForegroundAppSessionMonitor>
    makeMonitor(const std::filesystem::path& sessionDir) override;
    std::optional<RunningApplication> frontmostApplication() override;

  private:
    std::shared_ptr<ForegroundWorkspace> workspace_;
    std::shared_ptr<FrontWindowAccess> windows_;
    std::shared_ptr<const ScreenInference> inference_;
};

} // namespace velnote
