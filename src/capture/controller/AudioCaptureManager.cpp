#include "capture/controller/AudioCaptureManager.h"

#include "capture/controller/FinalSessionMetadata.h"
#include "capture/controller/WorkingSessionsFolder.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "capture/recording/MicrophoneCapture.h"
#include "capture/recording/SystemAudioCapture.h"
#include "context/ocr/OCRService.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/fs/Files.h"
#include "platform/notifications/FileManagerReveal.h"
#include "processing/queue/ProcessingQueue.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaultsKey.h"

#include <exception>

namespace velnote {
namespace fs = std::filesystem;

namespace {

std::string text(const char* japanese, const char* english) {
    return L10n::isJapanese() ? japanese : english;
}

std::string failedMicStartText() {
    return text(
        "マイクの起動に失敗しました。システム設定の「プライバシーとセキュリティ」でマイクへのアクセスが許可さ"
        "れて"
        "いるか確認してください。",
        "Failed to start microphone. Please ensure that microphone access is allowed in System Settings > "
        "Privacy & Security.");
}

std::string failedSystemAudioStartText() {
    return text("システム音声のキャプチャ起動に失敗しました。システム設定で「画面収録」または「オーディオ録音"
                "」のアクセス許"
                "可が与えられているか確認してください。",
                "Failed to start system audio capture. Please check screen recording or audio recording "
                "permissions in System Settings.");
}

} // namespace

// The controller's side of the running-session adjustments of AppState.
class AudioCaptureManager::Adjustments final : public RecordingAdjustments {
  public:
    explicit Adjustments(AudioCaptureManager& owner) : owner_(owner) {}
    void updateLiveSummarySettings(bool enabled, std::int64_t intervalMinutes) override {
        owner_.applyLiveSummarySettings(enabled, intervalMinutes);
    }
    void updateCaptureRegion(std::optional<ScreenRect> region) override { owner_.applyCaptureRegion(region); }
    void changeScreenshotDisplay(std::int64_t displayIndex) override {
        owner_.changeScreenshotDisplay(displayIndex);
    }

  private:
    AudioCaptureManager& owner_;
};

AudioCaptureManager::AudioCaptureManager(Dependencies d)
    : appState_(d.appState ? *d.appState : AppState::shared()),
      main_(d.mainDispatcher ? *d.mainDispatcher : platform::MainDispatcher::shared()),
      settings_(d.settings ? *d.settings : platform::SettingsStore::standard()),
      clock_(d.clock ? *d.clock : platform::SystemClock::shared()),
      gains_(d.gains ? *d.gains : RecordingRuntimeSettings::shared()),
      queue_(d.queue ? std::move(d.queue) : RecordingQueue::of(ProcessingQueue::shared())),
      freezeConfig_(std::move(d.freezeConfig)), workingSessionsDir_(std::move(d.workingSessionsDir)),
      openFile_(std::move(d.openFile)), captureDependencies_(std::move(d.capture)),
      adjustments_(std::make_shared<Adjustments>(*this)), services_(std::move(d.services)) {
    if (!freezeConfig_) {
        freezeConfig_ = [&settings = settings_] {
            return SessionConfig::fromUserDefaults(settings,
                                                   OCRService::supportedVisionRecognitionLanguages());
        };
    }
    if (!workingSessionsDir_) {
        workingSessionsDir_ = [] { return WorkingSessionsFolder::resolve(); };
    }
    if (!openFile_) {
        openFile_ = [](const fs::path& file) {
            platform::FileManagerReveal::openWithDefaultApplication(file);
        };
    }
    captureDependencies_.appState = &appState_;
    captureDependencies_.mainDispatcher = &main_;
    if (!captureDependencies_.gains) {
        captureDependencies_.gains = &gains_;
    }
    if (!captureDependencies_.settings) {
        captureDependencies_.settings = &settings_;
    }
    appState_.setRecordingAdjustments(adjustments_);
    stateToken_ = appState_.observe(AppStateField::recordingState,
                                    [this, alive = std::weak_ptr<bool>(alive_)](AppStateField) {
                                        // Not from inside the notification: the stop writes AppState again.
                                        main_.post([this, alive] {
                                            if (!alive.expired()) {
                                                onRecordingStateChanged();
                                            }
                                        });
                                    });
    const std::string retentionKey(rawValue(UserDefaultsKey::sessionRetentionDays));
    settingsToken_ = settings_.observe([this, retentionKey](const std::string& key) {
        if (key == retentionKey) {
            cleanupExpiredSessions();
        }
    });
}

AudioCaptureManager::AudioCaptureManager() : AudioCaptureManager(Dependencies{}) {}

AudioCaptureManager::~AudioCaptureManager() {
    alive_.reset();
    settingsToken_.reset();
    stateToken_.reset();
    appState_.setRecordingAdjustments(nullptr);
}

AudioCaptureManager& AudioCaptureManager::shared() {
    // Never destroyed: jobs of the main thread and the processing queue may reach it until exit.
    static AudioCaptureManager* const instance = new AudioCaptureManager();
    return *instance;
}

void AudioCaptureManager::installServices(RecordingServices services) {
    requireMainThread("installServices");
    services_ = std::move(services);
}

void AudioCaptureManager::cleanupExpiredSessions() {
    worker_.post(
        [this] { WorkingSessionsFolder::cleanupExpiredSessions(workingSessionsDir_(), settings_, clock_); });
}

// --- Start ---

void AudioCaptureManager::startRecording(StartCompletion done) {
    requireMainThread("startRecording");
    if (appState_.recordingState().phase() != RecordingState::Phase::idle) {
        if (done) {
            done(std::nullopt);
        }
        return;
    }
    if (sequence_ != Sequence::none) {
        VelnoteLogger::audio().info("recording start ignored: the previous recording is still stopping");
        if (done) {
            done(std::nullopt);
        }
        return;
    }
    sequence_ = Sequence::starting;
    appState_.setRecordingState(RecordingState::starting());
    appState_.setStatusMessage(L10n::localized("L10n.Recording.startingRecording", "Starting recording..."));
    worker_.post([this, done] { runStart(done); });
}

void AudioCaptureManager::runStart(const StartCompletion& done) {
    await(queue_->pause(), "pause the processing queue");
    const std::optional<fs::path> sessionDir = prepareSessionFolder();
    if (!sessionDir) {
        failStart(done);
        return;
    }
    // The queue must never start the folder being written, not even when its scan finds it.
    await(queue_->setActiveRecordingFolder(*sessionDir), "mark the folder being recorded");
    const platform::Clock::WallTime startedAt = clock_.wallNow();
    const platform::Clock::SteadyTime startedSteady = clock_.now();
    onMain([&] {
        sessionDir_ = *sessionDir;
        sessionStartedAt_ = startedAt;
        sessionStartedSteady_ = startedSteady;
        appState_.setRecordingStartedAt(startedAt);
    });
    VelnoteLogger::audio().info("recording session created: {}", sessionDir->string());

    const SessionConfig config = freezeConfig_();
    try {
        SessionMetadataStore::write(SessionMetadata::initial(config, clock_), *sessionDir);
    } catch (const std::exception& e) {
        VelnoteLogger::audio().error("failed to write initial session metadata: {}", e.what());
        failStart(done);
        return;
    }

    const StartedParts parts = onMain([&] { return beginCapturing(*sessionDir, config); });
    if (parts.services.liveTranscription) {
        await(parts.services.liveTranscription->startSession(*sessionDir, config.transcription.language),
              "start the live transcription");
    }
    startCaptures(parts);
    VelnoteLogger::app().info("screenshotEnabled={}", config.capture.screenshotEnabled);
    const auto monitor = startScreenCapture(*sessionDir, config);
    if (parts.services.liveSummary) {
        await(parts.services.liveSummary->startSession(*sessionDir, monitor, config, startedAt),
              "start the live summary");
    }
    onMain([&] { finishStart(done, *sessionDir); });
}

std::optional<fs::path> AudioCaptureManager::prepareSessionFolder() {
    fs::path workingDir;
    try {
        workingDir = workingSessionsDir_();
        platform::createDirectories(workingDir);
    } catch (const std::exception& e) {
        VelnoteLogger::audio().error("failed to create working sessions directory: {}", e.what());
        return std::nullopt;
    }
    SessionDirectoryResolver::applyFileProtection(workingDir);
    WorkingSessionsFolder::cleanupExpiredSessions(workingDir, settings_, clock_);
    try {
        const fs::path sessionDir = WorkingSessionsFolder::createSessionFolder(workingDir, clock_.wallNow());
        SessionDirectoryResolver::applyFileProtection(sessionDir);
        return sessionDir;
    } catch (const std::exception& e) {
        VelnoteLogger::audio().error("failed to create session directory: {}", e.what());
        return std::nullopt;
    }
}

AudioCaptureManager::StartedParts AudioCaptureManager::beginCapturing(const fs::path& sessionDir,
                                                                      const SessionConfig& config) {
    appState_.beginActiveSession(sessionDir, config);
    gains_.setGains(config.audio.micInputGain, config.audio.sysInputGain);
    sessionServices_ = services_;
    if (config.capture.foregroundActivityTrackingEnabled) {
        startForegroundTracking(sessionDir);
    } else {
        foregroundAppMonitor_.reset();
        VelnoteLogger::app().info("foreground activity tracking disabled");
    }
    auto mic =
        std::make_shared<MicrophoneCapture>(sessionDir, config.audio.micDeviceUID, 0, captureDependencies_);
    auto sys = std::make_shared<SystemAudioCapture>(sessionDir, captureDependencies_);
    if (const auto live = sessionServices_.liveTranscription) {
        mic->onAudioBuffer = [live](std::span<const float> samples, const platform::AudioFormat& format) {
            live->yieldMicBuffer(samples, format);
        };
        sys->onAudioBuffer = [live](std::span<const float> samples, const platform::AudioFormat& format) {
            live->yieldSysBuffer(samples, format);
        };
    }
    micCapture_ = mic;
    systemCapture_ = sys;
    return {.mic = mic, .sys = sys, .services = sessionServices_};
}

void AudioCaptureManager::startCaptures(const StartedParts& parts) {
    try {
        parts.mic->start();
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("Failed to start mic capture: {}", e.what());
        onMain([this] { appState_.presentError(failedMicStartText(), false); });
    }
    try {
        parts.sys->start();
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("Failed to start system audio capture: {}", e.what());
        onMain([this] { appState_.presentError(failedSystemAudioStartText(), false); });
    }
}

std::shared_ptr<ScreenCaptureMonitoring>
AudioCaptureManager::startScreenCapture(const fs::path& sessionDir, const SessionConfig& config) {
    if (!config.capture.screenshotEnabled) {
        return nullptr;
    }
    auto monitor = onMain([&] {
        screenMonitor_ = makeScreenCaptureMonitor(sessionDir, config);
        return screenMonitor_;
    });
    if (monitor) {
        await(monitor->start(), "start the screenshot monitor");
    }
    return monitor;
}

void AudioCaptureManager::finishStart(const StartCompletion& done, const fs::path& sessionDir) {
    sequence_ = Sequence::none;
    const bool fatalErrorMeanwhile = appState_.recordingState().phase() == RecordingState::Phase::error;
    if (!fatalErrorMeanwhile) {
        appState_.setRecordingState(RecordingState::recording());
        appState_.resetInputLevels();
        appState_.updateLiveTranscriptLines({});
        appState_.updateLiveTranscriptPendingText("");
        appState_.updateLiveTranscriptPending(true);
        appState_.updateLiveTranscriptError(std::nullopt);
        appState_.updateLiveSummary("");
        appState_.updateLiveSummaryPending(false);
        appState_.updateLiveSummaryError(std::nullopt);
        appState_.updateLiveActivity(std::nullopt);
        appState_.setStatusMessage(L10n::localized("L10n.Recording.recordingInProgress", "Recording..."));
        VelnoteLogger::audio().info("recording started");
    }
    if (done) {
        done(sessionDir);
    }
    const bool quitMeanwhile = std::exchange(stopAfterStart_, false);
    if (fatalErrorMeanwhile) {
        VelnoteLogger::audio().info("fatal error during the start: stopping the recording");
        beginStop(StopMode::afterFatalError, {});
    } else if (quitMeanwhile) {
        beginStop(StopMode::normal, {});
    }
}

// A start that could not prepare its folder: nothing was started, the queue may go on.
void AudioCaptureManager::failStart(const StartCompletion& done) {
    await(queue_->setActiveRecordingFolder(std::nullopt), "clear the folder being recorded");
    await(queue_->resume(), "resume the processing queue");
    onMain([&] {
        sessionDir_.reset();
        sessionStartedAt_.reset();
        sessionStartedSteady_.reset();
        appState_.setRecordingStartedAt(std::nullopt);
        stopAfterStart_ = false;
        sequence_ = Sequence::none;
        appState_.setRecordingState(RecordingState::idle());
        appState_.presentError(
            L10n::localized("L10n.Recording.recordingPreparationFailed", "Failed to prepare recording"),
            true);
        if (done) {
            done(std::nullopt);
        }
        finishSequence();
    });
}

// --- Stop ---

void AudioCaptureManager::stopRecording(Completion done) {
    requireMainThread("stopRecording");
    if (appState_.recordingState().phase() == RecordingState::Phase::starting) {
        complete(done);
        return;
    }
    if (sequence_ != Sequence::none) {
        // A stop under way, or a start that a fatal error ends in a stop: done when that is over.
        waiters_.push_back(std::move(done));
        return;
    }
    beginStop(StopMode::normal, std::move(done));
}

void AudioCaptureManager::stopRecordingForQuit(Completion done) {
    requireMainThread("stopRecordingForQuit");
    Completion finish = [this, done = std::move(done)] {
        worker_.post([this, done] {
            appState_.waitForSessionMetadataWrites();
            main_.post([done] { complete(done); });
        });
    };
    if (sequence_ == Sequence::starting) {
        stopAfterStart_ = true;
        waiters_.push_back(std::move(finish));
    } else if (sequence_ == Sequence::stopping) {
        waiters_.push_back(std::move(finish));
    } else {
        beginStop(StopMode::normal, std::move(finish));
    }
}

bool AudioCaptureManager::holdsRecording() const {
    return sessionDir_ || micCapture_ || systemCapture_ || screenMonitor_ || foregroundAppMonitor_;
}

// A fatal error (a session folder that can no longer be used, say) ends the recording it finds:
// left running, its captures would be dropped unstopped by the next start.
void AudioCaptureManager::onRecordingStateChanged() {
    if (appState_.recordingState().phase() == RecordingState::Phase::error && sequence_ == Sequence::none &&
        holdsRecording()) {
        VelnoteLogger::audio().info("fatal error during the recording: stopping the recording");
        beginStop(StopMode::afterFatalError, {});
    }
}

void AudioCaptureManager::beginStop(StopMode mode, Completion done) {
    if (done) {
        waiters_.push_back(std::move(done));
    }
    if (!holdsRecording()) {
        if (mode == StopMode::normal) {
            appState_.setRecordingState(RecordingState::idle());
        }
        finishSequence();
        return;
    }
    sequence_ = Sequence::stopping;
    if (mode == StopMode::normal) {
        appState_.setRecordingState(RecordingState::stopping());
        appState_.setStatusMessage(
            L10n::localized("L10n.Recording.stoppingRecording", "Stopping recording..."));
    }
    VelnoteLogger::audio().info("recording stop requested");
    appState_.updateLiveTranscriptPending(false);
    StopWork work{.mic = std::exchange(micCapture_, nullptr),
                  .sys = std::exchange(systemCapture_, nullptr),
                  .screen = std::exchange(screenMonitor_, nullptr),
                  .foreground = foregroundAppMonitor_,
                  .sessionDir = sessionDir_,
                  .startedAt = sessionStartedSteady_,
                  .services = sessionServices_};
    worker_.post([this, work = std::move(work), mode]() mutable { runStop(std::move(work), mode); });
}

void AudioCaptureManager::runStop(StopWork work, StopMode mode) {
    if (work.services.liveTranscription) {
        await(work.services.liveTranscription->stopSession(), "stop the live transcription");
    }
    if (work.services.liveSummary) {
        await(work.services.liveSummary->stopSession(), "stop the live summary");
    }
    // Both captures finish their last chunk before anything reads the folder.
    if (work.mic) {
        work.mic->stop();
    }
    if (work.sys) {
        work.sys->stop();
    }
    if (work.screen) {
        await(work.screen->stop(), "stop the screenshot monitor");
    }
    work.mic.reset();
    work.sys.reset();
    work.screen.reset();

    std::optional<double> duration;
    if (work.sessionDir && work.startedAt) {
        duration = std::chrono::duration<double>(clock_.now() - *work.startedAt).count();
        VelnoteLogger::audio().info("recording stopped, duration={}s", *duration);
    }
    if (work.sessionDir) {
        std::optional<SessionConfig> config = onMain([this] { return appState_.activeSessionConfig(); });
        if (!config) {
            config = freezeConfig_();
        }
        // Edits queued before the stop land first, so the final file is the last word.
        appState_.waitForSessionMetadataWrites();
        FinalSessionMetadata::write(*work.sessionDir, *config, duration, clock_);
    }
    if (work.foreground) {
        await(work.foreground->stop(), "stop the foreground activity tracking");
    }
    const SessionConfig settingsNow = freezeConfig_();
    onMain([&] { endStop(mode, settingsNow); });
    if (work.sessionDir) {
        await(queue_->setActiveRecordingFolder(std::nullopt), "clear the folder being recorded");
        await(queue_->resume(), "resume the processing queue");
        await(queue_->enqueue(*work.sessionDir), "enqueue the recording");
    }
    onMain([this] { finishSequence(); });
}

// Everything of the recording is let go only once it has all ended, so a new start never meets
// the fields of the old one.
void AudioCaptureManager::endStop(StopMode mode, const SessionConfig& settingsNow) {
    foregroundAppMonitor_.reset();
    sessionStartedAt_.reset();
    sessionStartedSteady_.reset();
    sessionDir_.reset();
    sessionServices_ = {};
    appState_.endActiveSession();
    gains_.setGains(settingsNow.audio.micInputGain, settingsNow.audio.sysInputGain);
    appState_.setRecordingStartedAt(std::nullopt);
    appState_.resetInputLevels();
    // Before `idle` shows: whoever sees it may start the next recording at once.
    sequence_ = Sequence::none;
    if (mode == StopMode::normal) {
        appState_.setStatusMessage(
            L10n::localized("L10n.Recording.processingWait", "Waiting for processing..."));
        appState_.setRecordingState(RecordingState::idle());
    }
}

void AudioCaptureManager::finishSequence() {
    for (const Completion& done : std::exchange(waiters_, {})) {
        complete(done);
    }
}

// --- Helpers ---

void AudioCaptureManager::startForegroundTracking(const fs::path& sessionDir) {
    const auto tracking = sessionServices_.foregroundActivity;
    if (!tracking) {
        foregroundAppMonitor_.reset();
        VelnoteLogger::app().info("foreground activity tracking unavailable");
        return;
    }
    foregroundAppMonitor_ = tracking->makeMonitor(sessionDir);
    foregroundAppMonitor_->subscribeToAppActivation();
    if (const auto front = tracking->frontmostApplication()) {
        foregroundAppMonitor_->logForegroundAppChange(*front);
    } else {
        VelnoteLogger::app().error("ForegroundAppSessionMonitor: {}",
                                   "Unable to read current foreground application on startup.");
    }
    foregroundAppMonitor_->startPolling();
}

SessionConfig AudioCaptureManager::runningConfig() const {
    if (const auto& config = appState_.activeSessionConfig()) {
        return *config;
    }
    return freezeConfig_();
}

bool AudioCaptureManager::isRecordingSession() const {
    return appState_.recordingState().phase() == RecordingState::Phase::recording && sessionDir_.has_value();
}

void AudioCaptureManager::await(std::future<void> future, std::string_view what) {
    if (!future.valid()) {
        return;
    }
    try {
        future.get();
    } catch (const std::exception& e) {
        VelnoteLogger::audio().error("[AudioCaptureManager] failed to {}: {}", what, e.what());
    }
}

void AudioCaptureManager::complete(const Completion& done) {
    if (done) {
        done();
    }
}

void AudioCaptureManager::requireMainThread(const char* operation) const {
    if (!main_.isMainThread()) {
        VelnoteLogger::audio().fault("AudioCaptureManager.{} called off the main thread", operation);
    }
}

} // namespace velnote
