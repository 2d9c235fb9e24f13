#pragma once

#include "platform/ml/ModelConfig.h"

namespace velnote::platform::ml::testing {

// Sizes small enough for a double-precision reference loop, odd enough to catch a swapped axis.
inline MelSpectrogramConfig tinyMel() {
    return {.windowSamples = 1600, .melCount = 8, .fftLength = 400, .hopLength = 160};
}

inline AudioEncoderConfig tinyEncoder() {
    return {.melCount = 8, .contextLength = 5, .width = 12, .headCount = 3, .layerCount = 2};
}

inline TextDecoderConfig tinyDecoder() {
    return {.vocabularySize = 23,
            .contextLength = 16,
            .width = 12,
            .headCount = 3,
            .layerCount = 2,
            .audioContextLength = 5,
            .kvCacheLength = 8,
            .alignmentHeads = {{0, 1}, {1, 2}}};
}

inline TextDecoderContextPrefillConfig tinyPrefill() {
    return {.decoder = tinyDecoder(),
            .startOfTranscriptToken = 20,
            .transcribeToken = 22,
            .translateToken = 21,
            .multilingual = true};
}

} // namespace velnote::platform::ml::testing
