#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "speech/live/AppleTranslationService.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

class AppState;

// What the worker looks at: the final live transcript lines and the languages of the recording.
struct TranslationWorkerState {
    std::vector<std::string> sourceLines;
    std::string outputLanguage;
    std::optional<std::string> inputLanguage;
};

// `state`'s transcript lines and the active session configuration's languages
// (L10n::defaultLanguageCode() as output language when no recording runs).
TranslationWorkerState translationWorkerState(const AppState& state);

struct LiveTranslationWorkerDependencies {
    AppleTranslationService* translator = nullptr; // null: AppleTranslationService::shared()
    platform::Clock* clock = nullptr;              // null: the system clock
    platform::TimerScheduler* timers = nullptr;    // null: TimerScheduler::shared(); must use `clock`
    platform::Executor* main = nullptr;            // null: MainDispatcher::shared()
    // null: translationWorkerState(AppState::shared())
    std::function<TranslationWorkerState()> snapshot;
    std::function<std::string()> pendingText;                               // null: AppState's interim text
    std::function<std::optional<std::filesystem::path>()> activeSessionDir; // null: AppState's
    std::function<void()> onChange; // the view's state changed; may be null
};

// The live translation of the recording window: while it runs, every 2 s it looks at the live
// transcript lines, translates the lines that are new since its last translation (all of them
// after a change of language) through AppleTranslationService at most once per 5 s, keeps the
// accumulated translation for display and appends each new translation to the session folder's
// "transcript.live.<code>.txt". At stop it translates what is still pending.
//
// It is the recording window view's state and lives on the main thread: every member is called
// there, the loop's delays are timers on the main thread, and translations run on the service's
// executor and come back to the main thread. File appends run in attempt order on one serial
// writer of its own.
class LiveTranslationWorker {
  public:
    static constexpr std::chrono::seconds translationMinInterval{5};
    static constexpr std::chrono::seconds translationPollInterval{2};
    static constexpr std::size_t liveTranscriptDisplayMaxLines = 120;
    static constexpr std::size_t liveTranscriptDisplayMaxCharacters = 12000;

    explicit LiveTranslationWorker(LiveTranslationWorkerDependencies dependencies = {});
    ~LiveTranslationWorker();
    LiveTranslationWorker(const LiveTranslationWorker&) = delete;
    LiveTranslationWorker& operator=(const LiveTranslationWorker&) = delete;

    // The view's life cycle and its "liveTranscriptDisplayInOutputLanguage" switch.
    void viewAppeared();
    void viewDisappeared();
    void recordingStateChanged(bool isRecording);
    void setDisplayInOutputLanguage(bool on);
    bool displayInOutputLanguage() const { return displayInOutputLanguage_; }

    void startTranslationWorker();
    void stopTranslationWorker();
    bool isRunning() const { return loop_ != nullptr; }

    const std::string& translatedLiveTranscript() const { return translatedLiveTranscript_; }
    bool liveTranscriptTranslationPending() const { return liveTranscriptTranslationPending_; }
    const std::optional<std::string>& liveTranscriptTranslationError() const {
        return liveTranscriptTranslationError_;
    }
    // The text of the live transcript section, in either language, cut to its last 120 lines and
    // 12,000 characters.
    std::string displayedLiveTranscriptWindow() const;

    // Ready once every append queued so far has been written.
    std::future<void> fileWritesDone();

    // "zh-TW" gives "zh-tw"; only letters, digits, "-" and "_" stay.
    static std::string normalizedLanguageCodeForFile(std::string_view code);
    static std::string tailDisplayText(std::string_view text, std::size_t maxLines,
                                       std::size_t maxCharacters);
    static std::string trimTailResult(std::string_view text, std::size_t maxCharacters);

  private:
    struct Context {
        std::size_t lastSourceLinesCount = 0;
        std::string lastTranslated;
        std::string lastOutput;
        std::optional<std::string> lastInput;
        std::optional<platform::Clock::SteadyTime> lastCompletedAt; // not persisted
    };
    struct Loop {
        std::shared_ptr<Context> context;
        platform::Timer timer;
        bool cancelled = false;
    };
    using Done = std::function<void()>;

    Context persistedContext() const;
    void schedulePoll(const std::shared_ptr<Loop>& loop);
    void poll(const std::shared_ptr<Loop>& loop);
    void processTranslationIteration(TranslationWorkerState state, std::shared_ptr<Context> context,
                                     std::function<bool()> cancelled, Done done);
    void translationSucceeded(const TranslationWorkerState& state, Context& context,
                              const std::string& translated, bool merged);
    void translationFailed(Context& context, const std::string& description);
    void flushPendingTranslationBeforeStop();
    void appendTranslatedLiveTranscriptToFile(const std::string& deltaText, bool isMerged,
                                              const std::string& outputLanguageCode);
    void resetTranslationContext();
    void changed();

    AppleTranslationService& translator_;
    platform::Clock& clock_;
    platform::TimerScheduler& timers_;
    platform::Executor& main_;
    std::function<TranslationWorkerState()> snapshot_;
    std::function<std::string()> pendingText_;
    std::function<std::optional<std::filesystem::path>()> activeSessionDir_;
    std::function<void()> onChange_;

    // Only on the main thread:
    bool displayInOutputLanguage_ = false;
    std::string translatedLiveTranscript_;
    bool liveTranscriptTranslationPending_ = false;
    std::optional<std::string> liveTranscriptTranslationError_;
    std::shared_ptr<Loop> loop_; // the running loop; none when idle
    std::size_t translationContextLastSourceLinesCount_ = 0;
    std::string translationContextLastTranslated_;
    std::string translationContextLastOutput_;
    std::optional<std::string> translationContextLastInput_;
    // Answers that come back after the worker has gone find this expired.
    std::shared_ptr<LiveTranslationWorker*> self_ = std::make_shared<LiveTranslationWorker*>(this);

    platform::SerialExecutor fileWriter_; // last: drains its appends before the members above go
};

} // namespace velnote
