#pragma once

#include "engine/speech/Constants.h"
#include "engine/speech/JsonCoding.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vocalith {

enum class DecodingTask { transcribe, translate };
inline constexpr std::array<DecodingTask, 2> kAllDecodingTasks{DecodingTask::transcribe,
                                                               DecodingTask::translate};
// "transcribe" or "translate".
std::string_view description(DecodingTask task);

// Whether long audio is cut at silences.
enum class ChunkingStrategy { none, vad };
inline constexpr std::array<ChunkingStrategy, 2> kAllChunkingStrategies{ChunkingStrategy::none,
                                                                        ChunkingStrategy::vad};
// "none" or "vad".
std::string_view rawValue(ChunkingStrategy strategy);
// Absent for any other text.
std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view text);

// Per-call settings of a transcription. A plain value: every consumer works on its own copy.
struct DecodingOptions {
    // The constructor's arguments: each field's default, and three that are wider than their fields.
    struct Arguments;

    bool verbose = false; // log result counts, segments and timings
    DecodingTask task = DecodingTask::transcribe;
    std::optional<std::string> language; // a code of Constants::languageCodes(); absent: detect or "en"
    float temperature = 0.0f;            // of the first attempt
    float temperatureIncrementOnFallback = 0.2f;
    int temperatureFallbackCount = 5;              // attempts after the first
    int sampleLength = Constants::maxTokenContext; // upper bound of decoder steps per window
    int topK = 5;                                  // candidates kept when sampling above temperature 0
    bool usePrefillPrompt = true;
    bool usePrefillCache = true;
    bool detectLanguage = false; // detect from the audio when no language is given
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    std::optional<float> maxInitialTimestamp; // seconds
    std::optional<int> maxWindowSeek;         // samples
    std::vector<float> clipTimestamps;        // seconds, start/end pairs
    float windowClipTime = 1.0f;              // seconds; the window loop stops with less audio left
    std::optional<std::vector<std::int64_t>> promptTokens;
    std::optional<std::vector<std::int64_t>> prefixTokens;
    bool suppressBlank = false;
    std::vector<std::int64_t> supressTokens; // token ids never sampled (the stored name has one "p")
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    int concurrentWorkerCount = 16; // batch size of concurrent work; 0 = everything in one batch
    std::optional<ChunkingStrategy> chunkingStrategy;

    DecodingOptions();
    explicit DecodingOptions(const Arguments& arguments);

    // Start/end sample pairs of the stretches to decode: the clip timestamps in samples (rounded,
    // halves away from zero), [0] when there are none, `contentFrames` appended to an odd count.
    // Not clamped or ordered.
    std::vector<std::pair<std::int64_t, std::int64_t>> prepareSeekClips(std::int64_t contentFrames) const;
};

struct DecodingOptions::Arguments {
    bool verbose = false;
    DecodingTask task = DecodingTask::transcribe;
    std::optional<std::string> language{};
    float temperature = 0.0f;
    float temperatureIncrementOnFallback = 0.2f;
    int temperatureFallbackCount = 5;
    int sampleLength = Constants::maxTokenContext;
    int topK = 5;
    bool usePrefillPrompt = true;
    bool usePrefillCache = true;
    std::optional<bool> detectLanguage{}; // absent: not usePrefillPrompt
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    std::optional<float> maxInitialTimestamp{};
    std::optional<int> maxWindowSeek{};
    std::vector<float> clipTimestamps{};
    float windowClipTime = 1.0f;
    std::optional<std::vector<std::int64_t>> promptTokens{};
    std::optional<std::vector<std::int64_t>> prefixTokens{};
    bool suppressBlank = false;
    std::optional<std::vector<std::int64_t>> supressTokens{}; // absent: empty
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    std::optional<int> concurrentWorkerCount{}; // absent: 16
    std::optional<ChunkingStrategy> chunkingStrategy{};
};

// {"transcribe": {}} or {"translate": {}}. Reading fails with "Invalid number of keys found, expected
// one." unless exactly one of the two keys is there.
template <class J> void to_json(J& json, DecodingTask task);
void from_json(const Json& json, DecodingTask& task);
// The raw value as a string; an unknown string fails the read.
template <class J> void to_json(J& json, ChunkingStrategy strategy);
void from_json(const Json& json, ChunkingStrategy& strategy);

// Members named after the fields; optional fields written only when present. Reading requires every
// non-optional member and applies no defaults.
template <class J> void to_json(J& json, const DecodingOptions& options);
void from_json(const Json& json, DecodingOptions& options);

} // namespace vocalith
