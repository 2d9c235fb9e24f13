#pragma once

#include "engine/foundation/ComputeUnits.h"
#include "engine/foundation/ModelState.h"
#include "platform/ml/Model.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace diarith {

// One model file of the diarizer and the model loaded from it, read through a shared pointer so
// that unloading never frees a model under a running call. Thread-safe.
class HeldModel {
  public:
    HeldModel(std::filesystem::path modelURL, basalith::ComputeUnits computeUnits)
        : modelURL_(std::move(modelURL)), computeUnits_(computeUnits) {}

    const std::filesystem::path& modelURL() const { return modelURL_; }
    basalith::ComputeUnits computeUnits() const { return computeUnits_; }
    // Null before loading, after a prewarm and after unloading.
    std::shared_ptr<velnote::platform::ml::Model> model() const;
    basalith::ModelState modelState() const;

    // Loads the model (prewarmMode: loads and lets it go). Throws the runtime's ModelError and
    // changes nothing then.
    void load(bool prewarmMode);
    void unload();

  private:
    const std::filesystem::path modelURL_;
    const basalith::ComputeUnits computeUnits_;
    mutable std::mutex mutex_; // guards the two below
    std::shared_ptr<velnote::platform::ml::Model> model_;
    basalith::ModelState modelState_ = basalith::ModelState::unloaded;
};

} // namespace diarith
