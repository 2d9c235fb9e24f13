#include "platform/ml/MelFilterBank.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace velnote::platform::ml {
namespace {

constexpr double kLinearHzPerMel = 200.0 / 3.0;
constexpr double kLogStartHz = 1000.0;
constexpr double kLogStartMel = kLogStartHz / kLinearHzPerMel; // 15
// 27 mels per factor 6.4 above 1 kHz.
const double kLogStep = std::log(6.4) / 27.0;

} // namespace

double hzToSlaneyMel(double hz) {
    if (hz < kLogStartHz)
        return hz / kLinearHzPerMel;
    return kLogStartMel + std::log(hz / kLogStartHz) / kLogStep;
}

double slaneyMelToHz(double mel) {
    if (mel < kLogStartMel)
        return mel * kLinearHzPerMel;
    return kLogStartHz * std::exp(kLogStep * (mel - kLogStartMel));
}

std::vector<float> slaneyMelFilterBank(int melCount, int fftLength, double sampleRate, double minHz,
                                       double maxHz) {
    if (melCount <= 0 || fftLength <= 0 || !(sampleRate > 0.0))
        throw std::invalid_argument("mel filter bank: counts and sample rate must be positive");
    if (!(minHz >= 0.0 && minHz < maxHz && maxHz <= sampleRate / 2.0))
        throw std::invalid_argument("mel filter bank: band must lie within 0 and half the sample rate");

    const int bins = fftLength / 2 + 1;
    std::vector<double> edges(static_cast<std::size_t>(melCount) + 2);
    const double lowMel = hzToSlaneyMel(minHz);
    const double highMel = hzToSlaneyMel(maxHz);
    for (std::size_t i = 0; i < edges.size(); ++i)
        edges[i] = slaneyMelToHz(lowMel + (highMel - lowMel) * static_cast<double>(i) / (melCount + 1));

    std::vector<float> weights(static_cast<std::size_t>(melCount) * bins);
    for (int m = 0; m < melCount; ++m) {
        const double lower = edges[m], centre = edges[m + 1], upper = edges[m + 2];
        const double norm = 2.0 / (upper - lower);
        for (int k = 0; k < bins; ++k) {
            const double hz = k * sampleRate / fftLength;
            const double rising = (hz - lower) / (centre - lower);
            const double falling = (upper - hz) / (upper - centre);
            weights[static_cast<std::size_t>(m) * bins + k] =
                static_cast<float>(std::max(0.0, std::min(rising, falling)) * norm);
        }
    }
    return weights;
}

} // namespace velnote::platform::ml
