#pragma once

#include "engine/foundation/ComputeUnits.h"
#include "platform/ml/Model.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace diarith {

// A model the embedder runs beside its own, always on the CPU: loaded, unloaded and read through
// a shared pointer, so a running embedding keeps the model it started with.
class AuxiliaryModel {
  public:
    explicit AuxiliaryModel(std::filesystem::path modelURL) : modelURL_(std::move(modelURL)) {}

    const std::filesystem::path& modelURL() const { return modelURL_; }
    basalith::ComputeUnits computeUnits() const { return basalith::ComputeUnits::cpuOnly; }
    // Null before loading, after a prewarm and after unloading.
    std::shared_ptr<velnote::platform::ml::Model> model() const;

    // Throws the runtime's ModelError and keeps the held model then.
    void loadModel(bool prewarmMode);
    void unloadModel();

  private:
    const std::filesystem::path modelURL_;
    mutable std::mutex mutex_;
    std::shared_ptr<velnote::platform::ml::Model> model_;
};

// The embedder's preprocessor: a chunk's samples to the features the embedder reads.
class SpeakerPreEmbedderModel final : public AuxiliaryModel {
  public:
    using AuxiliaryModel::AuxiliaryModel;
    // The declared "waveforms" shape[1]; 0 (with the error line "Failed to get waveform shape for
    // PreEmbedderModel") without a model or without a declared shape of at least two entries.
    std::int64_t waveformSize() const;
};

// The PLDA projection of the embedder's rows.
class PLDAEmbedderModel final : public AuxiliaryModel {
  public:
    using AuxiliaryModel::AuxiliaryModel;
    // Φ, the between-speaker covariance the clustering needs, as the loaded model's file holds it;
    // none without a model.
    std::optional<std::vector<float>> betweenClassCovariance() const;
};

} // namespace diarith
