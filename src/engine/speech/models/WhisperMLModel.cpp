#include "engine/speech/models/WhisperMLModel.h"

namespace vocalith {

std::shared_ptr<const velnote::platform::ml::Model> WhisperMLModel::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}

void WhisperMLModel::setModel(std::shared_ptr<const velnote::platform::ml::Model> model) {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
}

void WhisperMLModel::loadModel(const std::filesystem::path& location, basalith::ComputeUnits computeUnits,
                               bool prewarmMode) {
    if (prewarmMode) {
        velnote::platform::ml::Model::prewarm(location, computeUnits);
        setModel(nullptr);
        return;
    }
    setModel(velnote::platform::ml::Model::load(location, computeUnits));
}

void WhisperMLModel::unloadModel() {
    setModel(nullptr);
}

basalith::ModelState WhisperMLModel::modelState() const {
    return model() ? basalith::ModelState::loaded : basalith::ModelState::unloaded;
}

} // namespace vocalith
