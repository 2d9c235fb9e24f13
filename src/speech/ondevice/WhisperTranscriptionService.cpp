#include "speech/ondevice/WhisperTranscriptionService.h"

#include "engine/foundation/HubError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/error/ErrorText.h"
#include "platform/http/HttpError.h"
#include "platform/text/CaseMapping.h"
#include "session/VelnoteLogger.h"
#include "speech/chunks/ChunkOffset.h"
#include "speech/ondevice/VocalithEngine.h"

#include <cmath>
#include <condition_variable>

namespace velnote {
namespace fs = std::filesystem;
namespace {

const platform::Logger& log() {
    return VelnoteLogger::transcribe();
}

// Failures whose description points at something passing: a time-out, the network, a model
// that was not ready.
bool isTransientDescription(const std::string& description) {
    const std::string lower = platform::lowercased(description);
    for (const char* phrase :
         {"cancelled", "timed out", "network", "ml program", "asynchronous prediction"}) {
        if (lower.find(phrase) != std::string::npos)
            return true;
    }
    return false;
}

// Gives the slot back on every way out of a track; the release is not waited for.
class SlotRelease {
  public:
    SlotRelease(ModelExecutionScheduler& scheduler, ModelExecutionSlotToken token)
        : scheduler_(scheduler), token_(std::move(token)) {}
    ~SlotRelease() { scheduler_.releaseSlot(token_); }
    SlotRelease(const SlotRelease&) = delete;
    SlotRelease& operator=(const SlotRelease&) = delete;

  private:
    ModelExecutionScheduler& scheduler_;
    ModelExecutionSlotToken token_;
};

vocalith::TranscriptionSegment shifted(vocalith::TranscriptionSegment segment, float offset) {
    segment.start += offset;
    segment.end += offset;
    if (segment.words) {
        for (auto& word : *segment.words) {
            word.start += offset;
            word.end += offset;
        }
    }
    return segment;
}

} // namespace

// One engine creation on its own thread, settled when the factory returns or throws.
struct WhisperTranscriptionService::Construction {
    std::mutex mutex;
    std::condition_variable settled;
    bool done = false;
    std::shared_ptr<SpeechEngine> engine;
    std::exception_ptr error;
};

WhisperTranscriptionService::WhisperTranscriptionService(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

WhisperTranscriptionService::~WhisperTranscriptionService() {
    executor_.submit([this] { modelUnloadTask_.cancel(); }).wait();
    std::lock_guard lock(abandonedMutex_);
    for (auto& [state, worker] : abandoned_)
        worker.request_stop();
}

std::shared_ptr<WhisperTranscriptionService> WhisperTranscriptionService::shared() {
    static const auto service = std::make_shared<WhisperTranscriptionService>(
        Dependencies{.clock = platform::SystemClock::shared(),
                     .timers = platform::TimerScheduler::shared(),
                     .scheduler = ModelExecutionScheduler::shared(),
                     .makeEngine = vocalithEngineFactory(),
                     .cache = std::make_shared<const SpeechResultCache>()});
    return service;
}

TrackWhisperOutput WhisperTranscriptionService::loadWhisperOutput(const AudioSourceTrack& track,
                                                                  const std::string& model,
                                                                  const std::optional<std::string>& language,
                                                                  const TextSanitizer& textSanitizer,
                                                                  std::stop_token stop) {
    auto& scheduler = dependencies_.scheduler;
    const SlotRelease slot(scheduler, scheduler.reserveSlot(ModelExecutionPriority::whisper, stop).get());
    const auto engine =
        retryWhisperOperation(3, std::chrono::seconds(1), stop, [&] { return getVocalith(model, stop); });
    const auto options = decodingOptions(language);
    log().info("whisper decode model={} language={} detectLanguage={}", model, language.value_or("auto"),
               options.detectLanguage ? "true" : "false");

    TrackWhisperOutput output;
    for (std::size_t i = 0; i < track.chunkPaths.size(); ++i) {
        platform::throwIfCancelled(stop);
        const fs::path& chunk = track.chunkPaths[i];
        const auto samples = vocalith::AudioProcessor::loadAudioAsFloatArray(chunk.string());
        if (isSilent(samples))
            continue;
        const auto results = transcribeChunk(*engine, chunk, samples, options, model, language, stop);
        for (auto& result : shiftResults(results, chunkStartOffset(chunk, i), textSanitizer))
            output.results.push_back(std::move(result));
        markUsed();
    }
    return output;
}

std::vector<vocalith::TranscriptionResultPtr> WhisperTranscriptionService::transcribeChunk(
    SpeechEngine& engine, const fs::path& chunk, const std::vector<float>& samples,
    const vocalith::DecodingOptions& options, const std::string& model,
    const std::optional<std::string>& language, std::stop_token stop) {
    const auto& cache = *dependencies_.cache;
    if (auto cached = cache.loadCachedResults<vocalith::TranscriptionResult>(chunk, model, language)) {
        log().debug("chunk cache hit: {}", chunk.filename().string());
        std::vector<vocalith::TranscriptionResultPtr> results;
        for (auto& result : *cached)
            results.push_back(std::make_shared<vocalith::TranscriptionResult>(result));
        return results;
    }
    auto results = retryWhisperOperation(3, std::chrono::seconds(1), stop, [&] {
        platform::throwIfCancelled(stop);
        return engine.transcribe(samples, options, stop);
    });
    std::vector<vocalith::TranscriptionResult> stored;
    for (const auto& result : results)
        stored.push_back(*result);
    cache.saveCachedResults(stored, chunk, model, language);
    return results;
}

template <class F>
std::invoke_result_t<F&>
WhisperTranscriptionService::retryWhisperOperation(int attempts, std::chrono::seconds initialDelay,
                                                   std::stop_token stop, F&& operation) {
    auto delay = std::chrono::duration_cast<platform::Clock::Duration>(initialDelay);
    for (int attempt = 1;; ++attempt) {
        std::exception_ptr error;
        try {
            return operation();
        } catch (const platform::CancellationError&) {
            throw platform::CancellationError();
        } catch (...) {
            error = std::current_exception();
        }
        if (stop.stop_requested())
            throw platform::CancellationError();
        if (attempt >= attempts || !shouldRetryWhisperError(error))
            std::rethrow_exception(error);
        log().notice("whisper retry attempt={} error={}", attempt, platform::describeError(error));
        if (!platform::sleepUntil(dependencies_.clock, dependencies_.clock.now() + delay, stop))
            throw platform::CancellationError();
        delay *= 2;
    }
}

std::shared_ptr<SpeechEngine> WhisperTranscriptionService::getVocalith(const std::string& model,
                                                                       std::stop_token stop) {
    auto present = executor_
                       .submit([this, &model]() -> std::shared_ptr<SpeechEngine> {
                           if (!vocalith_ || currentModel_ != model)
                               return nullptr;
                           scheduleModelUnload();
                           return vocalith_;
                       })
                       .get();
    if (present)
        return present;
    auto engine = createWithinLimit(model, stop);
    executor_
        .submit([this, &model, &engine] {
            vocalith_ = engine; // an engine of another model is let go here
            currentModel_ = model;
            scheduleModelUnload();
        })
        .get();
    return engine;
}

std::shared_ptr<SpeechEngine> WhisperTranscriptionService::createWithinLimit(const std::string& model,
                                                                             std::stop_token stop) {
    pruneAbandoned();
    auto state = std::make_shared<Construction>();
    std::jthread worker(
        [state, make = dependencies_.makeEngine, config = engineConfig(model)](std::stop_token cancel) {
            std::shared_ptr<SpeechEngine> engine;
            std::exception_ptr error;
            try {
                if (!make)
                    throw std::logic_error("no speech engine is available");
                engine = make(config, cancel);
                if (!engine)
                    throw std::logic_error("the speech engine could not be created");
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(state->mutex);
            state->engine = std::move(engine);
            state->error = error;
            state->done = true;
            state->settled.notify_all();
        });

    auto& clock = dependencies_.clock;
    const auto deadline = clock.now() + kInitTimeout;
    const auto notify = [state] {
        std::lock_guard lock(state->mutex);
        state->settled.notify_all();
    };
    const auto moved = clock.onAdvance(notify);
    const std::stop_callback onStop(stop, notify);
    std::unique_lock lock(state->mutex);
    const auto settled = [&] { return state->done || stop.stop_requested() || clock.now() >= deadline; };
    if (moved) {
        state->settled.wait(lock, settled);
    } else {
        while (!settled())
            state->settled.wait_until(lock, deadline);
    }
    if (state->done) {
        lock.unlock();
        worker.join();
        if (state->error)
            std::rethrow_exception(state->error);
        return state->engine;
    }
    lock.unlock();
    // A hung load must not keep the slot: the caller goes on, and what the creation makes later
    // is thrown away.
    worker.request_stop();
    {
        std::lock_guard abandoned(abandonedMutex_);
        abandoned_.emplace_back(state, std::move(worker));
    }
    if (stop.stop_requested())
        throw platform::CancellationError();
    throw VocalithInitTimeoutError();
}

void WhisperTranscriptionService::pruneAbandoned() {
    std::lock_guard lock(abandonedMutex_);
    abandoned_.remove_if([](auto& entry) {
        std::lock_guard done(entry.first->mutex);
        return entry.first->done; // the thread has nothing left to do; the jthread joins it
    });
}

void WhisperTranscriptionService::markUsed() {
    const auto now = dependencies_.clock.now();
    executor_.post([this, now] { lastModelUseTime_ = std::max(lastModelUseTime_, now); });
}

void WhisperTranscriptionService::scheduleModelUnload() {
    lastModelUseTime_ = dependencies_.clock.now();
    modelUnloadTask_ = dependencies_.timers.once(kModelUnloadDelay, executor_, [this] { idleCheck(); });
}

// Drops the engine once it has gone unused for the whole delay; a use in between re-arms the
// check for the rest, so an engine used after its hand-out still goes in the end.
void WhisperTranscriptionService::idleCheck() {
    if (!vocalith_)
        return;
    const auto elapsed = dependencies_.clock.now() - lastModelUseTime_;
    if (elapsed >= kModelUnloadDelay) {
        vocalith_.reset();
        currentModel_.reset();
        log().info("Vocalith model unloaded after {}s idle", kModelUnloadDelay.count());
        return;
    }
    modelUnloadTask_ =
        dependencies_.timers.once(kModelUnloadDelay - elapsed, executor_, [this] { idleCheck(); });
}

std::optional<std::string> WhisperTranscriptionService::loadedModel() {
    return executor_.submit([this] { return vocalith_ ? currentModel_ : std::nullopt; }).get();
}

vocalith::DecodingOptions
WhisperTranscriptionService::decodingOptions(const std::optional<std::string>& language) {
    vocalith::DecodingOptions::Arguments a;
    a.verbose = false;
    a.task = vocalith::DecodingTask::transcribe;
    a.language = language;
    a.temperature = 0.0f;
    a.temperatureIncrementOnFallback = 0.2f;
    a.temperatureFallbackCount = 3;
    a.sampleLength = 224;
    a.topK = 5;
    a.usePrefillPrompt = true;
    a.usePrefillCache = true;
    a.detectLanguage = !language.has_value();
    a.skipSpecialTokens = true;
    a.withoutTimestamps = false;
    a.wordTimestamps = false;
    a.clipTimestamps = {};
    a.windowClipTime = 1.0f;
    a.suppressBlank = false;
    a.compressionRatioThreshold = 2.4f;
    a.logProbThreshold = -1.0f;
    a.firstTokenLogProbThreshold = -1.5f;
    a.noSpeechThreshold = 0.6f;
    a.chunkingStrategy = vocalith::ChunkingStrategy::vad;
    return vocalith::DecodingOptions(a);
}

vocalith::VocalithConfig WhisperTranscriptionService::engineConfig(const std::string& model) const {
    vocalith::VocalithConfig config;
    config.model = model;
    config.modelEndpoint = dependencies_.modelEndpoint;
    config.downloadBase = dependencies_.downloadBase;
    config.verbose = false;
    config.logLevel = basalith::Logging::LogLevel::info;
    config.load = true;
    config.download = true;
    config.useBackgroundDownloadSession = true;
    return config;
}

bool WhisperTranscriptionService::shouldRetryWhisperError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::CancellationError&) {
        return false;
    } catch (const platform::HttpError& e) {
        // The transport failures a later attempt may not meet.
        using Code = platform::HttpError::Code;
        const auto code = e.code();
        return code == Code::timedOut || code == Code::networkConnectionLost ||
               code == Code::cannotFindHost || code == Code::cannotConnectToHost;
    } catch (const basalith::HubError& e) {
        if (e.kind() == basalith::HubError::Kind::network || e.kind() == basalith::HubError::Kind::cancelled)
            return true;
        return isTransientDescription(e.what());
    } catch (const VocalithInitTimeoutError&) {
        return true;
    } catch (const std::exception& e) {
        return isTransientDescription(e.what());
    } catch (...) {
        return false;
    }
}

std::vector<vocalith::TranscriptionResultPtr>
WhisperTranscriptionService::shiftResults(const std::vector<vocalith::TranscriptionResultPtr>& results,
                                          float offset, const TextSanitizer& textSanitizer) {
    std::vector<vocalith::TranscriptionResultPtr> out;
    for (const auto& result : results) {
        auto seekTime = result->seekTime();
        std::vector<vocalith::TranscriptionSegment> segments;
        for (auto segment : result->segments()) {
            if (offset > 0)
                segment = shifted(std::move(segment), offset);
            segment.text = textSanitizer(segment.text);
            if (!segment.text.empty())
                segments.push_back(std::move(segment));
        }
        if (offset > 0 && seekTime)
            *seekTime += offset;
        out.push_back(std::make_shared<vocalith::TranscriptionResult>(textSanitizer(result->text()),
                                                                      std::move(segments), result->language(),
                                                                      result->timings(), seekTime));
    }
    return out;
}

bool WhisperTranscriptionService::isSilent(const std::vector<float>& samples) {
    if (samples.empty())
        return true;
    float sum = 0;
    for (const float sample : samples)
        sum += sample * sample;
    return std::sqrt(sum / static_cast<float>(samples.size())) < kSilenceThreshold;
}

} // namespace velnote
