#pragma once

#include <cstddef>

namespace velnote::platform::ml {

// Row kernels for the attention of single decoder steps, where ggml's own dot products would run
// on rows too short for their vector loops. Each picks the widest vector unit the processor has
// when the program starts.

// Σ a[i] b[i] over n elements.
float dotProduct(const float* a, const float* b, std::size_t n);
// y[i] += scale · x[i] over n elements.
void addScaled(float* y, const float* x, float scale, std::size_t n);

} // namespace velnote::platform::ml
