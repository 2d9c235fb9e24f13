#include "engine/diarization/result/SpeakerSegment.h"

#include "engine/diarization/DiarithError.h"
#include "platform/text/Whitespace.h"

#include <cmath>
#include <cstdio>

namespace diarith {
namespace {

std::string twoDecimals(float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(value));
    return buffer;
}

} // namespace

std::int64_t frameAt(float seconds, float frameRate, const std::string& input) {
    const float product = seconds * frameRate;
    // 2^63 is exact in a float; anything from it up, or below −2^63, has no 64-bit frame.
    constexpr float limit = 9223372036854775808.0f;
    if (!std::isfinite(product) || product >= limit || product < -limit) {
        throw DiarithError::invalidConfiguration(input + " × frameRate is not a finite 64-bit frame");
    }
    return static_cast<std::int64_t>(product);
}

SpeakerSegment::SpeakerSegment(SpeakerInfo speaker, float startTime, float endTime, float frameRate,
                               std::optional<std::int64_t> startFrame, std::optional<std::int64_t> endFrame,
                               std::optional<vocalith::TranscriptionSegment> transcription,
                               std::vector<SpeakerWordTiming> speakerWords)
    : id_(basalith::Uuid::random()), speaker_(std::move(speaker)), startTime_(startTime), endTime_(endTime),
      frameRate_(frameRate), originalStartFrame_(startFrame), originalEndFrame_(endFrame),
      transcription_(std::move(transcription)), speakerWords_(std::move(speakerWords)) {}

SpeakerSegment SpeakerSegment::withFrames(SpeakerInfo speaker, std::int64_t startFrame, std::int64_t endFrame,
                                          float frameRate,
                                          std::optional<vocalith::TranscriptionSegment> transcription,
                                          std::vector<SpeakerWordTiming> speakerWords) {
    return SpeakerSegment(std::move(speaker), static_cast<float>(startFrame) / frameRate,
                          static_cast<float>(endFrame) / frameRate, frameRate, startFrame, endFrame,
                          std::move(transcription), std::move(speakerWords));
}

SpeakerSegment SpeakerSegment::withTimes(SpeakerInfo speaker, float startTime, float endTime, float frameRate,
                                         std::optional<vocalith::TranscriptionSegment> transcription,
                                         std::vector<SpeakerWordTiming> speakerWords) {
    return SpeakerSegment(std::move(speaker), startTime, endTime, frameRate, std::nullopt, std::nullopt,
                          std::move(transcription), std::move(speakerWords));
}

SpeakerSegment::SpeakerSegment(vocalith::TranscriptionSegment transcription,
                               std::vector<SpeakerWordTiming> speakerWords, float diarizationFrameRate)
    : SpeakerSegment(SpeakerInfo::noMatch(), 0.0f, 0.0f, diarizationFrameRate, std::nullopt, std::nullopt,
                     std::move(transcription), std::move(speakerWords)) {
    if (speakerWords_.empty())
        return;
    if (speakerWords_.front().speaker.kind() == SpeakerInfo::Kind::speakerId)
        speaker_ = speakerWords_.front().speaker;
    startTime_ = speakerWords_.front().wordTiming.start;
    endTime_ = speakerWords_.front().wordTiming.end;
    for (const auto& word : speakerWords_) {
        startTime_ = word.wordTiming.start < startTime_ ? word.wordTiming.start : startTime_;
        endTime_ = word.wordTiming.end > endTime_ ? word.wordTiming.end : endTime_;
    }
}

std::int64_t SpeakerSegment::startFrame() const {
    return originalStartFrame_ ? *originalStartFrame_
                               : frameAt(startTime_, frameRate_, "SpeakerSegment: startTime");
}

std::int64_t SpeakerSegment::endFrame() const {
    return originalEndFrame_ ? *originalEndFrame_ : frameAt(endTime_, frameRate_, "SpeakerSegment: endTime");
}

std::string SpeakerSegment::text() const {
    std::string joined;
    for (const auto& word : speakerWords_)
        joined += word.wordTiming.word;
    return joined;
}

std::string SpeakerSegment::description() const {
    const float start = speakerWords_.empty() ? startTime_ : speakerWords_.front().wordTiming.start;
    const float end = speakerWords_.empty() ? endTime_ : speakerWords_.back().wordTiming.end;
    return speaker_.description() + " [" + twoDecimals(start) + "-" + twoDecimals(end) +
           "s]: " + velnote::platform::trimSpacesAndTabs(text());
}

std::string SpeakerSegment::debugDescription() const {
    return "Segment " + id_.toString() + " -- " + description();
}

} // namespace diarith
