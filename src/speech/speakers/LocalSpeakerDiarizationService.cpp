#include "speech/speakers/LocalSpeakerDiarizationService.h"

#include "engine/diarization/config/DiarizationOptions.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/text/CaseMapping.h"
#include "speech/chunks/ChunkOffset.h"

#include <cmath>
#include <cstdio>

namespace velnote {
namespace {

constexpr std::size_t kSamplesPerChunk = 160000; // ten seconds at 16 kHz
constexpr float kSampleRate = 16000.0f;

std::vector<TranscriptEntry> labelledEntries(const std::vector<vocalith::TranscriptionResultPtr>& results,
                                             const diarith::DiarizationResult& diarization,
                                             const DiarizationRequest& request) {
    const std::string prefix = request.labelsIncludeSource ? platform::uppercased(request.source) + " " : "";
    std::vector<TranscriptEntry> entries;
    for (const auto& result : results) {
        for (const auto& segment : result->segments()) {
            if (segment.text.empty())
                continue;
            const std::string label =
                prefix + LocalSpeakerDiarizationService::bestSpeakerLabel(segment, diarization.segments());
            entries.push_back({segment.start, segment.text,
                               "[" + label + " " + LocalSpeakerDiarizationService::timeStamp(segment.start) +
                                   "] " + segment.text});
        }
    }
    return entries;
}

} // namespace

LocalSpeakerDiarizationService::LocalSpeakerDiarizationService()
    : LocalSpeakerDiarizationService(Settings{}) {}

LocalSpeakerDiarizationService::LocalSpeakerDiarizationService(Settings settings)
    : settings_(std::move(settings)) {}

std::shared_ptr<LocalSpeakerDiarizationService> LocalSpeakerDiarizationService::shared() {
    static const auto service = std::make_shared<LocalSpeakerDiarizationService>();
    return service;
}

diarith::PyannoteConfig LocalSpeakerDiarizationService::engineConfig(const Settings& settings) {
    return diarith::PyannoteConfig(
        settings.downloadBase, diarith::kDefaultModelRepo, std::nullopt, std::nullopt,
        /*download=*/true, /*useBackgroundDownloadSession=*/true, settings.modelEndpoint, "main",
        /*load=*/true, /*verbose=*/false, basalith::Logging::LogLevel::info,
        /*fullRedundancy=*/true, /*concurrentSegmenterWorkers=*/4, std::nullopt, nullptr);
}

std::vector<TranscriptEntry> LocalSpeakerDiarizationService::diarizedEntries(
    const std::vector<vocalith::TranscriptionResultPtr>& results, const DiarizationRequest& request,
    const TranscriptEntriesFallback& fallback, std::stop_token stop) {
    if (request.chunkPaths.empty())
        return fallback();
    const auto audio = joinedAudio(request.chunkPaths, stop);
    if (audio.empty())
        return fallback();
    const auto engine = getDiarith();
    platform::throwIfCancelled(stop);
    const diarith::PyannoteDiarizationOptions options(request.numberOfSpeakers, std::nullopt, std::nullopt,
                                                      std::nullopt, true, {});
    const auto diarization = engine->diarize(audio, &options);
    platform::throwIfCancelled(stop);
    auto entries = labelledEntries(results, diarization, request);
    if (entries.empty())
        return fallback();
    return entries;
}

std::vector<float>
LocalSpeakerDiarizationService::joinedAudio(const std::vector<std::filesystem::path>& chunkPaths,
                                            std::stop_token stop) {
    std::vector<float> audio;
    audio.reserve(kSamplesPerChunk * chunkPaths.size());
    for (std::size_t i = 0; i < chunkPaths.size(); ++i) {
        platform::throwIfCancelled(stop);
        // A start of at most twelve hours keeps the product well inside 64 bits.
        const auto offset = static_cast<std::int64_t>(chunkStartOffset(chunkPaths[i], i) * kSampleRate);
        if (offset > 0 && audio.size() < static_cast<std::size_t>(offset))
            audio.resize(static_cast<std::size_t>(offset), 0.0f);
        const auto samples = vocalith::AudioProcessor::loadAudioAsFloatArray(chunkPaths[i].string());
        audio.insert(audio.end(), samples.begin(), samples.end());
    }
    return audio;
}

std::shared_ptr<diarith::Diarith> LocalSpeakerDiarizationService::getDiarith() {
    {
        std::lock_guard lock(mutex_);
        if (diarith_)
            return diarith_;
    }
    auto engine = std::make_shared<diarith::Diarith>(engineConfig(settings_));
    std::lock_guard lock(mutex_);
    diarith_ = engine;
    return engine;
}

std::string
LocalSpeakerDiarizationService::bestSpeakerLabel(const vocalith::TranscriptionSegment& segment,
                                                 const std::vector<diarith::SpeakerSegment>& turns) {
    float best = 0;
    bool chosen = false;
    std::optional<std::int64_t> speaker;
    for (const auto& turn : turns) {
        const float overlap =
            std::min(turn.endTime(), segment.end) - std::max(turn.startTime(), segment.start);
        if (overlap > best) {
            best = overlap;
            chosen = true;
            speaker = turn.speaker().speakerId();
        }
    }
    if (!chosen || !speaker)
        return "SPEAKER_??";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "SPEAKER_%02lld", static_cast<long long>(*speaker));
    return buffer;
}

std::string LocalSpeakerDiarizationService::timeStamp(float seconds) {
    const double whole = std::floor(static_cast<double>(seconds));
    const long long s =
        std::isfinite(whole) && whole > 0 && whole < 9.2e18 ? static_cast<long long>(whole) : 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
    return buffer;
}

} // namespace velnote
