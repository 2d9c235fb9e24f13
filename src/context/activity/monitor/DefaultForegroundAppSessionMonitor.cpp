#include "context/activity/monitor/DefaultForegroundAppSessionMonitor.h"

#include "context/activity/window/X11FrontWindowAccess.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/json/IsoDate.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "session/VelnoteLogger.h"

#include <filesystem>

namespace velnote {

std::shared_ptr<DefaultForegroundAppSessionMonitor>
DefaultForegroundAppSessionMonitor::make(const std::filesystem::path& sessionDir, Dependencies dependencies) {
    return std::shared_ptr<DefaultForegroundAppSessionMonitor>(
        new DefaultForegroundAppSessionMonitor(sessionDir, std::move(dependencies)));
}

DefaultForegroundAppSessionMonitor::DefaultForegroundAppSessionMonitor(
    const std::filesystem::path& sessionDir, Dependencies dependencies)
    : workspace_(std::move(dependencies.workspace)), windows_(std::move(dependencies.windows)),
      queue_(std::make_shared<ForegroundAppEventQueue>(
          sessionDir / "foreground_app_log.jsonl", sessionDir / "activity_state.json",
          sessionDir / "activity_log.jsonl", std::move(dependencies.queue))),
      clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      timers_(dependencies.timers ? *dependencies.timers : platform::TimerScheduler::shared()),
      main_(dependencies.main ? *dependencies.main : platform::MainDispatcher::shared()),
      analysisExecutor_(dependencies.analysisExecutor
                            ? *dependencies.analysisExecutor
                            : platform::ThreadPool::shared().executor(platform::Priority::utility)) {}

void DefaultForegroundAppSessionMonitor::subscribeToAppActivation() {
    auto token = workspace_->observeActivation(
        [weak = weak_from_this(), main = &main_](std::optional<RunningApplication> application) {
            if (!application) {
                VelnoteLogger::app().error(
                    "ForegroundAppSessionMonitor: Activation notification missing application info.");
                return;
            }
            main->post([weak, application = std::move(*application)] {
                if (const auto monitor = weak.lock()) {
                    monitor->logForegroundAppChange(application);
                }
            });
        });
    std::lock_guard lock(mutex_);
    if (!stopped_) {
        observer_ = std::move(token);
    }
}

void DefaultForegroundAppSessionMonitor::startPolling() {
    auto timer = timers_.repeating(kPollInterval, main_, [weak = weak_from_this()] {
        const auto monitor = weak.lock();
        if (!monitor) {
            return;
        }
        if (const auto front = monitor->workspace_->frontmostApplication()) {
            monitor->logForegroundAppChange(*front);
        }
    });
    std::lock_guard lock(mutex_);
    if (!stopped_) {
        pollTimer_ = std::move(timer);
    }
}

void DefaultForegroundAppSessionMonitor::logForegroundAppChange(const RunningApplication& application) {
    Observation observation{.appName = application.name,
                            .bundleID = application.bundleIdentifier.value_or("unknown"),
                            .pid = application.pid,
                            .timestamp = platform::formatIsoDate(clock_.wallNow())};
    if (observation.appName.empty()) {
        observation.appName = application.bundlePath
                                  ? std::filesystem::path(*application.bundlePath).stem().string()
                                  : std::string();
        if (observation.appName.empty()) {
            observation.appName = "Unknown";
        }
    }
    std::lock_guard lock(mutex_);
    if (stopped_) {
        return;
    }
    if (analysisTask_) {
        analysisTask_->cancel();
    }
    analysisTask_ = std::make_shared<platform::Task<void>>(
        platform::startTask(analysisExecutor_, [observation, windows = windows_, throttle = throttle_,
                                                queue = queue_, clock = &clock_](std::stop_token stop) {
            analyse(observation, windows, throttle, queue, *clock, stop);
        }));
}

void DefaultForegroundAppSessionMonitor::analyse(const Observation& observation,
                                                 const std::shared_ptr<FrontWindowAccess>& windows,
                                                 const std::shared_ptr<ForegroundAnalysisThrottle>& throttle,
                                                 const std::shared_ptr<ForegroundAppEventQueue>& queue,
                                                 platform::Clock& clock, const std::stop_token& stop) {
    std::optional<std::string> title = windows->getFrontWindowTitle(observation.pid);
    if (!throttle->shouldLog(observation.bundleID, title, clock.now())) {
        return;
    }
    if (!title) {
        // A window that has just come up often has no title yet.
        if (!platform::sleepUntil(clock, clock.now() + kTitleRetryDelay, stop)) {
            return;
        }
        title = windows->getFrontWindowTitle(observation.pid);
    }
    ForegroundAppEventQueue::EnqueueRequest request{.appName = observation.appName,
                                                    .bundleID = observation.bundleID,
                                                    .pid = observation.pid,
                                                    .windowTitle = title,
                                                    .timestamp = observation.timestamp};
    const bool heavy = throttle->shouldRunHeavyAnalysis(observation.bundleID, title, clock.now());
    if (heavy) {
        struct ClearInFlight {
            ForegroundAnalysisThrottle& throttle;
            ~ClearInFlight() { throttle.setHeavyAnalysisInFlight(false); }
        } clear{*throttle};
        if (stop.stop_requested()) {
            return;
        }
        CaptureAttempt attempt = windows->captureFrontWindowImageWithReason(observation.pid);
        request.screenshot = std::move(attempt.image);
        request.captureError = std::move(attempt.reason);
        if (stop.stop_requested()) {
            return;
        }
        queue->enqueue(request, stop);
        return;
    }
    if (stop.stop_requested()) {
        return;
    }
    request.captureError = "analysis_throttled";
    queue->enqueue(request, stop);
}

std::future<void> DefaultForegroundAppSessionMonitor::stop() {
    platform::ObserverToken observer;
    platform::Timer timer;
    std::shared_ptr<platform::Task<void>> analysis;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        observer = std::move(observer_);
        timer = std::move(pollTimer_);
        analysis = std::move(analysisTask_);
    }
    // Outside the lock: ending the observer and the timer waits for a call in progress, which
    // takes the lock itself.
    observer.reset();
    timer.cancel();
    if (analysis) {
        analysis->cancel();
        analysis->wait();
    }
    return queue_->flushActivities();
}

void DefaultForegroundAppSessionMonitor::waitForAnalysis() {
    std::shared_ptr<platform::Task<void>> task;
    {
        std::lock_guard lock(mutex_);
        task = analysisTask_;
    }
    if (task) {
        task->wait();
    }
}

namespace {

// Reads no text: the screen inference then judges a window by its title alone.
class NoTextRegions final : public StructuredTextRegionSource {
  public:
    std::pair<std::vector<StructuredTextRegion>, int>
    extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage*,
                                 const platform::RgbImage*, int, int, std::stop_token) override {
        return {{}, 0};
    }
};

} // namespace

DefaultForegroundActivityTracking::DefaultForegroundActivityTracking(
    std::shared_ptr<StructuredTextRegionSource> regions) {
    std::shared_ptr<platform::X11Desktop> desktop = platform::X11Desktop::connect();
    if (!desktop) {
        VelnoteLogger::app().error("ForegroundAppSessionMonitor: {}",
                                   "no X display; the front window cannot be read");
    }
    workspace_ = std::make_shared<X11Workspace>(desktop);
    windows_ = std::make_shared<X11FrontWindowAccess>(desktop, platform::TimerScheduler::shared());
    inference_ = std::make_shared<ScreenInference>(ScreenInference::Dependencies{
        .ocr = regions ? std::move(regions) : std::make_shared<NoTextRegions>(),
        .model =
            [](const std::string& system, const std::string& user, std::stop_token stop) {
                return AppleFoundationModelService::shared().summarize(system, user, false, std::nullopt, {},
                                                                       stop);
            },
        .timers = nullptr});
}

std::shared_ptr<ForegroundAppSessionMonitor>
DefaultForegroundActivityTracking::makeMonitor(const std::filesystem::path& sessionDir) {
    return DefaultForegroundAppSessionMonitor::make(
        sessionDir, {.workspace = workspace_, .windows = windows_, .queue = {.inference = inference_}});
}

std::optional<RunningApplication> DefaultForegroundActivityTracking::frontmostApplication() {
    return workspace_->frontmostApplication();
}

} // namespace velnote
