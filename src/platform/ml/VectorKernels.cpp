#include "platform/ml/VectorKernels.h"

#include <cstring>
#include <ggml-cpu.h>
#include <ggml.h>
#include <immintrin.h>

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

// erf(z) as the odd rational function of z the single-precision libraries use (z clamped to ±4,
// beyond which erf is ±1 in floats): within 5e-7 of the exact value, and free of branches, so
// all lanes compute at once.
[[gnu::always_inline]] inline void geluLanes(Lanes& x) {
    constexpr float kAlpha[] = {-1.60960333262415e-02f, -2.95459980854025e-03f, -7.34990630326855e-04f,
                                -5.69250639462346e-05f, -2.10102402082508e-06f, 2.77068142495902e-08f,
                                -2.72614225801306e-10f};
    constexpr float kBeta[] = {-1.42647390514189e-02f, -7.37332916720468e-03f, -1.68282697438203e-03f,
                               -2.13374055278905e-04f, -1.45660718464996e-05f};
    Lanes z = x * 0.70710678118654752f;
    z = z > 4.0f ? 4.0f : z;
    z = z < -4.0f ? -4.0f : z;
    const Lanes z2 = z * z;
    Lanes p = z2 * kAlpha[6] + kAlpha[5];
    for (int k = 4; k >= 0; --k)
        p = p * z2 + kAlpha[k];
    Lanes q = z2 * kBeta[4] + kBeta[3];
    for (int k = 2; k >= 0; --k)
        q = q * z2 + kBeta[k];
    x = 0.5f * x * (1.0f + z * p / q);
}

[[gnu::always_inline]] inline void geluBody(float* y, const float* x, std::size_t n) {
    std::size_t i = 0;
    Lanes v;
    for (; i + kLanes <= n; i += kLanes) {
        load(v, x + i);
        geluLanes(v);
        std::memcpy(y + i, &v, sizeof v);
    }
    if (i < n) { // the tail through the same arithmetic, so every element is computed alike
        v = Lanes{};
        std::memcpy(&v, x + i, (n - i) * sizeof(float));
        geluLanes(v);
        std::memcpy(y + i, &v, (n - i) * sizeof(float));
    }
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

using Gelu = void (*)(float*, const float*, std::size_t);

__attribute__((target("avx512f"))) void geluWide(float* y, const float* x, std::size_t n) {
    geluBody(y, x, n);
}
__attribute__((target("avx2"))) void geluMiddle(float* y, const float* x, std::size_t n) {
    geluBody(y, x, n);
}
void geluPlain(float* y, const float* x, std::size_t n) {
    geluBody(y, x, n);
}

// Half-precision rows: converted eight or sixteen at a time by the processor's own instruction.
__attribute__((target("avx512f"))) float dotHalfWide(const std::uint16_t* a, const float* b, std::size_t n) {
    __m512 first = _mm512_setzero_ps(), second = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m512 x = _mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)));
        const __m512 z = _mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 16)));
        first = _mm512_fmadd_ps(x, _mm512_loadu_ps(b + i), first);
        second = _mm512_fmadd_ps(z, _mm512_loadu_ps(b + i + 16), second);
    }
    alignas(64) float lanes[16];
    _mm512_store_ps(lanes, _mm512_add_ps(first, second));
    float sum = 0;
    for (const float lane : lanes)
        sum += lane;
    for (; i < n; ++i)
        sum += ggml_fp16_to_fp32(a[i]) * b[i];
    return sum;
}
__attribute__((target("avx2,f16c,fma"))) float dotHalfMiddle(const std::uint16_t* a, const float* b,
                                                             std::size_t n) {
    __m256 first = _mm256_setzero_ps(), second = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256 x = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
        const __m256 z = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 8)));
        first = _mm256_fmadd_ps(x, _mm256_loadu_ps(b + i), first);
        second = _mm256_fmadd_ps(z, _mm256_loadu_ps(b + i + 8), second);
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, _mm256_add_ps(first, second));
    float sum = 0;
    for (const float lane : lanes)
        sum += lane;
    for (; i < n; ++i)
        sum += ggml_fp16_to_fp32(a[i]) * b[i];
    return sum;
}
float dotHalfPlain(const std::uint16_t* a, const float* b, std::size_t n) {
    float sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += ggml_fp16_to_fp32(a[i]) * b[i];
    return sum;
}

__attribute__((target("avx512f"))) void addScaledHalfWide(float* y, const std::uint16_t* x, float scale,
                                                          std::size_t n) {
    const __m512 factor = _mm512_set1_ps(scale);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512 v = _mm512_cvtph_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i)));
        _mm512_storeu_ps(y + i, _mm512_fmadd_ps(v, factor, _mm512_loadu_ps(y + i)));
    }
    for (; i < n; ++i)
        y[i] += scale * ggml_fp16_to_fp32(x[i]);
}
__attribute__((target("avx2,f16c,fma"))) void addScaledHalfMiddle(float* y, const std::uint16_t* x,
                                                                  float scale, std::size_t n) {
    const __m256 factor = _mm256_set1_ps(scale);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 v = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)));
        _mm256_storeu_ps(y + i, _mm256_fmadd_ps(v, factor, _mm256_loadu_ps(y + i)));
    }
    for (; i < n; ++i)
        y[i] += scale * ggml_fp16_to_fp32(x[i]);
}
void addScaledHalfPlain(float* y, const std::uint16_t* x, float scale, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        y[i] += scale * ggml_fp16_to_fp32(x[i]);
}

using DotHalf = float (*)(const std::uint16_t*, const float*, std::size_t);
using AddScaledHalf = void (*)(float*, const std::uint16_t*, float, std::size_t);

// Every processor with AVX2 has F16C and FMA as well.
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

float dotProduct(const std::uint16_t* a, const float* b, std::size_t n) {
    static const DotHalf chosen = widest<DotHalf>(dotHalfWide, dotHalfMiddle, dotHalfPlain);
    return chosen(a, b, n);
}

void addScaled(float* y, const std::uint16_t* x, float scale, std::size_t n) {
    static const AddScaledHalf chosen =
        widest<AddScaledHalf>(addScaledHalfWide, addScaledHalfMiddle, addScaledHalfPlain);
    chosen(y, x, scale, n);
}

void geluErf(float* y, const float* x, std::size_t n) {
    static const Gelu chosen = widest<Gelu>(geluWide, geluMiddle, geluPlain);
    chosen(y, x, n);
}

void widen(float* y, const std::uint16_t* x, std::size_t n) {
    ggml_cpu_fp16_to_fp32(reinterpret_cast<const ggml_fp16_t*>(x), y, static_cast<std::int64_t>(n));
}

} // namespace velnote::platform::ml
