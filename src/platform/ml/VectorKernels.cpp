#include "platform/ml/VectorKernels.h"

#include <cstring>

namespace velnote::platform::ml {
namespace {

// Sixteen floats: one AVX-512 register, or two or four narrower ones where the processor lacks it.
using Lanes = float __attribute__((vector_size(64)));
constexpr std::size_t kLanes = 16;

// Passed by reference: a vector wider than the default target's registers has no agreed calling convention.
void load(Lanes& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

} // namespace

__attribute__((target_clones("avx512f", "avx2", "default"))) float dotProduct(const float* a, const float* b,
                                                                              std::size_t n) {
    Lanes first{}, second{};
    std::size_t i = 0;
    Lanes x, y, z, w;
    for (; i + 2 * kLanes <= n; i += 2 * kLanes) {
        load(x, a + i);
        load(y, b + i);
        load(z, a + i + kLanes);
        load(w, b + i + kLanes);
        first += x * y;
        second += z * w;
    }
    if (i + kLanes <= n) {
        load(x, a + i);
        load(y, b + i);
        first += x * y;
        i += kLanes;
    }
    first += second;
    float sum = 0;
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        sum += first[lane];
    for (; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void addScaled(float* y, const float* x,
                                                                            float scale, std::size_t n) {
    std::size_t i = 0;
    Lanes sum, term;
    for (; i + kLanes <= n; i += kLanes) {
        load(sum, y + i);
        load(term, x + i);
        sum += scale * term;
        std::memcpy(y + i, &sum, sizeof sum);
    }
    for (; i < n; ++i)
        y[i] += scale * x[i];
}

} // namespace velnote::platform::ml
