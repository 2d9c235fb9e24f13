#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vocalith {

// A stretch of samples or frames, end exclusive.
struct IndexRange {
    std::int64_t startIndex = 0;
    std::int64_t endIndex = 0;
    bool operator==(const IndexRange&) const = default;
};

// Judges audio frame by frame: speech or not. The base of every detector; a concrete detector
// supplies `voiceActivity`, everything else is built on it and may be replaced too.
//
// Holds only its construction values: a detector may be shared between threads.
class VoiceActivityDetector {
  public:
    // Throws std::invalid_argument when frameLengthSamples is not above 0, or a value is negative.
    VoiceActivityDetector(std::int64_t sampleRate, std::int64_t frameLengthSamples,
                          std::int64_t frameOverlapSamples);
    virtual ~VoiceActivityDetector() = default;

    std::int64_t sampleRate() const { return sampleRate_; }
    std::int64_t frameLengthSamples() const { return frameLengthSamples_; }
    // Extra samples each frame looks at beyond its own length.
    std::int64_t frameOverlapSamples() const { return frameOverlapSamples_; }

    // One decision per frame of `frameLengthSamples` (the last one possibly shorter), true = speech.
    virtual std::vector<bool> voiceActivity(const std::vector<float>& samples) const = 0;
    // The form for detectors that may fail or take long (a model, say); the engine calls it from a
    // worker thread. By default, voiceActivity.
    virtual std::vector<bool> voiceActivityAsync(const std::vector<float>& samples) const;

    // Maximal runs of speech frames as sample ranges; the last range stops at the array's end.
    virtual std::vector<IndexRange> calculateActiveChunks(const std::vector<float>& samples) const;
    virtual std::int64_t voiceActivityIndexToAudioSampleIndex(std::int64_t frameIndex) const;
    virtual float voiceActivityIndexToSeconds(std::int64_t frameIndex) const;
    // The longest run of no-speech frames (the earliest of equal ones); absent without any.
    virtual std::optional<IndexRange> findLongestSilence(const std::vector<bool>& activity) const;

    // The speech stretches as clip times for DecodingOptions::clipTimestamps: start, end, start, end, ...
    // in seconds.
    virtual std::vector<float> voiceActivityClipTimestamps(const std::vector<float>& samples) const;
    // The speech stretches as (start, end) sample pairs.
    virtual std::vector<std::pair<std::int64_t, std::int64_t>>
    calculateNonSilentSeekClips(const std::vector<float>& samples) const;
    // The speech stretches as (start, end) times in seconds.
    virtual std::vector<std::pair<float, float>>
    calculateSeekTimestamps(const std::vector<float>& samples) const;

  private:
    std::int64_t sampleRate_;
    std::int64_t frameLengthSamples_;
    std::int64_t frameOverlapSamples_;
};

// Speech wherever a frame's root-mean-square level is strictly above a fixed threshold. The
// engine's default detector: 16 kHz, 0.1 s frames, no overlap, threshold 0.02.
class EnergyVAD : public VoiceActivityDetector {
  public:
    EnergyVAD(std::int64_t sampleRate, std::int64_t frameLengthSamples, std::int64_t frameOverlapSamples,
              float energyThreshold);
    // Frame length and overlap in seconds, each × sampleRate in 32-bit float, truncated. Throws
    // std::invalid_argument for values that are not finite or give no whole frame.
    static EnergyVAD withSeconds(std::int64_t sampleRate, float frameLength, float frameOverlap,
                                 float energyThreshold);
    // The engine's default detector.
    EnergyVAD();

    float energyThreshold() const { return energyThreshold_; }

    std::vector<bool> voiceActivity(const std::vector<float>& samples) const override;

  private:
    float energyThreshold_;
};

// The energy rule on its own: chunk i covers the samples from i × frameLengthSamples up to
// frameLengthSamples + frameOverlapSamples further (stopping at the end) and is active when their
// root mean square is strictly above the threshold. Chunks that would start beyond the samples are
// inactive; nothing outside the samples is read.
std::vector<bool> calculateVoiceActivityInChunks(const std::vector<float>& samples, std::int64_t chunkCount,
                                                 std::int64_t frameLengthSamples,
                                                 std::int64_t frameOverlapSamples, float energyThreshold);

} // namespace vocalith
