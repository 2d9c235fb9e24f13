#include "engine/speech/transcription/DecodingResult.h"

namespace vocalith {

std::optional<DecodingFallback> DecodingFallback::decide(const DecodingOptions& options,
                                                         bool isFirstTokenLogProbTooLow, float noSpeechProb,
                                                         float compressionRatio, float avgLogProb) {
    if (isFirstTokenLogProbTooLow)
        return DecodingFallback{true, "firstTokenLogProbThreshold"};
    if (options.noSpeechThreshold && noSpeechProb > *options.noSpeechThreshold)
        return DecodingFallback{false, "silence"};
    if (options.compressionRatioThreshold && compressionRatio > *options.compressionRatioThreshold)
        return DecodingFallback{true, "compressionRatioThreshold"};
    if (options.logProbThreshold && avgLogProb < *options.logProbThreshold)
        return DecodingFallback{true, "logProbThreshold"};
    return std::nullopt;
}

const DecodingResult& DecodingResult::emptyResults() {
    static const DecodingResult empty;
    return empty;
}

std::vector<std::optional<std::vector<TranscriptionResultPtr>>>
toOptionalArrays(const std::vector<TranscriptionOutcome>& outcomes) {
    std::vector<std::optional<std::vector<TranscriptionResultPtr>>> arrays;
    arrays.reserve(outcomes.size());
    for (const auto& outcome : outcomes) {
        if (const auto* results = std::get_if<std::vector<TranscriptionResultPtr>>(&outcome))
            arrays.emplace_back(*results);
        else
            arrays.emplace_back(std::nullopt);
    }
    return arrays;
}

} // namespace vocalith
