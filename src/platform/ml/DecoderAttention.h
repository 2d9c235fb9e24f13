#pragma once

#include "platform/ml/Graph.h"

#include <cstdint>
#include <vector>

namespace velnote::platform::ml {

// The attention of decoder steps computed side by side in one graph: each step has a single
// query, its own key and value cache and its own encoder output, so these parts run step by step
// while the weights' matrix products serve every step at once.

// What one step's attention reads, besides the graph's tensors. The pointers stay valid while the
// graph computes.
struct StepAttention {
    const ggml_fp16_t* keyCache = nullptr;   // [layers × width][slots]
    const ggml_fp16_t* valueCache = nullptr; // [layers × width][slots]
    // The slots the step attends, from the first the padding mask opens to the last (all of them
    // when none is open): a slot the mask closes (−10000) weighs exactly nothing.
    std::int64_t first = 0, end = 0;
    std::vector<float> padding;        // the mask over [first, end)
    std::vector<std::int64_t> updated; // the slots in [first, end) that hold this step's own key and value
    // The cross-attention keys and values per layer, each [width][frames], float16.
    const std::vector<ggml_tensor*>* crossKeys = nullptr;
    const std::vector<ggml_tensor*>* crossValues = nullptr;

    // Reads the masks of a step over `slots` cache positions.
    void setMasks(const std::int32_t* updateMask, const ggml_fp16_t* paddingMask, std::int64_t slots);
};

struct AttentionShape {
    std::int64_t width = 0, heads = 0, slots = 0, frames = 0;
    float scale = 1;
};

// The attention of every step of a batch; lives while its graph computes.
class BatchAttention {
  public:
    BatchAttention(AttentionShape shape, std::vector<StepAttention> steps, std::size_t layers);

    // Self-attention of layer `layer`: q, k, v [width, steps] (this step's own key and value
    // take the place of the cache at its updated slots) → [width, steps].
    ggml_tensor* self(ggml_context* ctx, ggml_tensor* q, ggml_tensor* k, ggml_tensor* v, std::size_t layer);
    // Cross-attention weights of layer `layer` for q [width, steps]: [frames, heads, steps].
    ggml_tensor* crossWeights(ggml_context* ctx, ggml_tensor* q, std::size_t layer);
    // The encoder frames weighed by `weights` (from crossWeights): [width, steps].
    ggml_tensor* crossValues(ggml_context* ctx, ggml_tensor* weights, std::size_t layer);

    struct Layer {
        const BatchAttention* batch;
        std::size_t index;
    };

    const AttentionShape& shape() const { return shape_; }
    const std::vector<StepAttention>& steps() const { return steps_; }

  private:
    AttentionShape shape_;
    std::vector<StepAttention> steps_;
    std::vector<Layer> layers_; // the operations' user data, one per layer
};

} // namespace velnote::platform::ml
