#pragma once

#include "app/state/AppState.h"
#include "app/state/RecordingAdjustments.h"
#include "capture/controller/RecordingController.h"
#include "capture/controller/RecordingQueue.h"
#include "capture/recording/CaptureDependencies.h"
#include "context/activity/ForegroundAppSessionMonitor.h"
#include "context/live/LiveSummaryService.h"
#include "context/screen/DisplayDirectory.h"
#include "context/screen/ScreenCaptureMonitoring.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/settings/SettingsStore.h"
#include "session/config/SessionConfig.h"
#include "speech/live/LiveTranscriptionService.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace velnote {

class MicrophoneCapture;
class RecordingRuntimeSettings;
class SystemAudioCapture;

// The services a recording runs besides the two captures. Each is null until the subsystem that
// provides it installs it; a recording then goes on without that part (logged).
struct RecordingServices {
    std::shared_ptr<LiveTranscriptionService> liveTranscription;
    std::shared_ptr<LiveSummaryService> liveSummary;
    std::shared_ptr<ScreenCaptureMonitorFactory> screenCapture;
    std::shared_ptr<DisplayDirectory> displays;
    std::shared_ptr<RegionPicker> regionPicker;
    std::shared_ptr<ForegroundActivityTracking> foregroundActivity;
};

// The recording controller: turns a start into a session folder in the working folder with its
// first "session.json", published to AppState, with foreground-activity tracking, live
// transcription, microphone and system-audio capture, screen capture and the live summary
// running; and a stop into the ordered end of all of them, the final "session.json" (duration,
// configuration, step states) and the hand-over of the folder to the processing queue. Also the
// changes made while a recording runs (restarts, switches, display, region, manual screenshot)
// and the deletion of expired sessions in the working folder.
//
// Threads: the controller and its fields belong to the main thread; every public operation is
// called there and returns at once. The start and stop sequences run on the controller's own
// serial executor, which waits for the queue, the services and the captures (whose start() and
// stop() block) and runs each step that touches the controller or AppState as a job on the main
// thread, so the main thread stays free between steps. Completions are called on the main
// thread. Never wait on the main thread for a sequence to end: it needs the main thread.
//
// Guards: a start runs only from `idle` with no sequence under way; a stop is ignored while
// starting, joins a stop under way, and otherwise stops whatever is held. A quit during a start
// lets the start finish and then stops. A fatal error while recording stops everything held,
// leaving the error state to its alert. Nothing is enqueued before both captures have closed
// their files.
class AudioCaptureManager final : public RecordingController {
  public:
    // What the controller reads and where it sends work; nullptr or empty means the process-wide
    // one named.
    struct Dependencies {
        AppState* appState = nullptr;                       // AppState::shared()
        platform::MainDispatcher* mainDispatcher = nullptr; // MainDispatcher::shared()
        platform::SettingsStore* settings = nullptr;        // SettingsStore::standard()
        const platform::Clock* clock = nullptr;             // folder names, durations, retention
        RecordingRuntimeSettings* gains = nullptr;          // RecordingRuntimeSettings::shared()
        std::shared_ptr<RecordingQueue> queue;              // ProcessingQueue::shared()
        // The settings frozen for a new recording. SessionConfig::fromUserDefaults over `settings`
        // and the installed text-recognition languages.
        std::function<SessionConfig()> freezeConfig;
        // Where recordings are made. WorkingSessionsFolder::resolve().
        std::function<std::filesystem::path()> workingSessionsDir;
        // Opens a saved OCR result. FileManagerReveal::openWithDefaultApplication.
        std::function<void(const std::filesystem::path&)> openFile;
        // Given to every capture; its appState and mainDispatcher default to the ones above.
        CaptureDependencies capture;
        RecordingServices services;
    };

    explicit AudioCaptureManager(Dependencies dependencies);
    AudioCaptureManager(); // every dependency process-wide
    // Only while no sequence is under way (a sequence needs the main thread to end).
    ~AudioCaptureManager() override;

    AudioCaptureManager(const AudioCaptureManager&) = delete;
    AudioCaptureManager& operator=(const AudioCaptureManager&) = delete;

    // The process's controller, created on first use (on the main thread) and never destroyed.
    static AudioCaptureManager& shared();

    // Replaces the services the next recording runs with (and the region picker and displays at
    // once). The subsystems that provide them install them at launch.
    void installServices(RecordingServices services);

    // --- Start and stop ---

    // Starts a recording from `idle`; `done` gets its folder, or none when the start was refused
    // or failed. A failure to prepare the folder is presented as a fatal error.
    void startRecording(StartCompletion done) override;
    // Stops the running recording; `done` when it is stopped, its "session.json" final and its
    // folder handed to the processing queue. Ignored (done at once) while starting.
    void stopRecording(Completion done) override;
    // The quit path: like stopRecording(), but a start under way is finished first and then
    // stopped, and `done` waits for the running session's configuration edits to reach disk.
    void stopRecordingForQuit(Completion done);

    // Deletes the expired sessions of the working folder (see WorkingSessionsFolder), off the main
    // thread. The launch calls it; a change of "sessionRetentionDays" and every start do too.
    void cleanupExpiredSessions();

    // --- Changes during a recording ---

    // Stops and starts the microphone capture again (also after a failed start); a failure is
    // presented. Blocks while the capture restarts; nothing while a sequence is under way.
    void restartMicCapture();
    // While recording: restarts the system-audio stream; `done` when over.
    void restartSystemAudioCapture(Completion done);
    // While recording: starts or stops foreground tracking and records the switch in the
    // running configuration.
    void updateForegroundActivityTracking(bool enabled);
    // While recording: starts or stops the screenshot monitor (and tells the live summary) and
    // records the switch in the running configuration.
    void updateScreenshotEnabled(bool enabled);
    // Points the running screenshot monitor at the display of a picker index.
    void changeScreenshotDisplay(std::int64_t displayIndex);
    // While recording: one screenshot with text recognition, by the running monitor or a
    // temporary one; the status line tells the result and the saved text is opened. `done` when over.
    void captureScreenshotOCR(Completion done);
    // Opens the region overlay on the screen of the configured display; a chosen region becomes
    // AppState's capture region (and so the running monitor's).
    void showRegionPicker();

    // --- Read on the main thread ---

    const std::optional<std::filesystem::path>& sessionDir() const { return sessionDir_; }
    const std::shared_ptr<ScreenCaptureMonitoring>& screenMonitor() const { return screenMonitor_; }

  private:
    class Adjustments;
    enum class Sequence { none, starting, stopping };
    // A stop after a fatal error leaves the recording state and the status line to the error.
    enum class StopMode { normal, afterFatalError };

    // What a stop takes over from the fields.
    struct StopWork {
        std::shared_ptr<MicrophoneCapture> mic;
        std::shared_ptr<SystemAudioCapture> sys;
        std::shared_ptr<ScreenCaptureMonitoring> screen;
        std::shared_ptr<ForegroundAppSessionMonitor> foreground;
        std::optional<std::filesystem::path> sessionDir;
        std::optional<platform::Clock::SteadyTime> startedAt;
        RecordingServices services;
    };
    // What the start sequence goes on with after the main-thread set-up.
    struct StartedParts {
        std::shared_ptr<MicrophoneCapture> mic;
        std::shared_ptr<SystemAudioCapture> sys;
        RecordingServices services;
    };

    // Start sequence; run* on worker_, the rest on the main thread.
    void runStart(const StartCompletion& done);
    std::optional<std::filesystem::path> prepareSessionFolder();
    StartedParts beginCapturing(const std::filesystem::path& sessionDir, const SessionConfig& config);
    void startCaptures(const StartedParts& parts);
    std::shared_ptr<ScreenCaptureMonitoring> startScreenCapture(const std::filesystem::path& sessionDir,
                                                                const SessionConfig& config);
    void finishStart(const StartCompletion& done, const std::filesystem::path& sessionDir);
    void failStart(const StartCompletion& done);

    // Stop sequence.
    void beginStop(StopMode mode, Completion done);
    void runStop(StopWork work, StopMode mode);
    void endStop(StopMode mode, const SessionConfig& settingsNow);
    void finishSequence();
    bool holdsRecording() const;
    void onRecordingStateChanged();

    // Helpers of both sequences and the changes.
    void startForegroundTracking(const std::filesystem::path& sessionDir);
    std::shared_ptr<ScreenCaptureMonitoring> makeScreenCaptureMonitor(const std::filesystem::path& sessionDir,
                                                                      const SessionConfig& config);
    SessionConfig runningConfig() const;
    void applyLiveSummarySettings(bool enabled, std::int64_t intervalMinutes);
    void applyCaptureRegion(std::optional<ScreenRect> region);
    bool isRecordingSession() const;

    template <class F> auto onMain(F&& job) { return main_.submit(std::forward<F>(job)).get(); }
    static void await(std::future<void> future, std::string_view what);
    static void complete(const Completion& done);
    void requireMainThread(const char* operation) const;

    AppState& appState_;
    platform::MainDispatcher& main_;
    platform::SettingsStore& settings_;
    const platform::Clock& clock_;
    RecordingRuntimeSettings& gains_;
    std::shared_ptr<RecordingQueue> queue_;
    std::function<SessionConfig()> freezeConfig_;
    std::function<std::filesystem::path()> workingSessionsDir_;
    std::function<void(const std::filesystem::path&)> openFile_;
    CaptureDependencies captureDependencies_;
    std::shared_ptr<Adjustments> adjustments_;
    // Lets main-thread jobs posted by observers do nothing once the controller is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Only on the main thread:
    RecordingServices services_;        // for the next recording
    RecordingServices sessionServices_; // those the running recording started with
    std::shared_ptr<MicrophoneCapture> micCapture_;
    std::shared_ptr<SystemAudioCapture> systemCapture_;
    std::shared_ptr<ScreenCaptureMonitoring> screenMonitor_;
    std::shared_ptr<ForegroundAppSessionMonitor> foregroundAppMonitor_;
    std::optional<std::filesystem::path> sessionDir_;
    std::optional<platform::Clock::WallTime> sessionStartedAt_;
    std::optional<platform::Clock::SteadyTime> sessionStartedSteady_; // for the duration
    Sequence sequence_ = Sequence::none;
    bool stopAfterStart_ = false;     // a quit came during the start
    std::vector<Completion> waiters_; // called when the controller next comes to rest
    AppState::ObservationToken stateToken_;
    platform::SettingsStore::ObserverToken settingsToken_;

    // Last: drains before the members above go.
    platform::SerialExecutor worker_;
};

} // namespace velnote
