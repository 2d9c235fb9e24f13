#include "engine/speech/transcription/TranscriptionTimings.h"

namespace vocalith {

#define VOCALITH_TIMING(name)                                                                                \
    TranscriptionTimings::Field {                                                                            \
#name, &TranscriptionTimings::name                                                                   \
    }

const std::array<TranscriptionTimings::Field, 34>& TranscriptionTimings::fields() {
    static const std::array<Field, 34> table{
        VOCALITH_TIMING(pipelineStart),
        VOCALITH_TIMING(firstTokenTime),
        VOCALITH_TIMING(inputAudioSeconds),
        VOCALITH_TIMING(modelLoading),
        VOCALITH_TIMING(prewarmLoadTime),
        VOCALITH_TIMING(encoderLoadTime),
        VOCALITH_TIMING(decoderLoadTime),
        VOCALITH_TIMING(encoderSpecializationTime),
        VOCALITH_TIMING(decoderSpecializationTime),
        VOCALITH_TIMING(tokenizerLoadTime),
        VOCALITH_TIMING(audioLoading),
        VOCALITH_TIMING(audioProcessing),
        VOCALITH_TIMING(logmels),
        VOCALITH_TIMING(encoding),
        VOCALITH_TIMING(prefill),
        VOCALITH_TIMING(decodingInit),
        VOCALITH_TIMING(decodingLoop),
        VOCALITH_TIMING(decodingPredictions),
        VOCALITH_TIMING(decodingFiltering),
        VOCALITH_TIMING(decodingSampling),
        VOCALITH_TIMING(decodingFallback),
        VOCALITH_TIMING(decodingWindowing),
        VOCALITH_TIMING(decodingKvCaching),
        VOCALITH_TIMING(decodingWordTimestamps),
        VOCALITH_TIMING(decodingNonPrediction),
        VOCALITH_TIMING(totalAudioProcessingRuns),
        VOCALITH_TIMING(totalLogmelRuns),
        VOCALITH_TIMING(totalEncodingRuns),
        VOCALITH_TIMING(totalDecodingLoops),
        VOCALITH_TIMING(totalKVUpdateRuns),
        VOCALITH_TIMING(totalTimestampAlignmentRuns),
        VOCALITH_TIMING(totalDecodingFallbacks),
        VOCALITH_TIMING(totalDecodingWindows),
        VOCALITH_TIMING(fullPipeline),
    };
    return table;
}

#undef VOCALITH_TIMING

template <class J> void to_json(J& json, const TranscriptionTimings& timings) {
    // Built aside and moved in at the end: nlohmann leaks a value whose conversion throws half-way.
    J object = J::object();
    for (const auto& [name, member] : TranscriptionTimings::fields())
        object[name] = jsonDouble(timings.*member, name);
    json = std::move(object);
}
template void to_json<Json>(Json&, const TranscriptionTimings&);
template void to_json<OrderedJson>(OrderedJson&, const TranscriptionTimings&);

void from_json(const Json& json, TranscriptionTimings& timings) {
    for (const auto& [name, member] : TranscriptionTimings::fields())
        timings.*member = requiredDouble(json, name);
}

} // namespace vocalith
