#pragma once

#include "engine/foundation/ComputeUnits.h"
#include "engine/foundation/ModelState.h"
#include "platform/ml/Model.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace vocalith {

// What every model wrapper of the engine shares: the loaded model (absent until loaded) and the
// one way of loading, prewarming and unloading it. The model is read once per operation, so an
// unload while a prediction runs lets that prediction finish on the model it started with.
class WhisperMLModel {
  public:
    virtual ~WhisperMLModel() = default;

    std::shared_ptr<const velnote::platform::ml::Model> model() const;
    void setModel(std::shared_ptr<const velnote::platform::ml::Model> model);

    // Loads the compiled model at `location` (a "<Name>.mlmodelc" folder). In prewarm mode the
    // model is loaded and let go again, which proves the file and warms the page cache; the
    // wrapper then stays unloaded. Throws the runtime's ModelError and leaves the model as it was.
    virtual void loadModel(const std::filesystem::path& location, basalith::ComputeUnits computeUnits,
                           bool prewarmMode);
    virtual void unloadModel();

    // loaded while a model is present, else unloaded.
    basalith::ModelState modelState() const;

  private:
    mutable std::mutex mutex_; // guards model_
    std::shared_ptr<const velnote::platform::ml::Model> model_;
};

} // namespace vocalith
