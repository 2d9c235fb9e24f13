#include "engine/diarization/embedding/AuxiliaryModels.h"

#include "engine/diarization/segmentation/ModelGeometry.h"
#include "engine/foundation/Logging.h"

#include <variant>

namespace diarith {

std::shared_ptr<velnote::platform::ml::Model> AuxiliaryModel::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}

void AuxiliaryModel::loadModel(bool prewarmMode) {
    auto loaded = velnote::platform::ml::Model::load(modelURL_, computeUnits());
    std::lock_guard lock(mutex_);
    if (prewarmMode)
        model_.reset();
    else
        model_ = std::move(loaded);
}

void AuxiliaryModel::unloadModel() {
    std::lock_guard lock(mutex_);
    model_.reset();
}

std::int64_t SpeakerPreEmbedderModel::waveformSize() const {
    const auto held = model();
    const auto shape = anyInputShape(held ? &held->description() : nullptr, "waveforms");
    if (shape && shape->size() >= 2)
        return (*shape)[1];
    basalith::Logging::error("Failed to get waveform shape for PreEmbedderModel");
    return 0;
}

std::optional<std::vector<float>> PLDAEmbedderModel::betweenClassCovariance() const {
    const auto held = model();
    if (!held)
        return std::nullopt;
    if (const auto* config = std::get_if<velnote::platform::ml::PldaProjectorConfig>(&held->config()))
        return config->betweenClassCovariance;
    return std::nullopt;
}

} // namespace diarith
