#include "engine/speech/decoding/TextDecoderIO.h"

namespace vocalith {

velnote::platform::ml::FeatureMap TextDecoderMLMultiArrayInputType::featureMap() const {
    return {{features::kInputIds, inputIds},
            {features::kCacheLength, cacheLength},
            {features::kKeyCache, keyCache},
            {features::kValueCache, valueCache},
            {features::kKvCacheUpdateMask, kvCacheUpdateMask},
            {features::kEncoderOutputEmbeds, encoderOutputEmbeds},
            {features::kDecoderKeyPaddingMask, decoderKeyPaddingMask}};
}

} // namespace vocalith
