#pragma once

#include "engine/foundation/MultiArray.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vocalith {

// The decoder state of one window, handed to the text decoder model at every step and changed in
// place by it. E = cache width, S = cache positions, W = encoder frames (all from the decoder
// model). Owned by one decoding run at a time; the transcription task resets it between windows
// and after a fallback.
//
// Invariant after preparing, prefilling, resetting and every decoder step: kvCacheUpdateMask is
// one-hot at the position the next step writes, and decoderKeyPaddingMask is 0 up to and
// including that position and -10000 after it.
class DecodingInputs {
  public:
    static constexpr float kMasked = -10000.0f;

    std::vector<std::int64_t> initialPrompt; // the tokens forced before sampling starts
    basalith::MultiArray inputIds;           // int32 [1]: the token fed in the current step
    basalith::MultiArray cacheLength;        // int32 [1]: filled cache positions = the current step's index
    basalith::MultiArray keyCache;           // float16 [1, E, 1, S]
    basalith::MultiArray valueCache;         // float16 [1, E, 1, S]
    basalith::MultiArray alignmentWeights;   // float16 [S, W]: row r holds position r's weights
    basalith::MultiArray kvCacheUpdateMask;  // int32 [1, S]: 1 at the position the step writes
    basalith::MultiArray decoderKeyPaddingMask;            // float16 [1, S]: 0 open, -10000 masked
    std::optional<basalith::MultiArray> prefillKeyCache;   // [1, E, 1, P] once the prefill model ran
    std::optional<basalith::MultiArray> prefillValueCache; // [1, E, 1, P] once the prefill model ran

    // Makes the inputs for a fresh window whose first `prefilledCacheSize` positions are kept:
    // cacheLength = that size, positions up to and including it open, the rest masked, and the
    // update mask one-hot there. Masks cover the first `maxTokenContext` positions, at most the
    // cache's own length (a larger value, such as a sample length above 224, is cut to it); with
    // a prefilled size at or beyond that the last covered position is the one written. The caches
    // keep their contents: masked positions are overwritten as decoding proceeds.
    void reset(std::int64_t prefilledCacheSize, std::int64_t maxTokenContext);
};

} // namespace vocalith
