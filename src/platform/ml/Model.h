#pragma once

#include "engine/foundation/ComputeUnits.h"
#include "engine/foundation/ModelDescription.h"
#include "platform/ml/Network.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace velnote::platform::ml {

struct ModelOptions {
    // Threads one prediction computes on; 0 = the processors this process may use.
    int threads = 0;
};

// A loaded model: the stand-in for a compiled model. Made by load(); predictions may run on any
// number of threads at once, and unload() may come from any thread: a prediction already running
// finishes on the weights it started with.
class Model {
  public:
    // Loads the model at `location` (a "<Name>.mlmodelc" folder holding one GGUF file, or the
    // file). The compute units are accepted for the callers' sake and change nothing here: every
    // network runs on the CPU. Throws ModelError (notFound, invalidModel).
    static std::shared_ptr<Model> load(const std::filesystem::path& location,
                                       basalith::ComputeUnits computeUnits = basalith::ComputeUnits::all,
                                       ModelOptions options = {});

    // Loads the model and lets it go: proves the file loads and warms the page cache. Throws as
    // load() does.
    static void prewarm(const std::filesystem::path& location,
                        basalith::ComputeUnits computeUnits = basalith::ComputeUnits::all);

    const std::string& architecture() const { return architecture_; }
    const basalith::ModelDescription& description() const { return description_; }
    const FeatureSpecs& features() const { return features_; }
    // The hyper-parameters the file holds.
    const ModelConfig& config() const { return config_; }
    basalith::ComputeUnits computeUnits() const { return computeUnits_; }

    // One prediction. Every declared input must be present with its declared shape; other element
    // types are converted (float16, float32, int32), any strides are accepted, and inputs the model
    // does not declare are ignored. Returns every declared output as a new contiguous array, in the
    // shape the file declares.
    // Throws ModelError: notLoaded after unload(), invalidInput naming the input and the fault,
    // predictionFailed when the computation cannot run.
    FeatureMap predict(const FeatureMap& inputs) const;

    // Releases the weights; later predictions fail with notLoaded.
    void unload();
    bool isLoaded() const;

  private:
    Model(std::shared_ptr<const Network> network, ModelConfig config, FeatureSpecs features,
          basalith::ComputeUnits computeUnits, int threads);

    std::shared_ptr<const Network> currentNetwork() const;

    const ModelConfig config_;
    const std::string architecture_;
    const FeatureSpecs features_;
    const basalith::ModelDescription description_;
    const basalith::ComputeUnits computeUnits_;
    const int threads_;
    mutable std::mutex mutex_;
    std::shared_ptr<const Network> network_; // guarded by mutex_; empty once unloaded
};

} // namespace velnote::platform::ml
