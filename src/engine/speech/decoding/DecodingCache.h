#pragma once

#include "engine/foundation/MultiArray.h"

#include <optional>

namespace vocalith {

// The decoder's key/value caches and alignment weights, handed between decoding steps. A snapshot
// passed by value; the arrays inside share their buffers.
struct DecodingCache {
    std::optional<basalith::MultiArray> keyCache{};
    std::optional<basalith::MultiArray> valueCache{};
    std::optional<basalith::MultiArray> alignmentWeights{}; // rows: token positions; columns: 0.02 s frames
};

} // namespace vocalith
