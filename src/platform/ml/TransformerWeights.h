#pragma once

#include "platform/ml/ModelFile.h"

#include <ggml.h>
#include <string>
#include <vector>

namespace velnote::platform::ml {

// The weights of one attention block as the checkpoints name them under `prefix`
// ("model.encoder.layers.0.self_attn"); the key projection has no bias. Members the model file
// does not hold (the prefill's cross-attention queries and keys) stay null.
struct AttentionWeights {
    ggml_tensor* qWeight = nullptr;
    ggml_tensor* qBias = nullptr;
    ggml_tensor* kWeight = nullptr;
    ggml_tensor* vWeight = nullptr;
    ggml_tensor* vBias = nullptr;
    ggml_tensor* outWeight = nullptr;
    ggml_tensor* outBias = nullptr;
    ggml_tensor* normWeight = nullptr;
    ggml_tensor* normBias = nullptr;

    // `norm` names the layer norm before the block ("...self_attn_layer_norm").
    static AttentionWeights read(const ModelFile& file, const std::string& prefix, const std::string& norm);
};

struct FeedForwardWeights {
    ggml_tensor* fc1Weight = nullptr;
    ggml_tensor* fc1Bias = nullptr;
    ggml_tensor* fc2Weight = nullptr;
    ggml_tensor* fc2Bias = nullptr;
    ggml_tensor* normWeight = nullptr;
    ggml_tensor* normBias = nullptr;

    // Under a layer prefix ("model.decoder.layers.3").
    static FeedForwardWeights read(const ModelFile& file, const std::string& layer);
};

// The text decoder's weights; also the context prefill's, which lacks the cross-attention's query
// and key projections.
struct DecoderWeights {
    struct Layer {
        AttentionWeights self;
        AttentionWeights cross;
        FeedForwardWeights feedForward;
    };
    ggml_tensor* tokenEmbedding = nullptr;    // [width, vocabulary]; also the output projection
    ggml_tensor* positionEmbedding = nullptr; // [width, context]
    std::vector<Layer> layers;
    ggml_tensor* normWeight = nullptr;
    ggml_tensor* normBias = nullptr;

    static DecoderWeights read(const ModelFile& file, int layerCount);
};

// x + fc2(gelu(fc1(norm(x)))), x being [width, tokens].
ggml_tensor* feedForward(ggml_context* ctx, ggml_tensor* x, const FeedForwardWeights& w, float eps);

// The queries, keys or values [width, tokens] as flash attention takes them:
// [head width, tokens, heads].
ggml_tensor* splitHeads(ggml_context* ctx, ggml_tensor* x, int heads);

} // namespace velnote::platform::ml
