#pragma once

#include "engine/speech/JsonCoding.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vocalith {

// One timed word of a segment, in seconds on the result's time line.
struct WordTiming {
    std::string word{};                 // as decoded, often with a leading blank
    std::vector<std::int64_t> tokens{}; // token ids that make up the word
    float start = 0;
    float end = 0;
    float probability = 0;

    float duration() const { return end - start; }

    // Field by field: texts under canonical equivalence (a precomposed "é" equals "e" + U+0301),
    // floats by IEEE comparison (−0 equals +0, NaN equals nothing).
    bool operator==(const WordTiming& other) const;
};

// All five members required.
template <class J> void to_json(J& json, const WordTiming& word);
void from_json(const Json& json, WordTiming& word);

namespace detail {
// Shared by the hashes of the result types: the same value for canonically equivalent texts and
// for −0 and +0.
std::size_t hashText(const std::string& text);
std::size_t hashFloat(float value);
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
bool equalTexts(const std::string& a, const std::string& b);
} // namespace detail

} // namespace vocalith

template <> struct std::hash<vocalith::WordTiming> {
    std::size_t operator()(const vocalith::WordTiming& word) const;
};
