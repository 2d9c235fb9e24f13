#include "platform/ml/DecoderAttention.h"
#include "platform/ml/Graph.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/Network.h"
#include "platform/ml/TransformerWeights.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
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
    std::vector<ggml_tensor*> keys;   // per layer [frames, width]: a row of frames per channel
    std::vector<ggml_tensor*> values; // per layer [frames, width]
    explicit CrossAttentionEntry(std::size_t layers) : tensors(2 * layers) {}
};

// Encoder outputs kept at the least. Concurrent windows each decode against their own, so the
// cache keeps as many as predictions have run at once: with fewer, windows decoding side by side
// push each other's entries out and every step pays for its window's projections again.
constexpr std::size_t kMinimumCrossAttentionEntries = 4;

// Batches computed at once, per thread a prediction may use. A step alone reads every weight for
// one token, which is most of its time; steps beyond what the processors can compute side by side
// would wait for one anyway, and computed together they share the reading. Measured on 2 and 8
// processors with 16 windows: fewer batches leave processors idle, more batch nothing.
constexpr int kBatchesPerThread = 2;

// One caller's step while it waits for a batch to take it.
struct StepRequest {
    const FeatureMap* inputs = nullptr;
    std::int32_t token = 0;
    std::int32_t position = 0;
    std::shared_ptr<const CrossAttentionEntry> cross;
    FeatureMap outputs;
    std::exception_ptr error;
    bool done = false; // guarded by the network's batch mutex
};

// One decoder step for one token at position cache_length, attending to the cached keys and
// values of the positions the padding mask opens; the update mask says where this token's own
// key and value stand among them.
//
// Steps asked for at the same time (the engine decodes many windows at once) may be computed
// together: while every batch the processors allow is computing, the steps that arrive wait, and
// the first waiting thread to find room takes them all into the next. The weights are then read
// once for the whole batch. The attention itself stays per step (DecoderAttention).
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
        StepRequest request;
        request.inputs = &inputs;
        request.token = token;
        request.position = position;
        request.cross = crossAttention(inputs.at("encoder_output_embeds"), threads);
        stepInBatch(request, threads);
        if (request.error)
            std::rethrow_exception(request.error);
        return std::move(request.outputs);
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
        auto entry = std::make_shared<CrossAttentionEntry>(weights_.layers.size());
        entry->encoderOutput.assign(bytes, bytes + size);
        for (std::size_t i = 0; i < weights_.layers.size(); ++i) {
            entry->keys.push_back(entry->tensors.add(GGML_TYPE_F16, {frames, width}));
            entry->values.push_back(entry->tensors.add(GGML_TYPE_F16, {frames, width}));
        }
        entry->tensors.allocate();

        Graph graph(16 + 32 * weights_.layers.size());
        ggml_context* ctx = graph.context();
        ggml_tensor* encoded = graph.input(GGML_TYPE_F16, {frames, width});
        ggml_tensor* x =
            ggml_cont(ctx, ggml_transpose(ctx, ggml_cast(ctx, encoded, GGML_TYPE_F32))); // [width, frames]
        for (std::size_t i = 0; i < weights_.layers.size(); ++i) {
            const AttentionWeights& a = weights_.layers[i].cross;
            ggml_tensor* k = linear(ctx, x, a.kWeight, nullptr);
            ggml_tensor* v = linear(ctx, x, a.vWeight, a.vBias);
            graph.output(ggml_cpy(ctx, ggml_transpose(ctx, k), entry->keys[i]));
            graph.output(ggml_cpy(ctx, ggml_transpose(ctx, v), entry->values[i]));
        }
        graph.allocate();
        Graph::set(encoded, bytes);
        graph.compute(threads);
        return entry;
    }

    // Waits until `request` is computed, in a batch this thread runs or another one does.
    void stepInBatch(StepRequest& request, int threads) const {
        std::unique_lock lock(batchMutex_);
        waiting_.push_back(&request);
        while (!request.done) {
            if (batchesRunning_ < kBatchesPerThread * threads && !waiting_.empty())
                runBatch(lock, threads);
            else
                batchTurn_.wait(lock);
        }
    }

    // Takes every waiting step and computes them; `lock` holds batchMutex_ on entry and on return.
    void runBatch(std::unique_lock<std::mutex>& lock, int threads) const {
        ++batchesRunning_;
        std::vector<StepRequest*> batch;
        batch.swap(waiting_);
        lock.unlock();
        std::exception_ptr failure;
        try {
            step(batch, threads);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        for (StepRequest* taken : batch) {
            if (failure)
                taken->error = failure;
            taken->done = true;
        }
        --batchesRunning_;
        batchTurn_.notify_all();
    }

    StepAttention attentionOf(const StepRequest& request) const {
        const FeatureMap& in = *request.inputs;
        StepAttention step;
        step.keyCache = static_cast<const ggml_fp16_t*>(in.at("key_cache").data());
        step.valueCache = static_cast<const ggml_fp16_t*>(in.at("value_cache").data());
        step.crossKeys = &request.cross->keys;
        step.crossValues = &request.cross->values;
        step.setMasks(in.at("kv_cache_update_mask").dataAs<std::int32_t>(),
                      static_cast<const ggml_fp16_t*>(in.at("decoder_key_padding_mask").data()),
                      config_.kvCacheLength);
        return step;
    }

    void step(const std::vector<StepRequest*>& batch, int threads) const {
        const auto count = static_cast<std::int64_t>(batch.size());
        const std::int64_t width = config_.width, frames = config_.audioContextLength;
        const float eps = config_.layerNormEps;
        std::vector<StepAttention> steps;
        for (const StepRequest* request : batch)
            steps.push_back(attentionOf(*request));
        BatchAttention attention({.width = width,
                                  .heads = config_.headCount,
                                  .slots = config_.kvCacheLength,
                                  .frames = frames,
                                  .scale = 1.0f / std::sqrt(static_cast<float>(width / config_.headCount))},
                                 std::move(steps), weights_.layers.size());

        Graph graph(64 + 64 * weights_.layers.size() + 2 * config_.alignmentHeads.size());
        ggml_context* ctx = graph.context();
        ggml_tensor* ids = graph.input(GGML_TYPE_I32, {count});
        ggml_tensor* positions = graph.input(GGML_TYPE_I32, {count});
        ggml_tensor* x =
            ggml_add(ctx, ggml_get_rows(ctx, weights_.tokenEmbedding, ids),
                     ggml_get_rows(ctx, weights_.positionEmbedding, positions)); // [width, count]
        std::vector<ggml_tensor*> newKeys, newValues;
        ggml_tensor* alignment = nullptr;
        for (std::size_t l = 0; l < weights_.layers.size(); ++l) {
            const auto& layer = weights_.layers[l];
            const AttentionWeights& a = layer.self;
            ggml_tensor* h = layerNorm(ctx, x, a.normWeight, a.normBias, eps);
            ggml_tensor* q = linear(ctx, h, a.qWeight, a.qBias);
            newKeys.push_back(linear(ctx, h, a.kWeight, nullptr));
            newValues.push_back(linear(ctx, h, a.vWeight, a.vBias));
            ggml_tensor* attended = attention.self(ctx, q, newKeys.back(), newValues.back(), l);
            x = ggml_add(ctx, x, linear(ctx, attended, a.outWeight, a.outBias));

            const AttentionWeights& c = layer.cross;
            h = layerNorm(ctx, x, c.normWeight, c.normBias, eps);
            ggml_tensor* weights = attention.crossWeights(ctx, linear(ctx, h, c.qWeight, c.qBias), l);
            for (const auto& head : config_.alignmentHeads) {
                if (head.layer != static_cast<int>(l))
                    continue;
                ggml_tensor* one = ggml_view_2d(ctx, weights, frames, count, weights->nb[2],
                                                static_cast<std::size_t>(head.head) * weights->nb[1]);
                alignment = alignment ? ggml_add(ctx, alignment, one) : ggml_cont(ctx, one);
            }
            x = ggml_add(ctx, x, linear(ctx, attention.crossValues(ctx, weights, l), c.outWeight, c.outBias));
            x = feedForward(ctx, x, layer.feedForward, eps);
        }
        x = layerNorm(ctx, x, weights_.normWeight, weights_.normBias, eps);
        ggml_tensor* logits = ggml_mul_mat(ctx, weights_.tokenEmbedding, x); // [vocabulary, count]
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

        for (std::int64_t i = 0; i < count; ++i) {
            static_cast<std::int32_t*>(ids->data)[i] = batch[static_cast<std::size_t>(i)]->token;
            static_cast<std::int32_t*>(positions->data)[i] = batch[static_cast<std::size_t>(i)]->position;
        }
        graph.compute(threads, static_cast<int>(count));

        for (std::int64_t i = 0; i < count; ++i) {
            FeatureMap& out = batch[static_cast<std::size_t>(i)]->outputs;
            out.emplace("logits", toHalf(logits, i, {1, 1, config_.vocabularySize}));
            out.emplace("key_cache_updates", joinLayers(newKeys, i));
            out.emplace("value_cache_updates", joinLayers(newValues, i));
            if (alignment)
                out.emplace("alignment_heads_weights", toHalf(alignment, i, {1, frames}));
        }
    }

    // Column `index` of a float tensor [n, steps] as a float16 array of `shape`.
    static MultiArray toHalf(const ggml_tensor* t, std::int64_t index, std::vector<std::int64_t> shape) {
        MultiArray out(std::move(shape), MultiArrayDataType::float16);
        ggml_fp32_to_fp16_row(
            reinterpret_cast<const float*>(static_cast<const char*>(t->data) + index * t->nb[1]),
            static_cast<ggml_fp16_t*>(out.data()), t->ne[0]);
        return out;
    }

    MultiArray joinLayers(const std::vector<ggml_tensor*>& perLayer, std::int64_t index) const {
        MultiArray out({1, config_.kvCacheWidth(), 1, 1}, MultiArrayDataType::float16);
        auto* target = static_cast<ggml_fp16_t*>(out.data());
        for (std::size_t l = 0; l < perLayer.size(); ++l) {
            const auto* column = reinterpret_cast<const float*>(static_cast<const char*>(perLayer[l]->data) +
                                                                index * perLayer[l]->nb[1]);
            ggml_fp32_to_fp16_row(column, target + l * config_.width, config_.width);
        }
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
    mutable std::mutex batchMutex_;
    mutable std::condition_variable batchTurn_;
    mutable std::vector<StepRequest*> waiting_; // steps no batch has taken yet; guarded by batchMutex_
    mutable int batchesRunning_ = 0;            // guarded by batchMutex_
};

} // namespace

std::unique_ptr<Network> makeTextDecoderNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<TextDecoderNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
