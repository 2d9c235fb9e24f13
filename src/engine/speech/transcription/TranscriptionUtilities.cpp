#include "engine/speech/transcription/TranscriptionUtilities.h"

#include "engine/speech/TextFormat.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Regex.h"
#include "platform/text/Whitespace.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vocalith {

namespace {

std::int64_t samplesOf(float seekTime) {
    const float samples = std::trunc(seekTime * 16000.0f);
    if (std::isnan(samples))
        return 0;
    if (samples >= 9.2e18f)
        return std::numeric_limits<std::int64_t>::max();
    if (samples <= -9.2e18f)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(samples);
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

std::string normalizedWord(const std::string& word) {
    static const velnote::platform::Regex punctuation("\\p{P}");
    static const velnote::platform::Regex spaces(" +");
    std::string text = velnote::platform::lowercased(word);
    std::replace(text.begin(), text.end(), '-', ' ');
    text = punctuation.replaceAll(text, "");
    text = spaces.replaceAll(text, " ");
    return velnote::platform::trimWhitespace(text);
}

std::size_t commonPrefixLength(const std::vector<WordTiming>& first, const std::vector<WordTiming>& second) {
    const std::size_t limit = std::min(first.size(), second.size());
    std::size_t length = 0;
    while (length < limit &&
           detail::equalTexts(normalizedWord(first[length].word), normalizedWord(second[length].word)))
        ++length;
    return length;
}

using Member = double TranscriptionTimings::*;

TranscriptionTimings mergeTimings(const std::vector<TranscriptionTimings>& all) {
    TranscriptionTimings merged;
    for (const auto& [name, member] : TranscriptionTimings::fields())
        merged.*member = 0;
    if (all.empty())
        return merged;

    const auto fold = [&all](Member member, auto combine) {
        double value = all.front().*member;
        for (std::size_t i = 1; i < all.size(); ++i)
            value = combine(value, all[i].*member);
        return value;
    };
    const auto smallest = [](double a, double b) { return std::min(a, b); };
    const auto largest = [](double a, double b) { return std::max(a, b); };
    const auto sum = [](double a, double b) { return a + b; };

    using T = TranscriptionTimings;
    merged.pipelineStart = fold(&T::pipelineStart, smallest);
    merged.firstTokenTime = fold(&T::firstTokenTime, smallest);
    for (const Member member : {&T::modelLoading, &T::prewarmLoadTime, &T::encoderLoadTime,
                                &T::decoderLoadTime, &T::tokenizerLoadTime})
        merged.*member = fold(member, largest);
    for (const Member member : {&T::inputAudioSeconds,
                                &T::audioLoading,
                                &T::audioProcessing,
                                &T::logmels,
                                &T::encoding,
                                &T::prefill,
                                &T::decodingInit,
                                &T::decodingLoop,
                                &T::decodingPredictions,
                                &T::decodingFiltering,
                                &T::decodingSampling,
                                &T::decodingFallback,
                                &T::decodingWindowing,
                                &T::decodingKvCaching,
                                &T::decodingWordTimestamps,
                                &T::decodingNonPrediction,
                                &T::totalAudioProcessingRuns,
                                &T::totalLogmelRuns,
                                &T::totalEncodingRuns,
                                &T::totalDecodingLoops,
                                &T::totalKVUpdateRuns,
                                &T::totalTimestampAlignmentRuns,
                                &T::totalDecodingFallbacks,
                                &T::totalDecodingWindows})
        merged.*member = fold(member, sum);

    double latestEnd = all.front().pipelineStart + all.front().fullPipeline;
    for (const auto& timings : all)
        latestEnd = std::max(latestEnd, timings.pipelineStart + timings.fullPipeline);
    merged.fullPipeline = std::min(fold(&T::fullPipeline, sum), latestEnd - merged.pipelineStart);
    return merged;
}

} // namespace

TranscriptionSegment TranscriptionUtilities::updateSegmentTimings(const TranscriptionSegment& segment,
                                                                  float seekTime) {
    TranscriptionSegment shifted = segment;
    shifted.seek = saturatingAdd(segment.seek, samplesOf(seekTime));
    shifted.start += seekTime;
    shifted.end += seekTime;
    if (shifted.words) {
        for (auto& word : *shifted.words) {
            word.start += seekTime;
            word.end += seekTime;
        }
    }
    return shifted;
}

std::vector<std::string>
TranscriptionUtilities::formatSegments(const std::vector<TranscriptionSegment>& segments,
                                       bool withTimestamps) {
    std::vector<std::string> lines;
    lines.reserve(segments.size());
    for (const auto& segment : segments) {
        if (withTimestamps) {
            lines.push_back(cFormat("[%.2f --> %.2f] ", static_cast<double>(segment.start),
                                    static_cast<double>(segment.end)) +
                            segment.text);
        } else {
            lines.push_back(segment.text);
        }
    }
    return lines;
}

std::vector<WordTiming>
TranscriptionUtilities::findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                const std::vector<WordTiming>& second) {
    return {second.begin(), second.begin() + static_cast<std::ptrdiff_t>(commonPrefixLength(first, second))};
}

std::vector<WordTiming>
TranscriptionUtilities::findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                   const std::vector<WordTiming>& second) {
    return {second.begin() + static_cast<std::ptrdiff_t>(commonPrefixLength(first, second)), second.end()};
}

TranscriptionResultPtr TranscriptionUtilities::mergeTranscriptionResults(
    const std::vector<TranscriptionResultPtr>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords) {
    std::string text;
    if (confirmedWords) {
        for (const auto& word : *confirmedWords)
            text += word.word;
    } else {
        for (std::size_t i = 0; i < results.size(); ++i)
            text += (i == 0 ? "" : " ") + (results[i] ? results[i]->text() : std::string());
    }

    std::vector<TranscriptionSegment> segments;
    std::vector<TranscriptionTimings> timings;
    std::optional<std::string> language;
    std::int64_t position = 0;
    for (const auto& result : results) {
        if (!result)
            continue;
        const auto own = result->segments();
        for (std::size_t s = 0; s < own.size(); ++s) {
            segments.push_back(own[s]);
            // Result position plus segment position, not a running count: the merge keeps each
            // result's own numbering, shifted by its place in the list.
            segments.back().id = position + static_cast<std::int64_t>(s);
        }
        if (!language)
            language = result->language();
        timings.push_back(result->timings());
        ++position;
    }
    return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments),
                                                 language.value_or("en"), mergeTimings(timings));
}

TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime) {
    return TranscriptionUtilities::updateSegmentTimings(segment, seekTime);
}
std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments,
                                        bool withTimestamps) {
    return TranscriptionUtilities::formatSegments(segments, withTimestamps);
}
std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                const std::vector<WordTiming>& second) {
    return TranscriptionUtilities::findLongestCommonPrefix(first, second);
}
std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                   const std::vector<WordTiming>& second) {
    return TranscriptionUtilities::findLongestDifferentSuffix(first, second);
}
TranscriptionResultPtr
mergeTranscriptionResults(const std::vector<TranscriptionResultPtr>& results,
                          const std::optional<std::vector<WordTiming>>& confirmedWords) {
    return TranscriptionUtilities::mergeTranscriptionResults(results, confirmedWords);
}

} // namespace vocalith
