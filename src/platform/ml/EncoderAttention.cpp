#include "platform/ml/EncoderAttention.h"

#include "platform/ml/Graph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <vector>

namespace velnote::platform::ml {
namespace {

// The kernels below are written for this head width: 32 pairs of channels, four vectors of 16.
constexpr std::int64_t kHeadWidth = 64;
constexpr std::int64_t kPairs = kHeadWidth / 2;
// Keys are packed in blocks of 32, two vectors of scores; queries are taken 8 at a time.
constexpr std::int64_t kKeyBlock = 32;
constexpr std::int64_t kQueryBlock = 8;

// Packed tensors hold pairs of bfloat16 values in 32-bit words, the first value in the low half:
// the operand layout of the pair products.
std::uint32_t bfloat16(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits + 0x7fffu + ((bits >> 16) & 1u)) >> 16; // rounded to nearest, ties to even
}
std::uint32_t pairWord(float first, float second) {
    return bfloat16(first) | (bfloat16(second) << 16);
}

std::int64_t paddedFrames(std::int64_t frames) {
    return (frames + kKeyBlock - 1) / kKeyBlock * kKeyBlock;
}

const float* rowOf(const ggml_tensor* t, std::int64_t frame) {
    return reinterpret_cast<const float*>(static_cast<const char*>(t->data) + frame * t->nb[1]);
}
std::uint32_t* wordsOf(const ggml_tensor* t, std::int64_t head) {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(t->data) + head * t->nb[1]);
}
const EncoderAttentionShape& shapeOf(void* data) {
    return *static_cast<const EncoderAttentionShape*>(data);
}

// Keys of one head, per block of 32 frames: for each channel pair, the 32 frames' words side by
// side. Frames past the window are zero.
void packKeys(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const ggml_tensor* k = dst->src[0];
    const std::int64_t frames = k->ne[1], blocks = paddedFrames(frames) / kKeyBlock;
    for (std::int64_t item = ith; item < shapeOf(data).heads * blocks; item += nth) {
        const std::int64_t head = item / blocks, block = item % blocks;
        std::uint32_t* out = wordsOf(dst, head) + block * kPairs * kKeyBlock;
        for (std::int64_t j = 0; j < kKeyBlock; ++j) {
            const std::int64_t frame = block * kKeyBlock + j;
            const float* key = frame < frames ? rowOf(k, frame) + head * kHeadWidth : nullptr;
            for (std::int64_t p = 0; p < kPairs; ++p)
                out[p * kKeyBlock + j] = key ? pairWord(key[2 * p], key[2 * p + 1]) : 0;
        }
    }
}

// Values of one head, per pair of frames: each channel's two values in one word. Frames past the
// window are zero.
void packValues(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const ggml_tensor* v = dst->src[0];
    const std::int64_t frames = v->ne[1], pairs = paddedFrames(frames) / 2;
    for (std::int64_t item = ith; item < shapeOf(data).heads * pairs; item += nth) {
        const std::int64_t head = item / pairs, pair = item % pairs;
        std::uint32_t* out = wordsOf(dst, head) + pair * kHeadWidth;
        const std::int64_t first = 2 * pair, second = first + 1;
        const float* a = first < frames ? rowOf(v, first) + head * kHeadWidth : nullptr;
        const float* b = second < frames ? rowOf(v, second) + head * kHeadWidth : nullptr;
        for (std::int64_t c = 0; c < kHeadWidth; ++c)
            out[c] = pairWord(a ? a[c] : 0.0f, b ? b[c] : 0.0f);
    }
}

#define BF16_TARGET __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512bf16")))

BF16_TARGET inline __m512 pairProducts(__m512 sum, __m512i a, __m512i b) {
    return _mm512_dpbf16_ps(sum, reinterpret_cast<__m512bh>(a), reinterpret_cast<__m512bh>(b));
}

// e^x for x ≤ 0: 2^n · e^r with |r| ≤ ln 2 / 2 and a degree-6 polynomial, within 2e-7.
BF16_TARGET inline __m512 expNonPositive(__m512 x) {
    x = _mm512_max_ps(x, _mm512_set1_ps(-87.0f));
    const __m512 n = _mm512_roundscale_ps(_mm512_mul_ps(x, _mm512_set1_ps(1.44269504088896341f)),
                                          _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m512 r = _mm512_fnmadd_ps(n, _mm512_set1_ps(0.693145751953125f), x);
    r = _mm512_fnmadd_ps(n, _mm512_set1_ps(1.428606765330187045e-06f), r);
    __m512 p = _mm512_set1_ps(1.0f / 720);
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 120));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 24));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f / 6));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(0.5f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f));
    p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.0f));
    return _mm512_scalef_ps(p, n);
}

// Scores of 8 query rows against every key: scores[r][t] for t below the padded frame count.
BF16_TARGET void scoreBlock(const std::uint32_t (&queries)[kQueryBlock][kPairs], const std::uint32_t* keys,
                            std::int64_t padded, float* scores) {
    for (std::int64_t block = 0; block < padded / kKeyBlock; ++block) {
        const std::uint32_t* packed = keys + block * kPairs * kKeyBlock;
        __m512 low[kQueryBlock], high[kQueryBlock];
#pragma GCC unroll 8
        for (int r = 0; r < kQueryBlock; ++r)
            low[r] = high[r] = _mm512_setzero_ps();
        for (std::int64_t p = 0; p < kPairs; ++p) {
            const __m512i k0 = _mm512_loadu_si512(packed + p * kKeyBlock);
            const __m512i k1 = _mm512_loadu_si512(packed + p * kKeyBlock + 16);
#pragma GCC unroll 8
            for (int r = 0; r < kQueryBlock; ++r) {
                const __m512i q = _mm512_set1_epi32(static_cast<int>(queries[r][p]));
                low[r] = pairProducts(low[r], k0, q);
                high[r] = pairProducts(high[r], k1, q);
            }
        }
#pragma GCC unroll 8
        for (int r = 0; r < kQueryBlock; ++r) {
            _mm512_storeu_ps(scores + r * padded + block * kKeyBlock, low[r]);
            _mm512_storeu_ps(scores + r * padded + block * kKeyBlock + 16, high[r]);
        }
    }
}

// Lanes t … t + 15 that hold frames of the window.
__mmask16 framesFrom(std::int64_t t, std::int64_t frames) {
    if (t + 16 <= frames)
        return 0xffff;
    return static_cast<__mmask16>((1u << std::clamp<std::int64_t>(frames - t, 0, 16)) - 1);
}

// One row's weights e^(score − max) as bfloat16 pairs (zero past the window); returns their sum.
BF16_TARGET float weighRow(const float* scores, std::int64_t frames, std::int64_t padded,
                           std::uint32_t* weights) {
    __m512 top = _mm512_set1_ps(-INFINITY);
    for (std::int64_t t = 0; t < padded; t += 16) {
        const __mmask16 inside = framesFrom(t, frames);
        top = _mm512_mask_max_ps(top, inside, top, _mm512_loadu_ps(scores + t));
    }
    const __m512 max = _mm512_set1_ps(_mm512_reduce_max_ps(top));
    __m512 sum = _mm512_setzero_ps();
    for (std::int64_t t = 0; t < padded; t += 16) {
        const __mmask16 inside = framesFrom(t, frames);
        const __m512 e =
            _mm512_maskz_mov_ps(inside, expNonPositive(_mm512_sub_ps(_mm512_loadu_ps(scores + t), max)));
        sum = _mm512_add_ps(sum, e);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(weights + t / 2),
                            reinterpret_cast<__m256i>(_mm512_cvtneps_pbh(e)));
    }
    return _mm512_reduce_add_ps(sum);
}

// out[r] = Σ_t weights[r][t] · v[t] / sums[r] for `rows` (at most 4) rows of 64 channels.
BF16_TARGET void weighValues(const std::uint32_t* weights, std::int64_t stride, const float* sums, int rows,
                             const std::uint32_t* values, std::int64_t pairs, float* const* out) {
    __m512 acc[4][4];
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r)
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
            acc[r][i] = _mm512_setzero_ps();
    for (std::int64_t tp = 0; tp < pairs; ++tp) {
        const std::uint32_t* v = values + tp * kHeadWidth;
        const __m512i v0 = _mm512_loadu_si512(v), v1 = _mm512_loadu_si512(v + 16),
                      v2 = _mm512_loadu_si512(v + 32), v3 = _mm512_loadu_si512(v + 48);
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r) {
            const __m512i w = _mm512_set1_epi32(static_cast<int>(weights[r * stride + tp]));
            acc[r][0] = pairProducts(acc[r][0], v0, w);
            acc[r][1] = pairProducts(acc[r][1], v1, w);
            acc[r][2] = pairProducts(acc[r][2], v2, w);
            acc[r][3] = pairProducts(acc[r][3], v3, w);
        }
    }
    // Constant indices only, so that the sums stay in registers.
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
        if (r >= rows)
            break;
        const __m512 inverse = _mm512_set1_ps(1.0f / sums[r]);
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
            _mm512_storeu_ps(out[r] + 16 * i, _mm512_mul_ps(acc[r][i], inverse));
    }
}

template <class T> T* scratch(std::vector<T>& buffer, std::int64_t n) {
    if (buffer.size() < static_cast<std::size_t>(n))
        buffer.resize(static_cast<std::size_t>(n));
    return buffer.data();
}

// dst [width, frames]; sources q [width, frames], packed keys, packed values.
BF16_TARGET void attend(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const EncoderAttentionShape& shape = shapeOf(data);
    const ggml_tensor* q = dst->src[0];
    const std::int64_t frames = q->ne[1], padded = paddedFrames(frames);
    const std::int64_t blocks = (frames + kQueryBlock - 1) / kQueryBlock;
    thread_local std::vector<float> scoreRoom;
    thread_local std::vector<std::uint32_t> weightRoom;
    float* scores = scratch(scoreRoom, kQueryBlock * padded);
    std::uint32_t* weights = scratch(weightRoom, kQueryBlock * padded / 2);

    for (std::int64_t item = ith; item < shape.heads * blocks; item += nth) {
        const std::int64_t head = item / blocks, first = item % blocks * kQueryBlock;
        const int rows = static_cast<int>(std::min(kQueryBlock, frames - first));
        std::uint32_t queries[kQueryBlock][kPairs] = {};
        for (int r = 0; r < rows; ++r) {
            const float* row = rowOf(q, first + r) + head * kHeadWidth;
            for (std::int64_t p = 0; p < kPairs; ++p)
                queries[r][p] = pairWord(row[2 * p] * shape.scale, row[2 * p + 1] * shape.scale);
        }
        scoreBlock(queries, wordsOf(dst->src[1], head), padded, scores);
        float sums[kQueryBlock];
        for (int r = 0; r < kQueryBlock; ++r) {
            std::uint32_t* rowWeights = weights + r * padded / 2;
            if (r < rows) {
                sums[r] = weighRow(scores + r * padded, frames, padded, rowWeights);
            } else {
                sums[r] = 1.0f;
                std::fill(rowWeights, rowWeights + padded / 2, 0u);
            }
        }
        for (int r = 0; r < rows; r += 4) {
            float* out[4];
            for (int i = 0; i < 4; ++i)
                out[i] = reinterpret_cast<float*>(static_cast<char*>(dst->data) +
                                                  (first + std::min(r + i, rows - 1)) * dst->nb[1]) +
                         head * kHeadWidth;
            weighValues(weights + r * padded / 2, padded / 2, sums + r, std::min(4, rows - r),
                        wordsOf(dst->src[2], head), padded / 2, out);
        }
    }
}

} // namespace

bool encoderAttentionRuns(std::int64_t headWidth) {
    static const bool supported = __builtin_cpu_supports("avx512bf16");
    return supported && headWidth == kHeadWidth;
}

ggml_tensor* encoderAttention(ggml_context* ctx, ggml_tensor* q, ggml_tensor* k, ggml_tensor* v,
                              const EncoderAttentionShape& shape) {
    void* data = const_cast<EncoderAttentionShape*>(&shape);
    const std::int64_t padded = paddedFrames(q->ne[1]);
    ggml_tensor* keyArgs[] = {k};
    ggml_tensor* keys = ggml_custom_4d(ctx, GGML_TYPE_F32, padded * kPairs, shape.heads, 1, 1, keyArgs, 1,
                                       packKeys, GGML_N_TASKS_MAX, data);
    ggml_tensor* valueArgs[] = {v};
    ggml_tensor* values = ggml_custom_4d(ctx, GGML_TYPE_F32, padded / 2 * kHeadWidth, shape.heads, 1, 1,
                                         valueArgs, 1, packValues, GGML_N_TASKS_MAX, data);
    ggml_tensor* args[] = {q, keys, values};
    return ggml_custom_4d(ctx, GGML_TYPE_F32, q->ne[0], q->ne[1], 1, 1, args, 3, attend, GGML_N_TASKS_MAX,
                          data);
}

} // namespace velnote::platform::ml
