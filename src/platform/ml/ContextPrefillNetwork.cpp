#include "platform/ml/Graph.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/Network.h"
#include "platform/ml/TransformerWeights.h"

#include <cmath>
#include <vector>

namespace velnote::platform::ml {
namespace {

using basalith::MultiArray;
using basalith::MultiArrayDataType;

// The decoder run over the prompt start (start of transcript, language, task) in one causal pass,
// keeping every layer's keys and values. There is no audio yet: each cross-attention looks at an
// all-zero encoder output, whose keys are all zero, so its weights are uniform and it adds the
// same vector to every position, out_proj(v_proj's bias).
class ContextPrefillNetwork final : public Network {
  public:
    explicit ContextPrefillNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<TextDecoderContextPrefillConfig>(file_->config())),
          weights_(DecoderWeights::read(*file_, config_.decoder.layerCount)) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const std::int32_t task = inputs.at("task").dataAs<std::int32_t>()[0];
        const std::int32_t language = inputs.at("language").dataAs<std::int32_t>()[0];
        if (task != 0 && task != 1)
            throw ModelError(ModelError::Code::invalidInput,
                             "Input \"task\" is " + std::to_string(task) +
                                 ", expected 0 (transcribe) or 1 (translate)");
        if (language < 0 || language >= config_.decoder.vocabularySize)
            throw ModelError(ModelError::Code::invalidInput, "Input \"language\" holds token " +
                                                                 std::to_string(language) +
                                                                 ", outside the vocabulary");
        std::vector<std::int32_t> tokens{config_.startOfTranscriptToken};
        if (config_.multilingual) {
            tokens.push_back(language);
            tokens.push_back(task == 1 ? config_.translateToken : config_.transcribeToken);
        }
        return run(tokens, threads);
    }

  private:
    FeatureMap run(const std::vector<std::int32_t>& tokens, int threads) const {
        const TextDecoderConfig& c = config_.decoder;
        const std::int64_t width = c.width, count = static_cast<std::int64_t>(tokens.size());
        const float scale = 1.0f / std::sqrt(static_cast<float>(width / c.headCount));

        Graph graph(64 + 128 * weights_.layers.size());
        ggml_context* ctx = graph.context();
        ggml_tensor* ids = graph.input(GGML_TYPE_I32, {count});
        ggml_tensor* positions = graph.input(GGML_TYPE_I32, {count});
        ggml_tensor* causal = graph.input(GGML_TYPE_F16, {count, count});
        ggml_tensor* x =
            ggml_add(ctx, ggml_get_rows(ctx, weights_.tokenEmbedding, ids),
                     ggml_get_rows(ctx, weights_.positionEmbedding, positions)); // [width, count]
        std::vector<ggml_tensor*> keys, values;
        for (const auto& layer : weights_.layers) {
            const AttentionWeights& a = layer.self;
            ggml_tensor* h = layerNorm(ctx, x, a.normWeight, a.normBias, c.layerNormEps);
            ggml_tensor* q = linear(ctx, h, a.qWeight, a.qBias);
            ggml_tensor* k = linear(ctx, h, a.kWeight, nullptr);
            ggml_tensor* v = linear(ctx, h, a.vWeight, a.vBias);
            keys.push_back(k);
            values.push_back(v);
            ggml_tensor* attended = ggml_flash_attn_ext(
                ctx, splitHeads(ctx, q, c.headCount),
                ggml_cast(ctx, splitHeads(ctx, k, c.headCount), GGML_TYPE_F16),
                ggml_cast(ctx, splitHeads(ctx, v, c.headCount), GGML_TYPE_F16), causal, scale, 0.0f, 0.0f);
            ggml_flash_attn_ext_set_prec(attended, GGML_PREC_F32);
            x = ggml_add(ctx, x,
                         linear(ctx, ggml_reshape_2d(ctx, attended, width, count), a.outWeight, a.outBias));

            const AttentionWeights& cross = layer.cross;
            ggml_tensor* silence =
                linear(ctx, ggml_reshape_2d(ctx, cross.vBias, width, 1), cross.outWeight, cross.outBias);
            x = ggml_add(ctx, x, silence);
            x = feedForward(ctx, x, layer.feedForward, c.layerNormEps);
        }
        for (std::size_t l = 0; l < keys.size(); ++l) {
            graph.output(keys[l]);
            graph.output(values[l]);
        }
        graph.allocate();

        Graph::set(ids, tokens.data());
        std::vector<std::int32_t> order(tokens.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<std::int32_t>(i);
        Graph::set(positions, order.data());
        // With one layer no output depends on the attention, so the graph
        // leaves the mask unallocated and there is nothing to fill.
        if (auto* mask = static_cast<ggml_fp16_t*>(causal->data)) {
            for (std::int64_t query = 0; query < count; ++query) {
                for (std::int64_t key = 0; key < count; ++key)
                    mask[query * count + key] = ggml_fp32_to_fp16(key <= query ? 0.0f : -INFINITY);
            }
        }
        graph.compute(threads);

        return {{"key_cache_prefill", gather(keys, count)}, {"value_cache_prefill", gather(values, count)}};
    }

    // Per-layer [width, count] tensors into [1, layers × width, 1, count].
    MultiArray gather(const std::vector<ggml_tensor*>& perLayer, std::int64_t count) const {
        const std::int64_t width = config_.decoder.width;
        MultiArray out({1, config_.decoder.kvCacheWidth(), 1, count}, MultiArrayDataType::float16);
        auto* target = static_cast<ggml_fp16_t*>(out.data());
        for (std::size_t l = 0; l < perLayer.size(); ++l) {
            const auto* source = static_cast<const float*>(perLayer[l]->data);
            for (std::int64_t channel = 0; channel < width; ++channel) {
                for (std::int64_t p = 0; p < count; ++p)
                    target[(static_cast<std::int64_t>(l) * width + channel) * count + p] =
                        ggml_fp32_to_fp16(source[p * width + channel]);
            }
        }
        return out;
    }

    std::shared_ptr<const ModelFile> file_;
    TextDecoderContextPrefillConfig config_;
    DecoderWeights weights_;
};

} // namespace

std::unique_ptr<Network> makeContextPrefillNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<ContextPrefillNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
