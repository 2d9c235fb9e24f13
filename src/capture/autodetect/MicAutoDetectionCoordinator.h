#pragma once

#include "app/state/AppState.h"
#include "capture/autodetect/PromptAlertPresenter.h"
#include "capture/controller/RecordingController.h"
#include "capture/usage/MicrophoneUsageMonitor.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/settings/SettingsStore.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace velnote {

// Offers a recording when another application starts using the microphone while none runs (the
// prompt "Microphone in use", closed by itself after 10 s), and stops a recording it started that
// way when that use ends. For 5 s after such an automatic stop no prompt is offered.
//
// A recording the user started some other way is never stopped: the coordinator remembers the
// session its own prompt started and stops only that one, while it is still the running one.
//
// Main thread only. The shell creates it, calls setup() at launch and startMonitoring() or
// stopMonitoring() when "enableAutoMicDetection" changes. The monitor's callbacks come on its own
// queue and only post to the main thread.
class MicAutoDetectionCoordinator {
  public:
    static constexpr std::chrono::seconds kPromptTimeout{10};
    static constexpr std::chrono::seconds kCooldownAfterAutoStop{5};

    // Every seam; nullptr means the process-wide one named.
    struct Dependencies {
        RecordingController* controller = nullptr;          // AudioCaptureManager::shared()
        AppState* appState = nullptr;                       // AppState::shared()
        platform::MainDispatcher* mainDispatcher = nullptr; // MainDispatcher::shared()
        platform::SettingsStore* settings = nullptr;        // SettingsStore::standard()
        platform::TimerScheduler* timers = nullptr; // the prompt timeout; its clock also times the cool-down
        std::shared_ptr<PromptAlertPresenter> presenter; // empty: the logging presenter
        MicrophoneUsageMonitor::Dependencies monitor;
    };

    explicit MicAutoDetectionCoordinator(Dependencies dependencies);
    MicAutoDetectionCoordinator();
    ~MicAutoDetectionCoordinator();

    MicAutoDetectionCoordinator(const MicAutoDetectionCoordinator&) = delete;
    MicAutoDetectionCoordinator& operator=(const MicAutoDetectionCoordinator&) = delete;

    // Connects the monitor's callbacks, then starts monitoring when isEnabled().
    void setup();
    // Starts the monitor unless it runs; a failure is logged and the next call tries again.
    void startMonitoring();
    // Stops the monitor when it runs, and closes a prompt on screen.
    void stopMonitoring();
    // "enableAutoMicDetection": the stored switch; true when never written.
    bool isEnabled() const;

    // What the monitor reports (posted to the main thread by its callbacks).
    void handleUsageStarted();
    void handleUsageStopped();

    bool isMonitorActive() const { return isMonitorActive_; }
    bool isShowingPrompt() const { return isShowingPrompt_; }
    MicrophoneUsageMonitor& usageMonitor() { return monitor_; }

  private:
    void showPrompt();
    void answer(std::uint64_t prompt, PromptAlertPresenter::Response response);
    void confirm();
    void cancelActivePrompt();
    // The recording running now is the one the prompt started.
    bool runsPromptStartedRecording() const;
    bool inCooldown() const;

    RecordingController* controller_;
    AppState& appState_;
    platform::MainDispatcher& main_;
    platform::SettingsStore& settings_;
    platform::TimerScheduler& timers_;
    std::shared_ptr<PromptAlertPresenter> presenter_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Only on the main thread:
    bool isMonitorActive_ = false;
    bool isShowingPrompt_ = false;
    std::uint64_t promptNumber_ = 0; // of the prompt on screen; answers of older ones are ignored
    platform::Timer promptTimer_;
    std::optional<std::filesystem::path> promptStartedSession_;
    std::optional<platform::Clock::SteadyTime> autoStoppedAt_;

    // Last: stops (and so ends its callbacks) before the members above go.
    MicrophoneUsageMonitor monitor_;
};

} // namespace velnote
