#pragma once

namespace velnote::platform::ml {

// A periodic-Hann-windowed DFT basis for frames of n samples, [2 bins][n] row-major: row k < bins
// holds the windowed cosines of bin k, row bins + k the negated windowed sines. One matrix product
// of frames with it gives real and imaginary parts; their squares add up to the power spectrum.
void fillHannDftBasis(float* basis, int n, int bins);

// A filter bank of [rows][bins] laid out twice per row, [rows][2 bins], so that one product with
// the squared output of the basis above adds the real and imaginary power of each bin.
void fillDoubledFilters(float* target, const float* bank, int rows, int bins);

} // namespace velnote::platform::ml
