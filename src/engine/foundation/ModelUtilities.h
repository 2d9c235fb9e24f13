#pragma once

#include "engine/foundation/ModelDescription.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace basalith {

// Finding model files in model folders and reading the sizes a model declares. A model named
// "Encoder" is the single file "Encoder.gguf" in its folder.
struct ModelUtilities {
    static constexpr const char* kModelExtension = ".gguf";

    // folder/<name>.gguf, whether or not it exists: a caller that needs the file tests it.
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name);

    // Recursive: folder/<name>.gguf when it exists, else the first "<name>.gguf" anywhere below
    // `folder` (in name order, depth first), else folder/<name>.gguf (which then does not exist).
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name,
                                                bool recursive);

    // The first "*.gguf" entry directly in `folder`, in name order; none for an empty or unreadable
    // folder.
    static std::optional<std::filesystem::path> detectModelURL(const std::filesystem::path& folder);

    // The size at `position` of the named input's (output's) multi-array shape. None when there is
    // no model, no feature of that name, the feature is not a multi-array, it has no shape, or the
    // position lies outside the shape.
    static std::optional<std::int64_t> getModelInputDimension(const ModelDescription* model,
                                                              const std::string& name, int position);
    static std::optional<std::int64_t> getModelOutputDimension(const ModelDescription* model,
                                                               const std::string& name, int position);
};

} // namespace basalith
