#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/decoding/DecodingCache.h"
#include "platform/ml/Network.h"

#include <optional>

namespace vocalith {

// The exact feature names of the text decoder model and its context prefill model.
namespace features {
inline constexpr const char* kInputIds = "input_ids";
inline constexpr const char* kCacheLength = "cache_length";
inline constexpr const char* kKeyCache = "key_cache";
inline constexpr const char* kValueCache = "value_cache";
inline constexpr const char* kKvCacheUpdateMask = "kv_cache_update_mask";
inline constexpr const char* kEncoderOutputEmbeds = "encoder_output_embeds";
inline constexpr const char* kDecoderKeyPaddingMask = "decoder_key_padding_mask";
inline constexpr const char* kLogits = "logits";
inline constexpr const char* kKeyCacheUpdates = "key_cache_updates";
inline constexpr const char* kValueCacheUpdates = "value_cache_updates";
inline constexpr const char* kAlignmentHeadsWeights = "alignment_heads_weights"; // optional output
inline constexpr const char* kTask = "task";
inline constexpr const char* kLanguage = "language";
inline constexpr const char* kKeyCachePrefill = "key_cache_prefill";
inline constexpr const char* kValueCachePrefill = "value_cache_prefill";
} // namespace features

// One step's inputs of the text decoder model. The arrays are shared, not copied.
struct TextDecoderMLMultiArrayInputType {
    basalith::MultiArray inputIds;
    basalith::MultiArray cacheLength;
    basalith::MultiArray keyCache;
    basalith::MultiArray valueCache;
    basalith::MultiArray kvCacheUpdateMask;
    basalith::MultiArray encoderOutputEmbeds;
    basalith::MultiArray decoderKeyPaddingMask;

    // The model's input features under their names.
    velnote::platform::ml::FeatureMap featureMap() const;
};

// One step's outputs: the logits over the vocabulary and the new token's cache vectors (with its
// alignment weights when the model has alignment heads). Both absent without a model.
struct TextDecoderMLMultiArrayOutputType {
    std::optional<basalith::MultiArray> logits{};
    std::optional<DecodingCache> cache{};
};

} // namespace vocalith
