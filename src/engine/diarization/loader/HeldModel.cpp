#include "engine/diarization/loader/HeldModel.h"

namespace diarith {

std::shared_ptr<velnote::platform::ml::Model> HeldModel::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}

basalith::ModelState HeldModel::modelState() const {
    std::lock_guard lock(mutex_);
    return modelState_;
}

void HeldModel::load(bool prewarmMode) {
    auto loaded = velnote::platform::ml::Model::load(modelURL_, computeUnits_);
    std::lock_guard lock(mutex_);
    if (prewarmMode) {
        model_.reset();
        modelState_ = basalith::ModelState::prewarmed;
    } else {
        model_ = std::move(loaded);
        modelState_ = basalith::ModelState::loaded;
    }
}

void HeldModel::unload() {
    std::lock_guard lock(mutex_);
    model_.reset();
    modelState_ = basalith::ModelState::unloaded;
}

} // namespace diarith
