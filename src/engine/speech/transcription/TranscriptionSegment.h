#pragma once

#include "engine/speech/JsonCoding.h"
#include "engine/speech/transcription/WordTiming.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vocalith {

// One timed piece of a transcription, cut at a pair of timestamp tokens.
struct TranscriptionSegment {
    std::int64_t id = 0;
    std::int64_t seek = 0; // start of the decoding window, in samples at 16 kHz
    float start = 0;       // seconds
    float end = 0;         // seconds
    std::string text{};
    std::vector<std::int64_t> tokens{};
    // One map per token: token id → its natural log-probability.
    std::vector<std::map<std::int64_t, float>> tokenLogProbs{};
    float temperature = 0;
    float avgLogprob = 0;
    float compressionRatio = 0;
    float noSpeechProb = 0;
    // Absent unless word timestamps were computed; an empty list is not the same as absent.
    std::optional<std::vector<WordTiming>> words{};

    float duration() const { return end - start; }

    // Field by field, as WordTiming compares.
    bool operator==(const TranscriptionSegment& other) const;
};

// Absent words are left out; "words" missing or null reads as absent. Every other member required.
// A "tokenLogProbs" member name that is not a decimal integer fails the read.
template <class J> void to_json(J& json, const TranscriptionSegment& segment);
void from_json(const Json& json, TranscriptionSegment& segment);

} // namespace vocalith

template <> struct std::hash<vocalith::TranscriptionSegment> {
    std::size_t operator()(const vocalith::TranscriptionSegment& segment) const;
};
