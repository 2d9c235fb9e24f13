#include "engine/diarization/DiarithError.h"
#include "engine/diarization/pipeline/PyannoteDiarizer.h"
#include "engine/foundation/Logging.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>

namespace diarith {
namespace {

using basalith::Logging;

// Writes the closing timing line however post-processing ends.
class PostProcessingTimer {
  public:
    ~PostProcessingTimer() {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
        char text[96];
        std::snprintf(text, sizeof text, "[Diarith] Post processing time: %.2f ms", ms);
        Logging::debug(std::string(text));
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace

// The global speaker × frame matrix: every clustered window placed on one frame grid from sample
// 0, overlapping windows averaged, the estimated number of simultaneous speakers switched on at
// each frame (one with exclusive reconciliation).
DiarizationResult PyannoteDiarizerActor::postProcess(const std::vector<SpeakerEmbedding>& speakerEmbeddings,
                                                     std::int64_t originalLength,
                                                     bool useExclusiveReconciliation) const {
    const PostProcessingTimer timer;
    const SpeakerSegmenterModel& segmenter = *config_.segmenterModel;
    const float reportedFrameRate = segmenter.modelSampleRate();
    if (speakerEmbeddings.empty())
        return DiarizationResult({}, reportedFrameRate);
    const float windowsLength = segmenter.windowsLength();
    if (!(windowsLength > 0.0f))
        throw DiarithError::invalidModelOutput("Invalid model geometry: windowsLength " +
                                               Logging::toLogText(windowsLength) + " gives no frame grid");

    std::int64_t speakerCount = 0;
    for (const auto& e : speakerEmbeddings)
        speakerCount = std::max(speakerCount, e.clusterId + 1);
    const auto framesPerWindow = static_cast<std::int64_t>(speakerEmbeddings.front().activeFrames.size());
    const std::int64_t maxChunks = segmenter.maxChunks(originalLength);
    const std::int64_t frameCount =
        framesPerWindow * static_cast<std::int64_t>(30.0f / windowsLength) * maxChunks;
    const float gridFrameRate = static_cast<float>(framesPerWindow) / windowsLength;
    Logging::debug("[PyannoteDiarizer] Speakers: " + std::to_string(speakerCount) + ", maxChunks: " +
                   std::to_string(maxChunks) + ", framesPerWindow " + std::to_string(framesPerWindow));

    const auto frames = static_cast<std::size_t>(std::max<std::int64_t>(frameCount, 0));
    std::vector<std::vector<float>> aggregated(static_cast<std::size_t>(speakerCount),
                                               std::vector<float>(frames, 0.0f));
    std::vector<float> coverage(frames, 0.0f);
    std::set<std::int64_t> seenStarts;
    for (const auto& e : speakerEmbeddings) {
        const auto start = static_cast<std::int64_t>(gridFrameRate * static_cast<float>(e.windowIndex));
        if (e.clusterId < 0 || e.clusterId >= speakerCount) {
            Logging::error("[PyannoteDiarizer] Invalid clusterId: " + std::to_string(e.clusterId) +
                           ", speakerCount: " + std::to_string(speakerCount));
            continue;
        }
        const bool seen = seenStarts.contains(start);
        for (std::size_t k = 0; k < e.activeFrames.size(); ++k) {
            const std::int64_t g = start + static_cast<std::int64_t>(k);
            if (g < 0 || g >= frameCount) {
                Logging::error("Frame counter index out of range: " + std::to_string(g) + " not in [0, " +
                               std::to_string(frameCount) + "), startOffset: " + std::to_string(start) +
                               ", index: " + std::to_string(k) +
                               ", windowIndex: " + std::to_string(e.windowIndex));
                continue;
            }
            const auto frame = static_cast<std::size_t>(g);
            if (e.activeFrames[k] != 0.0f)
                aggregated[static_cast<std::size_t>(e.clusterId)][frame] += 1.0f;
            if (!seen)
                coverage[frame] += 1.0f;
        }
        seenStarts.insert(start);
    }

    DiarizationResult::BinaryMatrix binary(static_cast<std::size_t>(speakerCount),
                                           std::vector<std::int64_t>(frames, 0));
    std::vector<std::pair<std::size_t, float>> candidates;
    for (std::size_t g = 0; g < frames; ++g) {
        std::int64_t active = 0;
        if (coverage[g] > 0.0f) {
            float sum = 0.0f;
            for (auto& row : aggregated) {
                row[g] /= coverage[g];
                sum += row[g];
            }
            active = static_cast<std::int64_t>(std::round(sum));
        }
        if (useExclusiveReconciliation && active >= 2)
            active = 1;
        candidates.clear();
        for (std::size_t s = 0; s < aggregated.size(); ++s)
            candidates.emplace_back(s, aggregated[s][g]);
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        const auto on = static_cast<std::size_t>(std::min<std::int64_t>(active, speakerCount));
        for (std::size_t i = 0; i < on; ++i)
            binary[candidates[i].first][g] = 1;
    }
    return DiarizationResult(std::move(binary), reportedFrameRate);
}

} // namespace diarith
