#include "speech/live/RealtimeTranscriptionActor.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/l10n/L10nCatalog.h"
#include "speech/live/LiveTranscriptText.h"
#include "speech/live/RealtimeInputLanguage.h"
#include "speech/live/SpeechAuthorization.h"

#include <chrono>

namespace velnote {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kRawBufferLimit = 32;
constexpr auto kRecoveryDelay = 5s;
constexpr auto kPreviewInterval = 250ms;
constexpr std::size_t kLiveSummaryCharacters = 24000;
// How long a stop waits for the analyses to report the audio they still hold.
constexpr auto kStopDrainLimit = 10s;
constexpr platform::AudioFormat kMicFormat{16000, 1};

const char* channelName(RealtimeTranscriptionActor::Channel channel) {
    return channel == RealtimeTranscriptionActor::Channel::mic ? "mic" : "sys";
}

std::string describe(const platform::AudioFormat& format) {
    return std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) + " ch";
}

std::string environmentLocale() {
    const auto locale = L10nCatalog::Locale::fromEnvironment();
    if (!locale.languageCode) {
        return "en-US";
    }
    return locale.regionCode ? *locale.languageCode + "-" + *locale.regionCode : *locale.languageCode;
}

void postToMain(std::function<void(AppState&)> update) {
    platform::MainDispatcher::shared().post([update = std::move(update)] { update(AppState::shared()); });
}

void publish(std::vector<std::string> lines, std::string pendingText, bool pending) {
    postToMain(
        [lines = std::move(lines), pendingText = std::move(pendingText), pending](AppState& state) mutable {
            state.updateLiveTranscriptLines(std::move(lines));
            state.updateLiveTranscriptPendingText(std::move(pendingText));
            state.updateLiveTranscriptPending(pending);
        });
}

} // namespace

RealtimeTranscriptionActor::RealtimeTranscriptionActor(RealtimeTranscriptionDependencies dependencies)
    : recognizer_(std::move(dependencies.recognizer)), authorizer_(std::move(dependencies.authorizer)),
      clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      timers_(dependencies.timers ? *dependencies.timers : platform::TimerScheduler::shared()),
      currentLocale_(dependencies.currentLocale ? std::move(dependencies.currentLocale) : environmentLocale) {
}

RealtimeTranscriptionActor::~RealtimeTranscriptionActor() {
    closeRawStreams();
    // After this no analysis calls back and no timer fires; what is queued still drains.
    executor_
        .submit([this] {
            resetChannel(Channel::mic);
            resetChannel(Channel::sys);
            stopDeadline_.cancel();
        })
        .wait();
}

RealtimeTranscriptionActor& RealtimeTranscriptionActor::shared() {
    return *sharedService();
}

std::shared_ptr<RealtimeTranscriptionActor> RealtimeTranscriptionActor::sharedService() {
    static const auto* instance = new std::shared_ptr<RealtimeTranscriptionActor>(
        std::make_shared<RealtimeTranscriptionActor>(RealtimeTranscriptionDependencies{
            .recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
                platform::PocketSphinxRecognizer::installedModels()),
            .authorizer = std::make_shared<platform::SystemSpeechAuthorizer>(),
            .currentLocale = nullptr}));
    return *instance;
}

// --- Operations ---

std::future<void> RealtimeTranscriptionActor::startSession(const std::filesystem::path& sessionDir,
                                                           std::optional<std::string> language) {
    {
        std::lock_guard lock(authorizationMutex_);
        authorizationStop_ = std::stop_source();
    }
    return executor_.submit([this, sessionDir, language = std::move(language)]() mutable {
        start(sessionDir, std::move(language));
    });
}

std::future<void> RealtimeTranscriptionActor::stopSession() {
    {
        std::lock_guard lock(authorizationMutex_);
        authorizationStop_.request_stop();
    }
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    executor_.post([this, done] {
        stopWaiters_.push_back(std::move(*done));
        beginStop();
    });
    return future;
}

std::future<void> RealtimeTranscriptionActor::updateInputLanguage(std::optional<std::string> language) {
    return executor_.submit([this, language = std::move(language)]() mutable {
        if (!isActive_ || !sessionDir_) {
            return;
        }
        language_ = std::move(language);
        const auto effective = normalizedRealtimeInputLanguage(language_);
        VelnoteLogger::processing().info("realtime: updateInputLanguage requested={} effective={}",
                                         language_.value_or("nil"), effective.value_or("auto"));
        for (const Channel channel : {Channel::mic, Channel::sys}) {
            if (!isActive_) {
                break;
            }
            const auto format = state(channel).lastInputFormat;
            resetChannel(channel);
            state(channel).lastInputFormat.reset();
            if (format) {
                state(channel).isSettingUp = true;
                setupChannel(channel, *format);
            }
        }
    });
}

std::future<void>
RealtimeTranscriptionActor::setLiveSummarySink(std::shared_ptr<LiveSummaryTranscriptSink> sink) {
    return executor_.submit([this, sink = std::move(sink)]() mutable { liveSummary_ = std::move(sink); });
}

std::future<std::vector<std::string>> RealtimeTranscriptionActor::lines() {
    return executor_.submit([this] { return lines_; });
}

// --- Buffers from the capture threads ---

void RealtimeTranscriptionActor::yieldMicBuffer(std::span<const float> samples,
                                                const platform::AudioFormat& format) {
    yieldBuffer(Channel::mic, samples, format);
}

void RealtimeTranscriptionActor::yieldSysBuffer(std::span<const float> samples,
                                                const platform::AudioFormat& format) {
    yieldBuffer(Channel::sys, samples, format);
}

void RealtimeTranscriptionActor::yieldBuffer(Channel channel, std::span<const float> samples,
                                             const platform::AudioFormat& format) {
    RawChannel& rawChannel = raw(channel);
    std::lock_guard lock(rawChannel.mutex);
    if (!rawChannel.stream) {
        return;
    }
    const auto pushed =
        rawChannel.stream->push({.samples = {samples.begin(), samples.end()}, .format = format});
    if (pushed.wakeConsumer) {
        executor_.post([this, channel, stream = rawChannel.stream] { drain(channel, stream); });
    }
}

// One buffer per job, so other operations of the actor interleave with a long backlog.
void RealtimeTranscriptionActor::drain(Channel channel, const std::shared_ptr<RawStream>& stream) {
    auto buffer = stream->pop();
    if (!buffer) {
        return;
    }
    appendBuffer(channel, std::move(*buffer));
    executor_.post([this, channel, stream] { drain(channel, stream); });
}

void RealtimeTranscriptionActor::openRawStreams() {
    for (RawChannel* rawChannel : {&micRaw_, &sysRaw_}) {
        std::lock_guard lock(rawChannel->mutex);
        if (rawChannel->stream) {
            rawChannel->stream->close();
        }
        rawChannel->stream = std::make_shared<RawStream>(kRawBufferLimit);
    }
}

void RealtimeTranscriptionActor::closeRawStreams() {
    for (RawChannel* rawChannel : {&micRaw_, &sysRaw_}) {
        std::lock_guard lock(rawChannel->mutex);
        if (rawChannel->stream) {
            rawChannel->stream->close();
            rawChannel->stream.reset();
        }
    }
}

// --- Session and channels ---

void RealtimeTranscriptionActor::start(const std::filesystem::path& sessionDir,
                                       std::optional<std::string> language) {
    if (!stopWaiters_.empty()) {
        finishStop(); // a stop still waiting for its analyses ends here
    }
    std::stop_token stop;
    {
        std::lock_guard lock(authorizationMutex_);
        stop = authorizationStop_.get_token();
    }
    if (!ensureSpeechAuthorization(*authorizer_, stop)) {
        isActive_ = false;
        postToMain([](AppState& appState) {
            appState.updateLiveTranscriptPending(false);
            appState.setStatusMessage(
                "音声認識の許可が必要です（システム設定 > プライバシーとセキュリティ > 音声認識）");
        });
        VelnoteLogger::processing().error("realtime: speech authorization denied");
        return;
    }
    sessionDir_ = sessionDir;
    language_ = std::move(language);
    lines_.clear();
    recordingStartedAt_ = clock_.now();
    isActive_ = true;
    resetChannel(Channel::mic);
    resetChannel(Channel::sys);
    mic_.lastInputFormat.reset();
    sys_.lastInputFormat.reset();
    postToMain([](AppState& appState) { appState.updateLiveTranscriptError(std::nullopt); });
    openRawStreams();
    mic_.isSettingUp = true;
    setupChannel(Channel::mic, kMicFormat);
}

void RealtimeTranscriptionActor::appendBuffer(Channel channel, RawBuffer buffer) {
    if (!isActive_) {
        return;
    }
    ChannelState& channelState = state(channel);
    if (channel == Channel::mic) {
        VelnoteLogger::processing().debug("realtime: appendMicBuffer isActive={} isSetup={} isSettingUp={}",
                                          isActive_, channelState.isSetup, channelState.isSettingUp);
    }
    if (channelState.isSetup) {
        feedBuffer(channel, std::move(buffer));
    } else if (channelState.isSettingUp) {
        if (channel == Channel::mic) {
            VelnoteLogger::processing().debug("realtime: dropping buffer while mic channel is setting up");
        }
    } else {
        if (channel == Channel::mic) {
            VelnoteLogger::processing().debug("realtime: mic channel setup starting with format={}",
                                              describe(buffer.format));
        }
        channelState.isSettingUp = true;
        executor_.post([this, channel, format = buffer.format] { setupChannel(channel, format); });
    }
}

void RealtimeTranscriptionActor::feedBuffer(Channel channel, RawBuffer buffer) {
    ChannelState& channelState = state(channel);
    if (!channelState.analysis || !channelState.analyzerFormat) {
        return;
    }
    channelState.lastInputFormat = buffer.format;
    if (buffer.format == *channelState.analyzerFormat) {
        channelState.analysis->feed(std::move(buffer.samples));
        return;
    }
    // The converter was made for the set-up format; buffers of another layout cannot go through it.
    if (!channelState.converter || buffer.format != channelState.converter->input() ||
        buffer.samples.empty()) {
        return;
    }
    auto converted = channelState.converter->process(std::move(buffer.samples));
    if (!converted.empty()) {
        channelState.analysis->feed(std::move(converted));
    }
}

void RealtimeTranscriptionActor::setupChannel(Channel channel, platform::AudioFormat inputFormat) {
    ChannelState& channelState = state(channel);
    if (!isActive_) {
        channelState.isSettingUp = false;
        return;
    }
    const auto effective = normalizedRealtimeInputLanguage(language_);
    const std::string locale = effective && !effective->empty() ? *effective : currentLocale();
    const auto analyzerFormat = resolveAnalyzerFormat(channel, inputFormat, locale);
    if (!analyzerFormat) {
        channelState.isSettingUp = false;
        return;
    }
    std::unique_ptr<platform::StreamResampler> converter;
    if (inputFormat != *analyzerFormat) {
        try {
            if (*analyzerFormat != platform::StreamResampler::kWorkingFormat) {
                throw std::invalid_argument("no conversion to the analyzer format");
            }
            converter = std::make_unique<platform::StreamResampler>(inputFormat);
        } catch (const std::exception&) {
            VelnoteLogger::processing().error("realtime: converter init failed for {}", channelName(channel));
            channelState.isSettingUp = false;
            return;
        }
    }
    // Only the newest analysis of a channel counts: its generation tags every call back, and the
    // results of an analysis that was replaced are dropped.
    resetChannel(channel);
    const std::uint64_t generation = nextGeneration_++;
    platform::SpeechAnalysisCallbacks callbacks{
        .onResult =
            [this, channel, generation](platform::SpeechRecognitionResult result) {
                executor_.post([this, channel, generation, result = std::move(result)]() mutable {
                    handleResult(channel, generation, std::move(result));
                });
            },
        .onError =
            [this, channel, generation](platform::SpeechAnalysisFailure failure, std::string description) {
                executor_.post([this, channel, generation, failure, description = std::move(description)] {
                    handleFailure(channel, generation, failure, description);
                });
            },
        .onEnd = [this, channel,
                  generation] { executor_.post([=, this] { handleEnd(channel, generation); }); },
    };
    channelState.analysis = recognizer_->start(locale, std::move(callbacks));
    channelState.converter = std::move(converter);
    channelState.analyzerFormat = analyzerFormat;
    channelState.setUpFormat = inputFormat;
    channelState.generation = generation;
    channelState.startedAt = recordingStartedAt_.value_or(clock_.now());
    channelState.sessionDir = sessionDir_;
    channelState.isSetup = true;
    VelnoteLogger::processing().info(
        "realtime: channel {} setup complete locale={} requested={} effective={}", channelName(channel),
        locale, language_.value_or("nil"), effective.value_or("auto"));
    warnIfEnglishNotSupported(effective);
    channelState.isSettingUp = false;
}

std::optional<platform::AudioFormat>
RealtimeTranscriptionActor::resolveAnalyzerFormat(Channel channel, platform::AudioFormat inputFormat,
                                                  const std::string& locale) {
    const auto format = recognizer_->bestAvailableAudioFormat(locale);
    if (!isActive_) {
        return std::nullopt;
    }
    if (format) {
        VelnoteLogger::processing().debug("realtime: channel={} inputFormat={} analyzerFormat={}",
                                          channelName(channel), describe(inputFormat), describe(*format));
        return format;
    }
    const std::string name = platform::languageDisplayName(locale);
    VelnoteLogger::processing().error("realtime: model unavailable for locale={}", locale);
    postToMain([name](AppState& appState) {
        appState.updateLiveTranscriptPending(false);
        appState.updateLiveTranscriptError(
            L10n::localized("L10n.Recording.modelUnavailableDetail",
                            "The speech recognition model for \"%@\" is not available.", {name}));
        appState.setStatusMessage(L10n::localized("L10n.Recording.modelUnavailableStatus",
                                                  "Speech recognition model for \"%@\" not downloaded — go "
                                                  "to System Settings > General > Language & Region",
                                                  {name}));
    });
    return std::nullopt;
}

void RealtimeTranscriptionActor::handleResult(Channel channel, std::uint64_t generation,
                                              platform::SpeechRecognitionResult result) {
    ChannelState& channelState = state(channel);
    if (generation != channelState.generation || (!isActive_ && !channelState.isEnding)) {
        return;
    }
    const std::string text = platform::trimSpacesAndTabs(result.text);
    if (result.isFinal) {
        channelState.pendingText.clear();
        if (!text.empty()) {
            commit(text, channelState.startedAt, channelState.sessionDir);
        }
        return;
    }
    handleInterimResult(text, channel);
}

void RealtimeTranscriptionActor::handleFailure(Channel channel, std::uint64_t generation,
                                               platform::SpeechAnalysisFailure failure,
                                               const std::string& description) {
    ChannelState& channelState = state(channel);
    if (generation != channelState.generation) {
        return;
    }
    if (failure == platform::SpeechAnalysisFailure::start) {
        VelnoteLogger::processing().error("realtime: analyzer.start failed for {}: {}", channelName(channel),
                                          description);
    } else {
        VelnoteLogger::processing().error("realtime: {} error: {}", channelName(channel), description);
    }
    if (!isActive_) {
        return;
    }
    channelState.recovery = timers_.once(
        kRecoveryDelay, executor_, [this, channel, generation] { recoverChannel(channel, generation); });
}

void RealtimeTranscriptionActor::recoverChannel(Channel channel, std::uint64_t generation) {
    ChannelState& channelState = state(channel);
    if (!isActive_ || generation != channelState.generation) {
        return;
    }
    // Kept as it stands, without a time prefix; it reaches the screen with the next publication
    // and the file with the rewrite at stop.
    if (!channelState.pendingText.empty()) {
        lines_.push_back(channelState.pendingText);
    }
    resetChannel(channel);
    if (lines_.empty() && mic_.pendingText.empty() && sys_.pendingText.empty()) {
        postToMain([](AppState& appState) { appState.updateLiveTranscriptPending(true); });
    }
}

// A fresh channel that keeps the format of its last buffer; its analysis is cancelled.
void RealtimeTranscriptionActor::resetChannel(Channel channel) {
    ChannelState& channelState = state(channel);
    if (channelState.analysis) {
        channelState.analysis->cancel();
        VelnoteLogger::processing().debug("realtime: {} stream terminated: cancelled", channelName(channel));
    }
    const auto lastInputFormat = channelState.lastInputFormat;
    channelState = ChannelState{};
    channelState.lastInputFormat = lastInputFormat;
}

// --- Stop ---

// The analyses are asked to finish the audio they hold; their last final texts arrive as results
// before each one's end, and the stop completes when every analysis has ended.
void RealtimeTranscriptionActor::beginStop() {
    isActive_ = false;
    closeRawStreams();
    bool waiting = false;
    for (const Channel channel : {Channel::mic, Channel::sys}) {
        ChannelState* channelState = &state(channel);
        channelState->recovery.cancel();
        if (channelState->analysis && !channelState->isEnding) {
            channelState->isEnding = true;
            channelState->analysis->finish();
            VelnoteLogger::processing().debug("realtime: {} stream terminated: finished",
                                              channelName(channel));
        }
        waiting = waiting || channelState->isEnding;
    }
    if (!waiting) {
        finishStop();
        return;
    }
    if (!stopDeadline_.isActive()) {
        stopDeadline_ = timers_.once(kStopDrainLimit, executor_, [this] {
            if (!stopWaiters_.empty()) {
                finishStop();
            }
        });
    }
}

void RealtimeTranscriptionActor::handleEnd(Channel channel, std::uint64_t generation) {
    ChannelState& channelState = state(channel);
    if (generation != channelState.generation || !channelState.isEnding) {
        return;
    }
    channelState.isEnding = false;
    if (!mic_.isEnding && !sys_.isEnding && !stopWaiters_.empty()) {
        finishStop();
    }
}

void RealtimeTranscriptionActor::finishStop() {
    stopDeadline_.cancel();
    commitPendingTexts();
    resetChannel(Channel::mic);
    resetChannel(Channel::sys);
    // Queued behind every append, so none of them can run after the rewrite.
    if (sessionDir_) {
        transcriptFile_.scheduleRewrite(lines_, *sessionDir_).wait();
    }
    for (auto& waiter : stopWaiters_) {
        waiter.set_value();
    }
    stopWaiters_.clear();
}

// --- Text ---

void RealtimeTranscriptionActor::commit(const std::string& text, platform::Clock::SteadyTime startedAt,
                                        const std::optional<std::filesystem::path>& dir) {
    lines_.push_back(liveTimePrefix(clock_.now() - startedAt) + text);
    flushToUI(dir);
}

void RealtimeTranscriptionActor::handleInterimResult(const std::string& text, Channel channel) {
    if (!shouldAcceptInterimText(text)) {
        VelnoteLogger::processing().debug("realtime: dropped interim text={} channel={}", text,
                                          channelName(channel));
        return;
    }
    state(channel).pendingText = text;
    updatePreview();
}

void RealtimeTranscriptionActor::updatePreview() {
    const auto now = clock_.now();
    const std::string joined = joinedInterimTexts(mic_.pendingText, sys_.pendingText);
    const std::string preview =
        joined.empty() ? "" : liveTimePrefix(now - recordingStartedAt_.value_or(now)) + joined;
    if (lastPreviewUIUpdateAt_ && now - *lastPreviewUIUpdateAt_ < kPreviewInterval) {
        return;
    }
    lastPreviewUIUpdateAt_ = now;
    publish(lines_, preview, lines_.empty() && preview.empty());
}

void RealtimeTranscriptionActor::flushToUI(const std::optional<std::filesystem::path>& dir) {
    if (dir && !lines_.empty()) {
        transcriptFile_.scheduleAppend(lines_.back(), *dir);
    }
    lastPreviewUIUpdateAt_ = clock_.now();
    publish(lines_, "", false);
    if (liveSummary_) {
        liveSummary_->setLatestTranscript(transcriptTail(lines_, kLiveSummaryCharacters));
    }
}

void RealtimeTranscriptionActor::commitPendingTexts() {
    const auto now = clock_.now();
    const auto start = recordingStartedAt_.value_or(now);
    for (ChannelState* channelState : {&mic_, &sys_}) {
        if (!channelState->pendingText.empty()) {
            lines_.push_back(liveTimePrefix(now - start) + channelState->pendingText);
            channelState->pendingText.clear();
        }
    }
}

std::string RealtimeTranscriptionActor::currentLocale() const {
    return currentLocale_();
}

} // namespace velnote
