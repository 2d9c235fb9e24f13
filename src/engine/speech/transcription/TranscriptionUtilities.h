#pragma once

#include "engine/speech/transcription/TranscriptionResult.h"

#include <optional>
#include <string>
#include <vector>

namespace vocalith {

// Operations on results for the engine's users: shifting and formatting segments, comparing word
// lists, merging results. None changes its arguments. Also offered as free functions below.
struct TranscriptionUtilities {
    // The segment moved by `seekTime` seconds: its window start by the whole samples (at 16 kHz) of
    // seekTime, its times and its words' times by seekTime. A NaN shift moves the window by
    // nothing, and a shift beyond the 64-bit sample range stops at its end instead of wrapping.
    static TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime);

    // One line per segment: "[<start> --> <end>] <text>" with times as "%.2f", or the text alone.
    static std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments,
                                                   bool withTimestamps);

    // The leading words on which both lists agree, taken from `second`. Words agree when they are
    // equal after lower-casing, hyphens as spaces, punctuation removed, runs of spaces folded and
    // white space trimmed; times, tokens and probabilities do not matter.
    static std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                           const std::vector<WordTiming>& second);
    // `second` after that common prefix.
    static std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                              const std::vector<WordTiming>& second);

    // One result from several (null entries are absent results): the texts joined by a space (or the
    // confirmed words' texts joined), the segments renumbered by result position plus segment
    // position, the first result's language ("en" without one) and combined timings. The seek time
    // stays absent; no segment is shifted.
    static TranscriptionResultPtr
    mergeTranscriptionResults(const std::vector<TranscriptionResultPtr>& results,
                              const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt);
};

TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime);
std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments,
                                        bool withTimestamps);
std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                const std::vector<WordTiming>& second);
std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                   const std::vector<WordTiming>& second);
TranscriptionResultPtr
mergeTranscriptionResults(const std::vector<TranscriptionResultPtr>& results,
                          const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt);

} // namespace vocalith
