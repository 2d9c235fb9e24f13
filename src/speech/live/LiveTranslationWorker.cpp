#include "speech/live/LiveTranslationWorker.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/fs/Files.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <array>
#include <cstdio>

namespace velnote {
namespace {

constexpr std::size_t kAccumulatedLimit = 10000;

// The last `count` characters of `text`, whole.
std::string lastCharacters(std::string_view text, std::size_t count) {
    const auto characters = platform::splitCharacters(text);
    if (characters.size() <= count) {
        return std::string(text);
    }
    return std::string(
        text.substr(static_cast<std::size_t>(characters[characters.size() - count].data() - text.data())));
}

std::string joinedLines(const std::vector<std::string>& lines, std::size_t from) {
    return platform::trimWhitespace(platform::joined(
        std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()), "\n"));
}

} // namespace

TranslationWorkerState translationWorkerState(const AppState& state) {
    TranslationWorkerState snapshot{.sourceLines = state.transcriptLinesBuffer().latest,
                                    .outputLanguage = L10n::defaultLanguageCode(),
                                    .inputLanguage = std::nullopt};
    if (const auto& config = state.activeSessionConfig()) {
        snapshot.outputLanguage = config->outputLanguage;
        snapshot.inputLanguage = config->transcription.language;
    }
    return snapshot;
}

LiveTranslationWorker::LiveTranslationWorker(LiveTranslationWorkerDependencies dependencies)
    : translator_(dependencies.translator ? *dependencies.translator : AppleTranslationService::shared()),
      clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      timers_(dependencies.timers ? *dependencies.timers : platform::TimerScheduler::shared()),
      main_(dependencies.main ? *dependencies.main : platform::MainDispatcher::shared()),
      snapshot_(dependencies.snapshot ? std::move(dependencies.snapshot)
                                      : [] { return translationWorkerState(AppState::shared()); }),
      pendingText_(dependencies.pendingText
                       ? std::move(dependencies.pendingText)
                       : [] { return AppState::shared().transcriptPendingTextBuffer().latest; }),
      activeSessionDir_(dependencies.activeSessionDir ? std::move(dependencies.activeSessionDir)
                                                      : [] { return AppState::shared().activeSessionDir(); }),
      onChange_(std::move(dependencies.onChange)) {}

LiveTranslationWorker::~LiveTranslationWorker() {
    if (loop_) {
        loop_->timer.cancel();
    }
    self_.reset();
}

// --- The view's life cycle ---

void LiveTranslationWorker::viewAppeared() {
    if (displayInOutputLanguage_) {
        startTranslationWorker();
    }
}

void LiveTranslationWorker::viewDisappeared() {
    stopTranslationWorker();
}

void LiveTranslationWorker::recordingStateChanged(bool isRecording) {
    if (!isRecording) {
        stopTranslationWorker();
        return;
    }
    // A new recording starts from nothing: the last recording's lines and translation are not its.
    translatedLiveTranscript_.clear();
    resetTranslationContext();
    changed();
    if (displayInOutputLanguage_) {
        startTranslationWorker();
    }
}

void LiveTranslationWorker::setDisplayInOutputLanguage(bool on) {
    displayInOutputLanguage_ = on;
    if (on) {
        startTranslationWorker();
    } else {
        stopTranslationWorker();
        translatedLiveTranscript_.clear();
    }
    changed();
}

// --- Start and stop ---

void LiveTranslationWorker::startTranslationWorker() {
    if (loop_) {
        return;
    }
    liveTranscriptTranslationPending_ = false;
    liveTranscriptTranslationError_.reset();
    loop_ = std::make_shared<Loop>();
    loop_->context = std::make_shared<Context>(persistedContext());
    schedulePoll(loop_);
    changed();
}

void LiveTranslationWorker::stopTranslationWorker() {
    if (loop_) {
        loop_->cancelled = true;
        loop_->timer.cancel();
        loop_.reset();
    }
    liveTranscriptTranslationPending_ = false;
    liveTranscriptTranslationError_.reset();
    changed();
    std::weak_ptr<LiveTranslationWorker*> self = self_;
    main_.post([self] {
        if (const auto alive = self.lock()) {
            (*alive)->flushPendingTranslationBeforeStop();
        }
    });
}

// --- The loop ---

LiveTranslationWorker::Context LiveTranslationWorker::persistedContext() const {
    return Context{.lastSourceLinesCount = translationContextLastSourceLinesCount_,
                   .lastTranslated = translationContextLastTranslated_,
                   .lastOutput = translationContextLastOutput_,
                   .lastInput = translationContextLastInput_,
                   .lastCompletedAt = std::nullopt};
}

void LiveTranslationWorker::schedulePoll(const std::shared_ptr<Loop>& loop) {
    std::weak_ptr<Loop> weakLoop = loop;
    loop->timer = timers_.once(translationPollInterval, main_, [this, weakLoop] {
        if (const auto current = weakLoop.lock()) {
            poll(current);
        }
    });
}

void LiveTranslationWorker::poll(const std::shared_ptr<Loop>& loop) {
    if (loop->cancelled) {
        return;
    }
    TranslationWorkerState state = snapshot_();
    if (state.inputLanguage && *state.inputLanguage == state.outputLanguage) {
        schedulePoll(loop);
        return;
    }
    std::weak_ptr<Loop> weakLoop = loop;
    auto attempt = [this, weakLoop, state = std::move(state)] {
        const auto current = weakLoop.lock();
        if (!current || current->cancelled) {
            return;
        }
        processTranslationIteration(
            state, current->context,
            [weakLoop] {
                const auto alive = weakLoop.lock();
                return !alive || alive->cancelled;
            },
            [this, weakLoop] {
                if (const auto alive = weakLoop.lock(); alive && !alive->cancelled) {
                    schedulePoll(alive);
                }
            });
    };
    const auto& lastCompletedAt = loop->context->lastCompletedAt;
    const auto sinceLast =
        lastCompletedAt ? clock_.now() - *lastCompletedAt : platform::Clock::Duration::max();
    if (sinceLast < translationMinInterval) {
        loop->timer = timers_.once(translationMinInterval - sinceLast, main_, std::move(attempt));
        return;
    }
    attempt();
}

void LiveTranslationWorker::processTranslationIteration(TranslationWorkerState state,
                                                        std::shared_ptr<Context> context,
                                                        std::function<bool()> cancelled, Done done) {
    const bool delta = state.outputLanguage == context->lastOutput &&
                       state.inputLanguage == context->lastInput && context->lastSourceLinesCount > 0 &&
                       state.sourceLines.size() >= context->lastSourceLinesCount;
    const std::string text = joinedLines(state.sourceLines, delta ? context->lastSourceLinesCount : 0);
    const bool merged = delta && !text.empty();
    if (platform::isBlank(text)) {
        context->lastCompletedAt = clock_.now();
        done();
        return;
    }
    liveTranscriptTranslationPending_ = true;
    changed();
    const auto startedAt = clock_.now();
    VelnoteLogger::processing().debug("live translation start: textLen={}, {}->{}",
                                      platform::characterCount(text), state.inputLanguage.value_or("auto"),
                                      state.outputLanguage);
    std::weak_ptr<LiveTranslationWorker*> self = self_;
    translator_.translate(
        text, state.outputLanguage, state.inputLanguage,
        [this, self, state, context, cancelled, done, merged, startedAt](std::string translated,
                                                                         std::exception_ptr error) {
            main_.post([=, this, translated = std::move(translated)] {
                if (!self.lock() || cancelled()) {
                    return; // a stopped loop's answer changes nothing; the flush takes its lines
                }
                if (error) {
                    try {
                        std::rethrow_exception(error);
                    } catch (const std::exception& failure) {
                        translationFailed(*context, failure.what());
                    }
                } else {
                    std::array<char, 32> seconds{};
                    std::snprintf(seconds.data(), seconds.size(), "%.2f",
                                  std::chrono::duration<double>(clock_.now() - startedAt).count());
                    VelnoteLogger::processing().debug("live translation done: {}s, len={}", seconds.data(),
                                                      platform::characterCount(translated));
                    translationSucceeded(state, *context, translated, merged);
                }
                done();
            });
        });
}

void LiveTranslationWorker::translationSucceeded(const TranslationWorkerState& state, Context& context,
                                                 const std::string& translated, bool merged) {
    std::string accumulated = merged ? context.lastTranslated + "\n" + translated : translated;
    if (accumulated.size() > kAccumulatedLimit) {
        accumulated = lastCharacters(accumulated, kAccumulatedLimit);
    }
    context = Context{.lastSourceLinesCount = state.sourceLines.size(),
                      .lastTranslated = accumulated,
                      .lastOutput = state.outputLanguage,
                      .lastInput = state.inputLanguage,
                      .lastCompletedAt = clock_.now()};
    translatedLiveTranscript_ = accumulated;
    liveTranscriptTranslationPending_ = false;
    liveTranscriptTranslationError_.reset();
    appendTranslatedLiveTranscriptToFile(translated, merged, state.outputLanguage);
    translationContextLastSourceLinesCount_ = context.lastSourceLinesCount;
    translationContextLastTranslated_ = context.lastTranslated;
    translationContextLastOutput_ = context.lastOutput;
    translationContextLastInput_ = context.lastInput;
    changed();
}

void LiveTranslationWorker::translationFailed(Context& context, const std::string& description) {
    VelnoteLogger::processing().error("live translation failed: {}", description);
    context.lastCompletedAt = clock_.now(); // the same lines are tried again next time
    liveTranscriptTranslationPending_ = false;
    liveTranscriptTranslationError_ = description;
    changed();
}

void LiveTranslationWorker::flushPendingTranslationBeforeStop() {
    TranslationWorkerState state = snapshot_();
    if (state.inputLanguage && *state.inputLanguage == state.outputLanguage) {
        return;
    }
    processTranslationIteration(
        std::move(state), std::make_shared<Context>(persistedContext()), [] { return false; },
        [this] { translator_.invalidateSessions(); });
}

void LiveTranslationWorker::resetTranslationContext() {
    translationContextLastSourceLinesCount_ = 0;
    translationContextLastTranslated_.clear();
    translationContextLastOutput_.clear();
    translationContextLastInput_.reset();
    if (loop_) {
        *loop_->context = Context{};
    }
}

void LiveTranslationWorker::changed() {
    if (onChange_) {
        onChange_();
    }
}

// --- The file ---

void LiveTranslationWorker::appendTranslatedLiveTranscriptToFile(const std::string& deltaText, bool isMerged,
                                                                 const std::string& outputLanguageCode) {
    const auto folder = activeSessionDir_();
    const std::string code = normalizedLanguageCodeForFile(outputLanguageCode);
    if (!folder || code.empty() || deltaText.empty()) {
        return;
    }
    // One serial writer in attempt order: an append never overtakes an earlier one, and the file
    // only grows.
    fileWriter_.post([file = *folder / ("transcript.live." + code + ".txt"),
                      text = isMerged ? "\n" + deltaText : deltaText] {
        try {
            platform::appendToFile(file, text);
        } catch (const std::exception& error) {
            VelnoteLogger::processing().error("translated live transcript file write failed: {}",
                                              error.what());
        }
    });
}

std::future<void> LiveTranslationWorker::fileWritesDone() {
    return fileWriter_.submit([] {});
}

// --- Display ---

std::string LiveTranslationWorker::displayedLiveTranscriptWindow() const {
    if (displayInOutputLanguage_) {
        return tailDisplayText(translatedLiveTranscript_, liveTranscriptDisplayMaxLines,
                               liveTranscriptDisplayMaxCharacters);
    }
    const auto lines = snapshot_().sourceLines;
    const std::size_t from =
        lines.size() > liveTranscriptDisplayMaxLines ? lines.size() - liveTranscriptDisplayMaxLines : 0;
    std::string text = platform::joined(
        std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()), "\n");
    if (const std::string pending = pendingText_(); !pending.empty()) {
        text += text.empty() ? pending : "\n" + pending;
    }
    text = trimTailResult(text, liveTranscriptDisplayMaxCharacters);
    return from > 0 ? "...\n" + text : text;
}

std::string LiveTranslationWorker::normalizedLanguageCodeForFile(std::string_view code) {
    return platform::replacingNonAlphanumerics(platform::lowercased(code), "-_", "");
}

std::string LiveTranslationWorker::tailDisplayText(std::string_view text, std::size_t maxLines,
                                                   std::size_t maxCharacters) {
    if (text.empty()) {
        return "";
    }
    const auto pieces = platform::splitOn(text, "\n");
    const std::size_t from = pieces.size() > maxLines ? pieces.size() - maxLines : 0;
    const std::string cut = trimTailResult(
        platform::joined(
            std::vector<std::string>(pieces.begin() + static_cast<std::ptrdiff_t>(from), pieces.end()), "\n"),
        maxCharacters);
    if (from > 0 || platform::characterCount(cut) < platform::characterCount(text)) {
        return "...\n" + cut;
    }
    return cut;
}

std::string LiveTranslationWorker::trimTailResult(std::string_view text, std::size_t maxCharacters) {
    if (platform::characterCount(text) <= maxCharacters) {
        return std::string(text);
    }
    std::string tail = lastCharacters(text, maxCharacters);
    if (const auto lineBreak = tail.find('\n'); lineBreak != std::string::npos) {
        tail.erase(0, lineBreak + 1);
    }
    return tail;
}

} // namespace velnote
