#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/DecodingOptions.h"
#include "engine/speech/decoding/DecodingCache.h"
#include "engine/speech/decoding/DecodingInputs.h"
#include "engine/speech/decoding/LogitsFilters.h"
#include "engine/speech/decoding/TextDecoderIO.h"
#include "engine/speech/decoding/TokenSampling.h"
#include "engine/speech/models/WhisperMLModel.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"
#include "engine/speech/transcription/DecodingResult.h"
#include "engine/speech/transcription/TranscriptionProgress.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace vocalith {

// Called with the progress after every decoder step; returning false asks the decoder to stop the
// window, true or nothing lets it go on.
using ProgressCallback = std::function<std::optional<bool>(const TranscriptionProgress&)>;

// A text decoder: turns the audio encoder's output of one window into tokens, one model step per
// token over a key/value cache. The operations with a body here are shared by every decoder that
// does not bring its own. Cancellation is a stop token, checked before every model step
// (velnote::platform::CancellationError).
class TextDecoding {
  public:
    virtual ~TextDecoding() = default;

    virtual std::shared_ptr<const WhisperTokenizer> tokenizer() const = 0;
    virtual void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) = 0;
    // The context prefill model, absent when the model folder has none.
    virtual std::shared_ptr<WhisperMLModel> prefillData() const = 0;
    virtual void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) = 0;
    virtual bool isModelMultilingual() const = 0;
    virtual void setIsModelMultilingual(bool multilingual) = 0;
    virtual bool supportsWordTimestamps() const = 0;
    virtual std::optional<std::int64_t> logitsSize() const = 0;
    virtual std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const = 0;
    virtual void setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) = 0;
    virtual std::optional<std::int64_t> kvCacheEmbedDim() const = 0;
    virtual std::optional<std::int64_t> kvCacheMaxSequenceLength() const = 0;
    virtual std::optional<std::int64_t> windowSize() const = 0;
    virtual std::optional<std::int64_t> embedSize() const = 0;

    // One model step; absent without a model. Model errors pass through.
    virtual std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input, const std::stop_token& stop) = 0;

    // Fresh decoder inputs sized from the model (WhisperError::prepareDecoderInputsFailed when a
    // size is unknown), with `prompt` as the initial prompt.
    virtual std::shared_ptr<DecodingInputs> prepareDecoderInputs(const std::vector<std::int64_t>& prompt);

    // Sets the prompt the options ask for (start of transcript, language, task, timestamps, the
    // previous text and a prefix) and, when the context prefill model can give the start of the
    // cache, copies it in so decoding starts after it. Returns `inputs`.
    virtual DecodingInputs& prefillDecoderInputs(DecodingInputs& inputs,
                                                 const std::optional<DecodingOptions>& options,
                                                 const std::stop_token& stop = {});

    // The context prefill model's cache for a task (0 transcribe, 1 translate) and a language
    // token; absent without a loaded prefill model or when its output lacks the caches.
    virtual std::optional<DecodingCache> prefillKVCache(const basalith::MultiArray& task,
                                                        const basalith::MultiArray& language,
                                                        const std::stop_token& stop = {});

    // Decodes one window. The inputs are changed in place by every step.
    virtual DecodingResult decodeText(const basalith::MultiArray& encoderOutput, DecodingInputs& inputs,
                                      TokenSampling& sampler, const DecodingOptions& options,
                                      const ProgressCallback& callback = {},
                                      const std::stop_token& stop = {}) = 0;

    // One step with only the language tokens allowed; the sampler carries the temperature.
    virtual DecodingResult detectLanguage(const basalith::MultiArray& encoderOutput, DecodingInputs& inputs,
                                          TokenSampling& sampler, const DecodingOptions& options,
                                          basalith::Float16 temperature,
                                          const std::stop_token& stop = {}) = 0;

    // Copies the slices ([1, E, 1, m]) into the caches ([1, E, 1, S]) at positions
    // insertAtIndex ... insertAtIndex + m - 1, through every array's strides. Throws
    // WhisperError::decodingFailed ("Invalid model output: ...") for shapes or positions that do
    // not fit, before writing anything.
    static void updateKVCache(basalith::MultiArray& keyTensor, const basalith::MultiArray& keySlice,
                              basalith::MultiArray& valueTensor, const basalith::MultiArray& valueSlice,
                              std::int64_t insertAtIndex);

    // Copies the slice ([1, W]) into row insertAtIndex + 1 of the weights ([S, W]): the row of the
    // position the same step opens. Throws as updateKVCache does.
    static void updateAlignmentWeights(basalith::MultiArray& alignmentTensor,
                                       const basalith::MultiArray& alignmentSlice,
                                       std::int64_t insertAtIndex);
};

} // namespace vocalith
