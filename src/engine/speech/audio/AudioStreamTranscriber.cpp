#include "engine/speech/audio/AudioStreamTranscriber.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/text/Characters.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace vocalith {

using basalith::Logging;

namespace {

constexpr const char* kWaitingText = "Waiting for speech...";
constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::string describe(const std::exception& error) {
    if (const auto* whisper = dynamic_cast<const WhisperError*>(&error))
        return whisper->errorDescription();
    return error.what();
}

int fallbackCount(double value) {
    if (!(value > 0))
        return 0;
    return static_cast<int>(std::min(value, 1e9));
}

bool holdsRun(const std::vector<TranscriptionSegment>& segments,
              const std::vector<TranscriptionSegment>& run) {
    return std::search(segments.begin(), segments.end(), run.begin(), run.end()) != segments.end();
}

} // namespace

template <class F> auto AudioStreamTranscriber::onExecutor(F&& work) {
    if (executor_->isCurrent())
        return work();
    return executor_->submit(std::forward<F>(work)).get();
}

AudioStreamTranscriber::AudioStreamTranscriber(std::shared_ptr<StreamTranscriptionTask> transcribeTask,
                                               std::shared_ptr<AudioProcessing> audioProcessor,
                                               DecodingOptions decodingOptions,
                                               int requiredSegmentsForConfirmation, float silenceThreshold,
                                               int compressionCheckWindow, bool useVAD,
                                               StateChangeCallback stateChangeCallback,
                                               velnote::platform::Clock* clock)
    : transcribeTask_(std::move(transcribeTask)), audioProcessor_(std::move(audioProcessor)),
      decodingOptions_(std::move(decodingOptions)),
      requiredSegmentsForConfirmation_(std::max(requiredSegmentsForConfirmation, 0)),
      silenceThreshold_(silenceThreshold), compressionCheckWindow_(compressionCheckWindow), useVAD_(useVAD),
      stateChangeCallback_(std::move(stateChangeCallback)),
      clock_(clock ? *clock : velnote::platform::SystemClock::shared()),
      lifetime_(std::make_shared<Lifetime>()),
      executor_(std::make_unique<velnote::platform::SerialExecutor>()) {
    lifetime_->self = this;
}

AudioStreamTranscriber::~AudioStreamTranscriber() {
    {
        std::lock_guard lock(lifetime_->mutex);
        lifetime_->self = nullptr;
    }
    if (onExecutor([this] { return state_.isRecording; }))
        audioProcessor_->stopRecording();
}

AudioStreamTranscriber::State AudioStreamTranscriber::state() const {
    std::lock_guard lock(snapshotMutex_);
    return snapshot_;
}

void AudioStreamTranscriber::change(const std::function<void(State&)>& update) {
    const State old = state_;
    update(state_);
    {
        std::lock_guard lock(snapshotMutex_);
        snapshot_ = state_;
    }
    if (stateChangeCallback_)
        stateChangeCallback_(old, state_);
}

void AudioStreamTranscriber::startStreamTranscription() {
    if (!AudioProcessor::requestRecordPermission()) {
        Logging::error("Microphone access was not granted.");
        return;
    }
    std::stop_token stop;
    const bool started = onExecutor([&] {
        if (state_.isRecording)
            return false;
        stopLoop_ = std::stop_source();
        stop = stopLoop_.get_token();
        // A new recording starts from nothing: the processor's sample store starts empty too, so
        // positions and times of an earlier run would point past the new audio.
        change([](State& state) {
            state = State{};
            state.isRecording = true;
        });
        return true;
    });
    if (!started)
        return;
    try {
        audioProcessor_->startRecordingLive(std::nullopt, [life = lifetime_](const std::vector<float>&) {
            std::lock_guard lock(life->mutex);
            if (AudioStreamTranscriber* self = life->self)
                self->executor_->post([self] { self->onAudioBufferCallback(); });
        });
    } catch (...) {
        onExecutor([this] { change([](State& state) { state.isRecording = false; }); });
        throw;
    }
    Logging::info("Realtime transcription has started");
    while (onExecutor([this] { return state_.isRecording; })) {
        try {
            transcribeCurrentBuffer(stop);
        } catch (const std::exception& error) {
            Logging::error("Error: " + describe(error));
            endAfterFailure();
            break;
        }
    }
}

void AudioStreamTranscriber::endAfterFailure() {
    // The capture would otherwise go on unseen, and every later start would return at once.
    const bool wasRecording = onExecutor([this] {
        const bool recording = state_.isRecording;
        if (recording)
            change([](State& state) { state.isRecording = false; });
        return recording;
    });
    if (wasRecording)
        audioProcessor_->stopRecording();
}

void AudioStreamTranscriber::stopStreamTranscription() {
    onExecutor([this] {
        change([](State& state) { state.isRecording = false; });
        stopLoop_.request_stop();
    });
    audioProcessor_->stopRecording();
    Logging::info("Realtime transcription has ended");
}

void AudioStreamTranscriber::transcribeCurrentBuffer(const std::stop_token& stop) {
    const std::vector<float> samples = audioProcessor_->audioSamples();
    const std::vector<float> energies = useVAD_ ? audioProcessor_->relativeEnergy() : std::vector<float>{};
    const bool transcribe = onExecutor([&] {
        const auto count = static_cast<std::int64_t>(samples.size());
        const float nextBufferSeconds = static_cast<float>(count - state_.lastBufferSize) / 16000.0f;
        const bool enough = nextBufferSeconds > 1.0f;
        const bool voice = enough && (!useVAD_ || AudioProcessor::isVoiceDetected(energies, nextBufferSeconds,
                                                                                  silenceThreshold_));
        if (enough && !voice)
            Logging::debug("No voice detected, skipping transcribe");
        if (!voice) {
            // The same audio is counted again at the next check.
            if (state_.currentText.empty())
                change([](State& state) { state.currentText = kWaitingText; });
            return false;
        }
        change([count](State& state) { state.lastBufferSize = count; });
        return true;
    });
    if (!transcribe) {
        velnote::platform::sleepUntil(clock_, clock_.now() + kPollInterval, stop);
        return;
    }
    const TranscriptionResultPtr result = transcribeAudioSamples(samples);
    const std::vector<TranscriptionSegment> segments =
        result ? result->segments() : std::vector<TranscriptionSegment>{};
    onExecutor([&] {
        change([](State& state) { state.currentText.clear(); });
        change([](State& state) { state.unconfirmedText.clear(); });
        applyResult(segments);
    });
}

TranscriptionResultPtr AudioStreamTranscriber::transcribeAudioSamples(const std::vector<float>& samples) {
    DecodingOptions options = decodingOptions_;
    options.clipTimestamps = {onExecutor([this] { return state_.lastConfirmedSegmentEndSeconds; })};
    const auto ratio = [task = transcribeTask_](const std::vector<std::int64_t>& tokens) {
        return task->compressionRatio(tokens);
    };
    return transcribeTask_->run(samples, options, [&](const TranscriptionProgress& progress) {
        {
            std::lock_guard lock(lifetime_->mutex);
            if (lifetime_->self)
                executor_->post([this, progress] { onProgressCallback(progress); });
        }
        return shouldStopEarly(progress, options, compressionCheckWindow_, ratio);
    });
}

void AudioStreamTranscriber::applyResult(const std::vector<TranscriptionSegment>& segments) {
    const auto count = static_cast<std::int64_t>(segments.size());
    const std::int64_t kept = requiredSegmentsForConfirmation_;
    if (count <= kept) {
        change([&](State& state) { state.unconfirmedSegments = segments; });
        return;
    }
    const std::vector<TranscriptionSegment> candidates(segments.begin(), segments.end() - kept);
    const std::vector<TranscriptionSegment> remaining(segments.end() - kept, segments.end());
    const float end = candidates.back().end;
    if (end > state_.lastConfirmedSegmentEndSeconds) {
        change([end](State& state) { state.lastConfirmedSegmentEndSeconds = end; });
        if (!holdsRun(state_.confirmedSegments, candidates)) {
            change([&](State& state) {
                state.confirmedSegments.insert(state.confirmedSegments.end(), candidates.begin(),
                                               candidates.end());
            });
        }
    }
    change([&](State& state) { state.unconfirmedSegments = remaining; });
}

void AudioStreamTranscriber::onAudioBufferCallback() {
    std::vector<float> energies = audioProcessor_->relativeEnergy();
    change([&](State& state) { state.bufferEnergy = std::move(energies); });
}

void AudioStreamTranscriber::onProgressCallback(const TranscriptionProgress& progress) {
    const int fallbacks = fallbackCount(progress.timings.totalDecodingFallbacks);
    if (velnote::platform::characterCount(progress.text) <
        velnote::platform::characterCount(state_.currentText)) {
        if (fallbacks == state_.currentFallbacks) {
            change([](State& state) { state.unconfirmedText.push_back(state.currentText); });
        } else {
            Logging::info("Fallback occured: " + std::to_string(fallbacks));
        }
    }
    change([&](State& state) { state.currentText = progress.text; });
    change([fallbacks](State& state) { state.currentFallbacks = fallbacks; });
}

std::optional<bool>
AudioStreamTranscriber::shouldStopEarly(const TranscriptionProgress& progress, const DecodingOptions& options,
                                        int compressionCheckWindow,
                                        const std::function<float(const std::vector<std::int64_t>&)>& ratio) {
    const auto window = static_cast<std::size_t>(std::max(compressionCheckWindow, 0));
    if (window > 0 && progress.tokens.size() > window) {
        const std::vector<std::int64_t> last(progress.tokens.end() - static_cast<std::ptrdiff_t>(window),
                                             progress.tokens.end());
        if (ratio(last) > options.compressionRatioThreshold.value_or(0.0f))
            return false;
    }
    if (progress.avgLogprob && options.logProbThreshold && *progress.avgLogprob < *options.logProbThreshold)
        return false;
    return std::nullopt;
}

} // namespace vocalith
