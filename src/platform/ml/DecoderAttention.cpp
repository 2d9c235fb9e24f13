#include "platform/ml/DecoderAttention.h"

#include "platform/ml/VectorKernels.h"

#include <algorithm>
#include <cmath>
#include <ggml-cpu.h>

namespace velnote::platform::ml {
namespace {

// A closed cache slot: its weight exp(−10000 + score) is exactly 0 in float arithmetic.
constexpr float kClosed = -10000.0f;

const float* column(const ggml_tensor* t, std::int64_t i) {
    return reinterpret_cast<const float*>(static_cast<const char*>(t->data) + i * t->nb[1]);
}

float* row(ggml_tensor* t, std::int64_t i1, std::int64_t i2) {
    return reinterpret_cast<float*>(static_cast<char*>(t->data) + i1 * t->nb[1] + i2 * t->nb[2]);
}

// Per-thread room for one row converted to float.
float* scratch(std::int64_t n) {
    thread_local std::vector<float> buffer;
    if (buffer.size() < static_cast<std::size_t>(n))
        buffer.resize(static_cast<std::size_t>(n));
    return buffer.data();
}

// Cache row `channel` of a step over its attended slots, with the step's own value in its updated slots.
const float* cacheRow(const ggml_fp16_t* cache, const StepAttention& step, std::int64_t channel,
                      std::int64_t slots, float own) {
    const std::int64_t n = step.end - step.first;
    float* out = scratch(n);
    ggml_cpu_fp16_to_fp32(cache + channel * slots + step.first, out, n);
    for (const std::int64_t slot : step.updated)
        out[slot - step.first] = own;
    return out;
}

const std::uint16_t* halfRow(const ggml_tensor* t, std::int64_t channel) {
    return static_cast<const std::uint16_t*>(t->data) + channel * t->ne[0];
}

const BatchAttention::Layer& layerOf(void* data) {
    return *static_cast<const BatchAttention::Layer*>(data);
}

// Every (step, head) pair of a batch, dealt out among the computation's threads.
template <class Visit> void forEachStepHead(const BatchAttention& batch, int ith, int nth, Visit&& visit) {
    const auto steps = static_cast<std::int64_t>(batch.steps().size());
    const std::int64_t heads = batch.shape().heads;
    for (std::int64_t item = ith; item < steps * heads; item += nth)
        visit(item / heads, item % heads);
}

// dst [slots, heads, steps]: scale · q·k plus the padding mask over the attended slots, −∞ elsewhere.
void scoreSelf(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const auto& [batch, layer] = layerOf(data);
    const AttentionShape& shape = batch->shape();
    const std::int64_t headWidth = shape.width / shape.heads;
    forEachStepHead(*batch, ith, nth, [&](std::int64_t s, std::int64_t h) {
        const StepAttention& step = batch->steps()[static_cast<std::size_t>(s)];
        float* out = row(dst, h, s);
        std::fill(out, out + shape.slots, -INFINITY);
        float* scores = out + step.first;
        const std::int64_t n = step.end - step.first;
        std::fill(scores, scores + n, 0.0f);
        const float* q = column(dst->src[0], s) + h * headWidth;
        const float* k = column(dst->src[1], s) + h * headWidth;
        for (std::int64_t j = 0; j < headWidth; ++j) {
            const std::int64_t channel = static_cast<std::int64_t>(layer) * shape.width + h * headWidth + j;
            addScaled(scores, cacheRow(step.keyCache, step, channel, shape.slots, k[j]), q[j],
                      static_cast<std::size_t>(n));
        }
        for (std::int64_t t = 0; t < n; ++t)
            scores[t] = scores[t] * shape.scale + step.padding[static_cast<std::size_t>(t)];
    });
}

// dst [width, steps]: the values weighed by src[0] [slots, heads, steps]; src[1] is v [width, steps].
void weighSelf(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const auto& [batch, layer] = layerOf(data);
    const AttentionShape& shape = batch->shape();
    const std::int64_t headWidth = shape.width / shape.heads;
    forEachStepHead(*batch, ith, nth, [&](std::int64_t s, std::int64_t h) {
        const StepAttention& step = batch->steps()[static_cast<std::size_t>(s)];
        const float* weights = row(dst->src[0], h, s) + step.first;
        const float* v = column(dst->src[1], s) + h * headWidth;
        float* out = row(dst, s, 0) + h * headWidth;
        for (std::int64_t j = 0; j < headWidth; ++j) {
            const std::int64_t channel = static_cast<std::int64_t>(layer) * shape.width + h * headWidth + j;
            out[j] = dotProduct(cacheRow(step.valueCache, step, channel, shape.slots, v[j]), weights,
                                static_cast<std::size_t>(step.end - step.first));
        }
    });
}

// dst [frames, heads, steps]: q·k for every encoder frame (unscaled).
void scoreCross(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const auto& [batch, layer] = layerOf(data);
    const AttentionShape& shape = batch->shape();
    const std::int64_t headWidth = shape.width / shape.heads;
    forEachStepHead(*batch, ith, nth, [&](std::int64_t s, std::int64_t h) {
        const StepAttention& step = batch->steps()[static_cast<std::size_t>(s)];
        const ggml_tensor* keys = (*step.crossKeys)[layer];
        float* out = row(dst, h, s);
        std::fill(out, out + shape.frames, 0.0f);
        const float* q = column(dst->src[0], s) + h * headWidth;
        for (std::int64_t j = 0; j < headWidth; ++j)
            addScaled(out, halfRow(keys, h * headWidth + j), q[j], static_cast<std::size_t>(shape.frames));
    });
}

// dst [width, steps]: the encoder frames' values weighed by src[0] [frames, heads, steps].
void weighCross(ggml_tensor* dst, int ith, int nth, void* data) {
    const NodeRun run;
    const auto& [batch, layer] = layerOf(data);
    const AttentionShape& shape = batch->shape();
    const std::int64_t headWidth = shape.width / shape.heads;
    forEachStepHead(*batch, ith, nth, [&](std::int64_t s, std::int64_t h) {
        const StepAttention& step = batch->steps()[static_cast<std::size_t>(s)];
        const ggml_tensor* values = (*step.crossValues)[layer];
        const float* weights = row(dst->src[0], h, s);
        float* out = row(dst, s, 0) + h * headWidth;
        for (std::int64_t j = 0; j < headWidth; ++j)
            out[j] = dotProduct(halfRow(values, h * headWidth + j), weights,
                                static_cast<std::size_t>(shape.frames));
    });
}

} // namespace

void StepAttention::setMasks(const std::int32_t* updateMask, const ggml_fp16_t* paddingMask,
                             std::int64_t slots) {
    std::vector<float> mask(static_cast<std::size_t>(slots));
    ggml_cpu_fp16_to_fp32(paddingMask, mask.data(), slots);
    first = 0;
    end = slots;
    const auto open = [](float value) { return value > kClosed; };
    const auto firstOpen = std::find_if(mask.begin(), mask.end(), open);
    if (firstOpen != mask.end()) {
        first = firstOpen - mask.begin();
        end = slots - (std::find_if(mask.rbegin(), mask.rend(), open) - mask.rbegin());
    }
    padding.assign(mask.begin() + first, mask.begin() + end);
    updated.clear();
    for (std::int64_t slot = first; slot < end; ++slot)
        if (updateMask[slot] != 0)
            updated.push_back(slot);
}

BatchAttention::BatchAttention(AttentionShape shape, std::vector<StepAttention> steps, std::size_t layers)
    : shape_(shape), steps_(std::move(steps)) {
    for (std::size_t i = 0; i < layers; ++i)
        layers_.push_back({this, i});
}

ggml_tensor* BatchAttention::self(ggml_context* ctx, ggml_tensor* q, ggml_tensor* k, ggml_tensor* v,
                                  std::size_t layer) {
    const auto count = static_cast<std::int64_t>(steps_.size());
    ggml_tensor* scoreArgs[] = {q, k};
    ggml_tensor* scores = ggml_custom_4d(ctx, GGML_TYPE_F32, shape_.slots, shape_.heads, count, 1, scoreArgs,
                                         2, scoreSelf, GGML_N_TASKS_MAX, &layers_[layer]);
    ggml_tensor* weighArgs[] = {ggml_soft_max_ext(ctx, scores, nullptr, 1.0f, 0.0f), v};
    return ggml_custom_4d(ctx, GGML_TYPE_F32, shape_.width, count, 1, 1, weighArgs, 2, weighSelf,
                          GGML_N_TASKS_MAX, &layers_[layer]);
}

ggml_tensor* BatchAttention::crossWeights(ggml_context* ctx, ggml_tensor* q, std::size_t layer) {
    ggml_tensor* args[] = {q};
    ggml_tensor* scores = ggml_custom_4d(ctx, GGML_TYPE_F32, shape_.frames, shape_.heads,
                                         static_cast<std::int64_t>(steps_.size()), 1, args, 1, scoreCross,
                                         GGML_N_TASKS_MAX, &layers_[layer]);
    return ggml_soft_max_ext(ctx, scores, nullptr, shape_.scale, 0.0f);
}

ggml_tensor* BatchAttention::crossValues(ggml_context* ctx, ggml_tensor* weights, std::size_t layer) {
    ggml_tensor* args[] = {weights};
    return ggml_custom_4d(ctx, GGML_TYPE_F32, shape_.width, static_cast<std::int64_t>(steps_.size()), 1, 1,
                          args, 1, weighCross, GGML_N_TASKS_MAX, &layers_[layer]);
}

} // namespace velnote::platform::ml
