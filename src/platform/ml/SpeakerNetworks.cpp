#include "platform/ml/Graph.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/Network.h"
#include "platform/ml/SpectralBasis.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace velnote::platform::ml {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

template <class T> void requireFinite(const T* values, std::int64_t count, const char* name) {
    for (std::int64_t i = 0; i < count; ++i) {
        if (!std::isfinite(static_cast<float>(values[i])))
            throw ModelError(ModelError::Code::invalidInput,
                             std::string("Input \"") + name + "\" holds a value that is not a finite number");
    }
}

ggml_tensor* logOf(ggml_context* ctx, ggml_tensor* x) {
    return ggml_log(ctx, ggml_clamp(ctx, x, 1e-10f, FLT_MAX));
}

class SpeakerSegmenterNetwork final : public Network {
  public:
    explicit SpeakerSegmenterNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<SpeakerSegmenterConfig>(file_->config())),
          constants_(static_cast<int>(config_.frameSamples()), config_.frequencyBins(), config_.bandCount,
                     static_cast<const float*>(file_->tensor("band_filters")->data)) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const SpeakerSegmenterConfig& c = config_;
        const float* audio = inputs.at("waveform").dataAs<float>();
        requireFinite(audio, c.chunkSamples, "waveform");
        const std::int64_t frameLength = c.frameSamples(), w = c.windowCount, f = c.frameCount;
        const std::int64_t h = c.hiddenWidth;

        Graph graph(64 + 8 * static_cast<std::size_t>(c.blockCount));
        ggml_context* ctx = graph.context();
        ggml_tensor* framed = graph.input(GGML_TYPE_F32, {frameLength, w * f});
        ggml_tensor* power = ggml_sqr(ctx, ggml_mul_mat(ctx, constants_.basis(), framed)); // [2 bins, W F]
        ggml_tensor* bands = logOf(ctx, ggml_mul_mat(ctx, constants_.filters(), power));   // [B, W F]
        // The convolution runs over all windows as one sequence (ggml's batched form mixes up its
        // output), with a zero frame after each window so that none sees its neighbour's frames.
        ggml_tensor* x = ggml_reshape_3d(ctx, bands, c.bandCount, f, w);
        x = ggml_pad(ctx, ggml_cont(ctx, ggml_permute(ctx, x, 1, 0, 2, 3)), 1, 0, 0, 0); // [F + 1, B, W]
        x = ggml_cont(ctx, ggml_permute(ctx, x, 0, 2, 1, 3));                            // [F + 1, W, B]
        x = ggml_reshape_2d(ctx, x, (f + 1) * w, c.bandCount);
        x = ggml_conv_1d(ctx, file_->tensor("conv.weight"), x, 1, 1, 1); // [(F + 1) W, H]
        x = ggml_tanh(ctx, ggml_add(ctx, x, ggml_reshape_2d(ctx, file_->tensor("conv.bias"), 1, h)));
        x = ggml_view_3d(ctx, x, f, w, h, static_cast<std::size_t>(f + 1) * sizeof(float),
                         static_cast<std::size_t>((f + 1) * w) * sizeof(float), 0); // the pad frames left out
        x = ggml_reshape_2d(ctx, ggml_cont(ctx, ggml_permute(ctx, x, 1, 2, 0, 3)), h, f * w); // [H, F W]
        for (int block = 0; block < c.blockCount; ++block) {
            const std::string name = "blocks." + std::to_string(block);
            x = ggml_tanh(ctx,
                          linear(ctx, x, file_->tensor(name + ".weight"), file_->tensor(name + ".bias")));
        }
        ggml_tensor* logits =
            linear(ctx, x, file_->tensor("classifier.weight"), file_->tensor("classifier.bias")); // [S, F W]
        graph.output(logits);
        graph.allocate();

        auto* target = static_cast<float*>(framed->data);
        for (int window = 0; window < c.windowCount; ++window) {
            const float* start = audio + c.windowStart(window);
            for (std::int64_t frame = 0; frame < f; ++frame)
                target = std::copy_n(start + frame * frameLength, frameLength, target);
        }
        graph.compute(threads);
        return outputs(audio, static_cast<const float*>(logits->data));
    }

  private:
    FeatureMap outputs(const float* audio, const float* logits) const {
        const SpeakerSegmenterConfig& c = config_;
        const std::int64_t w = c.windowCount, f = c.frameCount, s = c.speakerCount;
        MultiArray windows({w, 1, c.windowSamples}, MultiArrayDataType::float32);
        MultiArray ids({w, f, s}, MultiArrayDataType::float32);
        MultiArray activity({w, s}, MultiArrayDataType::float32);
        MultiArray overlapped({w, f}, MultiArrayDataType::float32);
        float* windowValues = windows.dataAs<float>();
        float* idValues = ids.dataAs<float>();
        float* activityValues = activity.dataAs<float>();
        float* overlapValues = overlapped.dataAs<float>();
        for (std::int64_t window = 0; window < w; ++window) {
            std::copy_n(audio + c.windowStart(static_cast<int>(window)), c.windowSamples,
                        windowValues + window * c.windowSamples);
            for (std::int64_t frame = 0; frame < f; ++frame) {
                int active = 0;
                for (std::int64_t speaker = 0; speaker < s; ++speaker) {
                    const std::int64_t i = (window * f + frame) * s + speaker;
                    idValues[i] = logits[i] > 0.0f ? 1.0f : 0.0f;
                    activityValues[window * s + speaker] += idValues[i];
                    active += logits[i] > 0.0f ? 1 : 0;
                }
                overlapValues[window * f + frame] = active >= 2 ? 1.0f : 0.0f;
            }
        }
        return {{"sliding_window_waveform", windows},
                {"speaker_ids", ids},
                {"speaker_activity", activity},
                {"overlapped_speaker_activity", overlapped}};
    }

    std::shared_ptr<const ModelFile> file_;
    SpeakerSegmenterConfig config_;
    SpectralConstants constants_; // [frame samples, 2 bins] DFT basis; [2 bins, bands] filter bank
};

class SpeakerEmbedderPreprocessorNetwork final : public Network {
  public:
    explicit SpeakerEmbedderPreprocessorNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<SpeakerEmbedderPreprocessorConfig>(file_->config())),
          constants_(config_.fftLength, config_.frequencyBins(), config_.melCount,
                     static_cast<const float*>(file_->tensor("mel_filters")->data)) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const SpeakerEmbedderPreprocessorConfig& c = config_;
        const float* audio = inputs.at("waveforms").dataAs<float>();
        requireFinite(audio, c.waveformSamples, "waveforms");
        const std::int64_t frames = c.frameCount();

        Graph graph(16);
        ggml_context* ctx = graph.context();
        ggml_tensor* framed = graph.input(GGML_TYPE_F32, {c.fftLength, frames});
        ggml_tensor* power = ggml_sqr(ctx, ggml_mul_mat(ctx, constants_.basis(), framed));
        ggml_tensor* mel = logOf(ctx, ggml_mul_mat(ctx, constants_.filters(), power)); // [M, T]
        graph.output(mel);
        graph.allocate();

        auto* target = static_cast<float*>(framed->data);
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            for (std::int64_t t = 0; t < c.fftLength; ++t) {
                const std::int64_t j = frame * c.hopLength + t;
                *target++ = j < c.waveformSamples ? audio[j] : 0.0f;
            }
        }
        graph.compute(threads);

        MultiArray out({1, frames, c.melCount}, MultiArrayDataType::float32);
        std::copy_n(static_cast<const float*>(mel->data), out.count(), out.dataAs<float>());
        return {{"preprocessor_output_1", out}};
    }

  private:
    std::shared_ptr<const ModelFile> file_;
    SpeakerEmbedderPreprocessorConfig config_;
    SpectralConstants constants_;
};

class SpeakerEmbedderNetwork final : public Network {
  public:
    explicit SpeakerEmbedderNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<SpeakerEmbedderConfig>(file_->config())) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const SpeakerEmbedderConfig& c = config_;
        const std::int64_t d = c.maskRows, columns = c.maskFrames, t = c.featureFrames;
        const Float16* masks = inputs.at("speaker_masks").dataAs<Float16>();
        const float* features = inputs.at("preprocessor_output_1").dataAs<float>();
        requireFinite(masks, d * columns, "speaker_masks");
        requireFinite(features, t * c.featureLength, "preprocessor_output_1");

        Graph graph(32);
        ggml_context* ctx = graph.context();
        ggml_tensor* feature = graph.input(GGML_TYPE_F32, {c.featureLength, t});
        ggml_tensor* weights = graph.input(GGML_TYPE_F32, {t, d}); // each mask row over the feature frames
        ggml_tensor* inverseTotal = graph.input(GGML_TYPE_F32, {1, d}); // 1 / the row's total weight
        ggml_tensor* projected =
            linear(ctx, feature, file_->tensor("projection.weight"), file_->tensor("projection.bias"));
        ggml_tensor* byFrame = ggml_cont(ctx, ggml_transpose(ctx, projected)); // [T, P]
        ggml_tensor* mean = ggml_mul(ctx, ggml_mul_mat(ctx, byFrame, weights), inverseTotal);
        ggml_tensor* meanOfSquares =
            ggml_mul(ctx, ggml_mul_mat(ctx, ggml_sqr(ctx, byFrame), weights), inverseTotal);
        ggml_tensor* deviation = ggml_sqrt(
            ctx, ggml_clamp(ctx, ggml_sub(ctx, meanOfSquares, ggml_sqr(ctx, mean)), 1e-6f, FLT_MAX));
        ggml_tensor* statistics = ggml_concat(ctx, mean, deviation, 0); // [2 P, D]
        ggml_tensor* out =
            linear(ctx, statistics, file_->tensor("output.weight"), file_->tensor("output.bias"));
        graph.output(out);
        graph.allocate();

        Graph::set(feature, features);
        auto* spread = static_cast<float*>(weights->data);
        auto* inverse = static_cast<float*>(inverseTotal->data);
        for (std::int64_t row = 0; row < d; ++row) {
            double total = 0;
            for (std::int64_t frame = 0; frame < t; ++frame) {
                const float value = static_cast<float>(masks[row * columns + frame * columns / t]);
                spread[row * t + frame] = value;
                total += value;
            }
            inverse[row] = total > 0 ? static_cast<float>(1.0 / total) : 0.0f;
        }
        graph.compute(threads);

        MultiArray embeddings({1, d, c.embeddingLength}, MultiArrayDataType::float32);
        std::copy_n(static_cast<const float*>(out->data), embeddings.count(), embeddings.dataAs<float>());
        return {{"speaker_embeddings", embeddings}};
    }

  private:
    std::shared_ptr<const ModelFile> file_;
    SpeakerEmbedderConfig config_;
};

class PldaProjectorNetwork final : public Network {
  public:
    explicit PldaProjectorNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<PldaProjectorConfig>(file_->config())) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const PldaProjectorConfig& c = config_;
        const float* embeddings = inputs.at("embeddings").dataAs<float>();
        requireFinite(embeddings, static_cast<std::int64_t>(c.rows) * c.embeddingLength, "embeddings");

        Graph graph(16);
        ggml_context* ctx = graph.context();
        ggml_tensor* x = graph.input(GGML_TYPE_F32, {c.embeddingLength, c.rows});
        ggml_tensor* y = linear(ctx, x, file_->tensor("transform.weight"), file_->tensor("transform.bias"));
        y = ggml_rms_norm(ctx, y, 1e-12f); // length sqrt(E)
        ggml_tensor* z = linear(ctx, y, file_->tensor("projection.weight"), file_->tensor("projection.bias"));
        graph.output(z);
        graph.allocate();
        Graph::set(x, embeddings);
        graph.compute(threads);

        MultiArray out({1, c.rows, c.pldaLength}, MultiArrayDataType::float32);
        std::copy_n(static_cast<const float*>(z->data), out.count(), out.dataAs<float>());
        return {{"plda_embeddings", out}};
    }

  private:
    std::shared_ptr<const ModelFile> file_;
    PldaProjectorConfig config_;
};

} // namespace

std::unique_ptr<Network> makeSpeakerSegmenterNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<SpeakerSegmenterNetwork>(std::move(file));
}
std::unique_ptr<Network> makeSpeakerEmbedderPreprocessorNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<SpeakerEmbedderPreprocessorNetwork>(std::move(file));
}
std::unique_ptr<Network> makeSpeakerEmbedderNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<SpeakerEmbedderNetwork>(std::move(file));
}
std::unique_ptr<Network> makePldaProjectorNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<PldaProjectorNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
