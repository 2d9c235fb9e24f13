#include "engine/speech/audio/VoiceActivityDetector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vocalith {

VoiceActivityDetector::VoiceActivityDetector(std::int64_t sampleRate, std::int64_t frameLengthSamples,
                                             std::int64_t frameOverlapSamples)
    : sampleRate_(sampleRate), frameLengthSamples_(frameLengthSamples),
      frameOverlapSamples_(frameOverlapSamples) {
    if (frameLengthSamples <= 0 || frameOverlapSamples < 0 || sampleRate <= 0)
        throw std::invalid_argument("voice activity frames need a positive length and rate");
}

std::vector<bool> VoiceActivityDetector::voiceActivityAsync(const std::vector<float>& samples) const {
    return voiceActivity(samples);
}

std::vector<IndexRange>
VoiceActivityDetector::calculateActiveChunks(const std::vector<float>& samples) const {
    const std::vector<bool> activity = voiceActivity(samples);
    const auto count = static_cast<std::int64_t>(samples.size());
    std::vector<IndexRange> chunks;
    for (std::size_t i = 0; i < activity.size(); ++i) {
        if (!activity[i])
            continue;
        const auto frame = static_cast<std::int64_t>(i);
        const std::int64_t start = std::min(frame * frameLengthSamples_, count);
        const std::int64_t end = std::min((frame + 1) * frameLengthSamples_, count);
        if (i > 0 && activity[i - 1] && !chunks.empty()) {
            chunks.back().endIndex = end;
        } else {
            chunks.push_back({start, end});
        }
    }
    return chunks;
}

std::int64_t VoiceActivityDetector::voiceActivityIndexToAudioSampleIndex(std::int64_t frameIndex) const {
    return frameIndex * frameLengthSamples_;
}

float VoiceActivityDetector::voiceActivityIndexToSeconds(std::int64_t frameIndex) const {
    return static_cast<float>(voiceActivityIndexToAudioSampleIndex(frameIndex)) /
           static_cast<float>(sampleRate_);
}

std::optional<IndexRange> VoiceActivityDetector::findLongestSilence(const std::vector<bool>& activity) const {
    std::optional<IndexRange> longest;
    std::int64_t runStart = -1;
    const auto count = static_cast<std::int64_t>(activity.size());
    for (std::int64_t i = 0; i <= count; ++i) {
        const bool silent = i < count && !activity[static_cast<std::size_t>(i)];
        if (silent && runStart < 0)
            runStart = i;
        if (!silent && runStart >= 0) {
            if (!longest || i - runStart > longest->endIndex - longest->startIndex)
                longest = IndexRange{runStart, i};
            runStart = -1;
        }
    }
    return longest;
}

std::vector<float>
VoiceActivityDetector::voiceActivityClipTimestamps(const std::vector<float>& samples) const {
    std::vector<float> times;
    for (const auto& [start, end] : calculateSeekTimestamps(samples)) {
        times.push_back(start);
        times.push_back(end);
    }
    return times;
}

std::vector<std::pair<std::int64_t, std::int64_t>>
VoiceActivityDetector::calculateNonSilentSeekClips(const std::vector<float>& samples) const {
    std::vector<std::pair<std::int64_t, std::int64_t>> clips;
    for (const auto& chunk : calculateActiveChunks(samples))
        clips.emplace_back(chunk.startIndex, chunk.endIndex);
    return clips;
}

std::vector<std::pair<float, float>>
VoiceActivityDetector::calculateSeekTimestamps(const std::vector<float>& samples) const {
    std::vector<std::pair<float, float>> times;
    const auto rate = static_cast<float>(sampleRate_);
    for (const auto& [start, end] : calculateNonSilentSeekClips(samples))
        times.emplace_back(static_cast<float>(start) / rate, static_cast<float>(end) / rate);
    return times;
}

EnergyVAD::EnergyVAD(std::int64_t sampleRate, std::int64_t frameLengthSamples,
                     std::int64_t frameOverlapSamples, float energyThreshold)
    : VoiceActivityDetector(sampleRate, frameLengthSamples, frameOverlapSamples),
      energyThreshold_(energyThreshold) {}

EnergyVAD::EnergyVAD() : EnergyVAD(16000, 1600, 0, 0.02f) {}

EnergyVAD EnergyVAD::withSeconds(std::int64_t sampleRate, float frameLength, float frameOverlap,
                                 float energyThreshold) {
    auto samplesOf = [sampleRate](float seconds) -> std::int64_t {
        const float product = std::trunc(seconds * static_cast<float>(sampleRate));
        if (!std::isfinite(product) || std::fabs(product) >= 9.2e18f)
            throw std::invalid_argument("voice activity frame time out of range");
        return static_cast<std::int64_t>(product);
    };
    return EnergyVAD(sampleRate, samplesOf(frameLength), samplesOf(frameOverlap), energyThreshold);
}

std::vector<bool> EnergyVAD::voiceActivity(const std::vector<float>& samples) const {
    const auto count = static_cast<std::int64_t>(samples.size());
    const auto frames = static_cast<std::int64_t>(
        std::ceil(static_cast<double>(count) / static_cast<double>(frameLengthSamples())));
    return calculateVoiceActivityInChunks(samples, frames, frameLengthSamples(), frameOverlapSamples(),
                                          energyThreshold_);
}

std::vector<bool> calculateVoiceActivityInChunks(const std::vector<float>& samples, std::int64_t chunkCount,
                                                 std::int64_t frameLengthSamples,
                                                 std::int64_t frameOverlapSamples, float energyThreshold) {
    const auto count = static_cast<std::int64_t>(samples.size());
    std::vector<bool> active(static_cast<std::size_t>(std::max<std::int64_t>(chunkCount, 0)), false);
    if (frameLengthSamples <= 0 || frameOverlapSamples < 0)
        return active;
    for (std::int64_t i = 0; i < chunkCount; ++i) {
        const std::int64_t start = i * frameLengthSamples;
        if (start >= count)
            break;
        const std::int64_t end = std::min(start + frameLengthSamples + frameOverlapSamples, count);
        double sum = 0;
        for (std::int64_t k = start; k < end; ++k)
            sum += static_cast<double>(samples[static_cast<std::size_t>(k)]) *
                   samples[static_cast<std::size_t>(k)];
        const auto rms = static_cast<float>(std::sqrt(sum / static_cast<double>(end - start)));
        active[static_cast<std::size_t>(i)] = rms > energyThreshold;
    }
    return active;
}

} // namespace vocalith
