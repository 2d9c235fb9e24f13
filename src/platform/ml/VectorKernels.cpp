#include "platform/ml/VectorKernels.h"

#include <cstring>

namespace velnote::platform::ml {
namespace {

// Sixteen floats: one AVX-512 register, or two or four narrower ones where the processor lacks it.
using Lanes = float __attribute__((vector_size(64)));
constexpr std::size_t kLanes = 16;

// Passed by reference: a vector wider than the default target's registers has no agreed calling
// convention.
[[gnu::always_inline]] inline void load(Lanes& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

// The bodies, compiled once per instruction set below. The choice among them is made on first
// use rather than by the loader (an indirect function): the loader would run the chooser before
// the sanitizers' runtimes are ready.
[[gnu::always_inline]] inline float dotBody(const float* a, const float* b, std::size_t n) {
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

[[gnu::always_inline]] inline void addScaledBody(float* y, const float* x, float scale, std::size_t n) {
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

using Dot = float (*)(const float*, const float*, std::size_t);
using AddScaled = void (*)(float*, const float*, float, std::size_t);

__attribute__((target("avx512f"))) float dotWide(const float* a, const float* b, std::size_t n) {
    return dotBody(a, b, n);
}
__attribute__((target("avx2"))) float dotMiddle(const float* a, const float* b, std::size_t n) {
    return dotBody(a, b, n);
}
float dotPlain(const float* a, const float* b, std::size_t n) {
    return dotBody(a, b, n);
}

__attribute__((target("avx512f"))) void addScaledWide(float* y, const float* x, float scale, std::size_t n) {
    addScaledBody(y, x, scale, n);
}
__attribute__((target("avx2"))) void addScaledMiddle(float* y, const float* x, float scale, std::size_t n) {
    addScaledBody(y, x, scale, n);
}
void addScaledPlain(float* y, const float* x, float scale, std::size_t n) {
    addScaledBody(y, x, scale, n);
}

template <class F> F widest(F wide, F middle, F plain) {
    if (__builtin_cpu_supports("avx512f"))
        return wide;
    return __builtin_cpu_supports("avx2") ? middle : plain;
}

} // namespace

float dotProduct(const float* a, const float* b, std::size_t n) {
    static const Dot chosen = widest<Dot>(dotWide, dotMiddle, dotPlain);
    return chosen(a, b, n);
}

void addScaled(float* y, const float* x, float scale, std::size_t n) {
    static const AddScaled chosen = widest<AddScaled>(addScaledWide, addScaledMiddle, addScaledPlain);
    chosen(y, x, scale, n);
}

} // namespace velnote::platform::ml
