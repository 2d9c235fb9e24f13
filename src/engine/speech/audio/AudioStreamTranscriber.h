#pragma once

#include "engine/speech/DecodingOptions.h"
#include "engine/speech/audio/AudioProcessing.h"
#include "engine/speech/transcription/TranscriptionProgress.h"
#include "engine/speech/transcription/TranscriptionResult.h"
#include "engine/speech/transcription/TranscriptionSegment.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote::platform {
class Clock;
class SerialExecutor;
} // namespace velnote::platform

namespace vocalith {

// What the stream transcriber needs of the engine: its transcription task over one sample array,
// bound to the engine's models and tokenizer, and the compression ratio of a token list.
class StreamTranscriptionTask {
  public:
    // Called with each progress report of a pass; false asks the task to stop the current window,
    // absent lets it go on.
    using ProgressCallback = std::function<std::optional<bool>(const TranscriptionProgress&)>;

    virtual ~StreamTranscriptionTask() = default;

    // Transcribes 16 kHz mono samples with the options; throws when the transcription fails. The
    // same task serves every pass, so its timing record carries over from pass to pass.
    virtual TranscriptionResultPtr run(const std::vector<float>& audioArray, const DecodingOptions& options,
                                       const ProgressCallback& callback) = 0;
    // How well the tokens' bytes compress (zlib): high for a decoder stuck in a loop.
    virtual float compressionRatio(const std::vector<std::int64_t>& tokens) const = 0;
};

// Transcribes the microphone while it records: whenever more than a second of new audio has come
// (and, with `useVAD`, voice is heard in it) everything captured so far is transcribed again from
// the end of the confirmed text. The newest `requiredSegmentsForConfirmation` segments of a pass stay
// unconfirmed; the ones before them are confirmed for good.
//
// Its operations run one at a time on its own executor thread, which also calls
// `stateChangeCallback` (old state, new state) for every change. `startStreamTranscription` runs the
// loop on the calling thread and returns when it has ended; stop may come from any thread, also
// from the state callback. Not to be destroyed while a start is running.
class AudioStreamTranscriber {
  public:
    struct State {
        bool isRecording = false;
        int currentFallbacks = 0;
        std::int64_t lastBufferSize = 0; // samples the latest pass covered
        float lastConfirmedSegmentEndSeconds = 0;
        std::vector<float> bufferEnergy;
        std::string currentText; // the pass in progress, or "Waiting for speech..."
        std::vector<TranscriptionSegment> confirmedSegments;
        std::vector<TranscriptionSegment> unconfirmedSegments;
        std::vector<std::string> unconfirmedText; // earlier attempts within the current pass
        bool operator==(const State&) const = default;
    };
    using StateChangeCallback = std::function<void(const State& oldState, const State& newState)>;

    // `clock` paces the 100 ms polls (the system clock when absent).
    AudioStreamTranscriber(std::shared_ptr<StreamTranscriptionTask> transcribeTask,
                           std::shared_ptr<AudioProcessing> audioProcessor, DecodingOptions decodingOptions,
                           int requiredSegmentsForConfirmation, float silenceThreshold,
                           int compressionCheckWindow, bool useVAD, StateChangeCallback stateChangeCallback,
                           velnote::platform::Clock* clock = nullptr);
    // Stops a capture still running.
    ~AudioStreamTranscriber();
    AudioStreamTranscriber(const AudioStreamTranscriber&) = delete;
    AudioStreamTranscriber& operator=(const AudioStreamTranscriber&) = delete;

    // Starts capturing from the default input with a fresh state and runs the loop until stopped or
    // a pass fails (logged; the capture is then stopped and the state says not recording, so a later
    // start works). Returns at once while already recording. Throws when the capture cannot start,
    // leaving the state not recording.
    void startStreamTranscription();
    // Ends the capture and the loop (at its next check).
    void stopStreamTranscription();

    // A copy of the current state.
    State state() const;

    // false to stop the current window: from the 21st token on (with a window of 20) when the last
    // `compressionCheckWindow` tokens compress better than the options' threshold (any ratio above 0
    // without one), or when the average log-probability is below the options' threshold. Absent to
    // go on. A window not above 0 skips the compression test.
    static std::optional<bool>
    shouldStopEarly(const TranscriptionProgress& progress, const DecodingOptions& options,
                    int compressionCheckWindow,
                    const std::function<float(const std::vector<std::int64_t>&)>& ratio);

  private:
    // One step of the loop; throws what the transcription throws.
    void transcribeCurrentBuffer(const std::stop_token& stop);
    TranscriptionResultPtr transcribeAudioSamples(const std::vector<float>& samples);
    void onAudioBufferCallback();
    void onProgressCallback(const TranscriptionProgress& progress);
    void applyResult(const std::vector<TranscriptionSegment>& segments);
    // After a failed pass: not recording any more, and the capture stopped.
    void endAfterFailure();
    // Changes the state on the executor and reports the change.
    void change(const std::function<void(State&)>& update);
    // Runs `work` on the executor (inline when already there) and returns its result.
    template <class F> auto onExecutor(F&& work);

    // What the capture and progress callbacks hold instead of the transcriber: cleared when it
    // goes, so a late callback posts nothing.
    struct Lifetime {
        std::mutex mutex;
        AudioStreamTranscriber* self = nullptr;
    };

    std::shared_ptr<StreamTranscriptionTask> transcribeTask_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    DecodingOptions decodingOptions_;
    int requiredSegmentsForConfirmation_;
    float silenceThreshold_;
    int compressionCheckWindow_;
    bool useVAD_;
    StateChangeCallback stateChangeCallback_;
    velnote::platform::Clock& clock_;

    // Only on executor_:
    State state_;
    std::stop_source stopLoop_; // wakes the loop's wait when recording ends

    std::shared_ptr<Lifetime> lifetime_;

    // A copy of state_ for readers on other threads.
    mutable std::mutex snapshotMutex_;
    State snapshot_;

    // Declared last: drains before the members above go.
    std::unique_ptr<velnote::platform::SerialExecutor> executor_;
};

} // namespace vocalith
