#include "engine/speech/decoding/DecodingInputs.h"

#include <algorithm>

namespace vocalith {

void DecodingInputs::reset(std::int64_t prefilledCacheSize, std::int64_t maxTokenContext) {
    const std::int64_t positions = kvCacheUpdateMask.shape().back();
    const std::int64_t n = std::clamp<std::int64_t>(maxTokenContext, 0, positions);
    const std::int64_t p = std::max<std::int64_t>(prefilledCacheSize, 0);
    cacheLength.dataAs<std::int32_t>()[0] = static_cast<std::int32_t>(std::min<std::int64_t>(p, positions));
    if (n == 0)
        return;
    const std::int64_t updateStride = kvCacheUpdateMask.strides().back();
    const std::int64_t paddingStride = decoderKeyPaddingMask.strides().back();
    auto* update = kvCacheUpdateMask.dataAs<std::int32_t>();
    auto* padding = decoderKeyPaddingMask.dataAs<basalith::Float16>();
    for (std::int64_t i = 0; i < n; ++i) {
        padding[i * paddingStride] = i <= p ? basalith::Float16(0) : basalith::Float16(kMasked);
        update[i * updateStride] = 0;
    }
    update[std::min(p, n - 1) * updateStride] = 1;
}

} // namespace vocalith
