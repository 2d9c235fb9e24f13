#pragma once

#include <cstdint>
#include <ggml.h>

namespace velnote::platform::ml {

struct EncoderAttentionShape {
    std::int64_t heads = 1;
    float scale = 1.0f;
};

// Whether encoderAttention runs here: it needs the processor's bfloat16 pair products (AVX-512
// BF16) and heads 64 channels wide.
bool encoderAttentionRuns(std::int64_t headWidth);

// softmax(scale · q kᵀ) v for every head over a whole window, with q, k, v [width, frames] and the
// heads side by side along the width; [width, frames]. The products take bfloat16 factors and sum
// in floats, as the weight products do; ggml's flash attention, which converts the keys and values
// again for every block of queries, took twice as long. `shape` must outlive the computation.
ggml_tensor* encoderAttention(ggml_context* ctx, ggml_tensor* q, ggml_tensor* k, ggml_tensor* v,
                              const EncoderAttentionShape& shape);

} // namespace velnote::platform::ml
