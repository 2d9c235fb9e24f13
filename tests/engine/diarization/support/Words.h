#pragma once

#include "engine/speech/transcription/TranscriptionResult.h"

#include <memory>
#include <string>
#include <vector>

namespace diarith::testing {

inline vocalith::WordTiming word(std::string text, float start, float end) {
    return vocalith::WordTiming{
        .word = std::move(text), .tokens = {}, .start = start, .end = end, .probability = 0.9f};
}

// A transcription segment over its words' span; `words` absent when `withWords` is false.
inline vocalith::TranscriptionSegment segment(std::int64_t id, std::vector<vocalith::WordTiming> words,
                                              bool withWords = true) {
    vocalith::TranscriptionSegment s;
    s.id = id;
    s.start = words.empty() ? 0.0f : words.front().start;
    s.end = words.empty() ? 0.0f : words.back().end;
    for (const auto& w : words)
        s.text += w.word;
    if (withWords)
        s.words = std::move(words);
    return s;
}

inline vocalith::TranscriptionResultPtr result(std::vector<vocalith::TranscriptionSegment> segments) {
    return std::make_shared<vocalith::TranscriptionResult>("", std::move(segments), "en",
                                                           vocalith::TranscriptionTimings{});
}

} // namespace diarith::testing
