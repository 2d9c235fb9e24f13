#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace basalith {

// The inputs and outputs a model file declares. The model runtime fills it from the model file;
// engines read their buffer sizes from it.
struct FeatureDescription {
    enum class Type { multiArray, image, other };
    Type type = Type::multiArray;
    // The multi-array shape constraint; absent for other types or when the model sets none.
    std::optional<std::vector<std::int64_t>> shape;
};

struct ModelDescription {
    std::map<std::string, FeatureDescription> inputs;
    std::map<std::string, FeatureDescription> outputs;
};

} // namespace basalith
