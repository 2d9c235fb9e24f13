#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/DecodingOptions.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"
#include "engine/speech/transcription/DecodingResult.h"
#include "engine/speech/transcription/TranscriptionSegment.h"
#include "engine/speech/transcription/TranscriptionTimings.h"
#include "engine/speech/transcription/WordTiming.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vocalith {

// Where the next window starts, and the window's segments (absent for a silent window).
struct SeekPointAndSegments {
    std::int64_t seek = 0;
    std::optional<std::vector<TranscriptionSegment>> segments{};
};

// Cuts one decoded window into timed segments and tells where the next window starts; on request
// times every word from the decoder's alignment weights. A configuration may bring its own; the
// engine's is SegmentSeeker. One instance serves every window of every transcription at once, so
// implementations keep no state between calls.
class SegmentSeeking {
  public:
    virtual ~SegmentSeeking() = default;

    // `specialToken` is accepted for implementations that want it; the tokenizer's
    // specialTokenBegin is what the engine's seeker uses. Never fails.
    virtual SeekPointAndSegments
    findSeekPointAndSegments(const DecodingResult& decodingResult, const DecodingOptions& options,
                             std::int64_t allSegmentsCount, std::int64_t currentSeek,
                             std::int64_t segmentSize, std::int64_t sampleRate, std::int64_t timeToken,
                             std::int64_t specialToken, const WhisperTokenizer& tokenizer) const = 0;

    // The segments with their words timed. `alignmentWeights` ([token positions, frames]) has one
    // row per decoded position of the window. Throws WhisperError::segmentingFailed for weights
    // that cannot be read.
    virtual std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(std::vector<TranscriptionSegment> segments,
                      const basalith::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer,
                      std::int64_t seek, std::int64_t segmentSize, std::string_view prependPunctuations,
                      std::string_view appendPunctuations, float lastSpeechTimestamp,
                      const DecodingOptions& options, const TranscriptionTimings& timings) const = 0;
};

// The engine's seeker: segments cut at pairs of adjacent timestamp tokens; words aligned to the
// audio frames by dynamic time warping over the cross-attention weights, then bounded in length,
// joined with their punctuation and fitted into their segments. Stateless.
class SegmentSeeker : public SegmentSeeking {
  public:
    // Text and time indices of the warping path, in path order.
    struct Path {
        std::vector<std::int64_t> textIndices;
        std::vector<std::int64_t> timeIndices;
    };

    SeekPointAndSegments findSeekPointAndSegments(const DecodingResult& decodingResult,
                                                  const DecodingOptions& options,
                                                  std::int64_t allSegmentsCount, std::int64_t currentSeek,
                                                  std::int64_t segmentSize, std::int64_t sampleRate,
                                                  std::int64_t timeToken, std::int64_t specialToken,
                                                  const WhisperTokenizer& tokenizer) const override;

    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(std::vector<TranscriptionSegment> segments,
                      const basalith::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer,
                      std::int64_t seek, std::int64_t segmentSize, std::string_view prependPunctuations,
                      std::string_view appendPunctuations, float lastSpeechTimestamp,
                      const DecodingOptions& options, const TranscriptionTimings& timings) const override;

    // The path through a [tokens, frames] matrix that maximises the summed weights, each step
    // moving to the next token, the next frame or both. Throws WhisperError::segmentingFailed
    // unless the matrix has two dimensions.
    virtual Path dynamicTimeWarping(const basalith::MultiArray& matrix) const;
    // One cell of the warping: the cheapest of the three moves (0 diagonal, 1 up, 2 left) with the
    // weight taken off; ties go to the later move.
    virtual std::pair<double, int> minCostAndTrace(double costDiagonal, double costUp, double costLeft,
                                                   double matrixValue) const;
    // Follows the trace codes back from the far corner. `trace` holds (rows + 1) × (columns + 1)
    // codes, row by row.
    virtual Path backtrace(const std::vector<std::int8_t>& trace, std::int64_t rows,
                           std::int64_t columns) const;

    // Words of the token ids with their start and end (seconds from the window start) and
    // probability; empty when the tokens make at most one word.
    virtual std::vector<WordTiming> findAlignment(const std::vector<std::int64_t>& wordTokenIds,
                                                  const basalith::MultiArray& alignmentWeights,
                                                  const std::vector<float>& tokenLogProbs,
                                                  const WhisperTokenizer& tokenizer,
                                                  const TranscriptionTimings& timings) const;

    // (median of the positive word durations capped at 0.7 s, twice that).
    virtual std::pair<float, float>
    calculateWordDurationConstraints(const std::vector<WordTiming>& alignment) const;
    // Words longer than `maxDuration` next to a sentence end are cut to it; the first word is kept.
    virtual std::vector<WordTiming> truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment,
                                                                          float maxDuration) const;
    // Opening punctuation joins the word after it, closing punctuation the word before it; lone
    // punctuation is dropped.
    virtual std::vector<WordTiming> mergePunctuations(const std::vector<WordTiming>& alignment,
                                                      std::string_view prepended,
                                                      std::string_view appended) const;
    // Deals the words out to the segments by their text tokens, on the recording's time line, and
    // moves segment and word edges that disagree by more than half a second.
    virtual std::vector<TranscriptionSegment>
    updateSegmentsWithWordTimings(std::vector<TranscriptionSegment> segments,
                                  const std::vector<WordTiming>& mergedAlignment, std::int64_t seek,
                                  float lastSpeechTimestamp, float constrainedMedianDuration,
                                  float maxDuration, const WhisperTokenizer& tokenizer) const;
};

} // namespace vocalith
