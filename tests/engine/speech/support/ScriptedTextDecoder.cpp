#include "support/ScriptedTextDecoder.h"

#include "platform/concurrency/CancellationError.h"

namespace vocalith::testing {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

ScriptedTextDecoder::ScriptedTextDecoder(std::vector<std::int64_t> script, std::int64_t positions)
    : script_(std::move(script)), positions_(positions) {}

std::optional<TextDecoderMLMultiArrayOutputType>
ScriptedTextDecoder::predictLogits(const TextDecoderMLMultiArrayInputType& input,
                                   const std::stop_token& stop) {
    velnote::platform::throwIfCancelled(stop);
    const std::int64_t position = input.cacheLength.dataAs<std::int32_t>()[0];
    {
        std::lock_guard lock(mutex_);
        fed_.push_back(input.inputIds.dataAs<std::int32_t>()[0]);
    }
    MultiArray logits({1, 1, TestVocabulary::size}, MultiArrayDataType::float16);
    const auto index = std::min<std::size_t>(static_cast<std::size_t>(position), script_.size() - 1);
    logits.dataAs<Float16>()[script_[index]] = Float16(10);
    if (adjust)
        adjust(position, logits);
    const auto filled = [&](std::vector<std::int64_t> shape) {
        return MultiArray::create(std::move(shape), MultiArrayDataType::float16,
                                  Float16(static_cast<float>(position)));
    };
    DecodingCache cache{.keyCache = filled({1, kEmbedDim, 1, 1}), .valueCache = filled({1, kEmbedDim, 1, 1})};
    if (withAlignment)
        cache.alignmentWeights = filled({1, kFrames});
    return TextDecoderMLMultiArrayOutputType{.logits = logits, .cache = cache};
}

std::vector<std::int64_t> ScriptedTextDecoder::fed() const {
    std::lock_guard lock(mutex_);
    return fed_;
}

MultiArray fakeEncoderOutput() {
    return MultiArray({1, 2, 1, ScriptedTextDecoder::kFrames}, MultiArrayDataType::float16);
}

} // namespace vocalith::testing
