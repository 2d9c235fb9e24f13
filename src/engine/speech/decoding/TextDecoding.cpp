#include "engine/speech/decoding/TextDecoding.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/WhisperError.h"
#include "platform/concurrency/CancellationError.h"

#include <algorithm>
#include <string>

namespace vocalith {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

namespace {

// At most this many tokens of the previous text and of a prefix are kept, the most recent ones.
constexpr std::size_t kMaxPreviousTokens = 111;
constexpr std::size_t kMaxPrefixTokens = 112;
// The longest prompt without a prefix: start of previous, the previous text and four control
// tokens. No prompt takes more of the 224 positions, so at least 107 are left for the transcript;
// a prefix takes its room from the previous text, oldest tokens first.
constexpr std::size_t kMaxPromptLength = 1 + kMaxPreviousTokens + 4;

// The last `limit` ids of `ids` that are text tokens (below the special range), in order.
std::vector<std::int64_t> recentTextTokens(const std::vector<std::int64_t>& ids, std::size_t limit,
                                           std::int64_t specialTokenBegin) {
    const auto start = ids.size() > limit ? ids.end() - static_cast<std::ptrdiff_t>(limit) : ids.begin();
    std::vector<std::int64_t> kept;
    std::copy_if(start, ids.end(), std::back_inserter(kept), [&](auto id) { return id < specialTokenBegin; });
    return kept;
}

[[noreturn]] void invalidOutput(const std::string& what) {
    throw WhisperError::decodingFailed("Invalid model output: " + what);
}

void requireHalfFloats(const MultiArray& array, std::size_t rank, const char* name) {
    if (array.dataType() != MultiArrayDataType::float16 || array.shape().size() != rank)
        invalidOutput(std::string(name) + " is not a float16 array of rank " + std::to_string(rank));
}

} // namespace

std::shared_ptr<DecodingInputs> TextDecoding::prepareDecoderInputs(const std::vector<std::int64_t>& prompt) {
    const auto embedDim = kvCacheEmbedDim();
    if (!embedDim)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheEmbedDim");
    const auto sequenceLength = kvCacheMaxSequenceLength();
    if (!sequenceLength)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheMaxSequenceLength");
    const auto frames = windowSize();
    if (!frames)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine encoderOutputDim");
    const std::int64_t e = *embedDim, s = *sequenceLength, w = *frames;
    auto inputs = std::make_shared<DecodingInputs>(DecodingInputs{
        .initialPrompt = prompt,
        .inputIds = MultiArray::create({1}, MultiArrayDataType::int32, std::int32_t{0}),
        .cacheLength = MultiArray::create({1}, MultiArrayDataType::int32, std::int32_t{0}),
        .keyCache = MultiArray::create({1, e, 1, s}, MultiArrayDataType::float16, Float16(0)),
        .valueCache = MultiArray::create({1, e, 1, s}, MultiArrayDataType::float16, Float16(0)),
        .alignmentWeights = MultiArray::create({s, w}, MultiArrayDataType::float16, Float16(0)),
        .kvCacheUpdateMask = MultiArray::create({1, s}, MultiArrayDataType::int32, std::int32_t{0}),
        .decoderKeyPaddingMask =
            MultiArray::create({1, s}, MultiArrayDataType::float16, Float16(DecodingInputs::kMasked)),
        .prefillKeyCache = std::nullopt,
        .prefillValueCache = std::nullopt,
    });
    inputs->kvCacheUpdateMask.dataAs<std::int32_t>()[0] = 1;
    inputs->decoderKeyPaddingMask.dataAs<Float16>()[0] = Float16(0);
    return inputs;
}

DecodingInputs& TextDecoding::prefillDecoderInputs(DecodingInputs& inputs,
                                                   const std::optional<DecodingOptions>& options,
                                                   const std::stop_token& stop) {
    const auto tokenizer = this->tokenizer();
    if (!tokenizer)
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    const SpecialTokens& special = tokenizer->specialTokens();
    std::vector<std::int64_t> prompt = {special.startOfTranscriptToken};
    std::int64_t language = special.englishToken;
    std::int64_t task = special.transcribeToken;
    if (options) {
        if (isModelMultilingual()) {
            language = tokenizer->convertTokenToId("<|" + options->language.value_or("en") + "|>")
                           .value_or(special.englishToken);
            prompt.push_back(language);
            const char* taskText =
                options->task == DecodingTask::translate ? "<|translate|>" : "<|transcribe|>";
            task = tokenizer->convertTokenToId(taskText).value_or(special.transcribeToken);
            prompt.push_back(task);
        }
        prompt.push_back(options->withoutTimestamps ? special.noTimestampsToken : special.timeTokenBegin);
        if (options->prefixTokens) {
            const auto prefix =
                recentTextTokens(*options->prefixTokens, kMaxPrefixTokens, special.specialTokenBegin);
            prompt.insert(prompt.end(), prefix.begin(), prefix.end());
        }
        if (options->promptTokens && prompt.size() + 1 < kMaxPromptLength) {
            const std::size_t room = std::min(kMaxPreviousTokens, kMaxPromptLength - 1 - prompt.size());
            auto previous =
                recentTextTokens(*options->promptTokens, kMaxPreviousTokens, special.specialTokenBegin);
            if (previous.size() > room)
                previous.erase(previous.begin(), previous.end() - static_cast<std::ptrdiff_t>(room));
            previous.insert(previous.begin(), special.startOfPreviousToken);
            prompt.insert(prompt.begin(), previous.begin(), previous.end());
        }
    }
    inputs.initialPrompt = prompt;

    const bool prefillCache =
        options && options->usePrefillCache && prefillData() != nullptr && !options->promptTokens;
    if (prefillCache) {
        const auto cache = prefillKVCache(MultiArray::from({task != special.transcribeToken ? 1 : 0}, 1),
                                          MultiArray::from({language}, 1), stop);
        if (!cache || !cache->keyCache || !cache->valueCache) {
            basalith::Logging::error("Unable to prefill cache");
            return inputs;
        }
        const std::int64_t prefilled = cache->keyCache->shape().back();
        const std::int64_t positions = inputs.kvCacheUpdateMask.shape().back();
        if (prefilled >= positions)
            invalidOutput("the prefilled cache fills every position");
        const auto start = std::find(prompt.begin(), prompt.end(), special.startOfTranscriptToken);
        const std::int64_t insertAt = start == prompt.end() ? 0 : start - prompt.begin();
        updateKVCache(inputs.keyCache, *cache->keyCache, inputs.valueCache, *cache->valueCache, insertAt);
        inputs.prefillKeyCache = cache->keyCache;
        inputs.prefillValueCache = cache->valueCache;
        inputs.cacheLength.dataAs<std::int32_t>()[0] = static_cast<std::int32_t>(prefilled);
        auto* update = inputs.kvCacheUpdateMask.dataAs<std::int32_t>();
        auto* padding = inputs.decoderKeyPaddingMask.dataAs<Float16>();
        const std::int64_t updateStride = inputs.kvCacheUpdateMask.strides().back();
        const std::int64_t paddingStride = inputs.decoderKeyPaddingMask.strides().back();
        for (std::int64_t i = 0; i <= prefilled; ++i) {
            update[i * updateStride] = 0;
            padding[i * paddingStride] = Float16(0);
        }
        update[prefilled * updateStride] = 1;
        return inputs;
    }
    inputs.decoderKeyPaddingMask.dataAs<Float16>()[0] = Float16(0);
    inputs.kvCacheUpdateMask.dataAs<std::int32_t>()[0] = 1;
    return inputs;
}

std::optional<DecodingCache> TextDecoding::prefillKVCache(const MultiArray& task, const MultiArray& language,
                                                          const std::stop_token& stop) {
    const auto prefill = prefillData();
    const auto model = prefill ? prefill->model() : nullptr;
    if (!model)
        return std::nullopt;
    velnote::platform::throwIfCancelled(stop);
    const auto outputs = model->predict({{features::kTask, task}, {features::kLanguage, language}});
    const auto key = outputs.find(features::kKeyCachePrefill);
    const auto value = outputs.find(features::kValueCachePrefill);
    if (key == outputs.end() || value == outputs.end())
        return std::nullopt;
    return DecodingCache{
        .keyCache = key->second, .valueCache = value->second, .alignmentWeights = std::nullopt};
}

void TextDecoding::updateKVCache(MultiArray& keyTensor, const MultiArray& keySlice, MultiArray& valueTensor,
                                 const MultiArray& valueSlice, std::int64_t insertAtIndex) {
    requireHalfFloats(keyTensor, 4, "key cache");
    requireHalfFloats(valueTensor, 4, "value cache");
    requireHalfFloats(keySlice, 4, "key cache update");
    requireHalfFloats(valueSlice, 4, "value cache update");
    if (keyTensor.shape() != valueTensor.shape() || keySlice.shape() != valueSlice.shape() ||
        keySlice.shape()[1] != keyTensor.shape()[1])
        invalidOutput("the cache updates do not match the caches");
    const std::int64_t channels = keyTensor.shape()[1];
    const std::int64_t length = keySlice.shape()[3];
    if (insertAtIndex < 0 || insertAtIndex + length > keyTensor.shape()[3])
        invalidOutput("cache position " + std::to_string(insertAtIndex) + " + " + std::to_string(length) +
                      " is outside the cache");
    auto* key = keyTensor.dataAs<Float16>();
    auto* value = valueTensor.dataAs<Float16>();
    const auto* keyIn = keySlice.dataAs<Float16>();
    const auto* valueIn = valueSlice.dataAs<Float16>();
    const auto& kt = keyTensor.strides();
    const auto& vt = valueTensor.strides();
    const auto& ks = keySlice.strides();
    const auto& vs = valueSlice.strides();
    for (std::int64_t a = 0; a < channels; ++a) {
        for (std::int64_t i = 0; i < length; ++i) {
            const std::int64_t p = insertAtIndex + i;
            key[a * kt[1] + p * kt[3]] = keyIn[a * ks[1] + i * ks[3]];
            value[a * vt[1] + p * vt[3]] = valueIn[a * vs[1] + i * vs[3]];
        }
    }
}

void TextDecoding::updateAlignmentWeights(MultiArray& alignmentTensor, const MultiArray& alignmentSlice,
                                          std::int64_t insertAtIndex) {
    requireHalfFloats(alignmentTensor, 2, "alignment weights");
    requireHalfFloats(alignmentSlice, 2, "alignment weights update");
    const std::int64_t frames = alignmentTensor.shape()[1];
    if (alignmentSlice.shape()[1] != frames)
        invalidOutput("the alignment weights update does not match the alignment weights");
    const std::int64_t row = insertAtIndex + 1;
    if (insertAtIndex < 0 || row >= alignmentTensor.shape()[0])
        invalidOutput("alignment row " + std::to_string(row) + " is outside the alignment weights");
    auto* out = alignmentTensor.dataAs<Float16>();
    const auto* in = alignmentSlice.dataAs<Float16>();
    const auto& t = alignmentTensor.strides();
    const std::int64_t s = alignmentSlice.strides()[1];
    for (std::int64_t i = 0; i < frames; ++i)
        out[row * t[0] + i * t[1]] = in[i * s];
}

} // namespace vocalith
