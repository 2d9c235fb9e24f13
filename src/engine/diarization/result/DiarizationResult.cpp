#include "engine/diarization/result/DiarizationResult.h"

#include "engine/foundation/Logging.h"

#include <algorithm>

namespace diarith {

using basalith::Logging;

namespace {

void logNoWords(const vocalith::TranscriptionSegment& segment) {
    Logging::info("[Diarith] No words for segment: " + std::to_string(segment.id) +
                  ". Enable `wordTimestamps` on DecodingOptions.");
}

vocalith::TranscriptionSegment closeGroup(std::vector<vocalith::WordTiming> words) {
    vocalith::TranscriptionSegment segment;
    segment.start = words.front().start;
    segment.end = words.back().end;
    for (const auto& word : words)
        segment.text += word.word;
    segment.tokenLogProbs = {{}};
    segment.temperature = 1.0f;
    segment.avgLogprob = 0.0f;
    segment.compressionRatio = 1.0f;
    segment.noSpeechProb = 0.0f;
    segment.words = std::move(words);
    return segment;
}

// Consecutive words form one group until a pause longer than the threshold (seconds); a pause equal
// to it, or one that is not a number, keeps the words together.
std::vector<vocalith::TranscriptionSegment>
groupWordsIntoSubsegments(const std::vector<vocalith::WordTiming>& words, float betweenWordThreshold) {
    std::vector<vocalith::TranscriptionSegment> groups;
    if (words.empty())
        return groups;
    std::vector<vocalith::WordTiming> current{words.front()};
    for (std::size_t j = 1; j < words.size(); ++j) {
        const float gap = words[j].start - words[j - 1].end;
        if (betweenWordThreshold < gap) {
            groups.push_back(closeGroup(std::move(current)));
            current.clear();
        }
        current.push_back(words[j]);
    }
    groups.push_back(closeGroup(std::move(current)));
    return groups;
}

} // namespace

DiarizationResult::DiarizationResult(BinaryMatrix binaryMatrix, float diarizationFrameRate)
    : binaryMatrix_(std::move(binaryMatrix)), speakerCount_(static_cast<std::int64_t>(binaryMatrix_.size())),
      totalFrames_(binaryMatrix_.empty() ? 0 : static_cast<std::int64_t>(binaryMatrix_.front().size())),
      frameRate_(diarizationFrameRate) {
    updateSegments(0.0f);
}

DiarizationResult::DiarizationResult(std::int64_t speakerCount, std::int64_t totalFrames, float frameRate,
                                     std::vector<SpeakerSegment> segments,
                                     std::shared_ptr<const DiarizationTimings> timings)
    : speakerCount_(speakerCount), totalFrames_(totalFrames), frameRate_(frameRate),
      segments_(std::move(segments)), timings_(std::move(timings)) {}

void DiarizationResult::updateSegments(float minActiveOffset) {
    if (binaryMatrix_.empty()) {
        Logging::debug("[Diarith] updateSegments skipped (no binary matrix)");
        return;
    }
    const std::int64_t maxGap = frameAt(minActiveOffset, frameRate_, "updateSegments: minActiveOffset");
    Logging::debug("[Diarith] updateSegments with min", minActiveOffset, "offset");

    std::vector<SpeakerSegment> turns;
    for (std::size_t i = 0; i < binaryMatrix_.size(); ++i) {
        const auto& row = binaryMatrix_[i];
        const auto speaker = SpeakerInfo::speakerId(static_cast<std::int64_t>(i));
        bool inRun = false;
        std::int64_t runStart = 0;
        for (std::size_t j = 0; j < row.size(); ++j) {
            const auto frame = static_cast<std::int64_t>(j);
            if (row[j] != 1) {
                if (inRun)
                    turns.push_back(SpeakerSegment::withFrames(speaker, runStart, frame, frameRate_));
                inRun = false;
                continue;
            }
            if (!turns.empty() && turns.back().speaker() == speaker &&
                frame - turns.back().endFrame() <= maxGap) {
                // The run continues the previous turn of this speaker across a short gap.
                runStart = turns.back().startFrame();
                turns.pop_back();
                inRun = true;
            } else if (!inRun) {
                runStart = frame;
                inRun = true;
            }
        }
        if (inRun)
            turns.push_back(SpeakerSegment::withFrames(speaker, runStart,
                                                       static_cast<std::int64_t>(row.size()), frameRate_));
    }
    std::stable_sort(turns.begin(), turns.end(), [](const SpeakerSegment& a, const SpeakerSegment& b) {
        return a.startFrame() < b.startFrame();
    });
    segments_ = std::move(turns);
}

std::optional<SpeakerInfo>
DiarizationResult::findSpeakerForSegment(const vocalith::TranscriptionSegment& segment,
                                         SegmentMatchingMode matchingMode) const {
    const std::int64_t s0 = frameAt(segment.start, frameRate_, "findSpeakerForSegment: segment start");
    const std::int64_t e0 = frameAt(segment.end, frameRate_, "findSpeakerForSegment: segment end");
    const SpeakerSegment* best = nullptr;
    float bestScore = 0.0f;
    for (const auto& turn : segments_) {
        const std::int64_t ss = turn.startFrame();
        const std::int64_t se = turn.endFrame();
        if (se < s0)
            continue;
        if (ss > e0)
            break;
        // Wide arithmetic: frames anywhere in the 64-bit range must not overflow a difference.
        using Wide = __int128;
        const Wide overlap = std::max<Wide>(0, Wide{std::min(se, e0)} - Wide{std::max(ss, s0)});
        float score = static_cast<float>(overlap);
        if (matchingMode == SegmentMatchingMode::intersectionOverUnion) {
            const Wide unionFrames = Wide{std::max(se, e0)} - Wide{std::min(ss, s0)};
            if (unionFrames == 0)
                continue;
            score = static_cast<float>(overlap) / static_cast<float>(unionFrames);
        }
        if (best == nullptr || bestScore < score) {
            best = &turn;
            bestScore = score;
        }
    }
    if (best == nullptr)
        return std::nullopt;
    return best->speaker();
}

std::vector<SpeakerSegment> DiarizationResult::processSegmentsWithMatchingMode(
    const std::vector<vocalith::TranscriptionSegment>& segments, SegmentMatchingMode matchingMode) const {
    SpeakerInfo lastSpeaker = SpeakerInfo::noMatch();
    std::vector<SpeakerSegment> output;
    for (const auto& segment : segments) {
        if (!segment.words || segment.words->empty()) {
            logNoWords(segment);
            continue;
        }
        // A segment in a pause between turns keeps the speaker of the segment before it.
        const SpeakerInfo speaker = findSpeakerForSegment(segment, matchingMode).value_or(lastSpeaker);
        std::vector<SpeakerWordTiming> speakerWords;
        for (const auto& word : *segment.words)
            speakerWords.push_back(SpeakerWordTiming{.wordTiming = word, .speaker = speaker});
        output.emplace_back(segment, std::move(speakerWords), frameRate_);
        lastSpeaker = speaker;
    }
    return output;
}

std::vector<std::vector<SpeakerSegment>>
DiarizationResult::addSpeakerInfo(const std::vector<vocalith::TranscriptionResultPtr>& transcription,
                                  const SpeakerInfoStrategy& strategy) const {
    std::vector<std::vector<SpeakerSegment>> lists;
    for (const auto& result : transcription) {
        if (!result) {
            lists.emplace_back();
            continue;
        }
        const auto segments = result->segments();
        if (strategy.kind() == SpeakerInfoStrategy::Kind::segment) {
            lists.push_back(
                processSegmentsWithMatchingMode(segments, SegmentMatchingMode::intersectionOverUnion));
            continue;
        }
        std::vector<vocalith::TranscriptionSegment> groups;
        for (const auto& segment : segments) {
            if (!segment.words || segment.words->empty()) {
                logNoWords(segment);
                continue;
            }
            auto more = groupWordsIntoSubsegments(*segment.words, strategy.betweenWordThreshold());
            groups.insert(groups.end(), std::make_move_iterator(more.begin()),
                          std::make_move_iterator(more.end()));
        }
        lists.push_back(processSegmentsWithMatchingMode(groups, SegmentMatchingMode::overlap));
    }
    return lists;
}

} // namespace diarith
