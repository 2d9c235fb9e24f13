#include "engine/speech/transcription/TranscribeTask.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/Constants.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/decoding/TokenSampling.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/SystemClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

namespace vocalith {

using basalith::Float16;
using basalith::Logging;
using velnote::platform::throwIfCancelled;

namespace {

constexpr std::int64_t kSampleRate = 16000;

// Seconds × 16000 as whole samples, truncated; 0 for NaN, saturated at the integer range.
std::int64_t samplesOf(double seconds) {
    const double samples = seconds * static_cast<double>(kSampleRate);
    if (std::isnan(samples))
        return 0;
    if (samples >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max() / 2;
    if (samples <= -9.2e18)
        return std::numeric_limits<std::int64_t>::min() / 2;
    return static_cast<std::int64_t>(samples);
}

bool heardText(const DecodingResult& result, std::int64_t specialTokenBegin) {
    return std::any_of(result.tokens.begin(), result.tokens.end(),
                       [&](std::int64_t token) { return token < specialTokenBegin; });
}

// A pass kept while the decoder runs again: its alignment weights would otherwise share the buffer
// the next pass writes.
DecodingResult keptCopy(const DecodingResult& result) {
    DecodingResult kept = result;
    if (kept.cache && kept.cache->alignmentWeights)
        kept.cache->alignmentWeights = kept.cache->alignmentWeights->contiguousCopy();
    return kept;
}

double secondsOf(std::int64_t samples) {
    return static_cast<double>(samples) / static_cast<double>(kSampleRate);
}

// The temperature of attempt `index`, each product and sum rounded to half precision.
Float16 temperatureOf(std::int64_t index, const DecodingOptions& options) {
    const auto product = static_cast<Float16>(
        static_cast<float>(static_cast<Float16>(index)) *
        static_cast<float>(static_cast<Float16>(options.temperatureIncrementOnFallback)));
    return static_cast<Float16>(static_cast<float>(product) +
                                static_cast<float>(static_cast<Float16>(options.temperature)));
}

std::string trimmedSpacesAndTabs(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string promptText(const std::vector<std::int64_t>& prompt, const WhisperTokenizer& tokenizer) {
    std::string text = "[";
    for (std::size_t i = 0; i < prompt.size(); ++i)
        text += (i == 0 ? "\"" : ", \"") + tokenizer.convertIdToToken(prompt[i]).value_or("") + "\"";
    return text + "]";
}

std::string clipsText(const std::vector<std::pair<std::int64_t, std::int64_t>>& clips) {
    std::ostringstream text;
    text << "[";
    for (std::size_t i = 0; i < clips.size(); ++i)
        text << (i == 0 ? "" : ", ") << "(" << clips[i].first << ", " << clips[i].second << ")";
    text << "]";
    return text.str();
}

// The clips as sample ranges inside the audio: an end before its start, or a range outside the
// samples, would make a window read past the array.
std::vector<std::pair<std::int64_t, std::int64_t>> clipsInside(const DecodingOptions& options,
                                                               std::int64_t sampleCount) {
    auto clips = options.prepareSeekClips(sampleCount);
    for (auto& [start, end] : clips) {
        start = std::clamp<std::int64_t>(start, 0, sampleCount);
        end = std::clamp<std::int64_t>(end, start, sampleCount);
    }
    return clips;
}

void foldDecoderTimings(TranscriptionTimings& timings, const TranscriptionTimings& pass) {
    timings.firstTokenTime = std::min(timings.firstTokenTime, pass.firstTokenTime);
    timings.decodingNonPrediction += pass.decodingNonPrediction;
    timings.decodingPredictions += pass.decodingPredictions;
    timings.decodingFiltering += pass.decodingFiltering;
    timings.decodingSampling += pass.decodingSampling;
    timings.decodingKvCaching += pass.decodingKvCaching;
    timings.totalDecodingLoops += pass.totalDecodingLoops;
    timings.totalKVUpdateRuns += pass.totalKVUpdateRuns;
}

void logWords(const std::vector<TranscriptionSegment>& segments) {
    Logging::info("Word timestamps:");
    for (const auto& segment : segments) {
        for (const auto& word : segment.words.value_or(std::vector<WordTiming>{}))
            Logging::info(cFormat("[%.3g -> %.3g] prob: ", word.start, word.end) +
                          Logging::toLogText(word.probability) + ", word: " + word.word);
    }
}

void logSegments(const std::vector<TranscriptionSegment>& segments) {
    Logging::info("Segments for window:");
    for (const auto& segment : segments)
        Logging::info(cFormat("[%.2f --> %.2f] ", segment.start, segment.end) + segment.text);
}

} // namespace

// The state of one run: it starts afresh every time.
class TranscribeTask::Run {
  public:
    DecodingOptions options;
    std::int64_t maxTokenContext = Constants::maxTokenContext;
    std::shared_ptr<DecodingInputs> inputs;
    std::int64_t prefilledCacheSize = 0;
    std::optional<std::string> detectedLanguage;
    std::stop_token stop;

    void resetInputs() const { inputs->reset(prefilledCacheSize, maxTokenContext); }

    void prefill(TextDecoding& decoder, const DecodingOptions& with) {
        DecodingInputs& prefilled = decoder.prefillDecoderInputs(*inputs, with, stop);
        if (&prefilled != inputs.get())
            *inputs = prefilled;
    }
};

TranscribeTask::TranscribeTask(
    TranscriptionTimings currentTimings, std::shared_ptr<velnote::platform::Progress> progress,
    std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
    std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<const WhisperTokenizer> tokenizer,
    const velnote::platform::Clock* clock)
    : timings_(currentTimings),
      progress_(progress ? std::move(progress) : velnote::platform::Progress::make()),
      audioEncoder_(std::move(audioEncoder)), featureExtractor_(std::move(featureExtractor)),
      segmentSeeker_(std::move(segmentSeeker)), textDecoder_(std::move(textDecoder)),
      audioProcessor_(audioProcessor ? std::move(audioProcessor) : std::make_shared<AudioProcessor>()),
      tokenizer_(std::move(tokenizer)),
      clock_(clock != nullptr ? clock : &velnote::platform::SystemClock::shared()) {
    if (!audioEncoder_ || !featureExtractor_ || !segmentSeeker_ || !textDecoder_)
        throw WhisperError::modelsUnavailable();
    if (!tokenizer_)
        throw WhisperError::tokenizerUnavailable();
}

TranscribeTask::~TranscribeTask() = default;

double TranscribeTask::seconds() const {
    return std::chrono::duration<double>(clock_->now().time_since_epoch()).count();
}

double TranscribeTask::wallSeconds() const {
    return std::chrono::duration<double>(clock_->wallNow().time_since_epoch()).count();
}

TranscriptionResultPtr TranscribeTask::run(const std::vector<float>& audioArray,
                                           const std::optional<DecodingOptions>& decodeOptions,
                                           const ProgressCallback& callback, const std::stop_token& stop) {
    timings_.pipelineStart = std::min(timings_.pipelineStart, wallSeconds());
    Logging::debug("Starting pipeline at:", dateText(clock_->wallNow()));

    Run run;
    run.stop = stop;
    run.options = decodeOptions.value_or(DecodingOptions{});
    run.options.verbose = Logging::shared().logLevel() != Logging::LogLevel::none;
    if (decodeOptions)
        run.maxTokenContext = decodeOptions->sampleLength;
    const double clipStart =
        decodeOptions && !decodeOptions->clipTimestamps.empty() ? decodeOptions->clipTimestamps.front() : 0.0;
    const auto sampleCount = static_cast<std::int64_t>(audioArray.size());
    timings_.inputAudioSeconds = secondsOf(sampleCount) - clipStart;

    const SpecialTokens& special = tokenizer_->specialTokens();
    const double initStart = seconds();
    run.inputs = textDecoder_->prepareDecoderInputs({special.startOfTranscriptToken});
    const double initEnd = seconds();
    timings_.decodingInit = initEnd - initStart;
    Logging::debug("Decoder init time:", timings_.decodingInit);
    if (run.options.usePrefillPrompt)
        run.prefill(*textDecoder_, run.options);
    const auto cacheLength = run.inputs->cacheLength.toIntArray();
    run.prefilledCacheSize = cacheLength.empty() ? 0 : cacheLength.front();
    timings_.prefill = seconds() - initEnd;
    Logging::debug("Prefill time:", timings_.prefill);
    Logging::debug("Prefill prompt:", promptText(run.inputs->initialPrompt, *tokenizer_));

    const auto clips = clipsInside(run.options, sampleCount);
    Logging::debug("Decoding seek clips:", clipsText(clips));
    std::int64_t totalUnits = 0;
    for (const auto& [start, end] : clips)
        totalUnits += end - start;
    progress_->setTotalUnitCount(totalUnits);
    const double loopStart = seconds();

    std::vector<std::int64_t> allTokens;
    std::vector<TranscriptionSegment> allSegments;
    for (const auto& [clipStartSample, clipEnd] : clips) {
        const std::int64_t baseCount = progress_->completedUnitCount();
        const std::int64_t padding = std::max<std::int64_t>(0, samplesOf(run.options.windowClipTime));
        std::int64_t windowLength =
            featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);
        if (windowLength <= 0)
            windowLength = Constants::defaultWindowSamples;

        std::int64_t seek = clipStartSample;
        while (seek < clipEnd - padding) {
            const std::int64_t segmentSize = std::min({clipEnd - seek, sampleCount - seek, windowLength});
            Logging::debug(
                cFormat("Decoding Seek: %lld (%.2fs)", static_cast<long long>(seek), secondsOf(seek)));
            Logging::debug(cFormat("Decoding Window Size: %lld (%.2fs)", static_cast<long long>(segmentSize),
                                   secondsOf(seek + segmentSize) - secondsOf(seek)));

            const double audioStart = seconds();
            const std::vector<float> window(audioArray.begin() + seek,
                                            audioArray.begin() + seek + segmentSize);
            const auto padded = audioProcessor_->padOrTrim(window, 0, windowLength);
            if (!padded)
                throw WhisperError::transcriptionFailed("Audio samples are nil");
            windowPreprocess(*padded, seek, segmentSize);
            timings_.audioProcessing += seconds() - audioStart;
            timings_.totalAudioProcessingRuns += 1;
            throwIfCancelled(stop);

            const double melStart = seconds();
            const auto mel = featureExtractor_->logMelSpectrogram(*padded, stop);
            if (!mel)
                throw WhisperError::transcriptionFailed("Mel output is nil");
            timings_.logmels += seconds() - melStart;
            timings_.totalLogmelRuns += 1;
            throwIfCancelled(stop);

            const double encodeStart = seconds();
            const auto encoded = audioEncoder_->encodeFeatures(*mel, stop);
            if (!encoded)
                throw WhisperError::transcriptionFailed("Encoder output is nil");
            timings_.encoding += seconds() - encodeStart;
            timings_.totalEncodingRuns += 1;
            throwIfCancelled(stop);

            Logging::info(cFormat("Decoding %.2fs - %.2fs", secondsOf(seek), secondsOf(seek + segmentSize)));
            const ProgressCallback wrapper = progressWrapper(callback);
            const DecodingResult result = decodeWithFallback(*encoded, run, wrapper);

            const double windowingStart = seconds();
            auto [proposedSeek, segments] = segmentSeeker_->findSeekPointAndSegments(
                result, run.options, static_cast<std::int64_t>(allSegments.size()), seek, segmentSize,
                kSampleRate, special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
            std::int64_t newSeek = std::max(seek, proposedSeek);

            // A window the seeker judged silent stays silent: nothing to time.
            if (segments && run.options.wordTimestamps && result.cache && result.cache->alignmentWeights) {
                const double wordStart = seconds();
                segments = segmentSeeker_->addWordTimestamps(
                    std::move(*segments), *result.cache->alignmentWeights, *tokenizer_, seek, segmentSize,
                    Constants::defaultPrependPunctuations, Constants::defaultAppendPunctuations,
                    static_cast<float>(secondsOf(seek)), run.options, timings_);
                timings_.decodingWordTimestamps += seconds() - wordStart;
                timings_.totalTimestampAlignmentRuns += 1;
                if (segments) {
                    std::erase_if(*segments,
                                  [](const TranscriptionSegment& s) { return !(s.start < s.end); });
                    if (!segments->empty())
                        newSeek = std::max(newSeek, samplesOf(segments->back().end));
                    if (run.options.verbose)
                        logWords(*segments);
                }
            }
            if (run.options.maxWindowSeek)
                newSeek = std::min(newSeek, seek + *run.options.maxWindowSeek);
            // A window whose time tokens are all at zero (or a cap of zero) would be decoded again
            // and again with the same outcome: such a window counts as fully heard.
            if (newSeek <= seek)
                newSeek = seek + segmentSize;

            if (segments) {
                std::vector<TranscriptionSegment> kept =
                    windowPostProcess(seek, segmentSize, std::move(*segments));
                if (run.options.verbose)
                    logSegments(kept);
                if (segmentDiscoveryCallback_)
                    segmentDiscoveryCallback_(kept);
                for (auto& segment : kept) {
                    allTokens.insert(allTokens.end(), segment.tokens.begin(), segment.tokens.end());
                    allSegments.push_back(std::move(segment));
                }
                timings_.decodingWindowing += seconds() - windowingStart;
                timings_.totalDecodingWindows += 1;
                progress_->setCompletedUnitCount(baseCount + (std::min(clipEnd, newSeek) - clipStartSample));
            }
            // Also after a silent window: the next window must start from the prefilled cache, not
            // after this window's tokens.
            run.resetInputs();
            seek = newSeek;
        }
    }

    progress_->setCompletedUnitCount(progress_->totalUnitCount());
    timings_.decodingLoop = seconds() - loopStart;
    timings_.fullPipeline = wallSeconds() - timings_.pipelineStart;
    return finalizeTranscriptionResult(allTokens, std::move(allSegments), run.detectedLanguage, timings_);
}

DecodingResult TranscribeTask::decodeWithFallback(const AudioEncoderOutputType& encoderOutput, Run& run,
                                                  const ProgressCallback& callback) {
    const DecodingOptions& options = run.options;
    const SpecialTokens& special = tokenizer_->specialTokens();
    // A negative count means no fallback: one attempt.
    const std::int64_t fallbackCount = std::max(0, options.temperatureFallbackCount);
    if (Logging::shared().logLevel() == Logging::LogLevel::debug) {
        std::string list;
        for (std::int64_t i = 0; i <= fallbackCount; ++i)
            list += (i == 0 ? "" : ", ") + Logging::toLogText(static_cast<float>(temperatureOf(i, options)));
        Logging::debug("Decoding with temperatures [" + list + "]");
    }

    std::optional<DecodingResult> windowResult;
    std::optional<DecodingResult> bestHeard; // of the passes decoded again, the likeliest with text
    for (std::int64_t i = 0; i <= fallbackCount; ++i) {
        const Float16 temperature = temperatureOf(i, options);
        Logging::info("Decoding Temperature:", static_cast<float>(temperature));
        const double attemptStart = seconds();
        GreedyTokenSampler sampler(temperature, special.endToken, options);
        DecodingOptions attemptOptions = options;

        if (textDecoder_->isModelMultilingual() && !options.language && options.detectLanguage) {
            std::optional<DecodingResult> detection;
            try {
                detection = textDecoder_->detectLanguage(encoderOutput, *run.inputs, sampler, options,
                                                         temperature, run.stop);
            } catch (const velnote::platform::CancellationError&) {
                throw;
            } catch (const std::exception& error) {
                Logging::debug("Language detection failed:", error.what());
            }
            const bool found = detection && !detection->language.empty();
            attemptOptions.language = found ? std::optional(detection->language) : std::nullopt;
            run.detectedLanguage = attemptOptions.language;
            if (options.usePrefillPrompt) {
                run.prefill(*textDecoder_, attemptOptions);
                Logging::debug("Prefill prompt updated to:",
                               promptText(run.inputs->initialPrompt, *tokenizer_));
            }
            if (detection && detection->timings) {
                timings_.decodingPredictions += detection->timings->decodingPredictions;
                timings_.decodingSampling += detection->timings->decodingSampling;
            }
        }

        DecodingResult result =
            textDecoder_->decodeText(encoderOutput, *run.inputs, sampler, attemptOptions, callback, run.stop);
        if (!run.detectedLanguage && !result.language.empty())
            run.detectedLanguage = result.language;
        if (result.timings)
            foldDecoderTimings(timings_, *result.timings);

        const bool needsFallback = result.fallback && result.fallback->needsFallback;
        if (needsFallback) {
            timings_.decodingFallback += seconds() - attemptStart;
            // Counts the passes decoded again at a higher temperature, over every window and run.
            if (i < fallbackCount)
                timings_.totalDecodingFallbacks += 1;
            run.resetInputs();
            Logging::info("Fallback #" + std::to_string(i + 1) + " (" + result.fallback->fallbackReason +
                          ")");
            if (i < fallbackCount && heardText(result, special.specialTokenBegin) &&
                (!bestHeard || result.avgLogProb > bestHeard->avgLogProb))
                bestHeard = keptCopy(result);
        }
        windowResult = std::move(result);
        if (!needsFallback)
            break;
    }
    if (!windowResult)
        throw WhisperError::decodingFailed("Decoding failed");
    // A last pass that still asks for a fallback and heard nothing (a random draw at the highest
    // temperature can end the text at once) would drop the whole window's speech that the earlier
    // passes heard, when speech that repeats itself failed the compression check on each of them.
    if (bestHeard && windowResult->fallback && windowResult->fallback->needsFallback &&
        !heardText(*windowResult, special.specialTokenBegin)) {
        Logging::info("Keeping the pass at temperature", bestHeard->temperature,
                      "as the last pass heard nothing");
        return std::move(*bestHeard);
    }
    return std::move(*windowResult);
}

ProgressCallback TranscribeTask::progressWrapper(const ProgressCallback& callback) const {
    return [alive = std::weak_ptr(liveness_), callback,
            windowId = static_cast<std::int64_t>(timings_.totalDecodingWindows)](
               const TranscriptionProgress& progress) -> std::optional<bool> {
        if (alive.expired() || !callback)
            return std::nullopt;
        TranscriptionProgress numbered = progress;
        numbered.windowId = windowId;
        return callback(numbered);
    };
}

void TranscribeTask::windowPreprocess(const AudioProcessorOutputType& /*audio*/, std::int64_t /*seek*/,
                                      std::int64_t /*segmentSize*/) {}

std::vector<TranscriptionSegment>
TranscribeTask::windowPostProcess(std::int64_t /*seek*/, std::int64_t /*segmentSize*/,
                                  std::vector<TranscriptionSegment> originalSegments) {
    return originalSegments;
}

TranscriptionResultPtr TranscribeTask::finalizeTranscriptionResult(const std::vector<std::int64_t>& tokens,
                                                                   std::vector<TranscriptionSegment> segments,
                                                                   const std::optional<std::string>& language,
                                                                   const TranscriptionTimings& timings) {
    std::vector<std::int64_t> textTokens;
    for (const auto token : tokens) {
        if (token < tokenizer_->specialTokens().specialTokenBegin)
            textTokens.push_back(token);
    }
    return std::make_shared<TranscriptionResult>(trimmedSpacesAndTabs(tokenizer_->decode(textTokens)),
                                                 std::move(segments), language.value_or("en"), timings);
}

} // namespace vocalith
