#pragma once

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/settings/SettingsStore.h"

#include <functional>
#include <memory>

namespace velnote {

// The application's life: the launch sequence that brings up every long-lived part in a fixed
// order, the quit path that stops a running recording before the process ends, the reopen
// behaviour, and the reactions to the settings that switch microphone auto-detection and the
// nightly batch.
//
// The delegate knows its neighbours only through the seams below: the application binds the real
// objects (src/ui/shell), tests bind recorders. Main thread only.
class AppDelegate {
  public:
    // What the application object does for the delegate.
    class Application {
      public:
        virtual ~Application() = default;
        // Asks the application to quit; it comes back through applicationShouldTerminate().
        virtual void terminate() = 0;
        // Lets the application end now (after applicationShouldTerminate() said `later`).
        virtual void replyToTerminate() = 0;
        // No taskbar presence until a titled window opens.
        virtual void setAccessoryActivationPolicy() = 0;
        virtual void installMainMenu() = 0;
        // Restores every minimised window of the application and brings it forward.
        virtual void reopenWindows() = 0;
    };

    // Microphone auto-detection as the delegate drives it.
    class MicDetection {
      public:
        virtual ~MicDetection() = default;
        virtual void setup() = 0;
        virtual void startMonitoring() = 0;
        virtual void stopMonitoring() = 0;
        virtual bool isEnabled() const = 0;
        // Another process records from the default input right now.
        virtual bool currentInputDeviceIsRunning() = 0;
        // At quit: closes an open prompt and its timer.
        virtual void willTerminate() = 0;
    };

    struct Dependencies {
        Application* application = nullptr;                 // required
        MicDetection* micDetection = nullptr;               // required
        AppState* appState = nullptr;                       // AppState::shared()
        platform::MainDispatcher* mainDispatcher = nullptr; // MainDispatcher::shared()
        platform::SettingsStore* settings = nullptr;        // SettingsStore::standard()

        // Each step of the launch, in the order they run. Every one is required.
        std::function<bool()> acquireSingleInstanceLock{};      // false: another instance runs
        std::function<void()> activateRunningInstance{};        // ... which this brings forward
        std::function<void(bool enabled)> applyLaunchAtLogin{}; // LaunchAtLoginManager::apply
        std::function<void()> setupMenuBar{};                   // the tray icon and its menu
        std::function<void()> attachRecordingWindow{};          // the floating panel's controller
        std::function<void()> startProcessingQueue{};           // queue started on the working folder
        std::function<void()> scheduleNightlyBatch{};           // also after each settings change
        std::function<void()> cleanupExpiredSessions{};         // of the working folder
        std::function<void()> trimSpeechCache{};                // to kSpeechCacheLimitBytes
        std::function<void()> setupUserNotifications{};         // category, responses, permission
        // The quit path: stops the recording (finishing a start under way), waits for its files and
        // calls `done` on the main thread.
        std::function<void(std::function<void()> done)> stopRecordingForQuit{};
        // At quit: the nightly batch's timer.
        std::function<void()> stopNightlyTimer{};
    };

    enum class TerminateReply { now, later };

    static constexpr std::int64_t kSpeechCacheLimitBytes = 524'288'000; // 500 MiB

    explicit AppDelegate(Dependencies dependencies);
    ~AppDelegate();

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence. Returns false when another instance holds the lock: that one was asked
    // to come forward and this application was asked to terminate.
    bool applicationDidFinishLaunching();
    // Idle: now. Otherwise the recording is stopped first (no time limit) and `later` is answered;
    // replyToTerminate() follows once its files are written and it is queued.
    TerminateReply applicationShouldTerminate();
    // Stops the timers; nothing else is released (the instance lock lasts until exit).
    void applicationWillTerminate();
    // Another launch or the desktop asked for the application: its windows come back. Always true.
    bool applicationShouldHandleReopen();

  private:
    void observeSettings();
    void handleMicDetectionSettingChanged();
    void handleNightlyBatchSettingsChanged();

    Dependencies dependencies_;
    AppState& appState_;
    platform::MainDispatcher& main_;
    platform::SettingsStore& settings_;
    platform::SettingsStore::ObserverToken settingsToken_;
    bool quitting_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace velnote
