#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "processing/modelslot/ModelExecutionScheduler.h"
#include "speech/cache/SpeechResultCache.h"
#include "speech/local/SpeechServices.h"
#include "speech/ondevice/SpeechEngine.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>

namespace velnote {

// Turns the chunk files of one track into timed speech results with the on-device speech engine.
// Holds the process's one engine: made on demand within 120 s, kept for later tracks of the same
// model, dropped after 300 s unused. Every track holds the on-device model slot (priority
// whisper) from before the engine is touched until it ends, on every way out. Per chunk: silence
// (RMS below 0.0015) is skipped, earlier results come from the speech-result cache, transient
// engine failures are retried (waits of 1 s and 2 s), times move onto the track's timeline and
// every text passes the caller's sanitizer.
//
// An actor: the engine fields, the last use and the idle timer live on its executor; a track runs
// on its caller's thread and visits the executor for them. Engine creation runs on a thread of
// its own; one that overruns the limit is asked to stop and left to end by itself, and what it
// makes is discarded (the destructor waits for such threads).
class WhisperTranscriptionService final : public TranscriptionServiceProtocol {
  public:
    struct Dependencies {
        // Delays, the creation limit, the idle time; `timers` must run on the same clock.
        platform::Clock& clock;
        platform::TimerScheduler& timers;
        ModelExecutionScheduler& scheduler;
        SpeechEngineFactory makeEngine;
        std::shared_ptr<const SpeechResultCache> cache;
        // Where the engine fetches its models; absent: the engine's defaults.
        std::optional<std::string> modelEndpoint{};
        std::optional<std::filesystem::path> downloadBase{};
    };

    static constexpr std::chrono::seconds kInitTimeout{120};
    static constexpr std::chrono::seconds kModelUnloadDelay{300};
    static constexpr float kSilenceThreshold = 0.0015f;

    explicit WhisperTranscriptionService(Dependencies dependencies);
    // Cancels the idle check; waits for creations that overran their limit to end.
    ~WhisperTranscriptionService() override;
    WhisperTranscriptionService(const WhisperTranscriptionService&) = delete;
    WhisperTranscriptionService& operator=(const WhisperTranscriptionService&) = delete;

    // The process's service on the system clock, the shared slot and the user's cache, created on
    // first use.
    static std::shared_ptr<WhisperTranscriptionService> shared();

    // Throws the slot's refusal, the engine's creation or transcription error after its retries,
    // VocalithInitTimeoutError, a chunk's load error (no retry), platform::CancellationError.
    TrackWhisperOutput loadWhisperOutput(const AudioSourceTrack& track, const std::string& model,
                                         const std::optional<std::string>& language,
                                         const TextSanitizer& textSanitizer, std::stop_token stop) override;

    // The model of the engine held now; std::nullopt when none is.
    std::optional<std::string> loadedModel();

    static vocalith::DecodingOptions decodingOptions(const std::optional<std::string>& language);
    vocalith::VocalithConfig engineConfig(const std::string& model) const;
    // Whether an attempt that failed with `error` is worth another.
    static bool shouldRetryWhisperError(std::exception_ptr error);
    // Results moved by `offset` seconds (when positive) and sanitized; empty segments dropped.
    static std::vector<vocalith::TranscriptionResultPtr>
    shiftResults(const std::vector<vocalith::TranscriptionResultPtr>& results, float offset,
                 const TextSanitizer& textSanitizer);
    // True for no samples or a root mean square below kSilenceThreshold.
    static bool isSilent(const std::vector<float>& samples);

  private:
    struct Construction;

    std::shared_ptr<SpeechEngine> getVocalith(const std::string& model, std::stop_token stop);
    std::shared_ptr<SpeechEngine> createWithinLimit(const std::string& model, std::stop_token stop);
    // Runs `operation` up to `attempts` times while shouldRetryWhisperError accepts its failure,
    // waiting `initialDelay` before the second attempt and twice as long before each later one.
    template <class F>
    std::invoke_result_t<F&> retryWhisperOperation(int attempts, std::chrono::seconds initialDelay,
                                                   std::stop_token stop, F&& operation);
    std::vector<vocalith::TranscriptionResultPtr>
    transcribeChunk(SpeechEngine& engine, const std::filesystem::path& chunk,
                    const std::vector<float>& samples, const vocalith::DecodingOptions& options,
                    const std::string& model, const std::optional<std::string>& language,
                    std::stop_token stop);
    void markUsed();
    // On the executor.
    void scheduleModelUnload();
    void idleCheck();
    void pruneAbandoned();

    Dependencies dependencies_;
    // Creations that overran their limit, still winding down.
    std::mutex abandonedMutex_;
    std::list<std::pair<std::shared_ptr<Construction>, std::jthread>> abandoned_;
    // Only on executor_:
    std::shared_ptr<SpeechEngine> vocalith_;
    std::optional<std::string> currentModel_;
    platform::Clock::SteadyTime lastModelUseTime_{};
    platform::Timer modelUnloadTask_;
    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
