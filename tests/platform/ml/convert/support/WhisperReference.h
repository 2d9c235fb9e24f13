#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Plain double-precision loops of the speech front end and audio encoder, written from the
// published model's definition, to check the runtime's networks against. Slow but obvious.
namespace velnote::testing {

// Triangular Slaney-scale mel filters, 0–8 kHz at 16 kHz, unit area: [melCount][fftLength/2 + 1].
std::vector<double> referenceMelFilters(int melCount, int fftLength = 400);

// Log-mel spectrogram of `samples` (16 kHz): frames of 400 samples every 160, centred (reflect
// padding of 200 at both ends, the last frame dropped), periodic Hann window, power spectrum,
// mel filters, log10(max(x, 1e-10)), floored at the maximum − 8, then (x + 4) / 4.
// Returns [melCount][samples / 160].
std::vector<double> referenceLogMel(std::span<const float> samples, int melCount);

struct ReferenceEncoderSizes {
    int melCount = 80;
    int contextLength = 1500; // output frames; the input has twice as many
    int width = 512;
    int heads = 8;
    int layers = 6;
};

// The weights of a published tensor name, in row-major order, widened to double.
using ReferenceWeights = std::function<std::vector<double>(const std::string& name)>;

// The audio encoder: two convolutions with GELU (the second with stride 2), the position
// embedding, pre-norm blocks of self-attention and a 4×d feed-forward with GELU, a final layer
// norm. `mel` is [melCount][2 × contextLength]; returns [contextLength][width]. Matrix products
// run on `threads` threads.
std::vector<double> referenceEncoder(const std::vector<double>& mel, const ReferenceEncoderSizes& sizes,
                                     const ReferenceWeights& weights, int threads);

} // namespace velnote::testing
