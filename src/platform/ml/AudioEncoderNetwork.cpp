#include "platform/ml/EncoderAttention.h"
#include "platform/ml/Graph.h"
#include "platform/ml/Network.h"
#include "platform/ml/TransformerWeights.h"

#include <cmath>
#include <vector>

namespace velnote::platform::ml {
namespace {

using basalith::MultiArray;
using basalith::MultiArrayDataType;

// Two GELU convolutions (the second halves the frames), position embeddings, pre-norm
// self-attention blocks (our BF16 attention kernel where the processor has it, else ggml's flash
// attention), a final layer norm.
class AudioEncoderNetwork final : public Network {
  public:
    explicit AudioEncoderNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<AudioEncoderConfig>(file_->config())),
          attentionShape_{config_.headCount,
                          1.0f / std::sqrt(static_cast<float>(config_.width / config_.headCount))} {
        for (int layer = 0; layer < config_.layerCount; ++layer) {
            const std::string prefix = "model.encoder.layers." + std::to_string(layer);
            layers_.push_back(
                {AttentionWeights::read(*file_, prefix + ".self_attn", prefix + ".self_attn_layer_norm"),
                 FeedForwardWeights::read(*file_, prefix)});
        }
    }

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const std::int64_t frames = config_.contextLength, width = config_.width;
        const ModelFile& f = *file_;
        Graph graph(64 + 128 * static_cast<std::size_t>(config_.layerCount));
        ggml_context* ctx = graph.context();

        ggml_tensor* mel = graph.input(GGML_TYPE_F32, {2 * frames, config_.melCount});
        ggml_tensor* x = ggml_conv_1d(ctx, f.tensor("model.encoder.conv1.weight"), mel, 1, 1, 1);
        x = geluErf(ctx,
                    ggml_add(ctx, x, ggml_reshape_2d(ctx, f.tensor("model.encoder.conv1.bias"), 1, width)));
        x = ggml_conv_1d(ctx, f.tensor("model.encoder.conv2.weight"), x, 2, 1, 1);
        x = geluErf(ctx,
                    ggml_add(ctx, x, ggml_reshape_2d(ctx, f.tensor("model.encoder.conv2.bias"), 1, width)));
        x = ggml_add(ctx, ggml_cont(ctx, ggml_transpose(ctx, x)),
                     f.tensor("model.encoder.embed_positions.weight"));

        const float eps = config_.layerNormEps;
        for (const auto& layer : layers_) {
            const AttentionWeights& a = layer.attention;
            ggml_tensor* h = layerNorm(ctx, x, a.normWeight, a.normBias, eps);
            ggml_tensor* attended =
                attention(ctx, linear(ctx, h, a.qWeight, a.qBias), linear(ctx, h, a.kWeight, nullptr),
                          linear(ctx, h, a.vWeight, a.vBias));
            x = ggml_add(ctx, x, linear(ctx, attended, a.outWeight, a.outBias));
            x = feedForward(ctx, x, layer.feedForward, eps);
        }
        x = layerNorm(ctx, x, f.tensor("model.encoder.layer_norm.weight"),
                      f.tensor("model.encoder.layer_norm.bias"), eps);
        ggml_tensor* out = ggml_cont(ctx, ggml_transpose(ctx, x)); // [frames, width]
        graph.output(out);
        graph.allocate();

        const auto& features = inputs.at("melspectrogram_features");
        ggml_fp16_to_fp32_row(reinterpret_cast<const ggml_fp16_t*>(features.data()),
                              static_cast<float*>(mel->data), ggml_nelements(mel));
        graph.compute(threads);

        MultiArray embeds({1, width, 1, frames}, MultiArrayDataType::float16);
        ggml_fp32_to_fp16_row(static_cast<const float*>(out->data), static_cast<ggml_fp16_t*>(embeds.data()),
                              ggml_nelements(out));
        return {{"encoder_output_embeds", embeds}};
    }

  private:
    // q, k, v and the result [width, frames].
    ggml_tensor* attention(ggml_context* ctx, ggml_tensor* q, ggml_tensor* k, ggml_tensor* v) const {
        if (encoderAttentionRuns(config_.width / config_.headCount))
            return encoderAttention(ctx, q, k, v, attentionShape_);
        const int heads = config_.headCount;
        k = ggml_cast(ctx, splitHeads(ctx, k, heads), GGML_TYPE_F16);
        v = ggml_cast(ctx, splitHeads(ctx, v, heads), GGML_TYPE_F16);
        ggml_tensor* attended = ggml_flash_attn_ext(ctx, splitHeads(ctx, q, heads), k, v, nullptr,
                                                    attentionShape_.scale, 0.0f, 0.0f);
        return ggml_reshape_2d(ctx, attended, q->ne[0], q->ne[1]);
    }

    struct Layer {
        AttentionWeights attention;
        FeedForwardWeights feedForward;
    };
    std::shared_ptr<const ModelFile> file_;
    AudioEncoderConfig config_;
    EncoderAttentionShape attentionShape_;
    std::vector<Layer> layers_;
};

} // namespace

std::unique_ptr<Network> makeAudioEncoderNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<AudioEncoderNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
