#include "engine/diarization/math/InputChecks.h"

#include "engine/diarization/DiarithError.h"

#include <cmath>

namespace diarith {

void requireEqualLengthFinite(const std::vector<std::vector<float>>& vectors, const std::string& input) {
    for (std::size_t i = 0; i < vectors.size(); ++i) {
        if (vectors[i].size() != vectors.front().size()) {
            throw DiarithError::invalidConfiguration(
                input + ": vector " + std::to_string(i) + " has " + std::to_string(vectors[i].size()) +
                " values, vector 0 has " + std::to_string(vectors.front().size()));
        }
        for (float v : vectors[i]) {
            if (!std::isfinite(v)) {
                throw DiarithError::invalidConfiguration(input + ": vector " + std::to_string(i) +
                                                         " holds a value that is not finite");
            }
        }
    }
}

void requireFinite(double value, const std::string& input) {
    if (!std::isfinite(value))
        throw DiarithError::invalidConfiguration(input + " is not finite");
}

} // namespace diarith
