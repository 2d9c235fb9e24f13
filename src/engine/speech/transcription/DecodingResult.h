#pragma once

#include "engine/speech/DecodingOptions.h"
#include "engine/speech/decoding/DecodingCache.h"
#include "engine/speech/transcription/TranscriptionResult.h"
#include "engine/speech/transcription/TranscriptionTimings.h"

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vocalith {

// Whether a decoding pass must be repeated at a higher temperature, and why.
struct DecodingFallback {
    bool needsFallback = false;
    std::string fallbackReason{};

    // The verdict on one pass, from the first test that applies: a too-unlikely first token asks
    // for a fallback ("firstTokenLogProbThreshold"); a likely silent window stops it ("silence");
    // then a too-high compression ratio ("compressionRatioThreshold") or a too-low average
    // log-probability ("logProbThreshold") ask for one. Absent when none applies. Comparisons are
    // strict, so NaN never triggers a test.
    static std::optional<DecodingFallback> decide(const DecodingOptions& options,
                                                  bool isFirstTokenLogProbTooLow, float noSpeechProb,
                                                  float compressionRatio, float avgLogProb);
};

// The record of one decoding pass over one window.
struct DecodingResult {
    std::string language{};                       // decoded in, or detected
    std::map<std::string, float> languageProbs{}; // when detection ran
    std::vector<std::int64_t> tokens{}; // every decoded token, special and timestamp tokens included
    // One map per token (at least as many as tokens): the token id and its log-probability.
    std::vector<std::map<std::int64_t, float>> tokenLogProbs{};
    std::string text{};
    float avgLogProb = 0;
    float noSpeechProb = 0;
    float temperature = 0;
    float compressionRatio = 0;
    std::optional<DecodingCache> cache{};
    std::optional<TranscriptionTimings> timings{}; // this pass only
    std::optional<DecodingFallback> fallback{};

    // Empty texts and lists, zeros, nothing optional.
    static const DecodingResult& emptyResults();
};

// For one input of a batched transcription: its results, or the error that ended it.
using TranscriptionOutcome = std::variant<std::vector<TranscriptionResultPtr>, std::exception_ptr>;

// Successes become their lists, failures become absent; order and length stay.
std::vector<std::optional<std::vector<TranscriptionResultPtr>>>
toOptionalArrays(const std::vector<TranscriptionOutcome>& outcomes);

} // namespace vocalith
