#include "engine/speech/audio/AudioChunker.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/transcription/TranscriptionUtilities.h"
#include "platform/error/ErrorText.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace vocalith {

using basalith::Logging;

std::vector<TranscriptionResultPtr>
AudioChunking::updateSeekOffsetsForResults(const std::vector<TranscriptionOutcome>& chunkedResults,
                                           const std::vector<AudioChunk>& audioChunks) {
    std::vector<TranscriptionResultPtr> answer;
    for (std::size_t i = 0; i < chunkedResults.size(); ++i) {
        if (const auto* error = std::get_if<std::exception_ptr>(&chunkedResults[i])) {
            Logging::error(Logging::Separator{""}, "Error transcribing chunk ", i, ": ",
                           velnote::platform::describeError(*error));
            continue;
        }
        if (i >= audioChunks.size())
            break; // an outcome without its chunk has no place on the time line
        const float seekTime = static_cast<float>(audioChunks[i].seekOffsetIndex) / 16000.0f;
        for (const auto& result : std::get<std::vector<TranscriptionResultPtr>>(chunkedResults[i])) {
            if (!result)
                continue;
            std::vector<TranscriptionSegment> segments;
            for (const auto& segment : result->segments())
                segments.push_back(updateSegmentTimings(segment, seekTime));
            result->setSegments(std::move(segments));
            result->setSeekTime(seekTime);
            answer.push_back(result);
        }
    }
    return answer;
}

VADAudioChunker::VADAudioChunker(std::int64_t windowPadding, std::shared_ptr<VoiceActivityDetector> vad)
    : windowPadding_(windowPadding), vad_(vad ? std::move(vad) : std::make_shared<EnergyVAD>()) {}

std::int64_t VADAudioChunker::cutPoint(const std::vector<float>& audioArray, std::int64_t start,
                                       std::int64_t clipEnd, std::int64_t maxChunkLength) const {
    if (maxChunkLength >= clipEnd - start)
        return clipEnd;
    const std::int64_t windowEnd = start + maxChunkLength;
    const std::int64_t middle = start + (windowEnd - start) / 2;
    const std::vector<float> secondHalf(audioArray.begin() + middle, audioArray.begin() + windowEnd);
    const auto silence = vad_->findLongestSilence(vad_->voiceActivity(secondHalf));
    if (!silence)
        return windowEnd;
    const std::int64_t middleFrame = silence->startIndex + (silence->endIndex - silence->startIndex) / 2;
    return middle + middleFrame * vad_->frameLengthSamples();
}

std::vector<AudioChunk> VADAudioChunker::chunkAll(const std::vector<float>& audioArray,
                                                  std::int64_t maxChunkLength,
                                                  const std::optional<DecodingOptions>& decodeOptions) {
    const auto count = static_cast<std::int64_t>(audioArray.size());
    if (count <= maxChunkLength)
        return {AudioChunk{0, audioArray}};
    if (maxChunkLength <= 0)
        throw WhisperError::audioProcessingFailed("maxChunkLength must be above 0");
    const DecodingOptions options = decodeOptions.value_or(DecodingOptions());
    std::vector<AudioChunk> chunks;
    for (auto [clipStart, clipEnd] : options.prepareSeekClips(count)) {
        clipStart = std::max<std::int64_t>(clipStart, 0);
        if (clipStart >= clipEnd)
            continue;
        for (std::int64_t start = clipStart;;) {
            if (start >= count)
                throw WhisperError::audioProcessingFailed("startIndex is outside the buffer size");
            const std::int64_t end = std::min(clipEnd, count);
            const std::int64_t cut = cutPoint(audioArray, start, end, maxChunkLength);
            if (cut <= start)
                break;
            Logging::debug(Logging::Separator{""}, "Found chunk from ",
                           cFormat("%.2f", static_cast<double>(start) / 16000.0), " to ",
                           cFormat("%.2f", static_cast<double>(cut) / 16000.0));
            chunks.push_back(
                {start, std::vector<float>(audioArray.begin() + start, audioArray.begin() + cut)});
            start = cut;
            // The stretch after the last cut is transcribed too, however short.
            if (cut >= end)
                break;
        }
    }
    return chunks;
}

bool takesChunkedPath(std::int64_t sampleCount, std::int64_t windowSamples,
                      const std::optional<DecodingOptions>& decodeOptions) {
    return sampleCount > windowSamples && decodeOptions &&
           decodeOptions->chunkingStrategy == ChunkingStrategy::vad;
}

} // namespace vocalith
