#include "platform/ml/TransformerWeights.h"

#include "platform/ml/Graph.h"

#include <stdexcept>

namespace velnote::platform::ml {
namespace {

ggml_tensor* optional(const ModelFile& file, const std::string& name) {
    try {
        return file.tensor(name);
    } catch (const std::out_of_range&) {
        return nullptr;
    }
}

} // namespace

AttentionWeights AttentionWeights::read(const ModelFile& file, const std::string& prefix,
                                        const std::string& norm) {
    return {.qWeight = optional(file, prefix + ".q_proj.weight"),
            .qBias = optional(file, prefix + ".q_proj.bias"),
            .kWeight = optional(file, prefix + ".k_proj.weight"),
            .vWeight = file.tensor(prefix + ".v_proj.weight"),
            .vBias = file.tensor(prefix + ".v_proj.bias"),
            .outWeight = file.tensor(prefix + ".out_proj.weight"),
            .outBias = file.tensor(prefix + ".out_proj.bias"),
            .normWeight = file.tensor(norm + ".weight"),
            .normBias = file.tensor(norm + ".bias")};
}

FeedForwardWeights FeedForwardWeights::read(const ModelFile& file, const std::string& layer) {
    return {.fc1Weight = file.tensor(layer + ".fc1.weight"),
            .fc1Bias = file.tensor(layer + ".fc1.bias"),
            .fc2Weight = file.tensor(layer + ".fc2.weight"),
            .fc2Bias = file.tensor(layer + ".fc2.bias"),
            .normWeight = file.tensor(layer + ".final_layer_norm.weight"),
            .normBias = file.tensor(layer + ".final_layer_norm.bias")};
}

DecoderWeights DecoderWeights::read(const ModelFile& file, int layerCount) {
    DecoderWeights w{.tokenEmbedding = file.tensor("model.decoder.embed_tokens.weight"),
                     .positionEmbedding = file.tensor("model.decoder.embed_positions.weight"),
                     .layers = {},
                     .normWeight = file.tensor("model.decoder.layer_norm.weight"),
                     .normBias = file.tensor("model.decoder.layer_norm.bias")};
    for (int layer = 0; layer < layerCount; ++layer) {
        const std::string prefix = "model.decoder.layers." + std::to_string(layer);
        w.layers.push_back(
            {AttentionWeights::read(file, prefix + ".self_attn", prefix + ".self_attn_layer_norm"),
             AttentionWeights::read(file, prefix + ".encoder_attn", prefix + ".encoder_attn_layer_norm"),
             FeedForwardWeights::read(file, prefix)});
    }
    return w;
}

ggml_tensor* feedForward(ggml_context* ctx, ggml_tensor* x, const FeedForwardWeights& w, float eps) {
    ggml_tensor* h = layerNorm(ctx, x, w.normWeight, w.normBias, eps);
    h = geluErf(ctx, linear(ctx, h, w.fc1Weight, w.fc1Bias));
    return ggml_add(ctx, x, linear(ctx, h, w.fc2Weight, w.fc2Bias));
}

ggml_tensor* splitHeads(ggml_context* ctx, ggml_tensor* x, int heads) {
    const std::int64_t width = x->ne[0], tokens = x->ne[1];
    return ggml_permute(ctx, ggml_reshape_3d(ctx, x, width / heads, heads, tokens), 0, 2, 1, 3);
}

} // namespace velnote::platform::ml
