#include "processing/transcription/SessionTranscriptionPipeline.h"

#include "capture/mixer/AudioChunkNames.h"
#include "platform/error/DomainError.h"
#include "platform/fs/Files.h"
#include "platform/text/CaseMapping.h"
#include "processing/transcription/InputLanguage.h"
#include "processing/transcription/NativeTranscriptionError.h"
#include "processing/transcription/TranscriptTextSanitizer.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;
namespace {

const platform::Logger& transcribeLog() {
    return VelnoteLogger::transcribe();
}

// The folder's direct entries, hidden ones included; empty (logged) when it cannot be listed.
std::optional<std::vector<fs::path>> listFolder(const fs::path& folder) {
    std::error_code error;
    auto files = platform::listDirectory(folder, platform::HiddenEntries::include, error);
    if (error) {
        VelnoteLogger::processing().error("SessionTranscriptionPipeline: failed to list audio dir {}: {}",
                                          folder.filename().string(), error.message());
        return std::nullopt;
    }
    return files;
}

std::vector<fs::path> listAudioFiles(const fs::path& folder) {
    return listFolder(folder).value_or(std::vector<fs::path>{});
}

// A "mix_temp_" file is what an interrupted mix left behind: never audio to
// transcribe. Removes them and returns the other files.
std::vector<fs::path> withoutLeftoverTemporaryMixes(const std::vector<fs::path>& files) {
    std::vector<fs::path> kept;
    for (const auto& file : files) {
        if (!file.filename().string().starts_with(AudioChunkNames::mixTemporaryPrefix)) {
            kept.push_back(file);
            continue;
        }
        std::error_code error;
        fs::remove(file, error);
        if (error)
            transcribeLog().error("failed to remove leftover mix temp file path={} error={}", file.string(),
                                  error.message());
        else
            transcribeLog().info("removed leftover mix temp file path={}", file.string());
    }
    return kept;
}

std::set<std::int64_t> chunkNumbers(const std::vector<fs::path>& chunks, std::string_view prefix) {
    std::set<std::int64_t> numbers;
    for (const auto& [number, path] : AudioChunkMixer::chunkMap(chunks, prefix))
        numbers.insert(number);
    return numbers;
}

// A mixed set already on disk that can stand in for the separate chunks: the
// largest set (the one for the current gains on a tie), provided it covers
// every numbered chunk still there. Used when the separate chunks cannot be
// mixed again because one side is gone, e.g. after a run that cleaned them up.
std::optional<std::vector<fs::path>> existingMixedSet(const std::vector<fs::path>& files,
                                                      const std::vector<fs::path>& mic,
                                                      const std::vector<fs::path>& sys,
                                                      const std::string& currentPrefix) {
    std::map<std::string, std::map<std::int64_t, fs::path>> sets;
    for (const auto& file : files) {
        if (const auto name = AudioChunkMixer::parseMixedChunkName(file))
            sets[name->prefix][name->number] = file;
    }
    if (sets.empty())
        return std::nullopt;
    auto best = sets.begin();
    for (auto it = sets.begin(); it != sets.end(); ++it) {
        const bool larger = it->second.size() > best->second.size();
        const bool preferred = it->second.size() == best->second.size() && it->first == currentPrefix;
        if (larger || preferred)
            best = it;
    }
    auto needed = chunkNumbers(mic, AudioChunkNames::micPrefix);
    needed.merge(chunkNumbers(sys, AudioChunkNames::sysPrefix));
    for (const auto number : needed) {
        if (!best->second.count(number))
            return std::nullopt;
    }
    std::vector<fs::path> chunks;
    for (const auto& [number, path] : best->second)
        chunks.push_back(path);
    return chunks;
}

std::vector<AudioSourceTrack> separateTracks(const std::vector<fs::path>& mic,
                                             const std::vector<fs::path>& sys) {
    std::vector<AudioSourceTrack> tracks;
    if (!mic.empty())
        tracks.push_back({"mic", mic});
    if (!sys.empty())
        tracks.push_back({"sys", sys});
    return tracks;
}

double effectiveGain(double gain) {
    return gain > 0 ? gain : 1.0;
}

std::string timeText(float startTime) {
    const double seconds = std::floor(static_cast<double>(startTime));
    // NaN, infinite, negative and values beyond 64 bits print as 00:00:00.
    const long long s =
        std::isfinite(seconds) && seconds > 0 && seconds < 9.2e18 ? static_cast<long long>(seconds) : 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
    return buffer;
}

} // namespace

SessionTranscriptionPipeline::SessionTranscriptionPipeline(Backends backends, KeychainHelper keychain,
                                                           platform::SettingsStore& settings)
    : backends_(std::move(backends)), keychain_(std::move(keychain)), settings_(settings) {}

SessionTranscriptionPipeline& SessionTranscriptionPipeline::shared() {
    static SessionTranscriptionPipeline pipeline{Backends{}};
    return pipeline;
}

void SessionTranscriptionPipeline::install(Backends backends) {
    shared().setBackends(std::move(backends));
}

void SessionTranscriptionPipeline::setBackends(Backends backends) {
    std::lock_guard lock(backendsMutex_);
    backends_ = std::move(backends);
}

std::optional<std::string>
SessionTranscriptionPipeline::resolvedInputLanguage(const std::optional<std::string>& value) {
    return InputLanguage::resolved(value);
}

platform::Task<SessionTranscriptionOutput>
SessionTranscriptionPipeline::runPipeline(const fs::path& sessionDir, const TranscriptionRequest& request,
                                          const SessionConfig& config) {
    return platform::startTask(executor_, [this, sessionDir, request, config](std::stop_token stop) {
        return run(sessionDir, request, config, stop);
    });
}

SessionTranscriptionOutput SessionTranscriptionPipeline::run(const fs::path& sessionDir,
                                                             const TranscriptionRequest& request,
                                                             const SessionConfig& config,
                                                             std::stop_token stop) {
    const PipelineServices services = buildPipeline(config);
    transcribeLog().info("pipeline request model={} language={} diarization={}", request.model,
                         request.language.value_or("nil"), request.diarizationEnabled ? "true" : "false");

    const auto tracks = gatherSourceTracks(sessionDir, request);
    TrackResults results = processTracks(tracks, request, tracks.size() >= 2, services, stop);
    const auto fallbackTracks = retryMixedTrackFallback(results, tracks, request, services, stop);
    sortTranscriptEntries(results.entries);
    if (results.entries.empty()) {
        transcribeLog().error("transcript entries are empty after retry: {}", sessionDir.string());
        throw NativeTranscriptionError(NativeTranscriptionError::Kind::emptyTranscript);
    }

    auto output = writer_.write(sessionDir, results.entries, results.rawTexts);
    output.diarizationFailure = results.diarizationFailure;
    transcribeLog().info("transcript write complete entries={} path={}", results.entries.size(),
                         output.transcriptPath.string());

    auto allTracks = tracks;
    allTracks.insert(allTracks.end(), fallbackTracks.begin(), fallbackTracks.end());
    cleanupSeparatedChunksIfMixedTrackUsed(sessionDir, allTracks);
    return output;
}

SessionTranscriptionPipeline::PipelineServices
SessionTranscriptionPipeline::buildPipeline(const SessionConfig& config) const {
    const auto& transcription = config.transcription;
    const Backends backends = [this] {
        std::lock_guard lock(backendsMutex_);
        return backends_;
    }();
    if (transcription.provider == TranscriptionProvider::openAI) {
        // Not trimmed: a key of blanks is the user's business and passes.
        const std::string apiKey = keychain_.load(KeychainHelper::openAIAPIKey);
        if (apiKey.empty())
            throw platform::DomainError("SessionTranscriptionPipeline", 401,
                                        "OpenAI API Key is missing. Please set it in preferences.");
        if (!backends.remote)
            throw std::logic_error("no remote speech back-end is installed");
        return {backends.remote(transcription.providerBaseURL.value_or(""), apiKey)};
    }
    if (!backends.local)
        throw std::logic_error("no on-device speech back-end is installed");
    return {backends.local()};
}

std::vector<AudioSourceTrack>
SessionTranscriptionPipeline::gatherSourceTracks(const fs::path& sessionDir,
                                                 const TranscriptionRequest& request) const {
    auto tracks = sessionTracks(sessionDir, request.micInputGain, request.sysInputGain);
    transcribeLog().info("tracks detected count={}", tracks.size());
    if (tracks.empty()) {
        transcribeLog().error("no audio chunks found in session: {}", sessionDir.string());
        throw NativeTranscriptionError(NativeTranscriptionError::Kind::noAudioChunks);
    }
    return tracks;
}

std::vector<AudioSourceTrack> SessionTranscriptionPipeline::sessionTracks(const fs::path& sessionDir,
                                                                          double micGain,
                                                                          double sysGain) const {
    const auto files = withoutLeftoverTemporaryMixes(listAudioFiles(sessionDir / "audio"));
    const auto mic = AudioChunkNames::chunkFiles(files, AudioChunkNames::micPrefix);
    const auto sys = AudioChunkNames::chunkFiles(files, AudioChunkNames::sysPrefix);
    const double g1 = effectiveGain(micGain);
    const double g2 = effectiveGain(sysGain);

    if (!mic.empty() && !sys.empty()) {
        // The mixer reuses the valid chunks of an earlier run with these gains and
        // makes the missing ones, so a track from it is always a complete set.
        try {
            auto mixed = chunkMixer_.buildMixedChunks(sessionDir, mic, sys, g1, g2);
            if (!mixed.empty()) {
                transcribeLog().info("mixed chunks created count={} mic={} sys={}", mixed.size(), mic.size(),
                                     sys.size());
                return {{"mix", std::move(mixed)}};
            }
        } catch (const std::exception& error) {
            transcribeLog().error("failed to build mixed chunks, fallback to separate tracks: {}",
                                  error.what());
        }
    } else if (auto mixed = existingMixedSet(files, mic, sys, AudioChunkMixer::mixedChunkPrefix(g1, g2))) {
        transcribeLog().info("existing mixed chunks detected count={}; skip mix rebuild", mixed->size());
        return {{"mix", std::move(*mixed)}};
    }
    return separateTracks(mic, sys);
}

SessionTranscriptionPipeline::TrackResults
SessionTranscriptionPipeline::processTracks(const std::vector<AudioSourceTrack>& tracks,
                                            const TranscriptionRequest& request, bool includeSourceLabel,
                                            const PipelineServices& services, std::stop_token stop) const {
    TrackResults results;
    for (const auto& track : tracks) {
        transcribeLog().info("track processing source={} chunks={}", track.source, track.chunkPaths.size());
        // Read per track, so each track sees the filter phrases as stored at its start.
        const TextSanitizer sanitizer = TranscriptTextSanitizer::createTextSanitizer(settings_);
        const SpeechProcessingConfig config{request.model, request.language, request.diarizationEnabled,
                                            request.numberOfSpeakers};
        const auto segments = services.pipeline->process(track, config, sanitizer, stop);
        if (request.diarizationEnabled && !results.diarizationFailure)
            results.diarizationFailure = services.pipeline->diarizationFailure();
        const std::string label = includeSourceLabel ? platform::uppercased(track.source) + " " : "";
        std::size_t count = 0;
        for (const auto& segment : segments) {
            results.entries.push_back(makeEntry(segment, label));
            results.rawTexts.push_back(segment.text);
            ++count;
        }
        transcribeLog().info("track finished source={} entries={}", track.source, count);
    }
    return results;
}

std::vector<AudioSourceTrack> SessionTranscriptionPipeline::retryMixedTrackFallback(
    TrackResults& results, const std::vector<AudioSourceTrack>& sourceTracks,
    const TranscriptionRequest& request, const PipelineServices& services, std::stop_token stop) const {
    if (!results.entries.empty() || sourceTracks.size() != 1 || sourceTracks.front().source != "mix")
        return {};
    transcribeLog().notice("mixed track produced empty transcript; retry with separate mic/sys tracks");
    const auto files = listAudioFiles(request.sessionDir / "audio");
    const auto fallback = separateTracks(AudioChunkNames::chunkFiles(files, AudioChunkNames::micPrefix),
                                         AudioChunkNames::chunkFiles(files, AudioChunkNames::sysPrefix));
    auto more = processTracks(fallback, request, fallback.size() >= 2, services, stop);
    results.entries.insert(results.entries.end(), more.entries.begin(), more.entries.end());
    results.rawTexts.insert(results.rawTexts.end(), more.rawTexts.begin(), more.rawTexts.end());
    // The mixed track gave no line, so only the separate tracks' diarization shows in the transcript.
    results.diarizationFailure = std::move(more.diarizationFailure);
    return fallback;
}

void SessionTranscriptionPipeline::sortTranscriptEntries(std::vector<TranscriptEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const TranscriptEntry& a, const TranscriptEntry& b) {
        if (a.startTime != b.startTime)
            return a.startTime < b.startTime;
        return a.line < b.line;
    });
}

void SessionTranscriptionPipeline::cleanupSeparatedChunksIfMixedTrackUsed(
    const fs::path& sessionDir, const std::vector<AudioSourceTrack>& allTracks) const {
    const auto has = [&](std::string_view source) {
        return std::any_of(allTracks.begin(), allTracks.end(),
                           [&](const auto& t) { return t.source == source; });
    };
    if (!has("mix") || has("mic") || has("sys"))
        return;
    // Only chunks whose audio the mixed track holds may go.
    std::set<std::int64_t> mixedNumbers;
    for (const auto& track : allTracks) {
        for (const auto& chunk : track.chunkPaths) {
            if (const auto name = AudioChunkMixer::parseMixedChunkName(chunk))
                mixedNumbers.insert(name->number);
        }
    }
    const auto files = listFolder(sessionDir / "audio");
    if (!files)
        return;
    for (const auto& file : *files) {
        const std::string name = file.filename().string();
        const std::string_view prefix =
            name.starts_with(AudioChunkNames::micPrefix)   ? AudioChunkNames::micPrefix
            : name.starts_with(AudioChunkNames::sysPrefix) ? AudioChunkNames::sysPrefix
                                                           : "";
        if (prefix.empty() || !AudioChunkNames::isWav(file))
            continue;
        const auto number = AudioChunkNames::chunkNumber(file, prefix);
        if (!number || !mixedNumbers.count(*number)) {
            transcribeLog().info("kept source chunk not covered by the mixed track path={}", file.string());
            continue;
        }
        std::error_code error;
        fs::remove(file, error);
        if (error)
            transcribeLog().error("failed to remove source chunk after mix creation path={} error={}",
                                  file.string(), error.message());
        else
            transcribeLog().info("removed source chunk after mix creation path={}", file.string());
    }
}

TranscriptEntry SessionTranscriptionPipeline::makeEntry(const SpeechSegment& segment,
                                                        std::string_view sourceLabel) {
    TranscriptEntry entry;
    // A NaN start would break the ordering of the sort; it counts as 0 like its time text.
    entry.startTime = std::isnan(segment.start) ? 0.0f : static_cast<float>(segment.start);
    entry.text = segment.text;
    if (segment.speaker)
        entry.line = "[" + *segment.speaker + "] " + segment.text;
    else
        entry.line = "[" + std::string(sourceLabel) + timeText(entry.startTime) + "] " + segment.text;
    return entry;
}

} // namespace velnote
