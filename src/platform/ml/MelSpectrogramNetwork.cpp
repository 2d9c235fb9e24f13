#include "platform/ml/Graph.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/Network.h"
#include "platform/ml/SpectralBasis.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>

namespace velnote::platform::ml {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

// Log-mel spectrogram: frames of the reflect-padded signal, one matrix product with a windowed DFT
// basis (cosines, then sines), squares, one product with the filter bank (laid out twice, so the
// real and imaginary squares add up in it), log10; the dynamic range is then cut to 8 decades
// below the loudest value and scaled to about -1...1.
class MelSpectrogramNetwork final : public Network {
  public:
    explicit MelSpectrogramNetwork(std::shared_ptr<const ModelFile> file)
        : file_(std::move(file)), config_(std::get<MelSpectrogramConfig>(file_->config())),
          constants_(config_.fftLength, config_.frequencyBins(), config_.melCount,
                     static_cast<const float*>(file_->tensor("mel_filters")->data)) {}

    FeatureMap predict(const FeatureMap& inputs, int threads) const override {
        const std::int64_t samples = config_.windowSamples, frames = config_.frameCount();
        const int half = config_.fftLength / 2;

        const float* audio = inputs.at("audio").dataAs<float>();
        if (!std::all_of(audio, audio + samples, [](float v) { return std::isfinite(v); }))
            throw ModelError(ModelError::Code::invalidInput,
                             "Input \"audio\" holds a value that is not a finite number");

        Graph graph(64);
        ggml_context* ctx = graph.context();
        // Frames overlap, which a ggml view may not, so they are cut here.
        ggml_tensor* framed = graph.input(GGML_TYPE_F32, {config_.fftLength, frames});
        ggml_tensor* power = ggml_sqr(ctx, ggml_mul_mat(ctx, constants_.basis(), framed)); // [2 bins, frames]
        ggml_tensor* mel = ggml_mul_mat(ctx, power, constants_.filters());                 // [frames, mels]
        ggml_tensor* logMel = ggml_scale(ctx, ggml_log(ctx, ggml_clamp(ctx, mel, 1e-10f, FLT_MAX)),
                                         static_cast<float>(1.0 / std::numbers::ln10));
        graph.output(logMel);
        graph.allocate();

        // Centred frames: the signal reflected at both ends by half a frame.
        auto* target = static_cast<float*>(framed->data);
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            for (std::int64_t t = 0; t < config_.fftLength; ++t) {
                std::int64_t j = frame * config_.hopLength + t - half;
                if (j < 0)
                    j = -j;
                if (j >= samples)
                    j = 2 * (samples - 1) - j;
                *target++ = audio[j];
            }
        }
        graph.compute(threads);

        const auto* values = static_cast<const float*>(logMel->data);
        const std::int64_t count = ggml_nelements(logMel);
        const float ceiling = *std::max_element(values, values + count);
        MultiArray out({1, config_.melCount, 1, frames}, MultiArrayDataType::float16);
        Float16* features = out.dataAs<Float16>();
        for (std::int64_t i = 0; i < count; ++i)
            features[i] = static_cast<Float16>((std::max(values[i], ceiling - 8.0f) + 4.0f) / 4.0f);
        return {{"melspectrogram_features", out}};
    }

  private:
    std::shared_ptr<const ModelFile> file_;
    MelSpectrogramConfig config_;
    SpectralConstants constants_; // [fft, 2 bins] windowed DFT basis; [2 bins, mels] filter bank
};

} // namespace

std::unique_ptr<Network> makeMelSpectrogramNetwork(std::shared_ptr<const ModelFile> file) {
    return std::make_unique<MelSpectrogramNetwork>(std::move(file));
}

} // namespace velnote::platform::ml
