#include "engine/speech/transcription/SegmentSeeker.h"

#include "engine/foundation/Helpers.h"
#include "engine/foundation/Logging.h"
#include "engine/speech/WhisperError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace vocalith {

using basalith::Logging;
using basalith::MultiArray;

namespace {

constexpr float kSecondsPerTimeToken = 0.02f;
constexpr float kSampleRate = 16000.0f;

// 32-bit float seconds to whole samples, truncated; 0 for NaN, saturated at the integer range.
std::int64_t truncatedSamples(float samples) {
    if (std::isnan(samples))
        return 0;
    if (samples >= 9.2e18f)
        return std::numeric_limits<std::int64_t>::max();
    if (samples <= -9.2e18f)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(samples);
}

std::vector<std::int64_t> textTokensOf(const std::vector<std::int64_t>& tokens,
                                       std::int64_t specialTokenBegin) {
    std::vector<std::int64_t> text;
    for (const auto token : tokens) {
        if (token < specialTokenBegin)
            text.push_back(token);
    }
    return text;
}

std::string segmentText(const std::vector<std::int64_t>& tokens, const DecodingOptions& options,
                        const WhisperTokenizer& tokenizer) {
    return tokenizer.decode(options.skipSpecialTokens
                                ? textTokensOf(tokens, tokenizer.specialTokens().specialTokenBegin)
                                : tokens);
}

TranscriptionSegment scoredSegment(const DecodingResult& result) {
    TranscriptionSegment segment;
    segment.temperature = result.temperature;
    segment.avgLogprob = result.avgLogProb;
    segment.compressionRatio = result.compressionRatio;
    segment.noSpeechProb = result.noSpeechProb;
    return segment;
}

bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpaceOrTab(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpaceOrTab(text.back()))
        text.remove_suffix(1);
    return text;
}

bool containedIn(std::string_view text, std::string_view set) {
    return !text.empty() && set.find(text) != std::string_view::npos;
}

bool beginsWithWhitespace(const std::string& text) {
    return !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r' || text.front() == '\v' || text.front() == '\f');
}

void appendTokens(std::vector<std::int64_t>& to, const std::vector<std::int64_t>& from) {
    to.insert(to.end(), from.begin(), from.end());
}

bool isSentenceEnd(const std::string& word) {
    static constexpr std::array<std::string_view, 6> marks = {".", "\u3002", "!", "\uff01", "?", "\uff1f"};
    return std::find(marks.begin(), marks.end(), word) != marks.end();
}

// One element of a two-dimensional array as a double, through its strides.
double elementAt(const MultiArray& matrix, std::int64_t row, std::int64_t column) {
    const std::int64_t offset = row * matrix.strides()[0] + column * matrix.strides()[1];
    switch (matrix.dataType()) {
    case basalith::MultiArrayDataType::float16:
        return static_cast<double>(matrix.dataAs<basalith::Float16>()[offset]);
    case basalith::MultiArrayDataType::float32:
        return static_cast<double>(matrix.dataAs<float>()[offset]);
    case basalith::MultiArrayDataType::int32:
        return static_cast<double>(matrix.dataAs<std::int32_t>()[offset]);
    }
    return 0;
}

std::string shapeText(const MultiArray::Index& shape) {
    std::ostringstream text;
    text << "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text << (i == 0 ? "" : ", ") << shape[i];
    text << "]";
    return text.str();
}

// The rows of `weights` at `positions`, in that order, as a new contiguous matrix of the same type.
MultiArray selectRows(const MultiArray& weights, const std::vector<std::int64_t>& positions) {
    const std::int64_t rows = weights.shape().size() == 2 ? weights.shape()[0] : 0;
    const std::int64_t columns = weights.shape().back();
    MultiArray selected(MultiArray::Index{static_cast<std::int64_t>(positions.size()), columns},
                        weights.dataType());
    const std::size_t size = basalith::elementSize(weights.dataType());
    const auto* source = static_cast<const unsigned char*>(weights.data());
    auto* target = static_cast<unsigned char*>(selected.data());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const std::int64_t position = positions[i];
        if (position < 0 || position >= rows) {
            throw WhisperError::segmentingFailed("Alignment weights have " + std::to_string(rows) +
                                                 " rows, token position " + std::to_string(position) +
                                                 " has none");
        }
        for (std::int64_t column = 0; column < columns; ++column) {
            const std::int64_t from = position * weights.strides()[0] + column * weights.strides()[1];
            std::memcpy(target + (static_cast<std::int64_t>(i) * columns + column) *
                                     static_cast<std::int64_t>(size),
                        source + from * static_cast<std::int64_t>(size), size);
        }
    }
    return selected;
}

} // namespace

SeekPointAndSegments SegmentSeeker::findSeekPointAndSegments(
    const DecodingResult& result, const DecodingOptions& options, std::int64_t allSegmentsCount,
    std::int64_t currentSeek, std::int64_t segmentSize, std::int64_t sampleRate, std::int64_t timeToken,
    std::int64_t /*specialToken*/, const WhisperTokenizer& tokenizer) const {
    const bool silent = options.noSpeechThreshold && result.noSpeechProb > *options.noSpeechThreshold &&
                        !(options.logProbThreshold && result.avgLogProb > *options.logProbThreshold);
    if (silent)
        return {currentSeek + segmentSize, std::nullopt};

    const auto& tokens = result.tokens;
    // A decoder owes one log-probability entry per token; a shorter list gives the rest none.
    std::vector<std::map<std::int64_t, float>> logProbs = result.tokenLogProbs;
    logProbs.resize(std::max(logProbs.size(), tokens.size()));
    const std::size_t count = tokens.size();
    std::vector<bool> isTimestamp(count);
    for (std::size_t k = 0; k < count; ++k)
        isTimestamp[k] = tokens[k] >= timeToken;

    const float windowStart = static_cast<float>(currentSeek) / static_cast<float>(sampleRate);
    const bool hasEnding = count >= 3;
    const bool singleTimestampEnding =
        hasEnding && !isTimestamp[count - 3] && isTimestamp[count - 2] && !isTimestamp[count - 1];
    const bool noTimestampEnding =
        hasEnding && !isTimestamp[count - 3] && !isTimestamp[count - 2] && !isTimestamp[count - 1];

    std::vector<std::size_t> sliceEnds;
    for (std::size_t k = 1; k < count; ++k) {
        if (isTimestamp[k - 1] && isTimestamp[k])
            sliceEnds.push_back(k);
    }

    if (sliceEnds.empty()) {
        float duration = static_cast<float>(segmentSize) / static_cast<float>(sampleRate);
        const auto last = std::find_if(tokens.rbegin(), tokens.rend(), [&](auto t) { return t > timeToken; });
        if (last != tokens.rend())
            duration = static_cast<float>(*last - timeToken) * kSecondsPerTimeToken;
        TranscriptionSegment segment = scoredSegment(result);
        segment.id = allSegmentsCount;
        segment.seek = currentSeek;
        segment.start = windowStart;
        segment.end = windowStart + duration;
        segment.text = segmentText(tokens, options, tokenizer);
        segment.tokens = tokens;
        segment.tokenLogProbs.assign(logProbs.begin(), logProbs.begin() + static_cast<std::ptrdiff_t>(count));
        return {currentSeek + segmentSize, std::vector<TranscriptionSegment>{std::move(segment)}};
    }

    if (singleTimestampEnding) {
        std::size_t lastTimestamp = count - 1;
        while (!isTimestamp[lastTimestamp])
            --lastTimestamp;
        sliceEnds.push_back(lastTimestamp + 1);
    } else if (noTimestampEnding) {
        sliceEnds.push_back(count);
    }

    std::vector<TranscriptionSegment> segments;
    std::size_t sliceStart = 0;
    for (const std::size_t sliceEnd : sliceEnds) {
        const std::vector<std::int64_t> slice(tokens.begin() + static_cast<std::ptrdiff_t>(sliceStart),
                                              tokens.begin() + static_cast<std::ptrdiff_t>(sliceEnd));
        const auto first = std::find_if(slice.begin(), slice.end(), [&](auto t) { return t >= timeToken; });
        const auto last = std::find_if(slice.rbegin(), slice.rend(), [&](auto t) { return t >= timeToken; });
        if (first != slice.end()) {
            TranscriptionSegment segment = scoredSegment(result);
            segment.id = allSegmentsCount + static_cast<std::int64_t>(segments.size());
            segment.seek = currentSeek;
            segment.start = windowStart + static_cast<float>(*first - timeToken) * kSecondsPerTimeToken;
            segment.end = windowStart + static_cast<float>(*last - timeToken) * kSecondsPerTimeToken;
            segment.text = segmentText(slice, options, tokenizer);
            segment.tokens = slice;
            segment.tokenLogProbs.assign(logProbs.begin() + static_cast<std::ptrdiff_t>(sliceStart),
                                         logProbs.begin() + static_cast<std::ptrdiff_t>(sliceEnd));
            segments.push_back(std::move(segment));
        }
        sliceStart = sliceEnd;
    }

    std::int64_t seek = currentSeek + segmentSize;
    if (!noTimestampEnding) {
        const std::int64_t lastToken =
            singleTimestampEnding ? tokens[sliceEnds.back() - 1] : tokens[sliceEnds.back()];
        seek = currentSeek + truncatedSamples(static_cast<float>(lastToken - timeToken) *
                                              kSecondsPerTimeToken * static_cast<float>(sampleRate));
    }
    return {seek, std::move(segments)};
}

std::optional<std::vector<TranscriptionSegment>> SegmentSeeker::addWordTimestamps(
    std::vector<TranscriptionSegment> segments, const MultiArray& alignmentWeights,
    const WhisperTokenizer& tokenizer, std::int64_t seek, std::int64_t /*segmentSize*/,
    std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
    const DecodingOptions& /*options*/, const TranscriptionTimings& timings) const {
    std::vector<std::int64_t> tokenIds;
    std::vector<std::int64_t> positions;
    std::vector<float> logProbs;
    std::int64_t offset = 0;
    for (const auto& segment : segments) {
        for (std::size_t i = 0; i < segment.tokens.size(); ++i) {
            const std::int64_t token = segment.tokens[i];
            tokenIds.push_back(token);
            positions.push_back(offset + static_cast<std::int64_t>(i));
            float logProb = 0;
            if (i < segment.tokenLogProbs.size()) {
                const auto found = segment.tokenLogProbs[i].find(token);
                if (found != segment.tokenLogProbs[i].end())
                    logProb = found->second;
            }
            logProbs.push_back(logProb);
        }
        offset += static_cast<std::int64_t>(segment.tokens.size());
    }

    if (alignmentWeights.shape().empty())
        throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
    if (alignmentWeights.shape().size() != 2)
        throw WhisperError::segmentingFailed("Invalid alignment matrix shape");

    std::vector<WordTiming> alignment;
    // Without tokens or frames there is no path to walk: every segment gets an empty word list.
    if (!tokenIds.empty() && alignmentWeights.shape()[1] > 0) {
        const MultiArray selected = selectRows(alignmentWeights, positions);
        Logging::debug("Alignment weights shape: " + shapeText(selected.shape()));
        alignment = findAlignment(tokenIds, selected, logProbs, tokenizer, timings);
    }
    const auto [median, maxDuration] = calculateWordDurationConstraints(alignment);
    alignment = truncateLongWordsAtSentenceBoundaries(std::move(alignment), maxDuration);
    if (!alignment.empty())
        alignment = mergePunctuations(alignment, prependPunctuations, appendPunctuations);
    return updateSegmentsWithWordTimings(std::move(segments), alignment, seek, lastSpeechTimestamp, median,
                                         maxDuration, tokenizer);
}

SegmentSeeker::Path SegmentSeeker::dynamicTimeWarping(const MultiArray& matrix) const {
    if (matrix.shape().size() != 2)
        throw WhisperError::segmentingFailed("Invalid alignment matrix shape");
    const std::int64_t rows = matrix.shape()[0];
    const std::int64_t columns = matrix.shape()[1];
    const std::int64_t width = columns + 1;
    std::vector<double> cost(static_cast<std::size_t>((rows + 1) * width),
                             std::numeric_limits<double>::infinity());
    std::vector<std::int8_t> trace(cost.size(), -1);
    cost[0] = 0;
    for (std::int64_t j = 1; j <= columns; ++j)
        trace[static_cast<std::size_t>(j)] = 2;
    for (std::int64_t i = 1; i <= rows; ++i)
        trace[static_cast<std::size_t>(i * width)] = 1;
    for (std::int64_t i = 1; i <= rows; ++i) {
        for (std::int64_t j = 1; j <= columns; ++j) {
            const auto at = [&](std::int64_t r, std::int64_t c) {
                return static_cast<std::size_t>(r * width + c);
            };
            const auto [value, code] = minCostAndTrace(cost[at(i - 1, j - 1)], cost[at(i - 1, j)],
                                                       cost[at(i, j - 1)], elementAt(matrix, i - 1, j - 1));
            cost[at(i, j)] = value;
            trace[at(i, j)] = static_cast<std::int8_t>(code);
        }
    }
    return backtrace(trace, rows, columns);
}

std::pair<double, int> SegmentSeeker::minCostAndTrace(double costDiagonal, double costUp, double costLeft,
                                                      double matrixValue) const {
    const double c0 = costDiagonal - matrixValue;
    const double c1 = costUp - matrixValue;
    const double c2 = costLeft - matrixValue;
    if (c0 < c1 && c0 < c2)
        return {c0, 0};
    if (c1 < c0 && c1 < c2)
        return {c1, 1};
    return {c2, 2};
}

SegmentSeeker::Path SegmentSeeker::backtrace(const std::vector<std::int8_t>& trace, std::int64_t rows,
                                             std::int64_t columns) const {
    Path path;
    std::int64_t i = rows;
    std::int64_t j = columns;
    while (i > 0 || j > 0) {
        path.textIndices.push_back(i - 1);
        path.timeIndices.push_back(j - 1);
        const std::size_t at = static_cast<std::size_t>(i * (columns + 1) + j);
        switch (at < trace.size() ? trace[at] : -1) {
        case 0:
            --i;
            --j;
            break;
        case 1:
            --i;
            break;
        case 2:
            --j;
            break;
        default:
            // An unset cell cannot be reached from a filled trace; leave towards the origin.
            if (i > 0)
                --i;
            else
                --j;
        }
    }
    std::reverse(path.textIndices.begin(), path.textIndices.end());
    std::reverse(path.timeIndices.begin(), path.timeIndices.end());
    return path;
}

std::vector<WordTiming> SegmentSeeker::findAlignment(const std::vector<std::int64_t>& wordTokenIds,
                                                     const MultiArray& alignmentWeights,
                                                     const std::vector<float>& tokenLogProbs,
                                                     const WhisperTokenizer& tokenizer,
                                                     const TranscriptionTimings& /*timings*/) const {
    const Path path = dynamicTimeWarping(alignmentWeights);
    const WordTokens split = tokenizer.splitToWordTokens(wordTokenIds);
    if (split.words.size() <= 1)
        return {};

    std::vector<float> jumpTimes;
    for (std::size_t k = 1; k < path.textIndices.size(); ++k) {
        if (path.textIndices[k] != path.textIndices[k - 1])
            jumpTimes.push_back(static_cast<float>(path.timeIndices[k]) * kSecondsPerTimeToken);
    }
    std::vector<float> startTimes{0};
    startTimes.insert(startTimes.end(), jumpTimes.begin(), jumpTimes.end());
    std::vector<float> endTimes = jumpTimes;
    endTimes.push_back(static_cast<float>(path.timeIndices.empty() ? 1500 : path.timeIndices.back()) *
                       kSecondsPerTimeToken);

    std::vector<WordTiming> alignment;
    std::size_t h = 0;
    for (std::size_t i = 0; i < split.words.size(); ++i) {
        const std::size_t n = split.wordTokens[i].size();
        // A tokenizer whose words hold more tokens than were aligned ends the alignment there.
        if (n == 0 || h + n > endTimes.size() || h + n > tokenLogProbs.size())
            break;
        double sum = 0;
        for (std::size_t k = h; k < h + n; ++k)
            sum += tokenLogProbs[k];
        alignment.push_back(
            WordTiming{.word = split.words[i],
                       .tokens = split.wordTokens[i],
                       .start = startTimes[h],
                       .end = endTimes[h + n - 1],
                       .probability = std::exp(static_cast<float>(sum / static_cast<double>(n)))});
        h += n;
    }
    return alignment;
}

std::pair<float, float>
SegmentSeeker::calculateWordDurationConstraints(const std::vector<WordTiming>& alignment) const {
    std::vector<float> durations;
    for (const auto& word : alignment) {
        if (word.end - word.start > 0)
            durations.push_back(word.end - word.start);
    }
    std::sort(durations.begin(), durations.end());
    float median = durations.empty() ? 0.0f : durations[durations.size() / 2];
    median = std::min(median, 0.7f);
    return {median, median * 2};
}

std::vector<WordTiming>
SegmentSeeker::truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment,
                                                     float maxDuration) const {
    for (std::size_t i = 1; i < alignment.size(); ++i) {
        WordTiming& word = alignment[i];
        if (word.end - word.start <= maxDuration)
            continue;
        if (isSentenceEnd(word.word))
            word.end = word.start + maxDuration;
        else if (isSentenceEnd(alignment[i - 1].word))
            word.start = word.end - maxDuration;
    }
    return alignment;
}

std::vector<WordTiming> SegmentSeeker::mergePunctuations(const std::vector<WordTiming>& alignment,
                                                         std::string_view prepended,
                                                         std::string_view appended) const {
    if (alignment.empty())
        return {};

    std::vector<WordTiming> prepass;
    if (!containedIn(trimmed(alignment.front().word), prepended))
        prepass.push_back(alignment.front());
    for (std::size_t i = 1; i < alignment.size(); ++i) {
        const WordTiming& previous = alignment[i - 1];
        const WordTiming& word = alignment[i];
        const bool opensWord =
            beginsWithWhitespace(previous.word) && containedIn(trimmed(previous.word), prepended);
        if (!opensWord) {
            prepass.push_back(word);
            continue;
        }
        WordTiming joined = prepass.empty() ? previous : prepass.back();
        joined.word += word.word;
        appendTokens(joined.tokens, word.tokens);
        joined.start = word.start;
        joined.end = word.end;
        joined.probability = word.probability;
        if (prepass.empty())
            prepass.push_back(std::move(joined));
        else
            prepass.back() = std::move(joined);
    }
    if (prepass.empty())
        return {};

    std::vector<WordTiming> merged{prepass.front()};
    for (std::size_t i = 0; i + 1 < prepass.size(); ++i) {
        const WordTiming& current = prepass[i];
        const WordTiming& next = prepass[i + 1];
        const bool closesWord =
            (current.word.empty() || current.word.back() != ' ') && containedIn(trimmed(next.word), appended);
        if (closesWord) {
            merged.back().word += next.word;
            appendTokens(merged.back().tokens, next.tokens);
        } else {
            merged.push_back(next);
        }
    }

    std::vector<WordTiming> result;
    for (auto& word : merged) {
        if (!word.word.empty() && !containedIn(word.word, appended) && !containedIn(word.word, prepended))
            result.push_back(std::move(word));
    }
    return result;
}

std::vector<TranscriptionSegment> SegmentSeeker::updateSegmentsWithWordTimings(
    std::vector<TranscriptionSegment> segments, const std::vector<WordTiming>& mergedAlignment,
    std::int64_t seek, float lastSpeechTimestamp, float constrainedMedianDuration, float maxDuration,
    const WhisperTokenizer& tokenizer) const {
    const float median = constrainedMedianDuration;
    const float maxLength = maxDuration;
    const float offset = static_cast<float>(seek) / kSampleRate;
    const std::int64_t specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
    const auto round2 = [](float value) { return basalith::rounded(value, 2); };
    float lastSpeech = lastSpeechTimestamp;
    std::optional<float> previousSegmentEnd;
    std::size_t wordIndex = 0;

    for (auto& segment : segments) {
        const std::size_t textTokenCount = textTokensOf(segment.tokens, specialTokenBegin).size();
        std::vector<WordTiming> words;
        std::size_t consumed = 0;
        while (wordIndex < mergedAlignment.size() && consumed < textTokenCount) {
            const WordTiming& timing = mergedAlignment[wordIndex++];
            std::vector<std::int64_t> kept = textTokensOf(timing.tokens, specialTokenBegin);
            if (kept.empty())
                continue;
            WordTiming word{.word =
                                kept.size() != timing.tokens.size() ? tokenizer.decode(kept) : timing.word,
                            .tokens = kept,
                            .start = round2(offset + timing.start),
                            .end = round2(offset + timing.end),
                            .probability = round2(timing.probability)};
            if (word.end - word.start < median * 0.25f) {
                const std::optional<float> previousEnd =
                    words.empty() ? previousSegmentEnd : words.back().end;
                if (previousEnd && *previousEnd < word.start)
                    word.start = round2(word.start - std::min(median * 0.5f, word.start - *previousEnd));
            }
            consumed += kept.size();
            words.push_back(std::move(word));
        }

        if (!words.empty()) {
            WordTiming& first = words.front();
            const bool longPause = first.end - lastSpeech > 4 * median &&
                                   (first.end - first.start > maxLength ||
                                    (words.size() >= 2 && words[1].end - first.start > 2 * maxLength));
            if (longPause) {
                if (words.size() >= 2 && words[1].end - words[1].start > maxLength) {
                    const float boundary = std::max(words[1].end * 0.5f, words[1].end - maxLength);
                    first.end = boundary;
                    words[1].start = boundary;
                }
                first.start = std::max(lastSpeech, first.end - maxLength);
            }
            if (segment.start < first.end && first.start < segment.start - 0.5f)
                first.start = std::max(0.0f, std::min(segment.start, first.end - median));
            else
                segment.start = first.start;
            WordTiming& last = words.back();
            if (last.start < segment.end && segment.end + 0.5f < last.end)
                last.end = std::max(segment.end, last.start + median);
            else
                segment.end = last.end;
            lastSpeech = segment.end;
        }
        previousSegmentEnd = segment.end;
        segment.words = std::move(words);
    }
    return segments;
}

} // namespace vocalith
