#pragma once

#include <cstddef>
#include <cstdint>

namespace velnote::platform::ml {

// Row kernels for the attention of single decoder steps, where ggml's own dot products would run
// on rows too short for their vector loops. Each picks the widest vector unit the processor has
// when the program starts.

// Σ a[i] b[i] over n elements.
float dotProduct(const float* a, const float* b, std::size_t n);
// y[i] += scale · x[i] over n elements.
void addScaled(float* y, const float* x, float scale, std::size_t n);
// The same over a float16 row a (IEEE half-precision bits), converted on the way: the cached
// cross-attention of the decoder is held in float16.
float dotProduct(const std::uint16_t* a, const float* b, std::size_t n);
void addScaled(float* y, const std::uint16_t* x, float scale, std::size_t n);
// y[i] = x[i] over n float16 elements.
void widen(float* y, const std::uint16_t* x, std::size_t n);
// y[i] = GELU(x[i]) = x[i]/2 · (1 + erf(x[i]/√2)) over n elements; erf to within 5e-7. y may be x.
void geluErf(float* y, const float* x, std::size_t n);

} // namespace velnote::platform::ml
