#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace velnote {

// The level a capture publishes for the meter of the recording window: for every third buffer,
// the buffer's loudness before gain, times the gain, on a -65 ... 0 dBFS scale bent for the eye.
// One per capture; used on its file-write queue only.
class InputLevelMeter {
  public:
    static constexpr double kMicMaxGain = 20.0; // the microphone gain slider's range
    static constexpr double kSysMaxGain = 3.0;  // the system-audio gain slider's range
    static constexpr int kPublishEvery = 3;

    // `maxGain`: the top of the gain range the meter applies (the bottom is 0.5).
    explicit InputLevelMeter(double maxGain) : maxGain_(maxGain) {}

    // Counts one buffer; on every third, the level to publish (0 when muted).
    std::optional<float> next(std::span<const float> samples, double gain, bool muted);

    // 0 ... 0.9: r = RMS of the samples, x = r × gain (gain clamped to 0.5 ... maxGain, NaN as
    // maxGain); 0 for no samples or x not above 0; else (20·log10(min(max(x, 1e-7), 1)) + 65) / 65
    // clamped to 0 ... 1, raised to 0.85, times 0.9.
    static float normalizedLevel(std::span<const float> samples, double gain, double maxGain);

    // Root mean square; 0 for no samples.
    static float rms(std::span<const float> samples);

  private:
    double maxGain_;
    std::int64_t count_ = 0;
};

} // namespace velnote
