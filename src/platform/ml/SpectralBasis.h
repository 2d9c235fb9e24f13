#pragma once

#include "platform/ml/Graph.h"

namespace velnote::platform::ml {

// A periodic-Hann-windowed DFT basis for frames of n samples, [2 bins][n] row-major: row k < bins
// holds the windowed cosines of bin k, row bins + k the negated windowed sines. One matrix product
// of frames with it gives real and imaginary parts; their squares add up to the power spectrum.
void fillHannDftBasis(float* basis, int n, int bins);

// A filter bank of [rows][bins] laid out twice per row, [rows][2 bins], so that one product with
// the squared output of the basis above adds the real and imaginary power of each bin.
void fillDoubledFilters(float* target, const float* bank, int rows, int bins);

// The two constant tensors of a spectrogram network, filled by the two functions above: the
// basis, [n, 2 bins] in ggml order, and the `rows` filters of `bank` ([rows][bins]) laid out
// twice, [2 bins, rows]. Throws ModelError (predictionFailed) when the memory cannot be had.
class SpectralConstants {
  public:
    SpectralConstants(int n, int bins, int rows, const float* bank);

    ggml_tensor* basis() const { return basis_; }
    ggml_tensor* filters() const { return filters_; }

  private:
    ConstantTensors constants_{2};
    ggml_tensor* basis_ = nullptr;
    ggml_tensor* filters_ = nullptr;
};

} // namespace velnote::platform::ml
