#include "speech/local/LocalSpeechPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "session/VelnoteLogger.h"

namespace velnote {

LocalSpeechPipeline::LocalSpeechPipeline(
    std::shared_ptr<TranscriptionServiceProtocol> transcriptionService,
    std::shared_ptr<SpeakerDiarizationServiceProtocol> diarizationService)
    : transcriptionService_(std::move(transcriptionService)),
      diarizationService_(std::move(diarizationService)) {}

std::vector<SpeechSegment> LocalSpeechPipeline::process(const AudioSourceTrack& track,
                                                        const SpeechProcessingConfig& config,
                                                        const TextSanitizer& textSanitizer,
                                                        std::stop_token stop) {
    std::unique_lock lock(mutex_);
    diarizationFailure_.reset();
    lock.unlock();
    const auto output =
        transcriptionService_->loadWhisperOutput(track, config.model, config.language, textSanitizer, stop);
    if (config.diarizationEnabled)
        return performDiarization(output, track, config, stop);
    return mapWithoutDiarization(output);
}

std::optional<std::string> LocalSpeechPipeline::diarizationFailure() const {
    std::lock_guard lock(mutex_);
    return diarizationFailure_;
}

std::vector<SpeechSegment> LocalSpeechPipeline::mapWithoutDiarization(const TrackWhisperOutput& output) {
    std::vector<SpeechSegment> segments;
    for (const auto& result : output.results) {
        for (const auto& segment : result->segments()) {
            SpeechSegment mapped{.text = segment.text,
                                 .start = static_cast<double>(segment.start),
                                 .end = static_cast<double>(segment.end)};
            if (segment.words) {
                mapped.words.emplace();
                for (const auto& word : *segment.words)
                    mapped.words->push_back(
                        {word.word, static_cast<double>(word.start), static_cast<double>(word.end)});
            }
            segments.push_back(std::move(mapped));
        }
    }
    return segments;
}

std::vector<TranscriptEntry>
LocalSpeechPipeline::fallbackEntries(const std::vector<vocalith::TranscriptionResultPtr>& results,
                                     const AudioSourceTrack& track) {
    std::vector<TranscriptEntry> entries;
    for (const auto& result : results) {
        for (const auto& segment : result->segments())
            entries.push_back({segment.start, segment.text, "[" + track.source + "] " + segment.text});
    }
    return entries;
}

SpeechSegment LocalSpeechPipeline::segmentFromEntry(const TranscriptEntry& entry) {
    SpeechSegment segment{.text = entry.text,
                          .start = static_cast<double>(entry.startTime),
                          .end = static_cast<double>(entry.startTime)};
    const auto close = entry.line.find(']');
    if (entry.line.starts_with("[") && close != std::string::npos)
        segment.speaker = entry.line.substr(1, close - 1);
    return segment;
}

std::vector<SpeechSegment> LocalSpeechPipeline::performDiarization(const TrackWhisperOutput& output,
                                                                   const AudioSourceTrack& track,
                                                                   const SpeechProcessingConfig& config,
                                                                   std::stop_token stop) {
    const DiarizationRequest request{.source = track.source,
                                     .chunkPaths = track.chunkPaths,
                                     .numberOfSpeakers = config.numberOfSpeakers,
                                     .labelsIncludeSource = true};
    const auto fallback = [&] {
        VelnoteLogger::transcribe().error("Diarization failed, falling back to simple entry mapping");
        return fallbackEntries(output.results, track);
    };
    std::vector<TranscriptEntry> entries;
    try {
        entries = diarizationService_->diarizedEntries(output.results, request, fallback, stop);
    } catch (const platform::CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        // The transcription succeeded; losing it to a missing model or a failed diarization
        // would leave the session without a transcript.
        platform::throwIfCancelled(stop);
        VelnoteLogger::transcribe().error("diarization error: {}", error.what());
        {
            std::lock_guard lock(mutex_);
            diarizationFailure_ = error.what();
        }
        entries = fallback();
    }
    std::vector<SpeechSegment> segments;
    segments.reserve(entries.size());
    for (const auto& entry : entries)
        segments.push_back(segmentFromEntry(entry));
    return segments;
}

} // namespace velnote
