#pragma once

#include "platform/audio/AudioFormat.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote::platform {

// One text a recogniser reports for a stretch of speech: interim texts come while it is spoken,
// then one final text when the stretch (an utterance) has ended.
struct SpeechRecognitionResult {
    std::string text;
    bool isFinal = false;
};

// Where an analysis failed: loading its model, or decoding the audio.
enum class SpeechAnalysisFailure { start, decoding };

// Where an analysis reports, always from its own thread, one call at a time.
struct SpeechAnalysisCallbacks {
    std::function<void(SpeechRecognitionResult)> onResult;
    // The analysis failed; no result follows.
    std::function<void(SpeechAnalysisFailure failure, std::string description)> onError;
    // After finish(): every result of the audio fed before it has been reported.
    std::function<void()> onEnd;
};

// The analysis of one audio stream in one locale, running on a thread of its own. Its input is
// unbounded: feed() never waits for the recognition.
class SpeechAnalysis {
  public:
    virtual ~SpeechAnalysis() = default;

    // Queues mono samples in the format that bestAvailableAudioFormat() named.
    virtual void feed(std::vector<float> samples) = 0;
    // Ends the input: the audio still queued is analysed, the utterance in progress is ended and
    // its final text reported, then onEnd is called (at once when the analysis has failed).
    virtual void finish() = 0;
    // Stops without reporting anything more: once it returns no callback is running or will run
    // (from inside a callback it cannot wait, and only stops what follows).
    virtual void cancel() = 0;
};

// The on-device speech recogniser: what the live transcription needs of it.
class SpeechRecognizer {
  public:
    virtual ~SpeechRecognizer() = default;

    // The audio format analysis takes for the locale ("en-US", "ja-JP"), none when no speech model
    // for it is installed.
    virtual std::optional<AudioFormat> bestAvailableAudioFormat(const std::string& localeIdentifier) = 0;
    // Starts analysing in `localeIdentifier`; loading the model happens on the analysis thread,
    // and a failure there is reported through onError.
    virtual std::unique_ptr<SpeechAnalysis> start(const std::string& localeIdentifier,
                                                  SpeechAnalysisCallbacks callbacks) = 0;
};

} // namespace velnote::platform
