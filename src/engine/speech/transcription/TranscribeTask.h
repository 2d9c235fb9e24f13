#pragma once

#include "engine/speech/DecodingOptions.h"
#include "engine/speech/audio/AudioProcessing.h"
#include "engine/speech/decoding/TextDecoding.h"
#include "engine/speech/models/AudioEncoder.h"
#include "engine/speech/models/FeatureExtractor.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"
#include "engine/speech/transcription/DecodingResult.h"
#include "engine/speech/transcription/SegmentSeeker.h"
#include "engine/speech/transcription/TranscriptionResult.h"
#include "engine/speech/transcription/TranscriptionTimings.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Progress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace vocalith {

// Transcribes one array of 16 kHz mono samples into one result: the audio is cut into windows of
// at most one model window, each window goes through the feature extractor and the audio encoder,
// is decoded under rising temperatures until a pass is good enough, and is cut into segments (with
// word timings on request) by the segment seeker, which also says where the next window starts.
//
// The engine makes one task per transcription; the stream transcriber keeps one and runs it again
// and again, so the task's timings carry over from run to run (the run's own state does not). A
// task serves one run at a time on its caller's thread: concurrent transcriptions use separate
// tasks. Its progress object may be watched from any thread. The progress callback handed to the
// decoder may run after the window (or the task) is gone; it then answers absent.
class TranscribeTask {
  public:
    using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;

    // An absent progress becomes a fresh one, an absent audio processor the default one; the other
    // components are required. Times are read from `clock` (the system's by default), which must
    // outlive the task.
    TranscribeTask(TranscriptionTimings currentTimings, std::shared_ptr<velnote::platform::Progress> progress,
                   std::shared_ptr<AudioProcessing> audioProcessor,
                   std::shared_ptr<AudioEncoding> audioEncoder,
                   std::shared_ptr<FeatureExtracting> featureExtractor,
                   std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
                   std::shared_ptr<const WhisperTokenizer> tokenizer,
                   const velnote::platform::Clock* clock = nullptr);
    virtual ~TranscribeTask();

    TranscribeTask(const TranscribeTask&) = delete;
    TranscribeTask& operator=(const TranscribeTask&) = delete;

    const std::shared_ptr<const WhisperTokenizer>& tokenizer() const { return tokenizer_; }
    void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) {
        tokenizer_ = std::move(tokenizer);
    }
    const SegmentDiscoveryCallback& segmentDiscoveryCallback() const { return segmentDiscoveryCallback_; }
    void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
        segmentDiscoveryCallback_ = std::move(callback);
    }

    const std::shared_ptr<velnote::platform::Progress>& progress() const { return progress_; }
    // The timings so far: everything the runs have added to the record the task was made with.
    const TranscriptionTimings& timings() const { return timings_; }
    const std::shared_ptr<AudioEncoding>& audioEncoder() const { return audioEncoder_; }
    const std::shared_ptr<FeatureExtracting>& featureExtractor() const { return featureExtractor_; }
    const std::shared_ptr<SegmentSeeking>& segmentSeeker() const { return segmentSeeker_; }
    const std::shared_ptr<TextDecoding>& textDecoder() const { return textDecoder_; }

    // Transcribes the samples with the options (the defaults when absent). `callback` sees every
    // progress report of the decoder, with its windowId set to the window's number; false asks the
    // decoder to stop the current window. Throws WhisperError (transcriptionFailed when a stage
    // gives nothing, decodingFailed when a window gets no result), CancellationError once `stop`
    // is requested (checked after each stage of a window), and the components' own errors.
    virtual TranscriptionResultPtr run(const std::vector<float>& audioArray,
                                       const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                                       const ProgressCallback& callback = {},
                                       const std::stop_token& stop = {});

    // Called once per window with its padded samples before the features are extracted. Does nothing.
    virtual void windowPreprocess(const AudioProcessorOutputType& audio, std::int64_t seek,
                                  std::int64_t segmentSize);
    // May rewrite a window's segments before they are reported and kept. Returns them unchanged.
    virtual std::vector<TranscriptionSegment>
    windowPostProcess(std::int64_t seek, std::int64_t segmentSize,
                      std::vector<TranscriptionSegment> originalSegments);
    // The result of a run: the text of the tokens below the special tokens, trimmed of spaces and
    // tabs; the language, "en" when none was found; no seek time.
    virtual TranscriptionResultPtr finalizeTranscriptionResult(const std::vector<std::int64_t>& tokens,
                                                               std::vector<TranscriptionSegment> segments,
                                                               const std::optional<std::string>& language,
                                                               const TranscriptionTimings& timings);

  protected:
    class Run;
    friend class Run;

    // Decodes one window's encoder output at temperatures rising from the options' temperature
    // until a pass needs no fallback or the temperatures run out; the window's result is the last
    // pass, unless that one heard no text while an earlier pass did: then the earlier pass with the
    // highest average log-probability. Decoder inputs are reset after every pass that asks for a
    // fallback.
    virtual DecodingResult decodeWithFallback(const AudioEncoderOutputType& encoderOutput, Run& run,
                                              const ProgressCallback& callback);

  private:
    // Held weakly by the progress wrappers, which the decoder may call after the task is gone.
    struct Liveness {};

    ProgressCallback progressWrapper(const ProgressCallback& callback) const;
    double seconds() const;
    double wallSeconds() const;

    TranscriptionTimings timings_;
    std::shared_ptr<velnote::platform::Progress> progress_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    std::shared_ptr<const WhisperTokenizer> tokenizer_;
    SegmentDiscoveryCallback segmentDiscoveryCallback_;
    const velnote::platform::Clock* clock_;
    std::shared_ptr<Liveness> liveness_ = std::make_shared<Liveness>();
};

} // namespace vocalith
