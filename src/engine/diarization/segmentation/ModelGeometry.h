#pragma once

#include "engine/foundation/ModelDescription.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diarith {

// The declared multi-array shape of a model's input (output) when it exists with exactly `rank`
// dimensions; none otherwise. A null description has no features.
std::optional<std::vector<std::int64_t>> inputShape(const basalith::ModelDescription* description,
                                                    const std::string& name, std::size_t rank);
std::optional<std::vector<std::int64_t>> outputShape(const basalith::ModelDescription* description,
                                                     const std::string& name, std::size_t rank);
// The declared shape of any rank; none without a multi-array constraint.
std::optional<std::vector<std::int64_t>> anyInputShape(const basalith::ModelDescription* description,
                                                       const std::string& name);

// "[1, 2, 3]".
std::string shapeText(const std::vector<std::int64_t>& shape);

} // namespace diarith
