#include "app/state/AppState.h"

#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaults.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace velnote {
namespace {

constexpr double kMicGainMin = 0.5;
constexpr double kMicGainMax = 20.0;
constexpr double kSysGainMin = 0.5;
constexpr double kSysGainMax = 3.0;
constexpr std::int64_t kIntervalMin = 1;
constexpr std::int64_t kIntervalMax = 60;
constexpr std::int64_t kIntervalUnset = 5;

// A level is published anyway once this much time has passed since that side's last one.
constexpr std::chrono::duration<double> kInputLevelUpdateMinInterval{1.0 / 12.0};
// A level that moves at least this much is published at once.
constexpr double kInputLevelMinDelta = 0.01;
// Meters rise fast and fall slowly.
constexpr double kRisingFactor = 0.45;
constexpr double kFallingFactor = 0.18;

template <class T> bool sameValue(const T& a, const T& b) {
    return a == b;
}
bool sameValue(const std::optional<LiveActivityInfo>&, const std::optional<LiveActivityInfo>&) {
    return false;
}

std::int64_t clampInterval(std::int64_t minutes) {
    return std::clamp(minutes, kIntervalMin, kIntervalMax);
}

// A stored gain above 0 is brought into range; 0, negative, absent or not a number gives 1.
double gainFromSetting(double stored, double min, double max) {
    return stored > 0 ? std::clamp(stored, min, max) : 1.0;
}

// A slider's gain brought into range; a value that is not a number would reach the audio threads
// and the settings file as NaN, so it counts as the neutral gain.
double clampGain(double gain, double min, double max) {
    return std::isnan(gain) ? 1.0 : std::clamp(gain, min, max);
}

struct Replacement {
    std::string_view systemText;
    std::string_view key;
    std::string_view defaultText;
};

// The system's English descriptions of common network, decoding and permission errors. The
// last two use the typographic apostrophe (U+2019) as the system writes them; the last has no
// full stop because the file name follows it.
constexpr Replacement kReplacements[] = {
    {"A server with the specified hostname could not be found.", "L10n.Errors.serverNotFound",
     "サーバーが見つかりません。URLやネットワーク設定を確認してください。"},
    {"The request timed out.", "L10n.Errors.requestTimedOut",
     "リクエストがタイムアウトしました。ネットワーク環境を確認してください。"},
    {"The network connection was lost.", "L10n.Errors.networkLost", "ネットワーク接続が失われました。"},
    {"Could not connect to the server.", "L10n.Errors.cannotConnect", "サーバーに接続できませんでした。"},
    {"The Internet connection appears to be offline.", "L10n.Errors.offline",
     "インターネットに接続されていません。"},
    {"The data couldn\u2019t be read because it isn\u2019t in the correct format.",
     "L10n.Errors.invalidDataFormat", "データの形式が正しくありません。"},
    {"You don\u2019t have permission to save the file", "L10n.Errors.permissionDenied",
     "ファイルの保存権限がありません。"},
};

void replaceAll(std::string& text, std::string_view searched, const std::string& replacement) {
    for (auto at = text.find(searched); at != std::string::npos;
         at = text.find(searched, at + replacement.size())) {
        text.replace(at, searched.size(), replacement);
    }
}

} // namespace

AppState::AppState(Dependencies dependencies)
    : settings_(dependencies.settings ? *dependencies.settings : platform::SettingsStore::standard()),
      clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      mainDispatcher_(dependencies.mainDispatcher ? *dependencies.mainDispatcher
                                                  : platform::MainDispatcher::shared()),
      alertPresenter_(makeLoggingErrorAlertPresenter()),
      metadataRewriter_(dependencies.metadataExecutor
                            ? *dependencies.metadataExecutor
                            : platform::ThreadPool::shared().executor(platform::Priority::utility),
                        clock_) {
    statusMessage_.value = L10n::localized("L10n.Status.idle", "Idle");
    reloadRuntimeValuesFromDefaults();
}

AppState::AppState() : AppState(Dependencies{}) {}

AppState::~AppState() = default;

AppState& AppState::shared() {
    // Never destroyed: jobs posted to the main thread may reach it until the process ends.
    static AppState* const instance = new AppState();
    return *instance;
}

AppState::ObservationToken AppState::observe(AppStateField field, Observer observer) {
    return observe(std::vector<AppStateField>{field}, std::move(observer));
}

AppState::ObservationToken AppState::observe(const std::vector<AppStateField>& fields, Observer observer) {
    requireMainThread("observe");
    return observers_->add(fields, std::move(observer));
}

void AppState::setErrorAlertPresenter(std::shared_ptr<ErrorAlertPresenter> presenter) {
    requireMainThread("setErrorAlertPresenter");
    alertPresenter_ = presenter ? std::move(presenter) : makeLoggingErrorAlertPresenter();
}

void AppState::setSharedMuteFlags(std::shared_ptr<SharedMuteFlags> flags) {
    requireMainThread("setSharedMuteFlags");
    sharedMuteFlags_ = std::move(flags);
}

void AppState::setSharedInputGains(std::shared_ptr<SharedInputGains> gains) {
    requireMainThread("setSharedInputGains");
    sharedInputGains_ = std::move(gains);
}

void AppState::setRecordingAdjustments(std::shared_ptr<RecordingAdjustments> adjustments) {
    requireMainThread("setRecordingAdjustments");
    recordingAdjustments_ = std::move(adjustments);
}

template <class T> void AppState::set(Field<T>& field, T value) {
    requireMainThread("set");
    const bool same = sameValue(field.value, value);
    field.value = std::move(value);
    if (!same) {
        observers_->notify(field.id);
    }
}

void AppState::setRecordingState(RecordingState state) {
    set(recordingState_, std::move(state));
}
void AppState::setRecordingStartedAt(std::optional<platform::Clock::WallTime> time) {
    set(recordingStartedAt_, time);
}
void AppState::setLastTranscriptPath(std::optional<std::filesystem::path> path) {
    set(lastTranscriptPath_, std::move(path));
}
void AppState::setLastSummaryPath(std::optional<std::filesystem::path> path) {
    set(lastSummaryPath_, std::move(path));
}
void AppState::setStatusMessage(std::string message) {
    set(statusMessage_, std::move(message));
}
void AppState::setProcessingSessionCount(std::int64_t count) {
    set(processingSessionCount_, count);
}
void AppState::setSessionSnapshots(std::vector<SessionStatusSnapshot> snapshots) {
    set(sessionSnapshots_, std::move(snapshots));
}
void AppState::setExpandedSessionID(std::optional<std::filesystem::path> sessionDir) {
    set(expandedSessionID_, std::move(sessionDir));
}
void AppState::setRecordingFloatingWindowVisible(bool visible) {
    set(isRecordingFloatingWindowVisible_, visible);
}

// --- The running session ---

void AppState::beginActiveSession(std::filesystem::path sessionDir, SessionConfig config) {
    set(activeSessionDir_, std::optional(std::move(sessionDir)));
    set(activeSessionConfig_, std::optional(config));
    applyRuntimeValues(config);
}

void AppState::endActiveSession() {
    set(activeSessionDir_, std::optional<std::filesystem::path>());
    set(activeSessionConfig_, std::optional<SessionConfig>());
    reloadRuntimeValuesFromDefaults();
}

// The values the session was frozen with; the gains without bounds, as the session has them.
void AppState::applyRuntimeValues(const SessionConfig& config) {
    set(micInputGain_, config.audio.micInputGain);
    set(sysInputGain_, config.audio.sysInputGain);
    set(liveSummaryEnabled_, config.liveSummary.enabled);
    set(liveSummaryIntervalMinutes_, clampInterval(config.liveSummary.intervalMinutes));
}

void AppState::reloadRuntimeValuesFromDefaults() {
    const UserDefaults defaults(settings_);
    set(micInputGain_,
        gainFromSetting(defaults.doubleValue(UserDefaultsKey::micInputGain), kMicGainMin, kMicGainMax));
    set(sysInputGain_,
        gainFromSetting(defaults.doubleValue(UserDefaultsKey::sysInputGain), kSysGainMin, kSysGainMax));
    set(liveSummaryEnabled_, defaults.boolObject(UserDefaultsKey::liveSummaryEnabled, true));
    const std::int64_t interval = defaults.integer(UserDefaultsKey::liveSummaryIntervalMinutes);
    set(liveSummaryIntervalMinutes_,
        interval < kIntervalMin ? kIntervalUnset : std::min(interval, kIntervalMax));
}

bool AppState::mutateActiveSessionConfig(const SessionConfigEdit& edit) {
    requireMainThread("mutateActiveSessionConfig");
    if (recordingState_.value.phase() != RecordingState::Phase::recording || !activeSessionDir_.value ||
        !activeSessionConfig_.value) {
        return false;
    }
    SessionConfig edited = *activeSessionConfig_.value;
    edit(edited);
    set(activeSessionConfig_, std::optional(edited));
    persistSessionMetadataConfig(edited, *activeSessionDir_.value);
    return true;
}

void AppState::persistSessionMetadataConfig(const SessionConfig& config,
                                            const std::filesystem::path& sessionDir) {
    metadataRewriter_.rewrite(config, sessionDir);
}

void AppState::waitForSessionMetadataWrites() {
    metadataRewriter_.waitUntilIdle();
}

// --- Running-session adjustments ---

void AppState::setMicInputGain(double gain) {
    setGain(micInputGain_, clampGain(gain, kMicGainMin, kMicGainMax), UserDefaultsKey::micInputGain,
            &SharedInputGains::setMicInputGain, &AudioConfig::micInputGain);
}

void AppState::setSysInputGain(double gain) {
    setGain(sysInputGain_, clampGain(gain, kSysGainMin, kSysGainMax), UserDefaultsKey::sysInputGain,
            &SharedInputGains::setSysInputGain, &AudioConfig::sysInputGain);
}

void AppState::setGain(Field<double>& field, double clamped, UserDefaultsKey key,
                       void (SharedInputGains::*live)(double), double AudioConfig::*configField) {
    set(field, clamped);
    if (sharedInputGains_) {
        ((*sharedInputGains_).*live)(clamped);
    }
    mutateActiveSessionConfig([&](SessionConfig& config) { config.audio.*configField = clamped; });
    UserDefaults(settings_).set(key, clamped);
}

void AppState::toggleMicMuted() {
    set(micMuted_, !micMuted_.value);
    if (sharedMuteFlags_) {
        sharedMuteFlags_->setMicMuted(micMuted_.value);
    }
}

void AppState::toggleSysMuted() {
    set(sysMuted_, !sysMuted_.value);
    if (sharedMuteFlags_) {
        sharedMuteFlags_->setSysMuted(sysMuted_.value);
    }
}

void AppState::setLiveSummaryEnabled(bool enabled) {
    set(liveSummaryEnabled_, enabled);
    mutateActiveSessionConfig([enabled](SessionConfig& config) { config.liveSummary.enabled = enabled; });
    UserDefaults(settings_).set(UserDefaultsKey::liveSummaryEnabled, enabled);
    updateLiveSummaryService();
}

void AppState::setLiveSummaryIntervalMinutes(std::int64_t minutes) {
    const std::int64_t clamped = clampInterval(minutes);
    set(liveSummaryIntervalMinutes_, clamped);
    mutateActiveSessionConfig(
        [clamped](SessionConfig& config) { config.liveSummary.intervalMinutes = clamped; });
    UserDefaults(settings_).set(UserDefaultsKey::liveSummaryIntervalMinutes, clamped);
    updateLiveSummaryService();
}

void AppState::updateLiveSummaryService() {
    if (recordingAdjustments_) {
        recordingAdjustments_->updateLiveSummarySettings(liveSummaryEnabled_.value,
                                                         liveSummaryIntervalMinutes_.value);
    }
}

void AppState::setCaptureRegion(std::optional<ScreenRect> region) {
    set(captureRegion_, region);
    if (recordingAdjustments_) {
        recordingAdjustments_->updateCaptureRegion(region);
    }
}

void AppState::changeScreenshotDisplay(std::int64_t displayIndex) {
    requireMainThread("changeScreenshotDisplay");
    if (recordingAdjustments_) {
        recordingAdjustments_->changeScreenshotDisplay(displayIndex);
    }
}

// --- Meters ---

void AppState::updateInputLevels(std::optional<double> mic, std::optional<double> sys) {
    requireMainThread("updateInputLevels");
    if (!audioMeterEnabled_.value) {
        return;
    }
    const SteadyTime now = clock_.now();
    if (mic) {
        updateLevel(micInputLevel_, lastMicLevelPublishedAt_, *mic, now);
    }
    if (sys) {
        updateLevel(sysInputLevel_, lastSysLevelPublishedAt_, *sys, now);
    }
}

// The published level is also the smoothing state; a step too small and too soon is dropped,
// so slow drifts are followed only through the interval rule.
void AppState::updateLevel(Field<double>& level, Field<std::optional<SteadyTime>>& publishedAt, double value,
                           SteadyTime now) {
    const double target = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
    const double current = level.value;
    const double factor = current < target ? kRisingFactor : kFallingFactor;
    const double next = current + factor * (target - current);
    const bool moved = std::abs(next - current) >= kInputLevelMinDelta;
    const bool due = !publishedAt.value || now - *publishedAt.value >= kInputLevelUpdateMinInterval;
    if (!moved && !due) {
        return;
    }
    set(level, next);
    set(publishedAt, std::optional(now));
}

void AppState::resetInputLevels() {
    set(micInputLevel_, 0.0);
    set(sysInputLevel_, 0.0);
    set(lastMicLevelPublishedAt_, std::optional<SteadyTime>());
    set(lastSysLevelPublishedAt_, std::optional<SteadyTime>());
    set(micMuted_, false);
    set(sysMuted_, false);
    if (sharedMuteFlags_) {
        sharedMuteFlags_->clearAll();
    }
}

void AppState::setAudioMeterEnabled(bool enabled) {
    set(audioMeterEnabled_, enabled);
    if (!enabled) {
        set(micInputLevel_, 0.0);
        set(sysInputLevel_, 0.0);
        set(lastMicLevelPublishedAt_, std::optional<SteadyTime>());
        set(lastSysLevelPublishedAt_, std::optional<SteadyTime>());
    }
}

// --- Live sections ---

template <class T>
void AppState::bufferUpdate(Field<SectionBuffer<T>>& buffer, Field<T>& published, T value) {
    requireMainThread("update");
    buffer.value.latest = value;
    touch(buffer);
    if (buffer.value.visible) {
        set(published, std::move(value));
    }
}

template <class T>
void AppState::showBuffer(Field<SectionBuffer<T>>& buffer, Field<T>& published, bool visible) {
    requireMainThread("setSectionVisible");
    buffer.value.visible = visible;
    touch(buffer);
    if (visible) {
        set(published, buffer.value.latest);
    }
}

void AppState::setTranscriptSectionVisible(bool visible) {
    showBuffer(transcriptLinesBuffer_, liveTranscriptLines_, visible);
    showBuffer(transcriptPendingTextBuffer_, liveTranscriptPendingText_, visible);
    showBuffer(transcriptPendingBuffer_, liveTranscriptPending_, visible);
    showBuffer(transcriptErrorBuffer_, liveTranscriptError_, visible);
}

void AppState::setSummarySectionVisible(bool visible) {
    showBuffer(summaryBuffer_, liveSummary_, visible);
    showBuffer(summaryPendingBuffer_, liveSummaryPending_, visible);
    showBuffer(summaryErrorBuffer_, liveSummaryError_, visible);
}

void AppState::setActivitySectionVisible(bool visible) {
    showBuffer(activityBuffer_, liveActivity_, visible);
}

void AppState::updateLiveTranscriptLines(std::vector<std::string> lines) {
    bufferUpdate(transcriptLinesBuffer_, liveTranscriptLines_, std::move(lines));
}
void AppState::updateLiveTranscriptPendingText(std::string text) {
    bufferUpdate(transcriptPendingTextBuffer_, liveTranscriptPendingText_, std::move(text));
}
void AppState::updateLiveTranscriptPending(bool pending) {
    bufferUpdate(transcriptPendingBuffer_, liveTranscriptPending_, pending);
}
void AppState::updateLiveTranscriptError(std::optional<std::string> error) {
    bufferUpdate(transcriptErrorBuffer_, liveTranscriptError_, std::move(error));
}
void AppState::updateLiveSummary(std::string markdown) {
    bufferUpdate(summaryBuffer_, liveSummary_, std::move(markdown));
}
void AppState::updateLiveSummaryPending(bool pending) {
    bufferUpdate(summaryPendingBuffer_, liveSummaryPending_, pending);
}
void AppState::updateLiveSummaryError(std::optional<std::string> error) {
    bufferUpdate(summaryErrorBuffer_, liveSummaryError_, std::move(error));
}
void AppState::updateLiveActivity(std::optional<LiveActivityInfo> activity) {
    bufferUpdate(activityBuffer_, liveActivity_, std::move(activity));
}

std::string AppState::fullLiveTranscript() const {
    std::string text;
    for (const std::string& line : liveTranscriptLines_.value) {
        if (&line != &liveTranscriptLines_.value.front()) {
            text += '\n';
        }
        text += line;
    }
    if (!liveTranscriptPendingText_.value.empty()) {
        if (!liveTranscriptLines_.value.empty()) {
            text += '\n';
        }
        text += liveTranscriptPendingText_.value;
    }
    return text;
}

// --- Errors ---

void AppState::presentError(const std::string& message, bool isFatal) {
    requireMainThread("presentError");
    const std::string improved = improveErrorMessage(message);
    setStatusMessage(improved);
    if (isFatal) {
        setRecordingState(RecordingState::error(improved));
    }
    const ErrorAlertPresenter::Alert alert{L10n::localized("L10n.Recording.error", "Error"), improved,
                                           L10n::localized("L10n.Common.okLabel", "OK")};
    // Each alert ends its own error, even when the state had already moved on meanwhile.
    const std::shared_ptr<ErrorAlertPresenter> presenter = alertPresenter_;
    presenter->showCriticalAlert(alert, [this, alive = std::weak_ptr<bool>(lifetime_), isFatal] {
        if (isFatal && !alive.expired()) {
            setRecordingState(RecordingState::idle());
        }
    });
}

std::string AppState::improveErrorMessage(std::string message) {
    for (const Replacement& row : kReplacements) {
        if (message.find(row.systemText) != std::string::npos) {
            replaceAll(message, row.systemText, L10n::localized(row.key, row.defaultText));
        }
    }
    return message;
}

void AppState::requireMainThread(const char* operation) const {
    if (!mainDispatcher_.isMainThread()) {
        VelnoteLogger::app().fault("AppState.{} called off the main thread", operation);
    }
}

} // namespace velnote
