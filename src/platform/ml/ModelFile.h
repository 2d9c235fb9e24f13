#pragma once

#include "platform/ml/ModelConfig.h"

#include <filesystem>
#include <memory>
#include <string>

struct ggml_tensor;

namespace velnote::platform::ml {

// One model file, checked and with its weights in memory: the configuration read from its keys,
// the inputs and outputs it declares, and its tensors in a ggml CPU buffer. Immutable after
// loading, so any number of threads may read it.
class ModelFile {
  public:
    // The GGUF file of a model location: the location itself when it is a file, else the one
    // "*.gguf" file directly inside the folder. Throws ModelError(notFound) when there is none,
    // or more than one.
    static std::filesystem::path locate(const std::filesystem::path& location);

    // Opens, checks and reads the whole model. Throws ModelError: notFound (see locate) or
    // invalidModel with the reason (not a GGUF file, truncated, unknown architecture, a
    // hyper-parameter out of range, a description that does not match the hyper-parameters, a
    // missing tensor or one of another shape or type).
    static std::shared_ptr<const ModelFile> load(const std::filesystem::path& location);

    ~ModelFile();
    ModelFile(const ModelFile&) = delete;
    ModelFile& operator=(const ModelFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const ModelConfig& config() const { return config_; }
    const FeatureSpecs& features() const { return features_; }
    // The weight tensor of that name; std::out_of_range when the file has none.
    ggml_tensor* tensor(const std::string& name) const;

  private:
    struct Handles;
    ModelFile(std::filesystem::path path, ModelConfig config, FeatureSpecs features,
              std::unique_ptr<Handles> handles);

    std::filesystem::path path_;
    ModelConfig config_;
    FeatureSpecs features_;
    std::unique_ptr<Handles> handles_;
};

} // namespace velnote::platform::ml
