#include "capture/recording/InputLevelMeter.h"

#include <algorithm>
#include <cmath>

namespace velnote {

std::optional<float> InputLevelMeter::next(std::span<const float> samples, double gain, bool muted) {
    if (++count_ < kPublishEvery) {
        return std::nullopt;
    }
    count_ = 0;
    return muted ? 0.0f : normalizedLevel(samples, gain, maxGain_);
}

float InputLevelMeter::normalizedLevel(std::span<const float> samples, double gain, double maxGain) {
    if (samples.empty()) {
        return 0.0f;
    }
    const double g = std::isnan(gain) ? maxGain : std::clamp(gain, 0.5, maxGain);
    const double x = static_cast<double>(rms(samples)) * g;
    if (std::isnan(x) || x <= 0.0) {
        return 0.0f;
    }
    const double clipped = x >= 1.0 ? 1.0 : std::max(x, 1e-7);
    const double scaled = std::clamp((20.0 * std::log10(clipped) + 65.0) / 65.0, 0.0, 1.0);
    return static_cast<float>(std::pow(scaled, 0.85) * 0.9);
}

float InputLevelMeter::rms(std::span<const float> samples) {
    if (samples.empty()) {
        return 0.0f;
    }
    double sum = 0.0;
    for (const float sample : samples) {
        sum += static_cast<double>(sample) * sample;
    }
    return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

} // namespace velnote
