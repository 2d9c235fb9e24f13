#pragma once

#include "engine/foundation/EarlyStopActor.h"
#include "engine/speech/decoding/TextDecoding.h"
#include "engine/speech/models/WhisperMLModel.h"
#include "platform/concurrency/Clock.h"

#include <memory>
#include <mutex>

namespace vocalith {

// The engine's text decoder over the compiled "TextDecoder" model: forces the prompt token by
// token, then samples until the end token, the token limit or an early stop, with the logits
// filters between model and sampler and the key/value cache updated in place.
//
// Threads: one decoder serves any number of windows at once, each run on its caller's thread
// with its own inputs, sampler and window id. Progress callbacks run on the shared thread pool at
// background priority and never hold up the loop; a callback that returns false stops the window
// at the next step boundary (never while the prompt is being forced).
class TextDecoder : public TextDecoding, public WhisperMLModel {
  public:
    TextDecoder();

    std::shared_ptr<const WhisperTokenizer> tokenizer() const override;
    void setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) override;
    std::shared_ptr<WhisperMLModel> prefillData() const override;
    void setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) override;
    bool isModelMultilingual() const override;
    void setIsModelMultilingual(bool multilingual) override;
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const override;
    void setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) override;

    // Sizes read from the model's description; absent without a model.
    bool supportsWordTimestamps() const override;
    std::optional<std::int64_t> logitsSize() const override;
    std::optional<std::int64_t> kvCacheEmbedDim() const override;
    std::optional<std::int64_t> kvCacheMaxSequenceLength() const override;
    std::optional<std::int64_t> windowSize() const override;
    std::optional<std::int64_t> embedSize() const override;

    // Also forgets the prefill model and the language filter; tokenizer and filters stay.
    void unloadModel() override;

    std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input, const std::stop_token& stop) override;

    // The filters of one run: the configured ones, then the blank filter (from the prefilled
    // position), the suppressed tokens (text tokens only) and the timestamp rules (from the end of
    // the prompt) as the options ask.
    virtual std::vector<std::shared_ptr<LogitsFiltering>>
    createLogitsFilters(const DecodingOptions& options, std::int64_t prefilledIndex,
                        std::int64_t initialPromptIndex, const WhisperTokenizer& tokenizer) const;

    DecodingResult decodeText(const basalith::MultiArray& encoderOutput, DecodingInputs& inputs,
                              TokenSampling& sampler, const DecodingOptions& options,
                              const ProgressCallback& callback = {},
                              const std::stop_token& stop = {}) override;
    DecodingResult detectLanguage(const basalith::MultiArray& encoderOutput, DecodingInputs& inputs,
                                  TokenSampling& sampler, const DecodingOptions& options,
                                  basalith::Float16 temperature, const std::stop_token& stop = {}) override;

    // The clock the timings are read from (the system's by default). Set before decoding starts.
    void setClock(const velnote::platform::Clock& clock) { clock_ = &clock; }

  protected:
    // Writes the first positions of the inputs to the log at debug level.
    virtual void debugCaches(const DecodingInputs& inputs, std::int64_t prefillSize) const;

  private:
    class Run;

    std::optional<std::int64_t> inputDimension(const char* name, int position) const;
    std::optional<std::int64_t> outputDimension(const char* name, int position) const;
    std::shared_ptr<const LanguageLogitsFilter> languageFilter(const WhisperTokenizer& tokenizer);

    mutable std::mutex mutex_; // guards the fields below; held only to read or replace them
    std::shared_ptr<const WhisperTokenizer> tokenizer_;
    std::shared_ptr<WhisperMLModel> prefillData_;
    bool isModelMultilingual_ = false;
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters_{std::in_place};
    std::shared_ptr<const LanguageLogitsFilter> languageLogitsFilter_;
    // Shared with the progress tasks, which must find it gone once the decoder is.
    std::shared_ptr<basalith::EarlyStopActor> earlyStopActor_ = std::make_shared<basalith::EarlyStopActor>();
    const velnote::platform::Clock* clock_;
};

// The compiled "TextDecoderContextPrefill" model: the key/value cache of the start of transcript
// for a task and a language, so decoding can start after it.
class TextDecoderContextPrefill : public WhisperMLModel {};

} // namespace vocalith
