// The engine's transcription entry points: files, sample arrays, batches, and the main entry that
// cuts long audio at silences and transcribes the pieces concurrently.

#include "engine/speech/TextFormat.h"
#include "engine/speech/Vocalith.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioChunker.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/audio/VoiceActivityDetector.h"
#include "engine/speech/transcription/TranscribeTask.h"
#include "platform/concurrency/CancellationError.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace vocalith {

using basalith::Logging;

namespace {

TranscriptionOutcome failure(const std::string& message) {
    return std::make_exception_ptr(WhisperError::transcriptionFailed(message));
}

// Each input's worker count is its options' own, absent options counting as 0. Below 0 means one
// input at a time: a batch size the split cannot use would lose every input.
std::size_t batchSize(const std::vector<std::optional<DecodingOptions>>& options, std::size_t inputCount) {
    if (options.empty())
        return 1;
    int largest = std::numeric_limits<int>::min();
    for (const auto& entry : options)
        largest = std::max(largest, entry ? entry->concurrentWorkerCount : 0);
    if (largest == 0)
        return std::max<std::size_t>(inputCount, 1);
    return largest < 0 ? 1 : static_cast<std::size_t>(largest);
}

} // namespace

// --- Main entry ---

std::vector<TranscriptionResultPtr> Vocalith::transcribe(const std::vector<float>& audioArray,
                                                         const std::optional<DecodingOptions>& decodeOptions,
                                                         const ProgressCallback& callback,
                                                         const SegmentDiscoveryCallback& segmentCallback,
                                                         const std::stop_token& stop) {
    const std::int64_t window = windowSamples();
    std::vector<TranscriptionResultPtr> results;
    if (takesChunkedPath(static_cast<std::int64_t>(audioArray.size()), window, decodeOptions)) {
        results = transcribeInChunks(audioArray, window, *decodeOptions, callback, stop);
    } else {
        results = runTranscribeTask(audioArray, decodeOptions, callback,
                                    segmentCallback ? segmentCallback : segmentDiscoveryCallback(), stop);
    }
    if (decodeOptions && decodeOptions->verbose)
        Logging::info("Total Transcription Results:", static_cast<std::int64_t>(results.size()));
    for (std::size_t i = 0; i < results.size(); ++i) {
        Logging::debug("[Result " + std::to_string(i) + "]");
        results[i]->logSegments();
    }
    return results;
}

std::vector<TranscriptionResultPtr> Vocalith::transcribeInChunks(const std::vector<float>& audioArray,
                                                                 std::int64_t windowSamples,
                                                                 const DecodingOptions& decodeOptions,
                                                                 const ProgressCallback& callback,
                                                                 const std::stop_token& stop) {
    // A detector made here serves this call only.
    auto detector = voiceActivityDetector();
    if (!detector)
        detector = std::make_shared<EnergyVAD>(16000, 1600, 0, 0.02f);
    VADAudioChunker chunker(16000, std::move(detector));
    const auto chunks = chunker.chunkAll(audioArray, windowSamples, decodeOptions);
    Logging::debug("Found", static_cast<std::int64_t>(chunks.size()), "VAD chunks");
    if (const auto current = progress())
        current->setTotalUnitCount(
            std::max(current->totalUnitCount(), static_cast<std::int64_t>(chunks.size())));

    DecodingOptions chunkOptions = decodeOptions;
    chunkOptions.clipTimestamps.clear();
    std::vector<std::vector<float>> audioArrays;
    std::vector<std::int64_t> seekOffsets;
    for (const auto& chunk : chunks) {
        audioArrays.push_back(chunk.audioSamples);
        seekOffsets.push_back(chunk.seekOffsetIndex);
    }
    const auto outcomes = transcribeWithOptions(
        audioArrays, std::vector<std::optional<DecodingOptions>>(chunks.size(), chunkOptions), seekOffsets,
        callback, stop);
    // A cancelled call must not pass for a shorter transcript.
    velnote::platform::throwIfCancelled(stop);
    // Nothing transcribed is a failure, not an empty transcript: the caller hears why.
    const bool allFailed =
        !outcomes.empty() &&
        std::all_of(outcomes.begin(), outcomes.end(), [](const TranscriptionOutcome& outcome) {
            return std::holds_alternative<std::exception_ptr>(outcome);
        });
    if (allFailed)
        std::rethrow_exception(std::get<std::exception_ptr>(outcomes.front()));
    return AudioChunking::updateSeekOffsetsForResults(outcomes, chunks);
}

// --- Batches ---

std::vector<TranscriptionOutcome>
Vocalith::transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
                                const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
                                const std::optional<std::vector<std::int64_t>>& seekOffsets,
                                const ProgressCallback& callback, const std::stop_token& stop) {
    if (audioArrays.size() != decodeOptionsArray.size())
        return {failure("The number of audio arrays and decoding options must be balanced.")};
    if (seekOffsets && seekOffsets->size() != audioArrays.size())
        return {failure("The number of audio arrays and seek offset indexes must be balanced.")};

    const std::size_t size = batchSize(decodeOptionsArray, audioArrays.size());
    std::vector<TranscriptionOutcome> outcomes(audioArrays.size());
    for (std::size_t start = 0; start < audioArrays.size(); start += size) {
        const std::size_t end = std::min(audioArrays.size(), start + size);
        // Each input writes only its own slot, so the outcomes stand in input order whatever order
        // the threads finish in.
        std::vector<std::jthread> batch;
        for (std::size_t index = start; index < end; ++index) {
            batch.emplace_back([&, index] {
                outcomes[index] = transcribeOne(index, audioArrays[index], decodeOptionsArray[index],
                                                seekOffsets, callback, stop);
            });
        }
    }
    return outcomes;
}

TranscriptionOutcome Vocalith::transcribeOne(std::size_t index, const std::vector<float>& audioArray,
                                             const std::optional<DecodingOptions>& options,
                                             const std::optional<std::vector<std::int64_t>>& seekOffsets,
                                             const ProgressCallback& callback, const std::stop_token& stop) {
    ProgressCallback progress = [callback,
                                 index](const TranscriptionProgress& report) -> std::optional<bool> {
        if (!callback)
            return std::nullopt;
        TranscriptionProgress renumbered = report;
        renumbered.windowId = static_cast<std::int64_t>(index);
        return callback(renumbered);
    };
    SegmentDiscoveryCallback receiver = segmentDiscoveryCallback();
    if (seekOffsets) {
        const std::int64_t offset = (*seekOffsets)[index];
        // The engine's callback is read when the segments come, so a callback set meanwhile gets them.
        receiver = [this, offset](const std::vector<TranscriptionSegment>& segments) {
            const auto discovered = segmentDiscoveryCallback();
            if (!discovered)
                return;
            std::vector<TranscriptionSegment> moved = segments;
            for (auto& segment : moved)
                segment.seek += offset;
            discovered(moved);
        };
    }
    try {
        return transcribe(audioArray, options, progress, receiver, stop);
    } catch (...) {
        return std::current_exception();
    }
}

std::vector<TranscriptionOutcome>
Vocalith::transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
                                const std::optional<DecodingOptions>& decodeOptions,
                                const ProgressCallback& callback, const std::stop_token& stop) {
    return transcribeWithOptions(
        audioArrays, std::vector<std::optional<DecodingOptions>>(audioArrays.size(), decodeOptions),
        std::nullopt, callback, stop);
}

OptionalResultLists Vocalith::transcribe(const std::vector<std::vector<float>>& audioArrays,
                                         const std::optional<DecodingOptions>& decodeOptions,
                                         const ProgressCallback& callback, const std::stop_token& stop) {
    return toOptionalArrays(transcribeWithResults(audioArrays, decodeOptions, callback, stop));
}

TranscriptionResultPtr Vocalith::transcribeFirst(const std::vector<float>& audioArray,
                                                 const std::optional<DecodingOptions>& decodeOptions,
                                                 const ProgressCallback& callback,
                                                 const std::stop_token& stop) {
    const auto results = transcribe(audioArray, decodeOptions, callback, SegmentDiscoveryCallback{}, stop);
    return results.empty() ? nullptr : results.front();
}

// --- One task ---

std::shared_ptr<TranscribeTask> Vocalith::setupTranscribeTask(
    const TranscriptionTimings& currentTimings, std::shared_ptr<velnote::platform::Progress> progress,
    std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
    std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<const WhisperTokenizer> tokenizer) {
    const velnote::platform::Clock* clock = clock_.get();
    return std::make_shared<TranscribeTask>(currentTimings, std::move(progress), std::move(audioProcessor),
                                            std::move(audioEncoder), std::move(featureExtractor),
                                            std::move(segmentSeeker), std::move(textDecoder),
                                            std::move(tokenizer), clock);
}

std::vector<TranscriptionResultPtr>
Vocalith::runTranscribeTask(const std::vector<float>& audioArray,
                            const std::optional<DecodingOptions>& decodeOptions,
                            const ProgressCallback& callback, const SegmentDiscoveryCallback& segmentCallback,
                            const std::stop_token& stop) {
    loadModelsIfNeeded();
    const auto words = tokenizer();
    if (!words)
        throw WhisperError::tokenizerUnavailable();
    if (stop.stop_requested()) {
        resetProgress();
        throw velnote::platform::CancellationError();
    }
    const auto parent = progress();
    auto child = velnote::platform::Progress::make();
    parent->setTotalUnitCount(std::max<std::int64_t>(parent->totalUnitCount(), 1));
    parent->addChild(child, 1);

    const auto task = setupTranscribeTask(currentTimings(), child, audioProcessor(), audioEncoder(),
                                          featureExtractor(), segmentSeeker(), textDecoder(), words);
    task->setSegmentDiscoveryCallback(segmentCallback);
    TranscriptionResultPtr result;
    try {
        result = task->run(audioArray, decodeOptions, callback, stop);
    } catch (const velnote::platform::CancellationError&) {
        resetProgress();
        throw;
    }
    if (decodeOptions && decodeOptions->verbose)
        result->logTimings();
    if (parent->isFinished()) {
        // Only the object this run hung its child under: another run may have replaced it already.
        auto fresh = velnote::platform::Progress::make();
        progress_.modify([&](auto& current) {
            if (current == parent)
                current = std::move(fresh);
        });
    }
    return {result};
}

// --- Files ---

std::vector<float> Vocalith::loadAudioFile(const std::string& audioPath) {
    const double start = now();
    std::vector<float> samples;
    std::exception_ptr failed;
    try {
        samples = AudioProcessor::loadAudioAsFloatArray(audioPath, audioInputConfig().channelMode, 0.0,
                                                        std::nullopt);
    } catch (...) {
        failed = std::current_exception();
    }
    const double elapsed = now() - start;
    modifyTimings([&](TranscriptionTimings& timings) { timings.audioLoading = elapsed; });
    Logging::debug("Audio loading and convert time:", elapsed);
    Logging::logCurrentMemoryUsage("Audio Loading and Convert");
    if (failed)
        std::rethrow_exception(failed);
    return samples;
}

std::vector<TranscriptionResultPtr> Vocalith::transcribe(const std::string& audioPath,
                                                         const std::optional<DecodingOptions>& decodeOptions,
                                                         const ProgressCallback& callback,
                                                         const std::stop_token& stop) {
    reportState(TranscriptionState::convertingAudio);
    const auto samples = loadAudioFile(audioPath);
    reportState(TranscriptionState::transcribing);
    try {
        auto results = transcribe(samples, decodeOptions, callback, SegmentDiscoveryCallback{}, stop);
        reportState(TranscriptionState::finished);
        return results;
    } catch (...) {
        reportState(TranscriptionState::finished);
        throw;
    }
}

TranscriptionResultPtr Vocalith::transcribeFirst(const std::string& audioPath,
                                                 const std::optional<DecodingOptions>& decodeOptions,
                                                 const ProgressCallback& callback,
                                                 const std::stop_token& stop) {
    const auto results = transcribe(audioPath, decodeOptions, callback, stop);
    return results.empty() ? nullptr : results.front();
}

std::vector<TranscriptionOutcome>
Vocalith::transcribeWithResults(const std::vector<std::string>& audioPaths,
                                const std::optional<DecodingOptions>& decodeOptions,
                                const ProgressCallback& callback, const std::stop_token& stop) {
    reportState(TranscriptionState::convertingAudio);
    const double start = now();
    const auto loads = AudioProcessor::loadAudio(audioPaths, audioInputConfig().channelMode);
    std::vector<std::vector<float>> loaded;
    for (const auto& load : loads) {
        if (const auto* samples = std::get_if<std::vector<float>>(&load))
            loaded.push_back(*samples);
    }
    const double elapsed = now() - start;
    modifyTimings([&](TranscriptionTimings& timings) { timings.audioLoading = elapsed; });
    Logging::debug("Total Audio Loading and Converting Time:", elapsed);
    reportState(TranscriptionState::transcribing);
    const auto transcribed = transcribeWithResults(loaded, decodeOptions, callback, stop);
    // Each path in order: its load error, or the next transcription outcome.
    std::vector<TranscriptionOutcome> answer;
    std::size_t next = 0;
    for (const auto& load : loads) {
        if (const auto* error = std::get_if<std::exception_ptr>(&load))
            answer.emplace_back(*error);
        else if (next < transcribed.size())
            answer.push_back(transcribed[next++]);
    }
    reportState(TranscriptionState::finished);
    return answer;
}

OptionalResultLists Vocalith::transcribe(const std::vector<std::string>& audioPaths,
                                         const std::optional<DecodingOptions>& decodeOptions,
                                         const ProgressCallback& callback, const std::stop_token& stop) {
    return toOptionalArrays(transcribeWithResults(audioPaths, decodeOptions, callback, stop));
}

void Vocalith::reportState(TranscriptionState state) const {
    if (const auto callback = transcriptionStateCallback())
        callback(state);
}

} // namespace vocalith
