#include "platform/ml/Graph.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/Network.h"
#include "platform/ml/TransformerWeights.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

namespace velnote::platform::ml {
namespace {

using basalith::MultiArray;
using basalith::MultiArrayDataType;

// The cross-attention keys and values of one encoder output, for every layer. They depend only
// on the encoder output, which stays the same for every token of a window, so they are computed
// once per window instead of once per token (for the base model 9 GFLOP a token).
struct CrossAttentionEntry {
    std::vector<std::uint8_t> encoderOutput; // the float16 bytes the entry was computed from
    ConstantTensors tensors;
    std::vector<ggml_tensor*> keys;   // per layer [head width, frames, heads]
    std::vector<ggml_tensor*> values; // per layer [frames, head width, heads] (transposed)
    explicit CrossAttentionEntry(std::size_t layers) : tensors(2 * layers) {}
};

// Encoder outputs kept at the least. Concurrent windows each decode against their own, so the
// cache keeps as many as predictions have run at once: with fewer, windows decoding side by side
// push each other's entries out and every step pays for its window's projections again.
constexpr std::size_t kMinimumCrossAttentionEntries = 4;

// One decoder step for one token at position cache_length, attending to the cached keys and
// values of the positions the padding mask opens; the update mask says where this token's own
// key and value stand among them.
class TextDecoderNetwork final : public Network {
  public:
    explicit TextDecoderNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<TextDecoderConfig>(file_->config())),
          weights_(DecoderWeights::read(*file_, config_.layerCount)) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const std::int32_t token = inputs.at("input_ids").dataAs<std::int32_t>()[0];
        const std::int32_t position = inputs.at("cache_length").dataAs<std::int32_t>()[0];
        if (token < 0 || token >= config_.vocabularySize)
            throw ModelError(ModelError::Code::invalidInput,
                             "Input \"input_ids\" holds token " + std::to_string(token) +
                                 ", outside the vocabulary of " + std::to_string(config_.vocabularySize));
        if (position < 0 || position >= config_.kvCacheLength)
            throw ModelError(ModelError::Code::invalidInput,
                             "Input \"cache_length\" is " + std::to_string(position) +
                                 ", outside the cache of " + std::to_string(config_.kvCacheLength) +
                                 " positions");
        const InFlight counted(*this);
        const auto cross = crossAttention(inputs.at("encoder_output_embeds"), threads);
        return step(inputs, token, position, *cross, threads);
    }

  private:
    // Counts the predictions running at once and remembers the most there ever were.
    class InFlight {
      public:
        explicit InFlight(const TextDecoderNetwork& network) : network_(network) {
            std::lock_guard lock(network_.cacheMutex_);
            network_.peakInFlight_ = std::max(network_.peakInFlight_, ++network_.inFlight_);
        }
        ~InFlight() {
            std::lock_guard lock(network_.cacheMutex_);
            --network_.inFlight_;
        }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;

      private:
        const TextDecoderNetwork& network_;
    };

    std::shared_ptr<const CrossAttentionEntry> crossAttention(const MultiArray& encoderOutput,
                                                              int threads) const {
        const auto* bytes = static_cast<const std::uint8_t*>(encoderOutput.data());
        const std::size_t size = static_cast<std::size_t>(encoderOutput.count()) * sizeof(ggml_fp16_t);
        {
            std::lock_guard lock(cacheMutex_);
            for (auto it = cache_.begin(); it != cache_.end(); ++it) {
                if (std::memcmp((*it)->encoderOutput.data(), bytes, size) == 0) {
                    cache_.splice(cache_.begin(), cache_, it);
                    return cache_.front();
                }
            }
        }
        auto entry = computeCrossAttention(bytes, size, threads);
        std::lock_guard lock(cacheMutex_);
        cache_.push_front(entry);
        while (cache_.size() > std::max(kMinimumCrossAttentionEntries, peakInFlight_))
            cache_.pop_back();
        return entry;
    }

    std::shared_ptr<const CrossAttentionEntry> computeCrossAttention(const std::uint8_t* bytes,
                                                                     std::size_t size, int threads) const {
        const std::int64_t width = config_.width, frames = config_.audioContextLength;
        const std::int64_t heads = config_.headCount, headWidth = width / heads;
        auto entry = std::make_shared<CrossAttentionEntry>(weights_.layers.size());
        entry->encoderOutput.assign(bytes, bytes + size);
        for (std::size_t i = 0; i < weights_.layers.size(); ++i) {
            entry->keys.push_back(entry->tensors.add(GGML_TYPE_F16, {headWidth, frames, heads}));
            entry->values.push_back(entry->tensors.add(GGML_TYPE_F16, {frames, headWidth, heads}));
        }
        entry->tensors.allocate();

        Graph graph(16 + 32 * weights_.layers.size());
        ggml_context* ctx = graph.context();
        ggml_tensor* encoded = graph.input(GGML_TYPE_F16, {frames, width});
        ggml_tensor* x =
            ggml_cont(ctx, ggml_transpose(ctx, ggml_cast(ctx, encoded, GGML_TYPE_F32))); // [width, frames]
        for (std::size_t i = 0; i < weights_.layers.size(); ++i) {
            const AttentionWeights& a = weights_.layers[i].cross;
            ggml_tensor* k =
                ggml_reshape_3d(ctx, linear(ctx, x, a.kWeight, nullptr), headWidth, heads, frames);
            ggml_tensor* v =
                ggml_reshape_3d(ctx, linear(ctx, x, a.vWeight, a.vBias), headWidth, heads, frames);
            graph.output(ggml_cpy(ctx, ggml_permute(ctx, k, 0, 2, 1, 3), entry->keys[i]));
            graph.output(ggml_cpy(ctx, ggml_permute(ctx, v, 1, 2, 0, 3), entry->values[i]));
        }
        graph.allocate();
        Graph::set(encoded, bytes);
        graph.compute(threads);
        return entry;
    }

    FeatureMap step(const FeatureMap& inputs, std::int32_t token, std::int32_t position,
                    const CrossAttentionEntry& cross, int threads) const {
        const std::int64_t width = config_.width, slots = config_.kvCacheLength;
        const std::int64_t frames = config_.audioContextLength;
        const int heads = config_.headCount;
        const float eps = config_.layerNormEps;
        const float scale = 1.0f / std::sqrt(static_cast<float>(width / heads));

        Graph graph(64 + 128 * weights_.layers.size() + 2 * config_.alignmentHeads.size());
        ggml_context* ctx = graph.context();
        ggml_tensor* ids = graph.input(GGML_TYPE_I32, {1});
        ggml_tensor* positions = graph.input(GGML_TYPE_I32, {1});
        ggml_tensor* keyCache = graph.input(GGML_TYPE_F16, {slots, config_.kvCacheWidth()});
        ggml_tensor* valueCache = graph.input(GGML_TYPE_F16, {slots, config_.kvCacheWidth()});
        ggml_tensor* update = graph.input(GGML_TYPE_F32, {slots, 1});
        ggml_tensor* padding = graph.input(GGML_TYPE_F16, {slots, 1});

        ggml_tensor* x = ggml_add(ctx, ggml_get_rows(ctx, weights_.tokenEmbedding, ids),
                                  ggml_get_rows(ctx, weights_.positionEmbedding, positions)); // [width, 1]
        std::vector<ggml_tensor*> newKeys, newValues;
        ggml_tensor* alignment = nullptr;
        for (std::size_t l = 0; l < weights_.layers.size(); ++l) {
            const auto& layer = weights_.layers[l];
            const AttentionWeights& a = layer.self;
            ggml_tensor* h = layerNorm(ctx, x, a.normWeight, a.normBias, eps);
            ggml_tensor* q = linear(ctx, h, a.qWeight, a.qBias);
            ggml_tensor* k = linear(ctx, h, a.kWeight, nullptr);
            ggml_tensor* v = linear(ctx, h, a.vWeight, a.vBias);
            newKeys.push_back(k);
            newValues.push_back(v);
            ggml_tensor* keys = withUpdate(ctx, keyCache, k, update, l);
            ggml_tensor* values = withUpdate(ctx, valueCache, v, update, l);
            ggml_tensor* attended = ggml_flash_attn_ext(ctx, ggml_cont(ctx, splitHeads(ctx, q, heads)), keys,
                                                        values, padding, scale, 0.0f, 0.0f);
            ggml_flash_attn_ext_set_prec(attended, GGML_PREC_F32);
            x = ggml_add(ctx, x,
                         linear(ctx, ggml_reshape_2d(ctx, attended, width, 1), a.outWeight, a.outBias));

            const AttentionWeights& c = layer.cross;
            h = layerNorm(ctx, x, c.normWeight, c.normBias, eps);
            q = ggml_cont(ctx, splitHeads(ctx, linear(ctx, h, c.qWeight, c.qBias), heads)); // [hw, 1, heads]
            ggml_tensor* weights =
                ggml_soft_max_ext(ctx, ggml_mul_mat(ctx, cross.keys[l], q), nullptr, scale, 0.0f);
            for (const auto& head : config_.alignmentHeads) {
                if (head.layer != static_cast<int>(l))
                    continue;
                ggml_tensor* one = ggml_view_1d(ctx, weights, frames, head.head * weights->nb[2]);
                alignment = alignment ? ggml_add(ctx, alignment, one) : one;
            }
            ggml_tensor* heard = ggml_reshape_2d(ctx, ggml_mul_mat(ctx, cross.values[l], weights), width, 1);
            x = ggml_add(ctx, x, linear(ctx, heard, c.outWeight, c.outBias));
            x = feedForward(ctx, x, layer.feedForward, eps);
        }
        x = layerNorm(ctx, x, weights_.normWeight, weights_.normBias, eps);
        ggml_tensor* logits = ggml_mul_mat(ctx, weights_.tokenEmbedding, x); // [vocabulary, 1]
        graph.output(logits);
        for (std::size_t l = 0; l < newKeys.size(); ++l) {
            graph.output(newKeys[l]);
            graph.output(newValues[l]);
        }
        if (alignment) {
            alignment = ggml_scale(ctx, alignment, 1.0f / static_cast<float>(config_.alignmentHeads.size()));
            graph.output(alignment);
        }
        graph.allocate();

        Graph::set(ids, &token);
        Graph::set(positions, &position);
        Graph::set(keyCache, inputs.at("key_cache").data());
        Graph::set(valueCache, inputs.at("value_cache").data());
        Graph::set(padding, inputs.at("decoder_key_padding_mask").data());
        const std::int32_t* mask = inputs.at("kv_cache_update_mask").dataAs<std::int32_t>();
        auto* updateValues = static_cast<float*>(update->data);
        for (std::int64_t s = 0; s < slots; ++s)
            updateValues[s] = mask[s] != 0 ? 1.0f : 0.0f;
        graph.compute(threads);

        FeatureMap out;
        out.emplace("logits", toHalf(logits, {1, 1, config_.vocabularySize}));
        out.emplace("key_cache_updates", joinLayers(newKeys));
        out.emplace("value_cache_updates", joinLayers(newValues));
        if (alignment)
            out.emplace("alignment_heads_weights", toHalf(alignment, {1, frames}));
        return out;
    }

    // Layer l's cached keys (or values) with this step's vector at the positions the update mask
    // marks, as flash attention takes them: [head width, slots, heads], float16.
    ggml_tensor* withUpdate(ggml_context* ctx, ggml_tensor* cache, ggml_tensor* fresh, ggml_tensor* update,
                            std::size_t layer) const {
        const std::int64_t width = config_.width, slots = config_.kvCacheLength;
        ggml_tensor* cached =
            ggml_cast(ctx, ggml_view_2d(ctx, cache, slots, width, cache->nb[1], layer * width * cache->nb[1]),
                      GGML_TYPE_F32); // [slots, width]
        ggml_tensor* spread = ggml_repeat(ctx, ggml_reshape_2d(ctx, fresh, 1, width), cached);
        ggml_tensor* merged = ggml_add(ctx, cached, ggml_mul(ctx, ggml_sub(ctx, spread, cached), update));
        const std::int64_t headWidth = width / config_.headCount;
        ggml_tensor* perHead =
            ggml_permute(ctx, ggml_reshape_3d(ctx, merged, slots, headWidth, config_.headCount), 1, 0, 2, 3);
        return ggml_cast(ctx, perHead, GGML_TYPE_F16);
    }

    static MultiArray toHalf(const ggml_tensor* t, std::vector<std::int64_t> shape) {
        MultiArray out(std::move(shape), MultiArrayDataType::float16);
        ggml_fp32_to_fp16_row(static_cast<const float*>(t->data), static_cast<ggml_fp16_t*>(out.data()),
                              ggml_nelements(t));
        return out;
    }

    MultiArray joinLayers(const std::vector<ggml_tensor*>& perLayer) const {
        MultiArray out({1, config_.kvCacheWidth(), 1, 1}, MultiArrayDataType::float16);
        auto* target = static_cast<ggml_fp16_t*>(out.data());
        for (std::size_t l = 0; l < perLayer.size(); ++l)
            ggml_fp32_to_fp16_row(static_cast<const float*>(perLayer[l]->data), target + l * config_.width,
                                  config_.width);
        return out;
    }

    std::shared_ptr<const ModelFile> file_;
    TextDecoderConfig config_;
    DecoderWeights weights_;
    mutable std::mutex cacheMutex_;
    // Most recently used first; guarded by cacheMutex_. Entries are shared with running steps.
    mutable std::list<std::shared_ptr<const CrossAttentionEntry>> cache_;
    mutable std::size_t inFlight_ = 0;     // guarded by cacheMutex_
    mutable std::size_t peakInFlight_ = 0; // guarded by cacheMutex_
};

} // namespace

std::unique_ptr<Network> makeTextDecoderNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<TextDecoderNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
