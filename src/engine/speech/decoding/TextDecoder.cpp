#include "engine/speech/decoding/TextDecoder.h"

#include "engine/foundation/Helpers.h"
#include "engine/foundation/Logging.h"
#include "engine/foundation/ModelUtilities.h"
#include "engine/foundation/Uuid.h"
#include "engine/speech/Constants.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/decoding/TextUtilities.h"
#include "engine/speech/tokenizer/TokenizerUtilities.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vocalith {

using basalith::Float16;
using basalith::Logging;
using basalith::MultiArray;

namespace {

// The per-token debug lines decode a token each: only worth it when they are written.
bool debugging() {
    return Logging::shared().logLevel() == Logging::LogLevel::debug;
}

double seconds(velnote::platform::Clock::Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// The softmax probability of `token` in the raw logits; 0 for an id outside them.
float probabilityOf(const MultiArray& logits, std::int64_t token) {
    const std::int64_t size = logits.shape().back();
    if (token < 0 || token >= size)
        return 0;
    const auto* data = logits.dataAs<Float16>();
    const std::int64_t stride = logits.strides().back();
    float maximum = -INFINITY;
    for (std::int64_t i = 0; i < size; ++i)
        maximum = std::max(maximum, static_cast<float>(data[i * stride]));
    if (!std::isfinite(maximum))
        return 0;
    double sum = 0;
    for (std::int64_t i = 0; i < size; ++i)
        sum += std::exp(static_cast<double>(static_cast<float>(data[i * stride]) - maximum));
    return static_cast<float>(
        std::exp(static_cast<double>(static_cast<float>(data[token * stride]) - maximum)) / sum);
}

} // namespace

// The state of one decodeText call: one window, from the first forced prompt token to the result.
class TextDecoder::Run {
  public:
    Run(TextDecoder& decoder, const WhisperTokenizer& tokenizer, const MultiArray& encoderOutput,
        DecodingInputs& inputs, TokenSampling& sampler, const DecodingOptions& options,
        const ProgressCallback& callback, const std::stop_token& stop)
        : decoder_(decoder), tokenizer_(tokenizer), special_(tokenizer.specialTokens()),
          encoderOutput_(encoderOutput), inputs_(inputs), sampler_(sampler), options_(options),
          callback_(callback), stop_(stop), clock_(*decoder.clock_) {}

    ~Run() {
        // A run that failed still gives its window id back.
        if (registered_)
            decoder_.earlyStopActor_->remove(windowId_);
    }

    DecodingResult decode();

  private:
    struct Totals {
        double loop = 0, predictions = 0, filtering = 0, sampling = 0, kvCaching = 0, nonPrediction = 0;
        double loops = 0, kvUpdates = 0;
    };

    void setUp();
    float noSpeechProbOfPrefilledStart();
    bool step(std::int64_t index);
    void forcePromptToken(std::int64_t index);
    void updateCache(std::int64_t index, const DecodingCache& cache);
    void reportProgress(std::int64_t index, const Totals& current);
    TranscriptionTimings timings(const Totals& totals) const;
    DecodingResult finish();
    std::string textForLog(std::int64_t token) const { return debugging() ? tokenizer_.decode({token}) : ""; }

    TextDecoder& decoder_;
    const WhisperTokenizer& tokenizer_;
    const SpecialTokens special_;
    const MultiArray& encoderOutput_;
    DecodingInputs& inputs_;
    TokenSampling& sampler_;
    const DecodingOptions& options_;
    const ProgressCallback& callback_;
    const std::stop_token& stop_;
    const velnote::platform::Clock& clock_;

    std::int64_t prefilledIndex_ = 0;
    std::int64_t initialPromptIndex_ = 0;
    std::int64_t firstSampledIndex_ = 0; // the step whose prediction is the first sampled token
    std::int64_t noSpeechIndex_ = 0;     // the step that feeds the start of transcript
    std::int64_t loopBound_ = 0;
    std::size_t tokenLimit_ = 0;
    std::vector<std::shared_ptr<LogitsFiltering>> filters_;
    std::vector<std::int64_t> currentTokens_;
    std::vector<float> logProbs_;
    std::int64_t nextToken_ = 0;
    basalith::Uuid windowId_ = basalith::Uuid::random();
    bool registered_ = false;
    bool alignmentUpdated_ = false;
    bool firstTokenLogProbTooLow_ = false;
    float noSpeechProb_ = 0;
    double firstTokenTime_ = TranscriptionTimings::kUnrecorded;
    Totals totals_;
};

void TextDecoder::Run::setUp() {
    if (inputs_.initialPrompt.empty())
        throw WhisperError::prepareDecoderInputsFailed("The prompt is empty");
    prefilledIndex_ = inputs_.cacheLength.dataAs<std::int32_t>()[0];
    initialPromptIndex_ = static_cast<std::int64_t>(inputs_.initialPrompt.size());
    currentTokens_ = inputs_.initialPrompt;
    nextToken_ = currentTokens_.back();
    logProbs_.assign(currentTokens_.size(), 0.0f);
    filters_ = decoder_.createLogitsFilters(options_, prefilledIndex_, initialPromptIndex_, tokenizer_);

    // A step writes its own position and opens the next one, so the last step may not be the
    // cache's last position.
    const std::int64_t positions = inputs_.kvCacheUpdateMask.shape().back();
    const std::int64_t positionLimit = std::min<std::int64_t>(Constants::maxTokenContext - 1, positions - 1);
    loopBound_ = std::min<std::int64_t>(options_.sampleLength, positionLimit);
    tokenLimit_ = static_cast<std::size_t>(std::max<std::int64_t>(positionLimit, 0));
    // Without a prefilled cache the first steps only force the prompt: the first sampled token
    // comes from the step at the last prompt position.
    firstSampledIndex_ = std::max(prefilledIndex_, initialPromptIndex_ - 1);
    const auto start =
        std::find(currentTokens_.begin(), currentTokens_.end(), special_.startOfTranscriptToken);
    noSpeechIndex_ = start == currentTokens_.end() ? 0 : start - currentTokens_.begin();
    if (noSpeechIndex_ < prefilledIndex_)
        noSpeechProb_ = noSpeechProbOfPrefilledStart();
    Logging::debug("Running main loop for a maximum of", loopBound_, "iterations, starting at index",
                   prefilledIndex_);
    decoder_.earlyStopActor_->set(false, windowId_);
    registered_ = true;
}

// The no-speech probability is the model's answer right after the start of transcript. A cache
// prefilled past it has skipped that step, so the step is run once more on masks of its own; its
// cache updates are dropped and the inputs stay as they are.
float TextDecoder::Run::noSpeechProbOfPrefilledStart() {
    using basalith::MultiArrayDataType;
    const std::int64_t positions = inputs_.kvCacheUpdateMask.shape().back();
    auto update = MultiArray::create({1, positions}, MultiArrayDataType::int32, std::int32_t{0});
    auto padding =
        MultiArray::create({1, positions}, MultiArrayDataType::float16, Float16(DecodingInputs::kMasked));
    update.dataAs<std::int32_t>()[noSpeechIndex_] = 1;
    for (std::int64_t i = 0; i <= noSpeechIndex_; ++i)
        padding.dataAs<Float16>()[i] = Float16(0);
    const auto predictionStart = clock_.now();
    const auto output = decoder_.predictLogits({MultiArray::from({special_.startOfTranscriptToken}, 1),
                                                MultiArray::from({noSpeechIndex_}, 1), inputs_.keyCache,
                                                inputs_.valueCache, update, encoderOutput_, padding},
                                               stop_);
    totals_.predictions += seconds(clock_.now() - predictionStart);
    return output && output->logits ? probabilityOf(*output->logits, special_.noSpeechToken) : 0.0f;
}

DecodingResult TextDecoder::Run::decode() {
    setUp();
    for (std::int64_t index = prefilledIndex_; index < loopBound_; ++index) {
        if (!step(index))
            break;
    }
    return finish();
}

void TextDecoder::Run::forcePromptToken(std::int64_t index) {
    auto& promptToken = currentTokens_[static_cast<std::size_t>(index)];
    if (index == initialPromptIndex_ - 1 && promptToken >= special_.timeTokenBegin &&
        nextToken_ >= special_.timeTokenBegin) {
        // The model's own first timestamp replaces the prompt's.
        promptToken = nextToken_;
        Logging::debug(Logging::Separator{""}, "Skipping prompt tokenIndex: ", index, ", token: ", nextToken_,
                       ", text: ", textForLog(nextToken_));
    } else {
        nextToken_ = promptToken;
        Logging::debug(Logging::Separator{""}, "Forcing prompt tokenIndex: ", index, ", token: ", nextToken_,
                       ", text: ", textForLog(nextToken_));
    }
}

bool TextDecoder::Run::step(std::int64_t index) {
    const auto stepStart = clock_.now();
    if (index < initialPromptIndex_)
        forcePromptToken(index);
    inputs_.inputIds.dataAs<std::int32_t>()[0] = static_cast<std::int32_t>(nextToken_);
    inputs_.cacheLength.dataAs<std::int32_t>()[0] = static_cast<std::int32_t>(index);
    if (index <= prefilledIndex_ + 3)
        decoder_.debugCaches(inputs_, prefilledIndex_);

    const auto predictionStart = clock_.now();
    const auto output =
        decoder_.predictLogits({inputs_.inputIds, inputs_.cacheLength, inputs_.keyCache, inputs_.valueCache,
                                inputs_.kvCacheUpdateMask, encoderOutput_, inputs_.decoderKeyPaddingMask},
                               stop_);
    if (!output || !output->logits)
        throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    Totals thisStep;
    thisStep.predictions = seconds(clock_.now() - predictionStart);
    MultiArray logits = *output->logits;
    if (index == noSpeechIndex_ && index >= prefilledIndex_)
        noSpeechProb_ = probabilityOf(logits, special_.noSpeechToken);

    const auto nonPredictionStart = clock_.now();
    for (const auto& filter : filters_)
        filter->filterLogits(logits, currentTokens_);
    thisStep.filtering = seconds(clock_.now() - nonPredictionStart);

    const auto samplingStart = clock_.now();
    const SamplingResult sampled = sampler_.update(currentTokens_, logits, logProbs_);
    nextToken_ = sampled.tokens.back();
    const float nextLogProb = sampled.logProbs.back();
    Logging::debug(Logging::Separator{""}, "Predicted next tokenIndex: ", index + 1, ", token: ", nextToken_,
                   ", text: ", textForLog(nextToken_));
    thisStep.sampling = seconds(clock_.now() - samplingStart);

    if (index == firstSampledIndex_ && options_.firstTokenLogProbThreshold &&
        nextLogProb < *options_.firstTokenLogProbThreshold)
        firstTokenLogProbTooLow_ = true;
    if (sampled.completed || firstTokenLogProbTooLow_ || currentTokens_.size() >= tokenLimit_) {
        totals_.loop += seconds(clock_.now() - stepStart);
        totals_.predictions += thisStep.predictions;
        totals_.filtering += thisStep.filtering;
        totals_.sampling += thisStep.sampling;
        totals_.nonPrediction += seconds(clock_.now() - nonPredictionStart);
        totals_.loops += 1;
        return false;
    }
    if (index >= initialPromptIndex_ - 1) {
        currentTokens_.push_back(nextToken_);
        logProbs_.push_back(nextLogProb);
    }

    if (!output->cache || !output->cache->keyCache || !output->cache->valueCache)
        throw WhisperError::decodingFailed("Invalid model output");
    const auto cacheStart = clock_.now();
    updateCache(index, *output->cache);
    thisStep.kvCaching = seconds(clock_.now() - cacheStart);

    reportProgress(index, thisStep);
    thisStep.nonPrediction = seconds(clock_.now() - nonPredictionStart);
    thisStep.loop = seconds(clock_.now() - stepStart);
    if (index == prefilledIndex_) {
        Logging::debug("Found first token at:", dateText(clock_.wallNow()));
        firstTokenTime_ = std::chrono::duration<double>(clock_.wallNow().time_since_epoch()).count();
    }
    const bool stopRequested = decoder_.earlyStopActor_->get(windowId_);
    totals_.loop += thisStep.loop;
    totals_.predictions += thisStep.predictions;
    totals_.filtering += thisStep.filtering;
    totals_.sampling += thisStep.sampling;
    totals_.kvCaching += thisStep.kvCaching;
    totals_.nonPrediction += thisStep.nonPrediction;
    totals_.loops += 1;
    totals_.kvUpdates += 1;
    return !stopRequested;
}

void TextDecoder::Run::updateCache(std::int64_t index, const DecodingCache& cache) {
    updateKVCache(inputs_.keyCache, *cache.keyCache, inputs_.valueCache, *cache.valueCache, index);
    inputs_.decoderKeyPaddingMask
        .dataAs<Float16>()[(index + 1) * inputs_.decoderKeyPaddingMask.strides().back()] = Float16(0);
    auto* update = inputs_.kvCacheUpdateMask.dataAs<std::int32_t>();
    const std::int64_t stride = inputs_.kvCacheUpdateMask.strides().back();
    update[index * stride] = 0;
    update[(index + 1) * stride] = 1;
    if (cache.alignmentWeights) {
        updateAlignmentWeights(inputs_.alignmentWeights, *cache.alignmentWeights, index);
        alignmentUpdated_ = true;
    }
}

void TextDecoder::Run::reportProgress(std::int64_t index, const Totals& current) {
    if (!callback_)
        return;
    std::vector<std::int64_t> shown;
    for (const auto token : currentTokens_) {
        if (!options_.skipSpecialTokens || token < special_.specialTokenBegin)
            shown.push_back(token);
    }
    Totals reported = totals_;
    reported.predictions += current.predictions;
    reported.filtering += current.filtering;
    reported.sampling += current.sampling;
    reported.kvCaching += current.kvCaching;
    reported.kvUpdates += 1;
    TranscriptionProgress progress{
        .timings = timings(reported),
        .text = tokenizer_.decode(shown),
        .tokens = currentTokens_,
        .temperature = std::nullopt,
        .avgLogprob =
            std::accumulate(logProbs_.begin(), logProbs_.end(), 0.0f) / static_cast<float>(logProbs_.size()),
        .compressionRatio = TextUtilities::compressionRatio(currentTokens_),
        .windowId = 0,
    };
    // Requests to stop while the prompt is still being forced are ignored.
    const bool mayStop = index >= initialPromptIndex_ - 1;
    velnote::platform::ThreadPool::shared().post(
        [callback = callback_, progress = std::move(progress),
         actor = std::weak_ptr(decoder_.earlyStopActor_), id = windowId_, mayStop] {
            if (actor.expired())
                return; // the decoder is gone
            std::optional<bool> answer;
            try {
                answer = callback(progress);
            } catch (const std::exception& error) {
                Logging::error("Progress callback failed:", error.what());
            }
            if (answer == false && mayStop) {
                if (const auto stopFlags = actor.lock()) {
                    Logging::debug("Early stopping");
                    stopFlags->requestStop(id);
                }
            }
        },
        velnote::platform::Priority::background);
}

TranscriptionTimings TextDecoder::Run::timings(const Totals& totals) const {
    TranscriptionTimings timings;
    timings.firstTokenTime = firstTokenTime_;
    timings.decodingLoop = totals.loop;
    timings.decodingPredictions = totals.predictions;
    timings.decodingFiltering = totals.filtering;
    timings.decodingSampling = totals.sampling;
    timings.decodingKvCaching = totals.kvCaching;
    timings.decodingNonPrediction = totals.nonPrediction;
    timings.totalDecodingLoops = totals.loops;
    timings.totalKVUpdateRuns = totals.kvUpdates;
    return timings;
}

DecodingResult TextDecoder::Run::finish() {
    registered_ = false;
    if (!decoder_.earlyStopActor_->remove(windowId_))
        Logging::error("Early stop flag not found for window:", windowId_.toString());
    DecodingCache cache{.keyCache = inputs_.keyCache,
                        .valueCache = inputs_.valueCache,
                        .alignmentWeights =
                            alignmentUpdated_ ? std::optional(inputs_.alignmentWeights) : std::nullopt};
    const SamplingResult closed = sampler_.finalize(currentTokens_, logProbs_);

    // From the start of transcript to the first end token after it (finalizing ensures one).
    const auto startOf =
        std::find(closed.tokens.begin(), closed.tokens.end(), special_.startOfTranscriptToken);
    const auto segmentBegin = startOf == closed.tokens.end() ? closed.tokens.begin() : startOf;
    const auto endOf = std::find(segmentBegin, closed.tokens.end(), special_.endToken);
    const auto segmentEnd = endOf == closed.tokens.end() ? closed.tokens.end() : endOf + 1;
    const std::vector<std::int64_t> tokens(segmentBegin, segmentEnd);
    const auto offset = segmentBegin - closed.tokens.begin();
    const std::vector<float> logProbs(closed.logProbs.begin() + offset,
                                      closed.logProbs.begin() + offset +
                                          static_cast<std::ptrdiff_t>(tokens.size()));

    DecodingResult result;
    result.tokens = tokens;
    result.avgLogProb =
        std::accumulate(logProbs.begin(), logProbs.end(), 0.0f) / static_cast<float>(logProbs.size());
    for (std::size_t i = 0; i < tokens.size(); ++i)
        result.tokenLogProbs.push_back({{tokens[i], logProbs[i]}});
    std::vector<std::int64_t> textTokens;
    std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(textTokens),
                 [&](auto token) { return token < special_.specialTokenBegin; });
    result.compressionRatio = TextUtilities::compressionRatio(textTokens);
    if (const auto* greedy = dynamic_cast<const GreedyTokenSampler*>(&sampler_))
        result.temperature = basalith::rounded(static_cast<float>(greedy->temperature()), 3);
    else
        result.temperature = options_.temperature;

    if (options_.language) {
        result.language = *options_.language;
        result.languageProbs = {{*options_.language, 0.0f}};
    } else {
        const auto& languages = tokenizer_.allLanguageTokens();
        const auto found =
            std::find_if(tokens.begin(), tokens.end(), [&](auto t) { return languages.contains(t); });
        if (found != tokens.end()) {
            result.language = trimmingSpecialTokenCharacters(tokenizer_.decode({*found}));
            result.languageProbs = {
                {result.language, logProbs[static_cast<std::size_t>(found - tokens.begin())]}};
        } else {
            result.language = std::string(Constants::defaultLanguageCode);
            result.languageProbs = {{result.language, 0.0f}};
        }
    }
    result.text = tokenizer_.decode(tokens);
    Logging::debug("Completed window:", result.text);
    result.noSpeechProb = noSpeechProb_;
    result.cache = cache;
    result.timings = timings(totals_);
    result.fallback = DecodingFallback::decide(options_, firstTokenLogProbTooLow_, noSpeechProb_,
                                               result.compressionRatio, result.avgLogProb);
    return result;
}

// ---- TextDecoder ----

TextDecoder::TextDecoder() : clock_(&velnote::platform::SystemClock::shared()) {}

std::shared_ptr<const WhisperTokenizer> TextDecoder::tokenizer() const {
    std::lock_guard lock(mutex_);
    return tokenizer_;
}
void TextDecoder::setTokenizer(std::shared_ptr<const WhisperTokenizer> tokenizer) {
    std::lock_guard lock(mutex_);
    tokenizer_ = std::move(tokenizer);
}
std::shared_ptr<WhisperMLModel> TextDecoder::prefillData() const {
    std::lock_guard lock(mutex_);
    return prefillData_;
}
void TextDecoder::setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) {
    std::lock_guard lock(mutex_);
    prefillData_ = std::move(prefillData);
}
bool TextDecoder::isModelMultilingual() const {
    std::lock_guard lock(mutex_);
    return isModelMultilingual_;
}
void TextDecoder::setIsModelMultilingual(bool multilingual) {
    std::lock_guard lock(mutex_);
    isModelMultilingual_ = multilingual;
}
std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> TextDecoder::logitsFilters() const {
    std::lock_guard lock(mutex_);
    return logitsFilters_;
}
void TextDecoder::setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) {
    std::lock_guard lock(mutex_);
    logitsFilters_ = std::move(filters);
}

std::optional<std::int64_t> TextDecoder::inputDimension(const char* name, int position) const {
    const auto current = model();
    return basalith::ModelUtilities::getModelInputDimension(current ? &current->description() : nullptr, name,
                                                            position);
}
std::optional<std::int64_t> TextDecoder::outputDimension(const char* name, int position) const {
    const auto current = model();
    return basalith::ModelUtilities::getModelOutputDimension(current ? &current->description() : nullptr,
                                                             name, position);
}

bool TextDecoder::supportsWordTimestamps() const {
    return outputDimension(features::kAlignmentHeadsWeights, 0).has_value();
}
std::optional<std::int64_t> TextDecoder::logitsSize() const {
    return outputDimension(features::kLogits, 2);
}
std::optional<std::int64_t> TextDecoder::kvCacheEmbedDim() const {
    return inputDimension(features::kKeyCache, 1);
}
std::optional<std::int64_t> TextDecoder::kvCacheMaxSequenceLength() const {
    return inputDimension(features::kKeyCache, 3);
}
std::optional<std::int64_t> TextDecoder::windowSize() const {
    return inputDimension(features::kEncoderOutputEmbeds, 3);
}
std::optional<std::int64_t> TextDecoder::embedSize() const {
    return inputDimension(features::kEncoderOutputEmbeds, 1);
}

void TextDecoder::unloadModel() {
    WhisperMLModel::unloadModel();
    std::lock_guard lock(mutex_);
    prefillData_.reset();
    languageLogitsFilter_.reset();
}

std::optional<TextDecoderMLMultiArrayOutputType>
TextDecoder::predictLogits(const TextDecoderMLMultiArrayInputType& input, const std::stop_token& stop) {
    const auto current = model();
    if (!current)
        return TextDecoderMLMultiArrayOutputType{};
    velnote::platform::throwIfCancelled(stop);
    auto outputs = current->predict(input.featureMap());
    const auto take = [&](const char* name) -> std::optional<MultiArray> {
        const auto found = outputs.find(name);
        return found == outputs.end() ? std::nullopt : std::optional(found->second);
    };
    return TextDecoderMLMultiArrayOutputType{
        .logits = take(features::kLogits),
        .cache = DecodingCache{.keyCache = take(features::kKeyCacheUpdates),
                               .valueCache = take(features::kValueCacheUpdates),
                               .alignmentWeights = take(features::kAlignmentHeadsWeights)},
    };
}

std::vector<std::shared_ptr<LogitsFiltering>>
TextDecoder::createLogitsFilters(const DecodingOptions& options, std::int64_t prefilledIndex,
                                 std::int64_t initialPromptIndex, const WhisperTokenizer& tokenizer) const {
    auto filters = logitsFilters().value_or(std::vector<std::shared_ptr<LogitsFiltering>>{});
    const SpecialTokens& special = tokenizer.specialTokens();
    if (options.suppressBlank)
        filters.push_back(std::make_shared<SuppressBlankFilter>(special, prefilledIndex));
    if (!options.supressTokens.empty()) {
        std::vector<std::int64_t> suppressed;
        std::copy_if(options.supressTokens.begin(), options.supressTokens.end(),
                     std::back_inserter(suppressed), [&](auto id) { return id < special.specialTokenBegin; });
        filters.push_back(std::make_shared<SuppressTokensFilter>(std::move(suppressed)));
    }
    if (!options.withoutTimestamps) {
        std::optional<std::int64_t> maxInitialTimestampIndex;
        if (options.maxInitialTimestamp) {
            // Truncated toward zero; a value whose index does not fit leaves the first timestamp free.
            const float steps = *options.maxInitialTimestamp / 0.02f;
            if (std::isfinite(steps) && std::fabs(steps) < 1e9f)
                maxInitialTimestampIndex = static_cast<std::int64_t>(steps);
        }
        filters.push_back(std::make_shared<TimestampRulesFilter>(
            special, initialPromptIndex, maxInitialTimestampIndex, isModelMultilingual()));
    }
    return filters;
}

DecodingResult TextDecoder::decodeText(const MultiArray& encoderOutput, DecodingInputs& inputs,
                                       TokenSampling& sampler, const DecodingOptions& options,
                                       const ProgressCallback& callback, const std::stop_token& stop) {
    const auto tokenizer = this->tokenizer();
    if (!tokenizer)
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    Run run(*this, *tokenizer, encoderOutput, inputs, sampler, options, callback, stop);
    return run.decode();
}

std::shared_ptr<const LanguageLogitsFilter> TextDecoder::languageFilter(const WhisperTokenizer& tokenizer) {
    std::lock_guard lock(mutex_);
    if (!languageLogitsFilter_) {
        const auto size = basalith::ModelUtilities::getModelOutputDimension(
            model() ? &model()->description() : nullptr, features::kLogits, 2);
        languageLogitsFilter_ =
            std::make_shared<LanguageLogitsFilter>(tokenizer.allLanguageTokens(), size.value_or(0), 0);
    }
    return languageLogitsFilter_;
}

DecodingResult TextDecoder::detectLanguage(const MultiArray& encoderOutput, DecodingInputs& inputs,
                                           TokenSampling& sampler, const DecodingOptions&, Float16,
                                           const std::stop_token& stop) {
    const auto tokenizer = this->tokenizer();
    if (!tokenizer)
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    if (!logitsSize())
        throw WhisperError::modelsUnavailable("Failed to read logits size from model");
    const SpecialTokens& special = tokenizer->specialTokens();
    const std::vector<std::int64_t> tokens = {special.startOfTranscriptToken};
    const std::vector<float> logProbs = {0.0f};
    const auto filter = languageFilter(*tokenizer);

    inputs.inputIds.dataAs<std::int32_t>()[0] = static_cast<std::int32_t>(special.startOfTranscriptToken);
    inputs.cacheLength.dataAs<std::int32_t>()[0] = 0;
    const auto predictionStart = clock_->now();
    Logging::debug("Detecting language...");
    const auto output =
        predictLogits({inputs.inputIds, inputs.cacheLength, inputs.keyCache, inputs.valueCache,
                       inputs.kvCacheUpdateMask, encoderOutput, inputs.decoderKeyPaddingMask},
                      stop);
    if (!output || !output->logits) {
        Logging::error("Unable to decode logits");
        throw WhisperError::decodingLogitsFailed("Unable to decode logits from the model output");
    }
    const double predictionTime = seconds(clock_->now() - predictionStart);
    MultiArray logits = *output->logits;
    filter->filterLogits(logits, tokens);
    const auto samplingStart = clock_->now();
    const SamplingResult sampled = sampler.update(tokens, logits, logProbs);
    const double samplingTime = seconds(clock_->now() - samplingStart);

    DecodingResult result;
    for (std::size_t i = 0; i < sampled.tokens.size(); ++i) {
        if (tokenizer->allLanguageTokens().contains(sampled.tokens[i]))
            result.languageProbs[trimmingSpecialTokenCharacters(tokenizer->decode({sampled.tokens[i]}))] =
                sampled.logProbs[i];
    }
    result.language = trimmingSpecialTokenCharacters(tokenizer->decode({sampled.tokens.back()}));
    if (Constants::languageCodes().contains(result.language)) {
        Logging::debug("Detected language:", result.language);
    } else {
        Logging::error(Logging::Separator{""}, "Detected language ", result.language,
                       " is not supported, defaulting to ", Constants::defaultLanguageCode);
        result.language = std::string(Constants::defaultLanguageCode);
    }
    TranscriptionTimings timings;
    timings.decodingPredictions = predictionTime;
    timings.decodingSampling = samplingTime;
    result.timings = timings;
    return result;
}

void TextDecoder::debugCaches(const DecodingInputs& inputs, std::int64_t prefillSize) const {
    if (Logging::shared().logLevel() != Logging::LogLevel::debug)
        return;
    const auto keys = inputs.keyCache.toFloatArray();
    const auto values = inputs.valueCache.toFloatArray();
    const auto alignment = inputs.alignmentWeights.toFloatArray();
    const auto update = inputs.kvCacheUpdateMask.toFloatArray();
    const auto padding = inputs.decoderKeyPaddingMask.toFloatArray();
    const auto at = [](const std::vector<float>& list, std::int64_t i) {
        return i >= 0 && static_cast<std::size_t>(i) < list.size() ? list[static_cast<std::size_t>(i)] : 0.0f;
    };
    Logging::debug("--------------- DECODER INPUTS DEBUG ---------------");
    Logging::debug(cFormat("Cache Length: %2.0f Input Token: %4.0f",
                           static_cast<double>(inputs.cacheLength.toFloatArray()[0]),
                           static_cast<double>(inputs.inputIds.toFloatArray()[0])));
    Logging::debug("Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
    const std::int64_t frames = inputs.alignmentWeights.shape().back();
    for (std::int64_t i = 0; i < std::min<std::int64_t>(prefillSize + 4, Constants::maxTokenContext); ++i) {
        Logging::debug(cFormat(
            "%9.6f | %9.6f | %9.6f | %11.0f | %12.0f | %d", static_cast<double>(at(keys, i)),
            static_cast<double>(at(values, i)), static_cast<double>(at(alignment, i * frames)),
            static_cast<double>(at(update, i)), static_cast<double>(at(padding, i)), static_cast<int>(i)));
    }
}

} // namespace vocalith
