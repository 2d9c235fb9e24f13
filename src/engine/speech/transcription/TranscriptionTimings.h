#pragma once

#include "engine/speech/JsonCoding.h"

#include <array>
#include <limits>
#include <utility>

namespace vocalith {

// The timing record of one transcription run. Durations are wall-clock seconds; the two instants
// are readings of the engine's clock in seconds; the counters count events but are kept as doubles
// like everything else. A task starts from a copy of the engine's record and adds to it.
struct TranscriptionTimings {
    // Stands for "not yet recorded": the task keeps the smaller of this and the clock.
    static constexpr double kUnrecorded = std::numeric_limits<double>::max();

    double pipelineStart = kUnrecorded;  // instant the run began
    double firstTokenTime = kUnrecorded; // instant the first token was produced
    double inputAudioSeconds = 0.001;    // length of the input audio; not 0, so ratios stay finite
    double modelLoading = 0;             // loading all models
    double prewarmLoadTime = 0;
    double encoderLoadTime = 0;
    double decoderLoadTime = 0;
    double encoderSpecializationTime = 0;
    double decoderSpecializationTime = 0;
    double tokenizerLoadTime = 0;
    double audioLoading = 0;    // reading and converting the audio input
    double audioProcessing = 0; // preparing the audio windows
    double logmels = 0;
    double encoding = 0;
    double prefill = 0;
    double decodingInit = 0;
    double decodingLoop = 0;
    double decodingPredictions = 0;
    double decodingFiltering = 0;
    double decodingSampling = 0;
    double decodingFallback = 0;
    double decodingWindowing = 0; // includes the word-timestamp time
    double decodingKvCaching = 0;
    double decodingWordTimestamps = 0;
    double decodingNonPrediction = 0; // decoder-loop time outside the model predictions
    double totalAudioProcessingRuns = 0;
    double totalLogmelRuns = 0;
    double totalEncodingRuns = 0;
    double totalDecodingLoops = 0; // tokens produced
    double totalKVUpdateRuns = 0;
    double totalTimestampAlignmentRuns = 0;
    double totalDecodingFallbacks = 0;
    double totalDecodingWindows = 0;
    double fullPipeline = 0; // the whole run

    // Derived on reading; IEEE division, so a zero divisor gives an infinity or NaN.
    double tokensPerSecond() const { return totalDecodingLoops / fullPipeline; }
    double realTimeFactor() const { return fullPipeline / inputAudioSeconds; }
    double speedFactor() const { return inputAudioSeconds / fullPipeline; }

    using Field = std::pair<const char*, double TranscriptionTimings::*>;
    // Every stored field with its JSON member name, in field order.
    static const std::array<Field, 34>& fields();
};

// All 34 members, each a number, all required. The derived values are not written.
template <class J> void to_json(J& json, const TranscriptionTimings& timings);
void from_json(const Json& json, TranscriptionTimings& timings);

} // namespace vocalith
