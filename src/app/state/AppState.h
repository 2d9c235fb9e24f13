#pragma once

#include "app/state/AppStateField.h"
#include "app/state/AppStateObservers.h"
#include "app/state/ErrorAlertPresenter.h"
#include "app/state/LiveActivityInfo.h"
#include "app/state/RecordingAdjustments.h"
#include "app/state/RecordingState.h"
#include "app/state/ScreenRect.h"
#include "app/state/SectionBuffer.h"
#include "app/state/SessionMetadataRewriter.h"
#include "app/state/SharedInputGains.h"
#include "app/state/SharedMuteFlags.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/settings/SettingsStore.h"
#include "session/config/SessionConfig.h"
#include "session/folder/SessionStatusSnapshot.h"
#include "session/settings/UserDefaultsKey.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// The one observable state of the user interface: what the tray menu and the windows show
// about the recording, the processing of sessions and the live sections of the recording
// window. Services write it, windows observe it.
//
// Main thread only: every read, write and observation happens on the thread of the
// MainDispatcher it was given. Services elsewhere hand their values over in a job posted there.
// A write from another thread is a bug and is logged at fault level.
//
// Change rule: each setter compares the new value with the stored one and notifies the field's
// observers (after storing) only when they differ. A float that is not a number never equals
// anything; `liveActivity` and the section buffers have no equality and notify on every write.
class AppState {
  public:
    using Observer = AppStateObservers::Observer;
    using ObservationToken = AppStateObservers::Token;
    using SessionConfigEdit = std::function<void(SessionConfig&)>;

    // What the state reads and where it sends work; nullptr means the process-wide one
    // (SettingsStore::standard(), SystemClock::shared(), MainDispatcher::shared(), the shared
    // pool at utility priority).
    struct Dependencies {
        platform::SettingsStore* settings = nullptr;        // the gain and live-summary settings
        const platform::Clock* clock = nullptr;             // meter throttle, date of a rebuilt session.json
        platform::MainDispatcher* mainDispatcher = nullptr; // whose thread counts as main
        platform::Executor* metadataExecutor = nullptr;     // runs the rewrites of session.json
    };

    // Sets the initial values, then reads the gains and live-summary settings (see
    // endActiveSession() for the rules). Writes nothing back.
    explicit AppState(Dependencies dependencies);
    AppState(); // every dependency process-wide
    // Waits for the rewrites of session.json already started.
    ~AppState();

    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // The process's instance, created on first use with the process-wide dependencies and
    // never destroyed.
    static AppState& shared();

    // Observation. `observer` is called with the field after each real change of one of
    // `fields`, synchronously on the main thread, until the token is dropped.
    [[nodiscard]] ObservationToken observe(AppStateField field, Observer observer);
    [[nodiscard]] ObservationToken observe(const std::vector<AppStateField>& fields, Observer observer);

    // Where the alert of presentError() goes; nullptr restores the logging presenter.
    void setErrorAlertPresenter(std::shared_ptr<ErrorAlertPresenter> presenter);
    // Where resetInputLevels() and the mute toggles set the audio threads' mute flags; nullptr
    // for none.
    void setSharedMuteFlags(std::shared_ptr<SharedMuteFlags> flags);
    // Where the gain setters hand the gains to the audio threads; nullptr for none.
    void setSharedInputGains(std::shared_ptr<SharedInputGains> gains);
    // Where the live-summary, region and display changes reach the running recording (the
    // recording controller); nullptr for none.
    void setRecordingAdjustments(std::shared_ptr<RecordingAdjustments> adjustments);

    // --- Fields ---

    const RecordingState& recordingState() const { return recordingState_.value; }
    void setRecordingState(RecordingState state);

    // Wall-clock start of the running recording; none when idle.
    const std::optional<platform::Clock::WallTime>& recordingStartedAt() const {
        return recordingStartedAt_.value;
    }
    void setRecordingStartedAt(std::optional<platform::Clock::WallTime> time);

    // Smoothed meter levels, 0...1; written only by the meter operations below.
    double micInputLevel() const { return micInputLevel_.value; }
    double sysInputLevel() const { return sysInputLevel_.value; }

    // Linear gain factors shown by the gain sliders.
    double micInputGain() const { return micInputGain_.value; }
    double sysInputGain() const { return sysInputGain_.value; }

    bool micMuted() const { return micMuted_.value; }
    bool sysMuted() const { return sysMuted_.value; }

    // "transcript.txt" of the last session whose completion was reported; nobody reads it back.
    const std::optional<std::filesystem::path>& lastTranscriptPath() const {
        return lastTranscriptPath_.value;
    }
    void setLastTranscriptPath(std::optional<std::filesystem::path> path);
    // "summary.md" of the last summarized session; nobody reads it back.
    const std::optional<std::filesystem::path>& lastSummaryPath() const { return lastSummaryPath_.value; }
    void setLastSummaryPath(std::optional<std::filesystem::path> path);

    // The one-line status of the tray menu and the recording window header.
    const std::string& statusMessage() const { return statusMessage_.value; }
    void setStatusMessage(std::string message);

    std::int64_t processingSessionCount() const { return processingSessionCount_.value; }
    void setProcessingSessionCount(std::int64_t count);

    // Every session the user interface lists, newest first.
    const std::vector<SessionStatusSnapshot>& sessionSnapshots() const { return sessionSnapshots_.value; }
    void setSessionSnapshots(std::vector<SessionStatusSnapshot> snapshots);

    // The session folder whose row is expanded in the session monitor.
    const std::optional<std::filesystem::path>& expandedSessionID() const { return expandedSessionID_.value; }
    void setExpandedSessionID(std::optional<std::filesystem::path> sessionDir);

    // Published live values; written only through the update operations below.
    const std::vector<std::string>& liveTranscriptLines() const { return liveTranscriptLines_.value; }
    const std::string& liveTranscriptPendingText() const { return liveTranscriptPendingText_.value; }
    bool liveTranscriptPending() const { return liveTranscriptPending_.value; }
    const std::optional<std::string>& liveTranscriptError() const { return liveTranscriptError_.value; }
    const std::string& liveSummary() const { return liveSummary_.value; } // Markdown
    bool liveSummaryPending() const { return liveSummaryPending_.value; }
    const std::optional<std::string>& liveSummaryError() const { return liveSummaryError_.value; }
    const std::optional<LiveActivityInfo>& liveActivity() const { return liveActivity_.value; }

    bool liveSummaryEnabled() const { return liveSummaryEnabled_.value; }
    // Minutes between live summaries, 1...60.
    std::int64_t liveSummaryIntervalMinutes() const { return liveSummaryIntervalMinutes_.value; }

    // The screen region that limits screenshots of the running recording; none = whole display.
    const std::optional<ScreenRect>& captureRegion() const { return captureRegion_.value; }

    bool isRecordingFloatingWindowVisible() const { return isRecordingFloatingWindowVisible_.value; }
    void setRecordingFloatingWindowVisible(bool visible);

    // The running recording's folder and configuration: both present while it runs, else both
    // none. Changed only by beginActiveSession(), endActiveSession() and mutateActiveSessionConfig().
    const std::optional<std::filesystem::path>& activeSessionDir() const { return activeSessionDir_.value; }
    const std::optional<SessionConfig>& activeSessionConfig() const { return activeSessionConfig_.value; }

    // The buffered transcript values, also while the transcript section is hidden.
    const SectionBuffer<std::vector<std::string>>& transcriptLinesBuffer() const {
        return transcriptLinesBuffer_.value;
    }
    const SectionBuffer<std::string>& transcriptPendingTextBuffer() const {
        return transcriptPendingTextBuffer_.value;
    }
    const SectionBuffer<bool>& transcriptPendingBuffer() const { return transcriptPendingBuffer_.value; }

    // --- The running session ---

    // Called once the first "session.json" exists: sets the folder, then the configuration, then
    // takes the gains and the live-summary switch and interval (brought into 1...60) from it.
    void beginActiveSession(std::filesystem::path sessionDir, SessionConfig config);
    // Called at stop: folder and configuration to none, then the gains and live-summary values
    // back from the settings: a gain stored above 0 is brought into 0.5...20 (microphone) or
    // 0.5...3 (system audio), anything else gives 1; "liveSummaryEnabled" is the stored bool,
    // else true; an interval stored below 1 (or absent) gives 5, above 60 gives 60.
    void endActiveSession();

    // Applies `edit` to a copy of the running session's configuration, publishes the copy and
    // queues a rewrite of the session's "session.json" with it (diarization and summary steps
    // reset by the new configuration), also when the edit changed nothing. Returns false and
    // does nothing unless the state is `recording` with an active folder and configuration.
    bool mutateActiveSessionConfig(const SessionConfigEdit& edit);
    // Blocks until the rewrites of "session.json" started so far are on disk (before quitting).
    // Any thread.
    void waitForSessionMetadataWrites();

    // --- Running-session adjustments (the recording window and the per-session settings) ---
    //
    // Each publishes the value, hands it to where it takes effect and records it in the settings
    // and, while recording, in the running session's configuration. The live value, the setting
    // and the configuration are written again even when the value did not change.

    // Brought into 0.5...20 (not a number gives 1); also "micInputGain" and `audio.micInputGain`.
    void setMicInputGain(double gain);
    // Brought into 0.5...3 (not a number gives 1); also "sysInputGain" and `audio.sysInputGain`.
    void setSysInputGain(double gain);
    // Flip the published flag and the audio threads' flag; never stored anywhere else.
    void toggleMicMuted();
    void toggleSysMuted();
    // Also "liveSummaryEnabled", `liveSummary.enabled`, and the live summary service.
    void setLiveSummaryEnabled(bool enabled);
    // Brought into 1...60; also "liveSummaryIntervalMinutes", `liveSummary.intervalMinutes`, and
    // the live summary service.
    void setLiveSummaryIntervalMinutes(std::int64_t minutes);
    // Publishes the region and hands it to the running screenshot monitor, if any.
    void setCaptureRegion(std::optional<ScreenRect> region);
    // Points the running screenshot monitor at another display; the caller records the index in
    // the configuration first.
    void changeScreenshotDisplay(std::int64_t displayIndex);

    // --- Meters and live sections ---

    // Meter update for every third audio buffer; std::nullopt leaves that side alone. Values are
    // clamped to 0...1 (not a number counts as 0) and smoothed; a side is published when it
    // moves by at least 0.01 or 1/12 s after its last publication. Ignored while the meter is off.
    void updateInputLevels(std::optional<double> mic, std::optional<double> sys);
    // Levels to 0, mute flags off (here and in the shared mute flags), next level published at once.
    void resetInputLevels();
    // Switching off also zeroes both levels, so the next level is published at once.
    void setAudioMeterEnabled(bool enabled);

    // Whether each section of the recording window is on screen. Showing one publishes the
    // values buffered while it was hidden; hiding keeps the last published values.
    void setTranscriptSectionVisible(bool visible);
    void setSummarySectionVisible(bool visible);
    void setActivitySectionVisible(bool visible);

    // Each buffers the value and publishes it while its section is shown.
    void updateLiveTranscriptLines(std::vector<std::string> lines);
    void updateLiveTranscriptPendingText(std::string text);
    void updateLiveTranscriptPending(bool pending);
    void updateLiveTranscriptError(std::optional<std::string> error);
    void updateLiveSummary(std::string markdown);
    void updateLiveSummaryPending(bool pending);
    void updateLiveSummaryError(std::optional<std::string> error);
    void updateLiveActivity(std::optional<LiveActivityInfo> activity);

    // The published lines, then the interim text when not empty, joined by line feeds.
    std::string fullLiveTranscript() const;

    // --- Errors ---

    // Tells the user about a failure that needs attention: the improved message goes to the
    // status line and into a critical alert; a fatal one also sets `error(message)` until its
    // alert is closed, then `idle`.
    void presentError(const std::string& message, bool isFatal);
    // Replaces the well-known system error texts inside `message` by localized explanations;
    // the rest of the message stays.
    static std::string improveErrorMessage(std::string message);

  private:
    template <class T> struct Field {
        AppStateField id;
        T value;
    };
    using SteadyTime = platform::Clock::SteadyTime;

    template <class T> void set(Field<T>& field, T value);
    // For changes made in place: notifies without comparing.
    template <class T> void touch(Field<T>& field) { observers_->notify(field.id); }
    template <class T> void bufferUpdate(Field<SectionBuffer<T>>& buffer, Field<T>& published, T value);
    template <class T> void showBuffer(Field<SectionBuffer<T>>& buffer, Field<T>& published, bool visible);
    void updateLevel(Field<double>& level, Field<std::optional<SteadyTime>>& publishedAt, double value,
                     SteadyTime now);

    // Publishes a gain already in range and hands it to the audio threads, the running session's
    // configuration and the settings.
    void setGain(Field<double>& field, double clamped, UserDefaultsKey key,
                 void (SharedInputGains::*live)(double), double AudioConfig::*configField);
    void updateLiveSummaryService();
    void applyRuntimeValues(const SessionConfig& config);
    void reloadRuntimeValuesFromDefaults();
    void persistSessionMetadataConfig(const SessionConfig& config, const std::filesystem::path& sessionDir);
    void requireMainThread(const char* operation) const;

    platform::SettingsStore& settings_;
    const platform::Clock& clock_;
    platform::MainDispatcher& mainDispatcher_;
    std::shared_ptr<AppStateObservers> observers_ = std::make_shared<AppStateObservers>();
    std::shared_ptr<ErrorAlertPresenter> alertPresenter_;
    std::shared_ptr<SharedMuteFlags> sharedMuteFlags_;
    std::shared_ptr<SharedInputGains> sharedInputGains_;
    std::shared_ptr<RecordingAdjustments> recordingAdjustments_;
    // Lets an alert closed after this object is gone do nothing.
    std::shared_ptr<bool> lifetime_ = std::make_shared<bool>(true);

    Field<RecordingState> recordingState_{AppStateField::recordingState, {}};
    Field<std::optional<platform::Clock::WallTime>> recordingStartedAt_{AppStateField::recordingStartedAt,
                                                                        {}};
    Field<double> micInputLevel_{AppStateField::micInputLevel, 0.0};
    Field<double> sysInputLevel_{AppStateField::sysInputLevel, 0.0};
    Field<double> micInputGain_{AppStateField::micInputGain, 1.0};
    Field<double> sysInputGain_{AppStateField::sysInputGain, 1.0};
    Field<bool> micMuted_{AppStateField::micMuted, false};
    Field<bool> sysMuted_{AppStateField::sysMuted, false};
    Field<std::optional<std::filesystem::path>> lastTranscriptPath_{AppStateField::lastTranscriptPath, {}};
    Field<std::optional<std::filesystem::path>> lastSummaryPath_{AppStateField::lastSummaryPath, {}};
    Field<std::string> statusMessage_{AppStateField::statusMessage, {}};
    Field<std::int64_t> processingSessionCount_{AppStateField::processingSessionCount, 0};
    Field<std::vector<SessionStatusSnapshot>> sessionSnapshots_{AppStateField::sessionSnapshots, {}};
    Field<std::optional<std::filesystem::path>> expandedSessionID_{AppStateField::expandedSessionID, {}};
    Field<std::vector<std::string>> liveTranscriptLines_{AppStateField::liveTranscriptLines, {}};
    Field<std::string> liveTranscriptPendingText_{AppStateField::liveTranscriptPendingText, {}};
    Field<bool> liveTranscriptPending_{AppStateField::liveTranscriptPending, false};
    Field<std::optional<std::string>> liveTranscriptError_{AppStateField::liveTranscriptError, {}};
    Field<std::string> liveSummary_{AppStateField::liveSummary, {}};
    Field<bool> liveSummaryPending_{AppStateField::liveSummaryPending, false};
    Field<std::optional<std::string>> liveSummaryError_{AppStateField::liveSummaryError, {}};
    Field<bool> liveSummaryEnabled_{AppStateField::liveSummaryEnabled, true};
    Field<std::int64_t> liveSummaryIntervalMinutes_{AppStateField::liveSummaryIntervalMinutes, 5};
    Field<std::optional<ScreenRect>> captureRegion_{AppStateField::captureRegion, {}};
    Field<std::optional<LiveActivityInfo>> liveActivity_{AppStateField::liveActivity, {}};
    Field<bool> isRecordingFloatingWindowVisible_{AppStateField::isRecordingFloatingWindowVisible, false};
    Field<std::optional<std::filesystem::path>> activeSessionDir_{AppStateField::activeSessionDir, {}};
    Field<std::optional<SessionConfig>> activeSessionConfig_{AppStateField::activeSessionConfig, {}};

    // Meter bookkeeping. A publication time of none is "the distant past": the next level of
    // that side is published whatever it is.
    Field<std::optional<SteadyTime>> lastMicLevelPublishedAt_{AppStateField::lastMicLevelPublishedAt, {}};
    Field<std::optional<SteadyTime>> lastSysLevelPublishedAt_{AppStateField::lastSysLevelPublishedAt, {}};
    Field<bool> audioMeterEnabled_{AppStateField::audioMeterEnabled, false};

    Field<SectionBuffer<std::vector<std::string>>> transcriptLinesBuffer_{
        AppStateField::transcriptLinesBuffer, {}};
    Field<SectionBuffer<std::string>> transcriptPendingTextBuffer_{AppStateField::transcriptPendingTextBuffer,
                                                                   {}};
    Field<SectionBuffer<bool>> transcriptPendingBuffer_{AppStateField::transcriptPendingBuffer, {}};
    Field<SectionBuffer<std::optional<std::string>>> transcriptErrorBuffer_{
        AppStateField::transcriptErrorBuffer, {}};
    Field<SectionBuffer<std::string>> summaryBuffer_{AppStateField::summaryBuffer, {}};
    Field<SectionBuffer<bool>> summaryPendingBuffer_{AppStateField::summaryPendingBuffer, {}};
    Field<SectionBuffer<std::optional<std::string>>> summaryErrorBuffer_{AppStateField::summaryErrorBuffer,
                                                                         {}};
    Field<SectionBuffer<std::optional<LiveActivityInfo>>> activityBuffer_{AppStateField::activityBuffer, {}};

    // Last member: its destructor waits for the rewrites while everything above still exists.
    SessionMetadataRewriter metadataRewriter_;
};

} // namespace velnote
